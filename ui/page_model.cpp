// Decoding the page document into the page records. Every key the views read must be there with
// its JSON type; the first key that is missing or of another type fails the whole document.
#include "page_model.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cmath>
#include <limits>

namespace gmui {
namespace {

// One JSON object read strictly: a getter for a key that is absent or of another type returns a
// default and clears the shared `ok` flag, so a record is read straight through and checked once.
class Obj {
 public:
  Obj(const QJsonValue& v, bool& ok) : ok_(ok) {
    if (v.isObject()) {
      o_ = v.toObject();
    } else {
      ok_ = false;
    }
  }

  bool has(const char* k) const { return o_.contains(QLatin1String(k)); }
  QJsonValue value(const char* k) const { return o_.value(QLatin1String(k)); }

  QString str(const char* k) {
    const QJsonValue v = value(k);
    if (!v.isString()) return fail<QString>();
    return v.toString();
  }
  bool flag(const char* k) {
    const QJsonValue v = value(k);
    if (!v.isBool()) return fail<bool>();
    return v.toBool();
  }
  int num(const char* k) {
    const QJsonValue v = value(k);
    if (!v.isDouble()) return fail<int>();
    const double d = v.toDouble();
    if (d != std::floor(d) || d < std::numeric_limits<int>::min() ||
        d > std::numeric_limits<int>::max()) {
      return fail<int>();
    }
    return static_cast<int>(d);
  }
  QJsonArray arr(const char* k) {
    const QJsonValue v = value(k);
    if (!v.isArray()) return fail<QJsonArray>();
    return v.toArray();
  }
  bool& ok() { return ok_; }

 private:
  template <typename T>
  T fail() {
    ok_ = false;
    return T{};
  }
  QJsonObject o_;
  bool& ok_;
};

// Each element of `a` through `read`; a non-object element fails the document.
template <typename T, typename Read>
QVector<T> list(const QJsonArray& a, bool& ok, Read read) {
  QVector<T> out;
  out.reserve(a.size());
  for (const QJsonValue& v : a) {
    Obj o(v, ok);
    if (!ok) break;
    out.push_back(read(o));
  }
  return out;
}

Header header(Obj o) {
  return {o.str("sub"), o.str("pill"), o.str("tone"), o.flag("edge")};
}

Menu menu(Obj o) {
  return {o.str("state"), o.str("tone")};
}

Step step(Obj& o) {
  Step s;
  s.done = o.flag("done");
  s.active = o.flag("active");
  s.title = o.str("title");
  s.detail = o.str("detail");
  s.start = o.flag("start");
  s.install = o.flag("install");
  return s;
}

Lv1 lv1(Obj o) {
  Lv1 l;
  l.found = o.flag("found");
  l.version = o.str("version");
  l.up = o.flag("up");
  l.canStart = o.flag("canStart");
  l.slots = list<Slot>(o.arr("slots"), o.ok(), [](Obj& s) {
    const bool ok = s.flag("ok");
    return Slot{ok, s.str("text")};
  });
  return l;
}

Perm perm(Obj o) {
  Perm p;
  p.open = o.flag("open");
  p.summary = o.str("summary");
  p.tone = o.str("tone");
  p.rows = list<PermRow>(o.arr("rows"), o.ok(), [](Obj& r) {
    PermRow row;
    row.title = r.str("title");
    row.desc = r.str("desc");
    row.state = r.str("state");
    row.tone = r.str("tone");
    row.btn = r.str("btn");
    row.action = r.str("action");
    row.note = r.str("note");
    return row;
  });
  return p;
}

Notice notice(Obj o) {
  Notice n;
  n.kind = o.str("kind");
  n.head = o.str("head");
  n.body = o.str("body");
  n.btn = o.str("btn");
  n.action = o.str("action");
  n.enabled = o.flag("enabled");
  n.note = o.str("note");
  return n;
}

Gate gate(Obj o) {
  return {o.str("kind"), o.str("head"), o.str("body")};
}

Addr addr(Obj o) {
  Addr a;
  a.set = o.str("set");
  a.can = o.flag("can");
  a.band = o.flag("band");
  a.btn = o.str("btn");
  a.shortBtn = o.str("short");
  a.desc = o.str("desc");
  a.title = o.str("title");
  a.body = o.str("body");
  a.placeholder = o.str("placeholder");
  return a;
}

Confirm confirm(Obj o) {
  return {o.str("title"), o.str("body"), o.str("ok")};
}

Card card(Obj& o) {
  Card c;
  c.c = o.num("c");
  c.name = o.str("name");
  c.beta = o.flag("beta");
  c.meta = o.str("meta");
  c.status = o.str("status");
  c.dot = o.str("dot");
  c.edge = o.str("edge");
  c.state = o.num("state");
  c.on = o.flag("on");
  c.switchEnabled = o.flag("switchEnabled");
  c.msg = o.str("msg");
  c.msgTone = o.str("msgTone");
  c.retry = o.flag("retry");
  c.support = o.flag("support");
  c.installed = o.flag("installed");
  c.recall = o.flag("recall");
  c.resyncLv1 = o.flag("resyncLv1");
  c.cands = list<Cand>(o.arr("cands"), o.ok(), [](Obj& d) {
    Cand cand;
    cand.head = d.str("head");
    cand.sub = d.str("sub");
    cand.card = d.flag("card");
    cand.id = d.str("id");
    return cand;
  });
  c.details = list<Detail>(o.arr("details"), o.ok(), [](Obj& d) {
    Detail row;
    row.k = d.str("k");
    row.v = d.str("v");
    row.mono = d.flag("mono");
    return row;
  });
  c.recallDesc = o.str("recallDesc");
  c.dropTitle = o.str("dropTitle");
  c.dropDesc = o.str("dropDesc");
  c.summary = o.str("summary");
  c.confirmOff = confirm(Obj(o.value("confirmOff"), o.ok()));
  c.addr = addr(Obj(o.value("addr"), o.ok()));
  return c;
}

ConfirmRemove confirm_remove(Obj o) {
  ConfirmRemove r;
  r.title = o.str("title");
  r.body = o.str("body");
  r.ok = o.str("ok");
  r.list = list<RemoveItem>(o.arr("list"), o.ok(), [](Obj& i) {
    RemoveItem item;
    item.name = i.str("name");
    item.card = i.str("card");
    item.beta = i.flag("beta");
    return item;
  });
  return r;
}

// The keys only a demo scenario writes; each may be absent, but not of another type.
void demo_keys(Obj& o, Page& p) {
  if (o.has("fakeModal")) p.fakeModal = o.str("fakeModal");
  if (o.has("fakeModalCon")) p.fakeModalCon = o.num("fakeModalCon");
  if (!o.has("fakeOpen")) return;
  const QJsonArray a = o.arr("fakeOpen");
  QVector<bool> open;
  for (const QJsonValue& v : a) {
    if (!v.isBool()) o.ok() = false;
    open.push_back(v.toBool());
  }
  if (open.size() != 2) o.ok() = false;
  p.fakeOpen = open;
}

}  // namespace

std::optional<Page> decode_page(const QByteArray& json) {
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
  if (err.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  bool ok = true;
  Obj o(doc.object(), ok);
  Page p;
  p.header = header(Obj(o.value("header"), ok));
  p.menu = menu(Obj(o.value("menu"), ok));
  p.steps = list<Step>(o.arr("steps"), ok, step);
  p.lv1 = lv1(Obj(o.value("lv1"), ok));
  p.perm = perm(Obj(o.value("perm"), ok));
  if (o.has("notice")) p.notice = notice(Obj(o.value("notice"), ok));
  p.nothing = o.flag("nothing");
  p.installAnyway = o.flag("installAnyway");
  p.nothingAddr = list<NothingAddr>(o.arr("nothingAddr"), ok, [](Obj& n) {
    NothingAddr a;
    a.c = n.num("c");
    a.btn = n.str("btn");
    a.addr = addr(Obj(n.value("addr"), n.ok()));
    return a;
  });
  if (o.has("netGate")) p.netGate = gate(Obj(o.value("netGate"), ok));
  p.cards = list<Card>(o.arr("cards"), ok, card);
  p.confirmRemove = confirm_remove(Obj(o.value("confirmRemove"), ok));
  p.message = o.str("message");
  p.messageBad = o.flag("messageBad");
  p.anyInstalled = o.flag("anyInstalled");
  p.lv1Up = o.flag("lv1Up");
  p.version = o.str("version");
  p.busy = o.flag("busy");
  demo_keys(o, p);
  if (!ok) return std::nullopt;
  return p;
}

MarkState mark_state(const QString& tone) {
  if (tone == QLatin1String("ok")) return MarkState::linked;
  if (tone == QLatin1String("warn")) return MarkState::attention;
  if (tone == QLatin1String("bad")) return MarkState::lost;
  return MarkState::searching;
}

}  // namespace gmui
