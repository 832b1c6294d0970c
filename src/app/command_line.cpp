// Scanning of the command line. Nothing here calls the system, so the
// scanner can be exercised on any text.
#include "app/command_line.h"

namespace {

const char* SkipSpaces(const char* p) {
  while (*p == ' ')
    ++p;
  return p;
}

// Characters above 32 continue an unquoted program name; bytes from 128 up
// count as such characters.
bool ContinuesProgramName(char c) {
  return static_cast<unsigned char>(c) > ' ';
}

}  // namespace

const char* FindCommandTail(const char* commandLine) {
  const char* p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p != '"') {
      if (*p == '\0')
        return p;  // the name's quote is never closed: no tail
      ++p;
    }
    // A quoted name may be followed by the tail with no space between.
    return SkipSpaces(p + 1);
  }
  if (*p == ' ')
    return SkipSpaces(p);  // an empty program name
  if (*p == '\0')
    return p;
  // The first character belongs to the name whatever its code.
  ++p;
  while (ContinuesProgramName(*p))
    ++p;
  // A tab or other control code ends the name and is part of the tail.
  return SkipSpaces(p);
}

std::string TailArgument(const char* tail, int32_t n) {
  if (n < 0)
    return std::string();
  if (n == 0)
    return tail;
  const char* p = tail;
  int32_t count = 0;
  for (;;) {
    p = SkipSpaces(p);
    if (*p == '\0')
      return std::string();
    const char* start;
    const char* end;
    if (*p == '"') {
      start = ++p;
      while (*p != '"' && *p != '\0')
        ++p;
      end = p;
      if (*p == '\0')  // never closed: the rest of the tail, if it is the one
        return count + 1 == n ? std::string(start, end) : std::string();
      ++p;  // past the closing quote; the next argument may start right here
      if (start == end)
        continue;  // an empty quote pair is no argument
    } else {
      start = p;
      while (*p != ' ' && *p != '\0')
        ++p;
      end = p;
    }
    if (++count == n)
      return std::string(start, end);
  }
}
