// A fresh simulated machine for each test of the junction test and break
// and of the sweep, and the trace lines those tests expect.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/error_text.h"
#include "platform/host/simulated_windows.h"
#include "sweep/sweep.h"

class SimulatedMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    simwin::Reset();
    SweepFailed = 0;
  }
  // Whatever a test did, nothing it opened may stay open.
  void TearDown() override {
    EXPECT_EQ(simwin::OpenSearchCount(), 0);
    EXPECT_EQ(simwin::OpenHandleCount(), 0);
  }
};

inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The open of a junction's folder, with the link itself and no sharing.
inline std::string OpenLine(const std::string& path, const std::string& result) {
  return "CreateFileA(" + Quoted("\\\\?\\" + path) +
         ", 0xC0000000, 0, NULL, 3, 0x2200000, NULL) -> " + result;
}

// The delete-reparse-point request: the 8-byte header with the mount-point tag.
inline std::string DeleteRequestLine(const std::string& handle, const std::string& result) {
  return "DeviceIoControl(" + handle +
         ", 0x900AC, [03 00 00 A0 00 00 00 00], 8, NULL, 0) -> " + result;
}

inline std::string AttributesLine(const std::string& path, const std::string& result) {
  return "GetFileAttributesA(" + Quoted(path) + ") -> " + result;
}

inline std::string NoticeLine(const std::string& text) {
  return "MessageBoxA(NULL, " + Quoted(text) + ", \"Ostravel\", 0x12000) -> 1";
}

// The removal, with the system's error dialogs off for that one call.
inline std::vector<std::string> RemovalLines(const std::string& path,
                                             const std::string& result,
                                             const std::string& previousMode = "0x0") {
  return {"SetErrorMode(0x8001) -> " + previousMode,
          "RemoveDirectoryA(" + Quoted(path) + ") -> " + result,
          "SetErrorMode(" + previousMode + ") -> 0x8001"};
}

inline std::vector<std::string> Lines(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline size_t CountLines(const std::string& line) {
  size_t count = 0;
  for (const std::string& traced : simwin::Trace())
    count += traced == line;
  return count;
}

inline bool TraceHasPrefix(const std::string& prefix) {
  for (const std::string& traced : simwin::Trace()) {
    if (traced.compare(0, prefix.size(), prefix) == 0)
      return true;
  }
  return false;
}
