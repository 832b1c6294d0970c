// The program's only ways of talking to the user: a modal message box, and
// a pass over the thread's waiting window messages while the sweep runs.
#pragma once

#include <cstdint>
#include <string>

#include "platform/windows_api.h"

// Every notice carries the program's name and this style: one OK button,
// no icon, task-modal, brought to the foreground.
extern const char kNoticeCaption[];
const UINT kNoticeStyle = MB_OK | MB_TASKMODAL | MB_SETFOREGROUND;

// Shows one message box and returns once the user has dismissed it: IDOK,
// or 0 when the box could not be shown.
int32_t ShowNotice(const std::string& text, const std::string& caption, UINT style);

// Hands on at most one waiting message of this thread, or pauses for
// `idleMilliseconds` when none is waiting.
void PumpEvents(DWORD idleMilliseconds);
