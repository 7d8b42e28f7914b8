#include "platform/sim/clock.h"

#include <algorithm>
#include <set>
#include <atomic>
#include <ctime>
#include <thread>

namespace sim {
namespace {

struct ClockState {
  std::mutex mutex;
  std::condition_variable advanced;  // manual mode: notified at every advance()
  bool manual = true;
  double speed = 1.0;
  int64_t monoAnchor = 0;
  int64_t elapsedAtAnchor = 0;
  int64_t manualElapsed = 0;
  int64_t worldAtZero = 0;
  int64_t systemOffset = 0;
};

ClockState& state() {
  static ClockState s;
  return s;
}

std::atomic<int> gSleepers{0};
// Deadlines of the threads asleep on simulated time (a few at most).
std::mutex gDeadlineLock;
std::multiset<int64_t> gDeadlines;

// In manual mode a waiter looks at the clock this often (real time); advance() also wakes the
// plain sleepers at once.
constexpr int64_t kManualPollNs = 200 * 1000;
// Running: never block longer than this in one piece, so a clock change is noticed.
constexpr int64_t kMaxRealSliceNs = 100 * kNsPerMs;

int64_t elapsedLocked(const ClockState& s) {
  if (s.manual) return s.manualElapsed;
  int64_t real = Clock::monoNow() - s.monoAnchor;
  return s.elapsedAtAnchor + static_cast<int64_t>(static_cast<double>(real) * s.speed);
}

}  // namespace

void Clock::runAt(double speed, int64_t monoAnchorNs, int64_t elapsedAtAnchorNs, int64_t worldAtZeroNs) {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.manual = false;
  s.speed = speed > 0 ? speed : 1.0;
  s.monoAnchor = monoAnchorNs;
  s.elapsedAtAnchor = elapsedAtAnchorNs;
  s.worldAtZero = worldAtZeroNs;
  s.systemOffset = 0;
}

void Clock::manual(int64_t worldAtZeroNs) {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.manual = true;
  s.speed = 1.0;
  s.manualElapsed = 0;
  s.worldAtZero = worldAtZeroNs;
  s.systemOffset = 0;
}

bool Clock::isManual() {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.manual;
}

void Clock::advance(int64_t ns) {
  ClockState& s = state();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.manual || ns <= 0) return;
    s.manualElapsed += ns;
  }
  s.advanced.notify_all();
}

double Clock::speed() {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.speed;
}

int64_t Clock::elapsed() {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return elapsedLocked(s);
}

int64_t Clock::world() {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.worldAtZero + elapsedLocked(s);
}

int64_t Clock::system() {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.worldAtZero + elapsedLocked(s) + s.systemOffset;
}

int64_t Clock::systemAt(int64_t elapsedNs) {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.worldAtZero + elapsedNs + s.systemOffset;
}

void Clock::setSystem(int64_t ns) {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.systemOffset = ns - (s.worldAtZero + elapsedLocked(s));
}

void Clock::resetSystemToWorld() {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.systemOffset = 0;
}

int64_t Clock::worldAtZero() {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.worldAtZero;
}

int64_t Clock::monoNow() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * kNsPerSec + ts.tv_nsec;
}

int64_t Clock::realFor(int64_t simNs) {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return static_cast<int64_t>(static_cast<double>(simNs) / s.speed);
}

int64_t Clock::realWaitSlice(int64_t simRemaining) {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.manual) return kManualPollNs;
  int64_t real = static_cast<int64_t>(static_cast<double>(simRemaining) / s.speed);
  return std::clamp<int64_t>(real, 1000, kMaxRealSliceNs);
}

void Clock::sleepFor(int64_t ns) {
  if (ns <= 0) {
    std::this_thread::yield();
    return;
  }
  sleepUntil(elapsed() + ns);
}

void Clock::sleepUntil(int64_t elapsedDeadline) {
  ClockState& s = state();
  SleeperCount count(elapsedDeadline);
  std::unique_lock<std::mutex> lock(s.mutex);
  for (;;) {
    int64_t now = elapsedLocked(s);
    if (now >= elapsedDeadline) return;
    if (s.manual) {
      s.advanced.wait_for(lock, std::chrono::nanoseconds(kManualPollNs));
    } else {
      int64_t real = static_cast<int64_t>(static_cast<double>(elapsedDeadline - now) / s.speed);
      real = std::clamp<int64_t>(real, 1000, kMaxRealSliceNs);
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::nanoseconds(real));
      lock.lock();
    }
  }
}

Clock::SleeperCount::SleeperCount(int64_t d) : deadline(d) {
  std::lock_guard<std::mutex> lock(gDeadlineLock);
  gDeadlines.insert(d);
  gSleepers.fetch_add(1);
}
Clock::SleeperCount::~SleeperCount() {
  std::lock_guard<std::mutex> lock(gDeadlineLock);
  gDeadlines.erase(gDeadlines.find(deadline));
  gSleepers.fetch_sub(1);
}

namespace {
int sleepersAhead() {
  int64_t now = Clock::elapsed();
  std::lock_guard<std::mutex> lock(gDeadlineLock);
  return static_cast<int>(std::distance(gDeadlines.upper_bound(now), gDeadlines.end()));
}
}  // namespace

int Clock::sleepers() { return gSleepers.load(); }

bool Clock::waitForSleepers(int n) {
  int64_t limit = monoNow() + 5 * kNsPerSec;
  while (sleepersAhead() < n) {
    if (monoNow() > limit) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return true;
}

}  // namespace sim
