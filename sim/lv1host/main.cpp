// lv1host: the eMotion LV1 stand-in. Runs as a process named "eMotion LV1", loads the Gainmesh
// IO module bundle from the IO Modules folder, holds LV1's strips and takes commands.
#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "control.h"
#include "io_module.h"
#include "lv1.h"
#include "options.h"
#include "session_db.h"

namespace {

constexpr const char* kProcessName = "eMotion LV1";

// LV1's state outlives main: a console module that the loader had to keep mapped may still call
// a service while the process exits.
lv1host::Lv1* g_lv1 = nullptr;
lv1host::IoModule* g_io = nullptr;

// Opens the session database named by GAINMESH_LV1_DB and writes the rack into it; without that
// variable LV1 keeps none, so that nothing outside a test's home is touched.
void open_session_db(lv1host::SessionDb& db) {
  const char* path = getenv("GAINMESH_LV1_DB");
  if (!path || !*path) return;
  std::string err;
  if (!db.open(path, err) || !db.write(g_lv1->rack_setup(), err)) {
    fprintf(stderr, "lv1host: %s Running without a session database.\n", err.c_str());
  }
}

void load_io_module() {
  const std::string path = lv1host::IoModule::default_path();
  std::string err;
  if (g_io->load(path, g_lv1->api(), err)) {
    fprintf(stderr, "lv1host: loaded the IO module %s\n", path.c_str());
    g_lv1->query_all();
  } else {
    fprintf(stderr, "lv1host: %s Running without it.\n", err.c_str());
  }
}

int serve(const lv1host::Options& options) {
  lv1host::SessionDb db;
  open_session_db(db);
  lv1host::Commands commands(*g_lv1, *g_io, db);
  lv1host::ControlLoop loop([&](const std::string& line) { return commands.run(line); },
                            [&] { commands.quit(); });
  std::string err;
  if (!options.control.empty() && !loop.listen_unix(options.control, err)) {
    fprintf(stderr, "lv1host: %s\n", err.c_str());
    commands.quit();
    return 1;
  }
  if (options.use_stdin) loop.use_stdin();
  loop.run();
  fprintf(stderr, "lv1host: quit\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  prctl(PR_SET_NAME, kProcessName, 0, 0, 0);
  signal(SIGPIPE, SIG_IGN);
  lv1host::Options options;
  std::string err;
  switch (lv1host::parse_options(argc, argv, options, err)) {
    case lv1host::ParseResult::kHelp:
      fputs(lv1host::usage_text().c_str(), stdout);
      return 0;
    case lv1host::ParseResult::kError:
      fprintf(stderr, "lv1host: %s\n", err.c_str());
      return 2;
    case lv1host::ParseResult::kRun:
      break;
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);
  lv1host::catch_quit_signals();
  g_lv1 = new lv1host::Lv1(options.rack);
  g_io = new lv1host::IoModule();
  g_lv1->set_io(g_io);
  load_io_module();
  return serve(options);
}
