// The diagnostics report and the support file. The report is plain text of everything the app
// can see: itself, the system, LV1, the installed bundle and its console types, a staged update,
// the Local Network switches, the loader's and each console module's live status, and the
// bundle's files. The support file packs that report with the app's logs and the settings files
// into "Gainmesh-support-YYYYMMDD-HHMMSS.zip" on the user's Desktop, for the user to send us.
//
// Threads: any thread but the interface thread; both block on file reads (the support file also
// on packing the archive). The core's state mutex is never held across them; the functions they
// call take their own locks. Saves are meant to run one at a time (the shell's serial work
// queue): two in the same second share one staging folder and one archive name.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

#include "lv1.h"
#include "status.h"

namespace gm {

// Writes the whole report to `out`, with LV1's facts and the live blocks taken now. Never fails:
// a fact that cannot be read prints as the words that say so.
void write_diagnostics(FILE* out);
// The same with LV1's facts and its live blocks given, so that the caller chooses the moment.
void write_diagnostics(FILE* out, const Lv1& lv1, const Live& live);

// The report's Local Network line, without its line feed: where the system has the permission
// (`privacy`), Gainmesh's and LV1's switches (kSwitch* values) and the app's own state (NetPerm);
// otherwise the line that says there is no such permission.
std::string local_network_line(bool privacy, int own_switch, int lv1_switch, int state);

// "Gainmesh-support-YYYYMMDD-HHMMSS" from the local time `t`.
std::string support_name(std::time_t t);

// Builds the support file: the report, every "*.log" of the logs folder and the bundle's
// wing.cfg, x32.cfg and state.cfg in a staging folder below the support folder, packed as
// <home>/Desktop/<name>.zip with the folder itself as the archive's top entry; the staging
// folder is removed afterwards. A missing log, settings file or report is left out silently.
// True with `path` set to the archive. False with `err` "Could not create a folder for the
// support file." or "Could not write <archive path>.", leaving no archive behind.
bool save_support(std::string& path, std::string& err);

}  // namespace gm
