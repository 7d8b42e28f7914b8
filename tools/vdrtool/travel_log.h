// The recorder's travel log files (log/NNNNNNNNNN,YYYY.MM.DD,hh.mm.ss.log) read on a PC: each
// entry is a second's $GPGGA, $GPGSV and $GPRMC sentences (once the receiver has a fix) ended by
// the recorder's own $KVOXL sentence with the G values and the local time they were taken.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vdr {

struct LogFix {
  int64_t utc = 0;            // seconds since 1970 (the RMC date and time)
  double latDeg = 0, lonDeg = 0;
  double altitudeM = 0;       // from GGA, when there was one
  bool hasAltitude = false;
  double speedKmh = 0, courseDeg = 0;
  int satellites = -1;        // from GGA, -1 without
  double hdop = -1;
};

struct LogEntry {
  std::string localTime;      // "YYYY-MM-DD hh:mm:ss" of the $KVOXL sentence
  int gx = 0, gy = 0, gz = 0;
  bool hasFix = false;        // an RMC with status A in this entry
  LogFix fix;
};

struct TravelLog {
  std::string path;
  std::string name;
  int sequence = 0;           // from the name, 0 when the name is not a log file's
  std::string start;          // "YYYY-MM-DD hh:mm:ss" from the name (local time)
  std::vector<LogEntry> entries;
  int badLines = 0;           // lines with a wrong or missing checksum, or that could not be read
};

// The log files under a path: a card's top directory (its log directory), a log directory, or
// one file; sorted by name (the creation order).
std::vector<std::string> findTravelLogs(const std::string& root);
// Reads a log's text; never fails: what cannot be read is counted in badLines.
TravelLog parseTravelLog(const std::string& name, const std::string& text);
TravelLog readTravelLog(const std::string& path);

// A calendar date and time taken as UTC: seconds since 1970.
int64_t utcOf(int year, int month, int day, int hour, int minute, int second);
// "ddmm.mmmm" with its hemisphere letter as signed degrees.
double nmeaDegrees(double value, char hemisphere);

}  // namespace vdr
