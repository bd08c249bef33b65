// Internal to the view model: what one view is built from, and the state decision with its
// texts.
#pragma once

#include <string>

#include "model.h"

namespace gm {

struct ViewCtx {
  int type;
  const Inputs& in;
  const ConStatus& st;
  const GmLoaderConsole* le;  // the loader's entry for the type; null when absent
  std::string own_name;       // the console's own name from its discovery line
  bool format17;              // the status block is valid and carries the address fields
};

// Sets v.state and, for it, the tones, message, retry and support flags, and the candidates.
// Needs v.address, v.name, v.card and v.legacy filled.
void decide_state(const ViewCtx& c, ConView& v);

// The short status text of a state; platform 1 is a Windows PC.
std::string status_text(ConState state, int32_t platform, bool legacy_connected);

// A silence of ms milliseconds: "89 s" (whole seconds) under 90000 ms, else "1 min" (whole
// minutes).
std::string since_text(int64_t ms);

}  // namespace gm
