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
// The records of a node's leaves (direct children), in the desk's order, then DE; leaves named
// `without` are left out ("" leaves out none).
void append_list(Bytes& out, const NodeTree& tree, int node, const std::string& without = "");
// DF, 16-bit length and the definition in the desk's layout, then DE (the end of the reply).
// All big-endian: parent hash u32, hash u32, index u16 (a numbered node's number, else 0), name
// and long name (each a length byte and characters), flags u16 (type in bits 4-7: 0 node,
// 1 linear float, 4 integer, 5 text enumeration, 7 text; unit in bits 0-3: 1 dB), then by type:
// float f32 min, f32 max, i32 count of values; integer i32 min, i32 max; enumeration u16 count
// and per item the item and its long text (each a length byte and characters); text u16 longest
// length; node nothing.
void append_definition(Bytes& out, const NodeTree& tree, int node);
void append_escaped(Bytes& out, const uint8_t* p, size_t n);

// The node a request's path reaches (names by name, indexes by position), or kNone.
int resolve(const NodeTree& tree, const gm::WbinRequest& request);
// "/io/in/LCL/1/g", indexes as numbers.
std::string request_path(const gm::WbinRequest& request);
// The value a set carries, and its text for the record of sets ("-3", "5", "ST").
void decode_value(const uint8_t* token, int len, Value& value, std::string& text);

}  // namespace wingsim
