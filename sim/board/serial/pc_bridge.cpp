#include "board/serial/pc_bridge.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace sim {

bool openPseudoTerminal(PseudoTerminal* pty, std::string* error) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    *error = std::string("cannot make a pseudo-terminal: ") + strerror(errno);
    if (master >= 0) close(master);
    return false;
  }
  char name[128];
  if (ptsname_r(master, name, sizeof name) != 0) {
    *error = std::string("cannot name the pseudo-terminal: ") + strerror(errno);
    close(master);
    return false;
  }
  int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    *error = std::string("cannot open ") + name + ": " + strerror(errno);
    close(master);
    return false;
  }
  struct termios t;
  if (tcgetattr(slave, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
  }
  pty->master = master;
  pty->slave = slave;
  pty->path = name;
  return true;
}

bool setDeviceFormat(int fd, const LineFormat& format) {
  struct termios t;
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[std::min(std::max(format.dataBits, 5), 8) - 5];
  if (format.parity != Parity::None) t.c_cflag |= PARENB | (format.parity == Parity::Odd ? PARODD : 0);
  if (format.stopBits == 2) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  speed_t speed = speedOfBaud(format.baud);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

PcBridge::PcBridge(int fd, bool device) : fd_(fd), device_(device) {
  // The board process's own commands must not inherit the PC terminal, and a PC side that does
  // not read must never hold up the board.
  fcntl(fd_, F_SETFD, FD_CLOEXEC);
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

PcBridge::~PcBridge() { stop(); }

void PcBridge::start(SerialLine& line) {
  line_ = &line;
  tcflush(fd_, TCIFLUSH);  // what the PC sent while the board was off is lost
  line.attach(shared_from_this(), line.boardFormat());
  line.followBoard(true);
  if (device_) {
    setDeviceFormat(fd_, line.boardFormat());
    int fd = fd_;
    line.onBoardFormat([fd](const LineFormat& f) { setDeviceFormat(fd, f); });
  }
  stop_ = false;
  thread_ = std::thread([this] { pump(); });
}

void PcBridge::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (line_) {
    line_->onBoardFormat(nullptr);
    line_->detach();
    line_ = nullptr;
  }
}

void PcBridge::fromBoard(const LineByte* bytes, size_t count) {
  std::vector<uint8_t> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = bytes[i].value;
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, out.data() + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // nobody takes them on the PC: they are lost, as on a line
    done += static_cast<size_t>(n);
  }
}

void PcBridge::pump() {
  uint8_t buf[256];
  while (!stop_) {
    // The PC cannot run ahead of the line by more than the transmit buffer.
    if (line_->peerUnsent() >= SerialLine::kTransmitBuffer - sizeof buf) {
      usleep(2000);
      continue;
    }
    struct pollfd p = {fd_, POLLIN, 0};
    int r = poll(&p, 1, 50);
    if (r <= 0) continue;
    if (p.revents & (POLLHUP | POLLERR)) {
      usleep(20000);  // no PC program on the other side just now
      continue;
    }
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) line_->peerSend(buf, static_cast<size_t>(n));
  }
}

}  // namespace sim
