// Timed events of the board's models (a timer's tick, a button's release) on the simulated
// clock. recorder-sim runs them on a thread of their own; a test with the clock standing still
// runs them itself with advance(), which moves the clock event by event, so every tick happens
// at its exact time and in order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace sim {

class BoardEvents {
 public:
  using Id = int;
  ~BoardEvents();

  // Runs fn every period, the first time one period from now.
  Id every(int64_t periodNs, std::function<void()> fn);
  // Runs fn once, `delayNs` from now.
  Id after(int64_t delayNs, std::function<void()> fn);
  void cancel(Id id);

  // recorder-sim: a thread runs the events as the clock reaches them.
  void startThread();
  void stopThread();
  // Manual clock: moves it on by ns, running every event that falls due on the way.
  void advance(int64_t ns);

 private:
  struct Event {
    int64_t due;
    int64_t period;  // 0: once
    std::function<void()> fn;
  };
  // Takes the earliest event due at or before `limit`; false when there is none.
  bool takeDue(int64_t limit, Id* id, Event* event);
  void finish(Id id, const Event& event);
  void threadLoop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<Id, Event> events_;
  Id next_ = 1;
  Id running_ = 0;        // the event being run (a cancel of it from its own callback sticks)
  bool cancelledRunning_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace sim
