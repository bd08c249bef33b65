// ConsoleCard: one console. The head (dot, name, beta tag, meta, status, switch), the message
// with its buttons and candidates, the details while open, and the foot that opens them. The
// widgets are made once for a layout; every text, tone and state is put in by apply().
#include <QGridLayout>

#include "store.h"
#include "views.h"

namespace gmui::view {

namespace {

QString name(int c, const QString& part) {
  return QString("card-%1-%2").arg(c).arg(part);
}

void setText(QLabel* l, const QString& s) {
  if (l && l->text() != s) l->setText(s);
}

void setInk(QLabel* l, const QString& s, const QColor& color) {
  if (!l) return;
  setText(l, s);
  if (l->palette().color(QPalette::WindowText) != color) setColor(l, color);
}

// A detail's key, quieter and smaller than its value but on the value's baseline.
QLabel* key(const QString& k) {
  QLabel* l = text(k, Text::small, theme::dim());
  l->setContentsMargins(0, 1, 0, 0);
  return l;
}

bool hasMessage(const Card& card) {
  return !card.msg.isEmpty() || card.retry || card.support || !card.cands.isEmpty();
}

}  // namespace

CardLayout cardLayout(const Card& card, bool open) {
  CardLayout l;
  l.c = card.c;
  l.beta = card.beta;
  l.meta = !card.meta.isEmpty();
  l.status = !card.status.isEmpty();
  l.message = hasMessage(card);
  l.msg = !card.msg.isEmpty();
  l.retry = card.retry;
  l.support = card.support;
  for (const Cand& cand : card.cands) l.cands << qMakePair(cand.id, cand.card);
  l.open = open;
  if (open) {
    for (const Detail& d : card.details) l.details << d.mono;
    l.addressButton = card.addr.can && !card.addr.btn.isEmpty();
  }
  return l;
}

ConsoleCard::ConsoleCard(const Card& card, bool open, bool blocked, Store& store)
    : store_(store), layout_(cardLayout(card, open)) {
  setObjectName(QString("card-%1").arg(card.c));
  auto* inner = vbox(this, 12, QMargins(20, 14, 16, 14));
  inner->addLayout(buildHead());
  if (layout_.message) inner->addWidget(buildMessage());
  if (layout_.open) inner->addWidget(buildDetails());
  auto* foot = hbox(0);
  const int c = layout_.c;
  Store* s = &store_;
  foot->addWidget(button(open ? "Hide details ▴" : "Details ▾", GMButtonKind::link,
                         name(c, "details-toggle"), [s, c, open] { s->setOpen(c, !open); }));
  foot->addStretch(1);
  inner->addSpacing(-4);
  inner->addLayout(foot);
  apply(card, blocked);
}

QLayout* ConsoleCard::buildHead() {
  const int c = layout_.c;
  auto* row = hbox(10);
  // The dot, the status and the switch sit on the name's line.
  dot_ = new Dot(QString(), 10);
  dot_->setFixedHeight(20);
  row->addWidget(dot_, 0, Qt::AlignTop);

  auto* words = new QVBoxLayout;
  words->setSpacing(3);
  auto* title = hbox(8);
  name_ = text(QString(), Text::heading, QColor(), false);
  name_->setObjectName(name(c, "name"));
  title->addWidget(name_);
  if (layout_.beta) title->addWidget(new BetaTag, 0, Qt::AlignVCenter);
  title->addStretch(1);
  words->addLayout(title);
  if (layout_.meta) {
    meta_ = text(QString(), Text::small, theme::dim());
    words->addWidget(meta_);
  }
  row->addLayout(words, 1);

  if (layout_.status) {
    status_ = text(QString(), Text::strong, QColor(), false);
    status_->setObjectName(name(c, "status"));
    status_->setFixedHeight(21);
    row->addWidget(status_, 0, Qt::AlignTop);
  }
  switch_ = new GMSwitch(false);
  switch_->setObjectName(name(c, "switch"));
  Store* s = &store_;
  QObject::connect(switch_, &QAbstractButton::clicked, switch_, [s, c] { s->toggle(c); });
  row->addWidget(switch_, 0, Qt::AlignTop);
  return row;
}

QWidget* ConsoleCard::buildMessage() {
  const int c = layout_.c;
  Store* s = &store_;
  auto* w = new QWidget;
  auto* col = vbox(w, 8);
  if (layout_.msg) {
    msg_ = text(QString(), Text::body);
    msg_->setObjectName(name(c, "msg"));
    col->addWidget(msg_);
  }
  if (layout_.retry || layout_.support) {
    auto* row = hbox(8);
    if (layout_.retry) {
      retry_ = button("Retry now", GMButtonKind::quiet, name(c, "retry"), [s, c] { s->retry(c); });
      row->addWidget(retry_);
    }
    if (layout_.support) {
      support_ = button("Save support file…", GMButtonKind::quiet, name(c, "support"),
                        [s] { s->saveSupport(); });
      row->addWidget(support_);
    }
    row->addStretch(1);
    col->addLayout(row);
  }
  for (int i = 0; i < layout_.cands.size(); ++i) col->addWidget(buildCandidate(i));
  return w;
}

QWidget* ConsoleCard::buildCandidate(int i) {
  const int c = layout_.c;
  auto* box = new Panel;
  box->setFill(theme::panelRaised());
  box->setObjectName(name(c, QString("cand-%1").arg(i)));
  auto* row = hbox(10);
  row->setContentsMargins(12, 8, 10, 8);
  box->setLayout(row);
  auto* words = new QVBoxLayout;
  words->setSpacing(2);
  auto* top = hbox(8);
  QLabel* head = text(QString(), Text::strong, QColor(), false);
  top->addWidget(head);
  if (layout_.cands[i].second) {
    auto* mark = new SymbolView(Symbol::card, tone("ok"), 16);
    mark->setObjectName(name(c, QString("cand-%1-card").arg(i)));
    mark->setToolTip("SoundGrid card");
    top->addWidget(mark, 0, Qt::AlignVCenter);
  }
  top->addStretch(1);
  words->addLayout(top);
  QLabel* sub = text(QString(), Text::small, theme::dim());
  words->addWidget(sub);
  row->addLayout(words, 1);
  candLabels_ << qMakePair(head, sub);
  Store* s = &store_;
  const QString id = layout_.cands[i].first;
  row->addWidget(button("Use this one", GMButtonKind::primary, name(c, QString("use-%1").arg(i)),
                        [s, c, id] { s->pick(c, id); }),
                 0, Qt::AlignVCenter);
  return box;
}

QWidget* ConsoleCard::buildDetails() {
  const int c = layout_.c;
  Store* s = &store_;
  auto* w = new QWidget;
  w->setObjectName(name(c, "details"));
  auto* col = vbox(w, 12);
  col->addWidget(new Rule);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(14);
  grid->setVerticalSpacing(8);
  grid->setColumnMinimumWidth(0, 118);
  grid->setColumnStretch(1, 1);
  int r = 0;
  for (bool isMono : layout_.details) {
    QLabel* k = key(QString());
    QLabel* v = isMono ? mono(QString()) : text(QString(), Text::body);
    grid->addWidget(k, r, 0, Qt::AlignTop);
    grid->addWidget(v, r, 1, 1, 2, Qt::AlignTop);
    detailLabels_ << qMakePair(k, v);
    ++r;
  }
  grid->addWidget(key("Console address"), r, 0, Qt::AlignTop);
  addrDesc_ = text(QString(), Text::body);
  grid->addWidget(addrDesc_, r, 1, Qt::AlignTop);
  if (layout_.addressButton) {
    address_ = button(QString(), GMButtonKind::quiet, name(c, "address"), [s, c] {
      s->showModal({Modal::address, c});
    });
    grid->addWidget(address_, r, 2, Qt::AlignTop | Qt::AlignRight);
  }
  col->addLayout(grid);
  col->addWidget(new Rule);

  auto* recallRow = hbox(12);
  recallRow->addWidget(text("Recall preamps with sessions", Text::strong), 1);
  recall_ = new GMSwitch(false);
  recall_->setObjectName(name(c, "recall"));
  GMSwitch* recall = recall_;
  QObject::connect(recall_, &QAbstractButton::clicked, recall_,
                   [s, c, recall] { s->setRecall(c, !recall->isOn()); });
  recallRow->addWidget(recall_, 0, Qt::AlignTop);
  col->addLayout(recallRow);
  col->addSpacing(-6);
  recallDesc_ = text(QString(), Text::small, theme::dim());
  col->addWidget(recallDesc_);

  dropTitle_ = text(QString(), Text::strong);
  col->addWidget(dropTitle_);
  resync_ = new GMSegmented("Keep desk values", "Resend LV1 values", 0,
                            [s, c](int i) { s->setResync(c, i == 1); });
  resync_->setObjectName(name(c, "resync"));
  col->addSpacing(-4);
  col->addWidget(resync_, 0, Qt::AlignLeft);
  dropDesc_ = text(QString(), Text::small, theme::dim());
  col->addWidget(dropDesc_);
  col->addWidget(new Rule);
  summary_ = text(QString(), Text::small, theme::dim());
  summary_->setObjectName(name(c, "summary"));
  col->addWidget(summary_);
  return w;
}

void ConsoleCard::apply(const Card& card, bool blocked) {
  setEdge(tone(card.edge));
  dot_->setTone(card.dot);
  setText(name_, card.name);
  setText(meta_, card.meta);
  setInk(status_, card.status, tone(card.dot));
  switch_->setOn(card.on);
  switch_->setEnabled(card.switchEnabled && !blocked);

  setInk(msg_, card.msg, tone(card.msgTone));
  if (retry_) retry_->setEnabled(!blocked);
  if (support_) support_->setEnabled(!blocked);
  for (int i = 0; i < candLabels_.size() && i < card.cands.size(); ++i) {
    setText(candLabels_[i].first, card.cands[i].head);
    setText(candLabels_[i].second, card.cands[i].sub);
  }
  if (!layout_.open) return;

  for (int i = 0; i < detailLabels_.size() && i < card.details.size(); ++i) {
    setText(detailLabels_[i].first, card.details[i].k);
    setText(detailLabels_[i].second, card.details[i].v);
  }
  setText(addrDesc_, card.addr.desc);
  if (address_) {
    if (address_->text() != card.addr.btn) address_->setText(card.addr.btn);
    address_->setKind(card.addr.band ? GMButtonKind::primary : GMButtonKind::quiet);
  }
  recall_->setOn(card.recall);
  recall_->setEnabled(!blocked);
  setText(recallDesc_, card.recallDesc);
  setText(dropTitle_, card.dropTitle);
  resync_->setSelected(card.resyncLv1 ? 1 : 0);
  resync_->setEnabled(!blocked);
  setText(dropDesc_, card.dropDesc);
  setText(summary_, card.summary);
}

QWidget* consolesTitle() {
  QLabel* l = text("Consoles", Text::small, theme::dim(), false);
  l->setFont(theme::font(12, QFont::DemiBold));
  l->setObjectName("consoles-title");
  l->setContentsMargins(4, 6, 0, 0);
  return l;
}

}  // namespace gmui::view
