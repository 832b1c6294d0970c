// The command line: where the text after the program's own name begins, and
// the arguments cut from that text.
//
// Only the space separates arguments; a double quote groups and is removed;
// a quote pair with nothing between its quotes is no argument; there is no
// escape of any kind. The platform's own splitter follows other rules, so
// the program does its own scanning.
#pragma once

#include <cstdint>
#include <string>

// The command line after the program name, fixed once at start-up. It
// points into the system's copy of the command line, which is never copied
// nor changed.
extern const char* CommandTail;

// Fixes CommandTail from GetCommandLineA.
void FixCommandTail();

// The n-th argument of CommandTail: n = 0 the whole tail, n >= 1 the n-th
// argument; empty when there is no such argument or n < 0.
std::string CommandArgument(int32_t n);

// Where the tail begins in `commandLine`: a position inside it, at its
// terminating NUL when nothing follows the program name.
const char* FindCommandTail(const char* commandLine);

// The n-th argument of `tail`, by the same rules as CommandArgument.
std::string TailArgument(const char* tail, int32_t n);
