// The page's views. Each builder makes a fresh widget from its part of the page document and
// connects its gestures to the Store; SetupView decides when a part is rebuilt. Widgets carry
// object names ("card-0-switch", "footer-rescan", ...) so that tests can find them.
//
// `blocked` is true while a queued call is working or the core is busy: the buttons that would
// queue another call are then disabled.
//
// Threads: GUI thread only. Builders never block and never fail.
#pragma once

#include <QBoxLayout>
#include <QColor>
#include <QLabel>
#include <QString>
#include <QWidget>

#include "page_model.h"
#include "theme.h"

namespace gmui {

class Store;

namespace view {

// ---- the kit shared by the views -------------------------------------------------------------

enum class Text { title, heading, strong, body, small };
// A plain-text label (the page's texts are never read as markup), word-wrapped unless `wrap` is
// false, in the given colour (the body colour when invalid).
QLabel* text(const QString& s, Text kind, const QColor& color = QColor(), bool wrap = true);
QLabel* mono(const QString& s, const QColor& color = QColor());
void setColor(QWidget* w, const QColor& color);
QVBoxLayout* vbox(QWidget* owner, int spacing, const QMargins& margins = QMargins());
QHBoxLayout* hbox(int spacing);
// A button of a kind with an object name, calling `onClick` when clicked.
class GMButton* button(const QString& label, GMButtonKind kind, const QString& name,
                       std::function<void()> onClick);
// The panel the sections of the page sit in, with its inner layout.
Panel* panel(const QString& name, QVBoxLayout** inner, const QColor& edge = QColor());

// ---- the page, top to bottom ------------------------------------------------------------------

QWidget* header(const Header& h);
QWidget* firstRun(const QVector<Step>& steps, const Lv1& lv1, bool blocked, Store& store);
QWidget* netGate(const Gate& gate, Store& store);
QWidget* nothingFound(const Page& page, bool blocked, Store& store);
QWidget* notice(const Notice& n, bool blocked, Store& store);
QWidget* consolesTitle();

// What decides which widgets a console card has: the rows and buttons it shows, its candidates
// (their ids are bound to their buttons) and, while open, its details.
struct CardLayout {
  int c = 0;
  bool beta = false, meta = false, status = false;
  bool message = false, msg = false, retry = false, support = false;
  QVector<QPair<QString, bool>> cands;  // id, card mark
  bool open = false;
  QVector<bool> details;  // "mono" of each row
  bool addressButton = false;
  bool operator==(const CardLayout&) const = default;
};
CardLayout cardLayout(const Card& card, bool open);

// One console's card, built for its layout. apply() puts in every text, tone, on and enabled state
// of a card with the same layout, so that the widgets (and a press or hover on them) survive a
// change of the texts; a card of another layout needs a new ConsoleCard.
class ConsoleCard : public Panel {
 public:
  ConsoleCard(const Card& card, bool open, bool blocked, Store& store);
  const CardLayout& layout() const { return layout_; }
  void apply(const Card& card, bool blocked);

 private:
  QLayout* buildHead();
  QWidget* buildMessage();
  QWidget* buildCandidate(int i);
  QWidget* buildDetails();

  Store& store_;
  CardLayout layout_;
  Dot* dot_ = nullptr;
  QLabel *name_ = nullptr, *meta_ = nullptr, *status_ = nullptr, *msg_ = nullptr;
  GMSwitch* switch_ = nullptr;
  GMButton *retry_ = nullptr, *support_ = nullptr, *address_ = nullptr;
  QVector<QPair<QLabel*, QLabel*>> candLabels_, detailLabels_;  // head and sub; key and value
  QLabel *addrDesc_ = nullptr, *recallDesc_ = nullptr, *dropTitle_ = nullptr;
  QLabel *dropDesc_ = nullptr, *summary_ = nullptr;
  GMSwitch* recall_ = nullptr;
  GMSegmented* resync_ = nullptr;
};
QWidget* permLine(const Perm& perm, Store& store);
QWidget* footer(const Page& page, bool blocked, Store& store);

// ---- dialogs laid over the page ---------------------------------------------------------------

// What the user typed into the address dialog and the error shown under it; kept by the view
// while the same dialog stays open, so that a redraw loses neither.
struct AddressInput {
  QString typed;
  bool edited = false;
  QString error;
};

QWidget* confirmOff(const Card& card, bool blocked, Store& store);
QWidget* confirmRemove(const ConfirmRemove& c, bool lv1Up, bool blocked, Store& store);
// `redraw` is called after the error text changed (the view then rebuilds the dialog).
QWidget* address(const Addr& addr, int index, AddressInput& input, Store& store,
                 std::function<void()> redraw);
QWidget* permissions(const Perm& perm, bool blocked, Store& store);

}  // namespace view
}  // namespace gmui
