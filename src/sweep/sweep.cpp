#include "sweep/sweep.h"

#include <cstring>
#include <utility>

#include "messages/error_text.h"
#include "messages/notice.h"
#include "platform/windows_api.h"
#include "sweep/junction.h"

int32_t SweepFailed = 0;

namespace {

// The search pattern must fit MAX_PATH with its NUL. A longer one is never
// cut short: a shortened pattern would name some other entry.
const size_t kLongestPattern = MAX_PATH - 1;

// The length of the entry name without its trailing spaces.
size_t TrimmedLength(const char* name) {
  size_t length = strlen(name);
  while (length > 0 && name[length - 1] == ' ')
    --length;
  return length;
}

bool IsDotOrDotDot(const char* name, size_t length) {
  return (length == 1 && name[0] == '.') ||
         (length == 2 && name[0] == '.' && name[1] == '.');
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
  size_t nameLength = TrimmedLength(entry.cFileName);
  if (IsDotOrDotDot(entry.cFileName, nameLength))
    return;

  PumpEvents(1);

  if (!CanBeNamedByPlainPath(entry.cFileName)) {
    ShowNotice(SystemErrorText(ERROR_INVALID_NAME), kNoticeCaption, kNoticeStyle);
    SweepFailed = 1;
    return;
  }

  // One text, with room for the backslash, serves the test, the break and
  // then the level below, which takes it over: every level of the descent
  // holds its own folder path and nothing more.
  std::string child;
  child.reserve(folder.size() + nameLength + 1);
  child.append(folder).append(entry.cFileName, nameLength);
  // The listing's own attributes count too: a link whose attributes cannot
  // be read by name must still never be entered.
  if (IsJunctionPoint(child) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    BreakJunction(child);
  } else {
    child += '\\';
    SweepFolder(std::move(child));
  }
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
