// Trees on the simulated disk that the benchmarks walk, and the bare walk
// that the sweep is measured against.
#pragma once

#include <cstdint>
#include <string>

enum class Shape {
  kWide,   // every folder directly below the root
  kDeep,   // chains of 100 levels of one-letter names
  kMixed,  // ten subfolders and one file per folder, filled level by level
};

const char* ShapeName(Shape shape);

struct Tree {
  std::string root;   // ends with a backslash, as the sweep is started
  int64_t folders;    // folders below the root: the sweep considers each once
};

// Resets the simulated Windows, turns its trace off and builds a tree of
// `folders` folders below C:\Users\Public\Bench. Building a big tree takes a while, so the
// last one stays in place while the same shape and size are asked for.
const Tree& UseTree(Shape shape, int64_t folders);

// One folder with `depth` nested one-letter folders below it: the deepest
// the sweep reaches within the 259-character search pattern is 118.
const Tree& UseChain(int depth);

// Lists the tree below `root` through the same seam as the sweep, and no
// more: FindFirstFileA / FindNextFileA / FindClose per folder and one
// GetFileAttributesA per subfolder, with the paths built in one buffer.
// Returns the number of folders it considered.
int64_t BareWalk(const std::string& root);
