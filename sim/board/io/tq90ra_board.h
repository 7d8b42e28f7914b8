// The TQ90RA board's own I/O as one piece: the emulated kernel with the board's register
// blocks and I2C bus, the kernel's ds1337 driver, the modules loaded in the board's order, the
// device nodes, and the models behind them (buttons and power-fail line, Timer A and port C,
// Timer B, system controller, DS1337, the camera's image sensor).
//
// recorder-sim makes one at every boot (Tq90raBoardModel below); tests make one with the clock
// standing still and step it with events().advance().
//
// For the developers who add parts: put a chip model on the bus with
// kernel::attachI2cDevice(Tq90raBoard::kI2cBus, address, model) before the driver that probes
// for it is loaded, and load modules with kernel::insmod after this board's (their order among
// the BoardModels of createBoardModels() is the load order).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "board/board_model.h"
#include "board/clock/ds1337_model.h"
#include "board/events.h"
#include "board/io/gpio_model.h"
#include "board/io/signals.h"
#include "board/io/timer_models.h"
#include "board/camera/zr31camera_model.h"
#include "platform/sim/clock.h"

namespace sim {

class Tq90raBoard {
 public:
  static constexpr int kI2cBus = 0;
  static constexpr int64_t kPressNs = 200 * kNsPerMs;  // how long "press" holds a button

  struct Options {
    std::string rtcStatePath;  // the DS1337's battery-backed file; empty: in memory
    bool supplyPresent = true;
    bool resetHeld = false;
    bool recHeld = false;
  };

  enum class Button { Rec, Reset };

  explicit Tq90raBoard(const Options& options);
  ~Tq90raBoard();
  Tq90raBoard(const Tq90raBoard&) = delete;
  Tq90raBoard& operator=(const Tq90raBoard&) = delete;

  // The board's modules in load order (the board kernel's ds1337 driver first).
  static const std::vector<std::string>& moduleOrder();
  // Modules that failed to load, with their error.
  const std::vector<std::pair<std::string, int>>& loadFailures() const { return loadFailures_; }

  void setButton(Button button, bool pressed);
  // Presses a button and lets it go kPressNs later.
  void press(Button button);
  void setSupply(bool present);

  BoardEvents& events() { return events_; }
  GpioModel& gpio() { return *gpio_; }
  TimerAModel& timerA() { return *timerA_; }
  TimerBModel& timerB() { return *timerB_; }
  SyscModel& sysc() { return *sysc_; }
  Ds1337Model& rtc() { return *rtc_; }
  Zr31SensorModel& sensor() { return *sensor_; }
  SignalPanel& signals() { return signals_; }

 private:
  void updateSignals();
  void waitForListener(int pin);

  BoardEvents events_;
  std::shared_ptr<GpioModel> gpio_;
  std::shared_ptr<TimerAModel> timerA_;
  std::shared_ptr<TimerBModel> timerB_;
  std::shared_ptr<SyscModel> sysc_;
  std::shared_ptr<Ds1337Model> rtc_;
  std::shared_ptr<Zr31SensorModel> sensor_;
  SignalPanel signals_;
  std::vector<std::pair<std::string, int>> loadFailures_;
};

// The board's I/O as a part of recorder-sim's board: boots the kernel at each boot and carries
// out "press rec|reset", "hold reset|rec", "release reset|rec" and "rtc fail read|write N".
std::unique_ptr<BoardModel> makeTq90raBoardModel();
// Keeps buttons held across boots: "0 hold reset" holds the reset button when the board powers
// on (and at every boot after) until "release reset".
std::unique_ptr<RunnerExtension> makeHeldButtonsExtension();

}  // namespace sim
