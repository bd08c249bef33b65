// The page model against the core's own documents (the golden page of every demo scenario): each
// decodes, its records carry the document's values, and taking away any key the views read, or
// giving it another JSON type, makes the whole document fail so the page keeps what it showed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <functional>

#include "page_model.h"

namespace {

using gmui::decode_page;

QByteArray golden(const QString& name) {
  QFile f(QStringLiteral(GM_SOURCE_DIR "/tests/golden/") + name + QStringLiteral(".json"));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
  return f.readAll().trimmed();
}

QStringList golden_names() {
  QStringList names = QDir(QStringLiteral(GM_SOURCE_DIR "/tests/golden"))
                          .entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
  for (QString& n : names) n.chop(5);
  return names;
}

// A value of another JSON type than v.
QJsonValue retyped(const QJsonValue& v) {
  switch (v.type()) {
    case QJsonValue::String:
      return 42;
    case QJsonValue::Double:
      return QStringLiteral("7");
    case QJsonValue::Bool:
      return QStringLiteral("true");
    case QJsonValue::Array:
      return QJsonObject();
    case QJsonValue::Object:
      return QJsonArray();
    default:
      return false;
  }
}

// Keys the views never read, and keys a document may leave out.
bool unread(const QString& k) {
  return k == QLatin1String("legacyAny") || k == QLatin1String("confirmUpdate") ||
         k == QLatin1String("blink");
}
bool optional_key(const QString& k) {
  return k == QLatin1String("notice") || k == QLatin1String("netGate") ||
         k == QLatin1String("fakeModal") || k == QLatin1String("fakeModalCon") ||
         k == QLatin1String("fakeOpen");
}

// One changed copy of a document: where the change is and whether the document still decodes.
using Visit = std::function<void(const QJsonValue& changed, const QString& where, bool decodes)>;

// Every copy of v with one key removed or one value retyped, anywhere below v.
void mutations(const QJsonValue& v, const QString& where, const Visit& visit) {
  if (v.isObject()) {
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
      const QString k = it.key();
      const QString at = where + QLatin1Char('.') + k;
      QJsonObject removed = o;
      removed.remove(k);
      visit(removed, at + QStringLiteral(" removed"), unread(k) || optional_key(k));
      QJsonObject changed = o;
      changed[k] = retyped(it.value());
      visit(changed, at + QStringLiteral(" retyped"), unread(k));
      if (unread(k)) continue;
      mutations(it.value(), at, [&](const QJsonValue& inner, const QString& w, bool decodes) {
        QJsonObject copy = o;
        copy[k] = inner;
        visit(copy, w, decodes);
      });
    }
  } else if (v.isArray()) {
    const QJsonArray a = v.toArray();
    for (qsizetype i = 0; i < a.size(); ++i) {
      const QString at = where + QStringLiteral("[%1]").arg(i);
      QJsonArray changed = a;
      changed[i] = retyped(a[i]);
      visit(changed, at + QStringLiteral(" retyped"), false);
      mutations(a[i], at, [&](const QJsonValue& inner, const QString& w, bool decodes) {
        QJsonArray copy = a;
        copy[i] = inner;
        visit(copy, w, decodes);
      });
    }
  }
}

TEST(PageModel, EveryScenarioPageDecodes) {
  const QStringList names = golden_names();
  ASSERT_GE(names.size(), 40);
  for (const QString& name : names) {
    EXPECT_TRUE(decode_page(golden(name)).has_value()) << name.toStdString();
  }
}

TEST(PageModel, RecordsCarryTheDocumentsValues) {
  const auto rig = decode_page(golden(QStringLiteral("setup-rig")));
  ASSERT_TRUE(rig);
  EXPECT_EQ(rig->menu.state, rig->header.pill);
  ASSERT_EQ(rig->cards.size(), 2);
  EXPECT_EQ(rig->cards[0].c, 0);
  EXPECT_EQ(rig->cards[1].c, 1);
  EXPECT_TRUE(rig->cards[1].beta);
  EXPECT_EQ(rig->cards[1].state, 6);
  EXPECT_EQ(rig->cards[0].addr.shortBtn, QStringLiteral("Set\u2026"));
  EXPECT_EQ(rig->cards[0].addr.placeholder, QStringLiteral("e.g. 192.168.1.20"));
  EXPECT_EQ(rig->cards[0].details.size(), 4);
  EXPECT_EQ(rig->cards[0].details[3].k, QStringLiteral("Module"));
  EXPECT_TRUE(rig->cards[0].details[3].mono);
  EXPECT_EQ(rig->cards[0].confirmOff.ok, QStringLiteral("Switch off"));
  EXPECT_EQ(rig->perm.rows.size(), 4);
  EXPECT_FALSE(rig->notice);
  EXPECT_FALSE(rig->netGate);
  ASSERT_TRUE(rig->fakeOpen);
  EXPECT_EQ(*rig->fakeOpen, (QVector<bool>{true, false}));
  EXPECT_EQ(rig->fakeModal, QString());

  const auto nothing = decode_page(golden(QStringLiteral("setup-nothing-addr-open")));
  ASSERT_TRUE(nothing);
  EXPECT_TRUE(nothing->nothing);
  EXPECT_TRUE(nothing->cards.isEmpty());
  ASSERT_FALSE(nothing->nothingAddr.isEmpty());
  EXPECT_EQ(nothing->nothingAddr.back().c, 1);
  EXPECT_EQ(nothing->nothingAddr.back().btn, QStringLiteral("X32 / M32 address\u2026"));
  EXPECT_EQ(nothing->fakeModal, QStringLiteral("addr"));
  EXPECT_EQ(nothing->fakeModalCon, 1);

  const auto ask = decode_page(golden(QStringLiteral("setup-netask")));
  ASSERT_TRUE(ask && ask->netGate);
  EXPECT_EQ(ask->netGate->kind, QStringLiteral("info"));
  EXPECT_EQ(ask->perm.rows[0].action, QStringLiteral("allow"));

  const auto blocked = decode_page(golden(QStringLiteral("setup-blocked")));
  ASSERT_TRUE(blocked && blocked->notice);
  EXPECT_EQ(blocked->notice->action, QStringLiteral("reinstall"));
}

// Every key of every scenario's page, taken away or given another type, one at a time.
TEST(PageModel, AMissingOrRetypedKeyFailsTheWholeDocument) {
  int checked = 0;
  for (const QString& name : golden_names()) {
    const QJsonObject doc = QJsonDocument::fromJson(golden(name)).object();
    mutations(doc, name, [&](const QJsonValue& changed, const QString& where, bool decodes) {
      ++checked;
      const QByteArray text = QJsonDocument(changed.toObject()).toJson(QJsonDocument::Compact);
      EXPECT_EQ(decode_page(text).has_value(), decodes) << where.toStdString();
    });
  }
  EXPECT_GT(checked, 10000);
}

TEST(PageModel, TextsThatAreNoPageFail) {
  const QByteArray rig = golden(QStringLiteral("setup-rig"));
  const QByteArray cases[] = {
      "",
      "null",
      "[]",
      "\"page\"",
      rig.left(rig.size() / 2),
      rig + "}",
      QByteArray(rig).replace("\"c\":1,", "\"c\":1.5,"),
      QByteArray(rig).replace("\"c\":1,", "\"c\":1e12,"),
      QByteArray(rig).replace("\"fakeOpen\":[true,false]", "\"fakeOpen\":[true]"),
      QByteArray(rig).replace("\"fakeOpen\":[true,false]", "\"fakeOpen\":[true,false,true]"),
  };
  for (const QByteArray& text : cases) {
    EXPECT_FALSE(decode_page(text).has_value()) << text.left(80).toStdString();
  }
  // Keys the model does not know are no reason to fail.
  EXPECT_TRUE(decode_page(QByteArray(rig).replace("{\"header\":", "{\"later\":[1],\"header\":")));
}

TEST(PageModel, ToneWordsSelectTheMark) {
  using gmui::MarkState;
  EXPECT_EQ(gmui::mark_state(QStringLiteral("ok")), MarkState::linked);
  EXPECT_EQ(gmui::mark_state(QStringLiteral("warn")), MarkState::attention);
  EXPECT_EQ(gmui::mark_state(QStringLiteral("bad")), MarkState::lost);
  for (const char* other : {"dim", "lv1", "info", "", "OK"}) {
    EXPECT_EQ(gmui::mark_state(QString::fromLatin1(other)), MarkState::searching) << other;
  }
}

}  // namespace
