// The node tree of firmware 3.1 and its factory values.
#include "desk_layout.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace wingsim {
namespace {

struct LeafShape {
  const char* name;
  Kind kind;
  double min, max;  // numeric leaves; min == max means no range
  uint32_t steps;
  const char* items;  // enumerations, comma-separated
};

constexpr const char* kModes = "M,ST,M/S";
constexpr const char* kSources =
    "OFF,LCL,AUX,A,B,C,SC,USB,CRD,MOD,PLAY,AES,USR,OSC,BUS,MAIN,MTX,SEND,MON";

// Inputs with a head amp; the leaf order is the desk's, so a list reply starts mode, g, vph.
const LeafShape kPreampLeaves[] = {
    {"mode", Kind::kEnum, 0, 0, 0, kModes},
    {"g", Kind::kFloat, -3, 45.5, 98, nullptr},
    {"vph", Kind::kInt, 0, 1, 0, nullptr},
    {"mute", Kind::kInt, 0, 1, 0, nullptr},
    {"name", Kind::kString, 0, 0, 0, nullptr},
    {"$ha", Kind::kInt, 0, 4, 0, nullptr},
    {"rmt", Kind::kEnum, 0, 0, 0, "OFF,AES A,AES B,AES C"},
    {"$ract", Kind::kInt, 0, 1, 0, nullptr},
    {"$mute", Kind::kInt, 0, 2, 0, nullptr},
};
// Inputs without a head amp (no gain, 48V or head-amp type on this firmware).
const LeafShape kPlainLeaves[] = {
    {"mode", Kind::kEnum, 0, 0, 0, kModes},
    {"mute", Kind::kInt, 0, 1, 0, nullptr},
    {"name", Kind::kString, 0, 0, 0, nullptr},
    {"$mute", Kind::kInt, 0, 2, 0, nullptr},
};
// Bus-like sources, addressed with a "$" in front of the group token.
const LeafShape kBusLeaves[] = {
    {"mode", Kind::kEnum, 0, 0, 0, kModes},
    {"name", Kind::kString, 0, 0, 0, nullptr},
};
const LeafShape kOutputLeaves[] = {
    {"grp", Kind::kEnum, 0, 0, 0, kSources},
    {"in", Kind::kInt, 1, 64, 0, nullptr},
};

struct GroupShape {
  const char* name;
  int count;
};

void add_leaf(NodeTree& tree, int parent, const LeafShape& shape) {
  Node& n = tree.at(tree.add(parent, shape.name));
  n.kind = shape.kind;
  if (shape.min != shape.max) {
    n.has_range = true;
    n.min = shape.min;
    n.max = shape.max;
    n.steps = shape.steps;
  }
  n.items.clear();
  if (shape.items) {
    std::string item;
    for (const char* p = shape.items;; ++p) {
      if (*p == ',' || *p == '\0') {
        n.items.push_back(item);
        item.clear();
        if (*p == '\0') break;
      } else {
        item += *p;
      }
    }
  }
}

template <size_t N>
void add_groups(NodeTree& tree, int parent, std::initializer_list<GroupShape> groups,
                const LeafShape (&leaves)[N]) {
  for (const GroupShape& g : groups) {
    const int group = tree.add(parent, g.name);
    for (int i = 1; i <= g.count; ++i) {
      const int input = tree.add(group, std::to_string(i));
      for (const LeafShape& leaf : leaves) add_leaf(tree, input, leaf);
    }
  }
}

void add_strips(NodeTree& tree) {
  const int ch = tree.add_path("/ch");
  for (int i = 1; i <= 40; ++i) {
    const int strip = tree.add(ch, std::to_string(i));
    const int conn = tree.add(tree.add(strip, "in"), "conn");
    add_leaf(tree, conn, kOutputLeaves[0]);
    add_leaf(tree, conn, kOutputLeaves[1]);
    add_leaf(tree, strip, kPlainLeaves[2]);
  }
}

void add_status(NodeTree& tree) {
  const LeafShape text{"", Kind::kString, 0, 0, 0, nullptr};
  const LeafShape flag{"", Kind::kInt, 0, 1, 0, nullptr};
  auto leaf = [&](const char* path, const LeafShape& shape) {
    Node& n = tree.at(tree.add_path(path));
    n.kind = shape.kind;
    n.has_range = shape.min != shape.max;
    n.min = shape.min;
    n.max = shape.max;
  };
  leaf("/$stat/sc_devices", text);
  for (const char* p : {"/$stat/A/dev", "/$stat/B/dev", "/$stat/C/dev"}) leaf(p, text);
  for (const char* p : {"/$globals/harmt/a", "/$globals/harmt/b", "/$globals/harmt/c"}) {
    leaf(p, flag);
  }
  leaf("/$syscfg/tcplock", flag);
  leaf("/$syscfg/opt_mod", text);
  leaf("/cards/$type", text);
}

void build_skeleton(NodeTree& tree) {
  const int in = tree.add_path("/io/in");
  add_groups(tree, in, {{"LCL", 24}, {"A", 48}, {"B", 48}, {"C", 48}}, kPreampLeaves);
  add_groups(tree, in,
             {{"AUX", 8},
              {"SC", 32},
              {"USB", 48},
              {"CRD", 64},
              {"MOD", 64},
              {"PLAY", 4},
              {"AES", 2},
              {"USR", 56}},
             kPlainLeaves);
  add_groups(tree, in, {{"$BUS", 16}, {"$MAIN", 4}, {"$MTX", 8}}, kBusLeaves);
  add_groups(tree, tree.add_path("/io/out"), {{"MOD", 64}, {"CRD", 64}}, kOutputLeaves);
  add_strips(tree);
  add_status(tree);
}

// Factory value of a leaf: the first enumeration item, 0 within the range, the empty string.
void reset_leaf(Node& n) {
  if (n.kind == Kind::kEnum) n.text = n.items.empty() ? "" : n.items.front();
  if (n.kind == Kind::kFloat || n.kind == Kind::kInt) {
    n.num = n.has_range ? std::clamp(0.0, n.min, n.max) : 0.0;
  }
}

void set_num(NodeTree& tree, const std::string& path, double v) {
  const int id = tree.find(path);
  if (id != NodeTree::kNone) tree.at(id).num = v;
}

void set_text(NodeTree& tree, const std::string& path, const std::string& v) {
  const int id = tree.find(path);
  if (id != NodeTree::kNone) tree.at(id).text = v;
}

// Local head amps everywhere; a 32-input stage box on AES50 port A; nothing on B, C or
// StageConnect; channel strips 1-24 fed by the local inputs 1-24.
void set_factory_values(NodeTree& tree, const LayoutOptions& options) {
  for (size_t i = 0; i < tree.size(); ++i) reset_leaf(tree.at(static_cast<int>(i)));
  for (int i = 1; i <= 24; ++i) set_num(tree, "/io/in/LCL/" + std::to_string(i) + "/$ha", 3);
  for (int i = 1; i <= 32; ++i) set_num(tree, "/io/in/A/" + std::to_string(i) + "/$ha", 3);
  set_text(tree, "/$stat/A/dev", "DL32");
  for (const char* port : {"a", "b", "c"}) set_num(tree, std::string("/$globals/harmt/") + port, 1);
  set_text(tree, "/$syscfg/opt_mod", options.mod_card);
  set_text(tree, "/cards/$type", options.crd_card);
  for (int i = 1; i <= 40; ++i) {
    const std::string conn = "/ch/" + std::to_string(i) + "/in/conn/";
    set_text(tree, conn + "grp", i <= 24 ? "LCL" : "OFF");
    set_num(tree, conn + "in", i <= 24 ? i : 1);
  }
}

}  // namespace

bool build_layout(const std::string& node_file, const LayoutOptions& options, NodeTree& tree,
                  std::string& err) {
  tree = NodeTree();
  build_skeleton(tree);
  if (!tree.load_node_data(node_file, err)) return false;
  tree.assign_hashes();
  set_factory_values(tree, options);
  return true;
}

}  // namespace wingsim
