// The drawing tools: a demo scenario's page as a PNG (--render), and the app icon's image set
// (--make-iconset). Both draw without a display: unless the caller chose a platform, Qt's
// offscreen one is used.
#include "render_tool.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <cstring>
#include <string>

#include "api.h"
#include "setup_view.h"
#include "store.h"
#include "theme.h"

namespace gmui {

namespace {

int fail(const std::string& line, int code) {
  std::fprintf(stderr, "%s\n", line.c_str());
  return code;
}

void useOffscreenUnlessChosen() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

struct RenderArgs {
  QString scenario, out;
  bool details = false;
  int width = kPageWidth;
  double scale = 1.0;
};

// Reads --render's arguments; false (with the reason) for anything it does not know.
bool parseRender(int argc, char** argv, RenderArgs& a, std::string& err) {
  if (argc < 4) {
    err = "usage: Gainmesh --render SCENARIO OUT [--details] [--width W] [--scale S]";
    return false;
  }
  a.scenario = QString::fromLocal8Bit(argv[2]);
  a.out = QString::fromLocal8Bit(argv[3]);
  for (int i = 4; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--details") {
      a.details = true;
    } else if ((arg == "--width" || arg == "--scale") && i + 1 < argc) {
      bool ok = false;
      const QString v = QString::fromLocal8Bit(argv[++i]);
      if (arg == "--width") {
        a.width = v.toInt(&ok);
        ok = ok && a.width >= 200 && a.width <= 4000;
      } else {
        a.scale = v.toDouble(&ok);
        ok = ok && a.scale >= 0.25 && a.scale <= 8;
      }
      if (!ok) {
        err = "bad " + arg + " value " + v.toStdString();
        return false;
      }
    } else {
      err = "unknown argument " + arg;
      return false;
    }
  }
  return true;
}

int render(int argc, char** argv) {
  RenderArgs a;
  std::string err;
  if (!parseRender(argc, argv, a, err)) return fail(err, 2);
  if (!gm_fake(argv[2])) return fail("unknown scenario " + std::string(argv[2]), 2);
  useOffscreenUnlessChosen();
  QApplication app(argc, argv);
  Store store;
  store.refresh();
  // The build's id would make every picture differ from the last one at each commit.
  if (store.page()) {
    const QString version = store.page()->version;
    const qsizetype dot = version.lastIndexOf(QStringLiteral(" \u00B7 "));
    store.setVersionLine((dot < 0 ? version : version.left(dot)) + QStringLiteral(" \u00B7 demo"));
  }
  if (a.details) {
    store.setOpen(0, true);
    store.setOpen(1, true);
  }
  SetupView view(store);
  if (!renderPNG(view, a.width, a.out, a.scale))
    return fail("could not write " + a.out.toStdString(), 1);
  return 0;
}

// The app icon at `px` pixels: the mark in the "ok" colour on a rounded dark panel.
QImage icon(int px) {
  QImage img(px, px, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  // The panel leaves the margin macOS icons keep around their body.
  const qreal inset = px * 0.1;
  const QRectF body(inset, inset, px - 2 * inset, px - 2 * inset);
  QPainterPath shape;
  shape.addRoundedRect(body, body.width() * 0.225, body.width() * 0.225);
  p.fillPath(shape, theme::panel());
  p.setPen(QPen(theme::line(), std::max<qreal>(1, px / 128.0)));
  p.drawPath(shape);
  const qreal m = body.width() * 0.17;
  Mark::paint(p, body.adjusted(m, m, -m, -m), MarkState::linked, tone("ok"));
  return img;
}

int makeIconset(int, char** argv) {
  const QString dir = QString::fromLocal8Bit(argv[2]);
  if (!QDir().mkpath(dir)) return fail("could not create " + dir.toStdString(), 1);
  useOffscreenUnlessChosen();
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);
  for (int size : {16, 32, 128, 256, 512}) {
    const QString base = QString("%1/icon_%2x%2").arg(dir).arg(size);
    if (!icon(size).save(base + ".png", "PNG") || !icon(2 * size).save(base + "@2x.png", "PNG"))
      return fail("could not write " + base.toStdString() + ".png", 1);
  }
  return 0;
}

}  // namespace

bool is_render_tool(int argc, char** argv) {
  return argc >= 3 &&
         (std::strcmp(argv[1], "--render") == 0 || std::strcmp(argv[1], "--make-iconset") == 0);
}

int run_render_tool(int argc, char** argv) {
  if (std::strcmp(argv[1], "--make-iconset") == 0) return makeIconset(argc, argv);
  return render(argc, argv);
}

}  // namespace gmui
