#include "fuzz_board.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "platform/sim/board.h"
#include "platform/sim/clock.h"

namespace fuzz_board {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kStartSecond = 1767225600;  // 2026-01-01 00:00:00 UTC

std::string makeBoard() {
  setenv("TZ", "UTC", 1);
  tzset();
  std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/recorder-fuzz-XXXXXX");
  const char* made = mkdtemp(pattern.data());
  std::string dir = made ? made : "/tmp/recorder-fuzz";
  sim::setBoardDir(dir);
  sim::Clock::manual(kStartSecond * sim::kNsPerSec);
  fs::create_directories(fs::path(dir) / "rootfs/mnt/log/config");
  // The directory goes when the run ends (libFuzzer ends by exit()).
  static std::string removeAtExit;
  removeAtExit = dir;
  atexit([] {
    std::error_code ec;
    fs::remove_all(removeAtExit, ec);
  });
  return dir;
}

}  // namespace

const std::string& boardDir() {
  static const std::string dir = makeBoard();
  return dir;
}

std::string hostPath(const char* boardPath) {
  boardDir();
  return sim::hostPath(boardPath);
}

void writeBoardFile(const char* boardPath, const uint8_t* data, size_t size) {
  std::string path = hostPath(boardPath);
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) {
    fs::create_directories(fs::path(path).parent_path());
    f = fopen(path.c_str(), "wb");
    if (f == nullptr) abort();  // the fuzzing set-up itself is broken
  }
  if (size > 0 && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
}

void runClockFast() {
  static const bool fast = [] {
    boardDir();
    sim::Clock::runAt(1e7, sim::Clock::monoNow(), 0, kStartSecond * sim::kNsPerSec);
    return true;
  }();
  (void)fast;
}

namespace {

const uint8_t* gPortData;
size_t gPortSize, gPortAt, gMaxPiece = 1;

}  // namespace

void feedPort(const uint8_t* data, size_t size, size_t maxPiece) {
  gPortData = data;
  gPortSize = size;
  gPortAt = 0;
  gMaxPiece = maxPiece;
}

int readPiece(int, uint8_t* buffer, int size) {
  if (gPortAt >= gPortSize) return 0;
  size_t n = 1 + (gPortData[gPortAt] % gMaxPiece);
  if (n > gPortSize - gPortAt) n = gPortSize - gPortAt;
  if (n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
  memcpy(buffer, gPortData + gPortAt, n);
  gPortAt += n;
  return static_cast<int>(n);
}

int writeAll(int, const uint8_t*, int count) { return count; }

}  // namespace fuzz_board
