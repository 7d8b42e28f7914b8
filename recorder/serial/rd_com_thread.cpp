// The controller's command thread: reads frames from serial port 1, answers them, and passes
// the supervisor's replies (record status, stored settings) on to the controller.
#include <memory>
#include <new>
#include <termios.h>

#include "core/trace.h"
#include "platform/platform.h"
#include "serial/rd_com.h"
#include "serial/serial_port.h"

#define TAG RD_COM_TAG

namespace {

constexpr unsigned kStartDelaySec = 5;

void drainReplies(THREAD_INFO* info) {
  MsgRecord* m = nullptr;
  while (MsgRecv(&m, PIPE_RD_COM) == 0) {
    RdComHandleReply(info, *m);
    MsgDone(PIPE_RD_COM);  // frees the status block
  }
}

bool running(const THREAD_INFO* info) { return info->run.load() != 0; }

}  // namespace

int rd_com_thread(THREAD_INFO* info) {
  TRACE(TAG, "rd_com_thread()");
  MsgOpen();
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[RD_COM_BUFFER_SIZE]);
  if (!buffer) {
    TRACE(TAG, "failed to malloc()... %d\n", RD_COM_BUFFER_SIZE);
    MsgClose();
    return 0;
  }
  // The other workers settle first; a stop in the meantime ends the wait.
  for (unsigned s = 0; s < kStartDelaySec && running(info); ++s) plat::sleep(1);

  struct termios saved;
  int port = AllocComPort(RD_COM_PORT_INDEX, SERIAL_9600, SERIAL_CS8, SERIAL_PARITY_NONE, SERIAL_STOP_1, &saved);
  if (port <= 0) {
    TRACE(TAG, "failed to AllocComPort()");
    MsgClose();
    return 0;
  }
  RdComSetPort(port);
  RdComResetReceiver();

  rd::Frame frame;
  while (running(info)) {
    drainReplies(info);
    int n = ReadComPort(port, buffer.get(), RD_COM_BUFFER_SIZE);
    if (n <= 0) {
      plat::sleep(1);
      continue;
    }
    if (DecodeRDCommand(buffer.get(), n, &frame) != 0) {
      TRACE(TAG, "failed to DecodeRDCommand()");
      plat::sleep(1);
      continue;
    }
    RdComDispatch(info, &frame);
  }

  FreeComPort(port, &saved);
  RdComSetPort(0);
  MsgClose();
  TRACE(TAG, "~rd_com_thread()");
  return 0;
}
