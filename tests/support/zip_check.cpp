// Reading zip archives with Python's zipfile, for tests that check what another program unpacks.
#include "support/zip_check.h"

#include <cstdio>

namespace gmtest {

std::string python_on_zip(const std::string& zip, const std::string& code) {
  const std::string cmd =
      "python3 -c 'import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n" +
      code + "' '" + zip + "'";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (p) pclose(p);
  return out;
}

}  // namespace gmtest
