// Showing a saved support file: the freedesktop file manager's ShowItems call on a session bus of
// the test's own (dbus-daemon), and the folder opened instead when no file manager answers.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QUrl>
#include <cstdio>

#include "qt_app.h"
#include "store.h"

namespace {

// Receives what the desktop would open for a file: URL.
class Opened : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public Q_SLOTS:
  void open(const QUrl& url) { urls << url; }
};

// org.freedesktop.FileManager1 as a file manager offers it, recording each ShowItems call.
class FileManager : public QDBusVirtualObject {
 public:
  QList<QVariantList> calls;
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
    if (m.interface() != "org.freedesktop.FileManager1" || m.member() != "ShowItems") return false;
    calls << m.arguments();
    bus.send(m.createReply());
    return true;
  }
};

// A session bus for this process only.
class Bus {
 public:
  Bus() {
    FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    if (!out) return;
    char line[512] = {};
    if (fgets(line, sizeof line, out)) address_ = QString::fromLocal8Bit(line).trimmed();
    if (fgets(line, sizeof line, out)) pid_ = atoi(line);
    pclose(out);
  }
  ~Bus() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  const QString& address() const { return address_; }

 private:
  QString address_;
  int pid_ = 0;
};

bool waitFor(const std::function<bool()>& done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

TEST(RevealTest, TheFileManagerShowsTheFileOrTheFolderIsOpened) {
  Bus bus;
  if (bus.address().isEmpty()) GTEST_SKIP() << "dbus-daemon did not start";
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLocal8Bit());
  gmtest::qt_app();
  Opened opened;
  QDesktopServices::setUrlHandler("file", &opened, "open");
  const QString file = "/tmp/Gainmesh support/Gainmesh-support-20260101-120000.zip";

  // No file manager on the bus: the folder is opened.
  gmui::reveal_file(file);
  ASSERT_TRUE(waitFor([&] { return !opened.urls.isEmpty(); }));
  EXPECT_EQ(opened.urls.value(0), QUrl::fromLocalFile("/tmp/Gainmesh support"));

  QDBusConnection fm = QDBusConnection::connectToBus(bus.address(), "file-manager");
  ASSERT_TRUE(fm.isConnected());
  FileManager manager;
  ASSERT_TRUE(fm.registerVirtualObject("/org/freedesktop/FileManager1", &manager));
  ASSERT_TRUE(fm.registerService("org.freedesktop.FileManager1"));
  opened.urls.clear();
  gmui::reveal_file(file);
  ASSERT_TRUE(waitFor([&] { return !manager.calls.isEmpty(); }));
  const QVariantList args = manager.calls.value(0);
  ASSERT_EQ(args.size(), 2);
  EXPECT_EQ(args[0].toStringList(),
            QStringList{"file:///tmp/Gainmesh%20support/Gainmesh-support-20260101-120000.zip"});
  EXPECT_EQ(args[1].toString(), "");
  QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
  EXPECT_TRUE(opened.urls.isEmpty()) << "shown, so the folder stays closed";
  QDesktopServices::unsetUrlHandler("file");
  QDBusConnection::disconnectFromBus("file-manager");
}

}  // namespace

#include "test_reveal.moc"
