/* lv1_io.h - how the LV1 stand-in (lv1host) talks to an IO module bundle's executable.
 *
 * LV1 loads <IO Modules>/Gainmesh.bundle/Contents/MacOS/Gainmesh (the loader) and calls its one
 * export, lv1_io_module_entry, with a table of LV1's services. The loader answers with its own
 * table, through which LV1 forwards the user's gain and 48V changes, its capability queries and
 * session recall. Console types: 0 = WING, 1 = X32 / M32. Channels: 0..63.
 *
 * Threads: LV1 calls the loader from its command thread; the loader and the console modules call
 * LV1's services from any of their threads, so every service is thread-safe.
 */
#ifndef GM_LV1_IO_H
#define GM_LV1_IO_H

#include <stdbool.h>
#include <stdint.h>

#include "gm_module.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LV1_IO_ABI 1
#define LV1_IO_ENTRY_SYMBOL "lv1_io_module_entry"

typedef struct Lv1HostApi {
  uint32_t abi; /* LV1_IO_ABI */
  void* ctx;    /* handed back as the first argument of every service */
  /* LV1's per-device gain structure for a console type; null while LV1 has no such device. */
  WingGainIface* (*gain_iface)(void* ctx, int type);
  /* The MAC of the device box LV1 gave that type; false while it has given none. */
  bool (*device_mac)(void* ctx, int type, uint8_t mac[6]);
  /* LV1's common callback table; its sixth slot is channel_type_state_changed(table, mac). */
  void* (*common_callback)(void* ctx);
  /* Shows a value on a strip (the shapes of GmHost.push_to_lv1). */
  void (*push)(void* ctx, int type, int ch, double gain_db, bool set_gain, bool phantom_on,
               bool set_phantom, bool live);
  /* Redraws a strip. */
  void (*refresh_strip)(void* ctx, int type, int ch);
  /* LV1's rack: whether the card of that type is in a rack slot, LV1's device kind for it, how
   * many further cards of that type LV1 holds. */
  int (*card_in_slot)(void* ctx, int type);
  uint32_t (*card_kind)(void* ctx, int type);
  uint32_t (*extra_cards)(void* ctx, int type);
} Lv1HostApi;

typedef struct Lv1IoModule {
  uint32_t abi; /* LV1_IO_ABI */
  void (*set_gain)(int type, int ch, double gain_db);
  void (*set_phantom)(int type, int ch, int on);
  int (*has_preamp)(int type, int ch);
  double (*min)(int type, int ch);
  double (*max)(int type, int ch);
  double (*step)(int type, int ch);
  void (*recall)(int type, const double gain[64], const int phantom[64], const int present[64]);
  /* LV1's rack changed (a card in or out of a slot, its kind, the extra-card count). */
  void (*rack_changed)(void);
  /* LV1 quits: stop and unload every console module. Blocks until done. */
  void (*unload)(void);
} Lv1IoModule;

/* The loader's export. Returns its table, or null when it cannot serve this LV1. */
typedef const Lv1IoModule* (*Lv1IoModuleEntryFn)(const Lv1HostApi* host);

#ifdef __cplusplus
}
#endif

#endif /* GM_LV1_IO_H */
