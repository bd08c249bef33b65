// HeaderView: the app's mark and name, the state pill beside the name and the page's "sub" line
// below both, so that the line keeps the whole width on a narrow page.
#include <QGridLayout>

#include "views.h"

namespace gmui::view {

QWidget* header(const Header& h) {
  QVBoxLayout* inner = nullptr;
  Panel* p = panel("header", &inner, h.edge ? tone(h.tone) : QColor());
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(14);
  grid->setVerticalSpacing(2);
  inner->addLayout(grid);

  auto* mark = new MarkView(mark_state(h.tone), tone(h.tone == "dim" ? "lv1" : h.tone), 34);
  grid->addWidget(mark, 0, 0, 2, 1, Qt::AlignVCenter);
  grid->addWidget(text("Gainmesh", Text::title, QColor(), false), 0, 1, Qt::AlignVCenter);
  QLabel* sub = text(h.sub, Text::small, theme::dim());
  sub->setObjectName("header-sub");
  grid->addWidget(sub, 1, 1, 1, 2);
  grid->setColumnStretch(1, 1);

  auto* pill = new Panel;
  pill->setObjectName("header-pill");
  pill->setFill(theme::panelRaised());
  auto* pillRow = hbox(8);
  pillRow->setContentsMargins(12, 5, 14, 5);
  pill->setLayout(pillRow);
  pillRow->addWidget(new Dot(h.tone));
  QLabel* state = text(h.pill, Text::strong, QColor(), false);
  state->setObjectName("header-pill-text");
  pillRow->addWidget(state);
  grid->addWidget(pill, 0, 2, Qt::AlignVCenter | Qt::AlignRight);
  return p;
}

}  // namespace gmui::view
