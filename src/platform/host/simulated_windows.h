// Control panel of the simulated Windows that a host build runs on.
//
// Tests build a machine (drives, folders, files, reparse points), script
// the user side (message box results, posted messages, the command line),
// inject failures, run program code, then look at what happened: the trace
// of every call through the seam, the boxes shown, the disk afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/windows_api.h"

namespace simwin {

// Forget everything: one empty drive C:, current folder "C:\", error mode 0,
// empty trace, empty queue, clock at 0, message boxes answer IDOK,
// command line "Ostravel.exe".
void Reset();

// --- Building the disk. Paths are plain absolute Win32 paths ("C:\A\B"),
// also "\\?\Volume{...}\A" for a mounted volume's entries. They are taken
// literally, split at backslashes only, so names with trailing spaces or
// dots can be built. Links on the way are followed. Missing parent
// folders are created as ordinary folders. Misuse throws
// std::invalid_argument.
void AddDrive(char letter);
void MakeFolder(const std::string& path, DWORD attributes = FILE_ATTRIBUTE_DIRECTORY);
void MakeFile(const std::string& path, const std::string& content = "",
              DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
// A folder carrying a reparse point: attributes directory | reparse point.
void MakeJunction(const std::string& path, const std::string& target);
void MakeDirectorySymlink(const std::string& path, const std::string& target);
void MakeReparseFolder(const std::string& path, DWORD tag, const std::string& data);
// A volume mounted on an empty folder: a mount-point reparse point whose
// data names the volume rather than a folder.
void MountVolume(const std::string& path, const std::string& volumeName);
// The order in which a listing of `folder` reports its entries (after "."
// and ".."). Names not given follow in creation order.
void SetListingOrder(const std::string& folder, const std::vector<std::string>& names);
// Something else holds the entry open without sharing: opens fail with 32,
// removal fails with 32.
void HoldOpen(const std::string& path);
void ReleaseHold(const std::string& path);
void SetCurrentFolder(const std::string& path);

// --- Looking at the disk.
struct Entry {
  bool exists = false;
  DWORD attributes = 0;
  DWORD reparseTag = 0;       // 0 when no reparse point
  std::string reparseData;    // target of a link, volume name of a mount
  std::string content;        // files only
};
Entry Inspect(const std::string& path);
// Every entry below (and including) `root`, one line each, in a stable
// order, with attributes, reparse tag and data, content: for comparing
// whole trees before and after.
std::string Snapshot(const std::string& root);
std::string SnapshotAll();

// --- Fault injection. `operation` is the Windows name ("CreateFileA").
// The call fails with `error` when its path argument equals `path`
// (compared case-insensitively after the call's own normalisation; an
// empty `path` matches every call) and, when `nthCall` > 0, only on the
// n-th matching call (1-based). A failed call changes nothing.
void FailCall(const std::string& operation, DWORD error,
              const std::string& path = "", int nthCall = 0);

// The text FormatMessageA gives for `code`, in place of Windows' own.
void SetSystemText(DWORD code, const std::string& text);

// --- The trace: every call through the seam, in order, one line each,
// "Name(arg, arg, ...) -> result". Texts are in double quotes, exactly as
// passed (no escaping); NULL pointers are NULL; flags, access masks,
// styles, control codes and attributes are hex ("0x12000"); counts, sizes,
// codes and milliseconds are decimal; handles are "h1", "h2", ... and the
// invalid handle is "INVALID_HANDLE_VALUE". A trailing "; error=N" shows
// the last error a failing call set. See the implementation for each
// operation's exact line.
const std::vector<std::string>& Trace();
// Only the lines of the named operations, in order.
std::vector<std::string> TraceOf(const std::vector<std::string>& operations);
void ClearTrace();
// Whether calls are recorded in the trace; on after every Reset. Turned
// off, long runs (benchmarks) keep neither the lines nor their memory.
void SetTracing(bool on);
int OpenSearchCount();
int OpenHandleCount();

// --- The user side.
struct Box {
  HWND owner;
  std::string text;
  std::string caption;
  UINT style;
  uint64_t shownAt;   // virtual milliseconds
  int result;         // what MessageBoxA returned; 0: the box failed
};
// Every box asked for, shown or failed.
const std::vector<Box>& Boxes();
// The results the next boxes give, in order; after that, IDOK.
void ScriptBoxResults(const std::vector<int>& results);
// Called while a box is on the screen (the disk is inspectable then).
void OnBoxShown(std::function<void(const Box&)> handler);
void PostThreadMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
size_t QueuedMessageCount();
std::vector<MSG> DispatchedMessages();
uint64_t VirtualMilliseconds();
UINT CurrentErrorMode();
// What GetLastError would give, without a line in the trace.
DWORD CurrentLastError();
void SetCommandLine(const std::string& commandLine);
bool ComInitialized();

// ExitProcess records its call and then hands the code to this handler,
// which must not return. The default ends the host process with the code;
// tests may throw a ProcessExit instead and catch it.
struct ProcessExit {
  UINT code;
};
void OnExitProcess(std::function<void(UINT)> handler);

}  // namespace simwin
