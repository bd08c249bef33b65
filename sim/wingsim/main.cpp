// wingsim: a virtual WING for the rig and for anyone trying Gainmesh without a desk.
#include <csignal>
#include <cstdio>

#include "options.h"
#include "sim.h"

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  wingsim::Options options;
  std::string err;
  switch (wingsim::parse_options(argc, argv, options, err)) {
    case wingsim::ParseResult::kHelp:
      fputs(wingsim::usage_text().c_str(), stdout);
      return 0;
    case wingsim::ParseResult::kError:
      fprintf(stderr, "wingsim: %s\n", err.c_str());
      return 2;
    case wingsim::ParseResult::kRun:
      break;
  }
  wingsim::Sim sim(options);
  if (!sim.start(err)) {
    fprintf(stderr, "wingsim: %s\n", err.c_str());
    return 1;
  }
  sim.run();
  return 0;
}
