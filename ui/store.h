// The Store: the one object between the views and the core. It holds the decoded page, which
// console cards are open, the dialog shown over the page and whether a queued core call is still
// working, and turns every user gesture into a call of a gm_* entry point.
//
// Threads: every member function is called on the GUI thread, and `changed` is emitted there.
// Calls that may block (scan, network request, switching, install, reinstall, remove, support
// file, retry, and the app tick's update work) run one at a time, in order, on the store's own
// work thread ("queued"): `working`
// is true from the gesture until every queued call has returned and the page was refreshed.
// gm_snapshot is called only on the GUI thread. The other calls (recall, resync, pick, address,
// start LV1) reach the core directly and block the GUI thread for small file reads only.
#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>
#include <optional>

#include "page_model.h"

namespace gmui {

// The dialog over the page. `index` is the console for off and address.
struct Modal {
  enum Kind { off, address, remove, permissions } kind;
  int index = 0;
  bool operator==(const Modal& o) const { return kind == o.kind && index == o.index; }
};

class Store : public QObject {
  Q_OBJECT

 public:
  // Where page documents come from: gm_snapshot, or a test's documents. Called on the GUI thread;
  // the text is copied before the next call.
  using Snapshot = std::function<QByteArray()>;

  explicit Store(QObject* parent = nullptr);
  explicit Store(Snapshot snapshot, QObject* parent = nullptr);
  ~Store() override;  // waits for a queued call to finish

  const std::optional<Page>& page() const { return page_; }
  bool open(int index) const;  // the card shows its details
  void setOpen(int index, bool open);
  const std::optional<Modal>& modal() const { return modal_; }
  void showModal(const Modal& modal);
  bool working() const { return working_; }

  // gm_snapshot, decoded; a text that does not decode leaves the page as it was. In demo mode
  // the document's fakeOpen and fakeModal/fakeModalCon set `open` and `modal`.
  void refresh();
  // The queued pattern: set working, run job on the work thread, then on the GUI thread clear
  // working (once no other call is queued) and refresh.
  void run(std::function<void()> job);
  // run(), with `done` called on the GUI thread after job and before the refresh.
  void run(std::function<void()> job, std::function<void()> done);
  // Draws the page with this version line in place of the document's (a picture that must not
  // change with every build); empty for the document's own.
  void setVersionLine(const QString& line);
  // Blocks until every queued call has returned (their results are then delivered by the event
  // loop). For shutting down and for tests.
  void waitForWork();

  void scan();          // queued gm_scan
  void allowNetwork();  // queued gm_request_network
  void openNetworkSettings();
  void permAction(const QString& action);  // "allow", "settings"; other words do nothing
  void toggle(int index);                  // queued gm_switch; 1 opens the off dialog
  void confirm();                          // off → gm_switch_off, remove → gm_remove (queued)
  void cancel();
  void setRecall(int index, bool on);
  void setResync(int index, bool lv1);
  void retry(int index);  // queued gm_retry
  void pick(int index, const QString& id);
  // gm_set_ip; success closes the dialog and returns nothing, failure returns the text to show.
  std::optional<QString> setIp(const QString& text, int index);
  void clearIp(int index);
  void install();    // queued gm_install
  void reinstall();  // queued gm_reinstall
  void startLv1();
  // Queued gm_save_support; on success the file is shown in the file manager (reveal_file) and
  // supportSaved is emitted. A failure is told by the page's message.
  void saveSupport();

 Q_SIGNALS:
  // The page, open, modal or working changed; views redraw from the store.
  void changed();
  // A support file was written (GUI thread), with its path.
  void supportSaved(const QString& path);

 private:
  // gm_snapshot decoded into page_; true when the page (or a demo key) changed.
  bool reload();
  void applyDemoKeys(const Page& p);

  Snapshot snapshot_;
  QString versionLine_;
  std::optional<Page> page_;
  QByteArray text_;  // the document page_ was decoded from
  bool open_[2] = {false, false};
  std::optional<Modal> modal_;
  bool working_ = false;
  int queued_ = 0;  // queued calls that have not been delivered back
  // The demo keys last applied, so that a dialog the user closes in demo mode stays closed.
  std::optional<QString> demoModal_;
  std::optional<int> demoModalCon_;
  std::optional<QVector<bool>> demoOpen_;
  struct Worker;
  std::unique_ptr<Worker> worker_;
};

// Shows a file in the desktop's file manager, selected: the freedesktop FileManager1 ShowItems
// call on the session bus, or, when no file manager answers it, the folder holding the file opened
// with the desktop's default handler. Never waits for the file manager.
void reveal_file(const QString& path);

}  // namespace gmui
