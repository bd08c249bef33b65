// The console status block as the app sees it: created and zeroed by the module, published
// from the module's state, and carrying the app's settings request back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <tuple>

#include "bridge_cfg.h"
#include "bridge_status.h"
#include "module_entry.h"
#include "support/module_fixture.h"
#include "support/status_file.h"
#include "support/temp_home.h"

namespace {

using namespace gmtest;

using StatusBlock = InProcessModuleTest;

TEST_F(StatusBlock, FreshBlockHoldsOnlyMagicAndVersionAndClosingMarksTheModuleStopped) {
  // A leftover file from an earlier run, full of stale bytes and longer than the block.
  home_.write("Library/Application Support/Gainmesh/run/GainmeshStatus",
              std::string(300000, '\xff'));
  ASSERT_TRUE(gm::shm_init());
  ASSERT_TRUE(gm::shm_init());  // once only
  EXPECT_EQ(host_.count_lines("[shm] status block published as Local\\GainmeshStatus"), 1);
  StatusFile blk(home_.run_dir());
  ASSERT_TRUE(blk.ok());
  EXPECT_EQ(blk.file_size(), 300000) << "a longer file is left as it is";
  EXPECT_EQ(blk->magic, GM_STATUS_MAGIC);
  EXPECT_EQ(blk->version, 17u);
  for (size_t i = 8; i < GM_STATUS_MAP_BYTES; ++i) ASSERT_EQ(blk.bytes()[i], 0) << "byte " << i;

  host_.set_injected(true);
  gm::shm_publish_v2();
  ASSERT_EQ(blk->injected, 1u);
  gm::bridge_status_close();
  gm::bridge_status_close();  // harmless twice
  EXPECT_STREQ(blk->status, "Module stopped");
  EXPECT_EQ(blk->injected, 0u);
}

TEST_F(StatusBlock, PublishesChannelsEmptyAndTheProtectList) {
  load_settings("watch=8\nprotect=LCL:3, A:12\nresync=desk\n");
  const uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xfe};
  host_.set_mac(mac);
  host_.set_injected(true);
  ASSERT_TRUE(gm::shm_init());
  gm::shm_sync();
  StatusFile blk(home_.run_dir());
  ASSERT_TRUE(blk.ok());
  // synced, watch, injected, read_only, resync, patch_age_ms
  EXPECT_EQ(std::tuple(blk->synced, blk->watch, blk->injected, blk->read_only, blk->resync,
                       blk->patch_age_ms),
            std::tuple(1u, 8u, 1u, 1u, 0u, 0xFFFFFFFFu));
  EXPECT_EQ(std::pair(blk->bank_max, blk->bank_step), std::pair(45.0, 2.5));
  EXPECT_EQ(std::string(blk->mac) + " " + blk->device_kind + " " + blk->status,
            "00:1a:2b:3c:4d:fe box Reading the desk patch...");
  for (int ch = 0; ch < 64; ++ch) {
    EXPECT_EQ(std::pair(blk->level[ch], blk->peak[ch]), std::pair(-144.0, -144.0)) << ch;
  }
  ASSERT_EQ(blk->n_protect, 2u);
  EXPECT_EQ(std::string(blk->protect[0].group) + std::to_string(blk->protect[0].input) + " " +
                blk->protect[1].group + std::to_string(blk->protect[1].input),
            "LCL3 A12");
}

TEST_F(StatusBlock, SearchNotesAreCutAndClearedOnlyWhenTheirOwn) {
  ASSERT_TRUE(gm::shm_init());
  StatusFile blk(home_.run_dir());
  const std::string note = "Nothing answers at 10.0.0.99, the address set for this console";
  gm::shm_note_searching(note.c_str());
  EXPECT_EQ(std::string(blk->status), note);
  gm::shm_note_searching("");
  EXPECT_STREQ(blk->status, "");

  const std::string longer(120, 'x');
  gm::shm_note_searching(longer.c_str());
  EXPECT_EQ(std::string(blk->status), std::string(95, 'x'));
}

TEST(StatusText, FirstMatchingRuleWins) {
  gm::StatusTextFacts f;
  EXPECT_EQ(gm::status_text(f), "Reading the desk patch...");
  f.link_failures = 3;
  EXPECT_EQ(gm::status_text(f),
            "Desk refused the control link - close WING Edit / the WING app, or check the "
            "firewall");
  f.find_state = GM_FIND_LOOKING;
  f.desk_label = "FOH";
  EXPECT_EQ(gm::status_text(f), "Looking for FOH again - did its address change?");
  f.net_blocked = true;
  EXPECT_EQ(gm::status_text(f),
            "Blocked from the local network - allow eMotion LV1 under Local Network");

  gm::StatusTextFacts read;
  read.patch_read = true;
  read.link_failures = 5;
  EXPECT_EQ(gm::status_text(read), "");
  read.tcp_lock = true;
  EXPECT_EQ(gm::status_text(read),
            "The desk refuses changes from the network (TCP lock in its Setup)");
}

// The app's side of a settings request: fill the request fields, then raise req_seq. (Through
// the app's own mapping: CoreLiveStatus.ASetResyncReachesTheRunningModule.)
void app_writes(const std::function<void(GmConsoleStatus&)>& fill) {
  ASSERT_TRUE(gm::shm_with_block(fill));
}

TEST_F(StatusBlock, SettingsRequestIsAppliedOncePerSequence) {
  load_settings("; made by hand\nbank=LCL\nwatch=64\n");
  ASSERT_TRUE(gm::shm_init());

  // Request fields without a new sequence number are not a request.
  app_writes([](GmConsoleStatus& app) {
    std::strcpy(app.req_bank, "A");
    app.req_base = 5;
  });
  gm::shm_sync();
  EXPECT_FALSE(host_.has_line("[shm] config applied from tray"));

  app_writes([](GmConsoleStatus& app) {
    app.req_watch = 100;  // capped at 64
    app.req_resync = 0;   // the desk wins
    app.req_seq = 1;
  });
  gm::shm_sync();
  EXPECT_TRUE(host_.has_line("[shm] config applied from tray: bank=A base=5 watch=64 resync=desk"));
  EXPECT_EQ(gm::cfg_bank(), "A");
  EXPECT_EQ(gm::cfg_base(), 5);
  EXPECT_TRUE(gm::cfg_resync_desk());
  // (That it is saved: CoreLiveStatus.ASetResyncReachesTheRunningModule.)

  gm::shm_sync();
  EXPECT_EQ(host_.count_lines("[shm] config applied from tray"), 1);
  StatusFile blk(home_.run_dir());
  EXPECT_STREQ(blk->bank, "A");
  EXPECT_EQ(blk->base, 5u);
  EXPECT_EQ(blk->resync, 0u);

  // Zero base and watch keep the current values; an empty bank too.
  app_writes([](GmConsoleStatus& app) {
    app.req_bank[0] = '\0';
    app.req_base = 0;
    app.req_watch = 0;
    app.req_resync = 1;
    app.req_seq = 2;
  });
  gm::shm_sync();
  EXPECT_TRUE(host_.has_line("[shm] config applied from tray: bank=A base=5 watch=64 resync=lv1"));
}

}  // namespace
