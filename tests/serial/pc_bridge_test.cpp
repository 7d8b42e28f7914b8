// A PC program talks to the board's port 1 through a pseudo-terminal, with the program's serial
// layer at the board's end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>
#include <poll.h>
#include <unistd.h>

#include "board/serial/pc_bridge.h"
#include "serial/serial_fixture.h"
#include "serial/serial_port.h"

namespace {

using testing_board::SerialFixture;

class PcBridgeTest : public SerialFixture {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim::openPseudoTerminal(&pty, &error)) << error;
    bridge = std::make_shared<sim::PcBridge>(pty.master, false);
    bridge->start(line(1));
  }
  void TearDown() override {
    bridge->stop();
    close(pty.master);
    close(pty.slave);
  }
  // What the PC side reads within a real-time limit.
  static std::string readPc(int fd, size_t want) {
    std::string got;
    for (int i = 0; i < 200 && got.size() < want; ++i) {
      struct pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char buf[256];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }

  sim::PseudoTerminal pty;
  std::shared_ptr<sim::PcBridge> bridge;
};

TEST_F(PcBridgeTest, BytesGoBothWaysBetweenThePcProgramAndTheBoardsPort) {
  int pc = open(pty.path.c_str(), O_RDWR | O_NOCTTY);  // the PC program's end, as any program opens it
  ASSERT_GE(pc, 0) << pty.path;
  int handle = AllocComPort(1, 1, 3, 0, 0, nullptr);
  ASSERT_GT(handle, 0);

  const uint8_t frame[] = {0xF0, 0x00, 0x0F, 0x01};
  ASSERT_EQ(WriteComPort(handle, frame, sizeof frame), 4);
  advance(0.01);  // four characters at 9600 baud take 4.2 ms
  EXPECT_EQ(readPc(pc, 4), std::string("\xF0\x00\x0F\x01", 4));

  const std::string request = "\xF0\x02\x92\x01\x08\x73";
  ASSERT_EQ(write(pc, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  std::string got;
  for (int tries = 0; tries < 20 && got.size() < request.size(); ++tries) {
    auto result = std::async(std::launch::async, [handle] {
      uint8_t buf[64];
      int n = ReadComPort(handle, buf, sizeof buf);
      return std::string(reinterpret_cast<char*>(buf), n > 0 ? static_cast<size_t>(n) : 0);
    });
    got += stepUntilReady(result, 2);
  }
  EXPECT_EQ(got, request);
  FreeComPort(handle, nullptr);
  close(pc);
}

}  // namespace
