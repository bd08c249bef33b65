// The small kit the page's views are built from: labels, boxes, buttons and panels.
#include <QPalette>

#include "views.h"

namespace gmui::view {

namespace {

// A label that asks for the width of its text on one line and wraps only when it gets less.
// (QLabel's own guess for wrapped text is a narrow block, which a row then keeps.)
class Label : public QLabel {
 public:
  using QLabel::QLabel;
  QSize sizeHint() const override {
    if (!wordWrap()) return QLabel::sizeHint();
    const QMargins m = contentsMargins();
    const int w = fontMetrics().horizontalAdvance(text()) + m.left() + m.right() + 1;
    return {w, heightForWidth(w)};
  }
};

}  // namespace

QLabel* text(const QString& s, Text kind, const QColor& color, bool wrap) {
  auto* l = new Label(s);
  l->setTextFormat(Qt::PlainText);
  l->setWordWrap(wrap);
  l->setTextInteractionFlags(Qt::NoTextInteraction);
  switch (kind) {
    case Text::title:
      l->setFont(theme::font(20, QFont::DemiBold));
      break;
    case Text::heading:
      l->setFont(theme::font(15, QFont::DemiBold));
      break;
    case Text::strong:
      l->setFont(theme::font(13, QFont::DemiBold));
      break;
    case Text::body:
      l->setFont(theme::font(13));
      break;
    case Text::small:
      l->setFont(theme::font(12));
      break;
  }
  setColor(l, color.isValid() ? color : theme::text());
  return l;
}

QLabel* mono(const QString& s, const QColor& color) {
  auto* l = new Label(s);
  l->setTextFormat(Qt::PlainText);
  l->setWordWrap(true);
  l->setFont(theme::mono(12));
  setColor(l, color.isValid() ? color : theme::text());
  return l;
}

void setColor(QWidget* w, const QColor& color) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, color);
  pal.setColor(QPalette::Text, color);
  w->setPalette(pal);
}

QVBoxLayout* vbox(QWidget* owner, int spacing, const QMargins& margins) {
  auto* l = new QVBoxLayout(owner);
  l->setSpacing(spacing);
  l->setContentsMargins(margins);
  return l;
}

QHBoxLayout* hbox(int spacing) {
  auto* l = new QHBoxLayout;
  l->setSpacing(spacing);
  l->setContentsMargins(0, 0, 0, 0);
  return l;
}

GMButton* button(const QString& label, GMButtonKind kind, const QString& name,
                 std::function<void()> onClick) {
  auto* b = new GMButton(label, kind);
  b->setObjectName(name);
  QObject::connect(b, &QAbstractButton::clicked, b, [onClick = std::move(onClick)] { onClick(); });
  return b;
}

Panel* panel(const QString& name, QVBoxLayout** inner, const QColor& edge) {
  auto* p = new Panel;
  p->setObjectName(name);
  if (edge.isValid()) p->setEdge(edge);
  *inner = vbox(p, 10, QMargins(edge.isValid() ? 20 : 16, 14, 16, 14));
  return p;
}

}  // namespace gmui::view
