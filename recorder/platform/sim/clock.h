// The simulated board's clock.
//
// Three times are kept apart, as on a real board:
//  - elapsed: monotonic nanoseconds since the simulation's zero. Sleeps, timed waits, the
//    emulated kernel's jiffies and the models' ticks all run on it; setting the time of day
//    never moves it.
//  - world: the true wall time (what a watch in the car shows) = world at zero + elapsed.
//    The battery-backed clock chip drifts against it; power cuts do not stop it.
//  - system: the board's time of day (gettimeofday). It starts at the world time at each boot
//    and settimeofday moves only it, by an offset.
//
// The clock either runs at a speed factor against the PC's monotonic clock (recorder-sim; every
// process of one run computes the same time from the same anchor), or stands still until a test
// advances it (manual mode), which makes timing tests exact.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace sim {

constexpr int64_t kNsPerUs = 1000;
constexpr int64_t kNsPerMs = 1000 * 1000;
constexpr int64_t kNsPerSec = 1000 * 1000 * 1000;

class Clock {
 public:
  // Runs at `speed` simulated seconds per real second: elapsed is `elapsedAtAnchor` at the real
  // monotonic instant `monoAnchorNs`. `worldAtZeroNs` is the wall time at elapsed 0.
  static void runAt(double speed, int64_t monoAnchorNs, int64_t elapsedAtAnchorNs, int64_t worldAtZeroNs);
  // Stands still at elapsed 0 with the given wall time until advance() moves it.
  static void manual(int64_t worldAtZeroNs);
  static bool isManual();
  static void advance(int64_t ns);  // manual mode only
  static double speed();

  static int64_t elapsed();
  static int64_t world();
  static int64_t system();
  // The board's time of day at a given elapsed instant (with the time of day as it is set now):
  // one consistent pair, where two separate calls to elapsed() and system() would drift apart.
  static int64_t systemAt(int64_t elapsedNs);
  static void setSystem(int64_t ns);
  static void resetSystemToWorld();
  static int64_t worldAtZero();

  // Real monotonic time of the PC, for anchoring.
  static int64_t monoNow();
  // Real nanoseconds that `simNs` simulated nanoseconds last at the current speed.
  static int64_t realFor(int64_t simNs);

  static void sleepFor(int64_t ns);
  static void sleepUntil(int64_t elapsedDeadline);

  // Waits on `cv` (whose mutex `lock` holds) until `pred` is true or elapsed reaches the
  // deadline. Returns the last value of `pred`. Wake-ups through `cv` are seen at once.
  template <class Pred>
  static bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                        int64_t elapsedDeadline, Pred pred) {
    SleeperCount count(elapsedDeadline);
    while (!pred()) {
      int64_t now = elapsed();
      if (now >= elapsedDeadline) return pred();
      cv.wait_for(lock, std::chrono::nanoseconds(realWaitSlice(elapsedDeadline - now)));
    }
    return true;
  }

  // Number of threads in a simulated sleep or timed wait (lets a test step the clock only once
  // the thread under test has gone to sleep).
  static int sleepers();
  // Blocks (in real time) until at least `n` threads sleep on simulated time with a deadline
  // still ahead (a sleeper whose time has come is about to run, so it does not count); false
  // after a real-time limit of a few seconds.
  static bool waitForSleepers(int n);

 private:
  struct SleeperCount {
    explicit SleeperCount(int64_t deadline);
    ~SleeperCount();
    int64_t deadline;
  };
  // Real time to block before looking at the clock again.
  static int64_t realWaitSlice(int64_t simRemaining);
};

}  // namespace sim
