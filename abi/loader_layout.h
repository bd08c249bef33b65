/* loader_layout.h - the loader status block.
 *
 * The Gainmesh loader inside LV1 publishes which console modules it runs, which it refused and
 * whether LV1 holds the cards, in the file "GainmeshLoader" of the run folder, mapped shared and
 * kept open while LV1 runs. The app reads it (at most GM_LOADER_READ_BYTES). Little-endian;
 * text fields are NUL-terminated. Every offset is pinned below.
 */
#ifndef GM_LOADER_LAYOUT_H
#define GM_LOADER_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GM_LOADER_MAGIC 0x474D4C44u
#define GM_LOADER_MIN_BYTES 272u
#define GM_LOADER_READ_BYTES 304u
#define GM_LOADER_FILE "GainmeshLoader"

/* One console type's entry (index 0 = WING, 1 = X32 / M32). */
typedef struct GmLoaderConsole {
  char key[8];              /* "wing" / "x32"; empty = this type is not handled */
  uint32_t enabled;         /* the type is switched on in state.cfg */
  uint32_t module_present;  /* Waves' own IO module bundle for the card exists */
  uint32_t in_slot;         /* LV1 has the card in a rack slot */
  uint32_t card_kind;       /* LV1's device kind for the card */
  char running_version[24]; /* version of the module now running; empty = none */
  uint32_t load_error;      /* a new non-zero value at each refusal */
  uint32_t error_code;      /* the error code of the last refusal */
  char module_file[64];     /* the module that was refused */
} GmLoaderConsole;

typedef struct GmLoaderStatus {
  uint32_t magic;
  uint32_t size; /* bytes of the block; at least 272 */
  char loader_version[24];
  GmLoaderConsole consoles[2];
  uint32_t extra_cards[2]; /* further cards of each type LV1 holds in rack slots */
  uint8_t tail[24];        /* the loader's own; never read by the app */
} GmLoaderStatus;

/* Refusal codes the loader stand-in writes in error_code. */
#define GM_LOAD_ERR_NO_SIGNATURE 1u
#define GM_LOAD_ERR_BAD_SIGNATURE 2u
#define GM_LOAD_ERR_DLOPEN 3u
#define GM_LOAD_ERR_NO_ENTRY 4u
#define GM_LOAD_ERR_ABI 5u
#define GM_LOAD_ERR_START 6u

#ifdef __cplusplus
}
#define GM_LOADER_ASSERT static_assert
#else
#define GM_LOADER_ASSERT _Static_assert
#endif

GM_LOADER_ASSERT(offsetof(GmLoaderConsole, enabled) == 8, "entry.enabled");
GM_LOADER_ASSERT(offsetof(GmLoaderConsole, module_present) == 12, "entry.module_present");
GM_LOADER_ASSERT(offsetof(GmLoaderConsole, in_slot) == 16, "entry.in_slot");
GM_LOADER_ASSERT(offsetof(GmLoaderConsole, card_kind) == 20, "entry.card_kind");
GM_LOADER_ASSERT(offsetof(GmLoaderConsole, running_version) == 24, "entry.running_version");
GM_LOADER_ASSERT(offsetof(GmLoaderConsole, load_error) == 48, "entry.load_error");
GM_LOADER_ASSERT(offsetof(GmLoaderConsole, error_code) == 52, "entry.error_code");
GM_LOADER_ASSERT(offsetof(GmLoaderConsole, module_file) == 56, "entry.module_file");
GM_LOADER_ASSERT(sizeof(GmLoaderConsole) == 120, "console entry is 120 bytes");
GM_LOADER_ASSERT(offsetof(GmLoaderStatus, size) == 4, "size");
GM_LOADER_ASSERT(offsetof(GmLoaderStatus, loader_version) == 8, "loader_version");
GM_LOADER_ASSERT(offsetof(GmLoaderStatus, consoles) == 32, "console entry 0");
GM_LOADER_ASSERT(offsetof(GmLoaderStatus, consoles) + sizeof(GmLoaderConsole) == 152,
                 "console entry 1");
GM_LOADER_ASSERT(offsetof(GmLoaderStatus, extra_cards) == 272, "extra_cards");
GM_LOADER_ASSERT(sizeof(GmLoaderStatus) == GM_LOADER_READ_BYTES, "the block is 304 bytes");

#endif /* GM_LOADER_LAYOUT_H */
