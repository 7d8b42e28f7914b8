// What the user sees and hears: the buzzer and the two LEDs.
//
// Pin level: port C pin 0 gates the buzzer (it sounds while the pin carries Timer B's tone,
// function code 1, and the tone runs); pins 1 and 2 light the LEDs while they are outputs
// (code 2) at level 1. Those are the states tests look at tick by tick.
//
// Requests: every blink request on /dev/tima0 goes to the timeline with its fields, its result
// and the state it leaves each output in ("blink 500/500 ms from on", "on", "once 1000 ms").
// When the requests sent back to back make up one of the recorder's signal patterns, the
// timeline names it ("sdfailure", "poweroff", ...), as the user manual would describe it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class SignalPanel {
 public:
  // The blink request's six words: channel, continuous, count, on ms, off ms, start level.
  struct Request {
    uint32_t channel, continuous, count, onMs, offMs, start;
    bool operator==(const Request&) const = default;
  };

  // Port C or the tone changed.
  void pinsChanged(uint32_t data, uint32_t function, bool toneRuns);
  // A blink request was made (result: the driver's).
  void requested(const Request& request, long result);

  bool buzzer() const;
  bool led(int n) const;  // 1 or 2
  int buzzerOnsets() const;
  // The state the last request left a channel in (0 buzzer, 1, 2 the LEDs).
  std::string state(int channel) const;
  // Patterns recognised so far, oldest first.
  std::vector<std::string> patterns() const;

  static std::string describe(const Request& r);

 private:
  mutable std::mutex mutex_;
  bool buzzer_ = false;
  bool led_[3] = {};
  int buzzerOnsets_ = 0;
  std::string state_[3] = {"off", "blink 500/500 ms from off", "blink 500/500 ms from off"};
  std::vector<Request> recent_;
  int64_t lastRequest_ = -1;
  std::vector<std::string> patterns_;
};

}  // namespace sim
