// The Setup window's page (first cut: the view and the PNG renderer).
#include "setup_view.h"

#include <QImage>
#include <QLayout>

#include "store.h"
#include "theme.h"

namespace gmui {

SetupView::SetupView(Store& store, QWidget* parent) : QWidget(parent) {
  (void)store;
}

bool renderPNG(QWidget& view, int width, const QString& path, double scale) {
  view.resize(width, 100);
  if (view.layout()) view.layout()->activate();
  const int height =
      view.hasHeightForWidth() ? view.heightForWidth(width) : view.sizeHint().height();
  view.resize(width, std::max(1, height));
  QImage img(qRound(width * scale), qRound(view.height() * scale),
             QImage::Format_ARGB32_Premultiplied);
  img.setDevicePixelRatio(scale);
  img.fill(theme::page());
  view.render(&img);
  return img.save(path, "PNG");
}

}  // namespace gmui
