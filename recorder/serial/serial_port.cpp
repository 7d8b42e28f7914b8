#include "serial/serial_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>

#include "core/trace.h"
#include "platform/platform.h"

#define TAG "SERIAL__"

namespace {

constexpr tcflag_t kSpeedFlags[] = {B4800, B9600, B19200, B38400, B115200};
constexpr tcflag_t kDataBitsFlags[] = {CS5, CS6, CS7, CS8};
constexpr tcflag_t kParityFlags[] = {0, PARENB, PARENB | PARODD};
constexpr tcflag_t kStopBitsFlags[] = {0, CSTOPB};

template <size_t N>
bool validIndex(int index, const tcflag_t (&)[N]) {
  return index >= 0 && static_cast<size_t>(index) < N;
}

// Raw: no input or output processing, no canonical mode, echo or signals; a read returns as soon
// as anything is there and waits at most one second for it.
struct termios rawSettings(tcflag_t control) {
  struct termios t;
  std::memset(&t, 0, sizeof t);
  t.c_cflag = control | CLOCAL | CREAD;
  t.c_cc[VTIME] = 10;
  t.c_cc[VMIN] = 0;
  return t;
}

int failOpen(int fd, const char* path) {
  int saved = errno;
  plat::close(fd);
  errno = saved;
  perror(path);
  return -1;
}

}  // namespace

int AllocComPort(int port, int speed, int dataBits, int parity, int stopBits, struct termios* savedSettings) {
  if (port < 0 || port >= SERIAL_PORT_COUNT || !validIndex(speed, kSpeedFlags) ||
      !validIndex(dataBits, kDataBitsFlags) || !validIndex(parity, kParityFlags) ||
      !validIndex(stopBits, kStopBitsFlags)) {
    return 0;
  }
  char path[SERIAL_PATH_SIZE];
  snprintf(path, sizeof path, "%s%d", SERIAL_DEVICE_PREFIX, port);
  return SerialOpen(path, kSpeedFlags[speed], kDataBitsFlags[dataBits], kStopBitsFlags[stopBits],
                    kParityFlags[parity], savedSettings);
}

int SerialOpen(const char* path, tcflag_t speedFlag, tcflag_t dataBitsFlag, tcflag_t stopBitsFlag,
               tcflag_t parityFlags, struct termios* savedSettings) {
  TRACE(TAG, "SerialOpen(%s, %d, %d, %d, %d)", path ? path : "(null)", static_cast<int>(speedFlag),
        static_cast<int>(dataBitsFlag), static_cast<int>(stopBitsFlag), static_cast<int>(parityFlags));
  if (path == nullptr) {
    TRACE(TAG, "Error : unknown device");
    return -1;
  }
  int fd = plat::open(path, O_RDWR | O_NOCTTY);
  if (fd < 0) {
    perror(path);
    return -1;
  }
  // A device that is not a terminal cannot be put in raw mode: its reads would never time out.
  struct termios previous;
  if (plat::tcgetattr(fd, &previous) != 0) return failOpen(fd, path);
  if (savedSettings != nullptr) *savedSettings = previous;
  struct termios raw = rawSettings(speedFlag | dataBitsFlag | stopBitsFlag | parityFlags);
  plat::tcflush(fd, TCIFLUSH);
  if (plat::tcsetattr(fd, TCSANOW, &raw) != 0) return failOpen(fd, path);
  return fd;
}

int ReadComPort(int handle, uint8_t* buffer, int size) {
  if (handle <= 0 || buffer == nullptr || size <= 0) return 0;
  return static_cast<int>(plat::read(handle, buffer, static_cast<size_t>(size)));
}

int WriteComPort(int handle, const uint8_t* bytes, int count) {
  std::string hex;
  if (bytes != nullptr && count > 0) {
    hex.reserve(static_cast<size_t>(count) * 3);
    char item[4];
    for (int i = 0; i < count; ++i) {
      snprintf(item, sizeof item, " %02X", bytes[i]);
      hex += item;
    }
  }
  TRACE(TAG, "WriteComPort() :%s", hex.c_str());
  if (handle <= 0 || bytes == nullptr || count <= 0) return 0;
  int written = static_cast<int>(plat::write(handle, bytes, static_cast<size_t>(count)));
  if (written < count) TRACE(TAG, "failed to write()... %d, %s", errno, strerror(errno));
  return written;
}

int SerialClose(int handle, const struct termios* savedSettings) {
  TRACE(TAG, "SerialClose(%d)", handle);
  if (handle <= 0) {
    TRACE(TAG, "~SerialClose(%d)", handle);
    return -1;
  }
  if (savedSettings != nullptr) plat::tcsetattr(handle, TCSANOW, savedSettings);
  plat::close(handle);
  TRACE(TAG, "~SerialClose(%d)", handle);
  return 0;
}

int FreeComPort(int handle, const struct termios* savedSettings) {
  TRACE(TAG, "FreeComPort()");
  int result = -1;
  if (handle > 0) result = SerialClose(handle, savedSettings);
  TRACE(TAG, "~FreeComPort()");
  return result;
}
