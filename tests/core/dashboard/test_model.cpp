// The dashboard's view model from hand-built snapshots: which state wins, the texts the golden
// pages of the demo scenarios do not show, the address controls, and the small text rules.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/text.h"
#include "model.h"
#include "sample_inputs.h"

namespace gm {
namespace {

// WING (or X32 / M32) installed, switched on, LV1 up for a minute, a connected format-17 block.
Inputs running(int type = 0) {
  Inputs in;
  connect(in, type);
  in.lv1_uptime_ms = 60000;
  return in;
}

void silent_for(Inputs& in, int64_t ms, uint32_t find_state = 0) {
  in.status[0].connected = 0;
  in.since_answer_ms[0] = ms;
  in.status[0].find_state = find_state;
}

void no_block_at(Inputs& in, int64_t up_ms, bool in_slot) {
  in.status[0] = {};
  in.lv1_uptime_ms = up_ms;
  loader_entry(in, 0, in_slot, "3.2.0", 0);
}

// Where two rules could apply, the earlier one decides.
TEST(ModelState, FirstMatchingRuleWins) {
  using S = ConState;
  const struct {
    const char* what;
    ConState state;
    const char* status;
    const char* tones;  // dot, edge, message
    std::function<void(Inputs&)> setup;
  } cases[] = {
      {"shared beats legacy", S::shared, "Shared from another LV1", "000",
       [](Inputs& in) { in.shared[0] = in.legacy[0] = true; }},
      {"blocked loader beats a failed module", S::not_loaded, "Not loaded in LV1", "330",
       [](Inputs& in) { in.loader_blocked = true, loader_entry(in, 0, true, "", 3); }},
      {"no local network while connected", S::lan_blocked, "Blocked by macOS", "333",
       [](Inputs& in) {
         gm_base::copy_text(in.status[0].text, "no local network"), in.lv1_net_switch = 0;
       }},
      {"local network text with LV1's switch on", S::connected, "Connected", "140",
       [](Inputs& in) {
         gm_base::copy_text(in.status[0].text, "no local network"), in.lv1_net_switch = 1;
       }},
      {"refinding beats lost", S::refinding, "Looking for it again", "333",
       [](Inputs& in) { silent_for(in, 20000, 1); }},
      {"5000 ms is not lost", S::not_answering, "Not answering", "222",
       [](Inputs& in) { silent_for(in, 5000); }},
      {"5001 ms is lost", S::lost, "Lost contact", "333", [](Inputs& in) { silent_for(in, 5001); }},
      {"lost beats a blocked update", S::lost, "Lost contact", "333",
       [](Inputs& in) { silent_for(in, 9000), loader_entry(in, 0, true, "3.2.0", 2, "w-3.dll"); }},
      {"blocked update beats another console at the address", S::update_blocked, "Update blocked",
       "222",
       [](Inputs& in) {
         silent_for(in, 0, 3), gm_base::copy_text(in.status[0].answer_id, "S9");
         loader_entry(in, 0, true, "3.2.0", 2, "w-3.dll");
       }},
      {"LV1 at 29999 ms, no block", S::looking, "Looking for it…", "000",
       [](Inputs& in) { no_block_at(in, 29999, false); }},
      {"LV1 at 30000 ms, no block, no slot", S::no_slot, "Not in a rack slot", "222",
       [](Inputs& in) { no_block_at(in, 30000, false); }},
      {"LV1 at 30000 ms, no block, in a slot", S::not_answering, "Not answering", "222",
       [](Inputs& in) { no_block_at(in, 30000, true); }},
  };
  for (const auto& c : cases) {
    Inputs in = running();
    c.setup(in);
    const ConView v = build_view(0, in);
    EXPECT_EQ(v.state, c.state) << c.what;
    EXPECT_EQ(v.status, c.status) << c.what;
    EXPECT_EQ(std::to_string(v.dot) + std::to_string(v.edge) + std::to_string(v.msg_tone), c.tones)
        << c.what;
  }
}

TEST(ModelMessage, SilenceReadsInSecondsThenMinutes) {
  const struct {
    int64_t ms;
    const char* lost;
  } cases[] = {{89999, "No answer for 89 s."},
               {90000, "No answer for 1 min."},
               {179999, "No answer for 2 min."}};
  // The rest of the text is the golden setup-lost page's.
  for (const auto& c : cases) {
    Inputs in = running();
    silent_for(in, c.ms);
    EXPECT_EQ(build_view(0, in).msg.rfind(std::string(c.lost) + " Gain and 48V", 0), 0u) << c.ms;
  }
}

TEST(ModelMessage, EmptyPortsComeFirst) {
  Inputs in = running(1);
  gm_base::copy_text(in.status[1].identity, "X32,10.0.0.6,FOH,X32,4.06");
  in.status[1].addr_followed = 1;
  in.status[1].port_count = 3;
  gm_base::copy_text(in.status[1].ports[0].port, "A");
  in.status[1].ports[0].strips = 3;
  in.status[1].ports[1].flag = 1;  // its stagebox is there
  in.status[1].ports[1].strips = 4;
  gm_base::copy_text(in.status[1].ports[2].port, "B");
  in.status[1].ports[2].strips = 5;
  EXPECT_EQ(build_view(1, in).msg,
            "No gain knobs on 8 strips: nothing is connected to the X32's AES50 A or B, where the "
            "X-WSG card takes them from. Connect the stagebox and the knobs appear by themselves. "
            "Its address changed while LV1 was running; Gainmesh followed it to 10.0.0.6.");
}

TEST(ModelText, PrettyModel) {
  const struct {
    int type;
    const char* model;
    const char* name;
  } cases[] = {
      {1, "M32R", "Midas M32R"}, {0, "wing-compact", "WING Compact"}, {1, "m32c", "Midas M32C"}};
  for (const auto& c : cases) EXPECT_EQ(pretty_model(c.type, c.model), c.name) << c.model;
}

TEST(ModelText, PreampRunsAndRemoteInputs) {
  ConStatus st = {};
  int s = 0;
  auto strip = [&](bool local, const char* group, uint32_t number) {
    st.strip_local[s] = local;
    gm_base::copy_text(st.strip_group[s], group);
    st.strip_number[s++] = number;
  };
  for (uint32_t n = 1; n <= 8; ++n) strip(true, "LCL", n);
  strip(true, "LCL", 11);
  strip(true, "LCL", 0);   // no preamp number: not counted
  strip(false, "LCL", 3);  // a remote input
  for (uint32_t n = 1; n <= 16; ++n) strip(true, "A", n);
  strip(false, "LCL", 1);
  strip(false, "LCL", 2);
  strip(false, "LCL", 12);
  int32_t count = 0;
  EXPECT_EQ(preamp_summary(st, &count), "Local 1–8, 11 · AES50 A 1–16");
  EXPECT_EQ(count, 25);
  EXPECT_EQ(remote_inputs(st), "1–3, 12");
}

TEST(ModelText, TypedAddress) {
  const char* kNotIp = "That isn't an IP address. Type four numbers with dots, like 192.168.1.20.";
  const char* kNoConsole =
      "No console can have that address. Type the one on its Setup ▸ Network page.";
  const struct {
    const char* text;
    bool ok;
    const char* result;  // the address, or the error
  } cases[] = {{"\t192.168.1.20\r\n", true, "192.168.1.20"},
               {" \t\r\n", false, "Type the console's address, like 192.168.1.20."},
               {"1.2.3.4.5", false, kNotIp},
               {"239.1.1.1", false, kNoConsole}};
  for (const auto& c : cases) {
    std::string address = "old", error = "old";
    EXPECT_EQ(ip_text_ok(c.text, &address, &error), c.ok) << c.text;
    EXPECT_EQ(c.ok ? address : error, c.result) << c.text;
    if (c.ok) {
      EXPECT_EQ(error, "");
    }
  }
}

TEST(ModelClock, TheTimeSinceTheConsoleLastAnswered) {
  Inputs in = running();
  track_connected(in, 1000);
  EXPECT_EQ(in.since_answer_ms[0], 0);
  in.status[0].connected = 0;
  track_connected(in, 7001);
  EXPECT_EQ(in.since_answer_ms[0], 6001);
  in.lv1_running = false;
  track_connected(in, 8000);
  EXPECT_EQ(in.since_answer_ms[0], -1);
}

}  // namespace
}  // namespace gm
