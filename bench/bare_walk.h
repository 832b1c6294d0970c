// The floor the sweep is measured against: a walk of the same tree through
// the same Windows operations that only lists. Every folder is searched,
// every subfolder's attributes are asked by path, and nothing else is done.
// Shared by the host benchmarks and the timer that runs under Wine.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/windows_api.h"

// `path` is a MAX_PATH buffer holding the folder path, ending in a
// backslash, in its first `length` bytes. Counts the subfolders met.
inline void BareWalk(char* path, size_t length, int64_t* considered) {
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
    ++*considered;
    size_t nameLength = std::strlen(entry.cFileName);
    if (length + nameLength + 1 >= MAX_PATH)
      continue;
    std::memcpy(path + length, entry.cFileName, nameLength + 1);
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      path[length + nameLength] = '\\';
      BareWalk(path, length + nameLength + 1, considered);
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}
