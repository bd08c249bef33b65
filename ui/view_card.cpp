// ConsoleCard: one console. The head (dot, name, beta tag, meta, status, switch), the message
// with its buttons and candidates, the details while open, and the foot that opens them.
#include <QGridLayout>

#include "store.h"
#include "views.h"

namespace gmui::view {

namespace {

QString name(int c, const QString& part) {
  return QString("card-%1-%2").arg(c).arg(part);
}

QLayout* head(const Card& card, bool blocked, Store& store) {
  auto* row = hbox(10);
  // The dot, the status and the switch sit on the name's line.
  auto* dot = new Dot(card.dot, 10);
  dot->setContentsMargins(0, 0, 0, 0);
  dot->setFixedHeight(20);
  row->addWidget(dot, 0, Qt::AlignTop);

  auto* words = new QVBoxLayout;
  words->setSpacing(3);
  auto* title = hbox(8);
  QLabel* n = text(card.name, Text::heading, QColor(), false);
  n->setObjectName(name(card.c, "name"));
  title->addWidget(n);
  if (card.beta) title->addWidget(new BetaTag, 0, Qt::AlignVCenter);
  title->addStretch(1);
  words->addLayout(title);
  if (!card.meta.isEmpty()) words->addWidget(text(card.meta, Text::small, theme::dim()));
  row->addLayout(words, 1);

  if (!card.status.isEmpty()) {
    QLabel* status = text(card.status, Text::strong, tone(card.dot), false);
    status->setObjectName(name(card.c, "status"));
    status->setFixedHeight(21);
    row->addWidget(status, 0, Qt::AlignTop);
  }
  auto* sw = new GMSwitch(card.on);
  sw->setObjectName(name(card.c, "switch"));
  sw->setEnabled(card.switchEnabled && !blocked);
  const int c = card.c;
  QObject::connect(sw, &QAbstractButton::clicked, sw, [&store, c] { store.toggle(c); });
  row->addWidget(sw, 0, Qt::AlignTop);
  return row;
}

QWidget* candidate(const Card& card, int i, Store& store) {
  const Cand& cand = card.cands[i];
  auto* box = new Panel;
  box->setFill(theme::panelRaised());
  box->setObjectName(name(card.c, QString("cand-%1").arg(i)));
  auto* row = hbox(10);
  row->setContentsMargins(12, 8, 10, 8);
  box->setLayout(row);
  auto* words = new QVBoxLayout;
  words->setSpacing(2);
  auto* top = hbox(8);
  top->addWidget(text(cand.head, Text::strong, QColor(), false));
  if (cand.card) {
    auto* mark = new SymbolView(Symbol::card, tone("ok"), 16);
    mark->setObjectName(name(card.c, QString("cand-%1-card").arg(i)));
    mark->setToolTip("SoundGrid card");
    top->addWidget(mark, 0, Qt::AlignVCenter);
  }
  top->addStretch(1);
  words->addLayout(top);
  words->addWidget(text(cand.sub, Text::small, theme::dim()));
  row->addLayout(words, 1);
  const int c = card.c;
  const QString id = cand.id;
  row->addWidget(button("Use this one", GMButtonKind::primary, name(c, QString("use-%1").arg(i)),
                        [&store, c, id] { store.pick(c, id); }),
                 0, Qt::AlignVCenter);
  return box;
}

QWidget* message(const Card& card, bool blocked, Store& store) {
  auto* w = new QWidget;
  auto* col = vbox(w, 8);
  if (!card.msg.isEmpty()) {
    QLabel* msg = text(card.msg, Text::body, tone(card.msgTone));
    if (card.msgTone == "dim") setColor(msg, theme::text());
    msg->setObjectName(name(card.c, "msg"));
    col->addWidget(msg);
  }
  if (card.retry || card.support) {
    auto* row = hbox(8);
    const int c = card.c;
    if (card.retry) {
      auto* b = button("Retry now", GMButtonKind::quiet, name(c, "retry"),
                       [&store, c] { store.retry(c); });
      b->setEnabled(!blocked);
      row->addWidget(b);
    }
    if (card.support) {
      auto* b = button("Save support file…", GMButtonKind::quiet, name(c, "support"),
                       [&store] { store.saveSupport(); });
      b->setEnabled(!blocked);
      row->addWidget(b);
    }
    row->addStretch(1);
    col->addLayout(row);
  }
  for (int i = 0; i < card.cands.size(); ++i) col->addWidget(candidate(card, i, store));
  return w;
}

// A detail's key, quieter and smaller than its value but on the value's baseline.
QLabel* key(const QString& k) {
  QLabel* l = text(k, Text::small, theme::dim());
  l->setContentsMargins(0, 1, 0, 0);
  return l;
}

QWidget* details(const Card& card, bool blocked, Store& store) {
  auto* w = new QWidget;
  w->setObjectName(name(card.c, "details"));
  auto* col = vbox(w, 12);
  col->addWidget(new Rule);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(14);
  grid->setVerticalSpacing(8);
  grid->setColumnMinimumWidth(0, 118);
  grid->setColumnStretch(1, 1);
  int r = 0;
  for (const Detail& d : card.details) {
    grid->addWidget(key(d.k), r, 0, Qt::AlignTop);
    grid->addWidget(d.mono ? static_cast<QWidget*>(mono(d.v)) : text(d.v, Text::body), r, 1, 1, 2,
                    Qt::AlignTop);
    ++r;
  }
  grid->addWidget(key("Console address"), r, 0, Qt::AlignTop);
  grid->addWidget(text(card.addr.desc, Text::body), r, 1, Qt::AlignTop);
  if (card.addr.can && !card.addr.btn.isEmpty()) {
    const int c = card.c;
    auto* b = button(card.addr.btn, card.addr.band ? GMButtonKind::primary : GMButtonKind::quiet,
                     name(c, "address"), [&store, c] {
                       store.showModal({Modal::address, c});
                     });
    grid->addWidget(b, r, 2, Qt::AlignTop | Qt::AlignRight);
  }
  col->addLayout(grid);
  col->addWidget(new Rule);

  const int c = card.c;
  auto* recallRow = hbox(12);
  recallRow->addWidget(text("Recall preamps with sessions", Text::strong), 1);
  auto* recall = new GMSwitch(card.recall);
  recall->setObjectName(name(c, "recall"));
  recall->setEnabled(!blocked);
  const bool on = card.recall;
  QObject::connect(recall, &QAbstractButton::clicked, recall,
                   [&store, c, on] { store.setRecall(c, !on); });
  recallRow->addWidget(recall, 0, Qt::AlignTop);
  col->addLayout(recallRow);
  col->addSpacing(-6);
  col->addWidget(text(card.recallDesc, Text::small, theme::dim()));

  col->addWidget(text(card.dropTitle, Text::strong));
  auto* pick = new GMSegmented("Keep desk values", "Resend LV1 values", card.resyncLv1 ? 1 : 0,
                               [&store, c](int i) { store.setResync(c, i == 1); });
  pick->setObjectName(name(c, "resync"));
  pick->setEnabled(!blocked);
  col->addSpacing(-4);
  col->addWidget(pick, 0, Qt::AlignLeft);
  col->addWidget(text(card.dropDesc, Text::small, theme::dim()));
  col->addWidget(new Rule);
  QLabel* summary = text(card.summary, Text::small, theme::dim());
  summary->setObjectName(name(c, "summary"));
  col->addWidget(summary);
  return w;
}

}  // namespace

QWidget* consolesTitle() {
  QLabel* l = text("Consoles", Text::small, theme::dim(), false);
  l->setFont(theme::font(12, QFont::DemiBold));
  l->setObjectName("consoles-title");
  l->setContentsMargins(4, 6, 0, 0);
  return l;
}

QWidget* consoleCard(const Card& card, bool open, bool blocked, Store& store) {
  QVBoxLayout* inner = nullptr;
  Panel* p = panel(QString("card-%1").arg(card.c), &inner,
                   card.edge == "dim" ? theme::line() : tone(card.edge));
  inner->setSpacing(12);
  inner->addLayout(head(card, blocked, store));
  if (!card.msg.isEmpty() || card.retry || card.support || !card.cands.isEmpty())
    inner->addWidget(message(card, blocked, store));
  if (open) inner->addWidget(details(card, blocked, store));
  auto* foot = hbox(0);
  const int c = card.c;
  foot->addWidget(button(open ? "Hide details ▴" : "Details ▾", GMButtonKind::link,
                         name(c, "details-toggle"),
                         [&store, c, open] { store.setOpen(c, !open); }));
  foot->addStretch(1);
  inner->addSpacing(-4);
  inner->addLayout(foot);
  return p;
}

}  // namespace gmui::view
