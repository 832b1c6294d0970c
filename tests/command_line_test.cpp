#include "app/command_line.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/host/simulated_windows.h"
#include "platform/windows_api.h"

namespace {

// Where the tail begins: the text after the program name, as a position
// inside the command line itself.
struct TailCase {
  const char* commandLine;
  const char* tail;
};

const TailCase kTailCases[] = {
    {"\"C:\\Tools\\Ostravel.exe\"   D:\\PQ\\", "D:\\PQ\\"},
    {"Ostravel D:\\PQ\\", "D:\\PQ\\"},
    {"Ostravel", ""},
    {"\"C:\\My Tools\\Ostravel.exe\"D:\\PQ", "D:\\PQ"},
    {" D:\\PQ", "D:\\PQ"},
    {"Ostravel\tD:\\PQ", "\tD:\\PQ"},
    {"Ostravel  \t y", "\t y"},
    {"\tx y", "y"},
    // The scan never passes the end of the command line.
    {"", ""},
    {"\"C:\\Tools\\Ostravel.exe D:\\PQ", ""},
    {"\"", ""},
    // Any control code ends an unquoted name; bytes from 128 up do not.
    {"Ostravel\x01 D:\\PQ", "\x01 D:\\PQ"},
    {"C:\\\xC4rger\\Ostravel.exe D:\\PQ", "D:\\PQ"},
    // Only spaces are skipped after a quoted name.
    {"\"Ostravel\"\t D:\\PQ", "\t D:\\PQ"},
};

TEST(FindCommandTail, BeginsAfterTheProgramName) {
  for (const TailCase& c : kTailCases) {
    SCOPED_TRACE(testing::Message() << "command line [" << c.commandLine << "]");
    size_t lineLength = strlen(c.commandLine);
    const char* tail = FindCommandTail(c.commandLine);
    EXPECT_STREQ(tail, c.tail);
    // The tail is the command line's own text, not a copy of it.
    EXPECT_EQ(tail, c.commandLine + lineLength - strlen(c.tail));
  }
}

// Arguments 0, 1 and 2 of a tail.
struct ArgumentCase {
  const char* tail;
  const char* first;
  const char* second;
};

const ArgumentCase kArgumentCases[] = {
    {"D:\\PQ\\", "D:\\PQ\\", ""},
    {"  D:\\PQ\\   x", "D:\\PQ\\", "x"},
    {"\"D:\\My Folder\"", "D:\\My Folder", ""},
    {"D:\\My Folder", "D:\\My", "Folder"},
    {"\"D:\\My Folder\\\" E:\\", "D:\\My Folder\\", "E:\\"},
    {"\"\" D:\\PQ", "D:\\PQ", ""},
    {"\"\"", "", ""},
    {"\"D:\\PQ", "D:\\PQ", ""},
    {"\"ab\"cd", "ab", "cd"},
    {"\"ab\"\"cd\"", "ab", "cd"},
    {"ab\"cd ef\"", "ab\"cd", "ef\""},
    {"D:\\PQ\tx", "D:\\PQ\tx", ""},
    {"\"  \"", "  ", ""},
    {"   ", "", ""},
    {"", "", ""},
    // An unclosed quote counts only when it opens the argument asked for.
    {"a \"b c", "a", "b c"},
    {"\"\"\"\"\"\" x", "x", ""},
    {"\"\"x \"", "x", ""},
};

TEST(TailArgument, CutsArgumentsByTheProgramsRules) {
  for (const ArgumentCase& c : kArgumentCases) {
    SCOPED_TRACE(testing::Message() << "tail [" << c.tail << "]");
    EXPECT_EQ(TailArgument(c.tail, 0), c.tail);
    EXPECT_EQ(TailArgument(c.tail, 1), c.first);
    EXPECT_EQ(TailArgument(c.tail, 2), c.second);
  }
}

TEST(TailArgument, NoSuchArgumentGivesEmptyText) {
  const char* tail = "D:\\PQ x \"y\"";
  EXPECT_EQ(TailArgument(tail, 3), "y");
  for (int32_t n : {4, 5, 1000, INT32_MAX, -1, -2, INT32_MIN}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(TailArgument(tail, n), "");
  }
  EXPECT_EQ(TailArgument("", -1), "");
}

TEST(TailArgument, TabNeverSeparates) {
  EXPECT_EQ(TailArgument("\t", 1), "\t");
  EXPECT_EQ(TailArgument("\t", 2), "");
  EXPECT_EQ(TailArgument("\t \t", 2), "\t");
}

TEST(TailArgument, TrailingSpacesStayOnlyInTheWholeTail) {
  const char* tail = "D:\\PQ x   ";
  EXPECT_EQ(TailArgument(tail, 0), "D:\\PQ x   ");
  EXPECT_EQ(TailArgument(tail, 2), "x");
  EXPECT_EQ(TailArgument(tail, 3), "");
}

TEST(TailArgument, BytesFrom128UpAreOrdinary) {
  const char* tail = "\"D:\\\xC4 \xFF\" \xA0";
  EXPECT_EQ(TailArgument(tail, 1), "D:\\\xC4 \xFF");
  EXPECT_EQ(TailArgument(tail, 2), "\xA0");
}

// CommandTail and CommandArgument on the simulated Windows' command line.
class CommandTailTest : public testing::Test {
 protected:
  void SetUp() override { simwin::Reset(); }
};

TEST_F(CommandTailTest, FixedFromTheSystemsCommandLine) {
  simwin::SetCommandLine("\"C:\\My Tools\\Ostravel.exe\"\"D:\\My Folder\\\" E:\\  ");
  FixCommandTail();
  EXPECT_STREQ(CommandTail, "\"D:\\My Folder\\\" E:\\  ");
  EXPECT_EQ(CommandArgument(0), "\"D:\\My Folder\\\" E:\\  ");
  EXPECT_EQ(CommandArgument(1), "D:\\My Folder\\");
  EXPECT_EQ(CommandArgument(2), "E:\\");
  EXPECT_EQ(CommandArgument(3), "");
  EXPECT_EQ(CommandArgument(-1), "");
  // Read once, at the fixing; the arguments come from the tail alone.
  EXPECT_EQ(simwin::TraceOf({"GetCommandLineA"}).size(), 1u);
}

TEST_F(CommandTailTest, PointsIntoTheSystemsCopy) {
  simwin::SetCommandLine("Ostravel.exe   D:\\PQ");
  FixCommandTail();
  const char* commandLine = GetCommandLineA();
  EXPECT_EQ(CommandTail, commandLine + 15);
  EXPECT_STREQ(commandLine, "Ostravel.exe   D:\\PQ");
}

TEST_F(CommandTailTest, AskingTwiceGivesTheSameArgument) {
  simwin::SetCommandLine("Ostravel.exe \"D:\\PQ\" x");
  FixCommandTail();
  const char* tail = CommandTail;
  EXPECT_EQ(CommandArgument(1), "D:\\PQ");
  EXPECT_EQ(CommandArgument(1), "D:\\PQ");
  EXPECT_EQ(CommandArgument(2), "x");
  EXPECT_EQ(CommandArgument(1), "D:\\PQ");
  EXPECT_EQ(CommandTail, tail);
  EXPECT_STREQ(CommandTail, "\"D:\\PQ\" x");
}

TEST_F(CommandTailTest, NoArgumentsOnAProgramNameAlone) {
  // The simulated Windows starts with the bare program name.
  FixCommandTail();
  EXPECT_STREQ(CommandTail, "");
  EXPECT_EQ(CommandArgument(1), "");
}

TEST_F(CommandTailTest, EmptyCommandLine) {
  simwin::SetCommandLine("");
  FixCommandTail();
  EXPECT_STREQ(CommandTail, "");
  EXPECT_EQ(CommandArgument(0), "");
  EXPECT_EQ(CommandArgument(1), "");
}

}  // namespace
