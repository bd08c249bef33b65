// The Setup window's page: every view of the dashboard drawn from the Store's page, and the
// dialogs laid over it. The view holds no dashboard logic: each text comes from the page
// document; gestures call Store operations.
//
// Threads: GUI thread only.
#pragma once

#include <QString>
#include <QWidget>

namespace gmui {

class Store;

// Layout constants, in points.
inline constexpr int kPageWidth = 628;  // the window's first width and the default render width
inline constexpr int kMinWidth = 540;   // the narrowest page
inline constexpr int kMaxContent = 900;  // the widest the content grows

class SetupView : public QWidget {
  Q_OBJECT
 public:
  // Redraws from `store` whenever it emits changed().
  explicit SetupView(Store& store, QWidget* parent = nullptr);
};

// Lays `view` out at `width` and its fitting height, draws it at `scale` and writes a PNG.
bool renderPNG(QWidget& view, int width, const QString& path, double scale);

}  // namespace gmui
