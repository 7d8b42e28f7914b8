#include "board/gps/nmea_output.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace sim {
namespace {

constexpr double kKnotsPerMps = 3600.0 / 1852.0;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

// "ddmm.mmmmm,N" or "dddmm.mmmmm,E", rounded once on the whole so that minutes never read 60.
std::string angle(double deg, int degreeDigits, char positive, char negative) {
  long long total = std::llround(std::abs(deg) * 60 * 100000);
  long long d = total / (60 * 100000), rest = total % (60 * 100000);
  return format("%0*lld%02lld.%05lld,%c", degreeDigits, d, rest / 100000, rest % 100000, deg < 0 ? negative : positive);
}

struct tm utcFields(int64_t utcNs) {
  time_t seconds = static_cast<time_t>(utcNs / 1000000000);
  struct tm t;
  gmtime_r(&seconds, &t);
  return t;
}

std::string timeField(const NavSolution& n) {
  if (!n.timeValid) return "";
  struct tm t = utcFields(n.utcNs);
  int centis = static_cast<int>((n.utcNs % 1000000000) / 10000000);
  return format("%02d%02d%02d.%02d", t.tm_hour, t.tm_min, t.tm_sec, centis);
}

std::string dateField(const NavSolution& n) {
  if (!n.timeValid) return "";
  struct tm t = utcFields(n.utcNs);
  return format("%02d%02d%02d", t.tm_mday, t.tm_mon + 1, t.tm_year % 100);
}

std::string dop(double v) { return format("%.2f", v); }

}  // namespace

unsigned nmeaChecksum(const std::string& body) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  return sum;
}

std::string nmeaFramed(const std::string& body) { return "$" + body + format("*%02X\r\n", nmeaChecksum(body)); }

std::string nmeaSentence(NmeaSentence which, const NavSolution& n) {
  const std::string time = timeField(n);
  const std::string lat = n.fix ? angle(n.latDeg, 2, 'N', 'S') : ",";
  const std::string lon = n.fix ? angle(n.lonDeg, 3, 'E', 'W') : ",";
  const char mode = n.fix ? 'A' : 'N';
  switch (which) {
    case NmeaSentence::GGA:
      if (!n.fix) return nmeaFramed("GPGGA," + time + ",,,,,0,00,99.99,,,,,,");
      return nmeaFramed("GPGGA," + time + "," + lat + "," + lon + format(",1,%02d,", n.used) + dop(n.dop.hdop) +
                        format(",%.1f,M,%.1f,M,,", n.altMslM, n.geoidM));
    case NmeaSentence::GLL:
      return nmeaFramed("GPGLL," + lat + "," + lon + "," + time + (n.fix ? ",A,A" : ",V,N"));
    case NmeaSentence::GSA: {
      std::string body = std::string("GPGSA,A,") + (n.fix ? "3" : "1");
      int slots = 0;
      for (const TrackedSatellite& c : n.channels) {
        if (c.used && slots < 12) {
          body += format(",%02d", c.prn);
          ++slots;
        }
      }
      for (; slots < 12; ++slots) body += ",";
      return nmeaFramed(body + "," + dop(n.dop.pdop) + "," + dop(n.dop.hdop) + "," + dop(n.dop.vdop));
    }
    case NmeaSentence::GSV: {
      // Satellites whose place in the sky the receiver knows, four to a sentence.
      std::vector<const TrackedSatellite*> view;
      for (const TrackedSatellite& c : n.channels) {
        if (n.timeValid && c.elevationDeg > 0) view.push_back(&c);
      }
      size_t count = view.empty() ? 1 : (view.size() + 3) / 4;
      std::string out;
      for (size_t m = 0; m < count; ++m) {
        std::string body = format("GPGSV,%zu,%zu,%02zu", count, m + 1, view.size());
        for (size_t k = m * 4; k < view.size() && k < m * 4 + 4; ++k) {
          const TrackedSatellite& c = *view[k];
          body += format(",%02d,%02d,%03d,", c.prn, c.elevationDeg, c.azimuthDeg);
          if (c.cno > 0) body += format("%02d", c.cno);
        }
        out += nmeaFramed(body);
      }
      return out;
    }
    case NmeaSentence::RMC: {
      std::string motion = n.fix ? format("%.3f,%.2f", n.speedMps * kKnotsPerMps, n.courseDeg) : ",";
      return nmeaFramed("GPRMC," + time + (n.fix ? ",A," : ",V,") + lat + "," + lon + "," + motion + "," +
                        dateField(n) + ",,," + mode);
    }
    case NmeaSentence::VTG:
      if (!n.fix) return nmeaFramed("GPVTG,,,,,,,,,N");
      return nmeaFramed(format("GPVTG,%.2f,T,,M,%.3f,N,%.3f,K,A", n.courseDeg, n.speedMps * kKnotsPerMps,
                               n.speedMps * 3.6));
  }
  return "";
}

}  // namespace sim
