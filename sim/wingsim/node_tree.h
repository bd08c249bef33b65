// The desk's parameter tree: nodes addressed by name or by position from the root, each with
// a 32-bit hash; leaves hold a value and, where the desk has one, a range or a list of items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wingsim {

enum class Kind { kNode, kFloat, kInt, kString, kEnum };

// The longest text a string leaf keeps; longer sets are cut to it.
constexpr size_t kMaxText = 120;

struct Node {
  std::string name;       // the token that reaches it from its parent: "io", "LCL", "5", "g"
  std::string long_name;  // what the desk shows for it; empty: derived from the name
  int parent = -1;
  std::vector<int> children;  // in position order (index token i is children[i - 1])
  Kind kind = Kind::kNode;
  uint32_t hash = 0;
  bool real_hash = false;  // taken from the firmware's node data
  bool has_range = false;  // numeric leaves: min, max and (when above 1) steps
  double min = 0;
  double max = 0;
  uint32_t steps = 0;
  std::vector<std::string> items;  // enumerations
  std::string unit;
  double num = 0;    // value of kFloat and kInt leaves
  std::string text;  // value of kString and kEnum leaves

  bool is_leaf() const { return kind != Kind::kNode; }
};

class NodeTree {
 public:
  NodeTree();

  static constexpr int kRoot = 0;
  static constexpr int kNone = -1;

  Node& at(int id) { return nodes_[static_cast<size_t>(id)]; }
  const Node& at(int id) const { return nodes_[static_cast<size_t>(id)]; }
  size_t size() const { return nodes_.size(); }

  // The child named `name`, created (as a kNode) when missing.
  int add(int parent, const std::string& name);
  // The node of a path such as "/io/in/LCL/1/g", creating what is missing.
  int add_path(const std::string& path);

  int child(int node, const std::string& name) const;  // kNone when absent
  int child_at(int node, int position) const;          // 1-based; kNone when absent
  int find(const std::string& path) const;             // kNone when absent
  std::string path_of(int node) const;

  // Reads the firmware's node data (tab-separated: path, hash, type, unit, min, max, steps,
  // items; one header row) and gives every listed node its real hash, type and range,
  // creating nodes that are missing. False with a one-sentence reason in err.
  bool load_node_data(const std::string& file, std::string& err);
  // Gives every node without a real hash its own: FNV-1a of its path, never 0 and never the
  // hash of another node. Call after every node exists.
  void assign_hashes();

 private:
  std::vector<Node> nodes_;
};

// 32-bit FNV-1a.
uint32_t fnv1a(const std::string& text);

}  // namespace wingsim
