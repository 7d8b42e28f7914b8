#include "support/test_board.h"
#include "support/host_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sim/board.h"
#include "platform/sim/clock.h"

namespace testing_board {

namespace fs = std::filesystem;

TestBoard::TestBoard() {
  setenv("TZ", "UTC", 1);  // boards in tests keep UTC unless a test says otherwise
  tzset();
  char pattern[] = "/tmp/recorder-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  dir_ = made ? made : "/tmp/recorder-test";
  sim::resetBoard();
  sim::setBoardDir(dir_);
  sim::Clock::manual(kStartSecond * sim::kNsPerSec);
  for (const char* d : {"rootfs/mnt/log", "rootfs/mnt/ramdisk", "rootfs/proc"}) fs::create_directories(fs::path(dir_) / d);
}

TestBoard::~TestBoard() {
  sim::resetBoard();
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string TestBoard::host(const std::string& boardPath) const { return sim::hostPath(boardPath.c_str()); }

void TestBoard::writeFile(const std::string& boardPath, const std::string& content) const {
  fs::path p = host(boardPath);
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

std::string TestBoard::readFile(const std::string& boardPath) const {
  return hostFileText(host(boardPath));
}

bool TestBoard::exists(const std::string& boardPath) const { return fs::exists(host(boardPath)); }

void TestBoard::mkdirs(const std::string& boardPath) const { fs::create_directories(host(boardPath)); }

void TestBoard::advance(double seconds) const {
  sim::Clock::advance(static_cast<int64_t>(seconds * static_cast<double>(sim::kNsPerSec)));
}

}  // namespace testing_board
