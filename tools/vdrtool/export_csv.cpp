// One CSV row per frame, with the columns of kColumns (the header is built from the same table
// as the rows, so the two cannot disagree).
#include <cstdio>
#include <functional>

#include "command.h"
#include "csv.h"
#include "export_format.h"
#include "recording.h"

namespace vdr {

std::string csvField(const std::string& value) {
  if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void writeCsvRecord(FILE* out, const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + csvField(fields[i]);
  line += "\r\n";
  fputs(line.c_str(), out);
}

namespace {

struct Row {
  const Recording& r;
  size_t index;
  const vr::FrameIndexEntry& e;
};

std::string degrees(double v) {
  char buf[48];
  snprintf(buf, sizeof buf, "%.7f", v);
  return buf;
}
std::string integer(long long v) { return std::to_string(v); }

struct Column {
  const char* name;
  std::function<std::string(const Row&)> value;
};

const std::vector<Column>& columns() {
  static const std::vector<Column> kColumns = {
      {"recording", [](const Row& x) { return x.r.name; }},
      {"channel", [](const Row& x) { return x.r.channel; }},
      {"frame", [](const Row& x) { return integer(static_cast<long long>(x.index)); }},
      {"time", [](const Row& x) { return frameTimeText(x.e); }},
      {"kind", [](const Row& x) { return integer(x.e.kind); }},
      {"trigger", [](const Row& x) { return integer(x.e.triggerType.get()); }},
      {"gx", [](const Row& x) { return integer(x.e.gx.get()); }},
      {"gy", [](const Row& x) { return integer(x.e.gy.get()); }},
      {"gz", [](const Row& x) { return integer(x.e.gz.get()); }},
      {"gps_valid", [](const Row& x) { return integer(x.e.gpsValid); }},
      {"latitude", [](const Row& x) { return degrees(toDegrees(x.e.latitude.get())); }},
      {"longitude", [](const Row& x) { return degrees(toDegrees(x.e.longitude.get())); }},
      {"speed", [](const Row& x) { return integer(x.e.speed.get()); }},
      {"altitude", [](const Row& x) { return integer(x.e.altitude.get()); }},
      {"course", [](const Row& x) { return integer(x.e.course.get()); }},
  };
  return kColumns;
}

}  // namespace

int exportCsv(const std::vector<std::string>& bases, const std::string& file) {
  FILE* out = fopen(file.c_str(), "w");
  if (!out) {
    fprintf(stderr, "vdrtool: %s: cannot be written\n", file.c_str());
    return kExitFailed;
  }
  std::vector<std::string> fields;
  for (const Column& c : columns()) fields.push_back(c.name);
  writeCsvRecord(out, fields);
  size_t rows = 0;
  for (const std::string& base : bases) {
    Recording r = readRecording(base, false);
    for (size_t i = 0; i < r.frames.size(); ++i) {
      Row row{r, i, r.frames[i].entry};
      fields.clear();
      for (const Column& c : columns()) fields.push_back(c.value(row));
      writeCsvRecord(out, fields);
      ++rows;
    }
  }
  bool ok = fclose(out) == 0;
  if (!ok) {
    fprintf(stderr, "vdrtool: %s: write failed\n", file.c_str());
    return kExitFailed;
  }
  printf("%zu frames written to %s\n", rows, file.c_str());
  return kExitOk;
}

}  // namespace vdr
