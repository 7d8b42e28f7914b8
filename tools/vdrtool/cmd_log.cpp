// vdrtool log ls PATH, vdrtool log export PATH --gpx|--kml|--csv FILE: the travel log files of a
// card image, a board directory, a card or log directory, or one log file.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "command.h"
#include "csv.h"
#include "travel_log.h"

namespace vdr {

namespace {

namespace fs = std::filesystem;

std::string utcText(int64_t utc, char separator) {
  time_t t = static_cast<time_t>(utc);
  struct tm tm;
  gmtime_r(&t, &tm);
  char text[96];
  snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
           separator, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::string fixText(const LogFix& f) {
  char text[128];
  snprintf(text, sizeof text, "%sZ %.6f,%.6f", utcText(f.utc, ' ').c_str(), f.latDeg, f.lonDeg);
  return text;
}

// The log files under the path; false (reported) when it cannot be read.
bool logFiles(const std::string& path, CardInput& input, std::vector<std::string>* files) {
  std::error_code ec;
  std::string root = path;
  bool plainDirectory = fs::is_directory(path, ec) && !fs::exists(fs::path(path) / "card.ini", ec);
  bool logFile = fs::is_regular_file(path, ec) && fs::path(path).extension() == ".log";
  if (!fs::exists(path, ec)) {
    fprintf(stderr, "vdrtool: %s: no such file or directory\n", path.c_str());
    return false;
  }
  if (!plainDirectory && !logFile) {
    if (!input.openOrReport(path)) return false;
    root = input.root();
  }
  *files = findTravelLogs(root);
  if (files->empty()) fprintf(stderr, "vdrtool: %s: no travel log files\n", path.c_str());
  return true;
}

int listLogs(const std::vector<std::string>& files) {
  printf("%-36s %-19s %-8s %7s %6s  %-36s %s\n", "log file", "start (local)", "to", "entries", "fixes", "first fix (UTC)",
         "last fix (UTC)");
  for (const std::string& path : files) {
    TravelLog log = readTravelLog(path);
    const LogFix* first = nullptr;
    const LogFix* last = nullptr;
    int fixes = 0;
    for (const LogEntry& e : log.entries) {
      if (!e.hasFix) continue;
      if (!first) first = &e.fix;
      last = &e.fix;
      ++fixes;
    }
    std::string to = log.entries.empty() ? "-" : log.entries.back().localTime.substr(11);
    printf("%-36s %-19s %-8s %7zu %6d  %-36s %s%s\n", log.name.c_str(), log.start.empty() ? "?" : log.start.c_str(),
           to.c_str(), log.entries.size(), fixes, first ? fixText(*first).c_str() : "-", last ? fixText(*last).c_str() : "-",
           log.badLines > 0 ? ("  (" + std::to_string(log.badLines) + " unreadable lines)").c_str() : "");
  }
  return kExitOk;
}

int exportGpx(const std::vector<std::string>& files, FILE* out) {
  // GPX 1.0: its track points carry course and speed.
  fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.0\" creator=\"vdrtool\" "
               "xmlns=\"http://www.topografix.com/GPX/1/0\">\n");
  for (const std::string& path : files) {
    TravelLog log = readTravelLog(path);
    fprintf(out, " <trk><name>%s</name><trkseg>\n", log.name.c_str());
    for (const LogEntry& e : log.entries) {
      if (!e.hasFix) continue;
      const LogFix& f = e.fix;
      fprintf(out, "  <trkpt lat=\"%.7f\" lon=\"%.7f\">", f.latDeg, f.lonDeg);
      if (f.hasAltitude) fprintf(out, "<ele>%.1f</ele>", f.altitudeM);
      fprintf(out, "<time>%sZ</time><course>%.1f</course><speed>%.2f</speed>", utcText(f.utc, 'T').c_str(), f.courseDeg,
              f.speedKmh / 3.6);
      if (f.satellites >= 0) fprintf(out, "<sat>%d</sat>", f.satellites);
      if (f.hdop >= 0) fprintf(out, "<hdop>%.1f</hdop>", f.hdop);
      fprintf(out, "</trkpt>\n");
    }
    fprintf(out, " </trkseg></trk>\n");
  }
  fprintf(out, "</gpx>\n");
  return kExitOk;
}

int exportKml(const std::vector<std::string>& files, FILE* out) {
  fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n");
  for (const std::string& path : files) {
    TravelLog log = readTravelLog(path);
    fprintf(out, " <Placemark><name>%s</name><LineString><tessellate>1</tessellate><coordinates>\n", log.name.c_str());
    for (const LogEntry& e : log.entries) {
      if (e.hasFix) fprintf(out, "  %.7f,%.7f,%.1f\n", e.fix.lonDeg, e.fix.latDeg, e.fix.altitudeM);
    }
    fprintf(out, " </coordinates></LineString></Placemark>\n");
  }
  fprintf(out, "</Document>\n</kml>\n");
  return kExitOk;
}

int exportCsv(const std::vector<std::string>& files, FILE* out) {
  writeCsvRecord(out, {"log_file", "local_time", "utc_time", "latitude", "longitude", "altitude_m", "speed_kmh",
                       "course_deg", "satellites", "hdop", "gx", "gy", "gz"});
  for (const std::string& path : files) {
    TravelLog log = readTravelLog(path);
    for (const LogEntry& e : log.entries) {
      std::vector<std::string> row = {log.name, e.localTime};
      if (e.hasFix) {
        const LogFix& f = e.fix;
        char v[6][32];
        snprintf(v[0], sizeof v[0], "%.7f", f.latDeg);
        snprintf(v[1], sizeof v[1], "%.7f", f.lonDeg);
        snprintf(v[2], sizeof v[2], "%.1f", f.altitudeM);
        snprintf(v[3], sizeof v[3], "%.1f", f.speedKmh);
        snprintf(v[4], sizeof v[4], "%.1f", f.courseDeg);
        snprintf(v[5], sizeof v[5], "%.1f", f.hdop);
        row.insert(row.end(), {utcText(f.utc, ' '), v[0], v[1], f.hasAltitude ? v[2] : "", v[3], v[4],
                               f.satellites >= 0 ? std::to_string(f.satellites) : "", f.hdop >= 0 ? v[5] : ""});
      } else {
        row.insert(row.end(), 8, "");
      }
      row.insert(row.end(), {std::to_string(e.gx), std::to_string(e.gy), std::to_string(e.gz)});
      writeCsvRecord(out, row);
    }
  }
  return kExitOk;
}

struct LogFormat {
  const char* option;
  int (*write)(const std::vector<std::string>& files, FILE* out);
};
const LogFormat kLogFormats[] = {{"--gpx", exportGpx}, {"--kml", exportKml}, {"--csv", exportCsv}};

}  // namespace

int runLog(const Args& args) {
  if (args.positional.size() != 2) return usageError();
  const std::string& what = args.positional[0];
  const LogFormat* format = nullptr;
  if (what == "export") {
    if (args.options.empty()) return usageError();
    for (const LogFormat& f : kLogFormats) {
      if (args.options.back().first == f.option) format = &f;
    }
    if (!format) return usageError();
  } else if (what != "ls" || !args.options.empty()) {
    return usageError();
  }
  CardInput input;
  std::vector<std::string> files;
  if (!logFiles(args.positional[1], input, &files)) return kExitFailed;
  if (!format) return listLogs(files);
  const std::string& target = args.options.back().second;
  FILE* out = fopen(target.c_str(), "wb");
  if (!out) {
    fprintf(stderr, "vdrtool: %s: cannot write\n", target.c_str());
    return kExitFailed;
  }
  int result = format->write(files, out);
  if (fclose(out) != 0) result = kExitFailed;
  if (result == kExitOk) printf("%s: %zu log files\n", target.c_str(), files.size());
  return result;
}

}  // namespace vdr
