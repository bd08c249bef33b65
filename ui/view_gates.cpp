// NetGateView and NoticeView: a panel in its kind's colour with a head, a body and one button.
#include "store.h"
#include "views.h"

namespace gmui::view {

QWidget* netGate(const Gate& gate, Store& store) {
  QVBoxLayout* inner = nullptr;
  const QColor ink = tone(gate.kind);
  Panel* p = panel("net-gate", &inner, ink);
  inner->setSpacing(8);
  inner->addWidget(text(gate.head, Text::heading, ink));
  inner->addWidget(text(gate.body, Text::body));
  auto* row = hbox(8);
  row->addWidget(
      button("macOS Permissions…", GMButtonKind::primary, "net-gate-permissions", [&store] {
        store.showModal({Modal::permissions, 0});
      }));
  row->addStretch(1);
  inner->addSpacing(2);
  inner->addLayout(row);
  return p;
}

QWidget* notice(const Notice& n, bool blocked, Store& store) {
  QVBoxLayout* inner = nullptr;
  const QColor ink = tone(n.kind);
  Panel* p = panel("notice", &inner, ink);
  inner->setSpacing(8);
  inner->addWidget(text(n.head, Text::heading, ink));
  if (!n.body.isEmpty()) inner->addWidget(text(n.body, Text::body));
  // Only the actions the app can carry out get a button (a button that did nothing would lie),
  // and the note, which speaks of the button, goes with it.
  if (!n.btn.isEmpty() && n.action == "reinstall") {
    auto* row = hbox(12);
    auto* b =
        button(n.btn, GMButtonKind::primary, "notice-button", [&store] { store.reinstall(); });
    b->setEnabled(n.enabled && !blocked);
    row->addWidget(b, 0, Qt::AlignVCenter);
    if (!n.note.isEmpty())
      row->addWidget(text(n.note, Text::small, theme::dim()), 1);
    else
      row->addStretch(1);
    inner->addSpacing(2);
    inner->addLayout(row);
  }
  return p;
}

}  // namespace gmui::view
