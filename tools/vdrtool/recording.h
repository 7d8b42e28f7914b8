// Reading and checking recordings on a PC: a .vdd/.vdx pair, as the recorder writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/video_format.h"

namespace vdr {

struct Frame {
  vr::FrameIndexEntry entry;
  vr::FrameComment comment;  // as stored in front of the frame's JPEG body
  bool commentRead = false;
};

struct Recording {
  std::string base;     // path without extension
  std::string name;     // base name
  std::string channel;  // "event" or "normal" (from the directory), or empty
  vr::RecordingName parsedName{};
  bool nameValid = false;
  std::vector<vr::IdxHeader> headers;  // one per segment
  std::vector<Frame> frames;
  uint64_t dataSize = 0;
  uint64_t indexSize = 0;
  std::vector<std::string> problems;  // empty when the pair is sound
  // A pair whose writing was cut off (entries at the end of the index and no header after them,
  // or an index that ends inside an entry): it was never closed. Its readable frames are the
  // leading ones whose entry is whole and whose record lies whole in the data file, in order.
  bool open = false;
  size_t readableFrames = 0;
  // True when every finding is one that a cut-off write leaves (after the readable frames).
  bool onlyOpen() const;

  uint8_t triggerType() const { return headers.empty() ? 0 : headers.back().triggerType; }
  double durationSeconds() const;
  int countKind(uint8_t kind) const;
  bool hasGValues() const;
  bool hasGps() const;
};

// Reads the pair at `base` (path without extension). With `readComments`, the comment block of
// every frame is read from the data file and checked against its index entry.
Recording readRecording(const std::string& base, bool readComments);

// Every pair under a directory: the card's root (CH1/event, CH1/normal), a channel directory, or
// a single .vdd/.vdx file. Sorted by directory and name.
std::vector<std::string> findRecordings(const std::string& path);

// Reads the whole frame record (comment block and JPEG body) of frame i.
bool readFrameRecord(const Recording& r, size_t i, std::vector<uint8_t>* out);

// ddmm.mmmm as stored -> decimal degrees.
double toDegrees(double ddmm);
std::string frameTimeText(const vr::FrameIndexEntry& e);
// The capture second of a frame, its local time read as UTC (recorder-sim runs boards in UTC
// unless told otherwise; differences between frames hold in any zone).
int64_t entrySeconds(const vr::FrameIndexEntry& e);

}  // namespace vdr
