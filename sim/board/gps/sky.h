// The sky a GPS receiver sees: the satellites of a 32-satellite constellation on six orbital
// planes (55 degrees inclination, half a sidereal day per orbit) as they pass over the car,
// GPS time against UTC, and the dilution of precision of a set of satellites.
//
// The orbits are round and idealised, but they move as real ones do: a satellite rises, crosses
// and sets over hours, and a place sees 8 to 12 of them above the horizon at any time.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// GPS time of a UTC instant: the week since 1980-01-06 and the milliseconds in it.
struct GpsTime {
  int week = 0;
  uint32_t towMs = 0;
  int leapSeconds = 0;
};
GpsTime gpsTimeOfUtc(int64_t utcNs);

struct SkySatellite {
  int prn = 0;
  double elevationDeg = 0, azimuthDeg = 0;
};
// Every satellite of the constellation as seen from a place at a UTC instant, highest first.
std::vector<SkySatellite> skyAt(int64_t utcNs, double latDeg, double lonDeg, double altM);

struct Dilution {
  double gdop = 99.99, pdop = 99.99, tdop = 99.99, vdop = 99.99, hdop = 99.99, ndop = 99.99, edop = 99.99;
};
// From the satellites used (four or more; fewer leave every value at 99.99).
Dilution dilutionOf(const std::vector<SkySatellite>& used);

// Earth-centred coordinates of a WGS84 position (metres), and the rotation of a north, east,
// down vector into them.
void ecefOf(double latDeg, double lonDeg, double altM, double out[3]);
void ecefVelocityOf(double latDeg, double lonDeg, double north, double east, double down, double out[3]);

}  // namespace sim
