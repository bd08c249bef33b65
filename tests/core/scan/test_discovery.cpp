// The console scan's reply lines, byte for byte, and the address hint it leaves for the module.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "discovery.h"
#include "support/temp_home.h"
#include "util.h"

namespace {

using Parser = bool (*)(const uint8_t*, size_t, std::string*);

std::string parsed(Parser parse, const std::string& datagram) {
  std::string line;
  const auto* p = reinterpret_cast<const uint8_t*>(datagram.data());
  return parse(p, datagram.size(), &line) ? line : "(ignored)";
}

// An OSC string: the text, a NUL, padded to a multiple of 4.
std::string osc(const std::string& s) {
  std::string out = s + '\0';
  out.resize((out.size() + 3) / 4 * 4, '\0');
  return out;
}

const std::string kXinfoHead = osc("/xinfo") + std::string(",ssss\0\0\0", 8);

TEST(ConsoleScanReplies, WingAndXinfoRepliesBecomeOneLineEachWithTheAddressSecond) {
  const std::string line = "WING,10.1.2.3,Stage, Left,wing-rack,S0001,3.1-0-g9f314617";
  const std::string four = osc("10.0.0.9") + osc("FOH") + osc("M32") + osc("4.06");
  const Parser wing = gm::wing_reply_line, xinfo = gm::xinfo_reply_line;
  const struct {
    Parser parse;
    std::string datagram;
    std::string line;
  } cases[] = {
      {wing, std::string("\0\0\x01", 3) + line, line},   // leading binary bytes, NULs among them
      {wing, line + std::string("\0\0\0", 3), line},     // NUL padding is not part of the line
      {wing, "WING,", "(ignored)"},                      // 5 bytes
      {wing, "WING 10.1.2.3,FOH", "(ignored)"},          // no "WING,"
      {wing, std::string(506, 'x') + "WING,", "WING,"},  // within the 511 bytes read
      {wing, std::string(507, 'x') + "WING,", "(ignored)"},  // beyond them
      // A line end or another control byte inside a field keeps the fields after it; one that
      // closes the reply is dropped, and bytes that are not UTF-8 read as U+FFFD.
      {wing, "WING,192.0.2.2,FOH\r\nDesk,wing-rack,S1,3.1",
       "WING,192.0.2.2,FOH  Desk,wing-rack,S1,3.1"},
      {wing, "WING,192.0.2.2,F\xE9OH\x1B[2J,wing-rack,S1,3.1\r\n" + std::string("\0x", 2),
       "WING,192.0.2.2,F\xEF\xBF\xBDOH [2J,wing-rack,S1,3.1"},
      {xinfo, kXinfoHead + four, "X32,10.0.0.9,FOH,M32,4.06"},
      {xinfo, kXinfoHead + "10.0.0.9", "X32,10.0.0.9,,,"},  // the last string unterminated
      {xinfo, kXinfoHead + osc("10.0.0.9") + osc("FOH\nB"), "X32,10.0.0.9,FOH B,,"},
      {xinfo, kXinfoHead.substr(0, 15), "(ignored)"},                      // short
      {xinfo, osc("/xinfox") + kXinfoHead.substr(8) + four, "(ignored)"},  // another address
  };
  for (const auto& c : cases) EXPECT_EQ(parsed(c.parse, c.datagram), c.line) << c.line;
  // The address: between the first two commas, or after the only one.
  const std::pair<std::string, std::string> fields[] = {
      {line, "10.1.2.3"}, {"WING,10.0.0.7", "10.0.0.7"}, {"X32,,FOH,,", ""}, {"no comma", ""}};
  for (const auto& [l, ip] : fields) EXPECT_EQ(gm::field(l), ip) << l;
}

class ConsoleScanHint : public gmtest::TempHomeTest {};

TEST_F(ConsoleScanHint, TheHintIsWrittenOnlyWhenInstalledAndTheAddressIsIpv4) {
  const struct {
    int which;
    bool installed;
    const char* ip;
    bool written;
  } cases[] = {
      {0, true, "10.0.0.9", true}, {1, true, "192.168.1.20", true}, {0, false, "10.0.0.9", false},
      {0, true, "", false},        {0, true, "desk.local", false},  {1, true, "fe80::1", false},
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
