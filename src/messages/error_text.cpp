#include "messages/error_text.h"

#include <cstdint>
#include <cstring>

std::string SystemErrorText(DWORD errorCode) {
  // The system gets one byte less than the buffer holds, so the text is
  // NUL-terminated whatever the system leaves in it.
  char buffer[256];
  memset(buffer, 0, sizeof buffer);
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, errorCode, 0, buffer,
                 sizeof buffer - 1, NULL);
  return ErrorNumberField(errorCode) + buffer;
}

std::string ErrorNumberField(DWORD errorCode) {
  int64_t value = static_cast<int32_t>(errorCode);
  bool negative = value < 0;
  if (negative)
    value = -value;
  char digits[16];
  char* p = digits + sizeof digits;
  *--p = '\0';
  *--p = ' ';
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (negative)
    *--p = '-';
  return p;
}
