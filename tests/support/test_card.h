// A card for tests: a plain directory of the test board mounted at /mnt/log as "/dev/sda1",
// with the recorder's directory tree, and space figures the test chooses: capacity in KiB and
// free = capacity - what the files on it take. Names resolve case-insensitively for the card's
// directories (CH1 is also ch1), as on the FAT card.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sim {
class FileFaults;
}

namespace testing_board {

class TestCard {
 public:
  explicit TestCard(uint64_t capacityK = 8ull * 1024 * 1024);
  ~TestCard();
  TestCard(const TestCard&) = delete;
  TestCard& operator=(const TestCard&) = delete;

  void setCapacityK(uint64_t k);
  // Reserves space as if other files filled it (KiB), on top of what the files take.
  void setReservedK(uint64_t k);
  // The faults the card shows to the program's calls (platform/sim/file_faults.h).
  sim::FileFaults& faults();
  // The PC directory that holds the card's files.
  const std::string& dir() const;
  // The PC path of a channel directory: "event" or "normal".
  std::string channelDir(const std::string& kind) const;

 private:
  struct Fs;
  std::shared_ptr<Fs> fs_;
};

}  // namespace testing_board
