// recorder-sim's run in the report: its timeline (DIR/timeline.jsonl, one flat JSON object a
// line) drawn on one time axis with the recordings found on the card.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "report.h"

namespace vdr {

namespace {

// A JSON string starting at s[i] == '"'; moves i past it.
bool readString(const std::string& s, size_t& i, std::string* out) {
  if (i >= s.size() || s[i] != '"') return false;
  out->clear();
  for (++i; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      ++i;
      return true;
    }
    if (c == '\\' && i + 1 < s.size()) {
      char e = s[++i];
      *out += e == 'n' ? '\n' : e == 't' ? '\t' : e;  // \uXXXX kept as its letters: text only
    } else {
      *out += c;
    }
  }
  return false;
}

// "YYYY-MM-DD hh:mm:ss.mmm" read as UTC, like the frames' times: only differences are used.
bool wallSeconds(const std::string& text, double* out) {
  struct tm tm = {};
  int ms = 0;
  if (sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
             &tm.tm_sec, &ms) < 6) {
    return false;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  *out = static_cast<double>(timegm(&tm)) + ms / 1000.0;
  return true;
}

constexpr double kWidth = 1000, kLeft = 90, kRight = 10, kLaneH = 28, kTop = 10;
const char* const kLanes[] = {"power", "board", "buttons", "LED, buzzer", "shocks", "recordings"};

}  // namespace

std::string TimelineEntry::field(const std::string& key) const {
  for (const auto& [k, v] : fields) {
    if (k == key) return v;
  }
  return "";
}

bool parseTimelineLine(const std::string& line, TimelineEntry* out) {
  *out = TimelineEntry();
  size_t i = line.find('{');
  if (i == std::string::npos) return false;
  ++i;
  bool sawEvent = false;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == ',')) ++i;
    if (i < line.size() && line[i] == '}') break;
    std::string key, value;
    if (!readString(line, i, &key) || i >= line.size() || line[i] != ':') return false;
    ++i;
    if (i < line.size() && line[i] == '"') {
      if (!readString(line, i, &value)) return false;
    } else {
      size_t end = line.find_first_of(",}", i);
      if (end == std::string::npos) return false;
      value = line.substr(i, end - i);
      i = end;
    }
    if (key == "t") {
      out->t = atof(value.c_str());
    } else if (key == "event") {
      out->event = value;
      sawEvent = true;
    } else {
      out->fields.emplace_back(key, value);
    }
  }
  return sawEvent;
}

std::string runSvg(const std::vector<TimelineEntry>& entries, const std::vector<Recording>& recordings) {
  double end = 1, startWall = 0;
  bool haveStart = false;
  for (const TimelineEntry& e : entries) {
    end = std::max(end, e.t);
    if (!haveStart && e.event == "run-start") haveStart = wallSeconds(e.field("time"), &startWall);
  }
  const size_t lanes = sizeof kLanes / sizeof kLanes[0];
  const double plotW = kWidth - kLeft - kRight, height = kTop + lanes * kLaneH + 30;
  auto x = [&](double t) { return kLeft + std::clamp(t, 0.0, end) / end * plotW; };
  auto laneY = [&](size_t lane) { return kTop + static_cast<double>(lane) * kLaneH; };
  std::string svg = "<svg class=\"run\" viewBox=\"0 0 " + svgNum(kWidth) + " " + svgNum(height) + "\">\n";
  for (size_t l = 0; l < lanes; ++l) {
    svg += "<text class=\"lane\" x=\"4\" y=\"" + svgNum(laneY(l) + 18) + "\">" + kLanes[l] + "</text>";
    svg += "<line class=\"lane-line\" x1=\"" + svgNum(kLeft) + "\" x2=\"" + svgNum(kWidth - kRight) + "\" y1=\"" +
           svgNum(laneY(l) + kLaneH) + "\" y2=\"" + svgNum(laneY(l) + kLaneH) + "\"/>\n";
  }
  auto band = [&](size_t lane, double from, double to, const std::string& cls, const std::string& title) {
    svg += "<rect class=\"" + cls + "\" x=\"" + svgNum(x(from)) + "\" y=\"" + svgNum(laneY(lane) + 4) + "\" width=\"" +
           svgNum(std::max(1.0, x(to) - x(from))) + "\" height=\"" + svgNum(kLaneH - 8) + "\"><title>" + htmlEscape(title) +
           "</title></rect>\n";
  };
  auto mark = [&](size_t lane, double t, const std::string& cls, const std::string& label) {
    svg += "<g class=\"" + cls + "\"><line x1=\"" + svgNum(x(t)) + "\" x2=\"" + svgNum(x(t)) + "\" y1=\"" + svgNum(laneY(lane) + 2) +
           "\" y2=\"" + svgNum(laneY(lane) + kLaneH - 2) + "\"/><text x=\"" + svgNum(x(t) + 2) + "\" y=\"" +
           svgNum(laneY(lane) + 12) + "\">" + htmlEscape(label) + "</text><title>" + svgNum(t) + " s: " + htmlEscape(label) +
           "</title></g>\n";
  };

  // Supply: on from the start until a "power" event says otherwise.
  bool on = true;
  double since = 0;
  std::string pattern;
  double patternSince = 0;
  for (const TimelineEntry& e : entries) {
    if (e.event == "power") {
      bool now = e.field("supply") == "true";
      if (on && !now) band(0, since, e.t, "supply-on", "supply on");
      if (now && !on) since = e.t;
      on = now;
    } else if (e.event == "boot") {
      mark(1, e.t, "boot", "boot " + e.field("boot"));
    } else if (e.event == "reboot" || e.event == "board-off" || e.event == "stop") {
      mark(1, e.t, e.event, e.event);
    } else if (e.event == "button") {
      mark(2, e.t, "button", e.field("button") + " " + e.field("state"));
    } else if (e.event == "pattern") {
      if (!pattern.empty()) band(3, patternSince, e.t, "pattern", pattern);
      pattern = e.field("name") + " (LED1 " + e.field("led1") + ", LED2 " + e.field("led2") + ", buzzer " +
                e.field("buzzer") + ")";
      patternSince = e.t;
      mark(3, e.t, "pattern-start", e.field("name"));
    } else if (e.event == "shock") {
      mark(4, e.t, "shock", "shock " + e.field("x") + "," + e.field("y") + "," + e.field("z"));
    }
  }
  if (on) band(0, since, end, "supply-on", "supply on");
  if (!pattern.empty()) band(3, patternSince, end, "pattern", pattern);
  if (haveStart) {
    for (const Recording& r : recordings) {
      if (r.frames.empty()) continue;
      const vr::FrameIndexEntry& first = r.frames.front().entry;
      double from = static_cast<double>(entrySeconds(first)) + first.millisecond.get() / 1000.0 - startWall;
      band(5, from, from + r.durationSeconds(), "recording-span", r.name);
    }
  }
  for (double t = 0; t <= end; t += end > 600 ? 120 : end > 120 ? 30 : 10) {
    svg += "<text class=\"tick\" x=\"" + svgNum(x(t)) + "\" y=\"" + svgNum(height - 8) + "\">" + svgNum(t) + "</text>";
  }
  svg += "<text x=\"" + svgNum(kWidth - 150) + "\" y=\"" + svgNum(height - 8) + "\">seconds of the run</text>\n";
  return svg + "</svg>\n";
}

}  // namespace vdr
