// A simulated board for tests: a fresh board directory, the clock standing still until the test
// moves it, no devices, no card. Each test gets its own board.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace testing_board {

// Seconds since the epoch of 2026-01-01 00:00:00 UTC: where test boards' clocks start.
constexpr int64_t kStartSecond = 1767225600;

class TestBoard {
 public:
  TestBoard();
  ~TestBoard();
  TestBoard(const TestBoard&) = delete;
  TestBoard& operator=(const TestBoard&) = delete;

  const std::string& dir() const { return dir_; }
  // The PC path of a board path ("/mnt/log/x" while nothing is mounted: the root file system).
  std::string host(const std::string& boardPath) const;
  // Writes a file at a board path, creating its folders.
  void writeFile(const std::string& boardPath, const std::string& content) const;
  std::string readFile(const std::string& boardPath) const;
  bool exists(const std::string& boardPath) const;
  void mkdirs(const std::string& boardPath) const;
  // Moves the simulated clock on.
  void advance(double seconds) const;

 private:
  std::string dir_;
};

// Captures what the program prints on the console.
class ConsoleCapture {
 public:
  ConsoleCapture() { ::testing::internal::CaptureStdout(); }
  std::string text() {
    if (!done_) {
      fflush(stdout);  // traces are buffered when stdout is not a terminal
      text_ = ::testing::internal::GetCapturedStdout();
      done_ = true;
    }
    return text_;
  }
  ~ConsoleCapture() { text(); }

 private:
  bool done_ = false;
  std::string text_;
};

}  // namespace testing_board
