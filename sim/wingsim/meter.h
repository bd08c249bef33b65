// Input metering: a client asks on the meter channel of a native connection for frames of
// input levels to be sent to a UDP port of its own address, and renews the request while it
// wants them. Frames: the 32-bit report id, then a signed 16-bit big-endian word per input in
// 1/256 dB for each requested source, about every 50 ms.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wingsim {

class Meter {
 public:
  static constexpr int kPeriodMs = 50;
  static constexpr int kRenewTimeoutMs = 10000;
  // Sends one frame to a client's UDP port.
  using Sender = std::function<void(const sockaddr_in& to, const uint8_t* p, size_t n)>;

  explicit Meter(Sender send);

  // Bytes a connection sent on the meter channel (unescaped). peer: the connection's remote
  // address (frames go to its IP). Requests: D3 port16 D4 id32 DC [A7] sources... DE;
  // renews: D4 id32.
  void feed(uint64_t conn, const sockaddr_in& peer, const uint8_t* p, size_t n);
  // The connection closed: its frames stop.
  void forget(uint64_t conn);
  void forget_all();

  // Sets the level (dB) of inputs first..last of a meter source ("LCL", "A", ...). False for
  // an unknown source or inputs outside it.
  bool set_level(const std::string& source, int first, int last, double db);
  // Frames of exactly `bytes` bytes (cut or padded with zeros); 0 for natural frames.
  void set_frame_size(int bytes) { frame_size_ = bytes; }
  size_t streams() const { return subs_.size(); }

  // Sends the frames that are due; returns when it next wants to be called.
  int64_t tick(int64_t now);

 private:
  struct Sub {
    sockaddr_in to;
    uint32_t id;
    std::vector<uint8_t> sources;
    int64_t renewed;
  };
  struct Key {
    uint64_t conn;
    uint32_t id;
    bool operator<(const Key& o) const { return conn != o.conn ? conn < o.conn : id < o.id; }
  };
  size_t parse_one(uint64_t conn, const sockaddr_in& peer, const std::vector<uint8_t>& b);
  std::vector<uint8_t> frame(const Sub& s) const;

  Sender send_;
  std::map<uint64_t, std::vector<uint8_t>> pending_;  // per connection, incomplete bytes
  std::map<Key, Sub> subs_;
  std::vector<std::vector<double>> levels_;  // per source, per input, dB
  int frame_size_ = 0;
  int64_t next_frame_ = 0;
};

}  // namespace wingsim
