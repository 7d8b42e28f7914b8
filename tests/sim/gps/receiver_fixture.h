// A GPS receiver model on the board's port 2 with the clock standing still, and the board's end
// of the line read the way the program reads it (raw, 9600 8N1 unless changed).
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <string>
#include <vector>

#include "board/gps/gps_receiver.h"
#include "board/serial/serial_board.h"
#include "board/vehicle/vehicle.h"
#include "platform/platform.h"
#include "platform/sim/clock.h"
#include "support/test_board.h"

namespace testing_board {

class ReceiverFixture : public ::testing::Test {
 protected:
  ~ReceiverFixture() override {
    if (fd_ >= 0) plat::close(fd_);
    if (receiver) receiver->stop();
    ports.reset();
  }

  // Puts a receiver of type R on port 2 (first fix `ttffSeconds` after power-on) and opens the
  // board's end at `speed`.
  template <typename R>
  std::shared_ptr<R> install(double ttffSeconds = 2, speed_t speed = B9600) {
    ports = std::make_unique<sim::SerialBoard>();
    vehicle = std::make_shared<sim::Vehicle>();
    sim::GpsReceiver::Options o;
    o.vehicle = vehicle;
    o.worldAtZeroNs = sim::Clock::worldAtZero();
    o.ttffNs = static_cast<int64_t>(ttffSeconds * 1e9);
    auto r = std::make_shared<R>(o);
    receiver = r;
    r->start(*ports->line(sim::SerialBoard::kGpsPort));
    fd_ = plat::open("/dev/ttyS2", O_RDWR | O_NOCTTY | O_NONBLOCK);
    setSpeed(speed);
    return r;
  }
  void setSpeed(speed_t speed) {
    struct termios t = {};
    t.c_cflag = speed | CS8 | CLOCAL | CREAD;
    plat::tcsetattr(fd_, TCSANOW, &t);
  }
  void send(const std::vector<uint8_t>& bytes) { plat::write(fd_, bytes.data(), bytes.size()); }
  // Moves the clock on and gives what the board received meanwhile.
  std::string run(double seconds, double step = 0.01) {
    std::string got;
    for (double t = 0; t < seconds - 1e-9; t += step) {
      ports->events().advance(static_cast<int64_t>(step * 1e9));
      got += drain();
    }
    return got;
  }
  std::string drain() {
    std::string got;
    char buf[1024];
    for (ssize_t n; (n = plat::read(fd_, buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    return got;
  }
  // Elapsed time of a UTC instant.
  static int64_t elapsedOf(int64_t utcNs) { return utcNs - sim::Clock::worldAtZero(); }

  TestBoard board;
  std::unique_ptr<sim::SerialBoard> ports;
  std::shared_ptr<sim::Vehicle> vehicle;
  std::shared_ptr<sim::GpsReceiver> receiver;

 private:
  int fd_ = -1;
};

// UBX frames found in a byte stream (class, id, payload), with a count of bad checksums.
struct UbxMessage {
  uint8_t cls, id;
  std::vector<uint8_t> payload;
};
std::vector<UbxMessage> ubxMessages(const std::string& bytes, int* badChecksums = nullptr);
// NMEA sentences found in a byte stream ("$GPGGA,...*hh"), each checked; bad ones are counted.
std::vector<std::string> nmeaSentences(const std::string& bytes, int* badChecksums = nullptr);

// Runs gpsdecode -j over the bytes: its JSON lines, and what it said on its error output.
struct Decoded {
  std::vector<std::string> json;
  std::string errors;
  int status = -1;
};
Decoded gpsdecode(const std::string& bytes);
// A number or text field of a JSON line ("lat", "time").
double jsonNumber(const std::string& line, const std::string& key, bool* found = nullptr);
std::string jsonText(const std::string& line, const std::string& key);
// Seconds since 1970 of an ISO time "2026-01-01T00:00:05.000Z".
int64_t isoSeconds(const std::string& text);

}  // namespace testing_board
