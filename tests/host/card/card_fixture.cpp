#include "card_fixture.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "board/card/card_store.h"
#include "board/host_tools.h"
#include "core/gpio_requests.h"
#include "platform/sim/board.h"

namespace card_test {
namespace {

class ButtonFile : public sim::DeviceFile {
 public:
  explicit ButtonFile(bool held) : held_(held) {}
  long ioctl(unsigned long request, uintptr_t) override {
    if (request == GPIO_IOC_GET_LEVEL) return held_ ? 0 : 1;
    return 0;
  }

 private:
  bool held_;
};

class TimerFile : public sim::DeviceFile {
 public:
  explicit TimerFile(FakeTimerNode* node) : node_(node) {}
  long ioctl(unsigned long request, uintptr_t arg) override {
    if (request != TIMA_IOC_BLINK) return -ENOTTY;
    node_->record(*reinterpret_cast<const TIMA_BLINK_REQ*>(arg));
    return 0;
  }

 private:
  FakeTimerNode* node_;
};

}  // namespace

int FakeButtonNode::open(int, std::unique_ptr<sim::DeviceFile>* file) {
  *file = std::make_unique<ButtonFile>(held_);
  return 0;
}

int FakeTimerNode::open(int, std::unique_ptr<sim::DeviceFile>* file) {
  *file = std::make_unique<TimerFile>(this);
  return 0;
}

std::vector<TIMA_BLINK_REQ> FakeTimerNode::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void FakeTimerNode::record(const TIMA_BLINK_REQ& r) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(r);
}

bool showsSdFailure(const std::vector<TIMA_BLINK_REQ>& requests) {
  for (const TIMA_BLINK_REQ& r : requests) {
    if (r.channel == 0 && r.continuous && r.onMs == 500 && r.offMs == 500) return true;
  }
  return false;
}

CardBoard::CardBoard(uint64_t sizeK, bool partitioned, bool formatted, sim::CardBackend backend) {
  sim::CardState state;
  state.present = true;
  state.sizeK = sizeK;
  state.partitioned = partitioned;
  state.backend = backend;
  sim::saveCardState(dir(), state);
  std::string error;
  if (formatted) {
    EXPECT_TRUE(sim::prepareCardAsUnit(dir(), state, &error)) << error;
  } else {
    EXPECT_TRUE(sim::makeBlankImage(image(), state.imageSizeK()));
  }
}

CardBoard::~CardBoard() { sim::resetBoard(); }

void CardBoard::bootModels() {
  std::ofstream(board_.host("/proc/partitions"), std::ios::trunc) << "major minor  #blocks  name\n\n";
  sim::BoardConfig config;
  config.boardDir = dir();
  flash_.boot(config);
  card_.boot(config);
}

void CardBoard::addButtons(bool resetHeld) {
  sim::addDeviceNode("/dev/gpio14", std::make_shared<FakeButtonNode>(resetHeld));
  timer_ = std::make_shared<FakeTimerNode>();
  sim::addDeviceNode("/dev/tima0", timer_);
}

int CardBoard::fsck(std::string* report) const { return sim::runTool({"fsck.fat", "-n", image()}, report); }

bool makeTar(const std::string& hostPath, const std::vector<std::pair<std::string, std::string>>& members) {
  namespace fs = std::filesystem;
  fs::path work = hostPath + ".members";
  fs::create_directories(work);
  fs::create_directories(fs::path(hostPath).parent_path());
  std::vector<std::string> argv = {"tar", "--force-local", "-cf", hostPath, "-C", work.string()};
  for (const auto& [name, content] : members) {
    std::ofstream(work / name, std::ios::binary) << content;
    argv.push_back(name);
  }
  bool ok = sim::runTool(argv) == 0;
  fs::remove_all(work);
  return ok;
}

std::vector<sim::CardBackend> backendsHere() {
  if (sim::fuseAvailable()) return {sim::CardBackend::Fuse, sim::CardBackend::Directory};
  return {sim::CardBackend::Directory};
}

const char* backendName(sim::CardBackend b) { return b == sim::CardBackend::Fuse ? "fusefat" : "directory"; }

}  // namespace card_test
