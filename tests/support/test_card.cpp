#include "support/test_card.h"

#include <filesystem>
#include <mutex>

#include "core/sd_card.h"
#include "platform/sim/board.h"

namespace testing_board {

namespace fs = std::filesystem;

struct TestCard::Fs : public sim::Filesystem {
  std::mutex mutex;
  std::string dir;
  uint64_t capacityK = 0;
  uint64_t reservedK = 0;

  int mount(const std::string&, unsigned long, std::string* hostDir) override {
    *hostDir = dir;
    return 0;
  }
  int umount() override { return 0; }
  bool foldsCase() const override { return true; }  // a FAT card: the program's ch1 is CH1
  int statfs(struct statfs* st) override {
    uint64_t usedK = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      if (it->is_regular_file(ec)) usedK += (it->file_size(ec) + 1023) / 1024;
    }
    std::lock_guard<std::mutex> lock(mutex);
    uint64_t taken = usedK + reservedK;
    *st = {};
    st->f_bsize = 4096;
    st->f_blocks = capacityK / 4;
    st->f_bfree = st->f_bavail = taken >= capacityK ? 0 : (capacityK - taken) / 4;
    return 1;
  }
};

TestCard::TestCard(uint64_t capacityK) : fs_(std::make_shared<Fs>()) {
  fs_->dir = sim::boardFile("card");
  fs_->capacityK = capacityK;
  fs::create_directories(fs_->dir + "/CH1/event");
  fs::create_directories(fs_->dir + "/CH1/normal");
  fs::create_directories(fs_->dir + "/config");
  sim::addMountSource(SD_PARTITION_DEVICE, fs_);
  sim::mountFs(SD_PARTITION_DEVICE, SD_MOUNT_POINT, "vfat", 0);
}

TestCard::~TestCard() {
  sim::umountFs(SD_MOUNT_POINT);
  sim::removeMountSource(SD_PARTITION_DEVICE);
}

void TestCard::setCapacityK(uint64_t k) {
  std::lock_guard<std::mutex> lock(fs_->mutex);
  fs_->capacityK = k;
}

void TestCard::setReservedK(uint64_t k) {
  std::lock_guard<std::mutex> lock(fs_->mutex);
  fs_->reservedK = k;
}

sim::FileFaults& TestCard::faults() { return fs_->faults(); }

const std::string& TestCard::dir() const { return fs_->dir; }

std::string TestCard::channelDir(const std::string& kind) const { return fs_->dir + "/CH1/" + kind; }

}  // namespace testing_board
