#include "bench_trees.h"

#include <cstring>
#include <deque>

#include "bare_walk.h"
#include "platform/host/simulated_windows.h"
#include "platform/windows_api.h"

namespace {

// Long enough that every path is a heap text, as on a real disk, rather
// than fitting the small-string buffer.
const char kRootFolder[] = "C:\\Users\\Public\\Bench";
const int kChainDepth = 100;
const int kFanOut = 10;

Tree current;
std::string currentKey;

void StartMachine() {
  simwin::Reset();
  simwin::SetTracing(false);
  simwin::MakeFolder(kRootFolder);
}

void BuildWide(int64_t folders) {
  for (int64_t i = 1; i <= folders; ++i)
    simwin::MakeFolder(std::string(kRootFolder) + "\\" + std::to_string(i));
}

void BuildDeep(int64_t folders) {
  int64_t chains = (folders + kChainDepth - 1) / kChainDepth;
  std::string tail;
  for (int level = 1; level < kChainDepth; ++level)
    tail += "\\d";
  // The last folder of each chain brings its missing parents with it.
  for (int64_t chain = 1; chain <= chains; ++chain)
    simwin::MakeFolder(std::string(kRootFolder) + "\\" + std::to_string(chain) + tail);
}

void BuildMixed(int64_t folders) {
  std::deque<std::string> parents = {kRootFolder};
  int64_t made = 0;
  while (made < folders) {
    std::string parent = parents.front();
    parents.pop_front();
    simwin::MakeFile(parent + "\\f.txt", "x");
    for (int i = 0; i < kFanOut && made < folders; ++i, ++made) {
      std::string child = parent + "\\" + std::to_string(i);
      simwin::MakeFolder(child);
      parents.push_back(child);
    }
  }
}

}  // namespace

const char* ShapeName(Shape shape) {
  switch (shape) {
    case Shape::kWide: return "wide";
    case Shape::kDeep: return "deep";
    case Shape::kMixed: return "mixed";
  }
  return "?";
}

const Tree& UseTree(Shape shape, int64_t folders) {
  std::string key = std::string(ShapeName(shape)) + "/" + std::to_string(folders);
  if (key == currentKey)
    return current;
  StartMachine();
  switch (shape) {
    case Shape::kWide: BuildWide(folders); break;
    case Shape::kDeep: BuildDeep(folders); break;
    case Shape::kMixed: BuildMixed(folders); break;
  }
  currentKey = key;
  current = Tree{std::string(kRootFolder) + "\\", BareWalk(std::string(kRootFolder) + "\\")};
  return current;
}

const Tree& UseChain(int depth) {
  std::string key = "chain/" + std::to_string(depth);
  if (key == currentKey)
    return current;
  StartMachine();
  std::string path = kRootFolder;
  for (int level = 0; level < depth; ++level)
    path += "\\d";
  simwin::MakeFolder(path);
  currentKey = key;
  current = Tree{std::string(kRootFolder) + "\\", BareWalk(std::string(kRootFolder) + "\\")};
  return current;
}

int64_t BareWalk(const std::string& root) {
  char path[MAX_PATH];
  if (root.size() + 1 > MAX_PATH - 1)
    return 0;
  memcpy(path, root.data(), root.size());
  int64_t considered = 0;
  BareWalk(path, root.size(), &considered);
  return considered;
}
