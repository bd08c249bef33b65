// What the parts of the page document share: the two console views and the page-level facts
// derived from them once per document. Used only by the page document's own sources.
#pragma once

#include <string>

#include "json_writer.h"
#include "model.h"

namespace gm {

struct Page {
  const Inputs& in;
  ConView v[2];
  int count = 0;   // views shown
  int worst = -1;  // the most urgent shown view; -1 when none is shown
  bool both_attention = false;
  bool any_installed = false;
  bool slot_any = false;  // the loader has a card in a rack slot
  bool loaded = false;    // the loader block was read while LV1 runs
  std::string lv1_short;  // "v3.2" from "3.2.1"

  explicit Page(const Inputs& inputs);
};

// The "perm" object (the four permission rows and their summary).
void write_perm(Json& j, const Page& p);
// The "cards" array, one card per shown view.
void write_cards(Json& j, const Page& p);
// A view's address controls as the value of the key already written.
void write_addr(Json& j, const ConView& v);

// `text` cut to at most max_bytes - 1 bytes, never inside a UTF-8 sequence.
std::string fit_text(std::string text, size_t max_bytes);

}  // namespace gm
