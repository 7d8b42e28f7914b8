// A device node for tests: records every request with a copy of its argument and answers from
// a script, so program code can be exercised without the driver behind it.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/devices.h"

namespace testing_board {

class FakeDevice : public std::enable_shared_from_this<FakeDevice> {
 public:
  struct Request {
    unsigned long code;
    std::vector<uint8_t> arg;  // the argument record as the program passed it
  };
  // Decides a request's result (>= 0 or -errno); may fill the argument record.
  using Handler = std::function<long(unsigned long code, void* arg)>;

  // Registers the node at `path`; `argSize(code)` tells how many bytes of the argument to keep.
  static std::shared_ptr<FakeDevice> install(const std::string& path, size_t argBytes);

  void onRequest(Handler h) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(h);
  }
  std::vector<Request> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
  }
  int opens() const { return opens_; }

  long request(unsigned long code, uintptr_t arg);
  void opened() { ++opens_; }

 private:
  size_t argBytes_ = 0;
  std::mutex mutex_;
  Handler handler_;
  std::vector<Request> requests_;
  int opens_ = 0;
};

// The words of a recorded request's argument.
template <typename T>
T argAs(const FakeDevice::Request& r) {
  T value{};
  memcpy(&value, r.arg.data(), std::min(sizeof value, r.arg.size()));
  return value;
}

}  // namespace testing_board
