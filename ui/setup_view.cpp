// SetupView: the scrolling page built from the Store's page, part by part, with the dialog host
// laid over it; and renderPNG, which draws a view into a PNG file.
#include "setup_view.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <optional>
#include <tuple>
#include <vector>

#include "store.h"
#include "theme.h"
#include "views.h"

namespace gmui {

namespace {

constexpr int kTopPad = 22;
constexpr int kSidePad = 24;
constexpr int kBottomPad = 24;
constexpr int kGap = 14;
constexpr int kDialogWidth = 500;
constexpr int kDialogMargin = 28;

// The height `w` needs at `width`.
int fit(const QWidget* w, int width) {
  const int h = w->hasHeightForWidth() ? w->heightForWidth(width) : -1;
  return h >= 0 ? h : w->sizeHint().height();
}

// The page's content: one column, centred, between kMinWidth and kMaxContent wide.
class PageWidget : public QWidget {
 public:
  PageWidget() : column_(new QWidget(this)) {
    layout_ = view::vbox(column_, kGap);
    setMinimumWidth(kMinWidth);
  }
  QVBoxLayout* column() { return layout_; }

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int w) const override { return kTopPad + fit(column_, inner(w)) + kBottomPad; }
  QSize sizeHint() const override { return {kPageWidth, heightForWidth(kPageWidth)}; }
  // No height of its own: the scroll area gives it the height its width needs.
  QSize minimumSizeHint() const override { return {kMinWidth, kTopPad + kBottomPad}; }

  // After parts were rebuilt: lay the column out again and tell the scroll area.
  void relayout() {
    layout_->invalidate();
    layout_->activate();
    place();
    updateGeometry();
  }

 protected:
  void resizeEvent(QResizeEvent*) override { place(); }

 private:
  static int inner(int w) { return std::min(std::max(w, kMinWidth) - 2 * kSidePad, kMaxContent); }
  void place() {
    const int in = inner(width());
    const int h = std::max(height() - kTopPad - kBottomPad, fit(column_, in));
    column_->setGeometry((std::max(width(), kMinWidth) - in) / 2, kTopPad, in, h);
  }

  QWidget* column_;
  QVBoxLayout* layout_;
};

// One part of the page in a fixed place of the column. It is rebuilt only when its key (what
// it shows) differs from the last one drawn; an empty key hides it.
template <class Key>
class Section {
 public:
  explicit Section(QVBoxLayout* column) : host_(new QWidget) {
    view::vbox(host_, 0);
    column->addWidget(host_);
    host_->hide();
  }

  template <class Build>
  void show(const std::optional<Key>& key, Build build, bool force = false) {
    if (drawn_ && !force && key == last_) return;
    drawn_ = true;
    last_ = key;
    if (content_) {
      // Removed later: the gesture that led here may still be running in one of its buttons.
      host_->layout()->removeWidget(content_);
      content_->hide();
      content_->deleteLater();
      content_ = nullptr;
    }
    if (!key) {
      host_->hide();
      return;
    }
    content_ = build(*key);
    host_->layout()->addWidget(content_);
    host_->show();
  }

 private:
  QWidget* host_;
  QWidget* content_ = nullptr;
  std::optional<Key> last_;
  bool drawn_ = false;
};

// What a dialog shows; the dialog is rebuilt when this changes.
struct ModalKey {
  Modal modal{Modal::off, 0};
  std::optional<Card> card;
  std::optional<Addr> addr;
  ConfirmRemove remove;
  Perm perm;
  bool lv1Up = false, blocked = false;
  bool operator==(const ModalKey&) const = default;
};

// The veil over the page with the dialog in the middle. It takes every click meant for the page
// and closes the dialog on Escape.
class ModalHost : public QWidget {
 public:
  ModalHost(Store& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName("modal-host");
    setFocusPolicy(Qt::StrongFocus);  // Escape reaches it while no field of the dialog has focus
    hide();
  }

  void setDialog(QWidget* dialog) {
    if (dialog_) {
      dialog_->hide();
      dialog_->deleteLater();
    }
    dialog_ = dialog;
    if (dialog_) {
      dialog_->setParent(this);
      place();
      dialog_->show();
      show();
      raise();
      setFocus();
    } else {
      hide();
    }
  }
  bool open() const { return dialog_ != nullptr; }
  int neededHeight(int w) const {
    return dialog_ ? fit(dialog_, dialogWidth(w)) + 2 * kDialogMargin : 0;
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), theme::scrim()); }
  void resizeEvent(QResizeEvent*) override { place(); }
  void mousePressEvent(QMouseEvent* e) override { e->accept(); }
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Escape)
      store_.cancel();
    else
      QWidget::keyPressEvent(e);
  }

 private:
  static int dialogWidth(int w) { return std::min(kDialogWidth, w - 2 * kDialogMargin); }
  void place() {
    if (!dialog_) return;
    const int dw = dialogWidth(width());
    const int dh = fit(dialog_, dw);
    // A little above the middle, as sheets sit.
    const int y = std::max(kDialogMargin, (height() - dh) * 2 / 5);
    dialog_->setGeometry((width() - dw) / 2, y, dw, dh);
  }

  Store& store_;
  QWidget* dialog_ = nullptr;
};

using FirstRunKey = std::tuple<QVector<Step>, Lv1, bool>;
using NothingKey = std::tuple<bool, QVector<NothingAddr>, bool>;
using NoticeKey = std::tuple<Notice, bool>;
using FooterKey = std::tuple<QString, bool, QString, bool, bool, bool>;

template <class T>
std::optional<T> when(bool present, T value) {
  return present ? std::optional<T>(std::move(value)) : std::nullopt;
}

}  // namespace

struct SetupView::Impl {
  explicit Impl(Store& s) : store(s) {}
  Store& store;
  QScrollArea* scroll = nullptr;
  PageWidget* page = nullptr;
  ModalHost* modal = nullptr;
  std::unique_ptr<Section<Header>> header;
  std::unique_ptr<Section<FirstRunKey>> firstRun;
  std::unique_ptr<Section<Gate>> netGate;
  std::unique_ptr<Section<NothingKey>> nothing;
  std::unique_ptr<Section<NoticeKey>> notice;
  std::unique_ptr<Section<bool>> consolesTitle;
  QWidget* cardBox = nullptr;
  QVBoxLayout* cardColumn = nullptr;
  std::vector<view::ConsoleCard*> cards;  // in the card column, in page order
  std::unique_ptr<Section<Perm>> perm;
  std::unique_ptr<Section<FooterKey>> footer;
  std::optional<ModalKey> modalKey;
  view::AddressInput addressInput;
  bool forceModal = false;
};

SetupView::SetupView(Store& store, QWidget* parent)
    : QWidget(parent), d_(std::make_unique<Impl>(store)) {
  setObjectName("setup-view");
  QPalette pal = palette();
  pal.setColor(QPalette::Window, theme::page());
  pal.setColor(QPalette::Base, theme::page());
  pal.setColor(QPalette::WindowText, theme::text());
  pal.setColor(QPalette::Text, theme::text());
  setPalette(pal);
  setAutoFillBackground(true);
  setFont(theme::font());

  d_->page = new PageWidget;
  d_->scroll = new QScrollArea(this);
  d_->scroll->setFrameShape(QFrame::NoFrame);
  d_->scroll->setWidgetResizable(true);
  d_->scroll->setWidget(d_->page);
  d_->scroll->viewport()->setAutoFillBackground(false);
  d_->scroll->setStyleSheet(
      "QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"
      "QScrollBar:vertical, QScrollBar:horizontal { background: transparent; width: 10px;"
      " height: 10px; margin: 2px; }"
      "QScrollBar::handle { background: #3a3f47; border-radius: 3px; min-height: 30px;"
      " min-width: 30px; }"
      "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
      "QScrollBar::add-page, QScrollBar::sub-page { background: none; }");

  QVBoxLayout* column = d_->page->column();
  d_->header = std::make_unique<Section<Header>>(column);
  d_->firstRun = std::make_unique<Section<FirstRunKey>>(column);
  d_->netGate = std::make_unique<Section<Gate>>(column);
  d_->nothing = std::make_unique<Section<NothingKey>>(column);
  d_->notice = std::make_unique<Section<NoticeKey>>(column);
  d_->consolesTitle = std::make_unique<Section<bool>>(column);
  d_->cardBox = new QWidget;
  d_->cardColumn = view::vbox(d_->cardBox, kGap);
  column->addWidget(d_->cardBox);
  d_->perm = std::make_unique<Section<Perm>>(column);
  d_->footer = std::make_unique<Section<FooterKey>>(column);
  column->addStretch(1);

  d_->modal = new ModalHost(store, this);
  connect(&store, &Store::changed, this, &SetupView::redraw);
  redraw();
}

SetupView::~SetupView() = default;

void SetupView::redraw() {
  Store& store = d_->store;
  const std::optional<Page>& page = store.page();
  setUpdatesEnabled(false);
  if (page) {
    const Page& p = *page;
    const bool blocked = store.working() || p.busy;
    d_->header->show(std::optional<Header>(p.header),
                     [](const Header& h) { return view::header(h); });
    d_->firstRun->show(when(!p.steps.isEmpty(), FirstRunKey(p.steps, p.lv1, blocked)),
                       [&store](const FirstRunKey& k) {
                         return view::firstRun(std::get<0>(k), std::get<1>(k), std::get<2>(k),
                                               store);
                       });
    d_->netGate->show(p.netGate, [&store](const Gate& g) { return view::netGate(g, store); });
    d_->nothing->show(
        when(p.nothing, NothingKey(p.installAnyway, p.nothingAddr, blocked)),
        [&store, &p, blocked](const NothingKey&) { return view::nothingFound(p, blocked, store); });
    d_->notice->show(when(p.notice.has_value(), NoticeKey(p.notice.value_or(Notice{}), blocked)),
                     [&store](const NoticeKey& k) {
                       return view::notice(std::get<0>(k), std::get<1>(k), store);
                     });
    d_->consolesTitle->show(when(!p.cards.isEmpty(), true),
                            [](bool) { return view::consolesTitle(); });
    redrawCards(p, blocked);
    d_->cardBox->setVisible(!p.cards.isEmpty());
    d_->perm->show(std::optional<Perm>(p.perm),
                   [&store](const Perm& perm) { return view::permLine(perm, store); });
    d_->footer->show(
        std::optional<FooterKey>(FooterKey(p.message, p.messageBad, p.version, p.anyInstalled,
                                           !p.confirmRemove.list.isEmpty(), blocked)),
        [&store, &p, blocked](const FooterKey&) { return view::footer(p, blocked, store); });
  }
  d_->page->relayout();
  redrawModal();
  setUpdatesEnabled(true);
}

// A card whose layout is unchanged takes the new texts in place, so that a press, hover or focus
// on it survives the refresh; a card of another layout is built anew.
void SetupView::redrawCards(const Page& p, bool blocked) {
  Store& store = d_->store;
  std::vector<view::ConsoleCard*>& cards = d_->cards;
  for (qsizetype i = 0; i < p.cards.size(); ++i) {
    const Card& card = p.cards[i];
    const bool open = store.open(card.c);
    view::ConsoleCard* have = size_t(i) < cards.size() ? cards[i] : nullptr;
    if (have && have->layout() == view::cardLayout(card, open)) {
      have->apply(card, blocked);
      continue;
    }
    auto* fresh = new view::ConsoleCard(card, open, blocked, store);
    d_->cardColumn->insertWidget(int(i), fresh);
    if (have) {
      // Removed later: the gesture that led here may still be running in one of its buttons.
      d_->cardColumn->removeWidget(have);
      have->hide();
      have->deleteLater();
      cards[i] = fresh;
    } else {
      cards.push_back(fresh);
    }
  }
  while (cards.size() > size_t(p.cards.size())) {
    view::ConsoleCard* gone = cards.back();
    cards.pop_back();
    d_->cardColumn->removeWidget(gone);
    gone->hide();
    gone->deleteLater();
  }
}

void SetupView::redrawModal() {
  Store& store = d_->store;
  const std::optional<Page>& page = store.page();
  std::optional<ModalKey> key;
  if (page && store.modal()) {
    const Page& p = *page;
    ModalKey k;
    k.modal = *store.modal();
    k.blocked = store.working() || p.busy;
    const int index = k.modal.index;
    for (const Card& c : p.cards)
      if (c.c == index) k.card = c;
    switch (k.modal.kind) {
      case Modal::off:
        // Only what the dialog shows: the card's other texts may change every second.
        if (k.card) {
          Card shown;
          shown.c = k.card->c;
          shown.confirmOff = k.card->confirmOff;
          k.card = shown;
          key = k;
        }
        break;
      case Modal::address:
        if (k.card) k.addr = k.card->addr;
        for (const NothingAddr& a : p.nothingAddr)
          if (!k.addr && a.c == index) k.addr = a.addr;
        k.card.reset();
        if (k.addr) key = k;
        break;
      case Modal::remove:
        k.card.reset();
        k.remove = p.confirmRemove;
        k.lv1Up = p.lv1Up;
        key = k;
        break;
      case Modal::permissions:
        k.card.reset();
        k.perm = p.perm;
        key = k;
        break;
    }
  }
  const bool sameDialog = key && d_->modalKey && key->modal == d_->modalKey->modal;
  if (!sameDialog) d_->addressInput = view::AddressInput{};
  if (key == d_->modalKey && !d_->forceModal) return;
  d_->forceModal = false;
  d_->modalKey = key;
  if (!key) {
    d_->modal->setDialog(nullptr);
    return;
  }
  QWidget* dialog = nullptr;
  switch (key->modal.kind) {
    case Modal::off:
      dialog = view::confirmOff(*key->card, key->blocked, store);
      break;
    case Modal::address:
      dialog = view::address(*key->addr, key->modal.index, d_->addressInput, store, [this] {
        d_->forceModal = true;
        redrawModal();
      });
      break;
    case Modal::remove:
      dialog = view::confirmRemove(key->remove, key->lv1Up, key->blocked, store);
      break;
    case Modal::permissions:
      dialog = view::permissions(key->perm, key->blocked, store);
      break;
  }
  d_->modal->setGeometry(rect());
  d_->modal->setDialog(dialog);
  if (QWidget* field = dialog->findChild<QWidget*>("address-field")) field->setFocus();
}

int SetupView::heightForWidth(int width) const {
  return std::max(d_->page->heightForWidth(width), d_->modal->neededHeight(width));
}

QSize SetupView::sizeHint() const {
  return {kPageWidth, 720};
}

QSize SetupView::minimumSizeHint() const {
  return {kMinWidth, 360};
}

void SetupView::resizeEvent(QResizeEvent*) {
  d_->scroll->setGeometry(rect());
  d_->modal->setGeometry(rect());
}

bool renderPNG(QWidget& view, int width, const QString& path, double scale) {
  if (width <= 0 || !(scale > 0)) return false;
  // A view that is not on screen is shown off screen, so that every layout below it is real.
  const bool offscreen = !view.isVisible();
  if (offscreen) {
    view.setAttribute(Qt::WA_DontShowOnScreen, true);
    view.resize(width, std::max(view.height(), 100));
    view.show();
  }
  view.resize(width, view.height());
  QCoreApplication::sendPostedEvents();
  if (view.layout()) view.layout()->activate();
  int height = view.hasHeightForWidth() ? view.heightForWidth(width) : -1;
  if (height <= 0) height = view.sizeHint().height();
  view.resize(width, std::max(1, height));
  QCoreApplication::sendPostedEvents();

  QImage img(qRound(width * scale), qRound(view.height() * scale),
             QImage::Format_ARGB32_Premultiplied);
  img.setDevicePixelRatio(scale);
  img.fill(theme::page());
  view.render(&img);
  if (offscreen) view.hide();
  return img.save(path, "PNG");
}

}  // namespace gmui
