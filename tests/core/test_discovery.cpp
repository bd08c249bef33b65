// The console scan's reply lines, byte for byte, and the address hint it leaves for the module.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "discovery.h"
#include "support/temp_home.h"
#include "util.h"

namespace {

std::string parsed_wing(const std::string& datagram) {
  std::string line = "(none)";
  if (!gm::wing_reply_line(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size(),
                           &line)) {
    return "(ignored)";
  }
  return line;
}

std::string parsed_xinfo(const std::string& datagram) {
  std::string line = "(none)";
  if (!gm::xinfo_reply_line(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size(),
                            &line)) {
    return "(ignored)";
  }
  return line;
}

// An OSC string: the text, a NUL, padded to a multiple of 4.
std::string osc(const std::string& s) {
  std::string out = s + '\0';
  out.resize((out.size() + 3) / 4 * 4, '\0');
  return out;
}

const std::string kXinfoHead = osc("/xinfo") + std::string(",ssss\0\0\0", 8);

TEST(ConsoleScanReplies, FieldIsTheTextBetweenTheFirstTwoCommas) {
  const struct {
    const char* line;
    const char* field;
  } cases[] = {
      {"WING,192.168.1.62,FOH, left,wing-rack,S1,3.1", "192.168.1.62"},
      {"WING,10.0.0.7", "10.0.0.7"},
      {"X32,,name,,", ""},
      {"no comma", ""},
      {"", ""},
      {"WING,", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(gm::field(c.line), c.field) << c.line;
}

TEST(ConsoleScanReplies, AWingReplyIsTakenFromItsFirstWingCommaToItsEnd) {
  const std::string line = "WING,10.1.2.3,Stage, Left,wing-rack,S0001,3.1-0-g9f314617";
  const struct {
    std::string datagram;
    std::string line;
  } cases[] = {
      {line, line},
      {"xx" + line, line},                             // leading bytes
      {std::string("\0\0\x01", 3) + line, line},       // leading binary bytes, NULs among them
      {line + std::string("\0\0\0", 3), line},         // NUL padding is not part of the line
      {line + "\r\n", line},                           // one line, whatever follows
      {"WING,", "(ignored)"},                          // 5 bytes
      {"WING?", "(ignored)"},                          // a question, not an answer
      {"WING 10.1.2.3,FOH", "(ignored)"},              // no "WING,"
      {"WING,WING,1", "WING,WING,1"},                  // the first one counts
      {std::string(506, 'x') + "WING,", "WING,"},      // within the 511 bytes read
      {std::string(507, 'x') + "WING,", "(ignored)"},  // beyond them
  };
  for (const auto& c : cases) EXPECT_EQ(parsed_wing(c.datagram), c.line) << c.datagram;
  EXPECT_EQ(gm::field(parsed_wing("..." + line)), "10.1.2.3");
}

TEST(ConsoleScanReplies, AnXinfoReplyBecomesAnX32LineWithMissingStringsEmpty) {
  const std::string four = osc("10.0.0.9") + osc("FOH") + osc("M32") + osc("4.06");
  const struct {
    std::string datagram;
    std::string line;
  } cases[] = {
      {kXinfoHead + four, "X32,10.0.0.9,FOH,M32,4.06"},
      {kXinfoHead + osc("10.0.0.9") + osc("FOH"), "X32,10.0.0.9,FOH,,"},
      {kXinfoHead, "X32,,,,"},
      {kXinfoHead + "10.0.0.9", "X32,10.0.0.9,,,"},  // the last string unterminated
      {kXinfoHead + osc("1234567") + osc("ab"), "X32,1234567,ab,,"},  // 8-byte padding
      {kXinfoHead + osc("10.0.0.9") + osc("FOH\nB"), "X32,10.0.0.9,FOH"},
      {kXinfoHead.substr(0, 15), "(ignored)"},                               // short
      {osc("/xinfox") + std::string(",ssss\0\0\0", 8) + four, "(ignored)"},  // another address
      {osc("/status") + std::string(",sss\0\0\0\0", 8) + four, "(ignored)"},
      {"WING,10.0.0.9,FOH,wing-rack,S1,3.1", "(ignored)"},
  };
  for (const auto& c : cases) EXPECT_EQ(parsed_xinfo(c.datagram), c.line) << c.line;
}

class ConsoleScanHint : public gmtest::TempHomeTest {};

TEST_F(ConsoleScanHint, TheHintIsWrittenOnlyWhenInstalledAndTheAddressIsIpv4) {
  const struct {
    int which;
    bool installed;
    const char* ip;
    bool written;
  } cases[] = {
      {0, true, "10.0.0.9", true},   {1, true, "192.168.1.20", true}, {0, false, "10.0.0.9", false},
      {0, true, "", false},          {0, true, "desk.local", false},  {1, true, "10.0.0", false},
      {0, true, "10.0.0.9 ", false}, {1, true, "fe80::1", false},
  };
  for (const auto& c : cases) {
    const std::string cfg = gm::con_cfg(c.which);
    home_.write(cfg.substr(home_.path().size() + 1), "bank=LCL\n");
    const gm::Found found{true, std::string("WING,") + c.ip + ",FOH", c.ip};
    EXPECT_EQ(gm::store_hint(c.which, found, c.installed), c.written) << c.ip;
    EXPECT_EQ(gmtest::read_file(cfg),
              c.written ? std::string("bank=LCL\nhint=") + c.ip + "\n" : "bank=LCL\n")
        << c.ip;
  }
}

}  // namespace
