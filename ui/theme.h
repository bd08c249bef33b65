// The Setup window's look: a calm dark stage theme (colours and fonts) and the small custom
// controls the page is drawn with. Every control paints itself, so the page looks the same on
// every platform and in offscreen renders.
//
// Threads: GUI thread only. Nothing here blocks or fails.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QFrame>
#include <QImage>
#include <QPainterPath>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <functional>

#include "page_model.h"

namespace gmui {

// ---- colours and fonts ----------------------------------------------------------------------

namespace theme {
QColor page();         // the window behind everything
QColor panel();        // rounded containers
QColor panelRaised();  // rows inside a panel, pressed and hovered controls
QColor line();         // hairlines and panel borders
QColor text();         // body text
QColor dim();          // quiet text
QColor accent();       // primary buttons, the selected segment, a switch that is on
QColor danger();       // destructive buttons
QColor scrim();        // the veil behind a dialog

// Fonts. Sizes are in points; `mono` is fixed width.
QFont font(double pt = 13, QFont::Weight weight = QFont::Normal);
QFont mono(double pt = 12);
}  // namespace theme

// The colour of a tone word: "ok", "warn", "bad", "lv1", "info"; "dim" (and any other word) is the
// quiet text colour.
QColor tone(const QString& word);

// ---- controls -------------------------------------------------------------------------------

// A two-state slider switch. It shows `on` and never flips by itself: a click emits clicked() and
// the page redraws with the new state. Disabled, it is drawn faded and takes no clicks.
class GMSwitch : public QAbstractButton {
 public:
  explicit GMSwitch(bool on, QWidget* parent = nullptr);
  bool isOn() const { return on_; }
  void setOn(bool on);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  bool on_;
};

// Two labelled segments with the selected one filled. Clicking the other segment calls `pick`
// with its index (0 or 1); the page redraws with the new selection.
class GMSegmented : public QWidget {
 public:
  GMSegmented(const QString& a, const QString& b, int selected, std::function<void(int)> pick,
              QWidget* parent = nullptr);
  int selected() const { return selected_; }
  void setSelected(int index);
  QString label(int index) const { return index == 0 ? a_ : b_; }
  // Picks a segment as a click would (for keyboard use and tests).
  void pickSegment(int index);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  int segmentAt(QPoint p) const;
  QString a_, b_;
  int selected_;
  int hover_ = -1;
  std::function<void(int)> pick_;
};

enum class GMButtonKind { quiet, primary, danger, link };

// A push button of one of the kinds: quiet (outlined), primary (filled in the accent), danger
// (filled in the destructive colour) or link (text only). Hover lightens it; disabled, it fades.
// An optional glyph is drawn before the text.
class GMButton : public QPushButton {
 public:
  enum class Glyph { none, rescan, trash };
  GMButton(const QString& text, GMButtonKind kind, QWidget* parent = nullptr);
  GMButtonKind kind() const { return kind_; }
  void setKind(GMButtonKind kind);
  void setGlyph(Glyph glyph);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  GMButtonKind kind_;
  Glyph glyph_ = Glyph::none;
};

// A small filled circle in a tone's colour.
class Dot : public QWidget {
 public:
  explicit Dot(const QString& tone, int diameter = 9, QWidget* parent = nullptr);
  void setTone(const QString& tone);
  QColor color() const { return color_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QColor color_;
  int d_;
};

// The app's mark: a gain knob whose ring tells the link state. `path` is the outline at a size of
// 1x1 (filled with the winding rule); `image` draws it for the menu-bar item and the app icon.
class Mark {
 public:
  static QPainterPath path(MarkState state);
  // A square image of px pixels. `templ` draws it in black with alpha only (a template image the
  // menu bar recolours), else in `color`.
  static QImage image(int px, MarkState state, const QColor& color, bool templ);
  // Draws the mark into `rect` of an open painter.
  static void paint(class QPainter& p, const QRectF& rect, MarkState state, const QColor& color);
};

// The mark as a widget, in a tone's colour.
class MarkView : public QWidget {
 public:
  MarkView(MarkState state, const QColor& color, int size, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {size_, size_}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  MarkState state_;
  QColor color_;
  int size_;
};

// A small "beta" capsule.
class BetaTag : public QWidget {
 public:
  explicit BetaTag(QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
};

// Small drawn symbols: a trash can, a circular arrow, a shield, a SoundGrid card.
class TrashGlyph : public QWidget {
 public:
  explicit TrashGlyph(const QColor& color, int size = 14, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {size_, size_}; }
  static void paint(QPainter& p, const QRectF& r, const QColor& color);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QColor color_;
  int size_;
};

enum class Symbol { shield, card, rescan };
class SymbolView : public QWidget {
 public:
  SymbolView(Symbol symbol, const QColor& color, int size, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {size_, size_}; }
  static void paint(QPainter& p, const QRectF& r, Symbol symbol, const QColor& color);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  Symbol symbol_;
  QColor color_;
  int size_;
};

// A horizontal hairline divider.
class Rule : public QWidget {
 public:
  explicit Rule(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {10, 1}; }

 protected:
  void paintEvent(QPaintEvent*) override;
};

// A rounded container in the panel colour; `edge` (a colour, or invalid for none) draws a bar
// down its left side.
class Panel : public QFrame {
 public:
  explicit Panel(QWidget* parent = nullptr);
  void setEdge(const QColor& edge);
  void setFill(const QColor& fill);
  QColor edge() const { return edge_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QColor edge_, fill_;
};

}  // namespace gmui
