// Fuzzes the command-line scanner: every input is a whole command line.
//
// The line is copied, NUL-terminated, into a heap buffer of exactly its
// size, so that AddressSanitizer stops any read past its end. Every broken
// rule aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/command_line.h"

namespace {

void Require(bool condition) {
  if (!condition)
    abort();
}

// An argument, asked for twice: both answers agree and hold no NUL.
std::string CheckedArgument(const char* tail, int32_t n) {
  std::string argument = TailArgument(tail, n);
  Require(TailArgument(tail, n) == argument);
  Require(argument.find('\0') == std::string::npos);
  return argument;
}

void CheckCommandLine(const char* commandLine, size_t length) {
  const char* tail = FindCommandTail(commandLine);

  // The tail is a suffix of the command line, pointing into it.
  Require(tail >= commandLine && tail <= commandLine + length);
  size_t tailLength = strlen(tail);
  Require(tail + tailLength == commandLine + length);

  Require(CheckedArgument(tail, 0) == std::string(tail, tailLength));
  Require(CheckedArgument(tail, -1).empty());
  Require(CheckedArgument(tail, INT32_MIN).empty());
  Require(CheckedArgument(tail, INT32_MAX).empty());

  // Arguments 1..k are non-empty, every later one is empty. Each argument
  // takes at least one byte of the tail, so none lies beyond tailLength.
  int32_t n = 1;
  size_t argumentBytes = 0;
  for (;; ++n) {
    std::string argument = CheckedArgument(tail, n);
    if (argument.empty())
      break;
    argumentBytes += argument.size();
  }
  Require(argumentBytes <= tailLength);
  for (++n; n <= static_cast<int32_t>(tailLength) + 1; ++n)
    Require(CheckedArgument(tail, n).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The system hands over the command line up to its first NUL.
  const void* nul = memchr(data, 0, size);
  size_t length = nul ? static_cast<const uint8_t*>(nul) - data : size;
  if (length > INT32_MAX / 2)
    return 0;
  char* commandLine = new char[length + 1];
  memcpy(commandLine, data, length);
  commandLine[length] = '\0';
  CheckCommandLine(commandLine, length);
  delete[] commandLine;
  return 0;
}
