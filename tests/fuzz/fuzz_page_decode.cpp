// Fuzz target: the shell's page-document decoder over arbitrary bytes. A decoded page says which
// two cards are open when it says anything, and bytes after the document make it fail.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "page_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto page = gmui::decode_page(text);
  if (!page) return 0;
  fuzz::check(!page->fakeOpen || page->fakeOpen->size() == 2);
  fuzz::check(!gmui::decode_page(text + "x"));
  return 0;
}
