// Choosing the console a type uses, with no LV1 running: the typed address is checked, saved in
// plain form and explained; a refusal reaches only the caller's buffer; a console the module no
// longer reports changes nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api.h"
#include "core_state.h"
#include "install_state.h"
#include "model.h"
#include "support/temp_home.h"
#include "util.h"

namespace {

constexpr const char* kEarlier = "an earlier message";

class ConsoleChoice : public gmtest::TempHomeTest {
 protected:
  void SetUp() override { gm::set_msg(kEarlier); }
  void TearDown() override {
    for (int t = 0; t < 2; ++t) gm::ip_pin_after(t, "");
  }
  std::string install_wing(const std::string& cfg) {
    return home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/wing.cfg", cfg);
  }
  // The status of a module connected to the console that answered at `ip` with this id.
  static gm::ConStatus answered(const std::string& ip, const char* id) {
    gm::ConStatus st{};
    st.valid = true;
    st.version = 17;
    st.connected = 1;
    std::strcpy(st.typed_ip, ip.c_str());
    std::strcpy(st.answer_id, id);
    return st;
  }
};

// Each text's reason is ModelText.TypedAddress's; here, where a refusal goes.
TEST_F(ConsoleChoice, AnAddressThatIsRefusedWritesNothingAndTellsOnlyTheCaller) {
  const std::string cfg = install_wing("ip=10.0.0.9\n");
  struct Case {
    int which;
    const char* text;
    const char* error;
  } cases[] = {
      {0, "1.2.3.256", "That isn't an IP address. Type four numbers with dots, like 192.168.1.20."},
      {2, "10.1.2.3", ""},
      {0, nullptr, ""},
  };
  for (const Case& c : cases) {
    char buf[256];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_FALSE(gm_set_ip(c.which, c.text, buf, sizeof buf)) << (c.text ? c.text : "null");
    EXPECT_STREQ(buf, c.error) << (c.text ? c.text : "null");
  }
  EXPECT_EQ(gmtest::read_file(cfg), "ip=10.0.0.9\n");
  EXPECT_EQ(gm::current_msg(), kEarlier);

  // The reason is cut to the buffer, still terminated; no buffer at all is no fault.
  char small[8];
  EXPECT_FALSE(gm_set_ip(0, "300.1.1.1", small, sizeof small));
  EXPECT_STREQ(small, "That is");
  EXPECT_FALSE(gm_set_ip(0, "300.1.1.1", nullptr, 0));
  EXPECT_FALSE(gm_set_ip(0, "300.1.1.1", small, -1));
}

TEST_F(ConsoleChoice, AnAddressIsSavedInPlainFormAndWaitsToPinTheConsoleAnsweringThere) {
  const std::string cfg = install_wing("; settings\nip=10.0.0.9\nbank=LCL\n");
  char buf[256] = "old";
  ASSERT_TRUE(gm_set_ip(0, "010.1.2.3 ", buf, sizeof buf)) << buf;
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(gmtest::read_file(cfg), "; settings\nip=10.1.2.3\nbank=LCL\n");
  EXPECT_EQ(gm::current_msg(), "Saved. Gainmesh asks 10.1.2.3 within a few seconds.");

  // The console that answers at another address is not the one typed.
  EXPECT_EQ(gm::ip_pin_due(0, answered("10.1.2.4", "S-OTHER"), ""), "");
  EXPECT_EQ(gm::ip_pin_due(0, answered("10.1.2.3", "S-0001"), ""), "S-0001");
  EXPECT_EQ(gm::ip_pin_due(0, answered("10.1.2.3", "S-0001"), ""), "") << "pinned once only";

  // With a console already chosen, a typed address pins nothing.
  install_wing("console=S-0001\n");
  ASSERT_TRUE(gm_set_ip(0, "10.1.2.5", buf, sizeof buf));
  EXPECT_EQ(gm::ip_pin_due(0, answered("10.1.2.5", "S-0002"), ""), "");
}

TEST_F(ConsoleChoice, WithoutAnInstallTheAddressIsNotReportedAsSaved) {
  char buf[256];
  EXPECT_FALSE(gm_set_ip(1, "10.1.2.3", buf, sizeof buf));
  EXPECT_STREQ(buf, "Could not save it \xE2\x80\x94 is Gainmesh installed in LV1?");
  EXPECT_EQ(gm::current_msg(), kEarlier);
}

TEST_F(ConsoleChoice, PickingAConsoleTheModuleDoesNotReportChangesNothing) {
  const std::string cfg = install_wing("ip=10.0.0.9\n");
  gm_pick(0, nullptr);
  gm_pick(5, "S-0001");
  EXPECT_EQ(gm::current_msg(), kEarlier);
  gm_pick(0, "S-0001");
  EXPECT_EQ(gm::current_msg(),
            "That console is not on the network any more \xE2\x80\x94 nothing was changed.");
  EXPECT_EQ(gmtest::read_file(cfg), "ip=10.0.0.9\n");
}

}  // namespace
