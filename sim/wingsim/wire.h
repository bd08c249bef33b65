// What the desk writes on its native control connections, built with the protocol codec:
// value records, list replies, node definitions; and what it reads from a client's request.
// Everything appended here is already escaped for the wire (a data byte DF goes out as DF DE).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "desk.h"
#include "node_tree.h"
#include "wingbin_codec.h"

namespace wingsim {

using Bytes = std::vector<uint8_t>;

// DF D1: the control-channel select that starts every message the desk sends.
void append_channel(Bytes& out);
// D7, the leaf's hash, its value token: D5 float for float leaves; the byte itself for
// integers 0..63, D3 / D4 for other integers; D0, 80-BF or D1 for texts.
void append_record(Bytes& out, const Node& leaf);
// The records of a node's leaves (direct children), in the desk's order, then DE.
// The node's leaves as a list reply, leaving out leaves named `without` ("" leaves out none).
void append_list(Bytes& out, const NodeTree& tree, int node, const std::string& without = "");
// DF, 16-bit length, then: 10 bytes (hash, parent hash, position), the name and the long name
// (each a length byte and characters), a flags byte, a type byte (high nibble: 0 node,
// 1 float, 2 integer, 3 text, 4 enumeration), then for numbers with a range min f32, max f32
// and the count of values u32; for enumerations the item count and items; for nodes the
// child count u16. All big-endian.
void append_definition(Bytes& out, const NodeTree& tree, int node);
void append_escaped(Bytes& out, const uint8_t* p, size_t n);

// The node a request's path reaches (names by name, indexes by position), or kNone.
int resolve(const NodeTree& tree, const gm::WbinRequest& request);
// "/io/in/LCL/1/g", indexes as numbers.
std::string request_path(const gm::WbinRequest& request);
// The value a set carries, and its text for the record of sets ("-3", "5", "ST").
void decode_value(const uint8_t* token, int len, Value& value, std::string& text);

}  // namespace wingsim
