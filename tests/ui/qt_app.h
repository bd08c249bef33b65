// The one QApplication of a shell test process, on the offscreen platform (CTest sets it; a
// test binary run by hand falls back to it), and waiting for the Store's queued calls to come
// back through the event loop.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <cstdlib>

#include "store.h"

namespace gmtest {

inline void qt_app() {
  static int argc = 1;
  static char* argv[] = {const_cast<char*>("gainmesh-ui-test"), nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return new QApplication(argc, argv);
  }();
  app->setQuitOnLastWindowClosed(false);
}

// False when the store still works after `ms`.
inline bool settle(gmui::Store& store, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  while (store.working() && t.elapsed() < ms) {
    store.waitForWork();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return !store.working();
}

}  // namespace gmtest
