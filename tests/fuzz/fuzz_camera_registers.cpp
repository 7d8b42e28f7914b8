// The camera register file on the card: each well-formed line becomes one register write to the
// camera; anything else is skipped.
#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <memory>

#include "fuzz_board.h"
#include "platform/platform.h"
#include "platform/sim/devices.h"
#include "record/cam_interface.h"
#include "record/record_thread.h"

namespace {

size_t gWrites = 0;

// The camera as far as the register file reaches it: it takes every register write.
class Camera : public sim::DeviceNode {
  class File : public sim::DeviceFile {
    long ioctl(unsigned long request, uintptr_t) override {
      if (request != CAM_REG_WRITE) __builtin_trap();
      ++gWrites;
      return 0;
    }
  };

 public:
  int open(int, std::unique_ptr<sim::DeviceFile>* file) override {
    *file = std::make_unique<File>();
    return 0;
  }
};

int cameraFd() {
  static const int fd = [] {
    fuzz_board::boardDir();
    sim::addDeviceNode("/dev/cam0", std::make_shared<Camera>());
    return plat::open("/dev/cam0", O_RDWR);
  }();
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = cameraFd();
  fuzz_board::writeBoardFile(CAM_REGISTER_FILE, data, size);
  gWrites = 0;
  RecordWriteCameraRegisters(fd, CAM_REGISTER_FILE);
  // One write at most per line (a last line may lack its line break).
  size_t lines = static_cast<size_t>(std::count(data, data + size, '\n')) + 1;
  if (gWrites > lines) __builtin_trap();
  return 0;
}
