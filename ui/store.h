// The Store: the one object between the views and the core. It holds the decoded page, which
// console cards are open, the dialog shown over the page and whether a queued core call is still
// working, and turns every user gesture into a call of a gm_* entry point.
//
// Threads: every member function is called on the GUI thread, and `changed` is emitted there.
// Calls that may block (scan, network request, switching, install, reinstall, remove, support
// file, retry) run one at a time on the store's own work thread ("queued"): `working` is true
// from the gesture until the call has returned and the page was refreshed. gm_snapshot is called
// only on the GUI thread.
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
  explicit Store(QObject* parent = nullptr);
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
  // working and refresh.
  void run(std::function<void()> job);

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
  void saveSupport();  // queued gm_save_support; on success the file is revealed

 signals:
  // The page, open, modal or working changed; views redraw from the store.
  void changed();
  // A support file was written (GUI thread), with its path.
  void supportSaved(const QString& path);

 private:
  std::optional<Page> page_;
  bool open_[2] = {false, false};
  std::optional<Modal> modal_;
  bool working_ = false;
  struct Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace gmui
