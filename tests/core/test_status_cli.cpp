// `Gainmesh --status` run as a user runs it: one page document on stdout, exit code 0.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/temp_home.h"

namespace {

class StatusCommand : public gmtest::TempHomeTest {};

TEST_F(StatusCommand, PrintsOnePageDocumentThatParsesAndExitsZero) {
  const std::string out_file = home_.path() + "/out.json";
  const std::string cmd = "'" GM_BUILD_DIR
                          "/Gainmesh.app/Contents/MacOS/Gainmesh' --status and more"
                          " >'" +
                          out_file + "'";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string out = gmtest::read_file(out_file);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;  // one line: the document and its newline
  // Python's parser reads exactly one document; the page says LV1 is not installed here.
  const std::string check =
      "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
      "sys.exit(0 if d[\"lv1\"][\"found\"] is False and d[\"version\"].startswith(\"Gainmesh 3.\")"
      " else 3)' '" +
      out_file + "'";
  EXPECT_EQ(std::system(check.c_str()), 0) << out;
}

}  // namespace
