// The theme's drawn shapes: the dot, the app's mark, the beta tag, the small symbols, the hairline
// and the rounded panel.
#include <QPainter>
#include <QPainterPathStroker>
#include <cmath>

#include "theme.h"

namespace gmui {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A stroked unit-square line turned into an area, so that the mark is one filled outline.
QPainterPath stroked(const QPainterPath& line, qreal width, Qt::PenCapStyle cap = Qt::RoundCap) {
  QPainterPathStroker s;
  s.setWidth(width);
  s.setCapStyle(cap);
  s.setJoinStyle(Qt::RoundJoin);
  s.setCurveThreshold(0.0005);  // fine enough for a unit square drawn at 1024 pixels
  return s.createStroke(line);
}

// An arc of the knob's ring from `from` to `to` degrees (counter-clockwise, 0 = 3 o'clock).
QPainterPath ringArc(qreal from, qreal to) {
  const QRectF ring(0.14, 0.14, 0.72, 0.72);
  QPainterPath arc;
  arc.arcMoveTo(ring, from);
  arc.arcTo(ring, from, to - from);
  return arc;
}

QPointF onCircle(qreal deg, qreal radius) {
  const qreal a = deg * kPi / 180.0;
  return {0.5 + radius * std::cos(a), 0.5 - radius * std::sin(a)};
}

}  // namespace

// ---- Dot --------------------------------------------------------------------------------------

Dot::Dot(const QString& toneWord, int diameter, QWidget* parent)
    : QWidget(parent), color_(tone(toneWord)), d_(diameter) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Dot::setTone(const QString& toneWord) {
  const QColor c = tone(toneWord);
  if (c == color_) return;
  color_ = c;
  update();
}

QSize Dot::sizeHint() const {
  return {d_ + 2, d_ + 2};
}

void Dot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(color_);
  const QRectF r(0, 0, d_, d_);
  p.drawEllipse(r.translated(QRectF(rect()).center() - r.center()));
}

// ---- Mark -------------------------------------------------------------------------------------

QPainterPath Mark::path(MarkState state) {
  constexpr qreal kStroke = 0.115;
  constexpr qreal kPointerDeg = 60;  // the knob turned a little past noon
  QPainterPath pointer;
  pointer.moveTo(0.5, 0.5);
  pointer.lineTo(onCircle(kPointerDeg, 0.2));
  QPainterPath shape;
  switch (state) {
    case MarkState::linked:
      shape = stroked(ringArc(0, 360), kStroke);
      shape = shape.united(stroked(pointer, kStroke));
      break;
    case MarkState::searching:
      // The ring in three pieces, as if still being drawn.
      for (int i = 0; i < 3; ++i) {
        const qreal start = 100 + i * 120;
        shape = shape.united(stroked(ringArc(start, start + 80), kStroke));
      }
      shape = shape.united(stroked(pointer, kStroke));
      break;
    case MarkState::attention: {
      // An open ring with a badge in its gap.
      shape = stroked(ringArc(-5, 265), kStroke);
      shape = shape.united(stroked(pointer, kStroke));
      QPainterPath badge;
      badge.addEllipse(onCircle(-50, 0.36), 0.13, 0.13);
      shape = shape.united(badge);
      break;
    }
    case MarkState::lost: {
      // The knob struck through, with a clear margin around the stroke.
      QPainterPath slash;
      slash.moveTo(0.12, 0.12);
      slash.lineTo(0.88, 0.88);
      shape = stroked(ringArc(0, 360), kStroke).united(stroked(pointer, kStroke));
      shape = shape.subtracted(stroked(slash, kStroke * 2.6, Qt::FlatCap));
      shape = shape.united(stroked(slash, kStroke));
      break;
    }
  }
  shape.setFillRule(Qt::WindingFill);
  return shape.simplified();
}

void Mark::paint(QPainter& p, const QRectF& rect, MarkState state, const QColor& color) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(rect.topLeft());
  p.scale(rect.width(), rect.height());
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  p.drawPath(path(state));
  p.restore();
}

QImage Mark::image(int px, MarkState state, const QColor& color, bool templ) {
  QImage img(px, px, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  paint(p, QRectF(0, 0, px, px), state, templ ? QColor(Qt::black) : color);
  return img;
}

MarkView::MarkView(MarkState state, const QColor& color, int size, QWidget* parent)
    : QWidget(parent), state_(state), color_(color), size_(size) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void MarkView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Mark::paint(p, QRectF(0, 0, size_, size_), state_, color_);
}

// ---- BetaTag ----------------------------------------------------------------------------------

BetaTag::BetaTag(QWidget* parent) : QWidget(parent) {
  setFont(theme::font(10, QFont::DemiBold));
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize BetaTag::sizeHint() const {
  return {QFontMetrics(font()).horizontalAdvance("beta") + 12, 16};
}

void BetaTag::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QColor edge = tone("lv1");
  QColor fill = edge;
  fill.setAlpha(40);
  p.setPen(QPen(edge, 1));
  p.setBrush(fill);
  p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
  p.setPen(edge);
  p.drawText(r, Qt::AlignCenter, "beta");
}

// ---- symbols ----------------------------------------------------------------------------------

TrashGlyph::TrashGlyph(const QColor& color, int size, QWidget* parent)
    : QWidget(parent), color_(color), size_(size) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TrashGlyph::paint(QPainter& p, const QRectF& r, const QColor& color) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const qreal w = r.width(), h = r.height();
  const qreal pen = std::max<qreal>(1.2, w / 11);
  p.setPen(QPen(color, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  const qreal l = r.left(), t = r.top();
  p.drawLine(QPointF(l + 0.12 * w, t + 0.24 * h), QPointF(l + 0.88 * w, t + 0.24 * h));  // lid
  QPainterPath handle;
  handle.moveTo(l + 0.37 * w, t + 0.24 * h);
  handle.lineTo(l + 0.37 * w, t + 0.1 * h);
  handle.lineTo(l + 0.63 * w, t + 0.1 * h);
  handle.lineTo(l + 0.63 * w, t + 0.24 * h);
  p.drawPath(handle);
  QPainterPath can;
  can.moveTo(l + 0.22 * w, t + 0.3 * h);
  can.lineTo(l + 0.28 * w, t + 0.92 * h);
  can.lineTo(l + 0.72 * w, t + 0.92 * h);
  can.lineTo(l + 0.78 * w, t + 0.3 * h);
  p.drawPath(can);
  p.drawLine(QPointF(l + 0.42 * w, t + 0.42 * h), QPointF(l + 0.43 * w, t + 0.8 * h));
  p.drawLine(QPointF(l + 0.58 * w, t + 0.42 * h), QPointF(l + 0.57 * w, t + 0.8 * h));
  p.restore();
}

void TrashGlyph::paintEvent(QPaintEvent*) {
  QPainter p(this);
  paint(p, QRectF(0, 0, size_, size_), color_);
}

SymbolView::SymbolView(Symbol symbol, const QColor& color, int size, QWidget* parent)
    : QWidget(parent), symbol_(symbol), color_(color), size_(size) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::paint(QPainter& p, const QRectF& r, Symbol symbol, const QColor& color) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(r.topLeft());
  const qreal w = r.width(), h = r.height();
  const qreal pen = std::max<qreal>(1.2, w / 11);
  p.setPen(QPen(color, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  switch (symbol) {
    case Symbol::shield: {
      QPainterPath s;
      s.moveTo(0.5 * w, 0.06 * h);
      s.cubicTo(0.66 * w, 0.16 * h, 0.8 * w, 0.18 * h, 0.9 * w, 0.18 * h);
      s.cubicTo(0.9 * w, 0.6 * h, 0.76 * w, 0.82 * h, 0.5 * w, 0.95 * h);
      s.cubicTo(0.24 * w, 0.82 * h, 0.1 * w, 0.6 * h, 0.1 * w, 0.18 * h);
      s.cubicTo(0.2 * w, 0.18 * h, 0.34 * w, 0.16 * h, 0.5 * w, 0.06 * h);
      QColor fill = color;
      fill.setAlpha(60);
      p.setBrush(fill);
      p.drawPath(s);
      break;
    }
    case Symbol::card: {
      p.drawRoundedRect(QRectF(0.08 * w, 0.22 * h, 0.84 * w, 0.56 * h), 0.08 * w, 0.08 * w);
      for (int i = 0; i < 3; ++i) {
        const qreal x = (0.26 + 0.16 * i) * w;
        p.drawLine(QPointF(x, 0.78 * h), QPointF(x, 0.92 * h));
      }
      break;
    }
    case Symbol::rescan: {
      const QRectF ring(0.14 * w, 0.14 * h, 0.72 * w, 0.72 * h);
      p.drawArc(ring, 100 * 16, 290 * 16);
      // The arrow head at the arc's open end, pointing along the turn.
      const qreal a = 100 * kPi / 180;
      const QPointF tip(0.5 * w + 0.36 * w * std::cos(a), 0.5 * h - 0.36 * h * std::sin(a));
      QPainterPath head;
      head.moveTo(tip + QPointF(0.2 * w, -0.1 * h));
      head.lineTo(tip);
      head.lineTo(tip + QPointF(0.14 * w, 0.18 * h));
      p.drawPath(head);
      break;
    }
  }
  p.restore();
}

void SymbolView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  paint(p, QRectF(0, 0, size_, size_), symbol_, color_);
}

// ---- Rule and Panel ---------------------------------------------------------------------------

Rule::Rule(QWidget* parent) : QWidget(parent) {
  setFixedHeight(1);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Rule::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), theme::line());
}

Panel::Panel(QWidget* parent) : QFrame(parent), fill_(theme::panel()) {}

void Panel::setEdge(const QColor& edge) {
  if (edge == edge_) return;
  edge_ = edge;
  update();
}

void Panel::setFill(const QColor& fill) {
  fill_ = fill;
  update();
}

void Panel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  constexpr qreal kRadius = 10;
  QPainterPath shape;
  shape.addRoundedRect(r, kRadius, kRadius);
  p.fillPath(shape, fill_);
  if (edge_.isValid()) {
    p.save();
    p.setClipPath(shape);
    p.fillRect(QRectF(r.left(), r.top(), 4, r.height()), edge_);
    p.restore();
  }
  p.setPen(QPen(theme::line(), 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(shape);
}

}  // namespace gmui
