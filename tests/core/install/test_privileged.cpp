// The administrator step from the parent's side: how each outcome of the elevation program (a
// stand-in script here) reads back as one sentence, and only a prompt the elevation program says
// was refused reads as cancelled.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "privileged.h"
#include "support/temp_home.h"

namespace {

TEST(AdminStep, EachOutcomeReadsBackAsOneSentence) {
  gmtest::TempHome home;
  const std::string stand_in = home.path() + "/elevate";
  setenv("GAINMESH_TEST_ELEVATE", stand_in.c_str(), 1);
  const std::pair<const char*, const char*> cases[] = {
      {"echo 'Error executing command as another user: Not authorized' >&2; exit 127",
       "No administrator password was given, so nothing was changed."},
      {"echo 'install: a log line' >&2; echo 'ERR:Could not delete /x.' >&2; exit 1",
       "Could not delete /x."},
      // The same exit statuses from a program that never ran, or a prompt that never showed.
      {"echo 'sh: 1: /A.app/Contents/MacOS/Gainmesh: not found' >&2; exit 127",
       "The administrator step failed (sh: 1: /A.app/Contents/MacOS/Gainmesh: not found)."},
      {"echo 'Error executing command as another user: No authentication agent found.' >&2; "
       "exit 127",
       "The administrator step failed (Error executing command as another user: No "
       "authentication agent found.)."},
      // Once the root child has started, the password was given.
      {"echo OK:started; echo 'Error executing command as another user: Request dismissed' "
       ">&2; exit 126",
       "The administrator step failed (Error executing command as another user: Request "
       "dismissed)."},
  };
  for (const auto& [body, sentence] : cases) {
    home.write("elevate", std::string("#!/bin/sh\n") + body + "\n");
    chmod(stand_in.c_str(), 0755);
    std::string err;
    EXPECT_FALSE(gm::run_privileged("--remove-root", err, -1)) << body;
    EXPECT_EQ(err, sentence) << body;
  }
  unsetenv("GAINMESH_TEST_ELEVATE");
}

}  // namespace
