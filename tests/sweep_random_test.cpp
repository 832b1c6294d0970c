// The sweep over many random trees, with random failures of the system.
//
// Each tree is built from a seed: ordinary folders, files, junctions
// leading inside the tree, outside it, to an ancestor or nowhere, directory
// symbolic links, other reparse tags, mounted volumes, names that a plain
// path cannot reach, and paths near the length limits. What the sweep must
// have done is derived from the tree as generated and from what the system
// delivered (the trace), never from the sweep's own steps.
//
// OSTRAVEL_SEED sets the first seed, OSTRAVEL_TREES the number of trees; a
// failure names the seed that replays it (with OSTRAVEL_TREES=1).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/simulated_windows.h"
#include "sweep/sweep.h"

namespace {

enum class Kind { Folder, File, Junction, Symlink, OtherTag, Volume };

struct Node {
  std::string path;
  std::string name;
  Kind kind = Kind::Folder;
  int parent = -1;
  DWORD attributes = FILE_ATTRIBUTE_DIRECTORY;
  DWORD tag = 0;
  std::string data;     // link target, volume name or tag data
  std::string content;  // files
};

const char kRoot[] = "C:\\R";
// Windows' plain paths: a search pattern of at most 259 characters, and a
// removal of at most 255.
const size_t kLongestPattern = 259;
const size_t kLongestRemoval = 255;

bool IsReparse(Kind kind) {
  return kind == Kind::Junction || kind == Kind::Symlink || kind == Kind::OtherTag ||
         kind == Kind::Volume;
}

bool CarriesMountPointTag(Kind kind) { return kind == Kind::Junction || kind == Kind::Volume; }

std::string WithoutTrailingSpaces(std::string name) {
  while (!name.empty() && name.back() == ' ')
    name.pop_back();
  return name;
}

// "." or ".." followed by spaces: passed over like the dots themselves.
bool IsDotName(const std::string& name) {
  std::string trimmed = WithoutTrailingSpaces(name);
  return trimmed == "." || trimmed == "..";
}

// A plain path drops trailing spaces and dots of its last element, and a
// "?" stands for characters lost to the ANSI code page.
bool IsUnnameable(const std::string& name) {
  return !IsDotName(name) &&
         (name.back() == ' ' || name.back() == '.' || name.find('?') != std::string::npos);
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// --- Building a tree.

class TreeMaker {
 public:
  explicit TreeMaker(uint32_t seed) : rng_(seed) {}

  std::vector<Node> Make() {
    Node root;
    root.path = kRoot;
    root.name = "R";
    nodes_.push_back(root);
    Fill(0, 0);
    return nodes_;
  }

 private:
  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool Chance(int percent) { return Below(100) < percent; }

  std::string Letters(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
      text += static_cast<char>('a' + Below(26));
    return text;
  }

  bool Taken(int folder, const std::string& name) {
    for (const Node& node : nodes_) {
      if (node.parent == folder && Lower(node.name) == Lower(name))
        return true;
    }
    return false;
  }

  std::string SiblingName(int folder) {
    for (const Node& node : nodes_) {
      if (node.parent == folder && !IsUnnameable(node.name) && !IsDotName(node.name))
        return node.name;
    }
    return Letters(3);
  }

  std::string Name(int folder) {
    size_t parentLength = nodes_[folder].path.size();
    for (;;) {
      std::string name;
      int choice = Below(100);
      if (choice < 6) {
        name = Letters(1 + Below(4)) + std::string(1 + Below(2), ' ');
      } else if (choice < 10) {
        name = Letters(1 + Below(4)) + (Chance(50) ? "." : "..");
      } else if (choice < 12) {
        name = std::string(1 + Below(3), ' ');
      } else if (choice < 14) {
        name = (Chance(50) ? "." : "..") + std::string(1 + Below(2), ' ');
      } else if (choice < 17) {
        name = SiblingName(folder) + (Chance(50) ? " " : ".");  // a namesake
      } else if (choice < 27) {
        // Lands the path near the limits of a removal (255) and a search
        // pattern (259).
        size_t wanted = 250 + Below(12);
        if (wanted <= parentLength + 1)
          continue;
        name = Letters(1) + std::string(wanted - parentLength - 2, 'x');
      } else {
        name = Letters(1 + Below(6));
      }
      if (!Taken(folder, name))
        return name;
    }
  }

  std::string SomeTarget(int folder) {
    switch (Below(5)) {
      case 0:
        return nodes_[Below(static_cast<int>(nodes_.size()))].path;  // inside
      case 1:
        return Chance(50) ? "C:\\Out" : "C:\\Out\\Sub";  // outside
      case 2:
        return Chance(50) ? nodes_[folder].path : std::string(kRoot);  // an ancestor
      case 3:
        return "D:\\";
      default:
        return "C:\\Missing\\" + Letters(2);  // nowhere
    }
  }

  void Fill(int folder, int depth) {
    int count = Below(depth == 0 ? 8 : 5);
    for (int i = 0; i < count; ++i) {
      Node node;
      node.parent = folder;
      node.name = Name(folder);
      node.path = nodes_[folder].path + "\\" + node.name;
      int choice = Below(100);
      if (choice < 30) {
        node.kind = Kind::Folder;
      } else if (choice < 36) {
        node.kind = Kind::Folder;
        node.attributes |= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
      } else if (choice < 56) {
        node.kind = Kind::File;
        node.content = Letters(Below(5));
        const DWORD fileAttributes[] = {FILE_ATTRIBUTE_ARCHIVE,
                                        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
                                        FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE};
        node.attributes = fileAttributes[Below(3)];
      } else if (choice < 78) {
        node.kind = Kind::Junction;
        node.tag = IO_REPARSE_TAG_MOUNT_POINT;
        node.data = SomeTarget(folder);
      } else if (choice < 85) {
        node.kind = Kind::Symlink;
        node.tag = IO_REPARSE_TAG_SYMLINK;
        node.data = SomeTarget(folder);
      } else if (choice < 91) {
        node.kind = Kind::OtherTag;
        const DWORD tags[] = {0x9000001A, 0x80000017, 0x8000001B};
        node.tag = tags[Below(3)];
        node.data = "data";
      } else {
        node.kind = Kind::Volume;
        node.tag = IO_REPARSE_TAG_MOUNT_POINT;
        node.data = "\\\\?\\Volume{" + std::to_string(nodes_.size()) + "}\\";
      }
      if (IsReparse(node.kind))
        node.attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
      nodes_.push_back(node);
      if (node.kind == Kind::Folder && depth < 5)
        Fill(static_cast<int>(nodes_.size()) - 1, depth + 1);
    }
  }

  std::mt19937 rng_;
  std::vector<Node> nodes_;
};

// The world around the tree: places that links lead to, each holding
// links of its own that a sweep entering them would break.
void MakeSurroundings() {
  simwin::AddDrive('D');
  simwin::MakeFile("C:\\Out\\o.txt", "out");
  simwin::MakeJunction("C:\\Out\\Sub\\Back", kRoot);
  simwin::MakeJunction("C:\\Out\\Loop", "C:\\Out");
  simwin::MakeJunction("D:\\DJ", "C:\\Out");
  simwin::MakeFolder("D:\\Dir");
}

void MakeOnDisk(const std::vector<Node>& nodes) {
  for (const Node& node : nodes) {
    switch (node.kind) {
      case Kind::Folder:
        simwin::MakeFolder(node.path, node.attributes);
        break;
      case Kind::File:
        simwin::MakeFile(node.path, node.content, node.attributes);
        break;
      case Kind::Junction:
      case Kind::Symlink:
      case Kind::OtherTag:
        simwin::MakeReparseFolder(node.path, node.tag, node.data);
        break;
      case Kind::Volume:
        simwin::MountVolume(node.path, node.data);
        simwin::MakeJunction(node.data + "Inside\\VJ", "C:\\Out");
        break;
    }
  }
}

// --- Failures of the system.

const char* const kOperations[] = {
    "FindFirstFileA", "FindNextFileA", "FindClose",   "GetFileAttributesA", "CreateFileA",
    "DeviceIoControl", "CloseHandle",  "RemoveDirectoryA", "MessageBoxA",   "FormatMessageA"};
const DWORD kErrors[] = {2, 3, 5, 8, 32, 50, 87, 123, 145, 206, 1314, 4390, 4394, 0xE0000001};

// The name a failure is matched by, in the form each operation sees it.
// The user-side calls name no path: their failures hit every call.
std::string NameFor(const std::string& operation, const std::string& path) {
  if (operation == "MessageBoxA" || operation == "FormatMessageA")
    return "";
  if (operation == "FindFirstFileA" || operation == "FindNextFileA" || operation == "FindClose")
    return path + "\\*";
  if (operation == "CreateFileA" || operation == "DeviceIoControl" || operation == "CloseHandle")
    return "\\\\?\\" + path;
  return path;
}

void InjectFailures(std::mt19937& rng, const std::vector<Node>& nodes, std::string* plan) {
  auto below = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  size_t count = below(4);
  for (size_t i = 0; i < count; ++i) {
    std::string operation = kOperations[below(std::size(kOperations))];
    DWORD error = kErrors[below(std::size(kErrors))];
    std::string path;
    if (below(4) != 0)
      path = NameFor(operation, nodes[below(nodes.size())].path);
    int nth = below(2) ? 0 : static_cast<int>(1 + below(3));
    simwin::FailCall(operation, error, path, nth);
    *plan += "  " + operation + " error " + std::to_string(error) + " on \"" + path +
             "\" call " + std::to_string(nth) + "\n";
  }
  for (const Node& node : nodes) {
    if (IsReparse(node.kind) && !IsUnnameable(node.name) && below(10) == 0) {
      simwin::HoldOpen(node.path);
      *plan += "  held open: " + node.path + "\n";
    }
  }
}

// --- What the trace shows.

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The text between `open` and `close` (searched from the end).
std::string Between(const std::string& line, const std::string& open, const std::string& close) {
  size_t start = line.find(open) + open.size();
  return line.substr(start, line.rfind(close) - start);
}

std::string HandleAfterArrow(const std::string& line) {
  size_t arrow = line.find(") -> h");
  if (arrow == std::string::npos)
    return "";
  std::string handle = line.substr(arrow + 5);
  return handle.substr(0, handle.find(' '));
}

std::string HandleArgument(const std::string& line) { return Between(line, "(", ") -> "); }

struct Observed {
  std::map<std::string, std::string> searchPattern;     // search handle -> pattern
  std::vector<std::string> patterns;                     // in order
  std::set<std::string> closedSearches;
  std::map<std::string, std::string> handlePath;        // file handle -> path opened
  std::set<std::string> closedHandles;
  std::map<std::string, int> opens;                      // path opened -> count
  std::set<std::string> delivered;                       // folder path + "\" + name
  std::map<std::string, int> boxesFor;                   // what each box was about
  int boxes = 0;
  int peeks = 0;
  int dispatched = 0;
  int idlePauses = 0;
  bool failedClose = false;
  std::vector<std::string> problems;
};

Observed ReadTrace(const std::vector<std::string>& trace, UINT initialMode) {
  Observed seen;
  std::string subject;  // what a notice shown now would be about
  for (size_t i = 0; i < trace.size(); ++i) {
    const std::string& line = trace[i];
    if (StartsWith(line, "FindFirstFileA(")) {
      std::string pattern = Between(line, "FindFirstFileA(\"", "\") -> ");
      seen.patterns.push_back(pattern);
      std::string handle = HandleAfterArrow(line);
      if (!handle.empty()) {
        seen.searchPattern[handle] = pattern;
        // Every folder searched here is below the root: "." comes first.
      }
      subject.clear();
    } else if (StartsWith(line, "FindNextFileA(")) {
      std::string handle = HandleArgument(line);
      if (line.find(") -> 1 \"") != std::string::npos) {
        std::string pattern = seen.searchPattern[handle];
        subject = pattern.substr(0, pattern.size() - 1) + Between(line, ") -> 1 \"", "\"");
        seen.delivered.insert(subject);
      }
    } else if (StartsWith(line, "FindClose(")) {
      seen.closedSearches.insert(HandleArgument(line));
      seen.failedClose |= line.find(") -> 0") != std::string::npos;
    } else if (StartsWith(line, "CreateFileA(")) {
      std::string name = Between(line, "CreateFileA(\"", "\", 0x");
      std::string path = StartsWith(name, "\\\\?\\") ? name.substr(4) : name;
      ++seen.opens[path];
      std::string handle = HandleAfterArrow(line);
      if (!handle.empty())
        seen.handlePath[handle] = path;
      subject = path;
    } else if (StartsWith(line, "CloseHandle(")) {
      seen.closedHandles.insert(HandleArgument(line));
      seen.failedClose |= line.find(") -> 0") != std::string::npos;
    } else if (StartsWith(line, "MessageBoxA(")) {
      ++seen.boxes;
      ++seen.boxesFor[subject];
    } else if (StartsWith(line, "PeekMessageA(")) {
      ++seen.peeks;
    } else if (StartsWith(line, "DispatchMessageA(")) {
      ++seen.dispatched;
    } else if (line == "Sleep(1)") {
      ++seen.idlePauses;
    } else if (StartsWith(line, "RemoveDirectoryA(")) {
      // The system's own error dialogs are off for the removal alone.
      if (i == 0 || !StartsWith(trace[i - 1], "SetErrorMode(0x8001) -> ") ||
          i + 1 == trace.size() ||
          trace[i + 1] != "SetErrorMode(" + trace[i - 1].substr(24) + ") -> 0x8001")
        seen.problems.push_back("error mode not set and restored around: " + line);
    } else if (StartsWith(line, "SetErrorMode(")) {
      bool aroundRemoval = (i + 1 < trace.size() && StartsWith(trace[i + 1], "RemoveDirectoryA(")) ||
                           (i > 0 && StartsWith(trace[i - 1], "RemoveDirectoryA("));
      if (!aroundRemoval)
        seen.problems.push_back("error mode changed away from a removal: " + line);
    }
  }
  if (simwin::CurrentErrorMode() != initialMode)
    seen.problems.push_back("error mode left changed");
  return seen;
}

// --- The checks of one sweep.

std::vector<std::string> SnapshotLines(const std::string& snapshot) {
  std::vector<std::string> lines;
  std::istringstream in(snapshot);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// Everything outside the tree below the starting folder.
std::string Outside(const std::string& snapshot) {
  std::string rest;
  std::string inside = std::string(kRoot) + "\\";
  for (const std::string& line : SnapshotLines(snapshot)) {
    if (!StartsWith(line, inside))
      rest += line + "\n";
  }
  return rest;
}

bool Same(const simwin::Entry& entry, const Node& node) {
  return entry.exists && entry.attributes == node.attributes && entry.reparseTag == node.tag &&
         entry.reparseData == node.data && entry.content == node.content;
}

struct Sweep {
  std::vector<Node> nodes;
  bool faults = false;
  UINT initialMode = 0;
  std::string before;
};

std::vector<std::string> Check(const Sweep& sweep, int32_t sweepFailed) {
  const std::vector<Node>& nodes = sweep.nodes;
  Observed seen = ReadTrace(simwin::Trace(), sweep.initialMode);
  std::vector<std::string>& problems = seen.problems;
  auto problem = [&problems](const std::string& text) { problems.push_back(text); };

  if (Outside(simwin::SnapshotAll()) != Outside(sweep.before))
    problem("something outside the starting tree changed");

  // Searched only: the start, and ordinary folders met by a name that
  // reaches them, within the pattern limit. Nothing else, nothing twice.
  std::map<std::string, int> searchable;
  searchable[std::string(kRoot) + "\\*"] = 0;
  for (const Node& node : nodes) {
    if (node.kind == Kind::Folder && node.parent >= 0 && !IsUnnameable(node.name) &&
        !IsDotName(node.name))
      searchable[node.path + "\\*"] = 0;
  }
  for (const std::string& pattern : seen.patterns) {
    if (pattern.size() > kLongestPattern)
      problem("pattern longer than 259 characters: " + pattern);
    auto found = searchable.find(pattern);
    if (found == searchable.end())
      problem("listed what is no ordinary folder of the tree: " + pattern);
    else if (++found->second > 1)
      problem("listed twice: " + pattern);
  }

  for (const auto& search : seen.searchPattern) {
    if (!seen.closedSearches.count(search.first))
      problem("search never closed: " + search.second);
  }
  for (const auto& handle : seen.handlePath) {
    if (!seen.closedHandles.count(handle.first))
      problem("handle never closed: " + handle.second);
  }
  if (!seen.failedClose && (simwin::OpenSearchCount() || simwin::OpenHandleCount()))
    problem("searches or handles left open");

  bool shouldFail = false;
  int considered = 0;
  int notices = 0;
  for (size_t i = 1; i < nodes.size(); ++i) {
    const Node& node = nodes[i];
    const Node& parent = nodes[node.parent];
    bool met = seen.delivered.count(parent.path + "\\" + node.name) > 0;
    // Reachable: every ancestor an ordinary, nameable folder short enough
    // to search. Without failures the whole reachable tree is met.
    bool reachable = parent.path.size() + 2 <= kLongestPattern;
    for (int at = node.parent; at > 0; at = nodes[at].parent) {
      reachable &= nodes[at].kind == Kind::Folder && !IsUnnameable(nodes[at].name) &&
                   !IsDotName(nodes[at].name);
    }
    if (met && !reachable)
      problem("met unreachable " + node.path);
    if (!met && reachable && !sweep.faults)
      problem("never met " + node.path);
    // An ordinary folder met is walked, unless its pattern would not fit.
    bool walked = searchable.count(node.path + "\\*") && searchable.at(node.path + "\\*") > 0;
    bool walkable = node.kind == Kind::Folder && !IsUnnameable(node.name) && !IsDotName(node.name) &&
                    node.path.size() + 2 <= kLongestPattern;
    if (walked && !met)
      problem("walked without being met: " + node.path);
    if (met && walked != walkable)
      problem(std::string(walked ? "walked " : "not walked ") + node.path);
    if (met && node.kind != Kind::File && !IsDotName(node.name))
      ++considered;
    simwin::Entry now = simwin::Inspect(node.path);
    int boxes = seen.boxesFor.count(node.path) ? seen.boxesFor.at(node.path) : 0;
    notices += boxes;
    int opens = seen.opens.count(node.path) ? seen.opens.at(node.path) : 0;

    if (!IsReparse(node.kind) || IsUnnameable(node.name) || IsDotName(node.name) || !met) {
      if (!Same(now, node))
        problem("changed: " + node.path);
      if (opens)
        problem("opened: " + node.path);
      bool reported = met && node.kind != Kind::File && IsUnnameable(node.name);
      if (boxes != (reported ? 1 : 0))
        problem(std::to_string(boxes) + " notices for " + node.path);
      shouldFail |= reported;
      continue;
    }

    // A reparse-point folder met by the sweep.
    if (opens != 1)
      problem(std::to_string(opens) + " opens of " + node.path);
    bool broken = CarriesMountPointTag(node.kind) &&
                  (!now.exists || (now.attributes == FILE_ATTRIBUTE_DIRECTORY && now.reparseTag == 0));
    if (broken) {
      if (boxes != 0)
        problem("notice for a broken link: " + node.path);
      if (!sweep.faults && now.exists != (node.path.size() > kLongestRemoval))
        problem("removal wrong for the path length: " + node.path);
    } else if (Same(now, node)) {
      shouldFail = true;
      if (boxes != 1)
        problem(std::to_string(boxes) + " notices for unbroken " + node.path);
      if (!sweep.faults && CarriesMountPointTag(node.kind))
        problem("not broken without a failure: " + node.path);
    } else {
      problem("left neither gone, plain and empty, nor unchanged: " + node.path);
    }
  }
  if (notices != seen.boxes)
    problem(std::to_string(seen.boxes - notices) + " notices about nothing of the tree");
  if (sweepFailed != (shouldFail ? 1 : 0))
    problem("SweepFailed is " + std::to_string(sweepFailed));
  if (seen.peeks != considered || seen.idlePauses + seen.dispatched != considered)
    problem("event pump ran " + std::to_string(seen.peeks) + " times for " +
            std::to_string(considered) + " considered entries");
  return problems;
}

std::string Describe(const std::vector<Node>& nodes) {
  const char* kinds[] = {"folder", "file", "junction", "symlink", "other tag", "volume"};
  std::string text;
  for (const Node& node : nodes) {
    text += "  \"" + node.path + "\" " + kinds[static_cast<int>(node.kind)];
    if (!node.data.empty())
      text += " -> " + node.data;
    text += "\n";
  }
  return text;
}

uint32_t FromEnvironment(const char* name, uint32_t fallback) {
  const char* value = std::getenv(name);
  return value && *value ? static_cast<uint32_t>(std::strtoul(value, nullptr, 10)) : fallback;
}

void SweepRandomTrees(bool faults, uint32_t defaultTrees) {
  uint32_t firstSeed = FromEnvironment("OSTRAVEL_SEED", 1);
  uint32_t trees = FromEnvironment("OSTRAVEL_TREES", defaultTrees);
  for (uint32_t i = 0; i < trees; ++i) {
    uint32_t seed = firstSeed + i;
    simwin::Reset();
    Sweep sweep;
    sweep.faults = faults;
    sweep.nodes = TreeMaker(seed).Make();
    MakeSurroundings();
    MakeOnDisk(sweep.nodes);
    std::mt19937 rng(seed ^ 0x5EED5EEDu);
    std::string plan;
    if (faults) {
      InjectFailures(rng, sweep.nodes, &plan);
      const UINT modes[] = {0, 0x1, 0x8000, 0x8001, 0x4};
      sweep.initialMode = modes[rng() % 5];
      SetErrorMode(sweep.initialMode);
      for (unsigned m = rng() % 3; m > 0; --m)
        simwin::PostThreadMessage(WM_USER + m);
    }
    sweep.before = simwin::SnapshotAll();
    simwin::ClearTrace();
    SweepFailed = 0;

    std::vector<std::string> problems;
    try {
      SweepFolder(rng() % 2 ? std::string(kRoot) : std::string(kRoot) + "\\");
      problems = Check(sweep, SweepFailed);
    } catch (const std::exception& error) {
      problems.push_back(std::string("the sweep threw: ") + error.what());
    }
    if (!problems.empty()) {
      std::string text;
      for (const std::string& line : problems)
        text += "  " + line + "\n";
      ADD_FAILURE() << "tree with seed " << seed << " (replay: OSTRAVEL_SEED=" << seed
                    << " OSTRAVEL_TREES=1)\n"
                    << text << "failures injected:\n"
                    << plan << "tree:\n"
                    << Describe(sweep.nodes);
      return;
    }
  }
}

TEST(SweepRandomTest, TreesWithFailures) { SweepRandomTrees(true, 2000); }

TEST(SweepRandomTest, CleanTrees) { SweepRandomTrees(false, 1000); }

}  // namespace
