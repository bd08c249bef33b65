// Bounded text copy into fixed fields: the cut, the terminator and the zeroed rest are what the
// status block's readers and the desk's records rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text.h"

namespace {

TEST(BaseText, CopyCutsTerminatesAndZeroesTheRestOfTheField) {
  char f[6];
  std::memset(f, 'x', sizeof f);
  const auto field = [&f] { return std::string(f, sizeof f); };
  gm_base::copy_text(f, sizeof f, "abcdefgh");
  EXPECT_EQ(field(), std::string("abcde\0", 6));
  gm_base::copy_text(f, sizeof f, "ab");
  EXPECT_EQ(field(), std::string("ab\0\0\0\0", 6)) << "nothing of the longer text";
  gm_base::copy_text(f, sizeof f, static_cast<const char*>(nullptr));
  EXPECT_EQ(field(), std::string(6, '\0'));

  // Bytes from the network need no terminator within the given length.
  const char datagram[4] = {'W', 'I', 'N', 'G'};
  gm_base::copy_text(f, sizeof f, datagram, 3);
  EXPECT_STREQ(f, "WIN");
  gm_base::copy_text(f, sizeof f, std::string_view("a\0bc", 4));
  EXPECT_EQ(field(), std::string("a\0\0\0\0\0", 6));
  gm_base::copy_text(f, sizeof f, std::string("0123456789"));
  EXPECT_STREQ(f, "01234");

  gm_base::copy_text(f, 0, "zz");
  EXPECT_STREQ(f, "01234") << "a field of no bytes is left alone";
  gm_base::copy_text(nullptr, 4, "zz");
}

}  // namespace
