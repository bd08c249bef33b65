// The settings-file line syntax, where the app's and the module's rules part: key case, repeated
// keys, long lines and bytes a reader never takes as part of a value.
#include <gtest/gtest.h>

#include <string>

#include "base/cfg_syntax.h"

namespace {

using gm_base::KeyMatch;
using gm_base::Repeats;
using namespace std::string_literals;

TEST(CfgSyntax, EditsKeepEveryOtherByteAndTreatRepeatedKeysAsAsked) {
  const struct {
    std::string content;
    KeyMatch match;
    Repeats repeats;
    std::string out;
  } cases[] = {
      {"; c\nIP=1\nx=2\nip=3\n", KeyMatch::kIgnoreCase, Repeats::kKeepFirst, "; c\nip=9\nx=2\n"},
      {"; c\nIP=1\nx=2\nip=3\n", KeyMatch::kExact, Repeats::kReplaceEvery,
       "; c\nIP=1\nx=2\nip=9\n"},
      {"ip=1\r\nip=2", KeyMatch::kExact, Repeats::kReplaceEvery, "ip=9\nip=9\n"},
      {" ip=1\nip =2\n=3", KeyMatch::kExact, Repeats::kKeepFirst, " ip=1\nip =2\n=3\nip=9\n"},
      {"", KeyMatch::kExact, Repeats::kKeepFirst, "ip=9\n"},
      {"a\0b\nip=1\n"s, KeyMatch::kExact, Repeats::kKeepFirst, "a\0b\nip=9\n"s},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(gm_base::cfg_with_line(c.content, "ip", "ip=9\n", c.match, c.repeats), c.out)
        << c.content;
  }
}

TEST(CfgSyntax, ALongLineGoesOnAsALineOfItsOwnForAReaderWithALimit) {
  const std::string long_line = std::string(10, 'x') + "ip=1\n";
  const std::string content = long_line + "y";
  const auto pieces = gm_base::cfg_lines(content, 10);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[1], "ip=1\n");
  EXPECT_EQ(pieces[2], "y");
  EXPECT_EQ(gm_base::cfg_lines(long_line, 0).size(), 1u);
  EXPECT_EQ(gm_base::cfg_with_line(long_line, "ip", "ip=2\n", KeyMatch::kExact,
                                   Repeats::kReplaceEvery, 10),
            std::string(10, 'x') + "ip=2\n");
}

TEST(CfgSyntax, AValueEndsAtLineEndCommentOrNulAndOnlyStorableSettingsAreWritten) {
  EXPECT_EQ(gm_base::cfg_value_of("10.0.0.1;pinned\n"), "10.0.0.1");
  EXPECT_EQ(gm_base::cfg_value_of(std::string_view("a\0b", 3)), "a");
  EXPECT_EQ(gm_base::cfg_value_of("x\ry"), "x");
  EXPECT_FALSE(gm_base::cfg_holds_key("=1\n", "", KeyMatch::kExact));
  EXPECT_TRUE(gm_base::cfg_holds_key("Diag=1", "diag", KeyMatch::kIgnoreCase));
  EXPECT_FALSE(gm_base::cfg_holds_key("Diag=1", "diag", KeyMatch::kExact));

  EXPECT_TRUE(gm_base::cfg_storable("hint", "10.0.0.1"));
  EXPECT_TRUE(gm_base::cfg_storable("console", ""));
  for (const char* key : {"", "a=b", "a;b", "a\nb", "a\rb"}) {
    EXPECT_FALSE(gm_base::cfg_storable(key, "v")) << key;
  }
  for (const char* value : {"1;2", "1\nip=6.6.6.6", "1\r"}) {
    EXPECT_FALSE(gm_base::cfg_storable("ip", value)) << value;
  }
}

}  // namespace
