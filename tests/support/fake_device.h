// A device node whose requests a test scripts and records: each request is answered by the
// test's function (a count or a negative errno), and kept with the moment it came.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/clock.h"
#include "platform/sim/devices.h"

namespace testing_board {

class FakeDevice : public std::enable_shared_from_this<FakeDevice> {
 public:
  struct Request {
    unsigned long code;
    std::vector<uint8_t> argument;  // the bytes the argument pointed to (argumentSize of them)
    int64_t elapsed;
  };
  using Answer = std::function<long(unsigned long code, uintptr_t arg)>;

  FakeDevice(std::string path, size_t argumentSize) : path_(std::move(path)), argumentSize_(argumentSize) {}

  void install() { sim::addDeviceNode(path_, std::make_shared<Node>(shared_from_this())); }
  // A new device, installed at `path`.
  static std::shared_ptr<FakeDevice> create(std::string path, size_t argumentSize) {
    auto device = std::make_shared<FakeDevice>(std::move(path), argumentSize);
    device->install();
    return device;
  }
  void answer(Answer a) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = std::move(a);
  }
  std::vector<Request> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  size_t count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
  }
  int opens() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
  }

 private:
  long request(unsigned long code, uintptr_t arg) {
    Answer a;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Request r{code, std::vector<uint8_t>(argumentSize_), sim::Clock::elapsed()};
      if (arg != 0) std::memcpy(r.argument.data(), reinterpret_cast<const void*>(arg), argumentSize_);
      requests_.push_back(std::move(r));
      a = answer_;
    }
    return a ? a(code, arg) : 0;
  }

  class File : public sim::DeviceFile {
   public:
    explicit File(std::shared_ptr<FakeDevice> d) : device_(std::move(d)) {}
    long ioctl(unsigned long request, uintptr_t arg) override { return device_->request(request, arg); }

   private:
    std::shared_ptr<FakeDevice> device_;
  };

  class Node : public sim::DeviceNode {
   public:
    explicit Node(std::shared_ptr<FakeDevice> d) : device_(std::move(d)) {}
    int open(int, std::unique_ptr<sim::DeviceFile>* file) override {
      {
        std::lock_guard<std::mutex> lock(device_->mutex_);
        ++device_->opens_;
      }
      *file = std::make_unique<File>(device_);
      return 0;
    }

   private:
    std::shared_ptr<FakeDevice> device_;
  };

  std::string path_;
  size_t argumentSize_;
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  Answer answer_;
  int opens_ = 0;
};

// The argument record of a recorded request.
template <typename T>
T argAs(const FakeDevice::Request& r) {
  T value{};
  std::memcpy(&value, r.argument.data(), std::min(sizeof value, r.argument.size()));
  return value;
}

}  // namespace testing_board
