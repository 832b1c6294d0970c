#include "sweep/sweep.h"

#include <cstring>

#include "messages/error_text.h"
#include "messages/notice.h"
#include "platform/windows_api.h"
#include "sweep/junction.h"

int32_t SweepFailed = 0;

namespace {

// The search pattern must fit MAX_PATH with its NUL. A longer one is never
// cut short: a shortened pattern would name some other entry.
const size_t kLongestPattern = MAX_PATH - 1;

std::string WithoutTrailingSpaces(const char* name) {
  size_t length = strlen(name);
  while (length > 0 && name[length - 1] == ' ')
    --length;
  return std::string(name, length);
}

// Windows drops trailing spaces and dots from the last element of a plain
// path, so a folder whose name ends in one cannot be tested or removed by
// its plain path: that path names another folder, or none. Nor can one
// whose name holds a "?", which no file name does: it stands for characters
// that the ANSI code page cannot show. Such a folder is reported as not
// broken rather than mistaken for its namesake or silently skipped.
bool CanBeNamedByPlainPath(const char* name) {
  size_t length = strlen(name);
  return length > 0 && name[length - 1] != ' ' && name[length - 1] != '.' &&
         strchr(name, '?') == NULL;
}

void BreakJunction(const std::string& child) {
  if (DeleteMountPoint(child))
    RemoveFolder(child);
  else
    SweepFailed = 1;
}

void SweepEntry(const std::string& folder, const WIN32_FIND_DATAA& entry) {
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return;
  std::string name = WithoutTrailingSpaces(entry.cFileName);
  if (name == "." || name == "..")
    return;

  PumpEvents(1);

  if (!CanBeNamedByPlainPath(entry.cFileName)) {
    ShowNotice(SystemErrorText(ERROR_INVALID_NAME), kNoticeCaption, kNoticeStyle);
    SweepFailed = 1;
    return;
  }

  std::string child = folder + name;
  // The listing's own attributes count too: a link whose attributes cannot
  // be read by name must still never be entered.
  if (IsJunctionPoint(child) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    BreakJunction(child);
  else
    SweepFolder(child + "\\");
}

}  // namespace

void SweepFolder(std::string folder) {
  if (folder.empty() || folder.back() != '\\')
    folder += '\\';
  if (folder.size() + 1 > kLongestPattern)
    return;

  char pattern[MAX_PATH];
  memcpy(pattern, folder.data(), folder.size());
  pattern[folder.size()] = '*';
  pattern[folder.size() + 1] = '\0';

  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE)
    return;
  try {
    do
      SweepEntry(folder, entry);
    while (FindNextFileA(search, &entry));
  } catch (...) {
    FindClose(search);
    throw;
  }
  FindClose(search);
}
