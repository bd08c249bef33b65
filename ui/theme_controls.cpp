// The theme's interactive controls: the slider switch, the two-segment picker and the buttons.
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include "theme.h"

namespace gmui {

namespace {

constexpr qreal kDisabledOpacity = 0.38;

QColor lighter(const QColor& c, int percent) {
  return c.lighter(percent);
}

}  // namespace

// ---- GMSwitch -------------------------------------------------------------------------------

GMSwitch::GMSwitch(bool on, QWidget* parent) : QAbstractButton(parent), on_(on) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setAttribute(Qt::WA_Hover);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void GMSwitch::setOn(bool on) {
  if (on_ == on) return;
  on_ = on;
  update();
}

QSize GMSwitch::sizeHint() const {
  return {38, 22};
}

void GMSwitch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  if (!isEnabled()) p.setOpacity(kDisabledOpacity);
  const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
  const bool hot = isEnabled() && underMouse();
  QColor fill = on_ ? theme::accent() : theme::line();
  if (hot) fill = lighter(fill, 118);
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawRoundedRect(track, track.height() / 2, track.height() / 2);
  const qreal d = track.height() - 4;
  const qreal x = on_ ? track.right() - 2 - d : track.left() + 2;
  p.setBrush(on_ ? QColor(Qt::white) : theme::text());
  p.drawEllipse(QRectF(x, track.top() + 2, d, d));
  if (hasFocus()) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(lighter(theme::accent(), 140), 1.5));
    p.drawRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), track.height() / 2, track.height() / 2);
  }
}

void GMSwitch::enterEvent(QEnterEvent* e) {
  update();
  QAbstractButton::enterEvent(e);
}

void GMSwitch::leaveEvent(QEvent* e) {
  update();
  QAbstractButton::leaveEvent(e);
}

// ---- GMSegmented ----------------------------------------------------------------------------

GMSegmented::GMSegmented(const QString& a, const QString& b, int selected,
                         std::function<void(int)> pick, QWidget* parent)
    : QWidget(parent), a_(a), b_(b), selected_(selected == 1 ? 1 : 0), pick_(std::move(pick)) {
  setFont(theme::font(12));
  setMouseTracking(true);
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize GMSegmented::sizeHint() const {
  const QFontMetrics fm(font());
  const int seg = std::max(fm.horizontalAdvance(a_), fm.horizontalAdvance(b_)) + 28;
  return {2 * seg + 4, 26};
}

int GMSegmented::segmentAt(QPoint p) const {
  if (!rect().contains(p)) return -1;
  return p.x() < width() / 2 ? 0 : 1;
}

void GMSegmented::setSelected(int index) {
  index = index == 1 ? 1 : 0;
  if (selected_ == index) return;
  selected_ = index;
  update();
}

void GMSegmented::pickSegment(int index) {
  if (!isEnabled() || (index != 0 && index != 1) || index == selected_) return;
  if (pick_) pick_(index);
}

void GMSegmented::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  if (!isEnabled()) p.setOpacity(kDisabledOpacity);
  const QRectF all = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  p.setPen(QPen(theme::line(), 1));
  p.setBrush(theme::panelRaised());
  p.drawRoundedRect(all, 6, 6);
  const qreal half = all.width() / 2;
  for (int i = 0; i < 2; ++i) {
    const QRectF seg(all.left() + i * half, all.top(), half, all.height());
    const QRectF inner = seg.adjusted(2, 2, -2, -2);
    QColor ink = theme::dim();
    if (i == selected_) {
      p.setPen(Qt::NoPen);
      p.setBrush(theme::accent());
      p.drawRoundedRect(inner, 4.5, 4.5);
      ink = Qt::white;
    } else if (i == hover_ && isEnabled()) {
      ink = theme::text();
    }
    p.setPen(ink);
    p.drawText(seg, Qt::AlignCenter, i == 0 ? a_ : b_);
  }
}

void GMSegmented::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) pickSegment(segmentAt(e->position().toPoint()));
}

void GMSegmented::mouseMoveEvent(QMouseEvent* e) {
  const int h = segmentAt(e->position().toPoint());
  if (h != hover_) {
    hover_ = h;
    update();
  }
}

void GMSegmented::leaveEvent(QEvent*) {
  hover_ = -1;
  update();
}

// ---- GMButton -------------------------------------------------------------------------------

GMButton::GMButton(const QString& text, GMButtonKind kind, QWidget* parent)
    : QPushButton(text, parent), kind_(kind) {
  setFont(theme::font(kind == GMButtonKind::link ? 12 : 13, QFont::Medium));
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setAttribute(Qt::WA_Hover);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void GMButton::setKind(GMButtonKind kind) {
  if (kind_ == kind) return;
  kind_ = kind;
  setFont(theme::font(kind == GMButtonKind::link ? 12 : 13, QFont::Medium));
  updateGeometry();
  update();
}

void GMButton::setGlyph(Glyph glyph) {
  glyph_ = glyph;
  updateGeometry();
  update();
}

QSize GMButton::sizeHint() const {
  const QFontMetrics fm(font());
  const int glyph = glyph_ == Glyph::none ? 0 : 20;
  if (kind_ == GMButtonKind::link) return {fm.horizontalAdvance(text()) + glyph + 4, 22};
  return {fm.horizontalAdvance(text()) + glyph + 26, 28};
}

void GMButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  if (!isEnabled()) p.setOpacity(kDisabledOpacity);
  const bool hot = isEnabled() && underMouse();
  const bool down = isDown();
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QColor fill, ink, border;
  switch (kind_) {
    case GMButtonKind::quiet:
      fill = theme::panelRaised();
      ink = theme::text();
      border = theme::line();
      break;
    case GMButtonKind::primary:
      fill = theme::accent();
      ink = Qt::white;
      break;
    case GMButtonKind::danger:
      fill = theme::danger();
      ink = Qt::white;
      break;
    case GMButtonKind::link:
      ink = hot ? theme::text() : tone("lv1");
      break;
  }
  if (fill.isValid()) {
    if (hot) fill = lighter(fill, 115);
    if (down) fill = fill.darker(112);
    p.setPen(border.isValid() ? QPen(border, 1) : Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(r, 6, 6);
  }
  if (hasFocus()) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(lighter(theme::accent(), 140), 1.5));
    p.drawRoundedRect(r, 6, 6);
  }
  const QFontMetricsF fm(font());
  const qreal textW = fm.horizontalAdvance(text());
  const qreal glyphW = glyph_ == Glyph::none ? 0 : 20;
  qreal x = r.center().x() - (textW + glyphW) / 2;
  if (glyph_ != Glyph::none) {
    const QRectF g(x, r.center().y() - 7, 14, 14);
    if (glyph_ == Glyph::trash)
      TrashGlyph::paint(p, g, ink);
    else
      SymbolView::paint(p, g, Symbol::rescan, ink);
    x += glyphW;
  }
  p.setPen(ink);
  p.setFont(font());
  p.drawText(QRectF(x, r.top(), textW + 2, r.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

void GMButton::enterEvent(QEnterEvent* e) {
  update();
  QPushButton::enterEvent(e);
}

void GMButton::leaveEvent(QEvent* e) {
  update();
  QPushButton::leaveEvent(e);
}

}  // namespace gmui
