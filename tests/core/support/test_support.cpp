// The diagnostics report, byte for byte where it does not depend on the moment, and the support
// file as another program unpacks it. LV1's facts and its live blocks are handed to the report;
// the blocks are files this test writes into the run folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>

#include "api.h"
#include "core_state.h"
#include "platform.h"
#include "status_layout.h"
#include "support.h"
#include "support/temp_home.h"
#include "support/zip_check.h"
#include "util.h"

namespace {

using ::testing::HasSubstr;

constexpr const char* kMacOS = "IO Modules/Gainmesh.bundle/Contents/MacOS/";
const std::string kZipName = R"(/Desktop/Gainmesh-support-\d{8}-\d{6}\.zip)";

class Diagnostics : public gmtest::TempHomeTest {
 protected:
  // The report after its first line, which holds the moment it was written.
  static std::string report(const gm::Lv1& lv1 = {}, const gm::Live& live = {}) {
    char* buf = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&buf, &len);
    gm::write_diagnostics(f, lv1, live);
    std::fclose(f);
    const std::string text(buf, len);
    std::free(buf);
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(^Gainmesh diagnostics  \d{4}-\d\d-)")));
    return text.substr(text.find('\n') + 1);
  }
  // Entry names below the archive's top folder, which is named after the archive.
  static std::string entries(const std::string& zip) {
    const std::string top = std::filesystem::path(zip).stem().string() + "/";
    const std::string names = gmtest::python_on_zip(zip, gmtest::kZipNames);
    return std::regex_replace(names, std::regex("(^|\n)" + top), "$1/");
  }
};

TEST_F(Diagnostics, EachLineSaysWhatIsMissingAndWhatRuns) {
  home_.write(std::string(kMacOS) + "modules/wing-3.2.0.dylib", std::string(123456, 'm'));
  home_.write("Library/Application Support/Gainmesh/updates/staged/ready", "3.3.0");
  const std::string head = "Gainmesh             : " + gm::version_text() +
                           " (macOS app)\napp                  : " + gm::app_path() +
                           "\nmacOS                : " + gm::os_version_text() + "\n";
  std::string r = report();
  EXPECT_EQ(r,
            head +
                "eMotion LV1          : not found, not running\n"
                "Gainmesh.bundle      : present but not ours / incomplete\n"
                "  wing               : Waves module MISSING, not installed\n"
                "  x32                : Waves module MISSING, not installed\n"
                "update staged        : yes (applies when LV1 is closed)\n"
                "Local Network        : no such permission before macOS 15\n"
                "loader               : no live status (LV1 not running, or Gainmesh not loaded in "
                "it)\n\nwing module status block: none live (module not running)\n"
                "\nx32 module status block: none live (module not running)\n"
                "\nbundle contents (Contents/MacOS)\n"
                "  modules/wing-3.2.0.dylib                     123456\n");

  home_.write("IO Modules/Gainmesh.bundle/Contents/Info.plist",
              "<key>CFBundleIdentifier</key><string>org.ambervale.gainmesh.loader</string>");
  home_.write(std::string(kMacOS) + "Gainmesh", "");
  GmLoaderStatus ls{GM_LOADER_MAGIC, 272, "1.4.0", {}, {1, 0}, {}};
  ls.consoles[1] = GmLoaderConsole{"x32", 0, 0, 0, 0, "", 3, 2, "x32-3.3.0.dylib"};
  home_.write("Library/Application Support/Gainmesh/run/GainmeshLoader",
              std::string(reinterpret_cast<char*>(&ls), sizeof ls));
  // LV1 is there even when its version cannot be read.
  const std::string unknown = report(gm::Lv1{0, -1, 0, "/x", ""});
  EXPECT_THAT(unknown, HasSubstr("\neMotion LV1          : version unknown, not running\n"));
  r = report(gm::Lv1{4242, 61999, 1, "/x", "14.0.1"}, gm::Live{true, {}});
  EXPECT_THAT(r, HasSubstr("\neMotion LV1          : 14.0.1, running (pid 4242, up 61 s)\n"));
  EXPECT_THAT(r,
              HasSubstr("\nloader               : 1.4.0 (block 272 bytes)\n  x32                : "
                        "off, Waves module NO, card not assigned (device 0), running nothing, "
                        "last refused x32-3.3.0.dylib (error 2), extra cards 0\n\nwing module"));
}

// Texts of a live block and file names are another program's bytes: each stays on its own line
// of the report, as valid UTF-8 with a space for every control character.
TEST_F(Diagnostics, OutsideTextsStayOnTheirLineAsValidUtf8) {
  GmConsoleStatus b{};
  b.magic = GM_STATUS_MAGIC;
  b.version = GM_STATUS_VERSION;
  b.connected = 1;
  std::strcpy(b.desk_desc, "WING,10.0.0.5,F\xE9OH\r\nDesk,wing-rack,S1,3.1");
  std::strcpy(b.desk_ip, "10.0.0.5");
  std::strcpy(b.status, "Connected\n\x1B[2J\x7F.");
  b.n_candidates = 1;
  b.candidates[0] = GmCandidate{"10.0.0.7", "Mon\xC2\x85itors", "wing", "S2\n", 1};
  std::string bytes(GM_STATUS_FILE_BYTES, '\0');
  std::memcpy(bytes.data(), &b, sizeof b);
  home_.write("Library/Application Support/Gainmesh/run/GainmeshStatus", bytes);
  home_.write(std::string(kMacOS) + "odd\nname\xE9", "12");

  const std::string r =
      report(gm::Lv1{4242, 61999, 1, "/x", "14.0.1\r\n"}, gm::Live{false, {true}});
  for (const char* line :
       {"\neMotion LV1          : 14.0.1  , running (pid 4242, up 61 s)\n",
        "\n  version 17, desk WING,10.0.0.5,F\xEF\xBF\xBDOH  Desk,wing-rack,S1,3.1 (10.0.0.5)\n"
        "  connected 1, injected 0, status 'Connected  [2J .'\n",
        "\n    10.0.0.7  Mon itors  wing  id S2   card 1\n", "\n  odd name\xEF\xBF\xBD      "}) {
    EXPECT_THAT(r, HasSubstr(line));
  }
}

TEST_F(Diagnostics, TheSupportFileHoldsTheReportLogsAndSettingsAndLeavesNoStagingFolder) {
  char buf[1024];
  home_.write(std::string(kMacOS) + "wing.cfg", "ip=127.0.0.9\n");
  home_.write("Library/Logs/Gainmesh/notes.txt", "not a log\n");
  gm::logf("a line of the app's log");
  ASSERT_TRUE(gm_save_support(buf, sizeof buf)) << gm::current_msg();
  EXPECT_TRUE(std::regex_match(buf, std::regex(home_.path() + kZipName)));
  EXPECT_EQ(entries(buf),
            "/\n/Gainmesh-diagnostics.txt\n/logs/\n/logs/gainmesh-app.log\n"
            "/settings/\n/settings/wing.cfg\n");
  EXPECT_TRUE(std::filesystem::is_empty(gm::support_dir() + "/support"));
  EXPECT_THAT(home_.app_log(), HasSubstr(buf));
}

TEST_F(Diagnostics, AFolderThatCannotBeMadeOrWrittenFailsWithOneSentenceAndLeavesNothing) {
  home_.write("Desktop", "a file where the folder should be");
  EXPECT_FALSE(gm_save_support(nullptr, 0));
  EXPECT_TRUE(std::regex_match(gm::current_msg(), std::regex("Could not save the support file "
                                                             "\xE2\x80\x94 Could not write " +
                                                             home_.path() + kZipName + "\\.")));
  EXPECT_TRUE(std::filesystem::remove(gm::support_dir() + "/support")) << "left empty";
  home_.write("Library/Application Support/Gainmesh/support", "a file");
  std::string path, err;
  EXPECT_FALSE(gm::save_support(path, err));
  EXPECT_EQ(err, "Could not create a folder for the support file.");
}

}  // namespace
