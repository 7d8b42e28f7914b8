#include "board/gsensor/gsensor_board.h"

#include <cstdlib>

#include "board/timeline.h"
#include "board/io/tq90ra_board.h"
#include "kernel/kernel.h"
#include "platform/sim/board.h"

SIMK_DECLARE_MODULE(bma150)
SIMK_DECLARE_MODULE(tq90ra_gsnr)

namespace sim {

GsensorBoard::GsensorBoard(const AccelMotion::Options& motion) : chip_(std::make_shared<Bma150Model>(motion)) {
  for (const kernel::ModuleEntry& m : {SIMK_MODULE_ENTRY(bma150), SIMK_MODULE_ENTRY(tq90ra_gsnr)}) {
    kernel::defineModule(m);
  }
  setChipOnBus(true);
  for (const std::string& name : moduleOrder()) {
    int result = kernel::insmod(name);
    if (result != 0) loadFailures_.emplace_back(name, result);
  }
  kernel::makeNode(kNode, kMajor, kMinor);
}

GsensorBoard::~GsensorBoard() {
  const std::vector<std::string>& order = moduleOrder();
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if (kernel::isLoaded(*it)) kernel::rmmod(*it);
  }
  setChipOnBus(false);
}

const std::vector<std::string>& GsensorBoard::moduleOrder() {
  static const std::vector<std::string> order = {"bma150", "tq90ra_gsnr"};
  return order;
}

void GsensorBoard::setChipOnBus(bool present) {
  if (present) {
    kernel::attachI2cDevice(Tq90raBoard::kI2cBus, Bma150Model::kAddress, chip_);
  } else {
    kernel::detachI2cDevice(Tq90raBoard::kI2cBus, Bma150Model::kAddress);
  }
}

namespace {

// "gsensor fail N"
bool parseFailAction(const std::vector<std::string>& words, int* n, std::string* error) {
  char* end = nullptr;
  long v = words.size() == 3 ? strtol(words[2].c_str(), &end, 10) : -1;
  if (words.size() != 3 || words[1] != "fail" || words[2].empty() || *end != '\0' || v < 0 || v > 1000000) {
    *error = "gsensor takes: fail N (the number of sensor transfers that fail)";
    return false;
  }
  *n = static_cast<int>(v);
  return true;
}

class GsensorBoardModel : public BoardModel {
 public:
  explicit GsensorBoardModel(std::shared_ptr<VehicleSource> vehicle) : vehicle_(std::move(vehicle)) {}
  const char* name() const override { return "gsensor"; }
  std::vector<std::string> actions() const override { return {"shock", "gsensor"}; }

  bool checkAction(const std::vector<std::string>& words, std::string* error) const override {
    AccelShock shock;
    int n;
    return words[0] == "shock" ? parseShockAction(words, &shock, error) : parseFailAction(words, &n, error);
  }

  void boot(const BoardConfig& config) override {
    AccelMotion::Options motion;
    if (vehicle_) motion.vehicle = vehicle_->forBoot(config);
    board_ = std::make_unique<GsensorBoard>(motion);
    for (const auto& [module, error] : board_->loadFailures()) {
      boardNote("insmod %s failed: %d", module.c_str(), error);
    }
    board_->chip().onBandwidthChange([](int hz) { TimelineEvent("gsensor").add("bandwidth", hz).emit(); });
  }

  bool act(const std::vector<std::string>& words) override {
    std::string error;
    if (words[0] == "shock") {
      AccelShock s;
      if (!parseShockAction(words, &s, &error)) return false;
      board_->chip().addShock(s.peakX, s.peakY, s.peakZ, s.durationMs);
      TimelineEvent("shock").add("x", s.peakX).add("y", s.peakY).add("z", s.peakZ).add("ms", s.durationMs).emit();
      return true;
    }
    int n;
    if (!parseFailAction(words, &n, &error)) return false;
    board_->chip().failTransfers(n);
    TimelineEvent("gsensor").add("fail", n).emit();
    return true;
  }

 private:
  std::shared_ptr<VehicleSource> vehicle_;
  std::unique_ptr<GsensorBoard> board_;
};

}  // namespace

std::unique_ptr<BoardModel> makeGsensorBoardModel(std::shared_ptr<VehicleSource> vehicle) {
  return std::make_unique<GsensorBoardModel>(std::move(vehicle));
}

}  // namespace sim
