// The command tail of this process, taken from the system once.
#include "app/command_line.h"

#include "platform/windows_api.h"

const char* CommandTail = "";

void FixCommandTail() {
  CommandTail = FindCommandTail(GetCommandLineA());
}

std::string CommandArgument(int32_t n) {
  return TailArgument(CommandTail, n);
}
