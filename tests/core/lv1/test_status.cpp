// Reading console and loader status blocks that the test writes into the run folder. A block LV1
// does not hold and the resync request a running module takes up are CoreLiveStatus's
// (test_core_live_status).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "status.h"
#include "status_layout.h"
#include "support/temp_home.h"

namespace {

class StatusBlocks : public gmtest::TempHomeTest {
 protected:
  // The block's first bytes, padded with zeros to file_size.
  template <typename Block>
  std::string write(const std::string& path, const Block& b, size_t file_size) {
    std::string bytes(file_size, '\0');
    std::memcpy(bytes.data(), &b, std::min(sizeof b, file_size));
    return home_.write(path.substr(home_.path().size() + 1), bytes);
  }

  // A running module's block of the current format with every group filled in.
  static GmConsoleStatus running_block() {
    GmConsoleStatus b{};
    b.magic = GM_STATUS_MAGIC;
    b.version = GM_STATUS_VERSION;
    b.connected = b.injected = 1;
    std::memset(b.desk_desc, 'd', sizeof b.desk_desc);
    b.n_candidates = 2;
    std::strcpy(b.pinned, "S/N 1234");
    b.n_ports = 3;
    b.find_state = GM_FIND_IP_OTHER;
    b.watch = static_cast<uint32_t>(-3);
    return b;
  }

  gm::Live live_{true, {true, true}};
};

TEST_F(StatusBlocks, ConsoleGroupsFollowTheBlocksVersionAndSize) {
  struct Case {
    const char* what;
    std::function<void(GmConsoleStatus&)> change;
    size_t size;
    bool valid;
    uint32_t candidates, ports, find_state;
  } cases[] = {
      {"current", [](GmConsoleStatus&) {}, GM_STATUS_FILE_BYTES, true, 2, 3, GM_FIND_IP_OTHER},
      {"stopped text, still injected",
       [](GmConsoleStatus& b) { std::strcpy(b.status, GM_STATUS_STOPPED_TEXT), b.connected = 0; },
       GM_STATUS_FILE_BYTES, true, 2, 3, GM_FIND_IP_OTHER},
      {"a module that stopped",
       [](GmConsoleStatus& b) {
         std::strcpy(b.status, GM_STATUS_STOPPED_TEXT), b.connected = b.injected = 0;
       },
       GM_STATUS_FILE_BYTES, false, 0, 0, 0},
      {"version 15", [](GmConsoleStatus& b) { b.version = 15; }, GM_STATUS_FILE_BYTES, true, 2, 0,
       0},
      {"version 16, 11100 bytes", [](GmConsoleStatus& b) { b.version = 16; }, 11100, true, 2, 3, 0},
      {"counts beyond their room", [](GmConsoleStatus& b) { b.n_candidates = 9, b.n_ports = 99; },
       GM_STATUS_FILE_BYTES, true, 6, 4, GM_FIND_IP_OTHER},
      {"shortest block", [](GmConsoleStatus&) {}, 2232, true, 0, 0, 0},
      {"one byte shorter", [](GmConsoleStatus&) {}, 2231, false, 0, 0, 0},
      {"foreign magic", [](GmConsoleStatus& b) { b.magic = GM_LOADER_MAGIC; }, GM_STATUS_FILE_BYTES,
       false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GmConsoleStatus b = running_block();
    c.change(b);
    write(gm::con_file(0), b, c.size);
    const gm::ConStatus s = gm::read_con_status(0, live_);
    EXPECT_EQ(s.valid, c.valid);
    EXPECT_EQ(s.cand_count, c.candidates);
    EXPECT_STREQ(s.pinned, c.candidates ? "S/N 1234" : "");
    EXPECT_EQ(s.port_count, c.ports);
    EXPECT_EQ(s.find_state, c.find_state);
    EXPECT_EQ(std::strlen(s.identity), c.valid ? sizeof s.identity - 1 : 0);
    EXPECT_EQ(s.watch, 0u) << "a negative watch reads as 0";
  }
}

TEST_F(StatusBlocks, LoaderBlockIsReadUpToItsSizeField) {
  struct Case {
    uint32_t size_field;
    size_t file_size;
    bool ok;
    uint32_t extra_wing, extra_x32;
  } cases[] = {{280, 304, true, 2, 3},
               {272, 304, true, 0, 0},
               {304, 276, true, 2, 0},
               {100, 304, false, 0, 0},
               {272, 271, false, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.size_field << ", file " << c.file_size);
    GmLoaderStatus b{};
    b.magic = GM_LOADER_MAGIC;
    b.size = c.size_field;
    std::memset(b.consoles[1].module_file, 'm', sizeof b.consoles[1].module_file);
    b.extra_cards[0] = 2;
    b.extra_cards[1] = 3;
    write(gm::loader_file(), b, c.file_size);
    GmLoaderStatus out;
    std::memset(&out, 0xAA, sizeof out);
    EXPECT_EQ(gm::read_loader_status(&out, live_), c.ok);
    EXPECT_EQ(out.extra_cards[0], c.extra_wing);
    EXPECT_EQ(out.extra_cards[1], c.extra_x32);
    EXPECT_EQ(std::strlen(out.consoles[1].module_file), c.ok ? 63u : 0u);
  }
}

}  // namespace
