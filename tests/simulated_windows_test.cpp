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
