// The message box and the pass over waiting window messages.
#include "messages/notice.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/simulated_windows.h"

namespace {

using Lines = std::vector<std::string>;

class NoticeTest : public ::testing::Test {
 protected:
  void SetUp() override { simwin::Reset(); }
};

TEST_F(NoticeTest, PausesThenShowsTheBox) {
  EXPECT_EQ(IDOK, ShowNotice("5 Access is denied.\r\n", kNoticeCaption, kNoticeStyle));
  EXPECT_EQ((Lines{"Sleep(5)",
                   "MessageBoxA(NULL, \"5 Access is denied.\r\n\", \"Ostravel\", 0x12000) -> 1"}),
            simwin::Trace());
  ASSERT_EQ(1u, simwin::Boxes().size());
  EXPECT_EQ(5u, simwin::Boxes()[0].shownAt);
}

TEST_F(NoticeTest, FailedBoxGivesZero) {
  simwin::ScriptBoxResults({0, IDOK});
  EXPECT_EQ(0, ShowNotice("a", kNoticeCaption, kNoticeStyle));
  EXPECT_EQ(IDOK, ShowNotice("b", kNoticeCaption, kNoticeStyle));
}

TEST_F(NoticeTest, TextEndsAtItsFirstNul) {
  ShowNotice("", kNoticeCaption, kNoticeStyle);
  ShowNotice(std::string("shown\0hidden", 12), kNoticeCaption, kNoticeStyle);
  ASSERT_EQ(2u, simwin::Boxes().size());
  EXPECT_EQ("", simwin::Boxes()[0].text);
  EXPECT_EQ("Ostravel", simwin::Boxes()[0].caption);
  EXPECT_EQ("shown", simwin::Boxes()[1].text);
}

TEST_F(NoticeTest, EmptyQueuePausesOnce) {
  PumpEvents(1);
  EXPECT_EQ((Lines{"PeekMessageA(NULL, 0, 0, 0x1) -> 0", "Sleep(1)"}), simwin::Trace());
  EXPECT_TRUE(simwin::DispatchedMessages().empty());
  EXPECT_EQ(1u, simwin::VirtualMilliseconds());
}

TEST_F(NoticeTest, HandsOnExactlyTheFirstMessageWithoutPausing) {
  simwin::PostThreadMessage(WM_USER, 11);
  simwin::PostThreadMessage(WM_TIMER);
  simwin::PostThreadMessage(WM_USER + 2);
  PumpEvents(1);
  EXPECT_EQ((Lines{"PeekMessageA(NULL, 0, 0, 0x1) -> 1 0x400", "TranslateMessage(0x400) -> 0",
                   "DispatchMessageA(0x400) -> 0"}),
            simwin::Trace());
  ASSERT_EQ(1u, simwin::DispatchedMessages().size());
  EXPECT_EQ(11u, simwin::DispatchedMessages()[0].wParam);
  EXPECT_EQ(2u, simwin::QueuedMessageCount());
  EXPECT_EQ(0u, simwin::VirtualMilliseconds());
}

TEST_F(NoticeTest, QuitMessageIsConsumedWithoutEffect) {
  simwin::PostThreadMessage(WM_QUIT);
  PumpEvents(1);
  PumpEvents(1);
  EXPECT_EQ((Lines{"PeekMessageA(NULL, 0, 0, 0x1) -> 1 0x12", "TranslateMessage(0x12) -> 0",
                   "DispatchMessageA(0x12) -> 0", "PeekMessageA(NULL, 0, 0, 0x1) -> 0",
                   "Sleep(1)"}),
            simwin::Trace());
}

}  // namespace
