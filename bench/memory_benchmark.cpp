// Peak heap of the sweep against the shape of the tree, counting only the
// program's own allocations.
//
// Every operator new of this executable is replaced. Each block carries a
// small header with its size and its owner: the program, or the simulated
// Windows. A block belongs to the simulation when it is allocated while a
// call through the seam is under way; the link wraps every seam operation
// the sweep can call (see CMakeLists.txt, --wrap) in a scope that marks
// this. A block is charged back to its owner when it is freed, wherever
// that happens. So the simulation's searches, listings and lookups, which
// grow with the tree, are kept apart from the program's paths and texts.
//
// Counted are the bytes asked of operator new, not the allocator's own
// overhead. Stack use (one 260-byte pattern and one search record per
// level) is not heap and is not counted.
//
//   ostravel_bench_memory > memory.json
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "bench_trees.h"
#include "platform/windows_api.h"
#include "sweep/sweep.h"

namespace {

enum Owner : uint32_t { kUncounted, kProgram, kSimulation };

struct alignas(16) BlockHeader {
  size_t size;
  Owner owner;
};

struct Account {
  int64_t live = 0;
  int64_t peak = 0;
  int64_t blocks = 0;
};

bool measuring = false;
int seamDepth = 0;
int64_t seamCalls = 0;
Account accounts[3];

void* Allocate(size_t size) {
  Owner owner = !measuring ? kUncounted : seamDepth > 0 ? kSimulation : kProgram;
  void* raw = std::malloc(sizeof(BlockHeader) + size);
  if (!raw)
    throw std::bad_alloc();
  BlockHeader* header = static_cast<BlockHeader*>(raw);
  header->size = size;
  header->owner = owner;
  Account& account = accounts[owner];
  account.live += static_cast<int64_t>(size);
  ++account.blocks;
  if (account.live > account.peak)
    account.peak = account.live;
  return header + 1;
}

void Free(void* block) {
  if (!block)
    return;
  BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
  accounts[header->owner].live -= static_cast<int64_t>(header->size);
  std::free(header);
}

struct SeamScope {
  SeamScope() { ++seamDepth, ++seamCalls; }
  ~SeamScope() { --seamDepth; }
};

struct Measurement {
  int64_t programPeak;
  int64_t programBlocks;
  int64_t simulationPeak;
  int64_t seamCalls;
};

// Starts all counts from zero, so a peak is the high-water mark above
// what was live when the sweep began.
void StartCounting() {
  for (Account& account : accounts)
    account = Account();
  seamCalls = 0;
  measuring = true;
}

Measurement StopCounting() {
  measuring = false;
  return Measurement{accounts[kProgram].peak, accounts[kProgram].blocks,
                     accounts[kSimulation].peak, seamCalls};
}

Measurement MeasureSweep(const Tree& tree) {
  std::string root = tree.root;
  StartCounting();
  SweepFailed = 0;
  SweepFolder(root);
  return StopCounting();
}

Measurement MeasureBareWalk(const Tree& tree) {
  StartCounting();
  BareWalk(tree.root);
  return StopCounting();
}

void PrintRow(const char* series, int64_t x, const Tree& tree, const Measurement& m,
              bool last) {
  std::printf("    {\"series\": \"%s\", \"x\": %lld, \"folders\": %lld, "
              "\"program_peak_bytes\": %lld, \"program_blocks\": %lld, "
              "\"simulation_peak_bytes\": %lld, \"seam_calls\": %lld}%s\n",
              series, static_cast<long long>(x), static_cast<long long>(tree.folders),
              static_cast<long long>(m.programPeak), static_cast<long long>(m.programBlocks),
              static_cast<long long>(m.simulationPeak), static_cast<long long>(m.seamCalls),
              last ? "" : ",");
}

}  // namespace

// --- The seam operations the sweep calls, each in a SeamScope.
#define BRACKETED(mangled, Result, parameters, arguments)      \
  extern "C" Result __real_##mangled parameters;                \
  extern "C" Result __wrap_##mangled parameters {               \
    SeamScope scope;                                            \
    return __real_##mangled arguments;                          \
  }

BRACKETED(_Z14FindFirstFileAPKcP16WIN32_FIND_DATAA, HANDLE,
          (LPCSTR a, LPWIN32_FIND_DATAA b), (a, b))
BRACKETED(_Z13FindNextFileAPvP16WIN32_FIND_DATAA, BOOL, (HANDLE a, LPWIN32_FIND_DATAA b),
          (a, b))
BRACKETED(_Z9FindClosePv, BOOL, (HANDLE a), (a))
BRACKETED(_Z18GetFileAttributesAPKc, DWORD, (LPCSTR a), (a))
BRACKETED(_Z11CreateFileAPKcjjP19SECURITY_ATTRIBUTESjjPv, HANDLE,
          (LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
          (a, b, c, d, e, f, g))
BRACKETED(_Z15DeviceIoControlPvjS_jS_jPjP10OVERLAPPED, BOOL,
          (HANDLE a, DWORD b, LPVOID c, DWORD d, LPVOID e, DWORD f, LPDWORD g,
           LPOVERLAPPED h),
          (a, b, c, d, e, f, g, h))
BRACKETED(_Z11CloseHandlePv, BOOL, (HANDLE a), (a))
BRACKETED(_Z12GetLastErrorv, DWORD, (), ())
BRACKETED(_Z12SetErrorModej, UINT, (UINT a), (a))
BRACKETED(_Z16RemoveDirectoryAPKc, BOOL, (LPCSTR a), (a))
BRACKETED(_Z14FormatMessageAjPKvjjPcjPA1_13__va_list_tag, DWORD,
          (DWORD a, LPCVOID b, DWORD c, DWORD d, LPSTR e, DWORD f, va_list* g),
          (a, b, c, d, e, f, g))
BRACKETED(_Z11MessageBoxAPvPKcS1_j, int, (HWND a, LPCSTR b, LPCSTR c, UINT d),
          (a, b, c, d))
BRACKETED(_Z5Sleepj, void, (DWORD a), (a))
BRACKETED(_Z12PeekMessageAP3MSGPvjjj, BOOL, (LPMSG a, HWND b, UINT c, UINT d, UINT e),
          (a, b, c, d, e))
BRACKETED(_Z16TranslateMessagePK3MSG, BOOL, (const MSG* a), (a))
BRACKETED(_Z16DispatchMessageAPK3MSG, LRESULT, (const MSG* a), (a))

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, size_t) noexcept { Free(block); }
void operator delete[](void* block, size_t) noexcept { Free(block); }

int main() {
  std::printf("{\n  \"rows\": [\n");
  const int64_t widths[] = {100, 1000, 10000, 100000};
  for (int64_t width : widths) {
    const Tree& tree = UseTree(Shape::kWide, width);
    PrintRow("width", width, tree, MeasureSweep(tree), false);
    PrintRow("width_bare_walk", width, tree, MeasureBareWalk(tree), false);
  }
  // One-letter names: each level adds two characters, so the chain of 118
  // below the 22-character root reaches the end of the 259-character
  // pattern.
  const int depths[] = {1, 2, 4, 8, 16, 32, 48, 64, 80, 96, 112, 118};
  for (int depth : depths) {
    const Tree& tree = UseChain(depth);
    PrintRow("depth", depth, tree, MeasureSweep(tree), depth == 118);
  }
  // The wrapped seam must actually have been reached, or the simulation's
  // blocks would have been charged to the program.
  std::printf("  ],\n  \"seam_wrapped\": %s\n}\n", seamCalls > 0 ? "true" : "false");
  return seamCalls > 0 ? 0 : 1;
}
