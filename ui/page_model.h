// The page document decoded for the views: one record per object of the document, with the
// document's keys as field names. Decoding is strict: a document missing any key the views read
// (or holding it with another type) fails, so that the page keeps what it showed before. The
// keys "legacyAny", "confirmUpdate" and a card's "blink" are not read; the demo keys "fakeModal",
// "fakeModalCon" and "fakeOpen" are optional.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <optional>

namespace gmui {

struct Header {
  QString sub, pill, tone;
  bool edge = false;
  bool operator==(const Header&) const = default;
};
struct Menu {
  QString state, tone;
  bool operator==(const Menu&) const = default;
};
struct Step {
  bool done = false, active = false;
  QString title, detail;
  bool start = false, install = false;
  bool operator==(const Step&) const = default;
};
struct Slot {
  bool ok = false;
  QString text;
  bool operator==(const Slot&) const = default;
};
struct Lv1 {
  bool found = false;
  QString version;
  bool up = false, canStart = false;
  QVector<Slot> slots;
  bool operator==(const Lv1&) const = default;
};
struct PermRow {
  QString title, desc, state, tone, btn, action, note;
  bool operator==(const PermRow&) const = default;
};
struct Perm {
  bool open = false;
  QString summary, tone;
  QVector<PermRow> rows;
  bool operator==(const Perm&) const = default;
};
struct Notice {
  QString kind, head, body, btn, action;
  bool enabled = false;
  QString note;
  bool operator==(const Notice&) const = default;
};
struct Gate {
  QString kind, head, body;
  bool operator==(const Gate&) const = default;
};
struct Addr {
  QString set;
  bool can = false, band = false;
  QString btn, shortBtn /* "short" */, desc, title, body, placeholder;
  bool operator==(const Addr&) const = default;
};
struct NothingAddr {
  int c = 0;
  QString btn;
  Addr addr;
  bool operator==(const NothingAddr&) const = default;
};
struct Cand {
  QString head, sub;
  bool card = false;
  QString id;
  bool operator==(const Cand&) const = default;
};
struct Detail {
  QString k, v;
  bool mono = false;
  bool operator==(const Detail&) const = default;
};
struct Confirm {
  QString title, body, ok;
  bool operator==(const Confirm&) const = default;
};
struct RemoveItem {
  QString name, card;
  bool beta = false;
  bool operator==(const RemoveItem&) const = default;
};
struct ConfirmRemove {
  QString title, body, ok;
  QVector<RemoveItem> list;
  bool operator==(const ConfirmRemove&) const = default;
};
struct Card {
  int c = 0;
  QString name;
  bool beta = false;
  QString meta, status, dot, edge;
  int state = 0;
  bool on = false, switchEnabled = false;
  QString msg, msgTone;
  bool retry = false, support = false, installed = false, recall = false, resyncLv1 = false;
  QVector<Cand> cands;
  QVector<Detail> details;
  QString recallDesc, dropTitle, dropDesc, summary;
  Confirm confirmOff;
  Addr addr;
  bool operator==(const Card&) const = default;
};
struct Page {
  Header header;
  Menu menu;
  QVector<Step> steps;
  Lv1 lv1;
  Perm perm;
  std::optional<Notice> notice;
  bool nothing = false, installAnyway = false;
  QVector<NothingAddr> nothingAddr;
  std::optional<Gate> netGate;
  QVector<Card> cards;
  ConfirmRemove confirmRemove;
  QString message;
  bool messageBad = false, anyInstalled = false, lv1Up = false;
  QString version;
  bool busy = false;
  // Demo mode only.
  std::optional<QString> fakeModal;
  std::optional<int> fakeModalCon;
  std::optional<QVector<bool>> fakeOpen;  // two entries
  bool operator==(const Page&) const = default;
};

// Decodes one page document. std::nullopt when the text is no JSON object or misses a key.
std::optional<Page> decode_page(const QByteArray& json);

// The tone word's colour is the theme's; this is the mark a tone stands for.
enum class MarkState { searching, linked, attention, lost };
MarkState mark_state(
    const QString& tone);  // "ok" linked, "warn" attention, "bad" lost, else searching

}  // namespace gmui
