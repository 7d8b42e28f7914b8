// The controller's bytes on serial port 1: the receiver must give only whole frames with a good
// checksum, whatever LEN says, and the three commands must handle any frame that comes out
// without reading past it.
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <semaphore.h>

#include "config/settings.h"
#include "core/msg_pipe.h"
#include "core/threads.h"
#include "fuzz_board.h"
#include "platform/platform.h"
#include "platform/sim/devices.h"
#include "serial/rd_com.h"

namespace {

// The controller's line as far as the answers go: it takes every byte.
class Line : public sim::DeviceNode {
  class File : public sim::DeviceFile {
    ssize_t write(const void*, size_t count) override { return static_cast<ssize_t>(count); }
  };

 public:
  int open(int, std::unique_ptr<sim::DeviceFile>* file) override {
    *file = std::make_unique<File>();
    return 0;
  }
};

THREAD_INFO* thread() {
  static THREAD_INFO info;
  static const bool ready = [] {
    fuzz_board::boardDir();
    const uint8_t none = 0;
    fuzz_board::writeBoardFile("/mnt/log/config/.keep", &none, 0);  // where set.dat goes
    sim::addDeviceNode("/dev/ttyS1", std::make_shared<Line>());
    RdComSetPort(plat::open("/dev/ttyS1", O_RDWR));
    MsgOpen();
    sem_init(&g_thread_to_main, 0, 0);
    info.wake = &g_thread_to_main;
    info.run.store(1);
    info.config = &gConfig;
    return true;
  }();
  (void)ready;
  return &info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  THREAD_INFO* info = thread();
  if (RdComFuzzDecode(data, size) < 0) __builtin_trap();

  // The same bytes one at a time, each frame handled as the thread handles it.
  SetDefaultParameter(&gConfig);
  RdComResetReceiver();
  rd::Frame frame;
  for (size_t i = 0; i < size; ++i) {
    if (DecodeRDCommand(data + i, 1, &frame) == 0) RdComDispatch(info, &frame);
  }
  MsgClear(PIPE_CORE);
  while (sem_trywait(&g_thread_to_main) == 0) {
  }
  return 0;
}
