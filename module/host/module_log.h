// module_log: the module's log, for every layer below the entry point. Lines go to the host's
// log once the loader has started the module; nothing is logged while no host is set.
#pragma once

namespace gm {

// printf rules, 1024-byte buffer (longer text is cut, a format error gives an empty line); "%S"
// takes a wide string. logf logs at level 1; dlogf at level 2 and only while the detail level is
// 2 or more. Any thread.
void logf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void dlogf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Detail level: 1 normal, 2 detailed logging (settings key diag). Any thread.
int detail_level();
void set_detail_level(int level);

}  // namespace gm
