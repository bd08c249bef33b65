// Fuzz target: arbitrary bytes as every text from outside that reaches the page document (a
// WING's discovery reply, typed addresses, LV1's version, the core's message, the console and
// loader blocks' texts), in one of the console setups of support/outside_text.h. The document is
// always valid UTF-8 and the Setup window's strict decoder takes it; a line of text made from the
// same bytes holds no control character.
#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArrayView>
#include <QString>
#include <string>

#include "base/utf8.h"
#include "fuzz_check.h"
#include "page_model.h"
#include "setup_model.h"
#include "tests/support/outside_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const unsigned variant = in.ConsumeIntegral<uint16_t>();
  const auto next = [&in] { return in.ConsumeRandomLengthString(200); };
  gm::PageExtras extras;
  extras.message = next();
  const std::string doc = gm::page_json(gmtest::outside_inputs(next, variant), extras);
  fuzz::check(QByteArrayView(doc.data(), static_cast<qsizetype>(doc.size())).isValidUtf8());
  const QByteArray bytes = QByteArray::fromRawData(doc.data(), static_cast<qsizetype>(doc.size()));
  fuzz::check(gmui::decode_page(bytes).has_value());

  const std::string line =
      gm_base::text_line(std::string_view(reinterpret_cast<const char*>(data), size));
  fuzz::check(QByteArrayView(line.data(), static_cast<qsizetype>(line.size())).isValidUtf8());
  for (const QChar c : QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()))) {
    fuzz::check(c.unicode() >= 0x20 && (c.unicode() < 0x7F || c.unicode() > 0x9F));
  }
  return 0;
}
