// The board's terminals and lines on the hand-stepped clock: what crosses, when, and what a
// receiver makes of a line whose other end speaks another format.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/ioctl.h>
#include <vector>

#include "platform/platform.h"
#include "serial/serial_fixture.h"

namespace {

using sim::LineByte;
using sim::LineFormat;
using testing_board::SerialFixture;

constexpr int64_t kMs = 1000 * 1000;

class TerminalTest : public SerialFixture {
 protected:
  // Opens /dev/ttyS2 raw at `speed` with VMIN and VTIME as given.
  int openRaw(speed_t speed = B9600, cc_t vmin = 0, cc_t vtime = 10) {
    int fd = plat::open("/dev/ttyS2", O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0);
    struct termios t = {};
    t.c_cflag = speed | CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = vmin;
    t.c_cc[VTIME] = vtime;
    EXPECT_EQ(plat::tcsetattr(fd, TCSANOW, &t), 0);
    return fd;
  }
  std::future<std::string> readAsync(int fd, size_t size = 4096) {
    return std::async(std::launch::async, [fd, size] {
      std::vector<char> buf(size);
      ssize_t n = plat::read(fd, buf.data(), size);
      return n < 0 ? std::string("error") : std::string(buf.data(), static_cast<size_t>(n));
    });
  }
  // What the board reads within `seconds` (reads until nothing more comes for a read's VTIME).
  std::string drain(int fd, double seconds) {
    std::string all;
    double until = static_cast<double>(now()) / 1e9 + seconds;
    while (static_cast<double>(now()) / 1e9 < until) {
      auto f = readAsync(fd);
      std::string got = stepUntilReady(f, 3);
      if (got.empty()) break;
      all += got;
    }
    return all;
  }
};

TEST_F(TerminalTest, AFreshPortHasTheLinuxDefaults) {
  int fd = plat::open("/dev/ttyS1", O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  struct termios t;
  ASSERT_EQ(plat::tcgetattr(fd, &t), 0);
  EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(B9600));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_TRUE((t.c_lflag & ICANON) && (t.c_lflag & ECHO));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(LineFormat::fromTermios(t).text(), "9600 8N1");
  plat::close(fd);
  EXPECT_EQ(plat::open("/dev/ttyS4", O_RDWR), -1) << "the board has four ports";
}

TEST_F(TerminalTest, AReadWithNothingReceivedGivesZeroAfterExactlyVtime) {
  int fd = openRaw(B9600, 0, 5);
  auto result = readAsync(fd);
  ASSERT_TRUE(sim::Clock::waitForSleepers(1));
  advance(0.499);
  EXPECT_EQ(result.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  advance(0.001);
  EXPECT_EQ(result.get(), "");
  plat::close(fd);
}

TEST_F(TerminalTest, AThousandBytesAt9600TakeAbout104SecondsBothWays) {
  int fd = openRaw();
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  int64_t start = now();
  EXPECT_EQ(plat::write(fd, data.data(), data.size()), 1000) << "a write returns once queued";
  EXPECT_EQ(now(), start);
  int outq = 0;
  plat::ioctl(fd, TIOCOUTQ, &outq);
  EXPECT_EQ(outq, 1000);
  advance(1.04);
  EXPECT_LT(probe->received().size(), 1000u);
  advance(0.002);
  auto crossed = probe->received();
  ASSERT_EQ(crossed.size(), 1000u);
  EXPECT_EQ(crossed.back().at - start, 999 * LineFormat{}.frameNs() + LineFormat{}.receiveNs());
  for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(crossed[i].value, data[i]) << i;
  EXPECT_EQ(crossed[0].flags, 0);

  // The other way: the last of the thousand is readable 1.04 s after the peer sent them.
  start = now();
  int64_t arrival = line().peerSend(data.data(), data.size());
  EXPECT_NEAR(static_cast<double>(arrival - start) / 1e9, 1.0417, 0.0001);
  std::string got = drain(fd, 1.2);
  ASSERT_EQ(got.size(), 1000u);
  EXPECT_EQ(std::memcmp(got.data(), data.data(), 1000), 0);
  plat::close(fd);
}

TEST_F(TerminalTest, TheUartHandsOnEightAtOnceOrAfterFourQuietCharacters) {
  int fd = openRaw(B9600, 0, 10);
  const int64_t frame = LineFormat{}.frameNs();
  const uint8_t three[] = {'a', 'b', 'c'};
  line().peerSend(three, 3);
  auto result = readAsync(fd);
  ASSERT_TRUE(sim::Clock::waitForSleepers(1));
  // The third arrives after 3 characters; then the FIFO waits 4 quiet characters.
  ports->events().advance(3 * frame + 4 * frame - 20000);
  EXPECT_EQ(result.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  ports->events().advance(20000);
  EXPECT_EQ(result.get(), "abc");

  const uint8_t ten[] = "0123456789";
  line().peerSend(ten, 10);
  result = readAsync(fd);
  ASSERT_TRUE(sim::Clock::waitForSleepers(1));
  ports->events().advance(8 * frame);
  EXPECT_EQ(result.get(), "01234567");
  plat::close(fd);
}

TEST_F(TerminalTest, TcflushDropsWhatWasReceivedAndNotRead) {
  int fd = openRaw();
  const uint8_t old[] = "stale bytes";
  line().peerSend(old, sizeof old - 1);
  advance(0.05);
  int queued = 0;
  plat::ioctl(fd, FIONREAD, &queued);
  EXPECT_EQ(queued, 11);
  ASSERT_EQ(plat::tcflush(fd, TCIFLUSH), 0);
  plat::ioctl(fd, FIONREAD, &queued);
  EXPECT_EQ(queued, 0);
  const uint8_t fresh[] = "new";
  line().peerSend(fresh, 3);
  EXPECT_EQ(drain(fd, 0.1), "new");
  plat::close(fd);
}

TEST_F(TerminalTest, APortNobodyHasOpenLosesWhatArrives) {
  const uint8_t early[] = "early";
  line().peerSend(early, 5);
  advance(0.1);
  int fd = openRaw();
  const uint8_t late[] = "late";
  line().peerSend(late, 4);
  EXPECT_EQ(drain(fd, 0.1), "late");
  plat::close(fd);
}

TEST_F(TerminalTest, A4800BaudPeerReadAt9600GivesTheSameGarbageEveryTime) {
  int fd = openRaw(B9600);
  LineFormat slow;
  slow.baud = 4800;
  line().setPeerFormat(slow);
  // 0x55 at half the speed: each of its bits spans two of the receiver's. The receiver samples
  // 0 1 1 0 0 1 1 0 with a low stop bit (0x66, a framing error), then finds an edge in the
  // middle of the character and reads 0xE6.
  const uint8_t u = 0x55;
  line().peerSend(&u, 1);
  EXPECT_EQ(drain(fd, 0.1), "\x66\xE6");

  const std::string sentence = "$GPGGA,123519,4807.038,N*47\r\n";
  line().peerSend(reinterpret_cast<const uint8_t*>(sentence.data()), sentence.size());
  std::string first = drain(fd, 0.2);
  line().peerSend(reinterpret_cast<const uint8_t*>(sentence.data()), sentence.size());
  std::string second = drain(fd, 0.2);
  EXPECT_FALSE(first.empty());
  EXPECT_NE(first, sentence);
  EXPECT_EQ(first, second) << "deterministic";
  plat::close(fd);
}

TEST_F(TerminalTest, ThePeerSeesGarbageWhenTheBoardSpeaksAnotherFormat) {
  int fd = openRaw(B19200);
  const uint8_t bytes[] = {0x00, 0xFF, 0x55};
  plat::write(fd, bytes, 3);
  advance(0.05);
  auto crossed = probe->received();
  ASSERT_FALSE(crossed.empty());
  bool clean = crossed.size() == 3;
  for (size_t i = 0; clean && i < 3; ++i) clean = crossed[i].value == bytes[i] && crossed[i].flags == 0;
  EXPECT_FALSE(clean) << "19200 baud read at 9600";

  // Parity: an even-parity peer against a board without parity checking: the characters come
  // in as the receiver sampled them, unmarked, as Linux hands them on without INPCK.
  probe->clear();
  LineFormat even;
  even.dataBits = 7;
  even.parity = sim::Parity::Even;
  even.baud = 19200;
  line().setPeerFormat(even);
  const uint8_t c = 'C';  // 0x43: three ones, so even parity wants a 1; bit 7 (0) is read as parity
  plat::write(fd, &c, 1);
  advance(0.01);
  crossed = probe->received();
  ASSERT_EQ(crossed.size(), 1u);
  EXPECT_EQ(crossed[0].value, 'C');
  EXPECT_EQ(crossed[0].flags, LineByte::kParityError);
  plat::close(fd);
}

TEST_F(TerminalTest, CanonicalModeGivesLinesAndEchoesThem) {
  int fd = plat::open("/dev/ttyS2", O_RDWR | O_NOCTTY);  // the defaults: canonical, echo
  const uint8_t typed[] = "ab\x7f" "c\r";
  line().peerSend(typed, 5);
  auto result = readAsync(fd);
  std::string got = stepUntilReady(result, 1);
  EXPECT_EQ(got, "ac\n") << "erase took the b back, CR became a line feed";
  advance(0.05);
  EXPECT_EQ(probe->text(), "ab\b \bc\r\n") << "echo, with the erase shown and CR LF out";
  plat::close(fd);
}

TEST_F(TerminalTest, VminWaitsForThatManyAndVtimeThenTimesTheGaps) {
  int fd = openRaw(B9600, 4, 0);
  const uint8_t two[] = "xy";
  line().peerSend(two, 2);
  auto result = readAsync(fd);
  advance(0.5);
  EXPECT_EQ(result.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout) << "VMIN 4, VTIME 0";
  line().peerSend(two, 2);
  EXPECT_EQ(stepUntilReady(result, 1), "xyxy");

  struct termios t;
  plat::tcgetattr(fd, &t);
  t.c_cc[VTIME] = 2;
  plat::tcsetattr(fd, TCSANOW, &t);
  line().peerSend(two, 2);
  result = readAsync(fd);
  EXPECT_EQ(stepUntilReady(result, 1), "xy") << "200 ms after the last character";
  plat::close(fd);
}

TEST_F(TerminalTest, ClosingWaitsUntilTheOutputIsOut) {
  int fd = openRaw();
  std::vector<uint8_t> data(96, 'z');
  plat::write(fd, data.data(), data.size());
  int64_t start = now();
  auto closed = std::async(std::launch::async, [fd] { return plat::close(fd); });
  EXPECT_EQ(stepUntilReady(closed, 1), 0);
  EXPECT_GE(now() - start, 96 * LineFormat{}.frameNs() - kMs);
  EXPECT_EQ(probe->received().size(), 96u);
}

}  // namespace
