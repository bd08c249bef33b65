// The mark in the menu bar: its four states must tell apart at menu-bar size, its template image
// is black with alpha only, and off macOS it reads on a dark panel and a light one. How the
// controls look and take clicks is the Setup view's.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "app.h"
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

// How far the mean luma of the mark's solid pixels is from the panel's, 0..1.
double contrast(const QImage& mark, const QColor& panel) {
  const auto luma = [](const QColor& c) {
    return 0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF();
  };
  double sum = 0, n = 0;
  for (int y = 0; y < mark.height(); ++y)
    for (int x = 0; x < mark.width(); ++x)
      if (mark.pixelColor(x, y).alpha() >= 200) sum += luma(mark.pixelColor(x, y)), ++n;
  return n ? std::abs(sum / n - luma(panel)) : 0;
}

TEST_F(ThemeTest, TheMarksStatesDifferAtMenuBarSizeAndReadOnDarkAndLightPanels) {
  std::set<QByteArray> seen;
  for (MarkState s :
       {MarkState::searching, MarkState::linked, MarkState::attention, MarkState::lost}) {
    const QImage templ = Mark::image(18, s, tone("ok"), true);
    const auto [drawn, coloured] = ink(templ);
    EXPECT_GT(drawn, 18 * 18 / 8) << int(s);      // visible
    EXPECT_LT(drawn, 18 * 18 * 3 / 4) << int(s);  // and not a blot
    EXPECT_FALSE(coloured) << int(s);             // a template image is black with alpha only
    seen.insert(QByteArray(reinterpret_cast<const char*>(templ.constBits()), templ.sizeInBytes()));
    // Off macOS the mark takes the palette's text colour, which the panel is drawn to carry.
    for (const auto& [window, text] :
         {std::pair{QColor(0x2b, 0x2b, 0x2e), QColor(0xee, 0xee, 0xee)},
          {QColor(0xf2, 0xf2, 0xf2), QColor(0x1d, 0x1d, 0x1f)}}) {
      QPalette palette;
      palette.setColor(QPalette::Window, window);
      palette.setColor(QPalette::WindowText, text);
      EXPECT_GT(contrast(tray_mark(18, s, palette), window), 0.5) << window.name().toStdString();
    }
  }
  EXPECT_EQ(seen.size(), 4u);
}

}  // namespace
