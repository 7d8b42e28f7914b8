#include "board/events.h"

#include <climits>

#include "platform/sim/clock.h"

namespace sim {

BoardEvents::~BoardEvents() { stopThread(); }

BoardEvents::Id BoardEvents::every(int64_t periodNs, std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  Id id = next_++;
  events_[id] = Event{Clock::elapsed() + periodNs, periodNs, std::move(fn)};
  changed_.notify_all();
  return id;
}

BoardEvents::Id BoardEvents::after(int64_t delayNs, std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  Id id = next_++;
  events_[id] = Event{Clock::elapsed() + delayNs, 0, std::move(fn)};
  changed_.notify_all();
  return id;
}

void BoardEvents::cancel(Id id) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.erase(id);
  if (id == running_) cancelledRunning_ = true;
  changed_.notify_all();
}

bool BoardEvents::takeDue(int64_t limit, Id* id, Event* event) {
  auto best = events_.end();
  for (auto it = events_.begin(); it != events_.end(); ++it) {
    if (it->second.due <= limit && (best == events_.end() || it->second.due < best->second.due)) best = it;
  }
  if (best == events_.end()) return false;
  *id = best->first;
  *event = best->second;
  running_ = *id;
  cancelledRunning_ = false;
  return true;
}

void BoardEvents::finish(Id id, const Event& event) {
  running_ = 0;
  auto it = events_.find(id);
  if (it == events_.end() || cancelledRunning_) return;
  if (event.period > 0) {
    it->second.due = event.due + event.period;
  } else {
    events_.erase(it);
  }
}

void BoardEvents::advance(int64_t ns) {
  int64_t target = Clock::elapsed() + ns;
  for (;;) {
    Id id;
    Event event;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!takeDue(target, &id, &event)) break;
    }
    int64_t now = Clock::elapsed();
    if (event.due > now) Clock::advance(event.due - now);
    event.fn();
    std::lock_guard<std::mutex> lock(mutex_);
    finish(id, event);
  }
  int64_t now = Clock::elapsed();
  if (target > now) Clock::advance(target - now);
}

void BoardEvents::startThread() {
  if (thread_.joinable()) return;
  stop_ = false;
  thread_ = std::thread([this] { threadLoop(); });
}

void BoardEvents::stopThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void BoardEvents::threadLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    int64_t next = INT64_MAX;
    for (const auto& [id, e] : events_) next = std::min(next, e.due);
    Id seenNext = next_;
    size_t seenCount = events_.size();
    Clock::waitUntil(lock, changed_, next, [&] { return stop_ || next_ != seenNext || events_.size() != seenCount; });
    if (stop_) break;
    Id id;
    Event event;
    if (!takeDue(Clock::elapsed(), &id, &event)) continue;
    lock.unlock();
    event.fn();
    lock.lock();
    finish(id, event);
  }
}

}  // namespace sim
