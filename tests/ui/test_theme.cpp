// The theme's controls as a user meets them: switches and segments that report a click but never
// change by themselves, disabled controls that take no click, buttons that size to their text,
// and the mark, whose four states must tell apart at menu-bar size.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <set>

#include "qt_app.h"
#include "theme.h"

namespace {

using namespace gmui;

class ThemeTest : public ::testing::Test {
 protected:
  void SetUp() override { gmtest::qt_app(); }
};

TEST_F(ThemeTest, ASwitchReportsClicksButShowsOnlyWhatItIsGiven) {
  GMSwitch sw(false);
  sw.resize(sw.sizeHint());
  QSignalSpy clicked(&sw, &QAbstractButton::clicked);
  QTest::mouseClick(&sw, Qt::LeftButton);
  EXPECT_EQ(clicked.count(), 1);
  EXPECT_FALSE(sw.isOn());  // the page redraws it once the core has switched

  sw.setEnabled(false);
  QTest::mouseClick(&sw, Qt::LeftButton);
  EXPECT_EQ(clicked.count(), 1);
}

TEST_F(ThemeTest, ASegmentedPickerCallsBackOnlyForTheOtherSegment) {
  std::vector<int> picks;
  GMSegmented seg("Keep desk values", "Resend LV1 values", 0, [&](int i) { picks.push_back(i); });
  seg.resize(seg.sizeHint());
  const QPoint left(seg.width() / 4, seg.height() / 2),
      right(3 * seg.width() / 4, seg.height() / 2);
  QTest::mouseClick(&seg, Qt::LeftButton, {}, left);  // already selected
  EXPECT_TRUE(picks.empty());
  QTest::mouseClick(&seg, Qt::LeftButton, {}, right);
  EXPECT_EQ(picks, std::vector<int>{1});
  EXPECT_EQ(seg.selected(), 0);

  seg.setEnabled(false);
  seg.pickSegment(1);
  EXPECT_EQ(picks.size(), 1u);
  // Both labels fit their half.
  const QFontMetrics fm(seg.font());
  EXPECT_GT(seg.sizeHint().width() / 2, fm.horizontalAdvance("Resend LV1 values"));
}

TEST_F(ThemeTest, ButtonsFitTheirTextAndGlyph) {
  GMButton plain("Remove Gainmesh from this Mac…", GMButtonKind::link);
  GMButton withGlyph("Remove Gainmesh from this Mac…", GMButtonKind::link);
  withGlyph.setGlyph(GMButton::Glyph::trash);
  const int textWidth = QFontMetrics(plain.font()).horizontalAdvance(plain.text());
  EXPECT_GE(plain.sizeHint().width(), textWidth);
  EXPECT_GE(withGlyph.sizeHint().width(), textWidth + 14);
  for (GMButtonKind kind : {GMButtonKind::quiet, GMButtonKind::primary, GMButtonKind::danger}) {
    GMButton b("Use this one", kind);
    EXPECT_GT(b.sizeHint().width(), textWidth / 3) << int(kind);
    EXPECT_EQ(b.minimumSizeHint(), b.sizeHint());
  }
}

TEST_F(ThemeTest, TonesAreDistinctAndUnknownWordsAreQuiet) {
  std::set<QRgb> colours;
  for (const char* word : {"ok", "warn", "bad", "lv1", "dim"}) colours.insert(tone(word).rgb());
  EXPECT_EQ(colours.size(), 5u);
  EXPECT_EQ(tone("info"), tone("lv1"));
  EXPECT_EQ(tone("purple"), theme::dim());
}

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
