// The disk of the simulated Windows: lettered drives and mounted volumes,
// each a tree of folders and files, and Windows' rules for naming an entry.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/windows_api.h"

namespace simwin {
namespace detail {

struct Node {
  std::string name;  // as created: lookups ignore case, listings keep it
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  std::string reparseData;
  std::string content;
  Node* parent = nullptr;  // null for the root of a drive or volume
  std::vector<std::shared_ptr<Node>> children;  // in creation order
  // The same children by lower-case name, so that a lookup in a folder of
  // a hundred thousand entries does not walk them all.
  std::map<std::string, std::shared_ptr<Node>> childrenByName;
  std::vector<std::string> listingOrder;
  bool heldOpen = false;  // opened without sharing by someone else

  bool IsFolder() const { return attributes & FILE_ATTRIBUTE_DIRECTORY; }
  bool IsReparsePoint() const { return attributes & FILE_ATTRIBUTE_REPARSE_POINT; }
  bool IsRoot() const { return parent == nullptr; }
  std::shared_ptr<Node> Child(const std::string& childName) const;
  void AddChild(const std::shared_ptr<Node>& child);
  void RemoveChild(const Node* child);
  // The children in the order a listing reports them.
  std::vector<std::shared_ptr<Node>> ListingOrder() const;
};

// A name as Windows reads it: a root ("C:" or "Volume{...}") and the
// elements below it.
struct PathName {
  std::string root;
  std::vector<std::string> elements;
  // "C:\A\B", "C:\", "\\?\Volume{x}\A".
  std::string Text() const;
};

struct Lookup {
  DWORD error = 0;               // 0 when found
  std::shared_ptr<Node> node;    // the entry, when found
};

bool EqualNoCase(const std::string& a, const std::string& b);
std::string Lower(std::string text);

class Disk {
 public:
  Disk();  // one empty drive C:, current folder C:\ .

  void AddDrive(char letter);
  void SetCurrentFolder(const std::string& path);

  // Reads a name handed to a Windows operation: "\\?\" names literally,
  // others with Win32 normalisation against the current folder. Returns
  // 0 or the error code the operation fails with.
  DWORD ParseWin32(const std::string& name, PathName* out) const;
  // 123 when an element holds a character no file name may hold; the
  // wildcards * and ? are allowed in the last element when asked.
  static DWORD CheckCharacters(const PathName& path, bool wildcardsInLast);

  // Finds an entry. Links met in intermediate elements are always
  // followed; the last element's link only when `followFinal`.
  // Missing entry 2, missing or unusable parent 3.
  Lookup Find(const PathName& path, bool followFinal) const;

  // For the control API: names are split at backslashes only, so names
  // with trailing spaces or dots can be built. Throws on misuse.
  PathName ParseLiteral(const std::string& name) const;
  // Creates missing parents as ordinary folders; the last element is
  // created or updated.
  std::shared_ptr<Node> MakeEntry(const PathName& path, DWORD attributes);
  // A volume is a root without a letter, named "\\?\Volume{...}\".
  std::shared_ptr<Node> Volume(const std::string& volumeName) const;
  std::shared_ptr<Node> AddVolume(const std::string& volumeName);

  std::string PathOf(const Node& node) const;
  std::string Snapshot(const Node& node) const;
  std::string SnapshotAll() const;

 private:
  std::shared_ptr<Node> Root(const std::string& root) const;
  // Where a link leads: the target folder, or null when it dangles.
  Lookup FollowLink(const Node& link, int depth) const;
  Lookup FindFrom(const PathName& path, bool followFinal, int depth) const;
  void SnapshotInto(const Node& node, std::string* out) const;

  std::map<char, std::shared_ptr<Node>> drives_;
  std::map<std::string, std::shared_ptr<Node>> volumes_;  // key: lower case
  PathName currentFolder_;
};

}  // namespace detail
}  // namespace simwin
