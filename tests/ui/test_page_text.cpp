// Text from outside on the page: whatever bytes a console's reply, a settings file, LV1 or
// another process's status block holds, the page document is valid UTF-8 JSON that the Setup
// window's strict decoder takes, so that the window never stays on an old page; and each text
// arrives as the bytes the writer's rule makes of it.
#include <gtest/gtest.h>

#include <QByteArrayView>
#include <string>

#include "page_model.h"
#include "setup_model.h"
#include "support/json_check.h"
#include "support/outside_text.h"

namespace {

std::string repeated(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(PageText, EveryOutsideTextKeepsThePageDecodableInEveryConsoleSetup) {
  struct Case {
    const char* what;
    std::string in;
    std::string on_page;  // how the whole text appears in the document
  } cases[] = {
      {"a Latin-1 byte", "10.0.0.\xE9", "10.0.0.\xEF\xBF\xBD"},
      {"CR LF", "FOH\r\nDesk", "FOH\\u000d\\nDesk"},
      {"overlong forms", "/\xC0\xAF/\xE0\x80\xAF",
       "/" + repeated("\xEF\xBF\xBD", 2) + "/" + repeated("\xEF\xBF\xBD", 3)},
      {"surrogates", "x\xED\xA0\x80", "x" + repeated("\xEF\xBF\xBD", 3)},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80!", repeated("\xEF\xBF\xBD", 4) + "!"},
      {"a cut character", "fw 3.1\xE2\x80", "fw 3.1\xEF\xBF\xBD"},
      {"terminal escapes",
       "\x1B[2J\x7F\xC2\x9B"
       "1m",
       "\\u001b[2J\\u007f\\u009b1m"},
      {"JSON syntax", "\"},\\u0000]", "\\\"},\\\\u0000]"},
      {"a byte-order mark and noncharacters", "\xEF\xBB\xBF\xEF\xBF\xBE\xEF\xBF\xBF",
       "\xEF\xBB\xBF\xEF\xBF\xBE\xEF\xBF\xBF"},
      {"bytes that are never UTF-8", std::string(300, '\xFF'), repeated("\xEF\xBF\xBD", 300)},
  };
  for (const Case& c : cases) {
    bool seen = false;
    for (unsigned v = 0; v < gmtest::kOutsideVariants; ++v) {
      gm::PageExtras extras;
      extras.message = c.in;
      const std::string doc =
          gm::page_json(gmtest::outside_inputs([&c] { return c.in; }, v), extras);
      const QByteArray bytes(doc.data(), static_cast<qsizetype>(doc.size()));
      ASSERT_TRUE(QByteArrayView(bytes).isValidUtf8()) << c.what << ", setup " << v;
      ASSERT_TRUE(gmui::decode_page(bytes)) << c.what << ", setup " << v << "\n" << doc;
      seen = seen || doc.find(c.on_page) != std::string::npos;
      if (v == 0) {
        EXPECT_EQ(gmtest::python_on_json(doc, "print('ok')\n"), "ok\n") << c.what;
      }
    }
    EXPECT_TRUE(seen) << c.what;
  }
}

}  // namespace
