// CPU cost of the sweep per considered folder on the simulated Windows,
// side by side with a bare walk of the same tree through the same seam.
//
// The simulated Sleep only moves a virtual clock, so the 1 ms pause per
// folder costs nothing here: what is measured is everything else.
//
//   ostravel_bench [Google Benchmark flags]
//   ostravel_bench --once   one sweep and one walk per tree of 1,000 and
//                           10,000 folders, for callgrind (which runs some
//                           fifty times slower): each is bracketed by
//                           client requests and dumped as
//                           "sweep <shape> <folders>" / "walk <shape> <folders>".
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_trees.h"
#include "platform/host/simulated_windows.h"
#include "sweep/sweep.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define OSTRAVEL_HAVE_CALLGRIND 1
#endif

namespace {

const Shape kShapes[] = {Shape::kWide, Shape::kDeep, Shape::kMixed};
const int64_t kSizes[] = {1000, 10000, 100000};
const int64_t kCallgrindSizes[] = {1000, 10000};

void CheckConsidered(benchmark::State& state, const Tree& tree, int64_t folders) {
  if (tree.folders != folders)
    state.SkipWithError("the tree does not have the folders asked for");
  state.counters["folders"] = static_cast<double>(folders);
}

void SweepTree(benchmark::State& state, Shape shape) {
  const Tree& tree = UseTree(shape, state.range(0));
  CheckConsidered(state, tree, state.range(0));
  uint64_t pausedBefore = simwin::VirtualMilliseconds();
  for (auto _ : state) {
    SweepFailed = 0;
    SweepFolder(tree.root);
  }
  // One idle pause of 1 ms per considered folder, no more and no less.
  uint64_t paused = simwin::VirtualMilliseconds() - pausedBefore;
  if (paused != uint64_t(tree.folders) * state.iterations() || SweepFailed != 0)
    state.SkipWithError("the sweep did not pause once per folder");
}

void WalkTree(benchmark::State& state, Shape shape) {
  const Tree& tree = UseTree(shape, state.range(0));
  CheckConsidered(state, tree, state.range(0));
  int64_t considered = 0;
  for (auto _ : state)
    considered = BareWalk(tree.root);
  if (considered != tree.folders)
    state.SkipWithError("the walk missed folders");
}

// Sweep and walk of one tree run next to each other, so that the tree is
// built once for both.
void RegisterAll() {
  for (Shape shape : kShapes) {
    for (int64_t size : kSizes) {
      std::string suffix = std::string("/") + ShapeName(shape);
      benchmark::RegisterBenchmark(("sweep" + suffix).c_str(), SweepTree, shape)
          ->Arg(size)->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("walk" + suffix).c_str(), WalkTree, shape)
          ->Arg(size)->Unit(benchmark::kMillisecond);
    }
  }
}

int RunOnce() {
#ifdef OSTRAVEL_HAVE_CALLGRIND
  for (Shape shape : kShapes) {
    for (int64_t size : kCallgrindSizes) {
      const Tree& tree = UseTree(shape, size);
      std::string name = std::string(ShapeName(shape)) + " " + std::to_string(size);
      // The macros copy the pointer only: the texts must outlive them.
      std::string sweepDump = "sweep " + name;
      std::string walkDump = "walk " + name;
      CALLGRIND_ZERO_STATS;
      CALLGRIND_TOGGLE_COLLECT;
      SweepFolder(tree.root);
      CALLGRIND_TOGGLE_COLLECT;
      CALLGRIND_DUMP_STATS_AT(sweepDump.c_str());
      CALLGRIND_ZERO_STATS;
      CALLGRIND_TOGGLE_COLLECT;
      int64_t considered = BareWalk(tree.root);
      CALLGRIND_TOGGLE_COLLECT;
      CALLGRIND_DUMP_STATS_AT(walkDump.c_str());
      std::printf("%s: %lld folders\n", name.c_str(), static_cast<long long>(considered));
    }
  }
  return 0;
#else
  std::fprintf(stderr, "built without valgrind/callgrind.h\n");
  return 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--once") == 0)
    return RunOnce();
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
