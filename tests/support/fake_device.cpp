#include "support/fake_device.h"

#include <algorithm>

namespace testing_board {
namespace {

class FakeFile : public sim::DeviceFile {
 public:
  explicit FakeFile(std::shared_ptr<FakeDevice> dev) : dev_(std::move(dev)) {}
  long ioctl(unsigned long request, uintptr_t arg) override { return dev_->request(request, arg); }

 private:
  std::shared_ptr<FakeDevice> dev_;
};

class FakeNode : public sim::DeviceNode {
 public:
  explicit FakeNode(std::shared_ptr<FakeDevice> dev) : dev_(std::move(dev)) {}
  int open(int, std::unique_ptr<sim::DeviceFile>* file) override {
    dev_->opened();
    *file = std::make_unique<FakeFile>(dev_);
    return 0;
  }

 private:
  std::shared_ptr<FakeDevice> dev_;
};

}  // namespace

std::shared_ptr<FakeDevice> FakeDevice::install(const std::string& path, size_t argBytes) {
  auto dev = std::make_shared<FakeDevice>();
  dev->argBytes_ = argBytes;
  sim::addDeviceNode(path, std::make_shared<FakeNode>(dev));
  return dev;
}

long FakeDevice::request(unsigned long code, uintptr_t arg) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Request r{code, {}};
    if (arg != 0 && argBytes_ > 0) {
      const uint8_t* p = reinterpret_cast<const uint8_t*>(arg);
      r.arg.assign(p, p + argBytes_);
    }
    requests_.push_back(std::move(r));
    handler = handler_;
  }
  return handler ? handler(code, reinterpret_cast<void*>(arg)) : 0;
}

}  // namespace testing_board
