// The board's timeline: what a person would see or do, one JSON object per line in
// DIR/timeline.jsonl, stamped with the simulated wall time ("time") and the seconds since the
// run started ("t"). Lines are appended whole, so the runner and the board process can both
// write to it.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

class TimelineEvent {
 public:
  explicit TimelineEvent(const char* event);
  TimelineEvent& add(const char* key, const std::string& value);
  TimelineEvent& add(const char* key, const char* value);
  TimelineEvent& add(const char* key, int64_t value);
  TimelineEvent& add(const char* key, int value) { return add(key, static_cast<int64_t>(value)); }
  TimelineEvent& add(const char* key, uint32_t value) { return add(key, static_cast<int64_t>(value)); }
  TimelineEvent& add(const char* key, bool value);
  TimelineEvent& add(const char* key, double value);
  void emit();

 private:
  std::string line_;
};

// Opens DIR/timeline.jsonl for appending (the runner truncates it at the start of a run).
void timelineOpen(const std::string& path, bool truncate);
// In the board process: every line also carries the board's own clock ("board_time", its time of
// day as the program reads it). The board takes its clock from the clock chip in whole seconds,
// so it trails the true time ("time") by up to a second, or more when the chip was set wrong: a
// shock at "time" shows in the frames stamped near "board_time".
void timelineStampBoardClock(bool on);
std::string jsonEscape(const std::string& text);
// "YYYY-MM-DD hh:mm:ss.mmm" of the simulated wall time, in the board's time zone.
std::string worldTimeText(int64_t worldNs);

}  // namespace sim
