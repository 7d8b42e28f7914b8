// `vdrtool report`: a static HTML page of a card (and of recorder-sim's run when the board
// directory is known), opened from the file system: no server, nothing fetched from outside.
#pragma once

#include <string>
#include <vector>

#include "recording.h"

namespace vdr {

struct ReportInput {
  std::string source;                  // what the user named, for the title
  std::vector<std::string> bases;      // the recordings
  std::string timelinePath;            // recorder-sim's DIR/timeline.jsonl, or empty
  std::string outDir;                  // index.html and frames/ go here
};

// Writes OUT/index.html and OUT/frames/N/*.jpg; false with a message on stderr.
bool writeReport(const ReportInput& in);

// ---- pieces, exposed for tests -------------------------------------------------------------
std::string htmlEscape(const std::string& text);
// A coordinate or value in the report's SVG drawings, to one decimal like every other.
std::string svgNum(double v);
// The index of the frame at which the trigger took effect (the first frame recorded from the
// trigger on), or -1 when the recording holds no trigger.
int triggerFrame(const Recording& r);
// SVG of the three G axes over the recording's time, with the trigger marked.
std::string gPlotSvg(const Recording& r);
// SVG of the positions of the frames with a valid fix, or empty when there are none.
std::string trackSvg(const Recording& r);

// One line of the timeline: "t" in seconds, "event", and the other fields as text.
struct TimelineEntry {
  double t = 0;
  std::string event;
  std::vector<std::pair<std::string, std::string>> fields;
  std::string field(const std::string& key) const;
};
bool parseTimelineLine(const std::string& line, TimelineEntry* out);
// SVG of a run: power, boots, buttons, LED and buzzer patterns, shocks and the recordings (their
// spans placed by their frames' times against the run's start) on one time axis.
std::string runSvg(const std::vector<TimelineEntry>& entries, const std::vector<Recording>& recordings);

}  // namespace vdr
