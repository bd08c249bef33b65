// The Gainmesh executable: the command line first, then the drawing tools, and otherwise the
// menu-bar app with its Setup window, when there is a display to show them on.
#include <QApplication>
#include <QStringList>
#include <cstdio>

#include "api.h"
#include "app.h"
#include "display_check.h"
#include "render_tool.h"

int main(int argc, char** argv) {
  const int cli = gm_cli(argc, argv);
  if (cli >= 0) return cli;
  if (gmui::is_render_tool(argc, argv)) return gmui::run_render_tool(argc, argv);
  // Without a display Qt would abort; say what works instead.
  if (!gmui::display_reachable(gmui::read_display_env(), argc, argv)) {
    std::fprintf(stderr, "%s\n", gmui::kNoDisplay);
    return 1;
  }

  // The core finds the app bundle from the running executable.
  gm_init("", argc, argv);
  QApplication qt(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Gainmesh"));
  QApplication::setQuitOnLastWindowClosed(false);
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  gmui::App app(args);
  return qt.exec();
}
