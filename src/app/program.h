// The process from start to end, and the program's one decision.
#pragma once

#include <cstdint>

extern const char kMissingPathNotice[];

// Sweeps the tree below the folder named by the first argument and returns
// the exit code: 0 when every junction point met was broken, 1 when not.
// Without a first argument it tells the user so and returns 0.
int32_t ProgramMain();

// Start-up, one run of ProgramMain, and the end of the process with its
// result as the exit code. Never returns.
[[noreturn]] void RunProcess();
