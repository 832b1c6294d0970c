// The junction test, the break and the removal, seen through the calls
// they make and what is left on the disk.
#include "sweep/junction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>

#include "sweep_fixture.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

class JunctionTest : public SimulatedMachine {};

const std::vector<std::string> kFileSystemCalls = {
    "GetFileAttributesA", "CreateFileA", "DeviceIoControl", "CloseHandle",
    "SetErrorMode",       "RemoveDirectoryA"};

std::vector<std::string> FileSystemTrace() { return simwin::TraceOf(kFileSystemCalls); }

// --- IsJunctionPoint

struct AttributeCase {
  const char* name;
  const char* asked;     // the path handed over
  const char* queried;   // the path the system is asked about
  int32_t expected;
};

class IsJunctionPointTest : public JunctionTest,
                            public ::testing::WithParamInterface<AttributeCase> {
 protected:
  void SetUp() override {
    JunctionTest::SetUp();
    simwin::MakeFolder("C:\\Target\\Inner");
    simwin::MakeJunction("C:\\J", "C:\\Target");
    simwin::MakeJunction("C:\\Dangling", "C:\\Gone");
    simwin::MakeDirectorySymlink("C:\\S", "C:\\Target");
    simwin::MakeReparseFolder("C:\\Other", 0x9000001A, "cloud");
    simwin::AddDrive('D');
    simwin::MountVolume("C:\\Mnt", "\\\\?\\Volume{1234}\\");
    simwin::MakeFolder("C:\\Plain", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    simwin::MakeFile("C:\\ReparseFile", "x", FILE_ATTRIBUTE_REPARSE_POINT);
    simwin::ClearTrace();
  }
};

TEST_P(IsJunctionPointTest, AsksOnceAboutThePathWithoutTrailingBackslashesAndSpaces) {
  const AttributeCase& c = GetParam();
  EXPECT_EQ(IsJunctionPoint(c.asked), c.expected);
  ASSERT_EQ(simwin::Trace().size(), 1u);
  EXPECT_EQ(simwin::Trace()[0].rfind("GetFileAttributesA(" + Quoted(c.queried) + ") -> ", 0), 0u)
      << simwin::Trace()[0];
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, IsJunctionPointTest,
    ::testing::Values(
        AttributeCase{"Junction", "C:\\J", "C:\\J", -1},
        AttributeCase{"TrailingBackslash", "C:\\J\\", "C:\\J", -1},
        AttributeCase{"TrailingMix", "C:\\J\\ \\\\  ", "C:\\J", -1},
        AttributeCase{"TrailingSpaces", "C:\\J   ", "C:\\J", -1},
        AttributeCase{"InnerSpaceKept", "C:\\Target\\Inner \\", "C:\\Target\\Inner", 0},
        AttributeCase{"DanglingJunction", "C:\\Dangling", "C:\\Dangling", -1},
        AttributeCase{"DirectorySymlink", "C:\\S", "C:\\S", -1},
        AttributeCase{"OtherReparseTag", "C:\\Other", "C:\\Other", -1},
        AttributeCase{"MountedVolume", "C:\\Mnt", "C:\\Mnt", -1},
        AttributeCase{"OrdinaryFolder", "C:\\Plain", "C:\\Plain", 0},
        AttributeCase{"FolderBehindJunction", "C:\\J\\Inner", "C:\\J\\Inner", 0},
        AttributeCase{"FileWithReparseAttribute", "C:\\ReparseFile", "C:\\ReparseFile", -1},
        AttributeCase{"Missing", "C:\\Nothing", "C:\\Nothing", 0},
        AttributeCase{"MissingParent", "C:\\No\\Where", "C:\\No\\Where", 0},
        AttributeCase{"OnlySeparators", "\\\\ ", "", 0}),
    [](const ::testing::TestParamInfo<AttributeCase>& info) { return info.param.name; });

TEST_F(JunctionTest, UnreadableAttributesMeanNoJunction) {
  simwin::MakeJunction("C:\\J", "C:\\T");
  simwin::FailCall("GetFileAttributesA", ERROR_ACCESS_DENIED, "C:\\J");
  EXPECT_EQ(IsJunctionPoint("C:\\J"), 0);
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
}

// --- DeleteMountPoint

struct BreakCase {
  const char* name;
  void (*make)();
};

class BreakTest : public JunctionTest, public ::testing::WithParamInterface<BreakCase> {};

// Whatever the link leads to, the open reaches the link itself and the one
// request deletes its data; the target is left exactly as it was.
TEST_P(BreakTest, DeletesTheMountPointDataAndClosesTheHandle) {
  simwin::MakeFolder("C:\\Target\\Keep");
  simwin::MakeFile("C:\\Target\\file.txt", "data");
  simwin::AddDrive('D');
  GetParam().make();
  std::string untouched = simwin::Snapshot("C:\\Target") + simwin::Snapshot("D:\\");
  simwin::ClearTrace();

  EXPECT_EQ(DeleteMountPoint("C:\\Link"), 1);

  EXPECT_THAT(simwin::Trace(), ElementsAre(OpenLine("C:\\Link", "h1"),
                                           DeleteRequestLine("h1", "1"),
                                           "CloseHandle(h1) -> 1"));
  simwin::Entry link = simwin::Inspect("C:\\Link");
  EXPECT_TRUE(link.exists);
  EXPECT_EQ(link.attributes, DWORD(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(link.reparseTag, 0u);
  EXPECT_EQ(simwin::Snapshot("C:\\Target") + simwin::Snapshot("D:\\"), untouched);
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Links, BreakTest,
    ::testing::Values(
        BreakCase{"JunctionToFolder", [] { simwin::MakeJunction("C:\\Link", "C:\\Target"); }},
        BreakCase{"JunctionToOtherDrive", [] { simwin::MakeJunction("C:\\Link", "D:\\"); }},
        BreakCase{"JunctionWithMissingTarget",
                  [] { simwin::MakeJunction("C:\\Link", "C:\\Gone\\Away"); }},
        BreakCase{"MountedVolume",
                  [] {
                    simwin::MountVolume("C:\\Link", "\\\\?\\Volume{42}\\");
                    simwin::MakeFolder("\\\\?\\Volume{42}\\OnVolume");
                  }}),
    [](const ::testing::TestParamInfo<BreakCase>& info) { return info.param.name; });

TEST_F(JunctionTest, PathIsUsedUnchangedForTheOpen) {
  simwin::MakeJunction("C:\\Link", "C:\\T");
  simwin::ClearTrace();
  EXPECT_EQ(DeleteMountPoint("C:\\Link "), 0);
  EXPECT_EQ(simwin::Trace()[0],
            OpenLine("C:\\Link ", "INVALID_HANDLE_VALUE; error=2"));
  EXPECT_EQ(simwin::Inspect("C:\\Link").reparseTag, IO_REPARSE_TAG_MOUNT_POINT);
}

struct OpenFailure {
  const char* name;
  const char* path;
  DWORD error;
  void (*arrange)();
};

class OpenFailureTest : public JunctionTest,
                        public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, OneNoticeWithTheCodeAndNothingToClose) {
  const OpenFailure& c = GetParam();
  simwin::MakeJunction("C:\\Link", "C:\\Target");
  simwin::MakeFolder("C:\\Target");
  c.arrange();
  std::string before = simwin::SnapshotAll();
  simwin::ClearTrace();

  EXPECT_EQ(DeleteMountPoint(c.path), 0);

  EXPECT_THAT(FileSystemTrace(),
              ElementsAre(OpenLine(c.path, "INVALID_HANDLE_VALUE; error=" +
                                               std::to_string(c.error))));
  ASSERT_EQ(simwin::Boxes().size(), 1u);
  EXPECT_EQ(simwin::Boxes()[0].text, SystemErrorText(c.error));
  EXPECT_EQ(simwin::Boxes()[0].caption, "Ostravel");
  EXPECT_EQ(simwin::Boxes()[0].style, 0x12000u);
  EXPECT_EQ(simwin::SnapshotAll(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, OpenFailureTest,
    ::testing::Values(
        OpenFailure{"HeldOpenElsewhere", "C:\\Link", ERROR_SHARING_VIOLATION,
                    [] { simwin::HoldOpen("C:\\Link"); }},
        OpenFailure{"AccessDenied", "C:\\Link", ERROR_ACCESS_DENIED,
                    [] { simwin::FailCall("CreateFileA", ERROR_ACCESS_DENIED, "\\\\?\\C:\\Link"); }},
        OpenFailure{"Missing", "C:\\Nothing", ERROR_FILE_NOT_FOUND, [] {}},
        OpenFailure{"RelativePath", "Link", ERROR_FILE_NOT_FOUND, [] {}},
        OpenFailure{"UnknownCode", "C:\\Link", 0xE0001234u,
                    [] { simwin::FailCall("CreateFileA", 0xE0001234u); }}),
    [](const ::testing::TestParamInfo<OpenFailure>& info) { return info.param.name; });

struct RequestFailure {
  const char* name;
  DWORD error;
  void (*make)();
};

class RequestFailureTest : public JunctionTest,
                           public ::testing::WithParamInterface<RequestFailure> {};

// The user reads why while the folder is still held; it is let go after.
TEST_P(RequestFailureTest, NoticeWhileTheHandleIsOpenThenClosed) {
  const RequestFailure& c = GetParam();
  simwin::MakeFolder("C:\\Target");
  c.make();
  std::string before = simwin::SnapshotAll();
  std::vector<int> openDuringBox;
  simwin::OnBoxShown([&](const simwin::Box&) { openDuringBox.push_back(simwin::OpenHandleCount()); });
  std::string text = SystemErrorText(c.error);
  simwin::ClearTrace();

  EXPECT_EQ(DeleteMountPoint("C:\\Link"), 0);

  std::string code = std::to_string(c.error);
  EXPECT_THAT(FileSystemTrace(),
              ElementsAre(OpenLine("C:\\Link", "h1"),
                          DeleteRequestLine("h1", "0; error=" + code), "CloseHandle(h1) -> 1"));
  EXPECT_THAT(openDuringBox, ElementsAre(1));
  ASSERT_EQ(simwin::Boxes().size(), 1u);
  EXPECT_EQ(simwin::Boxes()[0].text, text);
  // The notice stands between the request and the close.
  const auto& trace = simwin::Trace();
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace[trace.size() - 2], NoticeLine(text));
  EXPECT_EQ(trace.back(), "CloseHandle(h1) -> 1");
  EXPECT_EQ(simwin::SnapshotAll(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, RequestFailureTest,
    ::testing::Values(
        RequestFailure{"DirectorySymlinkRefused", ERROR_REPARSE_TAG_MISMATCH,
                       [] { simwin::MakeDirectorySymlink("C:\\Link", "C:\\Target"); }},
        RequestFailure{"OtherTagRefused", ERROR_REPARSE_TAG_MISMATCH,
                       [] { simwin::MakeReparseFolder("C:\\Link", 0x9000001A, "x"); }},
        RequestFailure{"NotAReparsePoint", ERROR_NOT_A_REPARSE_POINT,
                       [] { simwin::MakeFolder("C:\\Link"); }},
        RequestFailure{"AccessDenied", ERROR_ACCESS_DENIED,
                       [] {
                         simwin::MakeJunction("C:\\Link", "C:\\Target");
                         simwin::FailCall("DeviceIoControl", ERROR_ACCESS_DENIED);
                       }}),
    [](const ::testing::TestParamInfo<RequestFailure>& info) { return info.param.name; });

// The whole failure course, call by call, from the request to the close.
TEST_F(JunctionTest, FailedRequestFullCourse) {
  simwin::MakeDirectorySymlink("C:\\Link", "C:\\Target");
  simwin::SetSystemText(4394, "Tag mismatch.\r\n");
  simwin::ClearTrace();
  EXPECT_EQ(DeleteMountPoint("C:\\Link"), 0);
  EXPECT_THAT(simwin::Trace(),
              ElementsAre(OpenLine("C:\\Link", "h1"), DeleteRequestLine("h1", "0; error=4394"),
                          "GetLastError() -> 4394", "FormatMessageA(0x1000, NULL, 4394, 0, 255) -> 15",
                          "Sleep(5)", NoticeLine("4394 Tag mismatch.\r\n"),
                          "CloseHandle(h1) -> 1"));
}

TEST_F(JunctionTest, FailedOpenFullCourse) {
  simwin::MakeJunction("C:\\Link", "C:\\Target");
  simwin::HoldOpen("C:\\Link");
  std::string text = SystemErrorText(ERROR_SHARING_VIOLATION);
  simwin::ClearTrace();
  EXPECT_EQ(DeleteMountPoint("C:\\Link"), 0);
  EXPECT_THAT(simwin::Trace(),
              ElementsAre(OpenLine("C:\\Link", "INVALID_HANDLE_VALUE; error=32"),
                          "GetLastError() -> 32",
                          "FormatMessageA(0x1000, NULL, 32, 0, 255) -> " +
                              std::to_string(text.size() - 3),
                          "Sleep(5)", NoticeLine(text)));
}

// A dismissed box that could not even be shown changes nothing for the caller.
TEST_F(JunctionTest, UnshownNoticeStillFails) {
  simwin::MakeDirectorySymlink("C:\\Link", "C:\\Target");
  simwin::ScriptBoxResults({0});
  EXPECT_EQ(DeleteMountPoint("C:\\Link"), 0);
  EXPECT_EQ(simwin::Boxes().size(), 1u);
  EXPECT_EQ(simwin::Inspect("C:\\Link").reparseTag, IO_REPARSE_TAG_SYMLINK);
}

TEST_F(JunctionTest, ExhaustedMemoryDuringTheNoticeStillClosesTheHandle) {
  simwin::MakeDirectorySymlink("C:\\Link", "C:\\Target");
  simwin::OnBoxShown([](const simwin::Box&) { throw std::bad_alloc(); });
  EXPECT_THROW(DeleteMountPoint("C:\\Link"), std::bad_alloc);
  EXPECT_EQ(simwin::Trace().back(), "CloseHandle(h1) -> 1");
}

// --- RemoveFolder

TEST_F(JunctionTest, RemovalRunsWithQuietErrorModeAndRestoresIt) {
  simwin::MakeFolder("C:\\Empty");
  SetErrorMode(0x4);
  simwin::ClearTrace();
  RemoveFolder("C:\\Empty");
  EXPECT_THAT(simwin::Trace(), ElementsAreArray(RemovalLines("C:\\Empty", "1", "0x4")));
  EXPECT_FALSE(simwin::Inspect("C:\\Empty").exists);
  EXPECT_EQ(simwin::CurrentErrorMode(), 0x4u);
}

TEST_F(JunctionTest, FailedRemovalIsSilentAndLeavesTheFolder) {
  simwin::MakeFile("C:\\Full\\f.txt");
  simwin::MakeFolder("C:\\Busy");
  simwin::HoldOpen("C:\\Busy");
  simwin::ClearTrace();
  RemoveFolder("C:\\Full");
  RemoveFolder("C:\\Busy");
  RemoveFolder("C:\\Missing");
  EXPECT_THAT(simwin::Trace(),
              ElementsAreArray(Lines({RemovalLines("C:\\Full", "0; error=145"),
                                      RemovalLines("C:\\Busy", "0; error=32"),
                                      RemovalLines("C:\\Missing", "0; error=2")})));
  EXPECT_TRUE(simwin::Inspect("C:\\Full").exists);
  EXPECT_TRUE(simwin::Inspect("C:\\Busy").exists);
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
  EXPECT_EQ(simwin::CurrentErrorMode(), 0u);
}

TEST_F(JunctionTest, RemovalPathIsUsedUnchanged) {
  simwin::MakeFolder("C:\\Empty");
  simwin::ClearTrace();
  RemoveFolder("C:\\Empty\\");
  EXPECT_EQ(simwin::TraceOf({"RemoveDirectoryA"}),
            std::vector<std::string>{"RemoveDirectoryA(\"C:\\Empty\\\") -> 1"});
}

// A path is never cut to fit: a cut path would name another folder.
TEST_F(JunctionTest, RemovalPathOfMoreThan255CharactersIsLeftAlone) {
  std::string base = "C:\\" + std::string(240, 'a') + "\\";
  std::string at255 = base + std::string(255 - base.size(), 'b');
  std::string at256 = base + std::string(256 - base.size(), 'c');
  simwin::MakeFolder(at255);
  simwin::MakeFolder(at256);
  simwin::MakeFolder(at256.substr(0, 255));  // what a cut path would name
  simwin::ClearTrace();

  RemoveFolder(at256);
  EXPECT_THAT(simwin::Trace(), IsEmpty());
  EXPECT_TRUE(simwin::Inspect(at256).exists);
  EXPECT_TRUE(simwin::Inspect(at256.substr(0, 255)).exists);

  RemoveFolder(at255);
  EXPECT_THAT(simwin::Trace(), ElementsAreArray(RemovalLines(at255, "1")));
  EXPECT_FALSE(simwin::Inspect(at255).exists);
}

// Break and removal together: the link goes, its target stays whole.
TEST_F(JunctionTest, BrokenJunctionIsRemovedAndItsTargetKept) {
  simwin::MakeFile("C:\\Target\\keep.txt", "keep");
  simwin::MakeJunction("C:\\Link", "C:\\Target");
  std::string target = simwin::Snapshot("C:\\Target");
  ASSERT_EQ(DeleteMountPoint("C:\\Link"), 1);
  RemoveFolder("C:\\Link");
  EXPECT_FALSE(simwin::Inspect("C:\\Link").exists);
  EXPECT_EQ(simwin::Snapshot("C:\\Target"), target);
}

}  // namespace
