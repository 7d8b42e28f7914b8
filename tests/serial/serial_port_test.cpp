// The program's serial port layer on the board's emulated terminals.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <future>
#include <thread>

#include "platform/platform.h"
#include "serial/serial_fixture.h"
#include "serial/serial_port.h"
#include "support/fake_device.h"

namespace {

using testing_board::ConsoleCapture;
using testing_board::SerialFixture;

class SerialPortTest : public SerialFixture {};

TEST_F(SerialPortTest, TheGpsPortOpensRawAt9600AndTheSettingsBeforeAreSavedAndPutBack) {
  ConsoleCapture console;
  struct termios saved;
  std::memset(&saved, 0xA5, sizeof saved);
  int handle = AllocComPort(2, 1, 3, 0, 0, &saved);
  ASSERT_GT(handle, 0);
  EXPECT_EQ(line().openCount(), 1) << "port 2 is /dev/ttyS2";

  // What the port had before: a fresh Linux serial port, canonical with echo.
  EXPECT_EQ(saved.c_cflag & CBAUD, static_cast<tcflag_t>(B9600));
  EXPECT_TRUE(saved.c_lflag & ICANON);
  EXPECT_TRUE(saved.c_lflag & ECHO);

  struct termios now;
  ASSERT_EQ(plat::tcgetattr(handle, &now), 0);
  EXPECT_EQ(now.c_cflag, static_cast<tcflag_t>(B9600 | CS8 | CLOCAL | CREAD));
  EXPECT_EQ(now.c_iflag, 0u);
  EXPECT_EQ(now.c_oflag, 0u);
  EXPECT_EQ(now.c_lflag, 0u);
  EXPECT_EQ(now.c_cc[VTIME], 10);
  EXPECT_EQ(now.c_cc[VMIN], 0);

  EXPECT_EQ(FreeComPort(handle, &saved), 0);
  EXPECT_EQ(line().openCount(), 0);
  std::string text = console.text();
  EXPECT_NE(text.find("SERIAL__"), std::string::npos);
  EXPECT_NE(text.find(": SerialOpen(/dev/ttyS2, 13, 48, 0, 0)\n"), std::string::npos) << text;
  EXPECT_NE(text.find(": FreeComPort()\n"), std::string::npos);
  EXPECT_NE(text.find(": SerialClose(" + std::to_string(handle) + ")\n"), std::string::npos);
  EXPECT_NE(text.find(": ~FreeComPort()\n"), std::string::npos);

  // The next opener finds the settings of before.
  int fd = plat::open("/dev/ttyS2", O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(plat::tcgetattr(fd, &now), 0);
  EXPECT_EQ(std::memcmp(&now, &saved, sizeof now), 0);
  plat::close(fd);
}

TEST_F(SerialPortTest, IndexesOutOfRangeOpenNothingAndPrintNothing) {
  ConsoleCapture console;
  struct termios saved;
  EXPECT_EQ(AllocComPort(0, 5, 3, 0, 0, &saved), 0) << "speed";
  EXPECT_EQ(AllocComPort(0, 1, 3, 3, 0, &saved), 0) << "parity";
  EXPECT_EQ(AllocComPort(0, 1, 4, 0, 0, &saved), 0) << "data bits";
  EXPECT_EQ(AllocComPort(0, 1, 3, 0, 2, &saved), 0) << "stop bits";
  EXPECT_EQ(AllocComPort(4, 1, 3, 0, 0, &saved), 0) << "port";
  EXPECT_EQ(AllocComPort(-1, 1, 3, 0, 0, &saved), 0) << "port";
  EXPECT_EQ(console.text(), "");
  for (int port = 0; port < sim::SerialBoard::kPorts; ++port) EXPECT_EQ(line(port).openCount(), 0);

  // A caller that tests only for a negative result goes on with handle 0: nothing happens.
  uint8_t buf[4];
  EXPECT_EQ(ReadComPort(0, buf, sizeof buf), 0);
  EXPECT_EQ(SerialClose(0, &saved), -1);
}

TEST_F(SerialPortTest, TheIndexesGiveTheirFlags) {
  struct Case {
    int speed, bits, parity, stop;
    tcflag_t cflag;
  } cases[] = {
      {0, 0, 1, 1, B4800 | CS5 | PARENB | CSTOPB},
      {2, 1, 2, 0, B19200 | CS6 | PARENB | PARODD},
      {3, 2, 0, 0, B38400 | CS7},
      {4, 3, 0, 1, B115200 | CS8 | CSTOPB},
  };
  for (const Case& c : cases) {
    int handle = AllocComPort(1, c.speed, c.bits, c.parity, c.stop, nullptr);
    ASSERT_GT(handle, 0);
    struct termios t;
    plat::tcgetattr(handle, &t);
    EXPECT_EQ(t.c_cflag, c.cflag | CLOCAL | CREAD) << c.speed;
    EXPECT_EQ(FreeComPort(handle, nullptr), 0);
  }
}

TEST_F(SerialPortTest, AReadOnAnIdlePortGivesZeroAfterOneSecond) {
  int handle = AllocComPort(2, 1, 3, 0, 0, nullptr);
  ASSERT_GT(handle, 0);
  auto result = std::async(std::launch::async, [&] {
    uint8_t buf[64];
    return ReadComPort(handle, buf, sizeof buf);
  });
  ASSERT_TRUE(sim::Clock::waitForSleepers(1));
  advance(0.999);
  EXPECT_EQ(result.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  advance(0.001);
  EXPECT_EQ(result.get(), 0);
  FreeComPort(handle, nullptr);
}

TEST_F(SerialPortTest, BytesWrittenReachThePeerAndThePeersBytesAreRead) {
  ConsoleCapture console;
  int handle = AllocComPort(2, 1, 3, 0, 0, nullptr);
  const uint8_t poll[] = {0xB5, 0x62, 0x06, 0x24, 0x00, 0x00, 0x2A, 0x84};
  EXPECT_EQ(WriteComPort(handle, poll, sizeof poll), 8);
  EXPECT_NE(console.text().find(": WriteComPort() : B5 62 06 24 00 00 2A 84\n"), std::string::npos);
  advance(0.01);
  auto crossed = probe->received();
  ASSERT_EQ(crossed.size(), 8u);
  EXPECT_EQ(crossed[7].value, 0x84);

  const uint8_t answer[] = "$GPRMC,...\r\n";
  line().peerSend(answer, sizeof answer - 1);
  auto result = std::async(std::launch::async, [&] {
    uint8_t buf[64] = {};
    int n = ReadComPort(handle, buf, sizeof buf);
    return std::string(reinterpret_cast<char*>(buf), n > 0 ? n : 0);
  });
  std::string got = stepUntilReady(result);
  EXPECT_FALSE(got.empty());
  EXPECT_EQ(std::string("$GPRMC,...\r\n").rfind(got, 0), 0u) << "a read gives what has arrived, in order";
  FreeComPort(handle, nullptr);
}

TEST_F(SerialPortTest, WritesAndFreesOnNoPortDoNothingButTrace) {
  ConsoleCapture console;
  const uint8_t bytes[] = {0x01, 0xAB, 0x00, 0xFF};
  EXPECT_EQ(WriteComPort(0, bytes, 4), 0);
  struct termios saved;
  EXPECT_EQ(FreeComPort(-1, &saved), -1);
  std::string text = console.text();
  EXPECT_NE(text.find(": WriteComPort() : 01 AB 00 FF\n"), std::string::npos) << text;
  EXPECT_NE(text.find(": FreeComPort()\n"), std::string::npos);
  EXPECT_NE(text.find(": ~FreeComPort()\n"), std::string::npos);
  EXPECT_EQ(text.find("SerialClose"), std::string::npos);
}

TEST_F(SerialPortTest, APathThatCannotBeOpenedOrIsNoTerminalGivesMinusOne) {
  ConsoleCapture console;
  EXPECT_EQ(SerialOpen(nullptr, B9600, CS8, 0, 0, nullptr), -1);
  EXPECT_EQ(SerialOpen("/dev/ttyS7", B9600, CS8, 0, 0, nullptr), -1);
  // A device that takes no terminal settings would leave reads without their time-out.
  auto gsnr = testing_board::FakeDevice::create("/dev/gsnr", 4);
  EXPECT_EQ(SerialOpen("/dev/gsnr", B9600, CS8, 0, 0, nullptr), -1);
  EXPECT_NE(console.text().find("Error : unknown device"), std::string::npos);
}

}  // namespace
