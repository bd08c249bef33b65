// The page model against the core's own documents (the golden page of every demo scenario): each
// decodes, and taking away any key the views read, or giving it another JSON type, makes the
// whole document fail, so that the page keeps what it showed.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <functional>

#include "page_model.h"

namespace {

// A value of another JSON type than v.
QJsonValue retyped(const QJsonValue& v) {
  if (v.isString()) return 42;
  if (v.isDouble()) return QStringLiteral("7");
  if (v.isArray()) return QJsonObject();
  if (v.isObject()) return QJsonArray();
  return QStringLiteral("true");
}

const QStringList kUnread = {"legacyAny", "confirmUpdate", "blink"};
const QStringList kOptional = {"notice", "netGate", "fakeModal", "fakeModalCon", "fakeOpen"};

using Visit = std::function<void(const QJsonValue& changed, const QString& where, bool decodes)>;

// Every copy of v with one key removed or one value retyped, anywhere below v.
void mutations(const QJsonValue& v, const QString& where, const Visit& visit) {
  const bool object = v.isObject();
  const QJsonObject o = v.toObject();
  const QJsonArray a = v.toArray();
  const QStringList keys = object ? o.keys() : QStringList();
  const qsizetype n = object ? keys.size() : a.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QString k = object ? keys[i] : QString();
    const QString at = where + (object ? QLatin1Char('.') + k : QStringLiteral("[%1]").arg(i));
    if (kUnread.contains(k)) continue;  // any value, or none, will do
    // v with its member replaced by `member`, or removed when `member` is undefined.
    const auto with = [&](const QJsonValue& member) -> QJsonValue {
      if (!object) {
        QJsonArray c = a;
        c[i] = member;
        return c;
      }
      QJsonObject c = o;
      if (member.isUndefined()) {
        c.remove(k);
      } else {
        c[k] = member;
      }
      return c;
    };
    const QJsonValue child = object ? o[k] : a[i];
    if (object) visit(with(QJsonValue::Undefined), at + " removed", kOptional.contains(k));
    visit(with(retyped(child)), at + " retyped", false);
    mutations(child, at,
              [&](const QJsonValue& c, const QString& w, bool d) { visit(with(c), w, d); });
  }
}

TEST(PageModel, EveryScenarioDecodesAndAMissingOrRetypedKeyFailsIt) {
  const QDir dir(QStringLiteral(GM_SOURCE_DIR "/tests/golden"));
  int pages = 0, checked = 0;
  for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files)) {
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    const auto page = gmui::decode_page(text);
    ASSERT_TRUE(page) << name.toStdString();
    ++pages;
    mutations(QJsonDocument::fromJson(text).object(), name,
              [&](const QJsonValue& changed, const QString& where, bool decodes) {
                ++checked;
                const QJsonDocument doc(changed.toObject());
                EXPECT_EQ(gmui::decode_page(doc.toJson()).has_value(), decodes)
                    << where.toStdString();
              });
  }
  EXPECT_GE(pages, 40);
  EXPECT_GT(checked, 10000);
  EXPECT_FALSE(gmui::decode_page("[]"));
}

}  // namespace
