#include "sweep/junction.h"

#include <cstring>

#include "messages/error_text.h"
#include "messages/notice.h"

namespace {

const DWORD kOpenFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
const UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
// RemoveDirectoryA takes a path of at most MAX_PATH characters with its NUL;
// a longer one is never cut short, since that would name another folder.
const size_t kLongestRemovablePath = 255;

void ShowLastError() {
  ShowNotice(SystemErrorText(GetLastError()), kNoticeCaption, kNoticeStyle);
}

}  // namespace

int32_t IsJunctionPoint(const std::string& path) {
  size_t end = path.find_last_not_of("\\ ");
  size_t length = end == std::string::npos ? 0 : end + 1;
  // The sweep's paths have nothing to trim; only others need a copy.
  DWORD attributes = length == path.size()
                         ? GetFileAttributesA(path.c_str())
                         : GetFileAttributesA(path.substr(0, length).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return 0;
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == FILE_ATTRIBUTE_REPARSE_POINT ? -1 : 0;
}

int32_t DeleteMountPoint(const std::string& path) {
  // The "\\?\" form reaches the link itself, with no name rewriting.
  std::string name = "\\\\?\\" + path;
  HANDLE folder = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL,
                              OPEN_EXISTING, kOpenFlags, NULL);
  if (folder == INVALID_HANDLE_VALUE) {
    ShowLastError();
    return 0;
  }

  MountPointHeader header;
  memset(&header, 0, sizeof header);
  header.ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
  DWORD bytesReturned = 0;
  int32_t result = 1;
  // The handle stays open while the user reads why the request failed; it
  // is closed on every way out, an exhausted heap included.
  try {
    if (!DeviceIoControl(folder, FSCTL_DELETE_REPARSE_POINT, &header,
                         REPARSE_DATA_BUFFER_HEADER_SIZE, NULL, 0, &bytesReturned, NULL)) {
      ShowLastError();
      result = 0;
    }
  } catch (...) {
    CloseHandle(folder);
    throw;
  }
  CloseHandle(folder);
  return result;
}

void RemoveFolder(const std::string& path) {
  if (path.size() > kLongestRemovablePath)
    return;
  UINT previousMode = SetErrorMode(kQuietErrorMode);
  RemoveDirectoryA(path.c_str());
  SetErrorMode(previousMode);
}
