// desk_choose: which console to adopt, which identity to follow after a dropout, and the verdict
// on the address typed in Setup. Identities compare with ASCII case ignored, whatever the locale.
#include "desk_choose.h"

#include <cstddef>

namespace gm {
namespace {

constexpr unsigned long kRefindAfterMs = 20000;
constexpr int kUncheckedAfterSweeps = 3;

char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool empty(const char* s) {
  return !s || !*s;
}

// Equal with ASCII case ignored; a null string equals only a null string.
bool same_id(const char* a, const char* b) {
  if (!a || !b) return a == b;
  for (; *a && *b; ++a, ++b) {
    if (ascii_lower(*a) != ascii_lower(*b)) return false;
  }
  return *a == *b;
}

// True when the shorter of two non-null strings begins the other, ASCII case ignored.
bool one_begins_other(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (ascii_lower(*a) != ascii_lower(*b)) return false;
  }
  return true;
}

bool begins_with(const char* s, const char* prefix) {
  for (; *prefix; ++s, ++prefix) {
    if (ascii_lower(*s) != *prefix) return false;
  }
  return true;
}

// Four groups of one to three digits separated by dots, and nothing else.
bool dotted_ipv4(const char* s) {
  for (int group = 0; group < 4; ++group) {
    if (group > 0 && *s++ != '.') return false;
    int digits = 0;
    while (*s >= '0' && *s <= '9') {
      ++s;
      ++digits;
    }
    if (digits < 1 || digits > 3) return false;
  }
  return *s == '\0';
}

// Records the reason and passes the chosen index through.
int pick(int* why, int reason, int index) {
  if (why) *why = reason;
  return index;
}

// Without a pin: one console is taken unless it is known to lack the card; among several, the
// only one known to carry a card, provided no other one is unknown.
int choose_unpinned(const DeskFound* found, int n, int* why) {
  if (n == 1) {
    return found[0].card == 0 ? pick(why, 4, -1) : pick(why, 1, 0);
  }
  int with_card = -1, count_with = 0;
  for (int i = 0; i < n; ++i) {
    if (found[i].card < 0) return pick(why, 4, -1);
    if (found[i].card >= 1) {
      with_card = i;
      ++count_with;
    }
  }
  return count_with == 1 ? pick(why, 3, with_card) : pick(why, 4, -1);
}

}  // namespace

int desk_choose(const DeskFound* found, int n, const char* console_id, int* why) {
  if (n < 1 || !found) return pick(why, 0, -1);
  if (empty(console_id)) return choose_unpinned(found, n, why);
  for (int i = 0; i < n; ++i) {
    if (same_id(found[i].id, console_id)) return pick(why, 2, i);
  }
  return pick(why, 5, -1);
}

const char* desk_choose_reason(int why) {
  switch (why) {
    case 0:
      return "none answered";
    case 1:
      return "the only one";
    case 2:
      return "the one chosen in Setup";
    case 3:
      return "the only one with a SoundGrid card";
    case 4:
      return "several - NOT connecting until one is chosen in Setup";
    case 5:
      return "the one chosen in Setup is NOT on the network - not connecting";
    default:
      return "";
  }
}

bool desk_id_stable(const char* id) {
  return !empty(id) && !begins_with(id, "name:") && !dotted_ipv4(id);
}

std::string refind_identity(const char* console_id, const char* adopted_id) {
  if (empty(console_id)) return desk_id_stable(adopted_id) ? adopted_id : "";
  if (empty(adopted_id) || same_id(adopted_id, console_id)) return console_id;
  return "";
}

bool refind_due(bool stop, unsigned long down_ms, const char* identity) {
  return !stop && down_ms >= kRefindAfterMs && !empty(identity);
}

int refind_choose(const DeskFound* found, int n, const char* console_id, const char* identity) {
  if (empty(identity) || n < 1 || !found) return -1;
  if (!empty(console_id) && !same_id(console_id, identity)) return -1;
  for (int i = 0; i < n; ++i) {
    if (same_id(found[i].id, identity)) return i;
  }
  return -1;
}

int same_console_at(const DeskFound* found, const char* identity) {
  if (!found || empty(identity)) return -1;
  const char* id = found->id;
  if (same_id(id, identity)) return 1;
  if (!*id || one_begins_other(id, identity)) return -1;
  return (desk_id_stable(id) && desk_id_stable(identity)) ? 0 : -1;
}

int manual_ip_verdict(const DeskFound* found_at_ip, const char* console_id, int silent_sweeps) {
  if (found_at_ip) {
    const bool matches = empty(console_id) || same_id(found_at_ip->id, console_id);
    return matches ? 0 : 1;
  }
  if (!empty(console_id)) return 2;
  return silent_sweeps < kUncheckedAfterSweeps ? 3 : 4;
}

}  // namespace gm
