// The Local Network permission: switches read from archives built here, the decision and its
// timers on a test clock, the asked marker, and the probe. The probe sends for real only inside
// a network namespace that the NetNamespace test makes; elsewhere its sends are counted.
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "netperm.h"
#include "support/loopback.h"
#include "support/netns.h"
#include "support/temp_home.h"
#include "util.h"

namespace {

using gmtest::ip4;

const std::string kApp = gm::kOwnSigningId;
enum Format { kBinaryUid, kXml };  // XML archives hold references as {"CF$UID": n}

// Flags: 1 true, 0 false, -1 a string in their place. An empty id refers outside "$objects"; an
// empty path leaves the key out.
struct Entry {
  std::string id;
  int set;
  std::string path;
  int deny;
};

std::string archive(const std::vector<Entry>& entries, Format format) {
  plist_t objects = plist_new_array(), root = plist_new_dict();
  plist_array_append_item(objects, plist_new_string("$null"));
  const auto ref = [](uint64_t at) { return plist_new_uid(at); };
  const auto text = [&](const std::string& s) {
    if (s.empty() || s == "$null") return ref(s.empty() ? 999 : 0);
    plist_array_append_item(objects, plist_new_string(s.c_str()));
    return ref(plist_array_get_size(objects) - 1);
  };
  const auto flag = [](int v) { return v < 0 ? plist_new_string("yes") : plist_new_bool(v); };
  for (const Entry& e : entries) {
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "SigningIdentifier", text(e.id));
    plist_dict_set_item(d, "MulticastPreferenceSet", flag(e.set));
    if (!e.path.empty()) plist_dict_set_item(d, "Path", text(e.path));
    plist_dict_set_item(d, "DenyMulticast", flag(e.deny));
    plist_array_append_item(objects, d);
  }
  plist_dict_set_item(root, "$objects", objects);
  char* out = nullptr;
  uint32_t size = 0;
  format == kXml ? plist_to_xml(root, &out, &size) : plist_to_bin(root, &out, &size);
  const std::string bytes(out, size);
  std::free(out);
  plist_free(root);
  return bytes;
}

class Archive : public testing::TestWithParam<Format> {};

TEST_P(Archive, EachIdentifierGetsTheSwitchOfItsFirstAppEntry) {
  // Each entry in archive order, and what the whole archive answers for its identifier.
  const std::pair<Entry, int> rows[] = {{{kApp, 1, "", 0}, 1},
                                        {{gm::kLv1SigningId, 1, "$null", 1}, 0},
                                        {{"dup", 1, "", 1}, 0},
                                        {{"dup", 1, "", 0}, 0},
                                        {{"late", 0, "", 1}, 1},
                                        {{"late", 1, "", 0}, 1},
                                        {{"tool", 1, "/usr/bin/tool", 0}, -1},
                                        {{"badset", -1, "", 0}, -1},
                                        {{"", 1, "", 0}, -1}};
  std::vector<Entry> entries;
  for (const auto& row : rows) entries.push_back(row.first);
  const std::string bytes = archive(entries, GetParam());
  for (const auto& [e, sw] : rows) EXPECT_EQ(gm::ln_switch_parse(bytes, e.id), sw) << e.id;
  EXPECT_EQ(gm::ln_switch_parse(archive({}, GetParam()), kApp), -1);
  EXPECT_EQ(gm::ln_switch_parse("<plist><dict><key>$objects</key><dict/></dict></plist>", kApp),
            -2);
}

INSTANTIATE_TEST_SUITE_P(Formats, Archive, testing::Values(kBinaryUid, kXml));

TEST(ArchiveFile, ARewrittenOrRemovedArchiveIsReadAgain) {
  gmtest::TempHome home;
  const std::string path = home.path() + "/ne.plist";
  gm::SwitchArchive cache(path);
  EXPECT_EQ(cache.get(kApp), -2);
  ASSERT_TRUE(gm::write_text(path, archive({{kApp, 1, "", 0}}, kBinaryUid)));
  EXPECT_EQ(cache.get(kApp), 1);
  ASSERT_TRUE(gm::write_text(path, archive({{kApp, 1, "", 1}}, kBinaryUid)));
  EXPECT_EQ(cache.get(kApp), 0);
  ASSERT_EQ(unlink(path.c_str()), 0);
  EXPECT_EQ(cache.get(kApp), -2);
}

TEST(Decide, StateFromSwitchAskedRecentAndProbe) {
  // privacy, switch, asked, recent, probe result -> state, whether the probe was needed
  const int rows[][7] = {{0, -2, 0, 0, -1, 4, 0}, {1, 1, 0, 0, 0, 4, 0},  {1, 0, 1, 1, 1, 3, 0},
                         {1, -1, 0, 1, 1, 1, 0},  {1, -1, 1, 1, 0, 2, 1}, {1, -1, 1, 0, 0, 1, 1},
                         {1, -1, 1, 0, 1, 4, 1},  {1, -2, 1, 0, 0, 3, 1}, {1, -2, 1, 1, 0, 2, 1},
                         {1, -2, 1, 1, -1, 0, 1}};
  for (const auto& r : rows) {
    bool probed = false;
    EXPECT_EQ(gm::net_perm_decide(r[0], r[1], r[2], r[3], [&] { return probed = true, r[4]; }),
              r[5])
        << r[0] << r[1] << r[2] << r[3] << r[4];
    EXPECT_EQ(probed, r[6] != 0) << r[0] << r[1] << r[2] << r[3];
  }
}

TEST(Decide, WaitingLastsAMinuteAfterTheRequestAndProbesAtMostEveryTwoSeconds) {
  int64_t now = 0;
  int probes = 0, sw = -1;
  bool asked = false;
  gm::NetPermission perm({[] { return true; }, [&] { return sw; }, [&] { return asked; },
                          [&] { return ++probes, 0; }, [&] { return now; }});
  EXPECT_EQ(perm.state(), 1);
  now = 1000, asked = true;
  EXPECT_EQ(perm.request(), 2);
  EXPECT_EQ(probes, 2);  // the request's own send, then a fresh one for the state
  const int64_t steps[][3] = {{2999, 2, 2}, {3000, 2, 3}, {60999, 2, 4}, {61000, 1, 4}};
  for (const auto& [at, state, sent] : steps) {
    now = at;
    EXPECT_EQ(perm.state(), state) << at;
    EXPECT_EQ(probes, sent) << at;
  }
  sw = 1;
  EXPECT_EQ(perm.state(), 4);
}

TEST(Asked, TheMarkerTheSwitchOrAnInstallTellWhetherTheUserWasAsked) {
  gmtest::TempHome home;
  gm::net_request();
  EXPECT_EQ(gmtest::read_file(gm::net_marker_path()), "asked\n");
  EXPECT_EQ(gm::net_perm(), 4);  // no such permission on this system
  const auto installed = [] { return true; };
  EXPECT_FALSE(gm::net_asked_decide(true, -1, false, installed));
  EXPECT_TRUE(gm::net_asked_decide(true, -2, false, installed));
}

TEST(Probe, TargetsTheFirstNeighbourOfEachSubnetAndCountsOnlyRefusals) {
  const auto nif = [](const char* addr, const char* mask, bool lo = false) {
    return gm::NetIface{"eth", ip4(addr), ip4(mask), true, true, lo};
  };
  const std::vector<std::tuple<gm::NetIface, const char*>> rows = {
      {nif("10.0.0.5", "255.255.255.0"), "10.0.0.1"},
      {nif("10.0.0.1", "255.255.255.0"), "10.0.0.2"},
      {nif("10.0.0.1", "255.255.255.254"), ""},  // the neighbour would lie outside the subnet
      {nif("127.0.0.1", "255.0.0.0", true), ""}};
  for (const auto& [n, want] : rows) EXPECT_EQ(gm::probe_target(n), ip4(want)) << want;
  unsetenv("GAINMESH_TEST_NO_BROADCAST");
  int sends = 0;
  const auto send = [&](uint32_t t) { return ++sends, t == ip4("10.1.0.1") ? EPERM : ENETDOWN; };
  EXPECT_EQ(
      gm::probe_interfaces({nif("10.1.0.9", "255.255.0.0"), nif("10.2.0.9", "255.255.0.0")}, send),
      0);
  EXPECT_EQ(gm::probe_interfaces({nif("10.2.0.9", "255.255.0.0")}, send), -1);
  setenv("GAINMESH_TEST_NO_BROADCAST", "1", 1);
  sends = 0;
  EXPECT_EQ(gm::probe_interfaces({nif("10.1.0.9", "255.255.0.0")}, send), -1);
  EXPECT_EQ(sends, 0);
}

// Inside the lab's scanner namespace (br0 on <subnet>.1/24) the probe's neighbour <subnet>.2 is
// made local, so that a listener on port 9 hears what is sent; then a route refuses it.
std::string probe_here(const std::string& two) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{AF_INET, htons(9), {htonl(INADDR_ANY)}, {}};
  timeval wait{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      std::system(("ip addr add " + two + "/32 dev lo").c_str()) != 0) {
    return "skip: cannot listen on the neighbour's port 9";
  }
  char buf[8];
  setenv("GAINMESH_TEST_NO_BROADCAST", "1", 1);
  std::string r = "quiet=" + std::to_string(gm::probe());
  r += " heard=" + std::to_string(recv(fd, buf, sizeof buf, MSG_DONTWAIT));
  unsetenv("GAINMESH_TEST_NO_BROADCAST");
  r += " sent=" + std::to_string(gm::probe());
  const ssize_t n = recv(fd, buf, sizeof buf, 0);
  r += " got=" + std::to_string(n) + ":" + std::to_string(n > 0 ? buf[0] : -1);
  if (std::system(("ip addr del " + two + "/32 dev lo && ip route add unreachable " + two).c_str()))
    return "skip: cannot add an unreachable route";
  return r + " refused=" + std::to_string(gm::probe());
}

TEST(NetNamespace, TheProbeSendsOneZeroByteToPortNineUnlessSendsAreOff) {
  gmtest::NetnsLab lab(1);
  if (!lab.ok()) GTEST_SKIP() << lab.why();
  const std::string one = lab.scanner_addr(), two = one.substr(0, one.size() - 1) + "2";
  std::string r, err;
  ASSERT_TRUE(gmtest::run_in_netns(
      lab.scanner(), [&] { return probe_here(two); }, &r, &err))
      << err;
  if (r.starts_with("skip")) GTEST_SKIP() << r;
  EXPECT_EQ(r, "quiet=-1 heard=-1 sent=1 got=1:0 refused=0");
}

}  // namespace
