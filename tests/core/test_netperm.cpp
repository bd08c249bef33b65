// The Local Network permission: switches read from archives built here, the decision and its
// timers on a test clock, the asked marker, and the probe. The probe sends for real only inside
// a network namespace that the NetNamespace test makes; elsewhere its sends are counted.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <plist/plist.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "netperm.h"
#include "support/temp_home.h"
#include "util.h"

namespace {

// ---- archives ----------------------------------------------------------------------------------

// flag fields: 1 true, 0 false, -1 a string in its place. An empty id refers outside "$objects";
// an empty path leaves the key out.
struct Entry {
  std::string id;
  int set;
  std::string path;
  int deny;
};
enum Format { kBinaryUid, kXml, kBinaryUidDict };

std::string archive(const std::vector<Entry>& entries, Format format) {
  plist_t objects = plist_new_array();
  plist_array_append_item(objects, plist_new_string("$null"));
  const auto ref = [&](uint64_t at) {
    if (format != kBinaryUidDict) return plist_new_uid(at);
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "CF$UID", plist_new_uint(at));
    return d;
  };
  const auto text = [&](const std::string& s) {
    if (s.empty()) return ref(999);
    plist_array_append_item(objects, plist_new_string(s.c_str()));
    return ref(plist_array_get_size(objects) - 1);
  };
  const auto flag = [](int v) { return v < 0 ? plist_new_string("yes") : plist_new_bool(v); };
  for (const Entry& e : entries) {
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "SigningIdentifier", text(e.id));
    plist_dict_set_item(d, "MulticastPreferenceSet", flag(e.set));
    if (!e.path.empty()) plist_dict_set_item(d, "Path", e.path == "$null" ? ref(0) : text(e.path));
    plist_dict_set_item(d, "DenyMulticast", flag(e.deny));
    plist_array_append_item(objects, d);
  }
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
  plist_dict_set_item(root, "$objects", objects);
  char* out = nullptr;
  uint32_t size = 0;
  format == kXml ? plist_to_xml(root, &out, &size) : plist_to_bin(root, &out, &size);
  std::string bytes(out, size);
  std::free(out);
  plist_free(root);
  return bytes;
}

const std::string kApp = gm::kOwnSigningId;
const std::string kLong(600, 'x');

class Archive : public testing::TestWithParam<Format> {};

TEST_P(Archive, EachIdentifierGetsTheSwitchOfItsFirstAppEntry) {
  const std::string bytes = archive({{kApp, 1, "", 0},
                                     {gm::kLv1SigningId, 1, "$null", 1},
                                     {"dup", 1, "", 1},
                                     {"dup", 1, "", 0},
                                     {"late", 0, "", 1},
                                     {"late", 1, "", 0},
                                     {"tool", 1, "/usr/local/bin/tool", 0},
                                     {"badset", -1, "", 0},
                                     {"baddeny", 1, "", -1},
                                     {"", 1, "", 0},
                                     {kLong, 1, "", 0}},
                                    GetParam());
  const std::vector<std::pair<std::string, int>> expected = {
      {kApp, 1},      {gm::kLv1SigningId, 0}, {"dup", 0},  {"late", 1},   {"tool", -1},
      {"badset", -1}, {"baddeny", -1},        {kLong, -1}, {"absent", -1}};
  for (const auto& [id, sw] : expected) EXPECT_EQ(gm::ln_switch_parse(bytes, id), sw) << id;
}

INSTANTIATE_TEST_SUITE_P(Formats, Archive, testing::Values(kBinaryUid, kXml, kBinaryUidDict));

TEST(ArchiveShape, OnlyADictionaryWithAnObjectsArrayIsUnderstood) {
  const auto bin = [](plist_t root) {
    char* out = nullptr;
    uint32_t size = 0;
    plist_to_bin(root, &out, &size);
    std::string bytes(out, size);
    std::free(out);
    plist_free(root);
    return bytes;
  };
  plist_t no_objects = plist_new_dict();
  plist_dict_set_item(no_objects, "$objects", plist_new_dict());
  EXPECT_EQ(gm::ln_switch_parse(archive({}, kBinaryUid), kApp), -1);
  EXPECT_EQ(gm::ln_switch_parse(bin(no_objects), kApp), -2);
  EXPECT_EQ(gm::ln_switch_parse(bin(plist_new_array()), kApp), -2);
  EXPECT_EQ(gm::ln_switch_parse("bplist00 truncated", kApp), -2);
  EXPECT_EQ(gm::ln_switch_parse("", kApp), -2);
}

TEST(ArchiveFile, ARewrittenOrRemovedArchiveIsReadAgain) {
  gmtest::TempHome home;
  const std::string path = home.path() + "/ne.plist";
  gm::SwitchArchive cache(path);
  EXPECT_EQ(cache.get(kApp), -2);
  ASSERT_TRUE(gm::write_text(path, archive({{kApp, 1, "", 0}}, kBinaryUid)));
  EXPECT_EQ(cache.get(kApp), 1);
  ASSERT_TRUE(gm::write_text(path, archive({{kApp, 1, "", 1}}, kBinaryUid)));
  EXPECT_EQ(cache.get(kApp), 0);
  ASSERT_TRUE(gm::write_text(path, "not an archive"));
  EXPECT_EQ(cache.get(kApp), -2);
  ASSERT_EQ(std::remove(path.c_str()), 0);
  EXPECT_EQ(cache.get(kApp), -2);
}

// ---- deciding
// ------------------------------------------------------------------------------------

TEST(Decide, StateFromSwitchAskedRecentAndProbe) {
  struct Row {
    bool privacy;
    int sw;
    bool asked, recent;
    int probe, state;
    bool probed;
  };
  const Row rows[] = {
      {false, -2, false, false, -1, 4, false}, {true, 1, false, false, 0, 4, false},
      {true, 0, true, true, 1, 3, false},      {true, -1, false, true, 1, 1, false},
      {true, -1, true, true, 0, 2, true},      {true, -1, true, false, 0, 1, true},
      {true, -1, true, false, 1, 4, true},     {true, -2, true, false, 0, 3, true},
      {true, -2, true, true, 0, 2, true},      {true, -2, true, true, -1, 0, true},
  };
  for (const Row& r : rows) {
    bool probed = false;
    const int s = gm::net_perm_decide(r.privacy, r.sw, r.asked, r.recent, [&] {
      probed = true;
      return r.probe;
    });
    EXPECT_EQ(s, r.state) << r.privacy << " " << r.sw << " " << r.asked << " " << r.recent;
    EXPECT_EQ(probed, r.probed) << r.privacy << " " << r.sw << " " << r.asked;
  }
  EXPECT_STREQ(gm::net_perm_name(2), "waiting for an answer");
  EXPECT_STREQ(gm::net_perm_name(7), "no network");
}

TEST(Decide, WaitingLastsAMinuteAfterTheRequestAndProbesAtMostEveryTwoSeconds) {
  int64_t now = 0;
  int probes = 0, sw = -1;
  bool asked = false;
  gm::NetPermission perm({[] { return true; }, [&] { return sw; }, [&] { return asked; },
                          [&] { return ++probes, 0; }, [&] { return now; }});
  EXPECT_EQ(perm.state(), 1);
  EXPECT_EQ(probes, 0);
  now = 1000;
  asked = true;
  EXPECT_EQ(perm.request(), 2);
  EXPECT_EQ(probes, 2);  // the request's own send, then a fresh one for the state
  now = 2999;
  EXPECT_EQ(perm.state(), 2);
  EXPECT_EQ(probes, 2);
  now = 3000;
  EXPECT_EQ(perm.state(), 2);
  EXPECT_EQ(probes, 3);
  now = 60999;
  EXPECT_EQ(perm.state(), 2);
  now = 61000;
  EXPECT_EQ(perm.state(), 1);
  sw = 1;
  EXPECT_EQ(perm.state(), 4);
}

TEST(Decide, AskedComesFromTheSwitchTheMarkerOrAnInstall) {
  struct Row {
    bool privacy;
    int sw;
    bool marker, installed, asked;
  };
  const Row rows[] = {{false, -2, false, false, true}, {true, 0, false, false, true},
                      {true, -1, false, true, false},  {true, -1, true, false, true},
                      {true, -2, false, true, true},   {true, -2, false, false, false}};
  for (const Row& r : rows) {
    EXPECT_EQ(gm::net_asked_decide(r.privacy, r.sw, r.marker, [&] { return r.installed; }), r.asked)
        << r.privacy << " " << r.sw << " " << r.marker << " " << r.installed;
  }
  EXPECT_EQ(gm::own_id_for("org.ambervale.gainmesh.beta"), "org.ambervale.gainmesh.beta");
  EXPECT_EQ(gm::own_id_for("org.ambervale.gainmes"), kApp);
  EXPECT_EQ(gm::own_id_for(""), kApp);
}

TEST(Request, WritesTheMarkerAndThisSystemIsAlwaysAllowed) {
  gmtest::TempHome home;
  EXPECT_FALSE(gm::ln_privacy());
  gm::net_request();
  EXPECT_EQ(gmtest::read_file(gm::net_marker_path()), "asked\n");
  EXPECT_TRUE(gm::net_asked());
  EXPECT_EQ(gm::net_perm(), 4);
}

// ---- the probe
// -----------------------------------------------------------------------------------

uint32_t ip(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return ntohl(a.s_addr);
}

gm::Ipv4Interface nif(const char* addr, const char* mask, bool up = true, bool bc = true,
                      bool lo = false) {
  return {"eth", ip(addr), ip(mask), up, bc, lo};
}

TEST(Probe, TargetsTheSubnetsFirstNeighbour) {
  const std::vector<std::pair<gm::Ipv4Interface, const char*>> rows = {
      {nif("10.0.0.5", "255.255.255.0"), "10.0.0.1"},
      {nif("10.0.0.1", "255.255.255.0"), "10.0.0.2"},
      {nif("10.0.0.1", "255.255.255.252"), "10.0.0.2"},
      {nif("10.0.0.0", "255.255.255.254"), nullptr},  // .1 is the broadcast address
      {nif("10.0.0.1", "255.255.255.254"), nullptr},  // .2 lies outside the subnet
      {nif("10.0.0.5", "255.255.255.255"), nullptr},
      {nif("10.0.0.5", "0.0.0.0"), nullptr},
      {nif("10.0.0.5", "255.255.255.0", false), nullptr},
      {nif("10.0.0.5", "255.255.255.0", true, false), nullptr},
      {nif("127.0.0.1", "255.0.0.0", true, true, true), nullptr}};
  for (const auto& [n, want] : rows) EXPECT_EQ(gm::probe_target(n), want ? ip(want) : 0u) << want;
}

TEST(Probe, StopsAtTheFirstSendThatGoesThroughAndCountsOnlyRefusals) {
  unsetenv("GAINMESH_TEST_NO_BROADCAST");
  std::map<uint32_t, int> result = {{ip("10.1.0.1"), EHOSTUNREACH},
                                    {ip("10.2.0.1"), ENETDOWN},
                                    {ip("10.3.0.1"), 0},
                                    {ip("10.4.0.1"), EPERM}};
  std::vector<uint32_t> sent;
  const auto send = [&](uint32_t t) { return sent.push_back(t), result[t]; };
  const std::vector<gm::Ipv4Interface> all = {
      nif("10.1.0.9", "255.255.0.0"), nif("10.2.0.9", "255.255.0.0"),
      nif("10.3.0.9", "255.255.0.0"), nif("10.4.0.9", "255.255.0.0")};
  EXPECT_EQ(gm::probe_interfaces(all, send), 1);
  EXPECT_EQ(sent.size(), 3u);
  EXPECT_EQ(gm::probe_interfaces({all[3], all[1]}, send), 0);
  EXPECT_EQ(gm::probe_interfaces({all[1]}, send), -1);
  EXPECT_EQ(gm::probe_interfaces({}, send), -1);
  setenv("GAINMESH_TEST_NO_BROADCAST", "1", 1);
  sent.clear();
  EXPECT_EQ(gm::probe_interfaces(gm::ipv4_interfaces(), send), -1);
  EXPECT_EQ(gm::probe_interfaces(all, send), -1);
  EXPECT_TRUE(sent.empty());
}

// In a new network namespace: gm0 on 10.88.0.5/24, its neighbour 10.88.0.1 local to the
// namespace, where a listener on port 9 hears what the probe sends.
std::string probe_in_namespace() {
  if (unshare(CLONE_NEWNET) != 0) return std::string("skip: ") + strerror(errno);
  if (std::system("(ip link set lo up && ip link add gm0 type veth peer name gm0p && "
                  "ip addr add 10.88.0.5/24 dev gm0 && ip link set gm0p up && ip link set gm0 up "
                  "&& ip addr add 10.88.0.1/32 dev lo) 2>/dev/null") != 0) {
    return "skip: cannot set up the namespace's interfaces";
  }
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{AF_INET, htons(9), {htonl(INADDR_ANY)}, {}};
  if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return "skip: no port 9";
  timeval wait{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  char buf[8];
  setenv("GAINMESH_TEST_NO_BROADCAST", "1", 1);
  std::string r = "quiet=" + std::to_string(gm::probe());
  r += " heard=" + std::to_string(recv(fd, buf, sizeof buf, MSG_DONTWAIT));
  unsetenv("GAINMESH_TEST_NO_BROADCAST");
  r += " sent=" + std::to_string(gm::probe());
  const ssize_t n = recv(fd, buf, sizeof buf, 0);
  r += " got=" + std::to_string(n) + ":" + std::to_string(n > 0 ? buf[0] : -1);
  if (std::system("ip addr del 10.88.0.1/32 dev lo && ip route add unreachable 10.88.0.1/32") != 0)
    return "skip: cannot add an unreachable route";
  return r + " refused=" + std::to_string(gm::probe());
}

TEST(NetNamespace, TheProbeSendsOneZeroByteToPortNineUnlessSendsAreOff) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string r = probe_in_namespace();
    (void)!write(p[1], r.data(), r.size());
    _exit(0);
  }
  close(p[1]);
  std::string r;
  char buf[256];
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) r.append(buf, static_cast<size_t>(n));
  close(p[0]);
  waitpid(pid, nullptr, 0);
  if (r.starts_with("skip")) GTEST_SKIP() << r;
  EXPECT_EQ(r, "quiet=-1 heard=-1 sent=1 got=1:0 refused=0");
}

}  // namespace
