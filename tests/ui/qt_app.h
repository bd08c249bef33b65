// The one QApplication of a shell test process, on Qt's offscreen platform, and waiting for the
// Store's queued calls to come back through the event loop.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <cstdlib>

#include "store.h"

namespace gmtest {

inline QApplication& qt_app() {
  static int argc = 1;
  static char name[] = "gainmesh-ui-test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    auto* a = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return a;
  }();
  return *app;
}

// Runs the event loop until the store has no queued call left (false after `ms`).
inline bool settle(gmui::Store& store, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  do {
    store.waitForWork();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  } while (store.working() && t.elapsed() < ms);
  return !store.working();
}

}  // namespace gmtest
