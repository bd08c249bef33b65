// What the rig programs' control channels share: a Unix socket that accepts control
// connections, the splitting of what arrives into command lines, and writing an answer whole.
// The programs run their own loops around these (wingsim its reactor, lv1host a poll loop).
#pragma once

#include <cstddef>
#include <string>

namespace rig {

// Listens on a Unix socket at path; an old socket file there is replaced. Returns the socket,
// or -1 with a sentence in err.
int listen_unix_socket(const std::string& path, std::string& err);

// Accepts one pending connection with a 2 s send timeout, so that a client that stops reading
// cannot hang the program. -1 when there was none.
int accept_control(int listen_fd);

// Writes all of text: with write() to stdout, with send() without SIGPIPE to a socket. Gives up
// quietly when the other end has gone.
void write_all(int fd, const std::string& text);

// Bytes in, command lines out. A line ends in "\n" or "\r\n".
class LineBuffer {
 public:
  // False when the unfinished line has grown beyond 64 KiB: the sender is not talking in lines
  // and its connection should be closed.
  bool append(const char* data, size_t n);
  // Takes the next complete line, without its ending; false when there is none yet.
  bool next(std::string& line);

 private:
  std::string pending_;
};

}  // namespace rig
