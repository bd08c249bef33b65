// HeaderView: the app's mark and name with the state pill beside them, and the page's "sub" line
// below, so that the line keeps the whole width on a narrow page.
#include "views.h"

namespace gmui::view {

namespace {
constexpr int kMarkSize = 34;
constexpr int kGap = 14;
}  // namespace

QWidget* header(const Header& h) {
  QVBoxLayout* inner = nullptr;
  Panel* p = panel("header", &inner, h.edge ? tone(h.tone) : QColor());
  inner->setSpacing(0);
  auto* top = hbox(kGap);
  inner->addLayout(top);

  auto* mark = new MarkView(mark_state(h.tone), tone(h.tone == "dim" ? "lv1" : h.tone), kMarkSize);
  top->addWidget(mark, 0, Qt::AlignVCenter);
  top->addWidget(text("Gainmesh", Text::title, QColor(), false), 0, Qt::AlignVCenter);
  top->addStretch(1);

  auto* pill = new Panel;
  pill->setObjectName("header-pill");
  pill->setFill(theme::panelRaised());
  auto* pillRow = hbox(8);
  pillRow->setContentsMargins(12, 5, 14, 5);
  pill->setLayout(pillRow);
  pillRow->addWidget(new Dot(h.tone));
  // A long state wraps inside the pill rather than being cut off on a narrow page.
  QLabel* state = text(h.pill, Text::strong);
  state->setObjectName("header-pill-text");
  pillRow->addWidget(state, 1);
  top->addWidget(pill, 0, Qt::AlignVCenter);

  QLabel* sub = text(h.sub, Text::small, theme::dim());
  sub->setObjectName("header-sub");
  sub->setContentsMargins(kMarkSize + kGap, 2, 0, 0);
  inner->addWidget(sub);
  return p;
}

}  // namespace gmui::view
