// Reading a zip archive the way another program would: with Python's zipfile.
#pragma once

#include <string>

namespace gmtest {

// Runs Python code (no single quotes in it) with the archive open as `z`, once every entry's
// checksum has been verified; its stdout, empty when the archive cannot be read.
std::string python_on_zip(const std::string& zip, const std::string& code);

// The code that prints the entry names, one per line in archive order.
inline constexpr const char* kZipNames = "for n in z.namelist(): print(n)";

}  // namespace gmtest
