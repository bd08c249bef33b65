// `Gainmesh --status` run as a user runs it: one page document on stdout, exit code 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/temp_home.h"

namespace {

using StatusCommand = gmtest::TempHomeTest;

TEST_F(StatusCommand, PrintsOnePageDocumentThatParsesAndExitsZero) {
  const std::string out_file = home_.path() + "/out.json";
  EXPECT_EQ(std::system(("'" GM_BUILD_DIR "/Gainmesh.app/Contents/MacOS/Gainmesh' "
                         "--status and more >'" +
                         out_file + "'")
                            .c_str()),
            0);
  const std::string out = gmtest::read_file(out_file);
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;  // one line: the document and its newline
  // Python reads exactly one document from it, which says that LV1 is not installed here.
  const std::string check =
      "python3 -c 'import json,sys; sys.exit(json.load(open(sys.argv[1]))[\"lv1\"][\"found\"])' '" +
      out_file + "'";
  EXPECT_EQ(std::system(check.c_str()), 0) << out;
}

}  // namespace
