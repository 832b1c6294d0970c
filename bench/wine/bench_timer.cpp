// Times, with QueryPerformanceCounter, what the sweep's wall time is made
// of on the machine at hand (run under Wine):
//
//   bench_timer.exe sleep N     mean ms of one Sleep(1): the sweep's floor
//   bench_timer.exe pump N      mean ms of PeekMessageA, then Sleep(1) when
//                               nothing waits: the sweep's pause per folder
//   bench_timer.exe walk DIR    ms and folders of a bare walk of DIR: the
//                               listing and the attribute query per folder
//                               through the same Windows calls, no pause
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

int TimePauses(int calls, bool pump) {
  if (calls < 1)
    return 2;
  MSG msg;
  PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE);  // the queue now exists
  Sleep(1);                                   // settle on the timer's tick
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < calls; ++i) {
    if (pump && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
      continue;
    Sleep(1);
  }
  QueryPerformanceCounter(&end);
  std::printf("%.6f\n", Milliseconds(start, end) / calls);
  return 0;
}

void Walk(char* path, size_t length, long* folders) {
  if (length + 1 > MAX_PATH - 1)
    return;
  path[length] = '*';
  path[length + 1] = '\0';
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(path, &entry);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0)
      continue;
    ++*folders;
    size_t nameLength = std::strlen(entry.cFileName);
    if (length + nameLength + 1 >= MAX_PATH)
      continue;
    std::memcpy(path + length, entry.cFileName, nameLength + 1);
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      path[length + nameLength] = '\\';
      Walk(path, length + nameLength + 1, folders);
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

int TimeWalk(const char* folder) {
  char path[MAX_PATH];
  size_t length = std::strlen(folder);
  if (length + 2 > MAX_PATH - 1)
    return 2;
  std::memcpy(path, folder, length);
  if (length == 0 || path[length - 1] != '\\')
    path[length++] = '\\';
  long folders = 0;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  Walk(path, length, &folders);
  QueryPerformanceCounter(&end);
  std::printf("%.6f %ld\n", Milliseconds(start, end), folders);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "sleep") == 0)
    return TimePauses(std::atoi(argv[2]), false);
  if (argc == 3 && std::strcmp(argv[1], "pump") == 0)
    return TimePauses(std::atoi(argv[2]), true);
  if (argc == 3 && std::strcmp(argv[1], "walk") == 0)
    return TimeWalk(argv[2]);
  std::fprintf(stderr, "usage: bench_timer.exe sleep N | pump N | walk DIR\n");
  return 2;
}
