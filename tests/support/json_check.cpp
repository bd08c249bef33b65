#include "support/json_check.h"

#include <cstdio>

#include "support/temp_home.h"

namespace gmtest {

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
  std::string out;
  FILE* p = popen(("python3 '" + code + "' '" + file + "'").c_str(), "r");
  if (!p) return "no python";
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

}  // namespace gmtest
