#include "platform/host/simulated_disk.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <stdexcept>

namespace simwin {
namespace detail {

namespace {

const DWORD kRootAttributes =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const DWORD kErrorBadNetPath = 53;
const DWORD kErrorCantResolveFilename = 1921;
const size_t kVerbatimLimit = 32767;
// Windows gives up on a chain of links after this many.
const int kMaxLinkDepth = 31;

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsDriveRoot(const std::string& element) {
  return element.size() == 2 &&
         std::isalpha(static_cast<unsigned char>(element[0])) && element[1] == ':';
}

bool IsVolumeRoot(const std::string& element) {
  return StartsWithNoCase(element, "Volume{") && element.back() == '}';
}

std::vector<std::string> SplitAtBackslash(const std::string& text) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text) {
    if (c == '\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

std::string StripVerbatimPrefix(const std::string& text) {
  if (text.compare(0, 4, "\\\\?\\") == 0 || text.compare(0, 4, "\\??\\") == 0)
    return text.substr(4);
  return text;
}

std::string VolumeKey(const std::string& volumeName) {
  std::string name = StripVerbatimPrefix(volumeName);
  while (!name.empty() && name.back() == '\\')
    name.pop_back();
  return name;
}

// An absolute name split at backslashes only, empty elements dropped.
// False when it does not start at a drive or a volume.
bool SplitLiteral(const std::string& text, PathName* out) {
  std::vector<std::string> parts = SplitAtBackslash(StripVerbatimPrefix(text));
  if (IsDriveRoot(parts[0])) {
    out->root = std::string(1, static_cast<char>(std::toupper(
                    static_cast<unsigned char>(parts[0][0])))) + ":";
  } else if (IsVolumeRoot(parts[0])) {
    out->root = parts[0];
  } else {
    return false;
  }
  out->elements.clear();
  for (size_t i = 1; i < parts.size(); ++i) {
    if (!parts[i].empty())
      out->elements.push_back(parts[i]);
  }
  return true;
}

void DropDotElements(PathName* path) {
  std::vector<std::string> kept;
  for (const std::string& element : path->elements) {
    if (element == ".")
      continue;
    if (element == "..") {
      if (!kept.empty())
        kept.pop_back();
      continue;
    }
    kept.push_back(element);
  }
  path->elements = kept;
}

bool IsLinkTag(DWORD tag) {
  return tag == IO_REPARSE_TAG_MOUNT_POINT || tag == IO_REPARSE_TAG_SYMLINK;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::shared_ptr<Node> Node::Child(const std::string& childName) const {
  auto child = childrenByName.find(Lower(childName));
  return child == childrenByName.end() ? nullptr : child->second;
}

void Node::AddChild(const std::shared_ptr<Node>& child) {
  children.push_back(child);
  childrenByName[Lower(child->name)] = child;
}

void Node::RemoveChild(const Node* child) {
  for (auto it = children.begin(); it != children.end(); ++it) {
    if (it->get() == child) {
      childrenByName.erase(Lower(child->name));
      children.erase(it);
      return;
    }
  }
}

std::vector<std::shared_ptr<Node>> Node::ListingOrder() const {
  if (listingOrder.empty())
    return children;
  std::vector<std::shared_ptr<Node>> ordered;
  std::set<const Node*> listed;
  for (const std::string& wanted : listingOrder) {
    std::shared_ptr<Node> child = Child(wanted);
    if (child && listed.insert(child.get()).second)
      ordered.push_back(child);
  }
  for (const auto& child : children) {
    if (listed.insert(child.get()).second)
      ordered.push_back(child);
  }
  return ordered;
}

std::string PathName::Text() const {
  std::string text = IsDriveRoot(root) ? root : "\\\\?\\" + root;
  if (elements.empty())
    return text + "\\";
  for (const std::string& element : elements)
    text += "\\" + element;
  return text;
}

Disk::Disk() {
  AddDrive('C');
  currentFolder_.root = "C:";
}

void Disk::AddDrive(char letter) {
  std::string root(1, static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
  root += ":";
  std::shared_ptr<Node>& drive = drives_[root[0]];
  if (drive)
    return;
  drive = std::make_shared<Node>();
  drive->name = root;
  drive->attributes = kRootAttributes;
}

void Disk::SetCurrentFolder(const std::string& path) {
  currentFolder_ = ParseLiteral(path);
}

DWORD Disk::ParseWin32(const std::string& name, PathName* out) const {
  if (name.compare(0, 4, "\\\\?\\") == 0) {
    // Taken as it stands: only the backslash separates, and nothing is
    // resolved, trimmed or made absolute.
    if (name.size() > kVerbatimLimit)
      return ERROR_FILENAME_EXCED_RANGE;
    std::vector<std::string> parts = SplitAtBackslash(name.substr(4));
    const std::string& first = parts[0];
    if (IsDriveRoot(first) || IsVolumeRoot(first)) {
      PathName root;
      SplitLiteral(first, &root);
      out->root = root.root;
    } else if (EqualNoCase(first, "UNC")) {
      return kErrorBadNetPath;
    } else if (first.empty()) {
      return ERROR_INVALID_NAME;
    } else {
      return parts.size() > 1 ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    }
    out->elements.clear();
    for (size_t i = 1; i < parts.size(); ++i) {
      bool last = i + 1 == parts.size();
      if (parts[i].empty() && last)
        break;  // a trailing backslash
      if (parts[i].empty() || parts[i] == "." || parts[i] == "..")
        return ERROR_INVALID_NAME;
      out->elements.push_back(parts[i]);
    }
    return 0;
  }

  // The ANSI operations take at most MAX_PATH - 1 characters.
  if (name.size() > MAX_PATH - 1)
    return ERROR_FILENAME_EXCED_RANGE;
  if (name.empty())
    return ERROR_PATH_NOT_FOUND;
  std::string text = name;
  std::replace(text.begin(), text.end(), '/', '\\');
  if (text.compare(0, 2, "\\\\") == 0)
    return kErrorBadNetPath;  // no network on this machine

  PathName full;
  std::string rest;
  if (text.size() >= 2 && IsDriveRoot(text.substr(0, 2))) {
    SplitLiteral(text.substr(0, 2), &full);
    if (text.size() >= 3 && text[2] == '\\')
      rest = text.substr(3);
    else if (full.root == currentFolder_.root)
      full = currentFolder_, rest = text.substr(2);
    else
      rest = text.substr(2);  // another drive's current folder: its root
  } else if (text[0] == '\\') {
    full.root = currentFolder_.root;
    rest = text.substr(1);
  } else {
    full = currentFolder_;
    rest = text;
  }

  std::vector<std::string> parts = SplitAtBackslash(rest);
  std::string& last = parts.back();
  if (last != "." && last != "..") {
    // Only the last element loses its trailing spaces and dots.
    while (!last.empty() && (last.back() == ' ' || last.back() == '.'))
      last.pop_back();
  }
  for (const std::string& part : parts) {
    if (!part.empty())
      full.elements.push_back(part);
  }
  DropDotElements(&full);
  if (full.Text().size() > MAX_PATH - 1)
    return ERROR_FILENAME_EXCED_RANGE;
  *out = full;
  return 0;
}

DWORD Disk::CheckCharacters(const PathName& path, bool wildcardsInLast) {
  for (size_t i = 0; i < path.elements.size(); ++i) {
    bool wildcardsAllowed = wildcardsInLast && i + 1 == path.elements.size();
    for (char c : path.elements[i]) {
      unsigned char code = static_cast<unsigned char>(c);
      if (code < 32 || std::string("<>\"|:/").find(c) != std::string::npos)
        return ERROR_INVALID_NAME;
      if ((c == '*' || c == '?') && !wildcardsAllowed)
        return ERROR_INVALID_NAME;
    }
  }
  return 0;
}

Lookup Disk::Find(const PathName& path, bool followFinal) const {
  return FindFrom(path, followFinal, 0);
}

Lookup Disk::FindFrom(const PathName& path, bool followFinal, int depth) const {
  std::shared_ptr<Node> current = Root(path.root);
  if (!current)
    return {ERROR_PATH_NOT_FOUND, nullptr};
  for (size_t i = 0; i < path.elements.size(); ++i) {
    bool last = i + 1 == path.elements.size();
    std::shared_ptr<Node> child = current->Child(path.elements[i]);
    if (!child)
      return {last ? DWORD(ERROR_FILE_NOT_FOUND) : DWORD(ERROR_PATH_NOT_FOUND), nullptr};
    if (last && !followFinal)
      return {0, child};
    if (child->IsReparsePoint() && IsLinkTag(child->reparseTag)) {
      Lookup target = FollowLink(*child, depth + 1);
      if (target.error)
        return {last ? target.error : DWORD(ERROR_PATH_NOT_FOUND), nullptr};
      child = target.node;
    }
    if (!last && !child->IsFolder())
      return {ERROR_PATH_NOT_FOUND, nullptr};
    current = child;
  }
  return {0, current};
}

Lookup Disk::FollowLink(const Node& link, int depth) const {
  if (depth > kMaxLinkDepth)
    return {kErrorCantResolveFilename, nullptr};
  std::string target = StripVerbatimPrefix(link.reparseData);
  if (IsVolumeRoot(VolumeKey(target))) {
    std::shared_ptr<Node> volume = Volume(target);
    if (!volume)
      return {ERROR_PATH_NOT_FOUND, nullptr};
    return {0, volume};
  }
  PathName name;
  if (!SplitLiteral(target, &name)) {
    // A relative link leads from the folder that holds it.
    if (!link.parent || !SplitLiteral(PathOf(*link.parent) + "\\" + target, &name))
      return {ERROR_PATH_NOT_FOUND, nullptr};
  }
  DropDotElements(&name);
  return FindFrom(name, true, depth);
}

PathName Disk::ParseLiteral(const std::string& name) const {
  PathName path;
  if (!SplitLiteral(name, &path))
    throw std::invalid_argument("simwin: not an absolute path: " + name);
  return path;
}

std::shared_ptr<Node> Disk::MakeEntry(const PathName& path, DWORD attributes) {
  std::shared_ptr<Node> current = Root(path.root);
  if (!current)
    throw std::invalid_argument("simwin: no such drive or volume: " + path.Text());
  if (path.elements.empty())
    return current;
  for (size_t i = 0; i < path.elements.size(); ++i) {
    bool last = i + 1 == path.elements.size();
    std::shared_ptr<Node> child = current->Child(path.elements[i]);
    if (last) {
      if (!child) {
        child = std::make_shared<Node>();
        child->name = path.elements[i];
        child->parent = current.get();
        current->AddChild(child);
      } else if (child->IsFolder() != bool(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw std::invalid_argument("simwin: file/folder clash at " + path.Text());
      }
      child->attributes = attributes;
      return child;
    }
    if (!child) {
      PathName parent = path;
      parent.elements.resize(i + 1);
      child = MakeEntry(parent, FILE_ATTRIBUTE_DIRECTORY);
    }
    if (child->IsReparsePoint() && IsLinkTag(child->reparseTag)) {
      Lookup target = FollowLink(*child, 1);
      if (target.error)
        throw std::invalid_argument("simwin: dangling link on the way to " + path.Text());
      child = target.node;
    }
    if (!child->IsFolder())
      throw std::invalid_argument("simwin: a file on the way to " + path.Text());
    current = child;
  }
  return current;
}

std::shared_ptr<Node> Disk::Volume(const std::string& volumeName) const {
  return Root(VolumeKey(volumeName));
}

std::shared_ptr<Node> Disk::AddVolume(const std::string& volumeName) {
  std::shared_ptr<Node> volume = Volume(volumeName);
  if (volume)
    return volume;
  volume = std::make_shared<Node>();
  volume->name = VolumeKey(volumeName);
  volume->attributes = kRootAttributes;
  volumes_[Lower(volume->name)] = volume;
  return volume;
}

std::shared_ptr<Node> Disk::Root(const std::string& root) const {
  if (IsDriveRoot(root)) {
    auto drive = drives_.find(root[0]);
    return drive == drives_.end() ? nullptr : drive->second;
  }
  auto volume = volumes_.find(Lower(root));
  return volume == volumes_.end() ? nullptr : volume->second;
}

std::string Disk::PathOf(const Node& node) const {
  PathName path;
  const Node* at = &node;
  for (; at->parent; at = at->parent)
    path.elements.insert(path.elements.begin(), at->name);
  path.root = at->name;
  return path.Text();
}

std::string Disk::Snapshot(const Node& node) const {
  std::string out;
  SnapshotInto(node, &out);
  return out;
}

std::string Disk::SnapshotAll() const {
  std::string out;
  for (const auto& drive : drives_)
    SnapshotInto(*drive.second, &out);
  for (const auto& volume : volumes_)
    SnapshotInto(*volume.second, &out);
  return out;
}

void Disk::SnapshotInto(const Node& node, std::string* out) const {
  *out += PathOf(node) + " " + Hex(node.attributes);
  if (node.reparseTag)
    *out += " tag=" + Hex(node.reparseTag) + " data=\"" + node.reparseData + "\"";
  if (!node.IsFolder())
    *out += " content=\"" + node.content + "\"";
  *out += "\n";
  std::vector<std::shared_ptr<Node>> children = node.children;
  std::sort(children.begin(), children.end(),
            [](const std::shared_ptr<Node>& a, const std::shared_ptr<Node>& b) {
              return Lower(a->name) < Lower(b->name);
            });
  for (const auto& child : children)
    SnapshotInto(*child, out);
}

}  // namespace detail
}  // namespace simwin
