#include "recording.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace vdr {

namespace fs = std::filesystem;

namespace {

const uint8_t kCommentStart[6] = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x3D};

std::string describeEntry(size_t i) { return "frame " + std::to_string(i) + ": "; }

bool entryMarkersOk(const vr::FrameIndexEntry& e) {
  return e.marker == vr::kEntryMarker && e.zero1[0] == 0 && e.zero1[1] == 0 && e.tag == vr::kEntryTag && e.one == 1 &&
         e.one29 == 1;
}

bool headerMarkersOk(const vr::IdxHeader& h) {
  return h.marker == vr::kIdxHeaderMarker && h.zero1[0] == 0 && h.zero1[1] == 0 && h.tag == vr::kIdxHeaderTag &&
         h.one == 1 && h.zero5 == 0;
}

// Splits the .vdx into entries and segment headers; every segment ends with a header counting it.
void readIndex(Recording& r) {
  std::ifstream in(r.base + "." + vr::kIndexExt, std::ios::binary);
  if (!in) {
    r.problems.push_back("index file missing");
    return;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  r.indexSize = bytes.size();
  size_t pos = 0, segmentEntries = 0;
  while (pos < bytes.size()) {
    uint8_t marker = bytes[pos];
    if (marker == vr::kEntryMarker && pos + sizeof(vr::FrameIndexEntry) <= bytes.size()) {
      Frame f;
      memcpy(&f.entry, &bytes[pos], sizeof f.entry);
      if (!entryMarkersOk(f.entry)) r.problems.push_back(describeEntry(r.frames.size()) + "entry markers wrong");
      r.frames.push_back(f);
      pos += sizeof(vr::FrameIndexEntry);
      ++segmentEntries;
    } else if (marker == vr::kIdxHeaderMarker && pos + sizeof(vr::IdxHeader) <= bytes.size()) {
      vr::IdxHeader h;
      memcpy(&h, &bytes[pos], sizeof h);
      if (!headerMarkersOk(h)) r.problems.push_back("index header markers wrong at byte " + std::to_string(pos));
      if (h.dwFrameTotal.get() != segmentEntries) {
        r.problems.push_back("index header counts " + std::to_string(h.dwFrameTotal.get()) + " frames, the segment holds " +
                             std::to_string(segmentEntries));
      }
      r.headers.push_back(h);
      pos += sizeof(vr::IdxHeader);
      segmentEntries = 0;
    } else if (marker == vr::kEntryMarker && bytes.size() - pos < sizeof(vr::FrameIndexEntry)) {
      r.problems.push_back("index file ends inside an entry at byte " + std::to_string(pos) + " (not closed)");
      r.open = true;
      break;
    } else {
      r.problems.push_back("index file: unreadable bytes at " + std::to_string(pos) + " of " +
                           std::to_string(bytes.size()));
      return;
    }
  }
  if (segmentEntries > 0) {
    r.problems.push_back(std::to_string(segmentEntries) + " entries at the end without an index header (not closed)");
    r.open = true;
  }
}

// The leading frames of an open pair that a reader gets whole.
void countReadable(Recording& r) {
  uint64_t expected = 0;
  size_t n = 0;
  for (; n < r.frames.size(); ++n) {
    const vr::FrameIndexEntry& e = r.frames[n].entry;
    if (!entryMarkersOk(e) || e.offset.get() != expected) break;
    expected = static_cast<uint64_t>(e.offset.get()) + e.length.get();
    if (expected > r.dataSize) break;
  }
  r.readableFrames = n;
}

// The frame a finding names ("frame N: ..."), or -1.
long frameOfFinding(const std::string& p) {
  if (p.rfind("frame ", 0) != 0) return -1;
  return strtol(p.c_str() + 6, nullptr, 10);
}

void checkDataLayout(Recording& r) {
  std::error_code ec;
  r.dataSize = fs::file_size(r.base + "." + vr::kDataExt, ec);
  if (ec) {
    r.problems.push_back("data file missing");
    return;
  }
  uint64_t expected = 0;
  for (size_t i = 0; i < r.frames.size(); ++i) {
    const vr::FrameIndexEntry& e = r.frames[i].entry;
    if (e.offset.get() != expected) {
      r.problems.push_back(describeEntry(i) + "offset " + std::to_string(e.offset.get()) + ", expected " +
                           std::to_string(expected));
    }
    expected = static_cast<uint64_t>(e.offset.get()) + e.length.get();
  }
  if (expected != r.dataSize) {
    r.problems.push_back("data file is " + std::to_string(r.dataSize) + " bytes, the index accounts for " +
                         std::to_string(expected));
  }
}

void readComments(Recording& r) {
  std::ifstream data(r.base + "." + vr::kDataExt, std::ios::binary);
  for (size_t i = 0; i < r.frames.size(); ++i) {
    Frame& f = r.frames[i];
    data.seekg(f.entry.offset.get());
    if (!data.read(reinterpret_cast<char*>(&f.comment), sizeof f.comment)) {
      r.problems.push_back(describeEntry(i) + "comment block cannot be read");
      data.clear();
      continue;
    }
    f.commentRead = true;
    const vr::FrameComment& c = f.comment;
    const vr::FrameIndexEntry& e = f.entry;
    if (memcmp(&c, kCommentStart, sizeof kCommentStart) != 0) {
      r.problems.push_back(describeEntry(i) + "does not begin with the comment block FF D8 FF FE 00 3D");
      continue;
    }
    bool sameTime = c.year + 2000 == e.year.get() && c.month == e.month.get() && c.day == e.day.get() &&
                    c.hour == e.hour.get() && c.minute == e.minute.get() && c.second == e.second.get();
    if (!sameTime) r.problems.push_back(describeEntry(i) + "comment time differs from the index entry");
    if (c.kind != e.kind) r.problems.push_back(describeEntry(i) + "comment kind differs from the index entry");
    if (c.gx.get() != e.gx.get() || c.gy.get() != e.gy.get() || c.gz.get() != e.gz.get()) {
      r.problems.push_back(describeEntry(i) + "comment G values differ from the index entry");
    }
  }
}

void checkName(Recording& r) {
  int fields = 0;
  r.nameValid = vr::checkRecordingName((r.name + ".vdd").c_str(), &r.parsedName, &fields) > 0;
  if (!r.nameValid) {
    r.problems.push_back("not a recording name");
    return;
  }
  if (r.frames.empty()) return;
  const vr::FrameIndexEntry& e = r.frames.front().entry;
  const vr::RecordingName& n = r.parsedName;
  if (n.year != e.year.get() || n.month != e.month.get() || n.day != e.day.get() || n.hour != e.hour.get() ||
      n.minute != e.minute.get() || n.second != e.second.get()) {
    r.problems.push_back("name time differs from the first frame's time " + frameTimeText(e));
  }
}

}  // namespace

int64_t entrySeconds(const vr::FrameIndexEntry& e) {
  struct tm tm = {};
  tm.tm_year = e.year.get() - 1900;
  tm.tm_mon = e.month.get() - 1;
  tm.tm_mday = e.day.get();
  tm.tm_hour = e.hour.get();
  tm.tm_min = e.minute.get();
  tm.tm_sec = e.second.get();
  return timegm(&tm);
}

double Recording::durationSeconds() const {
  if (frames.size() < 2) return 0;
  auto seconds = [](const vr::FrameIndexEntry& e) {
    return static_cast<double>(entrySeconds(e)) + e.millisecond.get() / 1000.0;
  };
  return seconds(frames.back().entry) - seconds(frames.front().entry);
}

int Recording::countKind(uint8_t kind) const {
  return static_cast<int>(std::count_if(frames.begin(), frames.end(), [&](const Frame& f) { return f.entry.kind == kind; }));
}

bool Recording::hasGValues() const {
  return std::any_of(frames.begin(), frames.end(), [](const Frame& f) {
    return f.entry.gx.get() != 0 || f.entry.gy.get() != 0 || f.entry.gz.get() != 0;
  });
}

bool Recording::hasGps() const {
  return std::any_of(frames.begin(), frames.end(), [](const Frame& f) { return f.entry.gpsValid != 0; });
}

Recording readRecording(const std::string& base, bool withComments) {
  Recording r;
  r.base = base;
  fs::path p(base);
  r.name = p.filename().string();
  r.channel = p.parent_path().filename().string();
  std::transform(r.channel.begin(), r.channel.end(), r.channel.begin(), ::tolower);
  readIndex(r);
  checkDataLayout(r);
  if (withComments) readComments(r);
  checkName(r);
  if (r.frames.empty() && r.headers.empty() && r.dataSize > 0 && r.indexSize == 0) {
    // Cut off before its first index entry: a pair closed with no frame has both files empty.
    r.problems.push_back("data written but no index entry (not closed)");
    r.open = true;
  }
  if (r.open) countReadable(r);
  return r;
}

bool Recording::onlyOpen() const {
  if (!open) return false;
  for (const std::string& p : problems) {
    long frame = frameOfFinding(p);
    if (frame >= 0) {
      if (static_cast<size_t>(frame) < readableFrames) return false;
      continue;  // a frame after the readable ones: the cut-off part
    }
    if (p.find("(not closed)") != std::string::npos || p.rfind("data file is ", 0) == 0) continue;
    return false;
  }
  return true;
}

std::vector<std::string> findRecordings(const std::string& path) {
  std::vector<std::string> bases;
  std::error_code ec;
  auto addFile = [&](const fs::path& f) {
    std::string ext = f.extension().string();
    if (ext == ".vdd" || ext == ".vdx") {
      std::string base = (f.parent_path() / f.stem()).string();
      if (std::find(bases.begin(), bases.end(), base) == bases.end()) bases.push_back(base);
    }
  };
  if (fs::is_regular_file(path, ec)) {
    addFile(path);
    return bases;
  }
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file(ec)) addFile(it->path());
  }
  std::sort(bases.begin(), bases.end());
  return bases;
}

bool readFrameRecord(const Recording& r, size_t i, std::vector<uint8_t>* out) {
  if (i >= r.frames.size()) return false;
  const vr::FrameIndexEntry& e = r.frames[i].entry;
  // A damaged entry may claim up to 4 GiB: only a record that lies inside the data file is read.
  if (static_cast<uint64_t>(e.offset.get()) + e.length.get() > r.dataSize) return false;
  std::ifstream data(r.base + "." + vr::kDataExt, std::ios::binary);
  out->resize(e.length.get());
  data.seekg(e.offset.get());
  return static_cast<bool>(data.read(reinterpret_cast<char*>(out->data()), static_cast<std::streamsize>(out->size())));
}

double toDegrees(double ddmm) {
  double sign = ddmm < 0 ? -1 : 1;
  double v = std::fabs(ddmm);
  double degrees = std::floor(v / 100);
  return sign * (degrees + (v - degrees * 100) / 60);
}

std::string frameTimeText(const vr::FrameIndexEntry& e) {
  char buf[64];
  snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u", e.year.get(), e.month.get(), e.day.get(), e.hour.get(),
           e.minute.get(), e.second.get(), e.millisecond.get());
  return buf;
}

}  // namespace vdr
