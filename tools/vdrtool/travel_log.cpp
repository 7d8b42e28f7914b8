#include "travel_log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <strings.h>

namespace vdr {

namespace {

namespace fs = std::filesystem;

constexpr double kKmhPerKnot = 1.852;

bool checksumOk(const std::string& line) {
  size_t star = line.rfind('*');
  if (line.size() < 4 || line[0] != '$' || star == std::string::npos || star + 3 != line.size()) return false;
  unsigned sum = 0;
  for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
  char* end = nullptr;
  unsigned long given = strtoul(line.c_str() + star + 1, &end, 16);
  return *end == '\0' && given == sum;
}

// The fields between the name and the '*': "$GPRMC,a,b*hh" gives {"a", "b"}.
std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> out;
  size_t star = line.rfind('*');
  size_t at = line.find(',');
  while (at != std::string::npos && at < star) {
    size_t next = line.find(',', at + 1);
    size_t end = next == std::string::npos || next > star ? star : next;
    out.push_back(line.substr(at + 1, end - at - 1));
    at = next != std::string::npos && next < star ? next : std::string::npos;
  }
  return out;
}

bool allDigits(const std::string& s, size_t n) {
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int two(const std::string& s, size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); }

bool number(const std::string& s, double* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  *v = strtod(s.c_str(), &end);
  return *end == '\0' && std::isfinite(*v);
}

// What the GGA of an entry said, kept until its RMC.
struct Gga {
  bool seen = false;
  double altitude = 0;
  bool hasAltitude = false;
  int satellites = -1;
  double hdop = -1;
};

bool readRmc(const std::vector<std::string>& f, const Gga& gga, LogEntry* e) {
  if (f.size() < 9 || f[1] != "A" || !allDigits(f[0], 6) || !allDigits(f[8], 6)) return false;
  double lat, lon;
  if (!number(f[2], &lat) || !number(f[4], &lon) || f[3].size() != 1 || f[5].size() != 1) return false;
  LogFix fix;
  fix.latDeg = nmeaDegrees(lat, f[3][0]);
  fix.lonDeg = nmeaDegrees(lon, f[5][0]);
  if (std::isnan(fix.latDeg) || std::isnan(fix.lonDeg)) return false;
  double knots = 0, course = 0;
  if (number(f[6], &knots)) fix.speedKmh = knots * kKmhPerKnot;
  if (number(f[7], &course)) fix.courseDeg = course;
  int hour = two(f[0], 0), minute = two(f[0], 2), second = two(f[0], 4);
  int day = two(f[8], 0), month = two(f[8], 2), year = 2000 + two(f[8], 4);
  if (hour > 23 || minute > 59 || second > 60 || day < 1 || day > 31 || month < 1 || month > 12) return false;
  fix.utc = utcOf(year, month, day, hour, minute, second);
  fix.altitudeM = gga.altitude;
  fix.hasAltitude = gga.hasAltitude;
  fix.satellites = gga.satellites;
  fix.hdop = gga.hdop;
  e->hasFix = true;
  e->fix = fix;
  return true;
}

Gga readGga(const std::vector<std::string>& f) {
  Gga g;
  g.seen = true;
  double v;
  if (f.size() > 8 && number(f[8], &v)) {
    g.altitude = v;
    g.hasAltitude = true;
  }
  if (f.size() > 6 && number(f[6], &v) && v >= 0 && v < 1000) g.satellites = static_cast<int>(v);
  if (f.size() > 7 && number(f[7], &v) && v >= 0) g.hdop = v;
  return g;
}

bool readKvoxl(const std::vector<std::string>& f, LogEntry* e) {
  if (f.size() < 7 || !allDigits(f[5], 6) || !allDigits(f[6], 6)) return false;
  char* end = nullptr;
  long g[3];
  for (int i = 0; i < 3; ++i) {
    g[i] = strtol(f[2 + static_cast<size_t>(i)].c_str(), &end, 10);
    if (f[2 + static_cast<size_t>(i)].empty() || *end != '\0' || g[i] < -32768 || g[i] > 32767) return false;
  }
  e->gx = static_cast<int>(g[0]);
  e->gy = static_cast<int>(g[1]);
  e->gz = static_cast<int>(g[2]);
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + two(f[6], 4), two(f[6], 2), two(f[6], 0),
           two(f[5], 0), two(f[5], 2), two(f[5], 4));
  e->localTime = text;
  return true;
}

}  // namespace

int64_t utcOf(int year, int month, int day, int hour, int minute, int second) {
  struct tm tm = {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<int64_t>(timegm(&tm));
}

double nmeaDegrees(double value, char hemisphere) {
  if (!std::isfinite(value) || value < 0 || value > 18000) return NAN;
  double degrees = std::floor(value / 100);
  double minutes = value - degrees * 100;
  double d = degrees + minutes / 60;
  switch (hemisphere) {
    case 'N': case 'E': return d;
    case 'S': case 'W': return -d;
    default: return NAN;
  }
}

std::vector<std::string> findTravelLogs(const std::string& root) {
  std::vector<std::string> out;
  std::error_code ec;
  if (fs::is_regular_file(root, ec)) return {root};
  fs::path dir = root;
  for (const auto& e : fs::directory_iterator(root, ec)) {
    if (e.is_directory(ec) && strcasecmp(e.path().filename().c_str(), "log") == 0) dir = e.path();
  }
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    std::string name = e.path().filename();
    if (!e.is_regular_file(ec) || name.size() < 4 || strcasecmp(name.c_str() + name.size() - 4, ".log") != 0) continue;
    if (!allDigits(name, 10) || name[10] != ',') continue;  // error.log and others: not travel logs
    out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TravelLog parseTravelLog(const std::string& name, const std::string& text) {
  TravelLog log;
  log.name = name;
  int seq, y, mo, d, h, mi, s;
  char rest[8] = {};
  if (sscanf(name.c_str(), "%10d,%4d.%2d.%2d,%2d.%2d.%2d.%3s", &seq, &y, &mo, &d, &h, &mi, &s, rest) == 8 &&
      strcasecmp(rest, "log") == 0) {
    log.sequence = seq;
    char start[96];
    snprintf(start, sizeof start, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    log.start = start;
  }
  LogEntry entry;
  Gga gga;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (!checksumOk(line)) {
      ++log.badLines;
      continue;
    }
    std::vector<std::string> f = fieldsOf(line);
    if (line.rfind("$GPGGA,", 0) == 0) {
      gga = readGga(f);
    } else if (line.rfind("$GPRMC,", 0) == 0) {
      readRmc(f, gga, &entry);
    } else if (line.rfind("$KVOXL,", 0) == 0) {
      if (readKvoxl(f, &entry)) {
        log.entries.push_back(entry);
      } else {
        ++log.badLines;
      }
      entry = LogEntry{};
      gga = Gga{};
    } else if (line.rfind("$GPGSV,", 0) != 0) {
      ++log.badLines;
    }
  }
  return log;
}

TravelLog readTravelLog(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  TravelLog log = parseTravelLog(fs::path(path).filename().string(), s.str());
  log.path = path;
  return log;
}

}  // namespace vdr
