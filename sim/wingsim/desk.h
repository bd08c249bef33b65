// The desk's behaviour when a value changes, whether a client sent it or the person at the
// desk turned a knob: conversion to the leaf's type, range and steps, and stereo pairs.
#pragma once

#include <string>
#include <vector>

#include "node_tree.h"

namespace wingsim {

// A new value for a leaf: a number or a text.
struct Value {
  bool is_text = false;
  double num = 0;
  std::string text;
};

class Desk {
 public:
  explicit Desk(NodeTree tree) : tree_(std::move(tree)) {}

  NodeTree& tree() { return tree_; }
  const NodeTree& tree() const { return tree_; }

  // Applies a change to a leaf and returns the leaves whose records the desk pushes, in
  // order; empty when the value does not suit the leaf (then nothing changes). Stereo pairs
  // (odd input n and n + 1, linked while their mode is "ST" or "M/S"): a mode set on either
  // input sets both; a gain set on the even input drives the odd input's head amp and leaves
  // the even input's own gain as it is; 48V set on either sets both.
  std::vector<int> apply(int leaf, const Value& v);

  // True while the desk refuses changes from the network (/$syscfg/tcplock).
  bool network_locked() const;

  // Reads a value typed at the desk: a number (or on / off) for numeric leaves, the text as it
  // is for text leaves. False when the text is not a number for a numeric leaf.
  static bool parse_value(const Node& leaf, const std::string& text, Value& out);
  // The value of a leaf as text ("-2.5", "3", "ST").
  static std::string value_text(const Node& leaf);

 private:
  bool assign(int leaf, const Value& v);
  int input_of(int leaf) const;
  int partner_leaf(int input, const std::string& leaf) const;
  bool linked(int input) const;
  std::vector<int> apply_mode(int leaf, int input, const Value& v);

  NodeTree tree_;
};

}  // namespace wingsim
