#include "messages/notice.h"

const char kNoticeCaption[] = "Ostravel";

int32_t ShowNotice(const std::string& text, const std::string& caption, UINT style) {
  // A short pause first, so that whatever the box pops up over has settled.
  Sleep(5);
  return MessageBoxA(NULL, text.c_str(), caption.c_str(), style);
}

void PumpEvents(DWORD idleMilliseconds) {
  MSG msg;
  if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
    // Even WM_QUIT is just passed on: nothing but the end of the tree
    // stops the sweep.
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return;
  }
  Sleep(idleMilliseconds);
}
