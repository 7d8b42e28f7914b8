// A peer for tests on a serial line: keeps every character that crossed from the board with the
// instant it was complete, and sends what the test gives it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "board/serial/serial_line.h"

namespace testing_board {

class LineProbe : public sim::LinePeer {
 public:
  void fromBoard(const sim::LineByte* bytes, size_t count) override {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.insert(received_.end(), bytes, bytes + count);
  }
  std::vector<sim::LineByte> received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  std::string text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string s;
    for (const sim::LineByte& b : received_) s.push_back(static_cast<char>(b.value));
    return s;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<sim::LineByte> received_;
};

}  // namespace testing_board
