// Reading JSON texts and zip archives the way another program would: with Python.
#include "support/json_check.h"

#include <cstdio>

#include "support/temp_home.h"
#include "support/zip_check.h"

namespace gmtest {
namespace {

// What a shell command prints on its standard output; empty when it cannot run.
std::string output_of(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  char buf[4096];
  for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (p) pclose(p);
  return out;
}

}  // namespace

std::string python_on_json(const std::string& doc, const char* script) {
  TempHome dir;
  const std::string file = dir.write("page.json", doc);
  const std::string code =
      dir.write("check.py", std::string("import json, sys\n"
                                        "try:\n"
                                        "  doc = json.loads(open(sys.argv[1], 'rb').read())\n"
                                        "except ValueError:\n"
                                        "  print('parse error'); sys.exit(0)\n") +
                                script);
  return output_of("python3 '" + code + "' '" + file + "'");
}

std::string python_on_zip(const std::string& zip, const std::string& code) {
  return output_of(
      "python3 -c 'import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n" +
      code + "' '" + zip + "'");
}

}  // namespace gmtest
