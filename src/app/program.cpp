#include "app/program.h"

#include <new>
#include <string>

#include "app/command_line.h"
#include "messages/notice.h"
#include "platform/windows_api.h"
#include "sweep/sweep.h"

const char kMissingPathNotice[] =
    "I'm not doing anything without a starting path, for example: D:\\PQ\\";

int32_t ProgramMain() {
  std::string start = CommandArgument(1);
  if (start.empty()) {
    ShowNotice(kMissingPathNotice, kNoticeCaption, kNoticeStyle);
    return 0;
  }
  if (start.back() != '\\')
    start += '\\';
  SweepFailed = 0;
  SweepFolder(start);
  return SweepFailed;
}

void RunProcess() {
  CoInitialize(NULL);
  FixCommandTail();
  SweepFailed = 0;
  int32_t exitCode;
  // Running out of memory for a path ends the run early; whatever was not
  // reached was not broken, so the run has failed.
  try {
    exitCode = ProgramMain();
  } catch (const std::bad_alloc&) {
    exitCode = 1;
  }
  CoUninitialize();
  ExitProcess(static_cast<UINT>(exitCode));
}
