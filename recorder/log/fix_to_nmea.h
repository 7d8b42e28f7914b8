// A received fix in the receiver's own layout (UBX or Furuno) turned into the NMEA layout of the
// fix record, so that the NMEA encoder can write it as sentences for the travel log.
#pragma once

#include <cstdint>

#include "gps/gps_fix.h"

// Fill the GGA, RMC and GSV records of `nmeaFix` from the fix; the KVOXL record and the GGA fields
// that a receiver does not give (geoid separation, units) are left as they are. Both return 0.
int MakeNmeaFromUbx(GpsFixRecord* nmeaFix, const GpsFixRecord* ubx);
int MakeNmeaFromFuruno(GpsFixRecord* nmeaFix, const GpsFixRecord* furuno);

// A position in 1e-7 degree as the sentences write it: the magnitude of degrees x 100 + minutes
// (ddmm.mmmm / dddmm.mmmm), and the hemisphere: `positive` above 0, `negative` at 0 or below.
double NmeaPosition(int32_t value);
char NmeaHemisphere(int32_t value, char positive, char negative);
// Ground speed in cm/s as knots, from whole km/h as the receiver's speed is logged.
double NmeaKnotsFromCms(uint32_t gSpeed);
