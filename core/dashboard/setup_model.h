// The page document: the one JSON text that carries the whole dashboard to the user interface
// (and that --status prints). Every word the user reads on the dashboard is decided here or in
// the console views it is built from.
//
// Threads: page_json is a pure function of its arguments and may run on any thread.
// Blocking: none. Failure: none; every key that is always present is written in every document.
#pragma once

#include <string>

#include "model.h"

namespace gm {

// The page document for this snapshot: one JSON object without white space between tokens, its
// keys in a fixed order. The demo keys are written only when extras.demo is set.
std::string page_json(const Inputs& in, const PageExtras& extras);

// The word a tone is written as: "dim", "ok", "warn", "bad", "lv1"; "dim" for any other number.
const char* tone_word(int tone);

}  // namespace gm
