// NothingFound: no console answered. The three questions to check, the address buttons for a
// console on another subnet, Rescan, and installing anyway.
#include <QPainter>

#include "store.h"
#include "views.h"

namespace gmui::view {

namespace {

const char* const kQuestions[] = {
    "Is the console on and on the same network as this Mac — not only SoundGrid?",
    "Can WING Edit or X32-Edit see it from this Mac? If not, Gainmesh cannot either.",
    "Did macOS ask whether Gainmesh may find devices on your local network, and was it allowed? "
    "(System Settings ▸ Privacy & Security ▸ Local Network)",
};

// A small open box before each question, as on a printed checklist.
class CheckBox : public QWidget {
 public:
  CheckBox() { setFixedSize(14, 18); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(theme::dim(), 1.3));
    p.drawRoundedRect(QRectF(1.5, 4.5, 11, 11), 2.5, 2.5);
  }
};

}  // namespace

QWidget* nothingFound(const Page& page, bool blocked, Store& store) {
  QVBoxLayout* inner = nullptr;
  Panel* p = panel("nothing-found", &inner, tone("warn"));
  inner->setSpacing(10);
  inner->addWidget(text("No console answered", Text::heading));
  inner->addWidget(
      text("Gainmesh looked for a WING and an X32 / M32 on every network this Mac is "
           "on.",
           Text::body, theme::dim()));
  for (const char* q : kQuestions) {
    auto* row = hbox(10);
    row->addWidget(new CheckBox, 0, Qt::AlignTop);
    row->addWidget(text(QString::fromUtf8(q), Text::body), 1);
    inner->addLayout(row);
  }
  inner->addWidget(new Rule);
  inner->addWidget(
      text("On another subnet or VLAN, or the network blocks broadcasts? Type the "
           "console's address.",
           Text::body));
  auto* buttons = hbox(8);
  for (const NothingAddr& a : page.nothingAddr) {
    const int c = a.c;
    buttons->addWidget(
        button(a.btn, GMButtonKind::quiet, QString("nothing-addr-%1").arg(c), [&store, c] {
          store.showModal({Modal::address, c});
        }));
  }
  buttons->addStretch(1);
  auto* rescan =
      button("Rescan", GMButtonKind::quiet, "nothing-rescan", [&store] { store.scan(); });
  rescan->setGlyph(GMButton::Glyph::rescan);
  rescan->setEnabled(!blocked);
  buttons->addWidget(rescan);
  inner->addLayout(buttons);
  if (page.installAnyway) {
    inner->addWidget(new Rule);
    auto* row = hbox(12);
    row->addWidget(text("Or install Gainmesh now: once eMotion LV1 starts, Gainmesh looks for the "
                        "console from inside it.",
                        Text::body, theme::dim()),
                   1);
    auto* install = button("Install anyway", GMButtonKind::primary, "nothing-install",
                           [&store] { store.install(); });
    install->setEnabled(!blocked);
    row->addWidget(install, 0, Qt::AlignVCenter);
    inner->addLayout(row);
  }
  return p;
}

}  // namespace gmui::view
