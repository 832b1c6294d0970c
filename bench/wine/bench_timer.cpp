// Times, with QueryPerformanceCounter, what the sweep's wall time is made
// of on the machine at hand (run under Wine):
//
//   bench_timer.exe sleep N     mean ms of one Sleep(1): the sweep's floor
//   bench_timer.exe pump N      mean ms of PeekMessageA, then Sleep(1) when
//                               nothing waits: the sweep's pause per folder
//   bench_timer.exe walk DIR    ms and folders of a bare walk of DIR: the
//                               listing and the attribute query per folder
//                               through the same Windows calls, no pause
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bare_walk.h"

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

int TimeWalk(const char* folder) {
  char path[MAX_PATH];
  size_t length = std::strlen(folder);
  if (length + 2 > MAX_PATH - 1)
    return 2;
  std::memcpy(path, folder, length);
  if (length == 0 || path[length - 1] != '\\')
    path[length++] = '\\';
  int64_t folders = 0;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  BareWalk(path, length, &folders);
  QueryPerformanceCounter(&end);
  std::printf("%.6f %lld\n", Milliseconds(start, end), static_cast<long long>(folders));
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
