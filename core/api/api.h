/* api.h - the app core's flat entry points.
 *
 * The shell and the command line reach the core only through these functions: plain C names,
 * NUL-terminated UTF-8 strings and integers, no exception ever crosses them. "which" is a console
 * type, 0 WING or 1 X32 / M32; any other value makes a call do nothing (and return 0 / false).
 *
 * Threads: any thread, unless a function says otherwise. Calls that touch the disk or the
 * network block their caller; the shell runs those on its work queue. The one-line setup message
 * and the other shared state sit behind one mutex that is never held across a file read, a scan
 * or an install.
 */
#ifndef GM_API_H
#define GM_API_H

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Start-up, once, before anything else: the app bundle (null or "" to take it from the running
 * executable), the banner in the log, and the watch on which consoles LV1 only borrows. A copy
 * started by an update ("--updated=<pid>" in argv) waits up to 15 s for the old one to end; then
 * the replaced copy beside the app is removed and what this app carries is applied. */
void gm_init(const char* app_path, int argc, char** argv);

/* The command line. -1 when argv[1] is no command-line option (the caller then starts the app);
 * otherwise the exit code: 0 done, 1 the action failed, 2 bad arguments. */
int gm_cli(int argc, char** argv);

/* One line in the app's log; null logs an empty line. */
void gm_log(const char* text);

/* Opens eMotion LV1 and says so in the setup message. Blocks until the open command returns. */
void gm_start_lv1(void);
void gm_clear_message(void);

/* Writes the console's session_recall (on != 0) or resync (lv1 != 0: LV1 wins after a dropout)
 * setting; a running module is told the new resync at once. */
void gm_set_recall(int which, int on);
void gm_set_resync(int which, int lv1);
/* Forgets the console address typed in Setup, so the module finds the console by itself. */
void gm_clear_ip(int which);
/* The user typed a console address. Checks it and saves it in plain dotted form as the console's
 * address, then says in the setup message when the module asks there. False when the text is no
 * console address or the settings cannot be written: the reason is then copied into buf (at most
 * size - 1 bytes, NUL-terminated; "" for a bad `which` or a null text) and the setup message is
 * left alone. Blocks for small file and shared-memory reads. */
bool gm_set_ip(int which, const char* text, char* buf, int size);
/* The user chose the console with this id among those the running module found (or the one that
 * answers at the typed address): the module connects to that one from now on. Says in the setup
 * message which console that is, or that it is gone (nothing changed). A null or empty id does
 * nothing. */
void gm_pick(int which, const char* id);

/* The "Allow..." action: asks macOS for local-network access (records that the user was asked
 * and sends the probe that makes macOS show its prompt), then scans. Does nothing in demo mode.
 * Blocks for the probe and the scan; call it off the UI thread. */
void gm_request_network(void);

/* Periodic housekeeping, once a second from the app's timer: the loader's live status as
 * messages, what a newer app carries (console modules at once, the loader while LV1 is closed),
 * the update check (30 s after the first tick, then every 6 h, on a thread of its own) and a
 * staged update applied while LV1 is closed. True when this process should quit because the
 * updated app has been started in its place. */
bool gm_tick(void);
/* gm_tick in two halves, for an app that must not block its event loop. gm_tick_poll does what
 * returns quickly (the loader's status as messages, starting a due update check) and returns true
 * when work that blocks is due: what a newer app carries, or a staged update to apply. The caller
 * then runs gm_tick_work off its UI thread; it does that work (unpacking and copying, up to a
 * whole install) and returns true when this process should quit, as gm_tick does. The caller
 * does not call gm_tick_poll or gm_tick again until gm_tick_work has returned. */
bool gm_tick_poll(void);
bool gm_tick_work(void);

/* Installs Gainmesh into LV1 (through the administrator prompt when the folder needs it) and says
 * so in the setup message; after a scan that found consoles, the types not found are switched
 * off. gm_reinstall installs again, keeping every setting. Both block for the whole install. */
bool gm_install(void);
bool gm_reinstall(void);
/* Removes Gainmesh from LV1 (through the administrator prompt when the folder needs it), with its
 * settings, and says so in the setup message. While LV1 runs it changes nothing, sets no message
 * and returns false. Blocks for the whole removal. */
bool gm_remove(void);
/* Toggles the console type; installs Gainmesh first when it is not installed yet (then only this
 * type is on). 1 when switching off needs the user's confirmation because LV1 is running
 * (nothing changed), else 0. gm_switch_off switches off without asking. */
int gm_switch(int which);
void gm_switch_off(int which);

/* Looks for a WING and an X32 / M32 (the consoles a running module drives, then broadcasts on
 * every network) and keeps the result for the dashboard. Blocks for up to about 2 s; returns at
 * once when a scan is already running (its result stands), in demo mode, and when the user was
 * never asked for local-network access. */
void gm_scan(void);
/* gm_scan, then tells the loader to re-read its files. `which` is not used. */
void gm_retry(int which);

/* The whole dashboard as one JSON page document, built now from the last scan, the setup message
 * and what LV1, the loader and the modules report. The text belongs to the calling thread and
 * stays valid until that thread's next gm_snapshot. Blocks briefly for file and shared-memory
 * reads; never null. */
const char* gm_snapshot(void);

/* Writes the support file (the diagnostics report, the app's logs and the settings files, zipped
 * on the user's Desktop). True with the archive's path copied into buf (at most size - 1 bytes,
 * NUL-terminated; nothing is written for a null buf or a size below 1). False with the setup
 * message saying why, and "" in buf. Blocks for the whole packing; call it off the UI thread. */
bool gm_save_support(char* buf, int size);

/* Demo mode with the named scenario ("setup-rig", ...): from then on the dashboard shows the
 * scenario instead of the machine, and scans, ticks, installs and network requests do nothing.
 * A later call with another name starts that scenario afresh. False for a null or unknown name,
 * which leaves demo mode off. */
bool gm_fake(const char* name);

#ifdef __cplusplus
}
#endif

#endif /* GM_API_H */
