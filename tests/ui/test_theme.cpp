// The mark in the menu bar: its four states must tell apart at menu-bar size, its template image
// is black with alpha only, and off macOS it reads on a dark panel and a light one. How the
// controls look and take clicks is the Setup view's.
#include <gtest/gtest.h>

#include <QPainter>
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

double luminance(const QColor& c) {
  const auto lin = [](double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

// The mean luminance of the mark's solid pixels, drawn over the panel's colour.
double markLuminance(const QImage& mark, const QColor& panel) {
  QImage over(mark.size(), QImage::Format_ARGB32_Premultiplied);
  over.fill(panel);
  QPainter(&over).drawImage(0, 0, mark);
  double sum = 0;
  int n = 0;
  for (int y = 0; y < mark.height(); ++y)
    for (int x = 0; x < mark.width(); ++x)
      if (qAlpha(mark.pixel(x, y)) >= 200) {
        sum += luminance(QColor(over.pixel(x, y)));
        ++n;
      }
  return n ? sum / n : luminance(panel);
}

TEST_F(ThemeTest, TheMenuBarMarkReadsOnDarkAndLightPanelsInEveryState) {
  struct Panel {
    const char* name;
    QColor window, text;
  };
  const Panel panels[] = {{"dark", QColor(0x2b, 0x2b, 0x2e), QColor(0xee, 0xee, 0xee)},
                          {"light", QColor(0xf2, 0xf2, 0xf2), QColor(0x1d, 0x1d, 0x1f)}};
  for (const Panel& panel : panels) {
    QPalette palette;
    palette.setColor(QPalette::Window, panel.window);
    palette.setColor(QPalette::WindowText, panel.text);
    for (MarkState s :
         {MarkState::searching, MarkState::linked, MarkState::attention, MarkState::lost}) {
      const QImage mark = tray_mark(18, s, palette);
      const double diff = std::abs(markLuminance(mark, panel.window) - luminance(panel.window));
      EXPECT_GT(diff, 0.5) << panel.name << " panel, state " << int(s);
    }
  }
}

}  // namespace
