// Reading UTF-8 from outside: each ill-formed sequence becomes one U+FFFD per maximal subpart
// (so a broken character never swallows the one after it), well-formed text is left as it is,
// and a line of text has no control character left in it.
#include <gtest/gtest.h>

#include <string>

#include "base/utf8.h"

namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

TEST(Utf8, IllFormedSequencesBecomeOneReplacementPerMaximalSubpart) {
  struct Case {
    const char* what;
    std::string in, out;
  } cases[] = {
      {"well-formed, one to four bytes, up to the highest scalar value",
       "a\xC2\xB7\xE2\x80\x94\xF0\x9F\x8E\x9A\xEF\xBF\xBD\xF4\x8F\xBF\xBF",
       "a\xC2\xB7\xE2\x80\x94\xF0\x9F\x8E\x9A\xEF\xBF\xBD\xF4\x8F\xBF\xBF"},
      {"a Latin-1 byte", "10.0.0.\xE9", "10.0.0." + R},
      {"stray continuation bytes", "\x80\xBF", R + R},
      {"overlong two-byte lead", "\xC0\xAF\xC1\xBF", R + R + R + R},
      {"overlong three-byte form", "\xE0\x80\xAF", R + R + R},
      {"a surrogate", "\xED\xA0\x80", R + R + R},
      {"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
      {"leads that never start a character", "\xF5\x80\xFF", R + R + R},
      {"cut at the end", "ok\xE2\x82", "ok" + R},
      {"cut before ASCII", "\xF0\x9F\x8Ex", R + "x"},
      {"cut before another lead", "\xE2\x82\xC3\xA9", R + "\xC3\xA9"},
      // The example Unicode gives for this practice.
      {"mixed", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + R + R + R + "b" + R + "c" + R + R + "d"},
  };
  for (const Case& c : cases) EXPECT_EQ(gm_base::text_line(c.in), c.out) << c.what;
}

// C0 controls, DEL and the C1 controls (two bytes each in UTF-8) all become one space.
TEST(Utf8, ALineOfTextHasEveryControlCharacterAsASpace) {
  EXPECT_EQ(gm_base::text_line(std::string("FOH\r\nDesk\tA\0B\x1b[2J\x7f", 18)),
            "FOH  Desk A B [2J ");
  EXPECT_EQ(gm_base::text_line("a\xC2\x85z\xC2\x9B"
                               "1m\xC2\xA0."),
            "a z 1m\xC2\xA0.");
}

}  // namespace
