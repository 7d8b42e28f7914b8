#include "board/io/signals.h"

#include <cstdio>

#include "board/timeline.h"
#include "platform/sim/clock.h"

namespace sim {
namespace {

using Request = SignalPanel::Request;

// Requests further apart than this belong to different patterns. The requests of one pattern
// follow each other at once; a sped-up clock under a slow build still puts them well inside.
constexpr int64_t kPatternGapNs = 250 * kNsPerMs;

constexpr Request steady(uint32_t ch, uint32_t level) { return {ch, 0, 0, 0, 0, level}; }
constexpr Request blink(uint32_t ch, uint32_t on, uint32_t off, uint32_t from) { return {ch, 1, 0, on, off, from}; }
constexpr Request once(uint32_t ch, uint32_t on, uint32_t off) { return {ch, 0, 1, on, off, 1}; }

struct Pattern {
  const char* name;
  std::vector<Request> requests;
};

// The recorder's signals as its manual lists them (LED 1 of pre and preov may be set to blink).
const std::vector<Pattern>& patternTable() {
  static const std::vector<Pattern> table = {
      {"powerondft", {steady(0, 0), steady(1, 1), steady(2, 1)}},
      {"poweroff", {steady(0, 0), steady(1, 0), steady(2, 0)}},
      {"warmup", {blink(1, 500, 500, 0), blink(2, 500, 500, 0)}},
      {"trigger", {once(0, 1000, 1000)}},
      {"pre", {steady(1, 1), steady(2, 0)}},
      {"pre", {blink(1, 100, 900, 0), steady(2, 0)}},
      {"post", {blink(1, 40, 60, 1), steady(2, 0)}},
      {"preov", {steady(1, 1), steady(2, 1)}},
      {"preov", {blink(1, 100, 900, 0), steady(2, 1)}},
      {"postov", {blink(1, 40, 60, 1), steady(2, 1)}},
      {"full", {steady(1, 0), blink(2, 2000, 2000, 0)}},
      {"sdfailure", {blink(0, 500, 500, 1), blink(1, 2000, 2000, 0), blink(2, 2000, 2000, 0)}},
      {"systemupgrade", {blink(0, 100, 1900, 1), blink(1, 40, 60, 0), blink(2, 40, 60, 0)}},
      {"clear_sdfailure", {steady(0, 0), blink(1, 2000, 2000, 0), blink(2, 2000, 2000, 0)}},
      {"format_sd", {once(0, 500, 500)}},
      {"rec_continue", {blink(1, 5000, 1000, 1), steady(2, 0)}},
      {"rec_continue_ov", {blink(1, 5000, 1000, 1), steady(2, 1)}},
  };
  return table;
}

const char* outputName(uint32_t channel) {
  static const char* names[] = {"buzzer", "led1", "led2"};
  return channel < 3 ? names[channel] : "none";
}

}  // namespace

std::string SignalPanel::describe(const Request& r) {
  char text[96];
  if (r.continuous) {
    snprintf(text, sizeof text, "blink %u/%u ms from %s", r.onMs, r.offMs, r.start ? "on" : "off");
  } else if (r.count == 1) {
    snprintf(text, sizeof text, "once %u ms", r.onMs);
  } else if (r.count > 1) {
    snprintf(text, sizeof text, "%u times %u/%u ms", r.count, r.onMs, r.offMs);
  } else {
    snprintf(text, sizeof text, "%s", r.start ? "on" : "off");
  }
  return text;
}

void SignalPanel::pinsChanged(uint32_t data, uint32_t function, bool toneRuns) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool buzzer = ((function & 3) == 1) && toneRuns;
  if (buzzer && !buzzer_) ++buzzerOnsets_;
  buzzer_ = buzzer;
  for (int c = 1; c <= 2; ++c) led_[c] = ((function >> (2 * c)) & 3) == 2 && ((data >> c) & 1);
}

void SignalPanel::requested(const Request& r, long result) {
  std::string pattern;
  std::string states[3];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (result == 0 && r.channel < 3) state_[r.channel] = describe(r);
    int64_t now = Clock::elapsed();
    if (lastRequest_ < 0 || now - lastRequest_ > kPatternGapNs) recent_.clear();
    lastRequest_ = now;
    if (result == 0) {
      recent_.push_back(r);
      // The longest pattern that the latest requests complete.
      size_t best = 0;
      for (const Pattern& p : patternTable()) {
        size_t n = p.requests.size();
        if (n <= best || n > recent_.size()) continue;
        if (std::equal(p.requests.begin(), p.requests.end(), recent_.end() - static_cast<long>(n))) {
          pattern = p.name;
          best = n;
        }
      }
      if (!pattern.empty()) {
        patterns_.push_back(pattern);
        recent_.clear();
      }
    } else {
      recent_.clear();  // a pattern cut short is none
    }
    for (int c = 0; c < 3; ++c) states[c] = state_[c];
  }
  TimelineEvent("channel-request")
      .add("output", outputName(r.channel))
      .add("channel", r.channel)
      .add("continuous", r.continuous)
      .add("count", r.count)
      .add("on_ms", r.onMs)
      .add("off_ms", r.offMs)
      .add("start", r.start)
      .add("result", static_cast<int64_t>(result))
      .add("buzzer", states[0])
      .add("led1", states[1])
      .add("led2", states[2])
      .emit();
  if (!pattern.empty()) {
    TimelineEvent("pattern").add("name", pattern).add("buzzer", states[0]).add("led1", states[1]).add("led2", states[2]).emit();
  }
}

bool SignalPanel::buzzer() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buzzer_;
}

bool SignalPanel::led(int n) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return n >= 1 && n <= 2 && led_[n];
}

int SignalPanel::buzzerOnsets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buzzerOnsets_;
}

std::string SignalPanel::state(int channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return channel >= 0 && channel < 3 ? state_[channel] : "";
}

std::vector<std::string> SignalPanel::patterns() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return patterns_;
}

}  // namespace sim
