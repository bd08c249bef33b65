// HeaderView: the app's mark and name, the page's "sub" line and the state pill.
#include "views.h"

namespace gmui::view {

QWidget* header(const Header& h) {
  QVBoxLayout* inner = nullptr;
  Panel* p = panel("header", &inner, h.edge ? tone(h.tone) : QColor());
  auto* row = hbox(14);
  inner->addLayout(row);

  auto* mark = new MarkView(mark_state(h.tone), tone(h.tone == "dim" ? "lv1" : h.tone), 34);
  row->addWidget(mark, 0, Qt::AlignVCenter);

  auto* names = new QVBoxLayout;
  names->setSpacing(2);
  names->addWidget(text("Gainmesh", Text::title, QColor(), false));
  QLabel* sub = text(h.sub, Text::small, theme::dim());
  sub->setObjectName("header-sub");
  names->addWidget(sub);
  row->addLayout(names, 1);

  auto* pill = new Panel;
  pill->setObjectName("header-pill");
  pill->setFill(theme::panelRaised());
  auto* pillRow = hbox(8);
  pillRow->setContentsMargins(12, 6, 14, 6);
  pill->setLayout(pillRow);
  pillRow->addWidget(new Dot(h.tone));
  QLabel* state = text(h.pill, Text::strong, QColor(), false);
  state->setObjectName("header-pill-text");
  pillRow->addWidget(state);
  row->addWidget(pill, 0, Qt::AlignVCenter);
  return p;
}

}  // namespace gmui::view
