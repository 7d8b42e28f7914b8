// The GPS fix record: the 672-byte block that the active decoder fills and that travels, as a
// heap copy, in every MSG_GPS_DATA message. Its layout depends on the protocol id sent beside it.
//
// Protocol 0 (UBX): one slot per u-blox NAV frame kind, each holding the last frame of that kind
// whole as it came off the line (sync B5 62, class, id, 16-bit length, payload, checksum); the
// payload starts 6 bytes into the slot. Protocol 1 (FURUNO): a packed record of decoded fields.
// Protocol 2 (NMEA): the four sentence records of the NMEA codec at fixed offsets.
// All integers little endian; the layouts are defined once here, with their offsets checked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/le_field.h"

enum : int32_t { GPS_PROTO_UBX = 0, GPS_PROTO_FURUNO = 1, GPS_PROTO_NMEA = 2, GPS_PROTO_GARMIN = 3 };

constexpr size_t GPS_FIX_RECORD_SIZE = 672;

struct GpsFixRecord {
  uint8_t bytes[GPS_FIX_RECORD_SIZE];
};
static_assert(sizeof(GpsFixRecord) == GPS_FIX_RECORD_SIZE);

// ---- protocol 0: u-blox NAV frames ------------------------------------------------------------
namespace ubxfix {

constexpr size_t kFrameHead = 6;  // sync, class, id, length: the payload follows

// Slot offsets in the record and slot sizes (the whole frame, checksum included).
constexpr size_t kPosllh = 0, kPosllhSize = 36;      // NAV-POSLLH 01 02
constexpr size_t kStatus = 36, kStatusSize = 24;     // NAV-STATUS 01 03
constexpr size_t kVelned = 60, kVelnedSize = 44;     // NAV-VELNED 01 12
constexpr size_t kTimeutc = 104, kTimeutcSize = 28;  // NAV-TIMEUTC 01 21
constexpr size_t kSvinfo = 132, kSvinfoSize = 400;   // NAV-SVINFO 01 30, first 400 bytes
constexpr size_t kSol = 532, kSolSize = 60;          // NAV-SOL 01 06
constexpr size_t kDop = 592, kDopSize = 26;          // NAV-DOP 01 04
constexpr size_t kUnused = 618, kUnusedSize = 54;
static_assert(kPosllh + kPosllhSize == kStatus && kStatus + kStatusSize == kVelned);
static_assert(kVelned + kVelnedSize == kTimeutc && kTimeutc + kTimeutcSize == kSvinfo);
static_assert(kSvinfo + kSvinfoSize == kSol && kSol + kSolSize == kDop);
static_assert(kDop + kDopSize == kUnused && kUnused + kUnusedSize == GPS_FIX_RECORD_SIZE);

// Payload field offsets within their frame's payload.
namespace posllh { constexpr size_t iTOW = 0, lon = 4, lat = 8, height = 12, hMSL = 16, hAcc = 20, vAcc = 24; }
namespace status { constexpr size_t iTOW = 0, gpsFix = 4, flags = 5, diffStat = 6, ttff = 8, msss = 12; }
namespace velned {
constexpr size_t iTOW = 0, velN = 4, velE = 8, velD = 12, speed = 16, gSpeed = 20, heading = 24, sAcc = 28, cAcc = 32;
}
namespace timeutc {
constexpr size_t iTOW = 0, tAcc = 4, nano = 8, year = 12, month = 14, day = 15, hour = 16, min = 17, sec = 18, valid = 19;
}

inline const uint8_t* payload(const GpsFixRecord& r, size_t slot) { return r.bytes + slot + kFrameHead; }
inline uint8_t* payload(GpsFixRecord& r, size_t slot) { return r.bytes + slot + kFrameHead; }

inline int32_t lat(const GpsFixRecord& r) { return static_cast<int32_t>(le::get32(payload(r, kPosllh) + posllh::lat)); }
inline int32_t lon(const GpsFixRecord& r) { return static_cast<int32_t>(le::get32(payload(r, kPosllh) + posllh::lon)); }
inline int32_t hMSL(const GpsFixRecord& r) { return static_cast<int32_t>(le::get32(payload(r, kPosllh) + posllh::hMSL)); }
inline uint8_t gpsFix(const GpsFixRecord& r) { return payload(r, kStatus)[status::gpsFix]; }
inline uint32_t gSpeed(const GpsFixRecord& r) { return le::get32(payload(r, kVelned) + velned::gSpeed); }
inline int32_t heading(const GpsFixRecord& r) { return static_cast<int32_t>(le::get32(payload(r, kVelned) + velned::heading)); }
inline uint16_t utcYear(const GpsFixRecord& r) { return le::get16(payload(r, kTimeutc) + timeutc::year); }
inline uint8_t utcByte(const GpsFixRecord& r, size_t field) { return payload(r, kTimeutc)[field]; }

}  // namespace ubxfix

// ---- protocol 1: Furuno, decoded fields -------------------------------------------------------
struct FurunoSatellite {
  uint8_t number;
  le::U16 azimuth;
  uint8_t elevation;
  uint8_t status;
  uint8_t signal;
};
static_assert(sizeof(FurunoSatellite) == 6);

struct FurunoFix {
  uint8_t posId;          // 0   0xE0
  uint8_t posMode;        // 1   bit 0 position valid; bits 0 and 1: 3-D
  uint8_t posStatus;      // 2
  le::I32 latitude;       // 3   1e-7 degree, north positive
  le::F64 latitudeDeg;    // 7
  le::I32 longitude;      // 15  1e-7 degree, east positive
  le::F64 longitudeDeg;   // 19
  le::I32 altitude;       // 27  metres
  le::I32 speed;          // 31  km/h
  le::U16 course;         // 35  degrees
  uint8_t satellitesUsed; // 37
  uint8_t unused38[2];    // 38
  uint8_t timeId;         // 40  0xE1
  uint8_t timeStatus;     // 41
  uint8_t year;           // 42  year - 2000
  uint8_t month;          // 43
  uint8_t day;            // 44
  uint8_t hour;           // 45
  uint8_t minute;         // 46
  uint8_t second;         // 47
  uint8_t timeByte8;      // 48
  uint8_t timeByte9;      // 49
  uint8_t satId;          // 50  0xE2
  uint8_t satellitesInView;          // 51
  FurunoSatellite satellites[32];    // 52
  uint8_t satByte194;     // 244
  uint8_t satByte195;     // 245
  uint8_t qualityId;      // 246 0xE3
  le::U16 quality1;       // 247 (HDOP in tenths for the travel log)
  le::U16 quality2;       // 249
  uint8_t unused251[6];   // 251
  uint8_t quality11;      // 257
  uint8_t unused258;      // 258
  uint8_t qualityByte13;  // 259
  uint8_t qualityByte14;  // 260
  uint8_t unused261[411]; // 261
};
static_assert(sizeof(FurunoFix) == GPS_FIX_RECORD_SIZE && alignof(FurunoFix) == 1);
static_assert(offsetof(FurunoFix, latitude) == 3 && offsetof(FurunoFix, latitudeDeg) == 7);
static_assert(offsetof(FurunoFix, longitude) == 15 && offsetof(FurunoFix, longitudeDeg) == 19);
static_assert(offsetof(FurunoFix, altitude) == 27 && offsetof(FurunoFix, speed) == 31);
static_assert(offsetof(FurunoFix, course) == 35 && offsetof(FurunoFix, satellitesUsed) == 37);
static_assert(offsetof(FurunoFix, timeId) == 40 && offsetof(FurunoFix, year) == 42);
static_assert(offsetof(FurunoFix, second) == 47 && offsetof(FurunoFix, satId) == 50);
static_assert(offsetof(FurunoFix, satellites) == 52 && offsetof(FurunoFix, satByte194) == 244);
static_assert(offsetof(FurunoFix, qualityId) == 246 && offsetof(FurunoFix, quality1) == 247);
static_assert(offsetof(FurunoFix, quality11) == 257 && offsetof(FurunoFix, qualityByte13) == 259);

// The Furuno view of a record (the record is a byte block, the view has alignment 1).
inline const FurunoFix& furuno(const GpsFixRecord& r) { return *reinterpret_cast<const FurunoFix*>(r.bytes); }
inline FurunoFix& furuno(GpsFixRecord& r) { return *reinterpret_cast<FurunoFix*>(r.bytes); }

// ---- protocol 2: NMEA sentence records ----------------------------------------------------------
// One record per sentence kind, each ending in a 16-bit update counter that its decoder bumps
// after every sentence it stores. Positions are kept in the sentences' own form (ddmm.mmmm and
// dddmm.mmmm as numbers). The NMEA decoder fills these records; the encoder writes sentence text
// from them, which is how the travel log turns a UBX or Furuno fix into text.
namespace nmeafix {

struct GgaRecord {
  uint8_t hour;           // 0  UTC
  uint8_t minute;         // 1
  uint8_t second;         // 2
  uint8_t unused3;
  le::F64 latitude;       // 4  ddmm.mmmm
  char ns;                // 12 'N' or 'S'
  uint8_t unused13[3];
  le::F64 longitude;      // 16 dddmm.mmmm
  char ew;                // 24 'E' or 'W'
  uint8_t quality;        // 25 fix quality
  uint8_t satellites;     // 26 satellites used
  uint8_t unused27;
  le::F64 hdop;           // 28
  le::F64 altitude;       // 36
  char altitudeUnit;      // 44 'M' after a reset
  uint8_t unused45[3];
  le::F64 geoidSeparation;  // 48
  char geoidUnit;         // 56 'M' after a reset
  uint8_t unused57;
  le::U16 counter;        // 58
};
static_assert(sizeof(GgaRecord) == 60 && alignof(GgaRecord) == 1);
static_assert(offsetof(GgaRecord, latitude) == 4 && offsetof(GgaRecord, ns) == 12);
static_assert(offsetof(GgaRecord, longitude) == 16 && offsetof(GgaRecord, ew) == 24);
static_assert(offsetof(GgaRecord, quality) == 25 && offsetof(GgaRecord, satellites) == 26);
static_assert(offsetof(GgaRecord, hdop) == 28 && offsetof(GgaRecord, altitude) == 36);
static_assert(offsetof(GgaRecord, altitudeUnit) == 44 && offsetof(GgaRecord, geoidSeparation) == 48);
static_assert(offsetof(GgaRecord, geoidUnit) == 56 && offsetof(GgaRecord, counter) == 58);

struct GsvSatellite {
  le::U16 prn;
  le::I16 elevation;
  le::I16 azimuth;
  le::I16 snr;
};
static_assert(sizeof(GsvSatellite) == 8);

constexpr int kGsvMaxMessages = 9;     // room in the record
constexpr int kGsvPerMessage = 4;

struct GsvRecord {
  uint8_t messages;       // 0  GSV messages in the cycle
  uint8_t unused1;
  le::U16 inView;         // 2  satellites in view
  GsvSatellite satellite[kGsvMaxMessages][kGsvPerMessage];  // 4 + 32 (m - 1) + 8 j
  le::U16 counter;        // 292
  uint8_t unused294[2];
};
static_assert(sizeof(GsvRecord) == 296 && alignof(GsvRecord) == 1);
static_assert(offsetof(GsvRecord, inView) == 2 && offsetof(GsvRecord, satellite) == 4);
static_assert(offsetof(GsvRecord, counter) == 292);

struct RmcRecord {
  uint8_t hour;           // 0  UTC
  uint8_t minute;         // 1
  uint8_t second;         // 2
  char status;            // 3  'A' or 'V' ('V' after a reset)
  le::F64 latitude;       // 4
  char ns;                // 12
  uint8_t unused13[3];
  le::F64 longitude;      // 16
  char ew;                // 24
  uint8_t unused25[3];
  le::F64 speedKnots;     // 28
  le::F64 course;         // 36
  uint8_t day;            // 44
  uint8_t month;          // 45
  le::U16 year;           // 46 full year
  uint8_t variation;      // 48 whole degrees (decoder only)
  char variationDir;      // 49 as received (decoder only)
  char encodedDir;        // 50 what the encoder writes in the direction field
  uint8_t unused51;
  le::U16 counter;        // 52
  uint8_t unused54[2];
};
static_assert(sizeof(RmcRecord) == 56 && alignof(RmcRecord) == 1);
static_assert(offsetof(RmcRecord, status) == 3 && offsetof(RmcRecord, latitude) == 4);
static_assert(offsetof(RmcRecord, ns) == 12 && offsetof(RmcRecord, longitude) == 16);
static_assert(offsetof(RmcRecord, ew) == 24 && offsetof(RmcRecord, speedKnots) == 28);
static_assert(offsetof(RmcRecord, course) == 36 && offsetof(RmcRecord, day) == 44);
static_assert(offsetof(RmcRecord, year) == 46 && offsetof(RmcRecord, variation) == 48);
static_assert(offsetof(RmcRecord, encodedDir) == 50 && offsetof(RmcRecord, counter) == 52);

// The recorder's own sentence: one set of G values with the local time it was taken.
struct KvoxlRecord {
  uint8_t value1;         // 0  the travel log writes 1 (its entry mark)
  uint8_t value2;         // 1  the travel log writes 1
  le::I16 x;              // 2
  le::I16 y;              // 4
  le::I16 z;              // 6
  uint8_t hour;           // 8
  uint8_t minute;         // 9
  uint8_t second;         // 10
  uint8_t day;            // 11
  uint8_t month;          // 12
  uint8_t unused13;
  le::U16 year;           // 14 full year
  uint8_t unused16[2];
  le::U16 counter;        // 18
};
static_assert(sizeof(KvoxlRecord) == 20 && alignof(KvoxlRecord) == 1);
static_assert(offsetof(KvoxlRecord, x) == 2 && offsetof(KvoxlRecord, hour) == 8);
static_assert(offsetof(KvoxlRecord, month) == 12 && offsetof(KvoxlRecord, year) == 14);
static_assert(offsetof(KvoxlRecord, counter) == 18);

// Where the four records sit in a fix record of protocol 2.
struct NmeaFix {
  GgaRecord gga;              // 0
  uint8_t unused60[104];
  GsvRecord gsv;              // 164
  uint8_t unused460[124];
  RmcRecord rmc;              // 584
  uint8_t unused640[12];
  KvoxlRecord kvoxl;          // 652
};
static_assert(sizeof(NmeaFix) == GPS_FIX_RECORD_SIZE && alignof(NmeaFix) == 1);
static_assert(offsetof(NmeaFix, gga) == 0 && offsetof(NmeaFix, gsv) == 164);
static_assert(offsetof(NmeaFix, rmc) == 584 && offsetof(NmeaFix, kvoxl) == 652);

}  // namespace nmeafix

// The NMEA view of a record.
inline const nmeafix::NmeaFix& nmeaRecords(const GpsFixRecord& r) { return *reinterpret_cast<const nmeafix::NmeaFix*>(r.bytes); }
inline nmeafix::NmeaFix& nmeaRecords(GpsFixRecord& r) { return *reinterpret_cast<nmeafix::NmeaFix*>(r.bytes); }
