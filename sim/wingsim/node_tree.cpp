// The parameter tree and the reader of the firmware's node data.
#include "node_tree.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unordered_set>

namespace wingsim {
namespace {

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, sep)) parts.push_back(part);
  if (!line.empty() && line.back() == sep) parts.emplace_back();
  return parts;
}

Kind kind_of(const std::string& type) {
  if (type == "string enum") return Kind::kEnum;
  if (type == "string") return Kind::kString;
  if (type == "integer") return Kind::kInt;
  return Kind::kFloat;
}

// Applies one data row to its node; false when the row is malformed.
bool apply_row(NodeTree& tree, const std::vector<std::string>& f) {
  if (f.size() < 3 || f[0].size() < 2 || f[0][0] != '/') return false;
  char* end = nullptr;
  const unsigned long hash = strtoul(f[1].c_str(), &end, 16);
  if (end == f[1].c_str() || *end != '\0' || hash == 0 || hash > 0xFFFFFFFFul) return false;
  Node& n = tree.at(tree.add_path(f[0]));
  n.hash = static_cast<uint32_t>(hash);
  n.real_hash = true;
  n.kind = kind_of(f[2]);
  if (f.size() > 3) n.unit = f[3];
  if (f.size() > 5 && !f[4].empty() && !f[5].empty()) {
    n.has_range = true;
    n.min = atof(f[4].c_str());
    n.max = atof(f[5].c_str());
  }
  if (f.size() > 6 && !f[6].empty()) n.steps = static_cast<uint32_t>(atol(f[6].c_str()));
  if (f.size() > 7 && !f[7].empty()) n.items = split(f[7], ',');
  return true;
}

}  // namespace

uint32_t fnv1a(const std::string& text) {
  uint32_t h = 2166136261u;
  for (unsigned char c : text) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

NodeTree::NodeTree() {
  nodes_.emplace_back();
}

int NodeTree::add(int parent, const std::string& name) {
  const int existing = child(parent, name);
  if (existing != kNone) return existing;
  Node n;
  n.name = name;
  n.parent = parent;
  nodes_.push_back(std::move(n));
  const int id = static_cast<int>(nodes_.size() - 1);
  at(parent).children.push_back(id);
  return id;
}

int NodeTree::add_path(const std::string& path) {
  int node = kRoot;
  for (const std::string& part : split(path, '/')) {
    if (!part.empty()) node = add(node, part);
  }
  return node;
}

int NodeTree::child(int node, const std::string& name) const {
  for (int c : at(node).children) {
    if (at(c).name == name) return c;
  }
  return kNone;
}

int NodeTree::child_at(int node, int position) const {
  const auto& kids = at(node).children;
  if (position < 1 || static_cast<size_t>(position) > kids.size()) return kNone;
  return kids[static_cast<size_t>(position - 1)];
}

int NodeTree::find(const std::string& path) const {
  int node = kRoot;
  for (const std::string& part : split(path, '/')) {
    if (part.empty()) continue;
    node = child(node, part);
    if (node == kNone) return kNone;
  }
  return node;
}

std::string NodeTree::path_of(int node) const {
  if (node == kRoot) return "/";
  std::string path;
  for (int n = node; n != kRoot; n = at(n).parent) path = "/" + at(n).name + path;
  return path;
}

bool NodeTree::load_node_data(const std::string& file, std::string& err) {
  std::ifstream in(file);
  if (!in) {
    err = "Cannot read the node data file " + file + ".";
    return false;
  }
  std::string line;
  int row = 0;
  while (std::getline(in, line)) {
    if (++row == 1 || line.empty()) continue;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!apply_row(*this, split(line, '\t'))) {
      err = "Line " + std::to_string(row) + " of " + file + " is not a node row.";
      return false;
    }
  }
  return true;
}

void NodeTree::assign_hashes() {
  std::unordered_set<uint32_t> used;
  for (const Node& n : nodes_) {
    if (n.real_hash) used.insert(n.hash);
  }
  for (size_t i = 0; i < nodes_.size(); ++i) {
    Node& n = nodes_[i];
    if (n.real_hash) continue;
    const std::string path = path_of(static_cast<int>(i));
    uint32_t h = fnv1a(path);
    for (int salt = 1; h == 0 || used.count(h); ++salt)
      h = fnv1a(path + "#" + std::to_string(salt));
    n.hash = h;
    used.insert(h);
  }
}

}  // namespace wingsim
