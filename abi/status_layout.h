/* status_layout.h - the console status block.
 *
 * A console module publishes its live state in a memory-mapped file of the run folder,
 * "GainmeshStatus" + instance tag, which the Gainmesh app reads (and, for the request fields,
 * writes). The module maps the first GM_STATUS_MAP_BYTES of a GM_STATUS_FILE_BYTES file.
 * Little-endian, natural alignment; every offset is pinned below. Text fields are NUL-terminated
 * and cut to their size minus one.
 *
 * Writers: "module" fields are written only by the module; "app" fields only by the app. In a
 * control slot the app writes +0..+39 and the module +40..+143. There are no locks: a reader may
 * see an individual field torn.
 */
#ifndef GM_STATUS_LAYOUT_H
#define GM_STATUS_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GM_STATUS_MAGIC 0x57474E47u /* 'G','N','G','W' */
#define GM_STATUS_VERSION 17u
#define GM_STATUS_FILE_BYTES 262144u
#define GM_STATUS_MAP_BYTES 11200u
#define GM_STATUS_NAME_PREFIX L"Local\\GainmeshStatus"
#define GM_STATUS_FILE_PREFIX "GainmeshStatus"
#define GM_STATUS_NAME_MAX 63 /* wide characters, prefix + tag */
#define GM_STATUS_STOPPED_TEXT "Module stopped"

#define GM_CTL_SLOTS 8
#define GM_MAX_RANGES 8
#define GM_MAX_SCAN 64
#define GM_MAX_PROTECT 32
#define GM_MAX_CANDIDATES 6
#define GM_MAX_PORTS 4

/* Dashboard control requests: what GmCtlSlot.kind asks for. Kinds 1 to 3 set the stereo mode
 * of the input pair holding the channel. */
#define GM_CTL_KIND_LINK 1u
#define GM_CTL_KIND_UNLINK 2u
#define GM_CTL_KIND_MID_SIDE 3u
#define GM_CTL_KIND_SCAN 4u    /* list the inputs of a group into the scan area */
#define GM_CTL_KIND_REPATCH 5u /* patch an LV1 input to a desk input */
#define GM_CTL_KIND_GAIN 6u
#define GM_CTL_KIND_PHANTOM 7u
#define GM_CTL_KIND_PROTECT 8u /* add an input to the 48V protect list, or take it off */
#define GM_CTL_KIND_REFRESH 9u /* re-read one input of the scan list */
#define GM_CTL_KIND_VERIFY 10u /* read a channel's gain and 48V back from the desk */

/* GmCtlSlot.arg. Any other value means "no" (48V off, unprotect, plain link or unlink). */
#define GM_CTL_ARG_LINK_CLEARING_48V 1u /* LINK: switch 48V off on both legs, then link as ST */
#define GM_CTL_ARG_PHANTOM_ON 2u        /* PHANTOM: switch 48V on */
#define GM_CTL_ARG_UNLINK_HANDOVER 3u   /* UNLINK: give the even leg the gain in value */
#define GM_CTL_ARG_PROTECT 5u           /* PROTECT: put the input on the list */

/* GmCtlSlot.result. */
#define GM_CTL_DONE 1u
#define GM_CTL_REFUSED 2u
#define GM_CTL_NO_DESK 3u

/* find_state values. */
#define GM_FIND_NORMAL 0u
#define GM_FIND_LOOKING 1u
#define GM_FIND_IP_SILENT 2u
#define GM_FIND_IP_OTHER 3u

typedef struct GmRangeRecord {
  char group[8];
  double min_db;      /* +8 */
  double max_db;      /* +16 */
  double step_db;     /* +24 */
  uint8_t valid;      /* +32: 1 */
  uint8_t n_channels; /* +33: bridged channels on this group, capped at 255 */
  uint8_t pad[6];
} GmRangeRecord;

typedef struct GmCtlSlot {
  uint32_t seq;     /* +0: request sequence, 0 = empty; pending while it differs from +40 */
  uint32_t kind;    /* +4: GM_CTL_KIND_... */
  uint32_t channel; /* +8 */
  uint32_t arg;     /* +12: GM_CTL_ARG_... */
  uint32_t input;   /* +16 */
  uint32_t pad0;
  double value;      /* +24: gain dB */
  char group[8];     /* +32 */
  uint32_t answered; /* +40: the module copies seq here when done */
  uint32_t result;   /* +44: GM_CTL_DONE, GM_CTL_REFUSED, GM_CTL_NO_DESK */
  char message[96];  /* +48 */
} GmCtlSlot;

typedef struct GmScanRecord {
  uint16_t input;   /* +0 */
  uint8_t headamp;  /* +2: 1 when the input has a head amp */
  uint8_t reserved; /* +3: 0 */
  uint8_t protect;  /* +4 */
  uint8_t phantom;  /* +5: 48V on */
  uint8_t pad[2];
  double gain;   /* +8: 0 when not read */
  char name[32]; /* +16 */
} GmScanRecord;

typedef struct GmProtectRecord {
  char group[8];
  uint16_t input; /* +8 */
  uint8_t pad[2];
} GmProtectRecord;

typedef struct GmCandidate {
  char address[48];
  char name[40];     /* +48 */
  char model[24];    /* +88 */
  char identity[40]; /* +112 */
  int32_t soundgrid; /* +152: 1 yes, 0 no, negative unknown */
} GmCandidate;

typedef struct GmPortNote {
  char port[8];
  uint32_t box_connected;
  uint32_t strips_without_knob;
} GmPortNote;

typedef struct GmConsoleStatus {
  uint32_t magic;
  uint32_t version;
  char desk_ip[64];
  char desk_desc[160];
  uint32_t connected;
  uint32_t synced;
  double bank_min;
  double bank_max;
  double bank_step;
  char bank[8];
  uint32_t base;
  uint32_t watch;
  uint32_t injected;
  uint32_t sets;
  uint32_t received;
  uint32_t pad292;
  uint64_t last_set_ms;
  double gain[64];
  uint8_t phantom[64];
  uint32_t req_seq;
  char req_bank[8];
  uint32_t req_base;
  uint32_t req_watch;
  uint32_t pad900;
  char mac[24];
  char device_kind[32];
  uint32_t patch_age_ms;
  uint32_t read_only;
  char status[96];
  char ch_group[64][8];
  uint32_t ch_input[64];
  uint8_t ch_preamp[64];
  GmRangeRecord ranges[GM_MAX_RANGES];
  uint32_t n_ranges;
  uint32_t resync;
  uint32_t req_resync;
  uint32_t pad2228;
  double level[64];
  double peak[64];
  uint8_t clip[64];
  uint32_t metering;
  uint32_t meter_frames;
  char ch_name[64][20];
  uint8_t ch_stereo[64];
  uint8_t ch_mute[64];
  uint8_t ch_protected[64];
  double ch_parked[64];
  uint8_t ch_parked_valid[64];
  GmCtlSlot ctl[GM_CTL_SLOTS];
  uint32_t pad6528;
  uint32_t scan_seq;
  char scan_group[8];
  uint32_t scan_count;
  uint32_t pad6548;
  GmScanRecord scan[GM_MAX_SCAN];
  uint32_t n_protect;
  GmProtectRecord protect[GM_MAX_PROTECT];
  int32_t choice;
  uint32_t n_candidates;
  GmCandidate candidates[GM_MAX_CANDIDATES];
  char pinned[40];
  uint32_t n_ports;
  GmPortNote ports[GM_MAX_PORTS];
  uint32_t find_state;
  uint32_t moves;
  char forced_ip[48];
  char ip_id[40];
  char ip_name[40];
} GmConsoleStatus;

#ifdef __cplusplus
}
#define GM_STATUS_ASSERT static_assert
#else
#define GM_STATUS_ASSERT _Static_assert
#endif

#define GM_PIN(type, field, off) GM_STATUS_ASSERT(offsetof(type, field) == off, #type "." #field)
GM_PIN(GmRangeRecord, min_db, 8);
GM_PIN(GmRangeRecord, max_db, 16);
GM_PIN(GmRangeRecord, step_db, 24);
GM_PIN(GmRangeRecord, valid, 32);
GM_PIN(GmRangeRecord, n_channels, 33);
GM_STATUS_ASSERT(sizeof(GmRangeRecord) == 40, "range record is 40 bytes");
GM_PIN(GmCtlSlot, kind, 4);
GM_PIN(GmCtlSlot, channel, 8);
GM_PIN(GmCtlSlot, arg, 12);
GM_PIN(GmCtlSlot, input, 16);
GM_PIN(GmCtlSlot, value, 24);
GM_PIN(GmCtlSlot, group, 32);
GM_PIN(GmCtlSlot, answered, 40);
GM_PIN(GmCtlSlot, result, 44);
GM_PIN(GmCtlSlot, message, 48);
GM_STATUS_ASSERT(sizeof(GmCtlSlot) == 144, "control slot is 144 bytes");
GM_PIN(GmScanRecord, headamp, 2);
GM_PIN(GmScanRecord, protect, 4);
GM_PIN(GmScanRecord, phantom, 5);
GM_PIN(GmScanRecord, gain, 8);
GM_PIN(GmScanRecord, name, 16);
GM_STATUS_ASSERT(sizeof(GmScanRecord) == 48, "scan record is 48 bytes");
GM_PIN(GmProtectRecord, input, 8);
GM_STATUS_ASSERT(sizeof(GmProtectRecord) == 12, "protect record is 12 bytes");
GM_PIN(GmCandidate, name, 48);
GM_PIN(GmCandidate, model, 88);
GM_PIN(GmCandidate, identity, 112);
GM_PIN(GmCandidate, soundgrid, 152);
GM_STATUS_ASSERT(sizeof(GmCandidate) == 156, "candidate record is 156 bytes");
GM_STATUS_ASSERT(sizeof(GmPortNote) == 16, "port note is 16 bytes");

GM_PIN(GmConsoleStatus, version, 4);
GM_PIN(GmConsoleStatus, desk_ip, 8);
GM_PIN(GmConsoleStatus, desk_desc, 72);
GM_PIN(GmConsoleStatus, connected, 232);
GM_PIN(GmConsoleStatus, synced, 236);
GM_PIN(GmConsoleStatus, bank_min, 240);
GM_PIN(GmConsoleStatus, bank_max, 248);
GM_PIN(GmConsoleStatus, bank_step, 256);
GM_PIN(GmConsoleStatus, bank, 264);
GM_PIN(GmConsoleStatus, base, 272);
GM_PIN(GmConsoleStatus, watch, 276);
GM_PIN(GmConsoleStatus, injected, 280);
GM_PIN(GmConsoleStatus, sets, 284);
GM_PIN(GmConsoleStatus, received, 288);
GM_PIN(GmConsoleStatus, last_set_ms, 296);
GM_PIN(GmConsoleStatus, gain, 304);
GM_PIN(GmConsoleStatus, phantom, 816);
GM_PIN(GmConsoleStatus, req_seq, 880);
GM_PIN(GmConsoleStatus, req_bank, 884);
GM_PIN(GmConsoleStatus, req_base, 892);
GM_PIN(GmConsoleStatus, req_watch, 896);
GM_PIN(GmConsoleStatus, mac, 904);
GM_PIN(GmConsoleStatus, device_kind, 928);
GM_PIN(GmConsoleStatus, patch_age_ms, 960);
GM_PIN(GmConsoleStatus, read_only, 964);
GM_PIN(GmConsoleStatus, status, 968);
GM_PIN(GmConsoleStatus, ch_group, 1064);
GM_PIN(GmConsoleStatus, ch_input, 1576);
GM_PIN(GmConsoleStatus, ch_preamp, 1832);
GM_PIN(GmConsoleStatus, ranges, 1896);
GM_PIN(GmConsoleStatus, n_ranges, 2216);
GM_PIN(GmConsoleStatus, resync, 2220);
GM_PIN(GmConsoleStatus, req_resync, 2224);
GM_PIN(GmConsoleStatus, level, 2232);
GM_PIN(GmConsoleStatus, peak, 2744);
GM_PIN(GmConsoleStatus, clip, 3256);
GM_PIN(GmConsoleStatus, metering, 3320);
GM_PIN(GmConsoleStatus, meter_frames, 3324);
GM_PIN(GmConsoleStatus, ch_name, 3328);
GM_PIN(GmConsoleStatus, ch_stereo, 4608);
GM_PIN(GmConsoleStatus, ch_mute, 4672);
GM_PIN(GmConsoleStatus, ch_protected, 4736);
GM_PIN(GmConsoleStatus, ch_parked, 4800);
GM_PIN(GmConsoleStatus, ch_parked_valid, 5312);
GM_PIN(GmConsoleStatus, ctl, 5376);
GM_PIN(GmConsoleStatus, scan_seq, 6532);
GM_PIN(GmConsoleStatus, scan_group, 6536);
GM_PIN(GmConsoleStatus, scan_count, 6544);
GM_PIN(GmConsoleStatus, scan, 6552);
GM_PIN(GmConsoleStatus, n_protect, 9624);
GM_PIN(GmConsoleStatus, protect, 9628);
GM_PIN(GmConsoleStatus, choice, 10012);
GM_PIN(GmConsoleStatus, n_candidates, 10016);
GM_PIN(GmConsoleStatus, candidates, 10020);
GM_PIN(GmConsoleStatus, pinned, 10956);
GM_PIN(GmConsoleStatus, n_ports, 10996);
GM_PIN(GmConsoleStatus, ports, 11000);
GM_PIN(GmConsoleStatus, find_state, 11064);
GM_PIN(GmConsoleStatus, moves, 11068);
GM_PIN(GmConsoleStatus, forced_ip, 11072);
GM_PIN(GmConsoleStatus, ip_id, 11120);
GM_PIN(GmConsoleStatus, ip_name, 11160);
GM_STATUS_ASSERT(sizeof(GmConsoleStatus) == GM_STATUS_MAP_BYTES, "status block maps 11200 bytes");
#undef GM_PIN

#endif /* GM_STATUS_LAYOUT_H */
