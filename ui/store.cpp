// The Store: user gestures to core entry points, the work thread for the calls that block, and
// the page decoded from each snapshot.
#include "store.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QThreadPool>
#include <QUrl>
#include <string>

#include "api.h"

namespace gmui {
namespace {

constexpr const char* kNetworkSettingsUrl =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_LocalNetwork";

constexpr int kRevealTimeoutMs = 10000;

bool valid(int index) {
  return index == 0 || index == 1;
}

// The dialog a demo scenario names, or none for "" and names without a dialog of their own.
std::optional<Modal> demo_modal(const QString& name, int con) {
  if (name == QLatin1String("remove")) return Modal{Modal::remove, 0};
  if (name == QLatin1String("perms")) return Modal{Modal::permissions, 0};
  if (name == QLatin1String("addr")) return Modal{Modal::address, con};
  if (name == QLatin1String("off")) return Modal{Modal::off, con};
  return std::nullopt;
}

}  // namespace

// One thread that runs the queued calls in the order they were queued.
struct Store::Worker {
  QThreadPool pool;
  Worker() {
    pool.setMaxThreadCount(1);
    pool.setObjectName(QStringLiteral("org.ambervale.gainmesh.work"));
  }
};

Store::Store(QObject* parent) : Store([] { return QByteArray(gm_snapshot()); }, parent) {}

Store::Store(Snapshot snapshot, QObject* parent)
    : QObject(parent), snapshot_(std::move(snapshot)), worker_(std::make_unique<Worker>()) {}

// A result still on its way back is dropped with this object's posted events.
Store::~Store() {
  worker_->pool.waitForDone();
}

bool Store::open(int index) const {
  return valid(index) && open_[index];
}

void Store::setOpen(int index, bool open) {
  if (!valid(index) || open_[index] == open) return;
  open_[index] = open;
  Q_EMIT changed();
}

void Store::showModal(const Modal& modal) {
  modal_ = modal;
  Q_EMIT changed();
}

bool Store::reload() {
  const QByteArray text = snapshot_();
  if (page_ && text == text_) return false;
  std::optional<Page> page = decode_page(text);
  if (!page) return false;
  text_ = text;
  if (!versionLine_.isEmpty()) page->version = versionLine_;
  applyDemoKeys(*page);
  page_ = std::move(page);
  return true;
}

void Store::refresh() {
  if (reload()) Q_EMIT changed();
}

void Store::applyDemoKeys(const Page& p) {
  if (p.fakeOpen && p.fakeOpen != demoOpen_) {
    open_[0] = p.fakeOpen->value(0);
    open_[1] = p.fakeOpen->value(1);
  }
  demoOpen_ = p.fakeOpen;
  if (p.fakeModal && (p.fakeModal != demoModal_ || p.fakeModalCon != demoModalCon_)) {
    modal_ = demo_modal(*p.fakeModal, p.fakeModalCon.value_or(0));
  }
  demoModal_ = p.fakeModal;
  demoModalCon_ = p.fakeModalCon;
}

void Store::setVersionLine(const QString& line) {
  versionLine_ = line;
  text_.clear();
  refresh();
}

void Store::run(std::function<void()> job, std::function<void()> done) {
  ++queued_;
  if (!working_) {
    working_ = true;
    Q_EMIT changed();
  }
  worker_->pool.start([this, job = std::move(job), done = std::move(done)]() {
    job();
    QMetaObject::invokeMethod(
        this,
        [this, done]() {
          --queued_;
          if (done) done();
          working_ = queued_ > 0;
          reload();
          Q_EMIT changed();
        },
        Qt::QueuedConnection);
  });
}

void Store::run(std::function<void()> job) {
  run(std::move(job), nullptr);
}

void Store::waitForWork() {
  worker_->pool.waitForDone();
}

void Store::scan() {
  run([] { gm_scan(); });
}

void Store::allowNetwork() {
  run([] { gm_request_network(); });
}

void Store::openNetworkSettings() {
  QDesktopServices::openUrl(QUrl(QString::fromLatin1(kNetworkSettingsUrl)));
}

void Store::permAction(const QString& action) {
  if (action == QLatin1String("allow")) {
    allowNetwork();
  } else if (action == QLatin1String("settings")) {
    openNetworkSettings();
  }
}

void Store::toggle(int index) {
  if (!valid(index)) return;
  auto asked = std::make_shared<int>(0);
  run([index, asked] { *asked = gm_switch(index); },
      [this, index, asked] {
        if (*asked == 1) modal_ = Modal{Modal::off, index};
      });
}

void Store::confirm() {
  if (!modal_) return;
  const Modal m = *modal_;
  modal_.reset();
  Q_EMIT changed();
  if (m.kind == Modal::off) {
    const int index = m.index;
    run([index] { gm_switch_off(index); });
  } else if (m.kind == Modal::remove) {
    run([] { gm_remove(); });
  }
}

void Store::cancel() {
  if (!modal_) return;
  modal_.reset();
  Q_EMIT changed();
}

void Store::setRecall(int index, bool on) {
  gm_set_recall(index, on ? 1 : 0);
  refresh();
}

void Store::setResync(int index, bool lv1) {
  gm_set_resync(index, lv1 ? 1 : 0);
  refresh();
}

void Store::retry(int index) {
  run([index] { gm_retry(index); });
}

void Store::pick(int index, const QString& id) {
  gm_pick(index, id.toUtf8().constData());
  refresh();
}

std::optional<QString> Store::setIp(const QString& text, int index) {
  char buf[256] = {};
  if (gm_set_ip(index, text.toUtf8().constData(), buf, sizeof buf)) {
    modal_.reset();
    reload();
    Q_EMIT changed();
    return std::nullopt;
  }
  refresh();
  return QString::fromUtf8(buf);
}

void Store::clearIp(int index) {
  gm_clear_ip(index);
  refresh();
}

void Store::install() {
  run([] { gm_install(); });
}

void Store::reinstall() {
  run([] { gm_reinstall(); });
}

void Store::startLv1() {
  gm_start_lv1();
  refresh();
}

void Store::saveSupport() {
  auto path = std::make_shared<std::string>();
  run(
      [path] {
        char buf[1024] = {};
        if (gm_save_support(buf, sizeof buf)) *path = buf;
      },
      [this, path] {
        if (path->empty()) return;
        const QString file = QString::fromStdString(*path);
        reveal_file(file);
        Q_EMIT supportSaved(file);
      });
}

void reveal_file(const QString& path) {
  const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    QDesktopServices::openUrl(folder);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"),
      QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
  // Answered later: a file manager that D-Bus has to start first must not hold up the window.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kRevealTimeoutMs));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                   [folder](QDBusPendingCallWatcher* w) {
                     if (w->isError()) QDesktopServices::openUrl(folder);
                     w->deleteLater();
                   });
}

}  // namespace gmui
