// Reading a JSON text the way another program would: with Python's own parser.
#pragma once

#include <string>

namespace gmtest {

// Runs a Python script with `doc` parsed into the variable `doc` (json, sys imported); its
// stdout, "parse error" when the text is no JSON, or empty when Python cannot run.
std::string python_on_json(const std::string& doc, const char* script);

}  // namespace gmtest
