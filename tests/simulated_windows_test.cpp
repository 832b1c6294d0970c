// The simulated Windows, where the program's behaviour depends on it
// being faithful.
#include "platform/host/simulated_windows.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const DWORD kOpenLinkFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
const DWORD kCloudTag = 0x9000301A;

class SimulatedWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override { simwin::Reset(); }

  // The names a search reports, in order, or "error=N" when it fails.
  static std::vector<std::string> List(const std::string& pattern) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
      return {"error=" + std::to_string(GetLastError())};
    std::vector<std::string> names;
    do {
      names.push_back(data.cFileName);
    } while (FindNextFileA(search, &data));
    EXPECT_EQ(ERROR_NO_MORE_FILES, GetLastError());
    EXPECT_TRUE(FindClose(search));
    return names;
  }

  // The attributes, or "error=N".
  static std::string Attributes(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
      return "error=" + std::to_string(GetLastError());
    char text[16];
    snprintf(text, sizeof text, "0x%X", attributes);
    return text;
  }

  static HANDLE OpenLink(const std::string& path, DWORD access = kReadWrite) {
    return CreateFileA(path.c_str(), access, 0, NULL, OPEN_EXISTING, kOpenLinkFlags, NULL);
  }

  static BOOL DeleteMountPointData(HANDLE handle, DWORD tag = IO_REPARSE_TAG_MOUNT_POINT,
                                   DWORD size = REPARSE_DATA_BUFFER_HEADER_SIZE,
                                   WORD dataLength = 0) {
    unsigned char header[16] = {};
    memcpy(header, &tag, 4);
    memcpy(header + 4, &dataLength, 2);
    DWORD returned;
    return DeviceIoControl(handle, FSCTL_DELETE_REPARSE_POINT, header, size, NULL, 0,
                           &returned, NULL);
  }
};

// --- Names: Win32 normalisation against "\\?\" names taken literally.

struct NameCase {
  const char* name;
  const char* expected;  // attributes, or "error=N"
};

TEST_F(SimulatedWindowsTest, NamesAreReadAsWindowsReadsThem) {
  simwin::MakeFolder("C:\\D\\Sub");
  simwin::MakeFolder("C:\\D \\X");
  simwin::MakeFolder("C:\\Trail. ");
  simwin::MakeFile("C:\\D\\f.txt");
  simwin::SetCurrentFolder("C:\\D");
  const NameCase cases[] = {
      {"C:\\D\\Sub", "0x10"},
      {"c:\\d\\SUB", "0x10"},              // case ignored
      {"C:/D/Sub", "0x10"},                // "/" separates
      {"C:\\D\\.\\Sub\\..\\Sub", "0x10"},  // dots resolved
      {"C:\\D\\\\Sub", "0x10"},            // doubled separator
      {"C:\\D\\Sub. . ", "0x10"},          // last element trimmed
      {"C:\\D \\X", "0x10"},               // an intermediate element is not
      {"C:\\D\\X", "error=2"},
      {"C:\\Trail. ", "error=2"},          // trimmed to "C:\Trail"
      {"Sub", "0x10"},                     // relative to the current folder
      {"C:Sub", "0x10"},                   // current folder of C:
      {"\\D\\Sub", "0x10"},                // root of the current drive
      {"C:\\D\\f.txt\\x", "error=3"},      // a file on the way
      {"C:\\Nope\\x", "error=3"},
      {"C:\\D\\Sub\\*", "error=123"},
      {"C:\\", "0x16"},
      {"Q:\\x", "error=3"},                // no such drive
      {"\\\\?\\C:\\D\\Sub", "0x10"},
      {"\\\\?\\c:\\d\\sub", "0x10"},
      {"\\\\?\\C:\\D\\Sub.", "error=2"},   // kept as written
      {"\\\\?\\C:\\Trail. ", "0x10"},
      {"\\\\?\\C:\\D\\.\\Sub", "error=123"},
      {"\\\\?\\C:/D/Sub", "error=2"},     // "C:/D/Sub" is no drive
      {"\\\\?\\C:\\D/Sub", "error=123"},
      {"\\\\?\\D\\Sub", "error=3"},        // relative names fail
      {"\\\\?\\Sub", "error=2"},
  };
  for (const NameCase& c : cases)
    EXPECT_EQ(c.expected, Attributes(c.name)) << c.name;
}

TEST_F(SimulatedWindowsTest, LongNamesFailOnlyWithoutThePrefix) {
  std::string folder = "C:\\" + std::string(200, 'a') + "\\" + std::string(50, 'b');
  simwin::MakeFolder(folder);                      // 254 characters
  EXPECT_EQ("0x10", Attributes(folder));
  EXPECT_EQ("error=2", Attributes(folder + "\\1234"));     // 259: still looked up
  EXPECT_EQ("error=206", Attributes(folder + "\\12345"));  // 260
  EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, simwin::CurrentLastError());
  EXPECT_EQ("error=3", List(folder + "\\12\\*")[0]);       // pattern of 259
  EXPECT_EQ("error=206", List(folder + "\\123\\*")[0]);    // pattern of 260
  EXPECT_EQ((std::vector<std::string>{".", ".."}), List(folder + "\\*"));  // 256
  std::string longer = folder + "\\" + std::string(100, 'c');
  simwin::MakeFolder(longer);
  EXPECT_EQ("error=206", Attributes(longer));
  EXPECT_EQ("0x10", Attributes("\\\\?\\" + longer));
  // Relative names are measured once made absolute.
  simwin::SetCurrentFolder(folder);
  EXPECT_EQ("error=206", Attributes("123456"));
}

// --- Searches.

TEST_F(SimulatedWindowsTest, ListingGivesDotsExceptAtRootsThenTheOrderSet) {
  simwin::MakeFolder("C:\\D\\Old");
  simwin::MakeFile("C:\\D\\report.txt");
  simwin::MakeFolder("C:\\D\\Link");
  EXPECT_EQ((std::vector<std::string>{".", "..", "Old", "report.txt", "Link"}),
            List("C:\\D\\*"));
  simwin::SetListingOrder("C:\\D", {"link", "Old"});
  EXPECT_EQ((std::vector<std::string>{".", "..", "Link", "Old", "report.txt"}),
            List("C:\\D\\*"));
  EXPECT_EQ((std::vector<std::string>{"D"}), List("C:\\*"));
  simwin::AddDrive('E');
  EXPECT_EQ("error=2", List("E:\\*")[0]);  // an empty root has nothing at all
}

TEST_F(SimulatedWindowsTest, SearchRecordCarriesAttributesAndNameOnly) {
  simwin::MakeFile("C:\\D\\f", "", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  WIN32_FIND_DATAA data;
  memset(&data, 0x5A, sizeof data);
  HANDLE search = FindFirstFileA("C:\\D\\f*", &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE), data.dwFileAttributes);
  EXPECT_STREQ("f", data.cFileName);
  EXPECT_EQ(0u, data.nFileSizeLow);
  EXPECT_EQ(0u, data.ftLastWriteTime.dwLowDateTime);
  EXPECT_EQ('\0', data.cAlternateFileName[0]);
  EXPECT_FALSE(FindNextFileA(search, &data));
  EXPECT_EQ(ERROR_NO_MORE_FILES, simwin::CurrentLastError());
  EXPECT_TRUE(FindClose(search));
}

struct PatternCase {
  const char* pattern;
  std::vector<std::string> names;
};

TEST_F(SimulatedWindowsTest, WildcardsMatchTheLastElementOnly) {
  for (const char* name : {"abc", "abd", "ab", "xbc", "ABC.txt"})
    simwin::MakeFile(std::string("C:\\D\\") + name);
  const PatternCase cases[] = {
      {"C:\\D\\ab?", {"abc", "abd"}},
      {"C:\\D\\a*", {"abc", "abd", "ab", "ABC.txt"}},
      {"C:\\D\\*c*", {"abc", "xbc", "ABC.txt"}},
      {"C:\\D\\*.*", {".", "..", "abc", "abd", "ab", "xbc", "ABC.txt"}},
      {"C:\\D\\abc", {"abc"}},
      {"C:\\D\\ABD", {"abd"}},
      {"C:\\D\\zz*", {"error=2"}},  // the folder is there, nothing matches
      {"C:\\D\\zz", {"error=2"}},
      {"C:\\X\\*", {"error=3"}},    // no such folder
      {"C:\\D\\abc\\*", {"error=3"}},
      {"C:\\*\\abc", {"error=123"}},
      {"C:\\D\\", {"error=2"}},
  };
  for (const PatternCase& c : cases)
    EXPECT_EQ(c.names, List(c.pattern)) << c.pattern;
}

TEST_F(SimulatedWindowsTest, EntryRemovedDuringListingIsNotReported) {
  for (const char* name : {"a", "b", "c"})
    simwin::MakeFolder(std::string("C:\\D\\") + name);
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA("C:\\D\\*", &data);  // "."
  ASSERT_TRUE(FindNextFileA(search, &data));           // ".."
  ASSERT_TRUE(FindNextFileA(search, &data));
  EXPECT_STREQ("a", data.cFileName);
  ASSERT_TRUE(RemoveDirectoryA("C:\\D\\b"));
  ASSERT_TRUE(FindNextFileA(search, &data));
  EXPECT_STREQ("c", data.cFileName);
  EXPECT_FALSE(FindNextFileA(search, &data));
  EXPECT_TRUE(FindClose(search));
}

TEST_F(SimulatedWindowsTest, PathsPassThroughLinksButNotAtTheirEnd) {
  simwin::MakeFile("C:\\T\\Target\\inside.txt");
  simwin::MakeJunction("C:\\D\\Link", "C:\\T\\Target");
  simwin::MakeDirectorySymlink("C:\\D\\Sym", "..\\T\\Target");
  simwin::MakeJunction("C:\\D\\Dangling", "C:\\Gone");
  simwin::MountVolume("C:\\D\\Mnt", "\\\\?\\Volume{1234}\\");
  simwin::MakeFolder("\\\\?\\Volume{1234}\\OnVolume");
  simwin::MakeReparseFolder("C:\\D\\Cloud", kCloudTag, "placeholder");
  simwin::MakeFile("C:\\D\\Cloud\\cached.txt");
  EXPECT_EQ("0x410", Attributes("C:\\D\\Link"));
  EXPECT_EQ("0x410", Attributes("C:\\D\\Dangling"));
  EXPECT_EQ("0x20", Attributes("C:\\D\\Link\\inside.txt"));
  EXPECT_EQ((std::vector<std::string>{".", "..", "inside.txt"}), List("C:\\D\\Link\\*"));
  EXPECT_EQ((std::vector<std::string>{".", "..", "inside.txt"}), List("C:\\D\\Sym\\*"));
  EXPECT_EQ("error=3", List("C:\\D\\Dangling\\*")[0]);
  EXPECT_EQ("error=3", Attributes("C:\\D\\Dangling\\x"));
  EXPECT_EQ((std::vector<std::string>{"OnVolume"}), List("C:\\D\\Mnt\\*"));
  EXPECT_EQ((std::vector<std::string>{".", "..", "cached.txt"}), List("C:\\D\\Cloud\\*"));
}

// --- Opening and deleting the reparse point.

TEST_F(SimulatedWindowsTest, DeletingMountPointLeavesPlainEmptyFolderAndTarget) {
  simwin::MakeFile("C:\\T\\Target\\inside.txt", "data");
  simwin::MakeJunction("C:\\D\\Link", "C:\\T\\Target");
  std::string targetBefore = simwin::Snapshot("C:\\T");
  HANDLE link = OpenLink("\\\\?\\C:\\D\\Link");
  ASSERT_NE(INVALID_HANDLE_VALUE, link);
  EXPECT_TRUE(DeleteMountPointData(link));
  EXPECT_TRUE(CloseHandle(link));
  simwin::Entry entry = simwin::Inspect("C:\\D\\Link");
  EXPECT_TRUE(entry.exists);
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), entry.attributes);
  EXPECT_EQ(0u, entry.reparseTag);
  EXPECT_EQ("", entry.reparseData);
  EXPECT_EQ((std::vector<std::string>{".", ".."}), List("C:\\D\\Link\\*"));
  EXPECT_EQ(targetBefore, simwin::Snapshot("C:\\T"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\D\\Link"));
  EXPECT_FALSE(simwin::Inspect("C:\\D\\Link").exists);
}

TEST_F(SimulatedWindowsTest, VolumeMountPointIsDeletedLikeAJunction) {
  simwin::MountVolume("C:\\D\\Mnt", "\\\\?\\Volume{5678}\\");
  simwin::MakeFile("\\\\?\\Volume{5678}\\data.txt", "kept");
  HANDLE mount = OpenLink("\\\\?\\C:\\D\\Mnt");
  ASSERT_NE(INVALID_HANDLE_VALUE, mount);
  EXPECT_TRUE(DeleteMountPointData(mount));
  CloseHandle(mount);
  EXPECT_EQ((std::vector<std::string>{".", ".."}), List("C:\\D\\Mnt\\*"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\D\\Mnt"));
  EXPECT_EQ("kept", simwin::Inspect("\\\\?\\Volume{5678}\\data.txt").content);
}

struct DeleteCase {
  const char* what;
  bool symlink;  // else a junction
  DWORD requestTag;
  DWORD size;
  WORD dataLength;
  DWORD access;
  DWORD expectedError;
};

TEST_F(SimulatedWindowsTest, DeleteRequestRefusalsChangeNothing) {
  const DWORD mount = IO_REPARSE_TAG_MOUNT_POINT;
  const DeleteCase cases[] = {
      {"symbolic link", true, mount, 8, 0, kReadWrite, ERROR_REPARSE_TAG_MISMATCH},
      {"16 bytes", false, mount, 16, 0, kReadWrite, ERROR_INVALID_PARAMETER},
      {"4 bytes", false, mount, 4, 0, kReadWrite, ERROR_INVALID_PARAMETER},
      {"data length", false, mount, 8, 8, kReadWrite, ERROR_INVALID_REPARSE_DATA},
      {"tag 0", false, 0, 8, 0, kReadWrite, ERROR_REPARSE_TAG_INVALID},
      {"no write access", false, mount, 8, 0, GENERIC_READ, ERROR_ACCESS_DENIED},
  };
  for (const DeleteCase& c : cases) {
    simwin::Reset();
    simwin::MakeFolder("C:\\T");
    if (c.symlink)
      simwin::MakeDirectorySymlink("C:\\D\\L", "C:\\T");
    else
      simwin::MakeJunction("C:\\D\\L", "C:\\T");
    std::string before = simwin::SnapshotAll();
    HANDLE link = OpenLink("C:\\D\\L", c.access);
    ASSERT_NE(INVALID_HANDLE_VALUE, link) << c.what;
    EXPECT_FALSE(DeleteMountPointData(link, c.requestTag, c.size, c.dataLength)) << c.what;
    EXPECT_EQ(c.expectedError, simwin::CurrentLastError()) << c.what;
    EXPECT_TRUE(CloseHandle(link));
    EXPECT_EQ(before, simwin::SnapshotAll()) << c.what;
  }
}

TEST_F(SimulatedWindowsTest, DeleteOnPlainFolderOrThroughTheLinkIsNotAReparsePoint) {
  simwin::MakeFolder("C:\\T");
  simwin::MakeJunction("C:\\D\\L", "C:\\T");
  // Without FILE_FLAG_OPEN_REPARSE_POINT the open reaches the target.
  HANDLE target = CreateFileA("C:\\D\\L", kReadWrite, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, target);
  EXPECT_FALSE(DeleteMountPointData(target));
  EXPECT_EQ(DWORD(ERROR_NOT_A_REPARSE_POINT), simwin::CurrentLastError());
  CloseHandle(target);
  EXPECT_EQ(IO_REPARSE_TAG_MOUNT_POINT, simwin::Inspect("C:\\D\\L").reparseTag);
}

TEST_F(SimulatedWindowsTest, OpeningOutcomes) {
  simwin::MakeFolder("C:\\D\\Plain");
  simwin::MakeJunction("C:\\D\\Dangling", "C:\\Gone");
  simwin::MakeFile("C:\\D\\f.txt");
  auto open = [](const char* name, DWORD disposition, DWORD flags) {
    HANDLE handle = CreateFileA(name, kReadWrite, 0, NULL, disposition, flags, NULL);
    if (handle == INVALID_HANDLE_VALUE)
      return simwin::CurrentLastError();
    CloseHandle(handle);
    return DWORD(0);
  };
  EXPECT_EQ(0u, open("C:\\D\\Plain", OPEN_EXISTING, kOpenLinkFlags));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), open("C:\\D\\Plain", OPEN_EXISTING, 0));
  EXPECT_EQ(0u, open("C:\\D\\f.txt", OPEN_EXISTING, 0));
  EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), open("C:\\D\\Plain", 4, kOpenLinkFlags));
  // The link itself is reached even when its target is gone.
  EXPECT_EQ(0u, open("\\\\?\\C:\\D\\Dangling", OPEN_EXISTING, kOpenLinkFlags));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND),
            open("C:\\D\\Dangling", OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), open("C:\\D\\None", OPEN_EXISTING, kOpenLinkFlags));
  EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), open("C:\\X\\None", OPEN_EXISTING, kOpenLinkFlags));
  EXPECT_EQ(0, simwin::OpenHandleCount());
}

TEST_F(SimulatedWindowsTest, NoSharingMeansSharingViolation) {
  simwin::MakeJunction("C:\\D\\L", "C:\\T");
  simwin::MakeJunction("C:\\D\\Held", "C:\\T");
  simwin::HoldOpen("C:\\D\\Held");
  HANDLE first = OpenLink("C:\\D\\L");
  ASSERT_NE(INVALID_HANDLE_VALUE, first);
  EXPECT_EQ(INVALID_HANDLE_VALUE, OpenLink("\\\\?\\C:\\D\\L"));
  EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), simwin::CurrentLastError());
  EXPECT_FALSE(RemoveDirectoryA("C:\\D\\L"));
  EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), simwin::CurrentLastError());
  EXPECT_TRUE(CloseHandle(first));
  HANDLE again = OpenLink("C:\\D\\L");
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  CloseHandle(again);

  EXPECT_EQ(INVALID_HANDLE_VALUE, OpenLink("C:\\D\\Held"));
  EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), simwin::CurrentLastError());
  simwin::ReleaseHold("C:\\D\\Held");
  HANDLE released = OpenLink("C:\\D\\Held");
  EXPECT_NE(INVALID_HANDLE_VALUE, released);
  CloseHandle(released);
}

struct RemoveCase {
  const char* path;
  DWORD expectedError;  // 0: removed
};

TEST_F(SimulatedWindowsTest, RemoveDirectoryOutcomes) {
  simwin::MakeFolder("C:\\D\\Empty");
  simwin::MakeFile("C:\\D\\Full\\f.txt");
  simwin::MakeFile("C:\\D\\f.txt");
  simwin::MakeFolder("C:\\D\\Held");
  simwin::HoldOpen("C:\\D\\Held");
  simwin::MakeFolder("C:\\D\\ReadOnly", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
  simwin::MakeFile("C:\\T\\Target\\inside.txt");
  simwin::MakeJunction("C:\\D\\Link", "C:\\T\\Target");
  simwin::MakeDirectorySymlink("C:\\D\\Sym", "C:\\T\\Target");
  const RemoveCase cases[] = {
      {"C:\\D\\Empty", 0},
      {"C:\\D\\Full", ERROR_DIR_NOT_EMPTY},
      {"C:\\D\\f.txt", 267},
      {"C:\\D\\Held", ERROR_SHARING_VIOLATION},
      {"C:\\D\\ReadOnly", ERROR_ACCESS_DENIED},
      {"C:\\D\\Missing", ERROR_FILE_NOT_FOUND},
      {"C:\\X\\Missing", ERROR_PATH_NOT_FOUND},
      {"C:\\", ERROR_ACCESS_DENIED},
      {"C:\\D\\Link", 0},  // the link goes, its target stays
      {"C:\\D\\Sym", 0},
  };
  std::string target = simwin::Snapshot("C:\\T");
  for (const RemoveCase& c : cases) {
    bool existed = simwin::Inspect(c.path).exists;
    BOOL removed = RemoveDirectoryA(c.path);
    EXPECT_EQ(c.expectedError == 0, removed != FALSE) << c.path;
    if (c.expectedError) {
      EXPECT_EQ(c.expectedError, simwin::CurrentLastError()) << c.path;
    }
    EXPECT_EQ(existed && c.expectedError != 0, simwin::Inspect(c.path).exists) << c.path;
  }
  EXPECT_EQ(target, simwin::Snapshot("C:\\T"));
}

// --- Fault injection.

TEST_F(SimulatedWindowsTest, FaultHitsOnlyTheNthCallOnItsPath) {
  simwin::MakeFolder("C:\\D\\A");
  simwin::MakeFolder("C:\\D\\B");
  simwin::FailCall("GetFileAttributesA", ERROR_ACCESS_DENIED, "c:/d/a", 2);
  EXPECT_EQ("0x10", Attributes("C:\\D\\A"));
  EXPECT_EQ("0x10", Attributes("C:\\D\\B"));                // not counted
  EXPECT_EQ("error=5", Attributes("\\\\?\\C:\\D\\A"));  // the 2nd on C:\D\A
  EXPECT_EQ("0x10", Attributes("C:\\D\\A"));
}

TEST_F(SimulatedWindowsTest, FailedCallChangesNothing) {
  simwin::MakeFolder("C:\\T");
  simwin::MakeJunction("C:\\D\\L", "C:\\T");
  simwin::FailCall("DeviceIoControl", ERROR_PRIVILEGE_NOT_HELD, "C:\\D\\L");
  simwin::FailCall("RemoveDirectoryA", ERROR_SHARING_VIOLATION);
  simwin::FailCall("CreateFileA", ERROR_ACCESS_DENIED, "C:\\D\\Other");
  std::string before = simwin::SnapshotAll();
  HANDLE link = OpenLink("\\\\?\\C:\\D\\L");
  ASSERT_NE(INVALID_HANDLE_VALUE, link);
  EXPECT_FALSE(DeleteMountPointData(link));
  EXPECT_EQ(DWORD(ERROR_PRIVILEGE_NOT_HELD), simwin::CurrentLastError());
  CloseHandle(link);
  EXPECT_FALSE(RemoveDirectoryA("C:\\T"));
  EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), simwin::CurrentLastError());
  EXPECT_EQ(before, simwin::SnapshotAll());
  // The first search failing at once issues no handle.
  simwin::FailCall("FindFirstFileA", ERROR_ACCESS_DENIED, "", 1);
  EXPECT_EQ("error=5", List("C:\\*")[0]);
  EXPECT_EQ((std::vector<std::string>{"T", "D"}), List("C:\\*"));
  EXPECT_EQ(0, simwin::OpenSearchCount());
}

TEST_F(SimulatedWindowsTest, FaultCanEndAListingEarly) {
  for (const char* name : {"a", "b"})
    simwin::MakeFolder(std::string("C:\\D\\") + name);
  simwin::FailCall("FindNextFileA", ERROR_NOT_ENOUGH_MEMORY, "C:\\D\\*", 3);
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA("C:\\D\\*", &data);
  EXPECT_TRUE(FindNextFileA(search, &data));
  EXPECT_TRUE(FindNextFileA(search, &data));
  EXPECT_FALSE(FindNextFileA(search, &data));
  EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), simwin::CurrentLastError());
  EXPECT_TRUE(FindNextFileA(search, &data));
  EXPECT_STREQ("b", data.cFileName);
  FindClose(search);
}

// --- System message texts.

struct FormatCase {
  DWORD flags;
  DWORD code;
  DWORD size;
  DWORD expectedResult;
  DWORD expectedError;  // when the result is 0
  const char* expectedText;
};

TEST_F(SimulatedWindowsTest, FormatMessageFromTheSystemTable) {
  const DWORD system = FORMAT_MESSAGE_FROM_SYSTEM;
  const DWORD ignoreInserts = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const FormatCase cases[] = {
      {system, 5, 255, 19, 0, "Access is denied.\r\n"},
      {system, 0, 255, 39, 0, "The operation completed successfully.\r\n"},
      {system, 4394, 255, 104, 0,
       "There is a mismatch between the tag specified in the request and the tag "
       "present in the reparse point.\r\n"},
      {system, 5, 20, 19, 0, "Access is denied.\r\n"},      // the NUL just fits
      {system, 5, 19, 0, ERROR_INSUFFICIENT_BUFFER, "Access is denied.\r\n"},  // no NUL
      {system, 12345, 255, 0, ERROR_MR_MID_NOT_FOUND, ""},
      {system, 193, 255, 0, ERROR_INVALID_PARAMETER, ""},      // an insert, no arguments
      {ignoreInserts, 193, 255, 38, 0, "%1 is not a valid Win32 application.\r\n"},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.code);
    char buffer[300] = {};
    DWORD result = FormatMessageA(c.flags, NULL, c.code, 0, buffer, c.size, NULL);
    EXPECT_EQ(c.expectedResult, result);
    if (result == 0) {
      EXPECT_EQ(c.expectedError, simwin::CurrentLastError());
    }
    EXPECT_STREQ(c.expectedText, buffer);
  }
}

TEST_F(SimulatedWindowsTest, FormatMessageWritesNothingBeyondTheSizeGiven) {
  simwin::SetSystemText(7, std::string(300, 'x'));
  char buffer[300];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, 7, 0, buffer, 255, NULL));
  EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), simwin::CurrentLastError());
  EXPECT_EQ(std::string(255, 'x') + std::string(45, '#'), std::string(buffer, 300));
}

TEST_F(SimulatedWindowsTest, FormatMessageLanguagesAndRegisteredTexts) {
  simwin::SetSystemText(5, "Zugriff verweigert.\r\n");
  char buffer[256] = {};
  EXPECT_EQ(21u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, 5, 0x409, buffer, 255, NULL));
  EXPECT_STREQ("Zugriff verweigert.\r\n", buffer);
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, 5, 0x407, buffer, 255, NULL));
  EXPECT_EQ(15100u, simwin::CurrentLastError());
}

// --- The trace.

TEST_F(SimulatedWindowsTest, TraceShowsEveryCallInItsFormat) {
  simwin::MakeFolder("C:\\T");
  simwin::MakeJunction("C:\\D\\L", "C:\\T");
  simwin::PostThreadMessage(WM_QUIT);
  WIN32_FIND_DATAA data;
  MSG msg;
  HANDLE search = FindFirstFileA("C:\\D\\*", &data);
  FindFirstFileA("C:\\X\\*", &data);
  while (FindNextFileA(search, &data)) {
  }
  FindClose(search);
  GetFileAttributesA("C:\\D\\L");
  HANDLE link = OpenLink("\\\\?\\C:\\D\\L");
  DeleteMountPointData(link);
  CloseHandle(link);
  CloseHandle(link);
  GetLastError();
  UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  RemoveDirectoryA("C:\\D\\L");
  SetErrorMode(previous);
  char buffer[256];
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, 5, 0, buffer, 255, NULL);
  Sleep(5);
  MessageBoxA(NULL, "text", "Ostravel", MB_TASKMODAL | MB_SETFOREGROUND);
  PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE);
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE);
  CoInitialize(NULL);
  CoInitialize(NULL);
  CoUninitialize();
  simwin::SetCommandLine("Ostravel.exe D:\\PQ");
  GetCommandLineA();
  const std::vector<std::string> expected = {
      "FindFirstFileA(\"C:\\D\\*\") -> h1",
      "FindFirstFileA(\"C:\\X\\*\") -> INVALID_HANDLE_VALUE; error=3",
      "FindNextFileA(h1) -> 1 \"..\"",
      "FindNextFileA(h1) -> 1 \"L\"",
      "FindNextFileA(h1) -> 0; error=18",
      "FindClose(h1) -> 1",
      "GetFileAttributesA(\"C:\\D\\L\") -> 0x410",
      "CreateFileA(\"\\\\?\\C:\\D\\L\", 0xC0000000, 0, NULL, 3, 0x2200000, NULL) -> h2",
      "DeviceIoControl(h2, 0x900AC, [03 00 00 A0 00 00 00 00], 8, NULL, 0) -> 1",
      "CloseHandle(h2) -> 1",
      "CloseHandle(h2) -> 0; error=6",
      "GetLastError() -> 6",
      "SetErrorMode(0x8001) -> 0x0",
      "RemoveDirectoryA(\"C:\\D\\L\") -> 1",
      "SetErrorMode(0x0) -> 0x8001",
      "FormatMessageA(0x1000, NULL, 5, 0, 255) -> 19",
      "Sleep(5)",
      "MessageBoxA(NULL, \"text\", \"Ostravel\", 0x12000) -> 1",
      "PeekMessageA(NULL, 0, 0, 0x1) -> 1 0x12",
      "TranslateMessage(0x12) -> 0",
      "DispatchMessageA(0x12) -> 0",
      "PeekMessageA(NULL, 0, 0, 0x1) -> 0",
      "CoInitialize(NULL) -> 0x0",
      "CoInitialize(NULL) -> 0x1",
      "CoUninitialize()",
      "GetCommandLineA() -> \"Ostravel.exe D:\\PQ\"",
  };
  EXPECT_EQ(expected, simwin::Trace());
  EXPECT_EQ((std::vector<std::string>{"Sleep(5)", "CoUninitialize()"}),
            simwin::TraceOf({"CoUninitialize", "Sleep"}));
}

TEST_F(SimulatedWindowsTest, HandleNumbersStartAgainAfterReset) {
  simwin::MakeFolder("C:\\D");
  WIN32_FIND_DATAA data;
  FindClose(FindFirstFileA("C:\\D\\*", &data));
  simwin::Reset();
  simwin::MakeFolder("C:\\D");
  FindClose(FindFirstFileA("C:\\D\\*", &data));
  EXPECT_EQ("FindFirstFileA(\"C:\\D\\*\") -> h1", simwin::Trace()[0]);
}

TEST_F(SimulatedWindowsTest, LeakCountersFollowOpensAndCloses) {
  simwin::MakeJunction("C:\\D\\L", "C:\\T");
  WIN32_FIND_DATAA data;
  HANDLE outer = FindFirstFileA("C:\\*", &data);
  HANDLE inner = FindFirstFileA("C:\\D\\*", &data);
  HANDLE link = OpenLink("C:\\D\\L");
  EXPECT_EQ(2, simwin::OpenSearchCount());
  EXPECT_EQ(1, simwin::OpenHandleCount());
  EXPECT_FALSE(CloseHandle(inner));  // a search is not closed this way
  EXPECT_FALSE(FindClose(link));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), simwin::CurrentLastError());
  EXPECT_TRUE(FindClose(inner));
  EXPECT_FALSE(FindClose(inner));
  EXPECT_TRUE(CloseHandle(link));
  EXPECT_EQ(1, simwin::OpenSearchCount());
  EXPECT_EQ(0, simwin::OpenHandleCount());
  EXPECT_TRUE(FindClose(outer));
  EXPECT_EQ(0, simwin::OpenSearchCount());
}

// --- Process and user side.

TEST_F(SimulatedWindowsTest, ProcessServices) {
  simwin::SetCommandLine("\"C:\\Tools\\Ostravel.exe\" D:\\PQ");
  const char* first = GetCommandLineA();
  EXPECT_STREQ("\"C:\\Tools\\Ostravel.exe\" D:\\PQ", first);
  EXPECT_EQ(first, GetCommandLineA());
  EXPECT_EQ(0u, SetErrorMode(0x8001));
  EXPECT_EQ(0x8001u, simwin::CurrentErrorMode());
  EXPECT_FALSE(simwin::ComInitialized());
  CoInitialize(NULL);
  EXPECT_TRUE(simwin::ComInitialized());
  CoUninitialize();
  EXPECT_FALSE(simwin::ComInitialized());
  simwin::OnExitProcess([](UINT code) { throw simwin::ProcessExit{code}; });
  try {
    ExitProcess(3);
    ADD_FAILURE() << "ExitProcess returned";
  } catch (const simwin::ProcessExit& exit) {
    EXPECT_EQ(3u, exit.code);
  }
  EXPECT_EQ("ExitProcess(3)", simwin::Trace().back());
}

TEST_F(SimulatedWindowsTest, DefaultExitEndsTheProcessWithTheCode) {
  EXPECT_EXIT(ExitProcess(7), ::testing::ExitedWithCode(7), "");
}

TEST_F(SimulatedWindowsTest, BoxesAreRecordedWithScriptedResultsAndVirtualTime) {
  simwin::ScriptBoxResults({0});
  std::vector<uint64_t> seenAt;
  simwin::OnBoxShown([&seenAt](const simwin::Box& box) { seenAt.push_back(box.shownAt); });
  Sleep(40);
  EXPECT_EQ(0, MessageBoxA(NULL, "a", "c", 0));
  Sleep(2);
  EXPECT_EQ(IDOK, MessageBoxA(NULL, "b", "c", 0));
  ASSERT_EQ(2u, simwin::Boxes().size());
  EXPECT_EQ(0, simwin::Boxes()[0].result);
  EXPECT_EQ("b", simwin::Boxes()[1].text);
  EXPECT_EQ(42u, simwin::Boxes()[1].shownAt);
  EXPECT_EQ(std::vector<uint64_t>{42}, seenAt);  // a failed box is never on screen
  EXPECT_EQ(42u, simwin::VirtualMilliseconds());
}

TEST_F(SimulatedWindowsTest, PeekMessageHonoursFilterAndRemoval) {
  simwin::PostThreadMessage(WM_USER + 1, 7);
  simwin::PostThreadMessage(WM_TIMER);
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, NULL, WM_TIMER, WM_TIMER, PM_NOREMOVE));
  EXPECT_EQ(UINT(WM_TIMER), msg.message);
  EXPECT_EQ(2u, simwin::QueuedMessageCount());
  EXPECT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
  EXPECT_EQ(UINT(WM_USER + 1), msg.message);
  EXPECT_EQ(7u, msg.wParam);
  EXPECT_EQ(1u, simwin::QueuedMessageCount());
}

TEST_F(SimulatedWindowsTest, TracingOffKeepsNoLinesButCallsStillWork) {
  simwin::MakeFolder("C:\\D");
  simwin::SetTracing(false);
  EXPECT_EQ("0x10", Attributes("C:\\D"));
  Sleep(1);
  EXPECT_TRUE(simwin::Trace().empty());
  EXPECT_EQ(1u, simwin::VirtualMilliseconds());
  simwin::SetTracing(true);
  Sleep(1);
  EXPECT_EQ(std::vector<std::string>{"Sleep(1)"}, simwin::Trace());
  simwin::SetTracing(false);
  simwin::Reset();  // back to tracing
  Sleep(1);
  EXPECT_EQ(1u, simwin::Trace().size());
}

}  // namespace
