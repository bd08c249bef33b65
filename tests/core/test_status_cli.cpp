// `Gainmesh --status` run as a user runs it, without a display: one page document on stdout,
// exit code 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/temp_home.h"

namespace {

using StatusCommand = gmtest::TempHomeTest;

TEST_F(StatusCommand, PrintsOnePageDocumentThatParsesAndExitsZero) {
  const std::string out_file = home_.path() + "/out.json";
  // The command line needs no display: nothing of the app's windows is started.
  EXPECT_EQ(std::system(("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                         "'" GM_BUILD_DIR "/Gainmesh.app/Contents/MacOS/Gainmesh' "
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
