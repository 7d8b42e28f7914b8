#include "board/io/tq90ra_board.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "board/timeline.h"
#include "kernel/kernel.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"

SIMK_DECLARE_MODULE(ds1337)
SIMK_DECLARE_MODULE(tq90ra_gpio)
SIMK_DECLARE_MODULE(tq90ra_tima)
SIMK_DECLARE_MODULE(tq90ra_timb)
SIMK_DECLARE_MODULE(tq90ra_sysc)
SIMK_DECLARE_MODULE(tq90ra_rtc)
SIMK_DECLARE_MODULE(zr31camera)
SIMK_DECLARE_MODULE(cam_jpeg)

namespace sim {
namespace {

struct Node {
  const char* path;
  unsigned major, minor;
};

// The board's device files (made by its start-up script, not by the modules).
const Node kNodes[] = {
    {"/dev/gpio13", 241, 13}, {"/dev/gpio14", 241, 14}, {"/dev/gpio15", 241, 15},
    {"/dev/tima0", 125, 0},   {"/dev/sysc", 240, 103},  {"/dev/rtc", 10, 135},
};

constexpr unsigned kTimaMajor = 125;
constexpr unsigned kBlinkRequest = 0x40187805;

int pinOf(Tq90raBoard::Button b) { return b == Tq90raBoard::Button::Rec ? GpioModel::kRecPin : GpioModel::kResetPin; }
const char* nameOf(Tq90raBoard::Button b) { return b == Tq90raBoard::Button::Rec ? "rec" : "reset"; }

// Modules that call functions another module exports: on the board such a module does not load
// (unknown symbol) unless the other one was loaded first.
const std::pair<const char*, const char*> kNeeds[] = {
    {"tq90ra_rtc", "ds1337"},
    {"cam_jpeg", "zr31camera"},  // the camera driver sets its sensor up through zr31camera
};

int loadModule(const std::string& name) {
  for (const auto& [module, needed] : kNeeds) {
    if (name == module && !kernel::isLoaded(needed)) return -ENOENT;
  }
  return kernel::insmod(name);
}

}  // namespace

const std::vector<std::string>& Tq90raBoard::moduleOrder() {
  static const std::vector<std::string> order = {"ds1337",      "tq90ra_gpio", "tq90ra_tima",
                                                 "tq90ra_timb", "tq90ra_sysc", "tq90ra_rtc",
                                                 "zr31camera",  "cam_jpeg"};
  return order;
}

Tq90raBoard::Tq90raBoard(const Options& options)
    : gpio_(std::make_shared<GpioModel>()),
      timerA_(std::make_shared<TimerAModel>(events_)),
      timerB_(std::make_shared<TimerBModel>()),
      sysc_(std::make_shared<SyscModel>()),
      rtc_(std::make_shared<Ds1337Model>(options.rtcStatePath)),
      sensor_(std::make_shared<Zr31SensorModel>()) {
  kernel::reset();
  for (const kernel::ModuleEntry& m :
       {SIMK_MODULE_ENTRY(ds1337), SIMK_MODULE_ENTRY(tq90ra_gpio), SIMK_MODULE_ENTRY(tq90ra_tima),
        SIMK_MODULE_ENTRY(tq90ra_timb), SIMK_MODULE_ENTRY(tq90ra_sysc), SIMK_MODULE_ENTRY(tq90ra_rtc)}) {
    kernel::defineModule(m);
  }
  kernel::defineModule(SIMK_MODULE_ENTRY(zr31camera));
  kernel::defineModule(SIMK_MODULE_ENTRY(cam_jpeg));
  kernel::mapRegisters(GpioModel::kPhys, GpioModel::kSize, gpio_);
  kernel::mapRegisters(TimerAModel::kPhys, TimerAModel::kSize, timerA_);
  kernel::mapRegisters(TimerBModel::kPhys, TimerBModel::kSize, timerB_);
  kernel::mapRegisters(SyscModel::kPhys, SyscModel::kSize, sysc_);
  kernel::addI2cAdapter(kI2cBus, "tq90ra-i2c");
  kernel::attachI2cDevice(kI2cBus, Ds1337Model::kAddress, rtc_);
  kernel::attachI2cDevice(kI2cBus, Zr31SensorModel::kAddress, sensor_);

  gpio_->setInput(GpioModel::kInputPort, GpioModel::kRecPin, !options.recHeld);
  gpio_->setInput(GpioModel::kInputPort, GpioModel::kResetPin, !options.resetHeld);
  gpio_->setInput(GpioModel::kInputPort, GpioModel::kPowerFailPin, options.supplyPresent);
  gpio_->onPortC([this](uint32_t, uint32_t) { updateSignals(); });
  timerB_->onChange([this] { updateSignals(); });
  kernel::observeIoctl(kTimaMajor, 0, [this](unsigned cmd, uintptr_t arg, long result) {
    uint32_t words[6];
    if (cmd != kBlinkRequest || arg == 0 || !kernel::copyFromUser(words, arg, sizeof words)) return;
    signals_.requested({words[0], words[1], words[2], words[3], words[4], words[5]}, result);
  });

  for (const std::string& name : moduleOrder()) {
    int result = loadModule(name);
    if (result != 0) loadFailures_.emplace_back(name, result);
  }
  for (const Node& n : kNodes) kernel::makeNode(n.path, n.major, n.minor);
}

Tq90raBoard::~Tq90raBoard() {
  events_.stopThread();
  kernel::reset();
}

void Tq90raBoard::updateSignals() {
  signals_.pinsChanged(gpio_->reg(GpioModel::kPortC), gpio_->reg(GpioModel::kPortC + 4), timerB_->toneHz(0) > 0);
}

void Tq90raBoard::setButton(Button button, bool pressed) {
  if (pressed) waitForListener(pinOf(button));
  // In the timeline before the edge: the program's answer to it (a pattern, a trace) is written
  // from its own threads and must never come out ahead of the press that caused it.
  TimelineEvent("button").add("button", nameOf(button)).add("state", pressed ? "pressed" : "released").emit();
  gpio_->setInput(GpioModel::kInputPort, pinOf(button), !pressed);
}

// The driver hears a button's edge only while its reader waits in a read; between two reads
// (microseconds on the board) an edge is lost. On a sped-up clock a loaded PC can stretch that
// gap over a press, so a press waits a little (real time) for the reader to be listening, as a
// person's press always finds it on the board. A stepped clock (tests) never waits.
void Tq90raBoard::waitForListener(int pin) {
  if (Clock::isManual()) return;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (!gpio_->interruptEnabled(GpioModel::kInputPort, pin) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void Tq90raBoard::press(Button button) {
  setButton(button, true);
  events_.after(kPressNs, [this, button] { setButton(button, false); });
}

void Tq90raBoard::setSupply(bool present) {
  gpio_->setInput(GpioModel::kInputPort, GpioModel::kPowerFailPin, present);
}

// ---- recorder-sim --------------------------------------------------------------------------

namespace {

constexpr const char* kHeldRec = "held-rec";
constexpr const char* kHeldReset = "held-reset";

bool buttonOf(const std::string& word, Tq90raBoard::Button* b) {
  if (word == "rec") {
    *b = Tq90raBoard::Button::Rec;
  } else if (word == "reset") {
    *b = Tq90raBoard::Button::Reset;
  } else {
    return false;
  }
  return true;
}

class Tq90raBoardModel : public BoardModel {
 public:
  const char* name() const override { return "tq90ra-io"; }
  std::vector<std::string> actions() const override { return {"press", "hold", "release", "rtc"}; }

  void boot(const BoardConfig& config) override {
    kernel::setLogSink([this](const std::string& line) { logLine(line); });
    log_ = fopen((config.boardDir + "/kernel.log").c_str(), "a");
    if (log_) fprintf(log_, "---- boot %d\n", config.bootNumber);
    Tq90raBoard::Options o;
    o.rtcStatePath = config.boardDir + "/ds1337.rtc";
    bool newChip = access(o.rtcStatePath.c_str(), F_OK) != 0;
    o.supplyPresent = config.supplyPresent;
    o.resetHeld = config.option(kHeldReset) == "1";
    o.recHeld = config.option(kHeldRec) == "1";
    board_ = std::make_unique<Tq90raBoard>(o);
    // --rtc-offset: a board whose clock chip is off the true time when the run starts.
    std::string offset = config.option("rtc-offset");
    if (newChip || (config.bootNumber == 1 && !offset.empty())) setChipToWorldTime(atoll(offset.c_str()));
    for (const auto& [module, error] : board_->loadFailures()) {
      boardNote("insmod %s failed: %d", module.c_str(), error);
    }
    if (o.resetHeld) boardNote("the reset button is held");
    board_->events().startThread();
  }

  // A new board leaves the factory with its clock chip set to the local time of its first
  // power-on (recorder-sim's --start), as a unit that was set up before it reached its user;
  // `offsetSeconds` sets it that far off instead.
  void setChipToWorldTime(int64_t offsetSeconds) {
    time_t now = static_cast<time_t>(Clock::world() / kNsPerSec + offsetSeconds);
    struct tm local;
    localtime_r(&now, &local);
    Ds1337Model::Fields f = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                             local.tm_hour,        local.tm_min,     local.tm_sec};
    board_->rtc().setChipSeconds(Ds1337Model::secondsOf(f));
  }

  bool checkAction(const std::vector<std::string>& words, std::string* error) const override {
    Tq90raBoard::Button b;
    if (words[0] == "rtc") {
      char* end = nullptr;
      bool count = words.size() == 4 && strtol(words[3].c_str(), &end, 10) >= 0 && *end == '\0' && !words[3].empty();
      if (count && words[1] == "fail" && (words[2] == "read" || words[2] == "write")) return true;
      *error = "expected \"rtc fail read N\" or \"rtc fail write N\"";
      return false;
    }
    if (words.size() == 2 && buttonOf(words[1], &b)) return true;
    *error = words.size() == 2 ? "unknown button \"" + words[1] + "\": the buttons are rec and reset"
                               : "expected \"" + words[0] + " rec\" or \"" + words[0] + " reset\"";
    return false;
  }

  bool act(const std::vector<std::string>& words) override {
    Tq90raBoard::Button b;
    if (words[0] == "rtc") return rtcAction(words);
    if (words.size() != 2 || !buttonOf(words[1], &b)) return false;
    if (words[0] == "press") {
      board_->press(b);
    } else {
      board_->setButton(b, words[0] == "hold");
    }
    return true;
  }

  void supplyChanged(bool present) override {
    if (board_) board_->setSupply(present);
  }

 private:
  // "rtc fail read N" / "rtc fail write N": the clock chip does not answer N times.
  bool rtcAction(const std::vector<std::string>& words) {
    if (words.size() != 4 || words[1] != "fail") return false;
    int n = atoi(words[3].c_str());
    if (words[2] == "read") {
      board_->rtc().failReads(n);
    } else if (words[2] == "write") {
      board_->rtc().failWrites(n);
    } else {
      return false;
    }
    return true;
  }

  void logLine(const std::string& line) {
    int64_t ns = Clock::elapsed();
    std::lock_guard<std::mutex> lock(logMutex_);
    printf("[kernel] %s\n", line.c_str());
    fflush(stdout);
    if (log_) {
      fprintf(log_, "[%5lld.%06lld] %s\n", static_cast<long long>(ns / kNsPerSec),
              static_cast<long long>(ns % kNsPerSec / 1000), line.c_str());
      fflush(log_);
    }
  }

  std::unique_ptr<Tq90raBoard> board_;
  std::mutex logMutex_;
  FILE* log_ = nullptr;
};

class HeldButtons : public RunnerExtension {
 public:
  std::vector<std::string> actions() const override { return {"hold", "release"}; }
  bool checkAction(const std::vector<std::string>& words, std::string* error) const override {
    return Tq90raBoardModel().checkAction(words, error);
  }

  bool act(RunnerContext& ctx, const std::vector<std::string>& words) override {
    Tq90raBoard::Button b;
    if (words.size() != 2 || !buttonOf(words[1], &b)) return false;
    const char* key = b == Tq90raBoard::Button::Rec ? kHeldRec : kHeldReset;
    if (words[0] == "hold") {
      ctx.options.insert_or_assign(key, std::string(1, '1'));  // not = "1": a false warning of GCC 12
    } else {
      ctx.options.erase(key);
    }
    if (!ctx.boardRunning) {
      TimelineEvent("button").add("button", words[1]).add("state", words[0] == "hold" ? "held" : "released").emit();
    }
    ctx.sendToBoard(words[0] + " " + words[1]);
    return true;
  }
};

}  // namespace

std::unique_ptr<BoardModel> makeTq90raBoardModel() { return std::make_unique<Tq90raBoardModel>(); }
std::unique_ptr<RunnerExtension> makeHeldButtonsExtension() { return std::make_unique<HeldButtons>(); }

}  // namespace sim
