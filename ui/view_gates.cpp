// NetGateView and NoticeView: a panel in its kind's colour with a head, a body and one button.
#include "store.h"
#include "views.h"

namespace gmui::view {

namespace {

// What the user does for a notice whose action this app cannot carry out.
QString undoableNote(const QString& action) {
  if (action == "update3")
    return "This app cannot update Gainmesh 2 itself. Close eMotion LV1, remove Gainmesh with "
           "\u201cRemove Gainmesh from this Mac\u2026\u201d below, then install it again; the "
           "consoles' settings start afresh.";
  return "This app cannot do that itself. Save a support file below and send it to us.";
}

}  // namespace

QWidget* netGate(const Gate& gate, Store& store) {
  QVBoxLayout* inner = nullptr;
  const QColor ink = tone(gate.kind);
  Panel* p = panel("net-gate", &inner, ink);
  inner->setSpacing(8);
  inner->addWidget(text(gate.head, Text::heading, ink));
  QLabel* body = text(gate.body, Text::body, ink);
  body->setObjectName("net-gate-body");
  inner->addWidget(body);
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
  if (!n.body.isEmpty()) {
    QLabel* body = text(n.body, Text::body, ink);
    body->setObjectName("notice-body");
    inner->addWidget(body);
  }
  if (n.btn.isEmpty()) return p;
  // Only the actions the app can carry out get a button (a button that did nothing would lie);
  // for any other the note, which speaks of the button, gives way to what the user can do.
  if (n.action != "reinstall") {
    QLabel* note = text(undoableNote(n.action), Text::small, ink);
    note->setObjectName("notice-note");
    inner->addWidget(note);
    return p;
  }
  auto* row = hbox(12);
  auto* b = button(n.btn, GMButtonKind::primary, "notice-button", [&store] { store.reinstall(); });
  b->setEnabled(n.enabled && !blocked);
  row->addWidget(b, 0, Qt::AlignVCenter);
  if (!n.note.isEmpty()) {
    QLabel* note = text(n.note, Text::small, ink);
    note->setObjectName("notice-note");
    row->addWidget(note, 1);
  } else {
    row->addStretch(1);
  }
  inner->addSpacing(2);
  inner->addLayout(row);
  return p;
}

}  // namespace gmui::view
