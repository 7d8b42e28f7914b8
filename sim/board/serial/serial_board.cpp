#include "board/serial/serial_board.h"

#include <fcntl.h>

#include "platform/sim/devices.h"

namespace sim {
namespace {

// An open /dev/ttySn: every call goes to the line's terminal.
class TtyFile : public DeviceFile {
 public:
  TtyFile(std::shared_ptr<SerialLine> line, int flags) : line_(std::move(line)), flags_(flags) {}
  ssize_t read(void* buf, size_t count) override { return line_->read(buf, count, nonblocking()); }
  ssize_t write(const void* buf, size_t count) override { return line_->write(buf, count, nonblocking()); }
  long ioctl(unsigned long request, uintptr_t arg) override { return line_->ioctl(request, arg); }
  int tcgetattr(struct termios* t) override { return line_->tcgetattr(t); }
  int tcsetattr(int actions, const struct termios* t) override { return line_->tcsetattr(actions, t); }
  int tcflush(int queue) override { return line_->tcflush(queue); }
  int release() override {
    line_->release();
    return 0;
  }

 private:
  bool nonblocking() const { return (flags_ & O_NONBLOCK) != 0; }
  std::shared_ptr<SerialLine> line_;
  int flags_;
};

class TtyNode : public DeviceNode {
 public:
  explicit TtyNode(std::shared_ptr<SerialLine> line) : line_(std::move(line)) {}
  int open(int flags, std::unique_ptr<DeviceFile>* file) override {
    int result = line_->open(flags);
    if (result < 0) return result;
    *file = std::make_unique<TtyFile>(line_, flags);
    return 0;
  }

 private:
  std::shared_ptr<SerialLine> line_;
};

}  // namespace

std::string SerialBoard::nodePath(int port) { return "/dev/ttyS" + std::to_string(port); }

SerialBoard::SerialBoard() {
  for (int port = 0; port < kPorts; ++port) {
    lines_[port] = std::make_shared<SerialLine>(port, events_);
    addDeviceNode(nodePath(port), std::make_shared<TtyNode>(lines_[port]));
  }
}

SerialBoard::~SerialBoard() {
  events_.stopThread();
  for (int port = 0; port < kPorts; ++port) {
    removeDeviceNode(nodePath(port));
    lines_[port]->retire();
  }
}

SerialLine* SerialBoard::line(int port) {
  return port >= 0 && port < kPorts ? lines_[port].get() : nullptr;
}

}  // namespace sim
