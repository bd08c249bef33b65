// The mark in the menu bar: its four states must tell apart at menu-bar size, and its template
// image is black with alpha only. How the controls look and take clicks is the Setup view's.
#include <gtest/gtest.h>

#include <set>

#include "qt_app.h"
#include "theme.h"

namespace {

using namespace gmui;

class ThemeTest : public ::testing::Test {
 protected:
  void SetUp() override { gmtest::qt_app(); }
};

// Ink of an image: how many pixels are drawn, and whether any is not black.
std::pair<int, bool> ink(const QImage& img) {
  int drawn = 0;
  bool coloured = false;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QRgb p = img.pixel(x, y);
      if (qAlpha(p) == 0) continue;
      ++drawn;
      coloured = coloured || qRed(p) || qGreen(p) || qBlue(p);
    }
  return {drawn, coloured};
}

TEST_F(ThemeTest, TheMarksFourStatesDifferEvenAtMenuBarSize) {
  const MarkState states[] = {MarkState::searching, MarkState::linked, MarkState::attention,
                              MarkState::lost};
  std::set<QByteArray> seen;
  for (MarkState s : states) {
    const QImage templ = Mark::image(18, s, tone("ok"), true);
    ASSERT_EQ(templ.size(), QSize(18, 18));
    const auto [drawn, coloured] = ink(templ);
    EXPECT_GT(drawn, 18 * 18 / 8) << int(s);      // visible
    EXPECT_LT(drawn, 18 * 18 * 3 / 4) << int(s);  // and not a blot
    EXPECT_FALSE(coloured) << int(s);             // a template image is black with alpha only
    seen.insert(QByteArray(reinterpret_cast<const char*>(templ.constBits()), templ.sizeInBytes()));
    EXPECT_TRUE(ink(Mark::image(18, s, tone("ok"), false)).second) << int(s);
    EXPECT_FALSE(Mark::path(s).isEmpty());
  }
  EXPECT_EQ(seen.size(), 4u);
}

}  // namespace
