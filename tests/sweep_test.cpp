// The sweep over a folder tree: the order of its calls, what it does to
// each kind of entry, and how each failure of the system is taken.
#include "sweep/sweep.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>

#include "app/program.h"
#include "sweep_fixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

// The search patterns asked for, in order.
std::vector<std::string> Patterns() {
  std::vector<std::string> patterns;
  for (const std::string& line : simwin::TraceOf({"FindFirstFileA"}))
    patterns.push_back(line.substr(16, line.find("\") -> ") - 16));
  return patterns;
}

size_t IdlePauses() { return CountLines("Sleep(1)"); }

std::vector<std::string> BoxTexts() {
  std::vector<std::string> texts;
  for (const simwin::Box& box : simwin::Boxes())
    texts.push_back(box.text);
  return texts;
}

bool IsGone(const std::string& path) { return !simwin::Inspect(path).exists; }

bool IsJunctionStill(const std::string& path) {
  simwin::Entry entry = simwin::Inspect(path);
  return entry.exists && entry.reparseTag == IO_REPARSE_TAG_MOUNT_POINT &&
         (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsPlainFolder(const std::string& path) {
  simwin::Entry entry = simwin::Inspect(path);
  return entry.exists && entry.attributes == FILE_ATTRIBUTE_DIRECTORY && entry.reparseTag == 0;
}

class SweepTest : public SimulatedMachine {
 protected:
  // C:\Data holds report.txt, Old (ordinary, with the junction In), and
  // the junctions Link and Last, listed in that order. Every junction
  // leads to C:\Target, which must come through every sweep untouched.
  void MakeData() {
    simwin::MakeFile("C:\\Target\\t.txt", "target");
    simwin::MakeJunction("C:\\Target\\Deeper", "C:\\Elsewhere");
    simwin::MakeFolder("C:\\Elsewhere");
    simwin::MakeFile("C:\\Data\\report.txt", "report");
    simwin::MakeJunction("C:\\Data\\Old\\In", "C:\\Target");
    simwin::MakeJunction("C:\\Data\\Link", "C:\\Target");
    simwin::MakeJunction("C:\\Data\\Last", "C:\\Target");
    simwin::SetListingOrder("C:\\Data", {"report.txt", "Old", "Link", "Last"});
    target_ = simwin::Snapshot("C:\\Target") + simwin::Snapshot("C:\\Elsewhere");
    simwin::ClearTrace();
  }
  void TearDown() override {
    if (!target_.empty()) {
      EXPECT_EQ(simwin::Snapshot("C:\\Target") + simwin::Snapshot("C:\\Elsewhere"), target_);
      EXPECT_EQ(simwin::Inspect("C:\\Data\\report.txt").content, "report");
    }
    SimulatedMachine::TearDown();
  }
  std::string target_;
};

TEST_F(SweepTest, WorkedExampleCallByCall) {
  simwin::MakeFolder("C:\\Target\\Sub");
  simwin::MakeFile("C:\\Data\\report.txt");
  simwin::MakeFolder("C:\\Data\\Old");
  simwin::MakeJunction("C:\\Data\\Link", "C:\\Target");
  simwin::SetListingOrder("C:\\Data", {"report.txt", "Old", "Link"});
  simwin::ClearTrace();

  SweepFolder("C:\\Data\\");

  EXPECT_THAT(simwin::Trace(),
              ElementsAreArray(Lines({
                  {"FindFirstFileA(\"C:\\Data\\*\") -> h1",  // "." comes with it
                   "FindNextFileA(h1) -> 1 \"..\"",
                   "FindNextFileA(h1) -> 1 \"report.txt\"",
                   "FindNextFileA(h1) -> 1 \"Old\"",
                   "PeekMessageA(NULL, 0, 0, 0x1) -> 0",
                   "Sleep(1)",
                   AttributesLine("C:\\Data\\Old", "0x10"),
                   "FindFirstFileA(\"C:\\Data\\Old\\*\") -> h2",
                   "FindNextFileA(h2) -> 1 \"..\"",
                   "FindNextFileA(h2) -> 0; error=18",
                   "FindClose(h2) -> 1",
                   "FindNextFileA(h1) -> 1 \"Link\"",
                   "PeekMessageA(NULL, 0, 0, 0x1) -> 0",
                   "Sleep(1)",
                   AttributesLine("C:\\Data\\Link", "0x410"),
                   OpenLine("C:\\Data\\Link", "h3"),
                   DeleteRequestLine("h3", "1"),
                   "CloseHandle(h3) -> 1"},
                  RemovalLines("C:\\Data\\Link", "1"),
                  {"FindNextFileA(h1) -> 0; error=18",
                   "FindClose(h1) -> 1"}})));
  EXPECT_TRUE(IsGone("C:\\Data\\Link"));
  EXPECT_TRUE(simwin::Inspect("C:\\Target\\Sub").exists);
  EXPECT_EQ(SweepFailed, 0);
}

TEST_F(SweepTest, EveryJunctionBrokenNoneEntered) {
  MakeData();
  SweepFolder("C:\\Data\\");
  EXPECT_TRUE(IsGone("C:\\Data\\Link"));
  EXPECT_TRUE(IsGone("C:\\Data\\Last"));
  EXPECT_TRUE(IsGone("C:\\Data\\Old\\In"));
  EXPECT_THAT(Patterns(), ElementsAre("C:\\Data\\*", "C:\\Data\\Old\\*"));
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
  EXPECT_EQ(SweepFailed, 0);
}

// Without the trailing backslash the same calls are made.
TEST_F(SweepTest, StartWithoutTrailingBackslashIsTheSame) {
  MakeData();
  SweepFolder("C:\\Data\\");
  std::vector<std::string> withBackslash = simwin::Trace();
  simwin::Reset();
  MakeData();
  SweepFolder("C:\\Data");
  EXPECT_EQ(simwin::Trace(), withBackslash);
}

// --- Failure courses

TEST_F(SweepTest, OrdinaryFolderWithUnreadableAttributesIsWalked) {
  MakeData();
  simwin::FailCall("GetFileAttributesA", ERROR_ACCESS_DENIED, "C:\\Data\\Old");
  SweepFolder("C:\\Data\\");
  EXPECT_THAT(Patterns(), Contains("C:\\Data\\Old\\*"));
  EXPECT_TRUE(IsGone("C:\\Data\\Old\\In"));
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
  EXPECT_EQ(SweepFailed, 0);
}

// The listing's own attribute marks it: a link is never entered, even when
// asking about it by name fails.
TEST_F(SweepTest, JunctionWithUnreadableAttributesIsStillBroken) {
  MakeData();
  simwin::FailCall("GetFileAttributesA", ERROR_ACCESS_DENIED, "C:\\Data\\Link");
  SweepFolder("C:\\Data\\");
  EXPECT_EQ(CountLines(AttributesLine("C:\\Data\\Link", "0xFFFFFFFF; error=5")), 1u);
  EXPECT_EQ(CountLines(OpenLine("C:\\Data\\Link", "h4")), 1u);  // after the searches and In
  EXPECT_THAT(Patterns(), Not(Contains("C:\\Data\\Link\\*")));
  EXPECT_TRUE(IsGone("C:\\Data\\Link"));
  EXPECT_EQ(SweepFailed, 0);
}

TEST_F(SweepTest, UnsearchableFolderCountsAsEmpty) {
  MakeData();
  simwin::FailCall("FindFirstFileA", ERROR_ACCESS_DENIED, "C:\\Data\\Old\\*");
  SweepFolder("C:\\Data\\");
  EXPECT_TRUE(IsJunctionStill("C:\\Data\\Old\\In"));
  EXPECT_TRUE(IsGone("C:\\Data\\Link"));
  EXPECT_TRUE(IsGone("C:\\Data\\Last"));
  EXPECT_THAT(simwin::TraceOf({"FindClose"}), ElementsAre("FindClose(h1) -> 1"));
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
  EXPECT_EQ(SweepFailed, 0);
}

TEST_F(SweepTest, MissingStartIsSilent) {
  SweepFolder("C:\\Nowhere\\");
  EXPECT_THAT(simwin::Trace(),
              ElementsAre("FindFirstFileA(\"C:\\Nowhere\\*\") -> INVALID_HANDLE_VALUE; error=3"));
  EXPECT_EQ(SweepFailed, 0);
}

TEST_F(SweepTest, EmptyFolderOrFilesOnlyCostNothing) {
  simwin::MakeFolder("C:\\Empty");
  simwin::MakeFile("C:\\Files\\a.txt");
  simwin::MakeFile("C:\\Files\\b.lnk", "", FILE_ATTRIBUTE_REPARSE_POINT);
  simwin::ClearTrace();
  SweepFolder("C:\\Empty\\");
  SweepFolder("C:\\Files\\");
  EXPECT_EQ(simwin::TraceOf({"FindFirstFileA", "FindNextFileA", "FindClose"}).size(),
            simwin::Trace().size());
  EXPECT_EQ(SweepFailed, 0);
}

struct BreakFailure {
  const char* name;
  void (*arrange)();
  DWORD error;
};

class FailedBreakTest : public SweepTest, public ::testing::WithParamInterface<BreakFailure> {};

// One notice, the link left as it was and not entered, the walk going on
// with the next entry, and the failure remembered to the end.
TEST_P(FailedBreakTest, ReportedOnceLeftAloneAndRemembered) {
  MakeData();
  GetParam().arrange();
  std::string link = simwin::Snapshot("C:\\Data\\Link");
  std::string text = SystemErrorText(GetParam().error);
  simwin::ClearTrace();

  SweepFolder("C:\\Data\\");

  EXPECT_THAT(BoxTexts(), ElementsAre(text));
  EXPECT_EQ(simwin::Snapshot("C:\\Data\\Link"), link);
  EXPECT_THAT(Patterns(), Not(Contains("C:\\Data\\Link\\*")));
  EXPECT_TRUE(IsGone("C:\\Data\\Last"));
  EXPECT_TRUE(IsGone("C:\\Data\\Old\\In"));
  EXPECT_THAT(simwin::TraceOf({"RemoveDirectoryA"}),
              ElementsAre("RemoveDirectoryA(\"C:\\Data\\Old\\In\") -> 1",
                          "RemoveDirectoryA(\"C:\\Data\\Last\") -> 1"));
  EXPECT_EQ(SweepFailed, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, FailedBreakTest,
    ::testing::Values(
        BreakFailure{"OpenRefused", [] { simwin::HoldOpen("C:\\Data\\Link"); },
                     ERROR_SHARING_VIOLATION},
        BreakFailure{"OpenFailed",
                     [] { simwin::FailCall("CreateFileA", ERROR_ACCESS_DENIED, "\\\\?\\C:\\Data\\Link"); },
                     ERROR_ACCESS_DENIED},
        BreakFailure{"RequestFailed",
                     [] { simwin::FailCall("DeviceIoControl", ERROR_NOT_SUPPORTED, "\\\\?\\C:\\Data\\Link"); },
                     ERROR_NOT_SUPPORTED},
        BreakFailure{"DirectorySymlinkRefused",
                     [] { simwin::MakeDirectorySymlink("C:\\Data\\Link", "C:\\Target"); },
                     ERROR_REPARSE_TAG_MISMATCH}),
    [](const ::testing::TestParamInfo<BreakFailure>& info) { return info.param.name; });

TEST_F(SweepTest, FailedRemovalAfterBreakIsSilentAndCountsAsBroken) {
  MakeData();
  simwin::FailCall("RemoveDirectoryA", ERROR_ACCESS_DENIED, "C:\\Data\\Link");
  SweepFolder("C:\\Data\\");
  EXPECT_TRUE(IsPlainFolder("C:\\Data\\Link"));
  EXPECT_THAT(Patterns(), Not(Contains("C:\\Data\\Link\\*")));
  EXPECT_TRUE(IsGone("C:\\Data\\Last"));
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
  EXPECT_EQ(SweepFailed, 0);
  EXPECT_EQ(simwin::CurrentErrorMode(), 0u);
}

// The sweep only ever sets the flag, so a failure seen earlier in the run
// survives every later success.
TEST_F(SweepTest, FailureFlagIsNeverCleared) {
  MakeData();
  SweepFailed = 1;
  SweepFolder("C:\\Data\\");
  EXPECT_TRUE(IsGone("C:\\Data\\Last"));
  EXPECT_EQ(SweepFailed, 1);
}

TEST_F(SweepTest, FailingListingEndsThatFolderSilently) {
  MakeData();
  // ".", "..", report.txt come; the third FindNextFileA fails.
  simwin::FailCall("FindNextFileA", ERROR_ACCESS_DENIED, "C:\\Data\\*", 3);
  SweepFolder("C:\\Data\\");
  EXPECT_THAT(simwin::Trace(),
              ElementsAre("FindFirstFileA(\"C:\\Data\\*\") -> h1",
                          "FindNextFileA(h1) -> 1 \"..\"",
                          "FindNextFileA(h1) -> 1 \"report.txt\"",
                          "FindNextFileA(h1) -> 0; error=5", "FindClose(h1) -> 1"));
  EXPECT_TRUE(IsJunctionStill("C:\\Data\\Link"));
  EXPECT_EQ(SweepFailed, 0);
}

// --- The starting folder

// The start is only ever listed: a junction given as the start is swept
// through, its target's entries broken, and it stays.
TEST_F(SweepTest, StartThatIsAJunctionIsSweptThroughNotBroken) {
  MakeData();
  simwin::MakeJunction("C:\\Start", "C:\\Data");
  simwin::ClearTrace();
  SweepFolder("C:\\Start\\");
  EXPECT_TRUE(IsJunctionStill("C:\\Start"));
  EXPECT_FALSE(TraceHasPrefix("GetFileAttributesA(\"C:\\Start\")"));
  EXPECT_FALSE(TraceHasPrefix("CreateFileA(\"\\\\?\\C:\\Start\""));
  EXPECT_EQ(CountLines(AttributesLine("C:\\Start\\Link", "0x410")), 1u);
  EXPECT_TRUE(IsGone("C:\\Data\\Link"));
  EXPECT_TRUE(IsGone("C:\\Data\\Old\\In"));
  EXPECT_EQ(SweepFailed, 0);
}

// A name that is not a full absolute path cannot be opened as "\\?\"
// name: every junction met is reported, none is broken.
TEST_F(SweepTest, RelativeAndForwardSlashStartsFailEveryOpen) {
  for (const char* start : {"Data\\", "C:/Data/\\", "C:Data\\"}) {
    SCOPED_TRACE(start);
    simwin::Reset();
    SweepFailed = 0;
    MakeData();
    std::string before = simwin::SnapshotAll();
    SweepFolder(start);
    std::vector<std::string> opens = simwin::TraceOf({"CreateFileA"});
    ASSERT_EQ(opens.size(), 3u);
    ASSERT_EQ(simwin::Boxes().size(), 3u);
    for (size_t i = 0; i < opens.size(); ++i) {
      EXPECT_NE(opens[i].find(") -> INVALID_HANDLE_VALUE; error=3"), std::string::npos) << opens[i];
      EXPECT_EQ(simwin::Boxes()[i].text, "3 The system cannot find the path specified.\r\n");
    }
    EXPECT_EQ(simwin::SnapshotAll(), before);
    EXPECT_EQ(SweepFailed, 1);
  }
}

// --- Names that a plain path cannot reach

struct OddName {
  const char* label;
  const char* name;
  bool junction;
};

void PrintTo(const OddName& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class UnnameableEntryTest : public SweepTest, public ::testing::WithParamInterface<OddName> {};

// Windows would read such a child path as another folder (or none), so the
// entry is reported and left alone, and nothing is done to its namesake.
TEST_P(UnnameableEntryTest, ReportedOnceAndLeftAlone) {
  const OddName& c = GetParam();
  std::string path = std::string("C:\\Data\\") + c.name;
  MakeData();
  if (c.junction)
    simwin::MakeJunction(path, "C:\\Target");
  else
    simwin::MakeJunction(path + "\\Inside", "C:\\Target");
  simwin::SetListingOrder("C:\\Data", {c.name, "report.txt", "Old", "Link", "Last"});
  std::string odd = simwin::Snapshot(path);
  std::string text = SystemErrorText(ERROR_INVALID_NAME);
  simwin::ClearTrace();

  SweepFolder("C:\\Data\\");

  EXPECT_THAT(BoxTexts(), ElementsAre(text));
  EXPECT_EQ(simwin::Snapshot(path), odd);
  EXPECT_THAT(Patterns(), ElementsAre("C:\\Data\\*", "C:\\Data\\Old\\*"));
  EXPECT_EQ(simwin::TraceOf({"GetFileAttributesA"}).size(), 4u);  // Old, In, Link, Last
  EXPECT_EQ(simwin::TraceOf({"CreateFileA"}).size(), 3u);         // In, Link, Last
  EXPECT_EQ(IdlePauses(), 5u);  // the odd one too
  EXPECT_TRUE(IsGone("C:\\Data\\Link"));
  EXPECT_EQ(SweepFailed, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Names, UnnameableEntryTest,
    ::testing::Values(OddName{"TrailingSpaceFolder", "Old ", false},
                      OddName{"TrailingSpaceJunction", "Link ", true},
                      OddName{"TrailingDotFolder", "Old.", false},
                      OddName{"TrailingDotJunction", "Link.", true},
                      OddName{"DotThenSpace", "Old. ", false},
                      OddName{"SpacesOnly", "   ", false},
                      OddName{"SpaceThenDot", " .", true},
                      OddName{"ThreeDots", "...", false},
                      OddName{"UnshowableCharacterFolder", "Caf?", false},
                      OddName{"UnshowableCharacterJunction", "L?nk", true}),
    [](const ::testing::TestParamInfo<OddName>& info) { return info.param.label; });

// One dot (or two) followed by spaces is the folder itself (or its parent):
// passed over like "." and "..", without a pause or a word.
TEST_F(SweepTest, DotsFollowedBySpacesArePassedOver) {
  MakeData();
  simwin::MakeJunction("C:\\Data\\. ", "C:\\Target");
  simwin::MakeJunction("C:\\Data\\..  ", "C:\\Target");
  simwin::ClearTrace();
  SweepFolder("C:\\Data\\");
  EXPECT_TRUE(IsJunctionStill("C:\\Data\\. "));
  EXPECT_TRUE(IsJunctionStill("C:\\Data\\..  "));
  EXPECT_EQ(IdlePauses(), 4u);  // Old, In, Link, Last
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
  EXPECT_EQ(SweepFailed, 0);
}

// --- Length limits

// Folder path plus "*" must fit in 259 characters; a longer pattern is
// never cut short, the folder just counts as empty.
TEST_F(SweepTest, FolderTooLongToSearchCountsAsEmpty) {
  std::string top = "C:\\T\\" + std::string(200, 'a');          // 205 characters
  std::string fits = top + "\\" + std::string(51, 'b');         // 257: pattern 259
  std::string tooLong = top + "\\" + std::string(52, 'c');      // 258: pattern 260
  simwin::MakeJunction(fits + "\\j", "C:\\Target");             // 259-character link
  simwin::MakeJunction(tooLong + "\\j", "C:\\Target");
  simwin::MakeJunction("C:\\T\\z", "C:\\Target");
  simwin::MakeFolder("C:\\Target");
  simwin::SetListingOrder(top, {std::string(52, 'c'), std::string(51, 'b')});
  simwin::ClearTrace();

  SweepFolder("C:\\T\\");

  EXPECT_THAT(Patterns(), ElementsAre("C:\\T\\*", top + "\\*", fits + "\\*"));
  EXPECT_TRUE(IsJunctionStill(tooLong + "\\j"));
  // Broken, but too long a path to remove: left as a plain empty folder.
  EXPECT_TRUE(IsPlainFolder(fits + "\\j"));
  EXPECT_THAT(simwin::TraceOf({"RemoveDirectoryA"}),
              ElementsAre("RemoveDirectoryA(\"C:\\T\\z\") -> 1"));
  EXPECT_TRUE(IsGone("C:\\T\\z"));
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
  EXPECT_EQ(SweepFailed, 0);
}

TEST_F(SweepTest, LinkPathOfMoreThan255CharactersIsBrokenNotRemoved) {
  std::string base = "C:\\T\\" + std::string(240, 'a') + "\\";  // 246 characters
  std::string at255 = base + std::string(9, 'b');
  std::string at256 = base + std::string(10, 'c');
  simwin::MakeJunction(at255, "C:\\Target");
  simwin::MakeJunction(at256, "C:\\Target");
  simwin::MakeFolder("C:\\Target");
  simwin::ClearTrace();
  SweepFolder("C:\\T\\");
  EXPECT_TRUE(IsGone(at255));
  EXPECT_TRUE(IsPlainFolder(at256));
  EXPECT_THAT(simwin::TraceOf({"RemoveDirectoryA"}),
              ElementsAre("RemoveDirectoryA(\"" + at255 + "\") -> 1"));
  EXPECT_EQ(SweepFailed, 0);
}

// --- Depth

// Each level keeps its own search open while it descends, and a junction at
// the bottom is met like one at the top.
TEST_F(SweepTest, DeepTreeKeepsOneSearchPerLevel) {
  std::string path = "C:\\D";
  const int levels = 100;  // "C:\D" + 100 * "\x" + "\L" stays within the limits
  for (int i = 0; i < levels; ++i)
    path += "\\x";
  simwin::MakeDirectorySymlink(path + "\\S", "C:\\Target");
  simwin::MakeJunction(path + "\\L", "C:\\Target");
  simwin::MakeFolder("C:\\Target");
  std::vector<int> searchesDuringBox;
  simwin::OnBoxShown([&](const simwin::Box&) { searchesDuringBox.push_back(simwin::OpenSearchCount()); });
  simwin::ClearTrace();

  SweepFolder("C:\\D\\");

  EXPECT_THAT(searchesDuringBox, ElementsAre(levels + 1));
  EXPECT_EQ(Patterns().size(), size_t(levels + 1));
  EXPECT_TRUE(IsGone(path + "\\L"));
  EXPECT_EQ(SweepFailed, 1);
}

// --- The event pump

TEST_F(SweepTest, OnePumpPerConsideredEntryNoneForFilesOrDots) {
  MakeData();  // considered: Old, In, Link, Last; not: ".", "..", report.txt
  simwin::MakeFile("C:\\Data\\Old\\more.txt");
  simwin::ClearTrace();
  SweepFolder("C:\\Data\\");
  EXPECT_EQ(IdlePauses(), 4u);
  EXPECT_EQ(simwin::TraceOf({"PeekMessageA"}).size(), 4u);
  EXPECT_EQ(simwin::TraceOf({"Sleep"}).size(), 4u);
}

// Waiting messages are handed on one per entry, before the entry is looked
// at; a quit message stops nothing.
TEST_F(SweepTest, WaitingMessagesAreHandedOnOnePerEntry) {
  MakeData();
  simwin::PostThreadMessage(WM_QUIT);
  simwin::PostThreadMessage(WM_USER);
  SweepFolder("C:\\Data\\");
  EXPECT_THAT(simwin::TraceOf({"PeekMessageA", "TranslateMessage", "DispatchMessageA", "Sleep",
                               "GetFileAttributesA"}),
              ElementsAre("PeekMessageA(NULL, 0, 0, 0x1) -> 1 0x12", "TranslateMessage(0x12) -> 0",
                          "DispatchMessageA(0x12) -> 0", AttributesLine("C:\\Data\\Old", "0x10"),
                          "PeekMessageA(NULL, 0, 0, 0x1) -> 1 0x400",
                          "TranslateMessage(0x400) -> 0", "DispatchMessageA(0x400) -> 0",
                          AttributesLine("C:\\Data\\Old\\In", "0x410"),
                          "PeekMessageA(NULL, 0, 0, 0x1) -> 0", "Sleep(1)",
                          AttributesLine("C:\\Data\\Link", "0x410"),
                          "PeekMessageA(NULL, 0, 0, 0x1) -> 0", "Sleep(1)",
                          AttributesLine("C:\\Data\\Last", "0x410")));
  EXPECT_TRUE(IsGone("C:\\Data\\Last"));
}

// --- Exhausted memory

// Running out of memory in the middle of the walk closes every search and
// handle on the way out, and the process ends with 1.
TEST_F(SweepTest, ExhaustedMemoryClosesEverythingAndEndsWithOne) {
  for (bool unnameable : {false, true}) {
    SCOPED_TRACE(unnameable);
    simwin::Reset();
    MakeData();
    if (unnameable)
      simwin::MakeFolder("C:\\Data\\Old\\Odd ");
    else
      simwin::HoldOpen("C:\\Data\\Old\\In");
    simwin::OnBoxShown([](const simwin::Box&) { throw std::bad_alloc(); });
    EXPECT_THROW(SweepFolder("C:\\Data\\"), std::bad_alloc);
    EXPECT_EQ(simwin::OpenSearchCount(), 0);
    EXPECT_EQ(simwin::OpenHandleCount(), 0);
    EXPECT_TRUE(IsJunctionStill("C:\\Data\\Link"));  // never reached

    simwin::SetCommandLine("Ostravel.exe C:\\Data");
    simwin::OnExitProcess([](UINT code) { throw simwin::ProcessExit{code}; });
    UINT exitCode = 99;
    try {
      RunProcess();
    } catch (const simwin::ProcessExit& exit) {
      exitCode = exit.code;
    }
    EXPECT_EQ(exitCode, 1u);
  }
}

}  // namespace
