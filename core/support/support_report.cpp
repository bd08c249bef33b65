// The diagnostics report: one fact per line, labels padded so that every value starts in the
// same column, then each console module's live status block and the bundle's files.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "install_state.h"
#include "netperm.h"
#include "platform.h"
#include "support.h"
#include "updater.h"
#include "util.h"

namespace gm {
namespace {

// Text from outside (paths, versions, the live blocks' fields) as it goes into the report: one
// line of valid UTF-8, whatever it holds, so that a line of the report stays one line.
std::string text(std::string_view s) {
  return gm_base::text_line(s);
}
template <size_t N>
std::string text(const char (&field)[N]) {
  return gm_base::text_line(std::string_view(field, strnlen(field, N)));
}

void write_time_line(FILE* out) {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  std::fprintf(out, "Gainmesh diagnostics  %04d-%02d-%02d %02d:%02d:%02d\n", t.tm_year + 1900,
               t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

void write_lv1_line(FILE* out, const Lv1& lv1) {
  std::string state = ", not running";
  if (lv1.pid != 0) {
    state = ", running (pid " + std::to_string(lv1.pid) + ", up " +
            std::to_string(std::max<int64_t>(lv1.up_ms, 0) / 1000) + " s)";
  }
  // A bundle whose version cannot be read is still LV1 on this Mac.
  const std::string version = !lv1.version.empty() ? text(lv1.version)
                              : lv1.app.empty()    ? "not found"
                                                   : "version unknown";
  std::fprintf(out, "eMotion LV1          : %s%s\n", version.c_str(), state.c_str());
}

void write_bundle_lines(FILE* out) {
  if (installed()) {
    std::fprintf(out, "Gainmesh.bundle      : %s%s%s\n", text(our_bundle()).c_str(), ", version ",
                 text(installed_version()).c_str());
  } else {
    std::fprintf(out, "Gainmesh.bundle      : %s%s%s\n",
                 exists(our_bundle()) ? "present but not ours / incomplete" : "not installed", "",
                 "");
  }
  for (int i = 0; i < 2; ++i) {
    bool enabled = false;
    const bool present = console_installed(i, &enabled);
    std::fprintf(out, "  %-5s              : Waves module %s, %s\n", kSupported[i].key,
                 waves_present(i) ? "present" : "MISSING",
                 present ? (enabled ? "on" : "off") : "not installed");
  }
}

// A stage made by an earlier run counts too: a fresh process (the command line) has not yet
// looked at the stage folder itself.
void write_update_line(FILE* out) {
  const bool staged = updater_staged() || !staged_version().empty();
  std::fprintf(out, "update staged        : %s\n",
               staged ? "yes (applies when LV1 is closed)" : "no");
}

const char* switch_word(int sw) {
  switch (sw) {
    case kSwitchOn:
      return "on";
    case kSwitchOff:
      return "OFF";
    case kSwitchUnlisted:
      return "never asked";
    default:
      return "unreadable";
  }
}

void write_loader_lines(FILE* out, const Live& live) {
  GmLoaderStatus ls;
  if (!read_loader_status(&ls, live)) {
    std::fputs(
        "loader               : no live status (LV1 not running, or Gainmesh not loaded in "
        "it)\n",
        out);
    return;
  }
  std::fprintf(out, "loader               : %s (block %u bytes)\n", text(ls.loader_version).c_str(),
               ls.size);
  for (int i = 0; i < 2; ++i) {
    const GmLoaderConsole& c = ls.consoles[i];
    if (c.key[0] == '\0') continue;
    const bool refused = c.load_error != 0;
    std::fprintf(out,
                 "  %-5s              : %s, Waves module %s, card %s (device %u), running %s%s%s "
                 "(error %u), extra cards %u\n",
                 text(c.key).c_str(), c.enabled ? "on" : "off", c.module_present ? "yes" : "NO",
                 c.in_slot ? "in a rack slot" : "not assigned", c.card_kind,
                 c.running_version[0] ? text(c.running_version).c_str() : "nothing",
                 refused ? ", last refused " : "", refused ? text(c.module_file).c_str() : "",
                 c.error_code, ls.extra_cards[i]);
  }
}

void write_module_block(FILE* out, int type, const Live& live) {
  const ConStatus st = read_con_status(type, live);
  std::fprintf(out, "\n%s module status block%s\n", kSupported[type].key,
               st.valid ? "" : ": none live (module not running)");
  if (!st.valid) return;
  std::fprintf(out, "  version %u, desk %s (%s)\n", st.version, text(st.identity).c_str(),
               text(st.desk_ip).c_str());
  std::fprintf(out, "  connected %u, injected %u, status '%s'\n", st.connected, st.injected,
               text(st.text).c_str());
  std::fprintf(out, "  device MAC %s, sent/recv %u/%u, patch age %u ms, watching %u ch\n",
               text(st.mac).c_str(), st.sets, st.received, st.patch_age_ms, st.watch);
  std::fprintf(out, "  pick state %u, %u candidate(s), pinned '%s'\n",
               static_cast<unsigned>(st.choice), st.cand_count, text(st.pinned).c_str());
  for (uint32_t i = 0; i < st.cand_count; ++i) {
    const ConCandidate& c = st.candidates[i];
    std::fprintf(out, "    %s  %s  %s  id %s  card %d\n", text(c.address).c_str(),
                 text(c.name).c_str(), text(c.model).c_str(), text(c.id).c_str(), c.sg_card);
  }
  for (uint32_t i = 0; i < st.port_count; ++i) {
    const ConPort& p = st.ports[i];
    std::fprintf(out, "  port %-6s %s, %u strip(s) from it without a knob\n", text(p.port).c_str(),
                 p.flag ? "box connected" : "NOTHING CONNECTED", p.strips);
  }
}

// Every regular file below the bundle's Contents/MacOS, by path, with its size. Symbolic links
// are neither listed nor followed.
void write_bundle_contents(FILE* out) {
  namespace fs = std::filesystem;
  std::fputs("\nbundle contents (Contents/MacOS)\n", out);
  const fs::path root = bundle_dir();
  std::vector<std::pair<std::string, long long>> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec)) {
    std::error_code size_ec;
    if (!it->is_regular_file(size_ec) || it->is_symlink(size_ec)) continue;
    const auto size = it->file_size(size_ec);
    if (size_ec) continue;
    files.emplace_back(it->path().lexically_relative(root).string(), static_cast<long long>(size));
  }
  std::sort(files.begin(), files.end());
  for (const auto& [rel, size] : files) {
    std::fprintf(out, "  %-40s %10lld\n", text(rel).c_str(), size);
  }
}

}  // namespace

std::string local_network_line(bool privacy, int own_switch, int lv1_switch, int state) {
  if (!privacy) return "Local Network        : no such permission before macOS 15";
  return std::string("Local Network        : Gainmesh ") + switch_word(own_switch) +
         ", eMotion LV1 " + switch_word(lv1_switch) +
         " (System Settings); Gainmesh's own check: " + net_perm_name(state);
}

void write_diagnostics(FILE* out, const Lv1& lv1, const Live& live) {
  if (!out) return;
  write_time_line(out);
  std::fprintf(out, "Gainmesh             : %s (macOS app)\n", version_text().c_str());
  std::fprintf(out, "app                  : %s\n", text(app_path()).c_str());
  std::fprintf(out, "macOS                : %s\n", text(os_version_text()).c_str());
  write_lv1_line(out, lv1);
  write_bundle_lines(out);
  write_update_line(out);
  const bool privacy = ln_privacy();
  const std::string ln =
      privacy ? local_network_line(true, ln_switch(kOwnSigningId), lv1_net_switch(), net_perm())
              : local_network_line(false, 0, 0, 0);
  std::fprintf(out, "%s\n", ln.c_str());
  write_loader_lines(out, live);
  for (int type = 0; type < 2; ++type) write_module_block(out, type, live);
  write_bundle_contents(out);
  std::fflush(out);
}

void write_diagnostics(FILE* out) {
  const Lv1 lv1 = lv1_info();
  write_diagnostics(out, lv1, live_blocks(lv1));
}

}  // namespace gm
