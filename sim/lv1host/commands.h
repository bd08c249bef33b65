// The commands of lv1host: the person at LV1 (or a test) turning knobs, opening sessions,
// changing the rack and reading the strips.
#pragma once

#include <string>
#include <vector>

#include "io_module.h"
#include "lv1.h"
#include "session_db.h"

namespace lv1host {

struct Answer {
  std::string text;   // data lines, then "ok" or "err <text>", each ending in '\n'
  bool quit = false;  // the IO module is unloaded; the caller exits after sending the answer
};

class Commands {
 public:
  // db keeps LV1's card rows; it may hold no database.
  Commands(Lv1& lv1, IoModule& io, SessionDb& db) : lv1_(lv1), io_(io), db_(db) {}

  // Runs one command line on the command thread.
  Answer run(const std::string& line);
  // Unloads the IO module (quit and SIGTERM).
  void quit() { io_.unload(); }

 private:
  using Args = std::vector<std::string>;
  bool dispatch(const Args& a, Answer& answer, std::vector<std::string>& data, std::string& err);
  bool gain(const Args& a, std::string& err);
  bool phantom(const Args& a, std::string& err);
  bool session(const Args& a, std::string& err);
  bool rack(const Args& a, std::string& err);
  bool share(const Args& a, std::string& err);
  bool requery(const Args& a, std::string& err);
  bool strips(const Args& a, std::vector<std::string>& out, std::string& err);

  Lv1& lv1_;
  IoModule& io_;
  SessionDb& db_;
};

}  // namespace lv1host
