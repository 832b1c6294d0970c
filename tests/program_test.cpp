// The whole program run on the simulated Windows: start-up, the one
// decision, the sweep, and the end of the process.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/program.h"
#include "platform/host/simulated_windows.h"
#include "sweep/sweep.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::vector<std::string> kFileSystemCalls = {
    "FindFirstFileA", "FindNextFileA", "FindClose",      "GetFileAttributesA",
    "CreateFileA",    "DeviceIoControl", "RemoveDirectoryA", "SetErrorMode"};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simwin::Reset();
    simwin::AddDrive('D');
    simwin::AddDrive('E');
    simwin::OnExitProcess([](UINT code) { throw simwin::ProcessExit{code}; });
  }

  // Runs the process with `commandLine` and returns its exit code.
  UINT Run(const std::string& commandLine) {
    simwin::SetCommandLine(commandLine);
    try {
      RunProcess();
    } catch (const simwin::ProcessExit& exit) {
      return exit.code;
    }
    ADD_FAILURE() << "the process did not end through ExitProcess";
    return 0xDEAD;
  }

  std::vector<std::string> Searches() { return simwin::TraceOf({"FindFirstFileA"}); }
};

TEST_F(ProgramTest, StartsUpRunsAndEndsInOrder) {
  simwin::MakeFolder("D:\\PQ");
  EXPECT_EQ(Run("Ostravel.exe D:\\PQ"), 0u);
  const std::vector<std::string>& trace = simwin::Trace();
  ASSERT_GE(trace.size(), 4u);
  EXPECT_EQ(trace[0], "CoInitialize(NULL) -> 0x0");
  EXPECT_EQ(trace[1].rfind("GetCommandLineA()", 0), 0u) << trace[1];
  EXPECT_EQ(trace[trace.size() - 2], "CoUninitialize()");
  EXPECT_EQ(trace.back(), "ExitProcess(0)");
  EXPECT_EQ(simwin::CurrentErrorMode(), 0u);
  EXPECT_THAT(simwin::TraceOf({"SetErrorMode", "MessageBoxA"}), IsEmpty());
}

TEST_F(ProgramTest, WithoutStartingFolderShowsNoticeAndTouchesNothing) {
  for (const char* commandLine :
       {"Ostravel.exe", "Ostravel.exe   ", "Ostravel.exe \"\"", "\"C:\\T\\Ostravel.exe\"\"\"", ""}) {
    SCOPED_TRACE(commandLine);
    simwin::Reset();
    simwin::OnExitProcess([](UINT code) { throw simwin::ProcessExit{code}; });
    EXPECT_EQ(Run(commandLine), 0u);
    ASSERT_EQ(simwin::Boxes().size(), 1u);
    EXPECT_EQ(simwin::Boxes()[0].text,
              "I'm not doing anything without a starting path, for example: D:\\PQ\\");
    EXPECT_EQ(simwin::Boxes()[0].caption, "Ostravel");
    EXPECT_EQ(simwin::Boxes()[0].style, 0x12000u);
    EXPECT_THAT(simwin::TraceOf(kFileSystemCalls), IsEmpty());
  }
}

TEST_F(ProgramTest, FailedNoticeStillEndsWithZero) {
  simwin::ScriptBoxResults({0});
  EXPECT_EQ(Run("Ostravel.exe"), 0u);
  EXPECT_EQ(simwin::Boxes().size(), 1u);
}

struct StartCase {
  const char* commandLine;
  const char* firstSearch;
};

TEST_F(ProgramTest, StartingFolderFromFirstArgument) {
  const StartCase cases[] = {
      {"Ostravel.exe D:\\PQ", "FindFirstFileA(\"D:\\PQ\\*\")"},
      {"Ostravel.exe D:\\PQ\\", "FindFirstFileA(\"D:\\PQ\\*\")"},
      {"Ostravel.exe D:", "FindFirstFileA(\"D:\\*\")"},
      {"Ostravel.exe D:/PQ/", "FindFirstFileA(\"D:/PQ/\\*\")"},
      {"Ostravel.exe D:\\A E:\\B", "FindFirstFileA(\"D:\\A\\*\")"},
      {"Ostravel.exe \"D:\\My Folder\"", "FindFirstFileA(\"D:\\My Folder\\*\")"},
      {"Ostravel.exe D:\\My Folder", "FindFirstFileA(\"D:\\My\\*\")"},
      {"\"C:\\My Tools\\Ostravel.exe\"D:\\PQ", "FindFirstFileA(\"D:\\PQ\\*\")"},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.commandLine);
    simwin::ClearTrace();
    EXPECT_EQ(Run(c.commandLine), 0u);
    std::vector<std::string> searches = Searches();
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_EQ(searches[0].substr(0, searches[0].find(" -> ")), c.firstSearch);
  }
}

TEST_F(ProgramTest, ExitCodeTellsWhetherEveryJunctionBroke) {
  simwin::MakeFolder("E:\\Target");
  simwin::MakeJunction("D:\\PQ\\Good", "E:\\Target");
  EXPECT_EQ(Run("Ostravel.exe D:\\PQ"), 0u);
  EXPECT_FALSE(simwin::Inspect("D:\\PQ\\Good").exists);
  EXPECT_TRUE(simwin::Inspect("E:\\Target").exists);

  // One failed break among later successes still fails the run.
  simwin::MakeJunction("D:\\PQ\\A", "E:\\Target");
  simwin::MakeJunction("D:\\PQ\\B", "E:\\Target");
  simwin::MakeJunction("D:\\PQ\\C", "E:\\Target");
  simwin::SetListingOrder("D:\\PQ", {"A", "B", "C"});
  simwin::FailCall("DeviceIoControl", 5, "", 1);
  EXPECT_EQ(Run("Ostravel.exe D:\\PQ"), 1u);
  EXPECT_TRUE(simwin::Inspect("D:\\PQ\\A").exists);
  EXPECT_FALSE(simwin::Inspect("D:\\PQ\\B").exists);
  EXPECT_FALSE(simwin::Inspect("D:\\PQ\\C").exists);
  ASSERT_EQ(simwin::Boxes().size(), 1u);
  EXPECT_EQ(simwin::Boxes()[0].text.substr(0, 2), "5 ");
}

TEST_F(ProgramTest, SweepWithoutJunctionsEndsWithZero) {
  simwin::MakeFile("D:\\PQ\\a.txt", "a");
  simwin::MakeFolder("D:\\PQ\\Sub\\Deeper");
  std::string before = simwin::SnapshotAll();
  EXPECT_EQ(Run("Ostravel.exe D:\\PQ"), 0u);
  EXPECT_EQ(simwin::SnapshotAll(), before);
  EXPECT_THAT(simwin::Boxes(), IsEmpty());
}

}  // namespace

namespace {

TEST_F(ProgramTest, EachRunStartsWithACleanFailureFlag) {
  simwin::MakeFolder("D:\\PQ");
  simwin::SetCommandLine("Ostravel.exe D:\\PQ");
  FixCommandTail();
  SweepFailed = 1;
  EXPECT_EQ(ProgramMain(), 0);
}

}  // namespace
