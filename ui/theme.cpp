// The stage theme's colours and fonts, and the colour of each tone word.
#include "theme.h"

#include <QStringList>

namespace gmui {

namespace theme {
QColor page() {
  return QColor(0x15, 0x17, 0x1b);
}
QColor panel() {
  return QColor(0x1e, 0x21, 0x26);
}
QColor panelRaised() {
  return QColor(0x27, 0x2b, 0x32);
}
QColor line() {
  return QColor(0x31, 0x36, 0x3e);
}
QColor text() {
  return QColor(0xe4, 0xe7, 0xeb);
}
QColor dim() {
  return QColor(0x8e, 0x96, 0xa1);
}
QColor accent() {
  return QColor(0x3d, 0x8b, 0xe0);
}
QColor danger() {
  return QColor(0xc9, 0x43, 0x3b);
}
QColor scrim() {
  return QColor(0x08, 0x09, 0x0b, 0xb8);
}

// Sizes are given in points and set in pixels, so that a point is one logical pixel as on a Mac
// whatever the platform's screen resolution claims.
QFont font(double pt, QFont::Weight weight) {
  QFont f;
  f.setFamilies({".AppleSystemUIFont", "Helvetica Neue", "DejaVu Sans"});
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(qRound(pt));
  f.setWeight(weight);
  return f;
}

QFont mono(double pt) {
  QFont f;
  f.setFamilies({"SF Mono", "Menlo", "DejaVu Sans Mono"});
  f.setStyleHint(QFont::Monospace);
  f.setFixedPitch(true);
  f.setPixelSize(qRound(pt));
  return f;
}
}  // namespace theme

QColor tone(const QString& word) {
  if (word == "ok") return QColor(0x4c, 0xc3, 0x82);
  if (word == "warn") return QColor(0xe8, 0xa8, 0x3e);
  if (word == "bad") return QColor(0xf0, 0x62, 0x58);
  if (word == "lv1" || word == "info") return QColor(0x62, 0xa8, 0xf2);
  return theme::dim();
}

}  // namespace gmui
