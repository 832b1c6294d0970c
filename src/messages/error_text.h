// The text of a notice about a failed system call.
#pragma once

#include <string>

#include "platform/windows_api.h"

// "5 Access is denied.\r\n": the code as a signed decimal, one space and the
// system's own text for it, unchanged.
std::string SystemErrorText(DWORD errorCode);

// The code read as a signed 32-bit number, in decimal, plus one space.
std::string ErrorNumberField(DWORD errorCode);
