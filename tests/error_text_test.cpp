// The text of a notice about a failed system call.
#include "messages/error_text.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/simulated_windows.h"

namespace {

struct FieldCase {
  DWORD code;
  const char* field;
};

TEST(ErrorNumberFieldTest, SignedDecimalAndOneSpace) {
  const FieldCase cases[] = {
      {0x00000000, "0 "},
      {0x00000005, "5 "},
      {0x000004D2, "1234 "},
      {0x0001869F, "99999 "},
      {0x000186A0, "100000 "},
      {0x7FFFFFFF, "2147483647 "},
      {0x80000000, "-2147483648 "},
      {0x80070005, "-2147024891 "},
      {0xFFFFD8F1, "-9999 "},
      {0xFFFFD8F0, "-10000 "},
      {0xFFFFFFFF, "-1 "},
  };
  for (const FieldCase& c : cases)
    EXPECT_EQ(c.field, ErrorNumberField(c.code)) << std::hex << c.code;
}

class SystemErrorTextTest : public ::testing::Test {
 protected:
  void SetUp() override { simwin::Reset(); }
};

TEST_F(SystemErrorTextTest, AsksTheSystemOnceAndKeepsItsTextWhole) {
  EXPECT_EQ("5 Access is denied.\r\n", SystemErrorText(5));
  // From the system's table, inserts not ignored, language of the
  // system's choice, 255 bytes; the last error is not read.
  EXPECT_EQ(std::vector<std::string>{"FormatMessageA(0x1000, NULL, 5, 0, 255) -> 19"},
            simwin::Trace());
}

TEST_F(SystemErrorTextTest, CodeZeroHasItsNumberAndText) {
  EXPECT_EQ("0 The operation completed successfully.\r\n", SystemErrorText(0));
}

TEST_F(SystemErrorTextTest, LineBreaksInsideTheTextStay) {
  simwin::SetSystemText(4321, "First line.\r\nSecond line.\r\n");
  EXPECT_EQ("4321 First line.\r\nSecond line.\r\n", SystemErrorText(4321));
}

TEST_F(SystemErrorTextTest, TextOf254CharactersIsTakenWhole) {
  std::string text = std::string(252, 'x') + "\r\n";
  simwin::SetSystemText(77, text);
  EXPECT_EQ("77 " + text, SystemErrorText(77));
}

TEST_F(SystemErrorTextTest, NothingWrittenLeavesTheNumberFieldAlone) {
  EXPECT_EQ("1234 ", SystemErrorText(1234));  // no text for the code
  EXPECT_EQ("193 ", SystemErrorText(193));    // an insert and no arguments
  // The code reaches the system unchanged, also when it reads as negative.
  EXPECT_EQ("-2147024891 ", SystemErrorText(0x80070005));
  EXPECT_EQ("FormatMessageA(0x1000, NULL, 2147942405, 0, 255) -> 0; error=317",
            simwin::Trace().back());
}

TEST_F(SystemErrorTextTest, OverlongTextNeverRunsPastTheBuffer) {
  // The simulated system fails such a request after filling all 255 bytes
  // it was given, with no NUL; the buffer's own last byte ends the text.
  simwin::SetSystemText(88, std::string(255, 'a') + std::string(100, 'b'));
  EXPECT_EQ("88 " + std::string(255, 'a'), SystemErrorText(88));
}

}  // namespace
