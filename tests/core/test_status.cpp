// Reading console and loader status blocks that the test writes into the run folder, and the
// resync request written into a console block.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "status.h"
#include "status_layout.h"
#include "support/temp_home.h"

namespace {

// A block that reads as a running, connected module of the current format.
GmConsoleStatus running_block() {
  GmConsoleStatus b{};
  b.magic = GM_STATUS_MAGIC;
  b.version = GM_STATUS_VERSION;
  b.connected = 1;
  b.injected = 1;
  std::strcpy(b.status, "Connected");
  std::strcpy(b.desk_ip, "127.0.0.9");
  b.n_candidates = 2;
  std::strcpy(b.candidates[1].name, "FOH");
  b.candidates[1].soundgrid = -1;
  std::strcpy(b.pinned, "S/N 1234");
  b.n_ports = 3;
  std::strcpy(b.ports[2].port, "B");
  b.ports[2].strips_without_knob = 5;
  b.find_state = GM_FIND_IP_OTHER;
  std::strcpy(b.ip_name, "Monitor");
  return b;
}

class StatusBlocks : public gmtest::TempHomeTest {
 protected:
  // The block's first bytes, padded with zeros to file_size.
  template <typename Block>
  std::string write(const std::string& path, const Block& b, size_t file_size) {
    std::string bytes(file_size, '\0');
    std::memcpy(bytes.data(), &b, std::min(sizeof b, file_size));
    const std::string rel = path.substr(home_.path().size() + 1);
    return home_.write(rel, bytes);
  }
  std::string write_con(const GmConsoleStatus& b, size_t size = GM_STATUS_FILE_BYTES) {
    return write(gm::con_file(0), b, size);
  }

  gm::Live live_;
  void SetUp() override { live_.loader = live_.con[0] = live_.con[1] = true; }
};

TEST_F(StatusBlocks, FilesLieInTheRunFolder) {
  EXPECT_EQ(gm::con_file(0), home_.run_dir() + "/GainmeshStatus");
  EXPECT_EQ(gm::con_file(1), home_.run_dir() + "/GainmeshStatus-x32");
  EXPECT_EQ(gm::con_file(2), "");
  EXPECT_EQ(gm::loader_file(), home_.run_dir() + "/GainmeshLoader");
}

TEST_F(StatusBlocks, ConsoleGroupsFollowTheBlocksVersionAndSize) {
  struct Case {
    const char* what;
    std::function<void(GmConsoleStatus&)> change;
    size_t size;
    bool valid;
    uint32_t candidates, ports, find_state;
  } cases[] = {
      {"current format", [](GmConsoleStatus&) {}, GM_STATUS_FILE_BYTES, true, 2, 3,
       GM_FIND_IP_OTHER},
      {"stopped module",
       [](GmConsoleStatus& b) {
         b.connected = b.injected = 0;
         std::strcpy(b.status, GM_STATUS_STOPPED_TEXT);
       },
       GM_STATUS_FILE_BYTES, false, 0, 0, 0},
      {"stopped text while still injected",
       [](GmConsoleStatus& b) {
         b.connected = 0;
         std::strcpy(b.status, GM_STATUS_STOPPED_TEXT);
       },
       GM_STATUS_FILE_BYTES, true, 2, 3, GM_FIND_IP_OTHER},
      {"not connected, other text", [](GmConsoleStatus& b) { b.connected = b.injected = 0; },
       GM_STATUS_FILE_BYTES, true, 2, 3, GM_FIND_IP_OTHER},
      {"version 15", [](GmConsoleStatus& b) { b.version = 15; }, GM_STATUS_FILE_BYTES, true, 2, 0,
       0},
      {"version 16 of 11100 bytes", [](GmConsoleStatus& b) { b.version = 16; }, 11100, true, 2, 3,
       0},
      {"version 14", [](GmConsoleStatus& b) { b.version = 14; }, GM_STATUS_FILE_BYTES, true, 0, 0,
       0},
      {"version 17 one byte short of the find group", [](GmConsoleStatus&) {}, 11199, true, 2, 3,
       0},
      {"version 17 too short for candidates", [](GmConsoleStatus&) {}, 10995, true, 0, 0, 0},
      {"candidate and port counts beyond their room",
       [](GmConsoleStatus& b) {
         b.n_candidates = 9;
         b.n_ports = 99;
       },
       GM_STATUS_FILE_BYTES, true, 6, 4, GM_FIND_IP_OTHER},
      {"shortest block", [](GmConsoleStatus&) {}, 2232, true, 0, 0, 0},
      {"one byte too short", [](GmConsoleStatus&) {}, 2231, false, 0, 0, 0},
      {"foreign magic", [](GmConsoleStatus& b) { b.magic = GM_LOADER_MAGIC; }, GM_STATUS_FILE_BYTES,
       false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GmConsoleStatus b = running_block();
    c.change(b);
    write_con(b, c.size);
    const gm::ConStatus s = gm::read_con_status(0, live_);
    EXPECT_EQ(s.valid, c.valid);
    EXPECT_EQ(s.cand_count, c.candidates);
    EXPECT_EQ(s.port_count, c.ports);
    EXPECT_EQ(s.find_state, c.find_state);
    EXPECT_STREQ(s.desk_ip, c.valid ? "127.0.0.9" : "");
    EXPECT_STREQ(s.candidates[1].name, c.candidates ? "FOH" : "");
    EXPECT_EQ(s.candidates[1].sg_card, c.candidates ? -1 : 0);
    EXPECT_STREQ(s.pinned, c.candidates ? "S/N 1234" : "");
    EXPECT_EQ(s.ports[2].strips, c.ports ? 5u : 0u);
    EXPECT_STREQ(s.answer_name, c.find_state ? "Monitor" : "");
  }
}

TEST_F(StatusBlocks, ConsoleFieldsAreCopiedTerminatedAndInRange) {
  GmConsoleStatus b = running_block();
  std::memset(b.desk_desc, 'd', sizeof b.desk_desc);
  std::memset(b.ch_group[63], 'g', sizeof b.ch_group[63]);
  std::memset(b.ip_id, 'i', sizeof b.ip_id);
  std::strcpy(b.ch_group[4], "LCL");
  b.ch_input[4] = 12;
  b.ch_preamp[4] = 1;
  b.watch = static_cast<uint32_t>(-3);
  b.sets = 70;
  b.received = 71;
  b.patch_age_ms = 1500;
  write_con(b);

  const gm::ConStatus s = gm::read_con_status(0, live_);
  ASSERT_TRUE(s.valid);
  EXPECT_EQ(std::strlen(s.identity), sizeof s.identity - 1);
  EXPECT_EQ(std::strlen(s.strip_group[63]), 7u);
  EXPECT_EQ(std::strlen(s.answer_id), sizeof s.answer_id - 1);
  EXPECT_STREQ(s.strip_group[4], "LCL");
  EXPECT_EQ(s.strip_number[4], 12u);
  EXPECT_EQ(s.strip_local[4], 1);
  EXPECT_EQ(s.watch, 0u) << "a negative watch reads as 0";
  EXPECT_EQ(s.sets, 70u);
  EXPECT_EQ(s.received, 71u);
  EXPECT_EQ(s.patch_age_ms, 1500u);
  EXPECT_EQ(s.version, GM_STATUS_VERSION);
}

TEST_F(StatusBlocks, OnlyLiveBlocksOfKnownTypesAreRead) {
  write_con(running_block());
  EXPECT_TRUE(gm::read_con_status(0, live_).valid);
  EXPECT_FALSE(gm::read_con_status(1, live_).valid) << "no X32 file";
  EXPECT_FALSE(gm::read_con_status(2, live_).valid);
  EXPECT_FALSE(gm::read_con_status(-1, live_).valid);
  live_.con[0] = false;
  EXPECT_FALSE(gm::read_con_status(0, live_).valid);
  EXPECT_FALSE(gm::live_blocks(gm::Lv1{}).con[0]) << "no LV1, nothing is live";
}

TEST_F(StatusBlocks, LoaderBlockIsReadUpToItsSizeField) {
  struct Case {
    const char* what;
    uint32_t magic, size_field;
    size_t file_size;
    bool ok;
    uint32_t extra_wing, extra_x32;
  } cases[] = {
      {"size 280", GM_LOADER_MAGIC, 280, 304, true, 2, 3},
      {"size 272", GM_LOADER_MAGIC, 272, 304, true, 0, 0},
      {"size 304 in a file of 276 bytes", GM_LOADER_MAGIC, 304, 276, true, 2, 0},
      {"size 100 in a larger file", GM_LOADER_MAGIC, 100, 304, false, 0, 0},
      {"file of 271 bytes", GM_LOADER_MAGIC, 272, 271, false, 0, 0},
      {"foreign magic", GM_STATUS_MAGIC, 304, 304, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GmLoaderStatus b{};
    b.magic = c.magic;
    b.size = c.size_field;
    std::memset(b.loader_version, 'v', sizeof b.loader_version);
    std::memset(b.consoles[1].module_file, 'm', sizeof b.consoles[1].module_file);
    std::strcpy(b.consoles[0].running_version, "3.2.0");
    b.extra_cards[0] = 2;
    b.extra_cards[1] = 3;
    std::memset(b.tail, 0x55, sizeof b.tail);
    write(gm::loader_file(), b, c.file_size);

    GmLoaderStatus out;
    std::memset(&out, 0xAA, sizeof out);
    EXPECT_EQ(gm::read_loader_status(&out, live_), c.ok);
    EXPECT_EQ(out.extra_cards[0], c.extra_wing);
    EXPECT_EQ(out.extra_cards[1], c.extra_x32);
    EXPECT_STREQ(out.consoles[0].running_version, c.ok ? "3.2.0" : "");
    EXPECT_EQ(std::strlen(out.loader_version), c.ok ? 23u : 0u);
    EXPECT_EQ(std::strlen(out.consoles[1].module_file), c.ok ? 63u : 0u);
    if (!c.ok) {
      EXPECT_EQ(out.magic, 0u) << "a rejected block leaves all zero";
    }
  }
  live_.loader = false;
  GmLoaderStatus out;
  EXPECT_FALSE(gm::read_loader_status(&out, live_));
}

TEST_F(StatusBlocks, ResyncRequestMirrorsTheSettingsAndMovesTheCounterLast) {
  GmConsoleStatus b = running_block();
  std::strcpy(b.bank, "LCL");
  b.base = 9;
  b.watch = 24;
  b.req_seq = 7;
  std::strcpy(b.req_bank, "A");
  b.req_base = 1;
  b.req_watch = 2;
  const std::string path = write_con(b);

  ASSERT_TRUE(gm::con_write_resync(path, true));
  std::string bytes = gmtest::read_file(path);
  GmConsoleStatus after;
  std::memcpy(&after, bytes.data(), sizeof after);
  EXPECT_EQ(after.req_seq, 8u);
  EXPECT_EQ(after.req_resync, 1u);
  EXPECT_EQ(bytes.substr(884, 16), bytes.substr(264, 16));
  EXPECT_STREQ(after.req_bank, "LCL");
  EXPECT_EQ(after.req_base, 9u);
  EXPECT_EQ(after.req_watch, 24u);
  EXPECT_EQ(bytes.size(), GM_STATUS_FILE_BYTES);

  ASSERT_TRUE(gm::con_write_resync(path, false));
  bytes = gmtest::read_file(path);
  std::memcpy(&after, bytes.data(), sizeof after);
  EXPECT_EQ(after.req_seq, 9u);
  EXPECT_EQ(after.req_resync, 0u);

  b.magic = 0;
  const std::string foreign = write_con(b);
  EXPECT_FALSE(gm::con_write_resync(foreign, true));
  EXPECT_EQ(gmtest::read_file(foreign).substr(880, 4), std::string("\7\0\0\0", 4));
  EXPECT_FALSE(gm::con_write_resync(write_con(running_block(), 2231), true));
  EXPECT_FALSE(gm::con_write_resync(home_.path() + "/missing", true));
}

}  // namespace
