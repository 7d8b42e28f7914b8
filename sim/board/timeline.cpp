#include "board/timeline.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "platform/sim/clock.h"

namespace sim {
namespace {

int gTimelineFd = -1;
bool gStampBoardClock = false;

}  // namespace

void timelineOpen(const std::string& path, bool truncate) {
  if (gTimelineFd >= 0) ::close(gTimelineFd);
  gTimelineFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
}

std::string jsonEscape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string worldTimeText(int64_t worldNs) {
  time_t seconds = static_cast<time_t>(worldNs / kNsPerSec);
  struct tm tm;
  localtime_r(&seconds, &tm);
  char buf[48];
  snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
           tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>((worldNs % kNsPerSec) / kNsPerMs));
  return buf;
}

TimelineEvent::TimelineEvent(const char* event) {
  char t[32];
  snprintf(t, sizeof t, "%.3f", static_cast<double>(Clock::elapsed()) / kNsPerSec);
  line_ = "{\"time\":\"" + worldTimeText(Clock::world()) + "\",\"t\":" + t + ",\"event\":\"" + jsonEscape(event) + "\"";
}

TimelineEvent& TimelineEvent::add(const char* key, const std::string& value) {
  line_ += ",\"" + jsonEscape(key) + "\":\"" + jsonEscape(value) + "\"";
  return *this;
}

TimelineEvent& TimelineEvent::add(const char* key, const char* value) { return add(key, std::string(value)); }

TimelineEvent& TimelineEvent::add(const char* key, int64_t value) {
  line_ += ",\"" + jsonEscape(key) + "\":" + std::to_string(value);
  return *this;
}

TimelineEvent& TimelineEvent::add(const char* key, bool value) {
  line_ += ",\"" + jsonEscape(key) + "\":" + (value ? "true" : "false");
  return *this;
}

TimelineEvent& TimelineEvent::add(const char* key, double value) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.3f", value);
  line_ += ",\"" + jsonEscape(key) + "\":" + buf;
  return *this;
}

void timelineStampBoardClock(bool on) { gStampBoardClock = on; }

void TimelineEvent::emit() {
  if (gTimelineFd < 0) return;
  if (gStampBoardClock) add("board_time", worldTimeText(Clock::system()));
  std::string line = line_ + "}\n";
  // One write per line: O_APPEND keeps lines of the runner and the board process whole.
  ssize_t done = ::write(gTimelineFd, line.data(), line.size());
  (void)done;
}

}  // namespace sim
