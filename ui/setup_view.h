// The Setup window's page: every view of the dashboard drawn from the Store's page, and the
// dialogs laid over it. The view holds no dashboard logic: each text comes from the page
// document; gestures call Store operations.
//
// Threads: GUI thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

namespace gmui {

class Store;
struct Page;

// Layout constants, in points.
inline constexpr int kPageWidth = 628;   // the window's first width and the default render width
inline constexpr int kMinWidth = 540;    // the narrowest page
inline constexpr int kMaxContent = 900;  // the widest the content grows

// The page scrolls inside the view; its content is never narrower than kMinWidth (the view then
// scrolls sideways) and never wider than kMaxContent (it is then centred). A part of the page is
// rebuilt only when what it shows changed, so hover and focus survive the once-a-second refresh.
class SetupView : public QWidget {
  Q_OBJECT
 public:
  // Draws the store's page now and again whenever the store emits changed(). `store` outlives
  // the view.
  explicit SetupView(Store& store, QWidget* parent = nullptr);
  ~SetupView() override;

  // The height that shows the whole page (and an open dialog) at `width` without scrolling.
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  void redraw();
  void redrawCards(const Page& page, bool blocked);
  void redrawModal();
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// Lays `view` out at `width` and its fitting height (heightForWidth, else sizeHint), draws it at
// `scale` device pixels per point on the page colour and writes a PNG of width * scale pixels.
// False when `width` or `scale` is not positive or the file cannot be written.
bool renderPNG(QWidget& view, int width, const QString& path, double scale);

}  // namespace gmui
