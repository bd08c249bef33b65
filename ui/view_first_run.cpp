// FirstRun: the three setup steps with their Install and Start LV1 buttons, and the LV1 row
// (Lv1Row) with the card's rack slots.
#include <QPainter>

#include "store.h"
#include "views.h"

namespace gmui::view {

namespace {

// The step's number in a circle: filled in the accent while active, a tick once done.
class StepMark : public QWidget {
 public:
  StepMark(int number, bool done, bool active) : number_(number), done_(done), active_(active) {
    setFixedSize(24, 24);
    setFont(theme::font(12, QFont::DemiBold));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    if (done_) {
      p.setPen(Qt::NoPen);
      p.setBrush(tone("ok"));
      p.drawEllipse(r);
      p.setPen(QPen(theme::page(), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      QPainterPath tick;
      tick.moveTo(r.left() + 0.28 * r.width(), r.top() + 0.52 * r.height());
      tick.lineTo(r.left() + 0.44 * r.width(), r.top() + 0.68 * r.height());
      tick.lineTo(r.left() + 0.73 * r.width(), r.top() + 0.36 * r.height());
      p.setBrush(Qt::NoBrush);
      p.drawPath(tick);
      return;
    }
    p.setPen(active_ ? Qt::NoPen : QPen(theme::line(), 1.5));
    p.setBrush(active_ ? QBrush(theme::accent()) : QBrush(Qt::NoBrush));
    p.drawEllipse(r);
    p.setPen(active_ ? QColor(Qt::white) : theme::dim());
    p.drawText(r, Qt::AlignCenter, QString::number(number_));
  }

 private:
  int number_;
  bool done_, active_;
};

QWidget* stepRow(const Step& s, int number, bool blocked, Store& store) {
  auto* w = new QWidget;
  w->setObjectName(QString("step-%1").arg(number));
  auto* row = hbox(12);
  w->setLayout(row);
  row->addWidget(new StepMark(number, s.done, s.active), 0, Qt::AlignTop);

  auto* words = new QVBoxLayout;
  words->setSpacing(3);
  const QColor ink = s.active ? theme::text() : (s.done ? theme::dim() : theme::text());
  words->addWidget(text(s.title, s.active ? Text::strong : Text::body, ink));
  if (!s.detail.isEmpty()) words->addWidget(text(s.detail, Text::small, theme::dim()));
  row->addLayout(words, 1);

  const GMButtonKind kind = s.active ? GMButtonKind::primary : GMButtonKind::quiet;
  if (s.install) {
    auto* b = button("Install", kind, "step-install", [&store] { store.install(); });
    b->setEnabled(!blocked);
    row->addWidget(b, 0, Qt::AlignTop);
  }
  if (s.start) {
    auto* b = button("Start LV1", kind, "step-start-lv1", [&store] { store.startLv1(); });
    b->setEnabled(!blocked);
    row->addWidget(b, 0, Qt::AlignTop);
  }
  return w;
}

QWidget* lv1Row(const Lv1& lv1) {
  auto* w = new QWidget;
  w->setObjectName("lv1-row");
  auto* col = vbox(w, 6);
  auto* head = hbox(8);
  col->addLayout(head);
  if (!lv1.found) {
    head->addWidget(new Dot("warn"), 0, Qt::AlignVCenter);
    head->addWidget(text("eMotion LV1 not found", Text::strong, QColor(), false));
    head->addStretch(1);
    col->addWidget(text("Install LV1 on this Mac, then Rescan.", Text::small, theme::dim()));
    return w;
  }
  head->addWidget(new Dot(lv1.up ? "ok" : "dim"), 0, Qt::AlignVCenter);
  head->addWidget(text("eMotion LV1", Text::strong, QColor(), false));
  head->addWidget(mono(lv1.version, theme::dim()));
  head->addStretch(1);
  if (lv1.up)
    head->addWidget(text("· running", Text::small, tone("ok"), false));
  else
    head->addWidget(text("Not running", Text::small, theme::dim(), false));
  for (const Slot& s : lv1.slots) {
    auto* line = hbox(8);
    line->setContentsMargins(18, 0, 0, 0);
    line->addWidget(new Dot(s.ok ? "ok" : "warn", 7), 0, Qt::AlignVCenter);
    line->addWidget(text(s.text, Text::small, s.ok ? theme::dim() : tone("warn")), 1);
    col->addLayout(line);
  }
  return w;
}

}  // namespace

QWidget* firstRun(const QVector<Step>& steps, const Lv1& lv1, bool blocked, Store& store) {
  QVBoxLayout* inner = nullptr;
  Panel* p = panel("first-run", &inner);
  inner->setSpacing(14);
  inner->addWidget(
      text("Gainmesh puts each console's preamp gain and 48V on eMotion LV1's "
           "channel strip.",
           Text::body));
  for (int i = 0; i < steps.size(); ++i) inner->addWidget(stepRow(steps[i], i + 1, blocked, store));
  inner->addWidget(new Rule);
  inner->addWidget(lv1Row(lv1));
  return p;
}

}  // namespace gmui::view
