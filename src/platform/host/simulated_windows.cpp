// The simulated Windows behind the seam of a host build.
//
// Every operation appends one line to the trace, after it has done its
// work, so the line carries the result. Formats (texts are shown in double
// quotes exactly as passed, NULL pointers as NULL, other pointers whose
// contents are not shown as ptr; handles as h1, h2, ... numbered per Reset
// across searches and files, INVALID_HANDLE_VALUE, or a hex value for a
// handle never issued; a failing call ends in "; error=N"):
//
//   CoInitialize(NULL) -> 0x0                (0x1 when already initialised)
//   CoUninitialize()
//   GetCommandLineA() -> "Ostravel.exe D:\PQ"
//   ExitProcess(1)
//   FindFirstFileA("C:\D\*") -> h1
//   FindFirstFileA("C:\X\*") -> INVALID_HANDLE_VALUE; error=3
//     (3: no such folder; 2: the folder is there but nothing matches)
//   FindNextFileA(h1) -> 1 "name"
//   FindNextFileA(h1) -> 0; error=18
//   FindClose(h1) -> 1
//   GetFileAttributesA("C:\D\L") -> 0x410
//   GetFileAttributesA("C:\D\X") -> 0xFFFFFFFF; error=2
//   CreateFileA("\\?\C:\D\L", 0xC0000000, 0, NULL, 3, 0x2200000, NULL) -> h2
//     (access and flags in hex; share mode and disposition in decimal)
//   DeviceIoControl(h2, 0x900AC, [03 00 00 A0 00 00 00 00], 8, NULL, 0) -> 1
//     (the input bytes in hex, as many as the input size says; a NULL
//     count of returned bytes without OVERLAPPED fails with 998, where
//     Windows would fault)
//   CloseHandle(h2) -> 1
//   GetLastError() -> 5
//   SetErrorMode(0x8001) -> 0x0
//   RemoveDirectoryA("C:\D\L") -> 1
//   FormatMessageA(0x1000, NULL, 5, 0, 255) -> 19
//   FormatMessageA(0x1000, NULL, 1234, 0, 255) -> 0; error=317
//     (flags, source, message id, language, size)
//   MessageBoxA(NULL, "text", "Ostravel", 0x12000) -> 1
//   MessageBoxA(NULL, "text", "Ostravel", 0x12000) -> 0; error=8  (scripted 0)
//   Sleep(5)
//   PeekMessageA(NULL, 0, 0, 0x1) -> 1 0x12   (the message taken)
//   PeekMessageA(NULL, 0, 0, 0x1) -> 0
//   TranslateMessage(0x12) -> 0
//   DispatchMessageA(0x12) -> 0
#include "platform/host/simulated_windows.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <stdexcept>

#include "platform/host/simulated_disk.h"

using simwin::detail::Disk;
using simwin::detail::Lookup;
using simwin::detail::Node;
using simwin::detail::PathName;

namespace {

const DWORD kErrorInvalidFunction = 1;
const DWORD kErrorNoAccess = 998;
const DWORD kErrorBoxNotShown = ERROR_NOT_ENOUGH_MEMORY;
const DWORD kErrorDirectory = 267;
const DWORD kErrorMuiFileNotFound = 15100;
const DWORD kFormatMessageAllocateBuffer = 0x100;
const DWORD kFormatMessageFromString = 0x400;
const DWORD kFormatMessageArgumentArray = 0x2000;
const DWORD kGenericAll = 0x10000000;
const DWORD kFileReadData = 0x1;
const DWORD kFileWriteData = 0x2;
const DWORD kFileAppendData = 0x4;
const DWORD kFileWriteAttributes = 0x100;
const DWORD kIoReparseTagReservedOne = 1;

struct FileHandle {
  std::shared_ptr<Node> node;
  DWORD access;
  DWORD shareMode;
  std::string path;  // for fault matching
};

struct Search {
  std::shared_ptr<Node> folder;
  // Names as they stood when the search began; "." and ".." included.
  std::vector<std::string> names;
  size_t next = 0;
  std::string path;
};

struct Fault {
  std::string operation;
  DWORD error;
  std::string path;
  int nthCall;
  int seen = 0;
};

struct Machine {
  Disk disk;
  std::vector<std::string> trace;
  DWORD lastError = 0;
  UINT errorMode = 0;
  int handlesIssued = 0;
  std::map<int, FileHandle> files;
  std::map<int, Search> searches;
  std::vector<Fault> faults;
  std::vector<simwin::Box> boxes;
  std::deque<int> boxResults;
  std::function<void(const simwin::Box&)> onBoxShown;
  std::deque<MSG> queue;
  std::vector<MSG> dispatched;
  uint64_t clock = 0;
  std::string commandLine = "Ostravel.exe";
  int comInitialized = 0;
  std::map<DWORD, std::string> systemTexts;
  std::function<void(UINT)> onExit;
  bool tracing = true;
};

Machine& M() {
  static Machine machine;
  return machine;
}

// --- Trace formatting.

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string Dec(int64_t value) { return std::to_string(value); }

std::string Text(const char* text) {
  return text ? "\"" + std::string(text) + "\"" : "NULL";
}

std::string Pointer(const void* pointer) { return pointer ? "ptr" : "NULL"; }

HANDLE HandleFor(int number) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(number) * 4);
}

int HandleNumber(HANDLE handle) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value % 4 != 0 || value == 0 || value / 4 > uintptr_t(M().handlesIssued))
    return 0;
  return static_cast<int>(value / 4);
}

std::string HandleText(HANDLE handle) {
  if (handle == NULL)
    return "NULL";
  if (handle == INVALID_HANDLE_VALUE)
    return "INVALID_HANDLE_VALUE";
  int number = HandleNumber(handle);
  return number ? "h" + Dec(number) : Hex(reinterpret_cast<uintptr_t>(handle));
}

std::string Bytes(const void* buffer, DWORD size) {
  if (!buffer)
    return "NULL";
  std::string text = "[";
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
  for (DWORD i = 0; i < size; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02X", bytes[i]);
    text += (i ? " " : "") + std::string(byte);
  }
  return text + "]";
}

void Record(const std::string& line) {
  if (M().tracing)
    M().trace.push_back(line);
}

// Sets the last error and gives the trace's suffix for it.
std::string Failed(DWORD error) {
  M().lastError = error;
  return "; error=" + Dec(error);
}

// --- Fault injection.

// The name a call is matched by: its normalised form, ignoring case.
std::string MatchName(const std::string& name) {
  PathName path;
  if (M().disk.ParseWin32(name, &path) == 0)
    return simwin::detail::Lower(path.Text());
  return simwin::detail::Lower(name);
}

// The error injected into this call, or 0.
DWORD InjectedError(const char* operation, const std::string& name) {
  for (Fault& fault : M().faults) {
    if (fault.operation != operation)
      continue;
    if (!fault.path.empty() && MatchName(fault.path) != MatchName(name))
      continue;
    ++fault.seen;
    if (fault.nthCall == 0 || fault.nthCall == fault.seen)
      return fault.error;
  }
  return 0;
}

// --- Handles.

int IssueHandle() { return ++M().handlesIssued; }

FileHandle* FindFileHandle(HANDLE handle) {
  auto file = M().files.find(HandleNumber(handle));
  return file == M().files.end() ? nullptr : &file->second;
}

Search* FindSearch(HANDLE handle) {
  auto search = M().searches.find(HandleNumber(handle));
  return search == M().searches.end() ? nullptr : &search->second;
}

// Closes one of the open searches or files: an unknown handle fails with
// 6, an injected failure leaves it open.
template <typename OpenTable>
BOOL CloseIn(OpenTable& open, const char* operation, HANDLE handle) {
  std::string line = std::string(operation) + "(" + HandleText(handle) + ") -> ";
  auto entry = open.find(HandleNumber(handle));
  if (entry == open.end()) {
    Record(line + "0" + Failed(ERROR_INVALID_HANDLE));
    return FALSE;
  }
  if (DWORD error = InjectedError(operation, entry->second.path)) {
    Record(line + "0" + Failed(error));
    return FALSE;
  }
  open.erase(entry);
  Record(line + "1");
  return TRUE;
}

// The entry a Win32 name names, read as Windows reads it; a link at the
// end is followed only when asked.
Lookup FindNamed(const char* name, bool followLastLink) {
  Lookup found;
  PathName path;
  if ((found.error = M().disk.ParseWin32(name, &path)) != 0)
    return found;
  if ((found.error = Disk::CheckCharacters(path, false)) != 0)
    return found;
  return M().disk.Find(path, followLastLink);
}

bool Reads(DWORD access) {
  return access & (GENERIC_READ | kGenericAll | kFileReadData);
}

bool Writes(DWORD access) {
  return access & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData);
}

// Windows' sharing check between an open handle and a new open.
bool SharingConflict(const FileHandle& open, DWORD access, DWORD shareMode) {
  return (Reads(access) && !(open.shareMode & FILE_SHARE_READ)) ||
         (Writes(access) && !(open.shareMode & FILE_SHARE_WRITE)) ||
         (Reads(open.access) && !(shareMode & FILE_SHARE_READ)) ||
         (Writes(open.access) && !(shareMode & FILE_SHARE_WRITE));
}

// --- Searches.

// Windows' wildcards: * any run of characters, ? exactly one; case ignored.
bool Matches(const char* pattern, const char* name) {
  if (*pattern == '\0')
    return *name == '\0';
  if (*pattern == '*')
    return Matches(pattern + 1, name) || (*name && Matches(pattern, name + 1));
  if (*name == '\0')
    return false;
  if (*pattern != '?' &&
      std::tolower(static_cast<unsigned char>(*pattern)) !=
          std::tolower(static_cast<unsigned char>(*name)))
    return false;
  return Matches(pattern + 1, name + 1);
}

bool MatchesPattern(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*")
    return true;  // the old spelling of "everything"
  return Matches(pattern.c_str(), name.c_str());
}

// Fills the record with the entry `name` of the search's folder; false
// when that entry has gone since the search began.
bool FillRecord(const Search& search, const std::string& name, WIN32_FIND_DATAA* data) {
  DWORD attributes;
  std::string shownName = name;
  if (name == ".") {
    attributes = search.folder->attributes;
  } else if (name == "..") {
    attributes = search.folder->parent->attributes;
  } else {
    std::shared_ptr<Node> entry = search.folder->Child(name);
    if (!entry)
      return false;
    attributes = entry->attributes;
    shownName = entry->name;
  }
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = attributes;
  std::strncpy(data->cFileName, shownName.c_str(), sizeof data->cFileName - 1);
  return true;
}

// Delivers the next entry still present; false at the end.
bool DeliverNext(Search* search, WIN32_FIND_DATAA* data, std::string* name) {
  while (search->next < search->names.size()) {
    const std::string& candidate = search->names[search->next++];
    if (FillRecord(*search, candidate, data)) {
      *name = data->cFileName;
      return true;
    }
  }
  return false;
}

// --- System message texts, as Windows' English message table has them.

const std::map<DWORD, std::string>& BuiltInTexts() {
  static const std::map<DWORD, std::string> texts = {
      {0, "The operation completed successfully.\r\n"},
      {1, "Incorrect function.\r\n"},
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {6, "The handle is invalid.\r\n"},
      {8, "Not enough memory resources are available to process this command.\r\n"},
      {18, "There are no more files.\r\n"},
      {32, "The process cannot access the file because it is being used by another process.\r\n"},
      {50, "The request is not supported.\r\n"},
      {53, "The network path was not found.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
      {122, "The data area passed to a system call is too small.\r\n"},
      {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {145, "The directory is not empty.\r\n"},
      {193, "%1 is not a valid Win32 application.\r\n"},
      {206, "The filename or extension is too long.\r\n"},
      {267, "The directory name is invalid.\r\n"},
      {317, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
      {998, "Invalid access to memory location.\r\n"},
      {1314, "A required privilege is not held by the client.\r\n"},
      {1921, "The name of the file cannot be resolved by the system.\r\n"},
      {4390, "The file or directory is not a reparse point.\r\n"},
      {4391, "The reparse point attribute cannot be set because it conflicts with an existing attribute.\r\n"},
      {4392, "The data present in the reparse point buffer is invalid.\r\n"},
      {4393, "The tag present in the reparse point buffer is invalid.\r\n"},
      {4394, "There is a mismatch between the tag specified in the request and the tag present in the reparse point.\r\n"},
      {15100, "The resource loader failed to find MUI file.\r\n"},
  };
  return texts;
}

const std::string* SystemText(DWORD code) {
  auto registered = M().systemTexts.find(code);
  if (registered != M().systemTexts.end())
    return &registered->second;
  auto builtIn = BuiltInTexts().find(code);
  return builtIn == BuiltInTexts().end() ? nullptr : &builtIn->second;
}

bool HasInserts(const std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9')
      return true;
  }
  return false;
}

// Replaces %1 .. %99 by string arguments.
std::string InsertArguments(const std::string& text, DWORD flags, va_list* arguments) {
  std::vector<const char*> values;
  auto argument = [&](size_t number) -> const char* {
    if (flags & kFormatMessageArgumentArray)
      return reinterpret_cast<const char* const*>(arguments)[number - 1];
    if (values.empty()) {
      va_list copy;
      va_copy(copy, *arguments);
      for (int i = 0; i < 99; ++i)
        values.push_back(va_arg(copy, const char*));
      va_end(copy);
    }
    return values[number - 1];
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
        text[i + 1] != '0') {
      size_t number = text[++i] - '0';
      if (i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])))
        number = number * 10 + (text[++i] - '0');
      const char* value = argument(number);
      out += value ? value : "";
    } else {
      out += text[i];
    }
  }
  return out;
}

bool KnownLanguage(DWORD languageId) {
  // Neutral, user and system default, US English.
  return languageId == 0 || languageId == 0x400 || languageId == 0x800 ||
         languageId == 0x409;
}

[[noreturn]] void DefaultExit(UINT code) {
  std::fflush(nullptr);
  std::_Exit(static_cast<int>(code));
}

}  // namespace

// ===================== The Windows operations =====================

HRESULT WINAPI CoInitialize(LPVOID reserved) {
  HRESULT result = M().comInitialized ? 1 : 0;  // S_FALSE when already done
  if (DWORD error = InjectedError("CoInitialize", "")) {
    result = static_cast<HRESULT>(error);
  } else {
    ++M().comInitialized;
  }
  Record("CoInitialize(" + Pointer(reserved) + ") -> " + Hex(static_cast<DWORD>(result)));
  return result;
}

void WINAPI CoUninitialize() {
  if (M().comInitialized)
    --M().comInitialized;
  Record("CoUninitialize()");
}

LPSTR WINAPI GetCommandLineA() {
  Record("GetCommandLineA() -> " + Text(M().commandLine.c_str()));
  return &M().commandLine[0];
}

void WINAPI ExitProcess(UINT exitCode) {
  Record("ExitProcess(" + Dec(exitCode) + ")");
  std::function<void(UINT)> handler = M().onExit ? M().onExit : DefaultExit;
  handler(exitCode);
  DefaultExit(exitCode);  // a handler must not return; end here if it does
}

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  std::string line = "FindFirstFileA(" + Text(fileName) + ") -> ";
  auto fail = [&](DWORD error) {
    Record(line + "INVALID_HANDLE_VALUE" + Failed(error));
    return INVALID_HANDLE_VALUE;
  };
  if (!fileName || !findData)
    return fail(fileName ? kErrorNoAccess : ERROR_PATH_NOT_FOUND);
  if (DWORD error = InjectedError("FindFirstFileA", fileName))
    return fail(error);
  PathName pattern;
  if (DWORD error = M().disk.ParseWin32(fileName, &pattern))
    return fail(error);
  char lastCharacter = fileName[0] ? fileName[strlen(fileName) - 1] : '\0';
  if (pattern.elements.empty() || lastCharacter == '\\' || lastCharacter == '/')
    return fail(ERROR_FILE_NOT_FOUND);  // an empty pattern matches nothing
  if (DWORD error = Disk::CheckCharacters(pattern, true))
    return fail(error);

  // Only the last element is a pattern; the folder part is a path like
  // any other, followed through links.
  std::string wanted = pattern.elements.back();
  PathName folderName = pattern;
  folderName.elements.pop_back();
  Lookup folder = M().disk.Find(folderName, true);
  if (folder.error || !folder.node->IsFolder())
    return fail(ERROR_PATH_NOT_FOUND);

  Search search;
  search.folder = folder.node;
  search.path = fileName;
  if (!folder.node->IsRoot()) {
    for (const char* dots : {".", ".."}) {
      if (MatchesPattern(wanted, dots))
        search.names.push_back(dots);
    }
  }
  for (const auto& child : folder.node->ListingOrder()) {
    if (MatchesPattern(wanted, child->name))
      search.names.push_back(child->name);
  }
  if (search.names.empty())
    return fail(ERROR_FILE_NOT_FOUND);

  std::string first;
  DeliverNext(&search, findData, &first);
  int number = IssueHandle();
  M().searches[number] = search;
  Record(line + "h" + Dec(number));
  return HandleFor(number);
}

BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
  std::string line = "FindNextFileA(" + HandleText(findFile) + ") -> ";
  Search* search = FindSearch(findFile);
  if (!search) {
    Record(line + "0" + Failed(ERROR_INVALID_HANDLE));
    return FALSE;
  }
  if (DWORD error = InjectedError("FindNextFileA", search->path)) {
    Record(line + "0" + Failed(error));
    return FALSE;
  }
  std::string name;
  if (!DeliverNext(search, findData, &name)) {
    Record(line + "0" + Failed(ERROR_NO_MORE_FILES));
    return FALSE;
  }
  Record(line + "1 " + Text(name.c_str()));
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE findFile) {
  return CloseIn(M().searches, "FindClose", findFile);
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  std::string line = "GetFileAttributesA(" + Text(fileName) + ") -> ";
  auto fail = [&](DWORD error) {
    Record(line + Hex(INVALID_FILE_ATTRIBUTES) + Failed(error));
    return INVALID_FILE_ATTRIBUTES;
  };
  if (!fileName)
    return fail(ERROR_PATH_NOT_FOUND);
  if (DWORD error = InjectedError("GetFileAttributesA", fileName))
    return fail(error);
  // The entry itself: a link at the end is not followed.
  Lookup entry = FindNamed(fileName, false);
  if (entry.error)
    return fail(entry.error);
  Record(line + Hex(entry.node->attributes));
  return entry.node->attributes;
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes,
                          DWORD creationDisposition, DWORD flagsAndAttributes,
                          HANDLE templateFile) {
  std::string line = "CreateFileA(" + Text(fileName) + ", " + Hex(desiredAccess) +
                     ", " + Dec(shareMode) + ", " + Pointer(securityAttributes) +
                     ", " + Dec(creationDisposition) + ", " + Hex(flagsAndAttributes) +
                     ", " + HandleText(templateFile) + ") -> ";
  auto fail = [&](DWORD error) {
    Record(line + "INVALID_HANDLE_VALUE" + Failed(error));
    return INVALID_HANDLE_VALUE;
  };
  if (!fileName)
    return fail(ERROR_PATH_NOT_FOUND);
  if (DWORD error = InjectedError("CreateFileA", fileName))
    return fail(error);
  // Only opening what exists is modelled.
  if (creationDisposition != OPEN_EXISTING)
    return fail(ERROR_INVALID_PARAMETER);
  bool openLinkItself = flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT;
  Lookup entry = FindNamed(fileName, !openLinkItself);
  if (entry.error)
    return fail(entry.error);
  std::shared_ptr<Node> node = entry.node;
  if (node->IsFolder() && !(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS))
    return fail(ERROR_ACCESS_DENIED);
  if (!node->IsFolder() && (node->attributes & FILE_ATTRIBUTE_READONLY) &&
      Writes(desiredAccess))
    return fail(ERROR_ACCESS_DENIED);
  if (node->heldOpen)
    return fail(ERROR_SHARING_VIOLATION);
  for (const auto& open : M().files) {
    if (open.second.node == node && SharingConflict(open.second, desiredAccess, shareMode))
      return fail(ERROR_SHARING_VIOLATION);
  }
  int number = IssueHandle();
  M().files[number] = FileHandle{node, desiredAccess, shareMode, fileName};
  Record(line + "h" + Dec(number));
  return HandleFor(number);
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer,
                            DWORD inBufferSize, LPVOID outBuffer,
                            DWORD outBufferSize, LPDWORD bytesReturned,
                            LPOVERLAPPED overlapped) {
  std::string line = "DeviceIoControl(" + HandleText(device) + ", " + Hex(ioControlCode) +
                     ", " + Bytes(inBuffer, inBufferSize) + ", " + Dec(inBufferSize) +
                     ", " + Pointer(outBuffer) + ", " + Dec(outBufferSize) + ") -> ";
  auto fail = [&](DWORD error) {
    Record(line + "0" + Failed(error));
    return FALSE;
  };
  FileHandle* file = FindFileHandle(device);
  if (!file)
    return fail(ERROR_INVALID_HANDLE);
  if (DWORD error = InjectedError("DeviceIoControl", file->path))
    return fail(error);
  // A synchronous call writes the count; Windows faults without one.
  if (!bytesReturned && !overlapped)
    return fail(kErrorNoAccess);
  *bytesReturned = 0;
  if (ioControlCode != FSCTL_DELETE_REPARSE_POINT)
    return fail(kErrorInvalidFunction);
  if (!(file->access & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileWriteAttributes)))
    return fail(ERROR_ACCESS_DENIED);
  // The request is the bare reparse header: tag, data length 0, reserved.
  if (!inBuffer || inBufferSize != REPARSE_DATA_BUFFER_HEADER_SIZE)
    return fail(ERROR_INVALID_PARAMETER);
  const unsigned char* header = static_cast<const unsigned char*>(inBuffer);
  DWORD tag = header[0] | header[1] << 8 | header[2] << 16 | DWORD(header[3]) << 24;
  DWORD dataLength = header[4] | header[5] << 8;
  if (tag == 0 || tag == kIoReparseTagReservedOne)
    return fail(ERROR_REPARSE_TAG_INVALID);
  if (dataLength != 0)
    return fail(ERROR_INVALID_REPARSE_DATA);
  Node& node = *file->node;
  if (!node.IsReparsePoint())
    return fail(ERROR_NOT_A_REPARSE_POINT);
  if (node.reparseTag != tag)
    return fail(ERROR_REPARSE_TAG_MISMATCH);
  // The link goes; the folder stays, plain and empty. The target is not
  // touched.
  node.attributes &= ~DWORD(FILE_ATTRIBUTE_REPARSE_POINT);
  node.reparseTag = 0;
  node.reparseData.clear();
  Record(line + "1");
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
  return CloseIn(M().files, "CloseHandle", object);
}

DWORD WINAPI GetLastError() {
  Record("GetLastError() -> " + Dec(M().lastError));
  return M().lastError;
}

UINT WINAPI SetErrorMode(UINT mode) {
  UINT previous = M().errorMode;
  M().errorMode = mode;
  Record("SetErrorMode(" + Hex(mode) + ") -> " + Hex(previous));
  return previous;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR pathName) {
  std::string line = "RemoveDirectoryA(" + Text(pathName) + ") -> ";
  auto fail = [&](DWORD error) {
    Record(line + "0" + Failed(error));
    return FALSE;
  };
  if (!pathName)
    return fail(ERROR_PATH_NOT_FOUND);
  if (DWORD error = InjectedError("RemoveDirectoryA", pathName))
    return fail(error);
  // A link is removed itself; its target stays as it is.
  Lookup entry = FindNamed(pathName, false);
  if (entry.error)
    return fail(entry.error);
  std::shared_ptr<Node> node = entry.node;
  if (!node->IsFolder())
    return fail(kErrorDirectory);
  if (node->IsRoot() || (node->attributes & FILE_ATTRIBUTE_READONLY))
    return fail(ERROR_ACCESS_DENIED);
  if (node->heldOpen)
    return fail(ERROR_SHARING_VIOLATION);
  for (const auto& open : M().files) {
    if (open.second.node == node && !(open.second.shareMode & FILE_SHARE_DELETE))
      return fail(ERROR_SHARING_VIOLATION);
  }
  if (!node->children.empty())
    return fail(ERROR_DIR_NOT_EMPTY);
  node->parent->RemoveChild(node.get());
  node->parent = nullptr;
  Record(line + "1");
  return TRUE;
}

// When the text does not fit, Windows' ANSI conversion may leave part of
// it behind. This one writes the first `size` bytes with no terminating
// NUL, the worst a caller has to survive, and fails with 122.
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId,
                            DWORD languageId, LPSTR buffer, DWORD size,
                            va_list* arguments) {
  std::string line = "FormatMessageA(" + Hex(flags) + ", " + Pointer(source) + ", " +
                     Dec(messageId) + ", " + Dec(languageId) + ", " + Dec(size) + ") -> ";
  auto fail = [&](DWORD error) {
    Record(line + "0" + Failed(error));
    return DWORD(0);
  };
  if (DWORD error = InjectedError("FormatMessageA", ""))
    return fail(error);
  // Only the system's table into the caller's buffer is modelled.
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) ||
      (flags & (kFormatMessageAllocateBuffer | kFormatMessageFromString)) || !buffer)
    return fail(ERROR_INVALID_PARAMETER);
  if (!KnownLanguage(languageId))
    return fail(kErrorMuiFileNotFound);
  const std::string* found = SystemText(messageId);
  if (!found)
    return fail(ERROR_MR_MID_NOT_FOUND);
  std::string text = *found;
  if (HasInserts(text) && !(flags & FORMAT_MESSAGE_IGNORE_INSERTS)) {
    if (!arguments)
      return fail(ERROR_INVALID_PARAMETER);
    text = InsertArguments(text, flags, arguments);
  }
  if (text.size() + 1 > size) {
    std::memcpy(buffer, text.data(), std::min<size_t>(size, text.size()));
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  Record(line + Dec(text.size()));
  return static_cast<DWORD>(text.size());
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  std::string line = "MessageBoxA(" +
                     (owner ? Hex(reinterpret_cast<uintptr_t>(owner)) : std::string("NULL")) +
                     ", " + Text(text) + ", " + Text(caption) + ", " + Hex(type) + ") -> ";
  DWORD error = InjectedError("MessageBoxA", "");
  int result = 0;
  if (!error) {
    if (!M().boxResults.empty()) {
      result = M().boxResults.front();
      M().boxResults.pop_front();
    } else {
      result = IDOK;
    }
    if (result == 0)
      error = kErrorBoxNotShown;
  }
  simwin::Box box{owner, text ? text : "", caption ? caption : "", type, M().clock, result};
  M().boxes.push_back(box);
  if (result != 0 && M().onBoxShown)
    M().onBoxShown(box);
  Record(line + Dec(result) + (error ? Failed(error) : ""));
  return result;
}

void WINAPI Sleep(DWORD milliseconds) {
  M().clock += milliseconds;
  Record("Sleep(" + Dec(milliseconds) + ")");
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax,
                         UINT removeMessage) {
  std::string line = "PeekMessageA(" +
                     (window ? Hex(reinterpret_cast<uintptr_t>(window)) : std::string("NULL")) +
                     ", " + Dec(filterMin) + ", " + Dec(filterMax) + ", " +
                     Hex(removeMessage) + ") -> ";
  if (!msg) {
    Record(line + "0" + Failed(kErrorNoAccess));
    return FALSE;
  }
  bool anyMessage = filterMin == 0 && filterMax == 0;
  auto& queue = M().queue;
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (window && it->hwnd != window)
      continue;
    if (!anyMessage && (it->message < filterMin || it->message > filterMax))
      continue;
    *msg = *it;
    if (removeMessage & PM_REMOVE)
      queue.erase(it);
    Record(line + "1 " + Hex(msg->message));
    return TRUE;
  }
  Record(line + "0");
  return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
  Record("TranslateMessage(" + (msg ? Hex(msg->message) : std::string("NULL")) + ") -> 0");
  return FALSE;  // only key messages are ever translated
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  Record("DispatchMessageA(" + (msg ? Hex(msg->message) : std::string("NULL")) + ") -> 0");
  if (msg)
    M().dispatched.push_back(*msg);
  return 0;
}

// ===================== The control panel =====================

namespace simwin {

void Reset() { M() = Machine(); }

void AddDrive(char letter) { M().disk.AddDrive(letter); }

void MakeFolder(const std::string& path, DWORD attributes) {
  Disk& disk = M().disk;
  disk.MakeEntry(disk.ParseLiteral(path), attributes | FILE_ATTRIBUTE_DIRECTORY);
}

void MakeFile(const std::string& path, const std::string& content, DWORD attributes) {
  Disk& disk = M().disk;
  auto file = disk.MakeEntry(disk.ParseLiteral(path),
                             attributes & ~DWORD(FILE_ATTRIBUTE_DIRECTORY));
  file->content = content;
}

void MakeReparseFolder(const std::string& path, DWORD tag, const std::string& data) {
  Disk& disk = M().disk;
  auto folder = disk.MakeEntry(disk.ParseLiteral(path),
                               FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  folder->reparseTag = tag;
  folder->reparseData = data;
}

void MakeJunction(const std::string& path, const std::string& target) {
  MakeReparseFolder(path, IO_REPARSE_TAG_MOUNT_POINT, target);
}

void MakeDirectorySymlink(const std::string& path, const std::string& target) {
  MakeReparseFolder(path, IO_REPARSE_TAG_SYMLINK, target);
}

void MountVolume(const std::string& path, const std::string& volumeName) {
  M().disk.AddVolume(volumeName);
  MakeReparseFolder(path, IO_REPARSE_TAG_MOUNT_POINT, volumeName);
}

namespace {
std::shared_ptr<Node> ExistingEntry(const std::string& path) {
  Disk& disk = M().disk;
  Lookup entry = disk.Find(disk.ParseLiteral(path), false);
  if (entry.error)
    throw std::invalid_argument("simwin: no such entry: " + path);
  return entry.node;
}
}  // namespace

void SetListingOrder(const std::string& folder, const std::vector<std::string>& names) {
  Disk& disk = M().disk;
  Lookup entry = disk.Find(disk.ParseLiteral(folder), true);
  if (entry.error)
    throw std::invalid_argument("simwin: no such folder: " + folder);
  entry.node->listingOrder = names;
}

void HoldOpen(const std::string& path) { ExistingEntry(path)->heldOpen = true; }

void ReleaseHold(const std::string& path) { ExistingEntry(path)->heldOpen = false; }

void SetCurrentFolder(const std::string& path) { M().disk.SetCurrentFolder(path); }

Entry Inspect(const std::string& path) {
  Disk& disk = M().disk;
  Entry result;
  Lookup entry = disk.Find(disk.ParseLiteral(path), false);
  if (entry.error)
    return result;
  result.exists = true;
  result.attributes = entry.node->attributes;
  result.reparseTag = entry.node->reparseTag;
  result.reparseData = entry.node->reparseData;
  result.content = entry.node->content;
  return result;
}

std::string Snapshot(const std::string& root) {
  Disk& disk = M().disk;
  Lookup entry = disk.Find(disk.ParseLiteral(root), false);
  return entry.error ? "" : disk.Snapshot(*entry.node);
}

std::string SnapshotAll() { return M().disk.SnapshotAll(); }

void FailCall(const std::string& operation, DWORD error, const std::string& path,
              int nthCall) {
  M().faults.push_back(Fault{operation, error, path, nthCall});
}

void SetSystemText(DWORD code, const std::string& text) { M().systemTexts[code] = text; }

const std::vector<std::string>& Trace() { return M().trace; }

std::vector<std::string> TraceOf(const std::vector<std::string>& operations) {
  std::vector<std::string> lines;
  for (const std::string& line : M().trace) {
    std::string name = line.substr(0, line.find('('));
    for (const std::string& operation : operations) {
      if (name == operation)
        lines.push_back(line);
    }
  }
  return lines;
}

void ClearTrace() { M().trace.clear(); }

void SetTracing(bool on) { M().tracing = on; }

int OpenSearchCount() { return static_cast<int>(M().searches.size()); }

int OpenHandleCount() { return static_cast<int>(M().files.size()); }

const std::vector<Box>& Boxes() { return M().boxes; }

void ScriptBoxResults(const std::vector<int>& results) {
  M().boxResults.assign(results.begin(), results.end());
}

void OnBoxShown(std::function<void(const Box&)> handler) { M().onBoxShown = handler; }

void PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  MSG msg = {};
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = static_cast<DWORD>(M().clock);
  M().queue.push_back(msg);
}

size_t QueuedMessageCount() { return M().queue.size(); }

std::vector<MSG> DispatchedMessages() { return M().dispatched; }

uint64_t VirtualMilliseconds() { return M().clock; }

UINT CurrentErrorMode() { return M().errorMode; }

DWORD CurrentLastError() { return M().lastError; }

void SetCommandLine(const std::string& commandLine) { M().commandLine = commandLine; }

bool ComInitialized() { return M().comInitialized > 0; }

void OnExitProcess(std::function<void(UINT)> handler) { M().onExit = handler; }

}  // namespace simwin
