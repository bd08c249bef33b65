/* gm_module.h - the binary interface between the Gainmesh loader and a console module.
 *
 * The loader dlopen()s a module, calls its only export gm_module_entry(GM_MODULE_ABI) and drives
 * the returned descriptor. It hands the module a host table (GmHost) at start and LV1's
 * per-device gain structure (WingGainIface) at attach. Plain C, natural alignment, 8-byte
 * pointers; every offset below is pinned so that both sides agree byte for byte.
 *
 * Threads: "LV1" means any of LV1's own threads (through the loader); "module" means any thread
 * of the module (discover, watch, control link, metering). Unless a field says otherwise the
 * loader may call an operation concurrently with the module's threads.
 */
#ifndef GM_MODULE_H
#define GM_MODULE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GM_MODULE_ABI 3

/* LV1's per-device gain structure. Owned by LV1 / the loader; the module keeps only the pointer
 * and reads the two arrays, never writes them (changes go through GmHost.push_to_lv1). Index =
 * LV1 input channel 0..63. The first 208 bytes belong to LV1. */
typedef struct WingGainIface {
  unsigned char lv1_private[208];
  double gain[64];           /* dB */
  unsigned char phantom[64]; /* 1 = 48V on */
} WingGainIface;

/* LV1's common callback table is opaque except for its sixth pointer-sized slot. */
#define GM_COMMON_SLOT_CHANNEL_TYPE_STATE_CHANGED 5
/* Makes LV1 re-query m_has_preamp / m_min / m_max / m_step for every channel of the device whose
 * 6-byte MAC is given. Called with the table itself. */
typedef void (*GmChannelTypeStateChanged)(void* table, const uint8_t* mac);

/* Host table: owned by the loader, passed to m_start, valid until m_stop returns. Every pointer
 * may be null; the module tests each one before use and silently does without. */
typedef struct GmHost {
  uint32_t abi;                /* must be GM_MODULE_ABI */
  void* log_ctx;               /* handed back as the first argument of log */
  const wchar_t* cfg_path;     /* full path of this module's settings file (wchar_t: 32-bit) */
  const wchar_t* instance_tag; /* suffix of the status block name ("" for the WING) */
  /* One log line, without newline or time stamp; level 1 = normal, 2 = detail. Called from every
   * thread, including LV1's own while they are inside a module operation. */
  void (*log)(void* log_ctx, int level, const char* text);
  /* Nonzero once the loader has put this module's device into LV1. Module threads. */
  int (*is_injected)(void);
  /* Fills the MAC of the device box LV1 gave this module; false while there is none. */
  bool (*device_mac)(uint8_t mac[6]);
  /* LV1's common callback table, or null while there is none. */
  void* (*common_callback)(void);
  /* Makes LV1 show a value on channel ch. Used in two shapes only: a gain push (set_gain true,
   * set_phantom false, phantom_on false) and a 48V push (gain_db 0, set_gain false, set_phantom
   * true). live is true for values that follow a live event. Module threads and LV1's threads. */
  void (*push_to_lv1)(WingGainIface* iface, int ch, double gain_db, bool set_gain, bool phantom_on,
                      bool set_phantom, bool live);
  /* Asks LV1 to redraw strip ch. Module threads. */
  void (*refresh_strip)(int ch);
} GmHost;

/* Module descriptor: one constant instance per module, 104 bytes. */
typedef struct GmModule {
  uint32_t abi;        /* GM_MODULE_ABI */
  uint32_t size;       /* sizeof(GmModule) = 104 */
  const char* name;    /* "wing" */
  const char* version; /* "3.2.0" */
  /* Loader thread. Returns 1 when started, 0 for a null host or a wrong host ABI. */
  int (*start)(const GmHost* host);
  /* Loader thread; blocks at most about 3 s. Returns 1 when every module thread ended, 0 when
   * one was ever left running: the loader must then keep the library mapped. */
  int (*stop)(void);
  /* Loader thread. Stores the interface and starts the watch thread once. */
  void (*attach)(WingGainIface* iface);
  /* LV1 threads; never block on the network. */
  void (*set_gain)(int ch, double gain_db);
  void (*set_phantom)(int ch, int on);
  int (*has_preamp)(int ch);
  double (*min)(int ch);
  double (*max)(int ch);
  double (*step)(int ch);
  /* LV1 thread, when a session with stored preamp values opens. */
  void (*recall)(const double gain[64], const int phantom[64], const int present[64]);
} GmModule;

/* The module's only export. Returns the descriptor when abi is GM_MODULE_ABI, else null. */
typedef const GmModule* (*GmModuleEntryFn)(int abi);
#define GM_MODULE_ENTRY_SYMBOL "gm_module_entry"

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define GM_LAYOUT_ASSERT static_assert
#else
#define GM_LAYOUT_ASSERT _Static_assert
#endif

GM_LAYOUT_ASSERT(offsetof(WingGainIface, gain) == 208, "gains at byte 208");
GM_LAYOUT_ASSERT(offsetof(WingGainIface, phantom) == 720, "48V states at byte 720");
GM_LAYOUT_ASSERT(sizeof(WingGainIface) == 784, "WingGainIface size");

GM_LAYOUT_ASSERT(offsetof(GmHost, abi) == 0, "GmHost.abi");
GM_LAYOUT_ASSERT(offsetof(GmHost, log_ctx) == 8, "GmHost.log_ctx");
GM_LAYOUT_ASSERT(offsetof(GmHost, cfg_path) == 16, "GmHost.cfg_path");
GM_LAYOUT_ASSERT(offsetof(GmHost, instance_tag) == 24, "GmHost.instance_tag");
GM_LAYOUT_ASSERT(offsetof(GmHost, log) == 32, "GmHost.log");
GM_LAYOUT_ASSERT(offsetof(GmHost, is_injected) == 40, "GmHost.is_injected");
GM_LAYOUT_ASSERT(offsetof(GmHost, device_mac) == 48, "GmHost.device_mac");
GM_LAYOUT_ASSERT(offsetof(GmHost, common_callback) == 56, "GmHost.common_callback");
GM_LAYOUT_ASSERT(offsetof(GmHost, push_to_lv1) == 64, "GmHost.push_to_lv1");
GM_LAYOUT_ASSERT(offsetof(GmHost, refresh_strip) == 72, "GmHost.refresh_strip");
GM_LAYOUT_ASSERT(sizeof(GmHost) == 80, "GmHost size");

GM_LAYOUT_ASSERT(offsetof(GmModule, name) == 8, "GmModule.name");
GM_LAYOUT_ASSERT(offsetof(GmModule, version) == 16, "GmModule.version");
GM_LAYOUT_ASSERT(offsetof(GmModule, start) == 24, "GmModule.start");
GM_LAYOUT_ASSERT(offsetof(GmModule, stop) == 32, "GmModule.stop");
GM_LAYOUT_ASSERT(offsetof(GmModule, attach) == 40, "GmModule.attach");
GM_LAYOUT_ASSERT(offsetof(GmModule, set_gain) == 48, "GmModule.set_gain");
GM_LAYOUT_ASSERT(offsetof(GmModule, set_phantom) == 56, "GmModule.set_phantom");
GM_LAYOUT_ASSERT(offsetof(GmModule, has_preamp) == 64, "GmModule.has_preamp");
GM_LAYOUT_ASSERT(offsetof(GmModule, min) == 72, "GmModule.min");
GM_LAYOUT_ASSERT(offsetof(GmModule, max) == 80, "GmModule.max");
GM_LAYOUT_ASSERT(offsetof(GmModule, step) == 88, "GmModule.step");
GM_LAYOUT_ASSERT(offsetof(GmModule, recall) == 96, "GmModule.recall");
GM_LAYOUT_ASSERT(sizeof(GmModule) == 104, "GmModule is 104 bytes");

#endif /* GM_MODULE_H */
