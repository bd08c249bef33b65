// PermLine (the macOS permissions at a glance, with Review…) and the Footer (Rescan, the support
// file, removing Gainmesh, the result line and the version).
#include "store.h"
#include "views.h"

namespace gmui::view {

QWidget* permLine(const Perm& perm, Store& store) {
  QVBoxLayout* inner = nullptr;
  // Quiet while everything is allowed; a panel edged in the tone while something needs the user.
  Panel* p = panel("perm-line", &inner, perm.open ? tone(perm.tone) : QColor());
  if (!perm.open) p->setFill(theme::page());
  auto* row = hbox(10);
  row->addWidget(new SymbolView(Symbol::shield, tone(perm.tone), 18), 0, Qt::AlignVCenter);
  row->addWidget(text("macOS permissions", perm.open ? Text::strong : Text::body,
                      perm.open ? theme::text() : theme::dim(), false));
  QLabel* summary = text(perm.summary, perm.open ? Text::strong : Text::body, tone(perm.tone));
  summary->setObjectName("perm-summary");
  row->addWidget(summary, 1);
  row->addWidget(
      button("Review…", perm.open ? GMButtonKind::primary : GMButtonKind::quiet, "perm-review",
             [&store] {
               store.showModal({Modal::permissions, 0});
             }),
      0, Qt::AlignVCenter);
  inner->addLayout(row);
  return p;
}

QWidget* footer(const Page& page, bool blocked, Store& store) {
  auto* w = new QWidget;
  w->setObjectName("footer");
  auto* col = vbox(w, 10, QMargins(4, 4, 4, 0));

  auto* actions = hbox(8);
  auto* rescan = button("Rescan", GMButtonKind::quiet, "footer-rescan", [&store] { store.scan(); });
  rescan->setGlyph(GMButton::Glyph::rescan);
  rescan->setEnabled(!blocked);
  actions->addWidget(rescan);
  auto* support = button("Save support file…", GMButtonKind::quiet, "footer-support",
                         [&store] { store.saveSupport(); });
  support->setEnabled(!blocked);
  actions->addWidget(support);
  actions->addStretch(1);
  col->addLayout(actions);

  if (!page.message.isEmpty()) {
    QLabel* result = text(page.message, Text::body, page.messageBad ? tone("bad") : theme::text());
    result->setObjectName("footer-message");
    col->addWidget(result);
  }
  col->addWidget(new Rule);

  auto* removeRow = hbox(12);
  auto* remove =
      button("Remove Gainmesh from this Mac…", GMButtonKind::link, "footer-remove", [&store] {
        store.showModal({Modal::remove, 0});
      });
  remove->setGlyph(GMButton::Glyph::trash);
  remove->setEnabled(!blocked && (page.anyInstalled || !page.confirmRemove.list.isEmpty()));
  removeRow->addWidget(remove, 0, Qt::AlignTop);
  removeRow->addStretch(1);
  col->addLayout(removeRow);
  col->addSpacing(-6);
  QLabel* line = text("Gainmesh installs into its own bundle; Waves' files are not changed.",
                      Text::small, theme::dim());
  line->setContentsMargins(22, 0, 0, 0);
  col->addWidget(line);

  QLabel* version = text(page.version, Text::small, theme::dim(), false);
  version->setObjectName("footer-version");
  version->setAlignment(Qt::AlignRight);
  col->addWidget(version);
  return w;
}

}  // namespace gmui::view
