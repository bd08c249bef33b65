// The dialogs laid over the page: ConfirmView (switching a console off, removing Gainmesh),
// AddressView (typing a console's address) and PermissionsView (the macOS permissions).
#include <QLineEdit>

#include "store.h"
#include "views.h"

namespace gmui::view {

namespace {

// The dialog's panel with its title; the caller adds the rest to `inner`.
Panel* dialog(const QString& name, const QString& title, QVBoxLayout** inner) {
  Panel* p = panel(name, inner);
  (*inner)->setContentsMargins(22, 20, 22, 18);
  (*inner)->setSpacing(12);
  p->setFill(theme::panel());
  (*inner)->addWidget(text(title, Text::heading));
  return p;
}

// The row of buttons at the foot of a dialog, right-aligned, with `left` at the far left.
QHBoxLayout* buttonRow(QVBoxLayout* inner, QWidget* left = nullptr) {
  auto* row = hbox(8);
  if (left) row->addWidget(left);
  row->addStretch(1);
  inner->addSpacing(4);
  inner->addLayout(row);
  return row;
}

GMButton* cancel(Store& store) {
  return button("Cancel", GMButtonKind::quiet, "dialog-cancel", [&store] { store.cancel(); });
}

}  // namespace

QWidget* confirmOff(const Card& card, bool blocked, Store& store) {
  QVBoxLayout* inner = nullptr;
  Panel* p = dialog("dialog-off", card.confirmOff.title, &inner);
  inner->addWidget(text(card.confirmOff.body, Text::body));
  QHBoxLayout* row = buttonRow(inner);
  row->addWidget(cancel(store));
  auto* ok =
      button(card.confirmOff.ok, GMButtonKind::danger, "dialog-ok", [&store] { store.confirm(); });
  ok->setEnabled(!blocked);
  row->addWidget(ok);
  return p;
}

QWidget* confirmRemove(const ConfirmRemove& c, bool lv1Up, bool blocked, Store& store) {
  QVBoxLayout* inner = nullptr;
  Panel* p = dialog("dialog-remove", c.title, &inner);
  inner->addWidget(text(c.body, Text::body));
  if (!c.list.isEmpty()) {
    auto* list = new Panel;
    list->setFill(theme::panelRaised());
    auto* col = vbox(list, 6, QMargins(14, 10, 14, 10));
    for (const RemoveItem& item : c.list) {
      auto* row = hbox(8);
      row->addWidget(text(item.name, Text::strong, QColor(), false));
      if (item.beta) row->addWidget(new BetaTag, 0, Qt::AlignVCenter);
      row->addWidget(text(item.card, Text::small, theme::dim()), 1);
      col->addLayout(row);
    }
    inner->addWidget(list);
  }
  // Removal waits for LV1 to close; this line follows it live.
  QLabel* live = lv1Up ? text("◌  Waiting for eMotion LV1 to close…", Text::body, tone("warn"))
                       : text("✓  eMotion LV1 is closed.", Text::body, tone("ok"));
  live->setObjectName("dialog-lv1");
  inner->addWidget(live);
  QHBoxLayout* row = buttonRow(inner);
  row->addWidget(cancel(store));
  auto* ok = button(c.ok, GMButtonKind::danger, "dialog-ok", [&store] { store.confirm(); });
  ok->setEnabled(!lv1Up && !blocked);
  row->addWidget(ok);
  return p;
}

QWidget* address(const Addr& addr, int index, AddressInput& input, Store& store,
                 std::function<void()> redraw) {
  QVBoxLayout* inner = nullptr;
  Panel* p = dialog("dialog-address", addr.title, &inner);
  inner->addWidget(text(addr.body, Text::body, theme::dim()));

  auto* field = new QLineEdit(input.edited ? input.typed : addr.set);
  field->setObjectName("address-field");
  field->setPlaceholderText(addr.placeholder);
  field->setFont(theme::mono(13));
  field->setStyleSheet(QString("QLineEdit { background: %1; color: %2; border: 1px solid %3;"
                               " border-radius: 6px; padding: 5px 8px;"
                               " selection-background-color: %4; }"
                               "QLineEdit:focus { border-color: %4; }")
                           .arg(theme::panelRaised().name(), theme::text().name(),
                                theme::line().name(), theme::accent().name()));
  QObject::connect(field, &QLineEdit::textEdited, field, [&input](const QString& t) {
    input.typed = t;
    input.edited = true;
  });
  inner->addWidget(field);
  if (!input.error.isEmpty()) {
    QLabel* error = text(input.error, Text::small, tone("bad"));
    error->setObjectName("address-error");
    inner->addWidget(error);
  }

  auto submit = [&store, &input, index, field, redraw] {
    const QString typed = field->text();
    const std::optional<QString> error = store.setIp(typed, index);
    if (!error) return;  // the dialog is closed
    input.typed = typed;
    input.edited = true;
    input.error = *error;
    redraw();
  };
  QObject::connect(field, &QLineEdit::returnPressed, field, submit);

  auto* automatic =
      button("Find it automatically", GMButtonKind::link, "address-auto", [&store, index] {
        store.clearIp(index);
        store.cancel();
      });
  QHBoxLayout* row = buttonRow(inner, automatic);
  row->addWidget(cancel(store));
  row->addWidget(button(addr.shortBtn, GMButtonKind::primary, "dialog-ok", submit));
  field->setFocus();
  return p;
}

QWidget* permissions(const Perm& perm, bool blocked, Store& store) {
  QVBoxLayout* inner = nullptr;
  Panel* p = dialog("dialog-permissions", "macOS permissions", &inner);
  inner->addWidget(
      text("What macOS has to allow before Gainmesh can reach your consoles. Each "
           "switch is in System Settings; Gainmesh follows it within a second.",
           Text::body, theme::dim()));
  for (int i = 0; i < perm.rows.size(); ++i) {
    const PermRow& r = perm.rows[i];
    auto* box = new Panel;
    box->setObjectName(QString("perm-row-%1").arg(i));
    box->setFill(theme::panelRaised());
    auto* col = vbox(box, 5, QMargins(14, 10, 14, 12));
    auto* head = hbox(10);
    head->addWidget(text(r.title, Text::strong), 1);
    head->addWidget(new Dot(r.tone, 8), 0, Qt::AlignVCenter);
    head->addWidget(text(r.state, Text::strong, tone(r.tone), false), 0, Qt::AlignVCenter);
    col->addLayout(head);
    if (!r.desc.isEmpty()) col->addWidget(text(r.desc, Text::small, theme::dim()));
    if (!r.note.isEmpty()) col->addWidget(text(r.note, Text::small, tone(r.tone)));
    if (!r.btn.isEmpty()) {
      const QString action = r.action;
      auto* b = button(r.btn, GMButtonKind::quiet, QString("perm-row-%1-button").arg(i),
                       [&store, action] { store.permAction(action); });
      b->setEnabled(!blocked);
      auto* row = hbox(0);
      row->addWidget(b);
      row->addStretch(1);
      col->addSpacing(2);
      col->addLayout(row);
    }
    inner->addWidget(box);
  }
  QHBoxLayout* row = buttonRow(inner);
  row->addWidget(
      button("Done", GMButtonKind::primary, "dialog-done", [&store] { store.cancel(); }));
  return p;
}

}  // namespace gmui::view
