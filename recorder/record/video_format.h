// The recording files on the card, one definition for the program and the PC tools.
//
// A recording is a file pair with one base name:
//   "%010d,%04d.%02d.%02d,%02d.%02d.%02d" (sequence, local date and time of its first frame)
// plus ".vdd" (frame records back to back) and ".vdx" (one index entry per frame, then an index
// header counting them).
//
// A frame record is the 65-byte frame comment block (start of image and one JPEG comment segment
// with the frame's metadata) followed by the camera's JPEG stream without its own start of
// image, so every record is itself a complete JPEG picture.
//
// Every multi-byte field is little endian (le::Field) except the JPEG segment length, which JPEG
// wants big endian. The structures have alignment 1 and no padding; sizes and offsets are checked
// below. This header depends on nothing of the program, so the tools can include it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/le_field.h"

namespace vr {

constexpr const char kDataExt[] = "vdd";
constexpr const char kIndexExt[] = "vdx";
constexpr const char kAudioDataExt[] = "add";
constexpr const char kAudioIndexExt[] = "adx";
constexpr const char kEventDirName[] = "event";
constexpr const char kNormalDirName[] = "normal";
// Base name of a pair inside its channel directory.
#define VR_BASE_NAME_FORMAT "%010d,%04d.%02d.%02d,%02d.%02d.%02d"

// ---- index header: closes each segment of entries in the .vdx -------------------------------
constexpr uint8_t kIdxHeaderMarker = 0xA0;
constexpr uint8_t kIdxHeaderTag = 0xFF;
constexpr uint8_t kStreamVideo = 1;
constexpr uint8_t kStreamAudio = 2;

struct IdxHeader {
  uint8_t marker;        // 0  0xA0
  uint8_t zero1[2];      // 1
  uint8_t tag;           // 3  0xFF
  uint8_t one;           // 4  0x01
  uint8_t zero5;         // 5
  uint8_t channel;       // 6  channel index from 0
  uint8_t triggerType;   // 7  1 G-sensor, 2 button or power switch, 4 serial; 0 continuous
  uint8_t streamType;    // 8  1 video, 2 audio
  uint8_t kindBit8;      // 9  bit 8 of the stream kind word
  le::U32 dwFrameTotal;  // 10 entries since the previous header
  uint8_t zero14[12];    // 14
};
static_assert(sizeof(IdxHeader) == 26 && alignof(IdxHeader) == 1);
static_assert(offsetof(IdxHeader, channel) == 6 && offsetof(IdxHeader, triggerType) == 7);
static_assert(offsetof(IdxHeader, streamType) == 8 && offsetof(IdxHeader, kindBit8) == 9);
static_assert(offsetof(IdxHeader, dwFrameTotal) == 10 && offsetof(IdxHeader, zero14) == 14);

// ---- frame index entry: one per frame in the .vdx --------------------------------------------
constexpr uint8_t kEntryMarker = 0xA1;
constexpr uint8_t kEntryTag = 0xEE;

enum FrameKind : uint8_t {
  kFrameContinuous = 1,  // continuous recording outside an event period
  kFrameBefore = 2,      // event recording, before the trigger instant
  kFrameAfter = 3,       // from the trigger on (continuous: inside the event period)
};

struct FrameIndexEntry {
  uint8_t marker;        // 0  0xA1
  uint8_t zero1[2];      // 1
  uint8_t tag;           // 3  0xEE
  uint8_t one;           // 4  0x01
  le::U32 offset;        // 5  position of the frame record in the .vdd
  le::U32 length;        // 9  length of the frame record
  le::U16 year;          // 13 local time of capture
  le::U16 month;         // 15 1..12
  le::U16 weekday;       // 17 0 = Sunday
  le::U16 day;           // 19
  le::U16 hour;          // 21
  le::U16 minute;        // 23
  le::U16 second;        // 25
  le::U16 millisecond;   // 27
  uint8_t one29;         // 29 1
  uint8_t kind;          // 30 FrameKind
  le::I16 gx;            // 31 G values in the sensor's units
  le::I16 gy;            // 33
  le::I16 gz;            // 35
  uint8_t gpsValid;      // 37
  le::F64 latitude;      // 38 ddmm.mmmm, negative in the south
  le::F64 longitude;     // 46 dddmm.mmmm, negative in the west
  le::U16 speed;         // 54 km/h (UBX) or the receiver's speed value (Furuno)
  le::I16 altitude;      // 56 metres (UBX) or the receiver's altitude value
  le::U16 course;        // 58 whole degrees (UBX) or the receiver's course value
  uint8_t zero60[2];     // 60
  le::U32 triggerType;   // 62 trigger type of the event the frame belongs to, 0 outside
};
static_assert(sizeof(FrameIndexEntry) == 66 && alignof(FrameIndexEntry) == 1);
static_assert(offsetof(FrameIndexEntry, offset) == 5 && offsetof(FrameIndexEntry, length) == 9);
static_assert(offsetof(FrameIndexEntry, year) == 13 && offsetof(FrameIndexEntry, weekday) == 17);
static_assert(offsetof(FrameIndexEntry, second) == 25 && offsetof(FrameIndexEntry, millisecond) == 27);
static_assert(offsetof(FrameIndexEntry, one29) == 29 && offsetof(FrameIndexEntry, kind) == 30);
static_assert(offsetof(FrameIndexEntry, gx) == 31 && offsetof(FrameIndexEntry, gz) == 35);
static_assert(offsetof(FrameIndexEntry, gpsValid) == 37 && offsetof(FrameIndexEntry, latitude) == 38);
static_assert(offsetof(FrameIndexEntry, longitude) == 46 && offsetof(FrameIndexEntry, speed) == 54);
static_assert(offsetof(FrameIndexEntry, altitude) == 56 && offsetof(FrameIndexEntry, course) == 58);
static_assert(offsetof(FrameIndexEntry, zero60) == 60 && offsetof(FrameIndexEntry, triggerType) == 62);

// ---- frame comment block: in front of each frame's JPEG body in the .vdd ----------------------
constexpr size_t kCommentBlockSize = 65;
constexpr size_t kCommentPosition = 2;         // the comment segment follows the start of image
constexpr uint16_t kCommentSegmentLength = 61;  // the length bytes and the 59-byte payload

struct FrameComment {
  uint8_t soi[2];            // 0  FF D8
  uint8_t marker[2];         // 2  FF FE
  uint8_t segmentLength[2];  // 4  00 3D, big endian as JPEG requires
  uint8_t year;              // 6  year - 2000, local time of capture
  uint8_t month;             // 7
  uint8_t day;               // 8
  uint8_t hour;              // 9
  uint8_t minute;            // 10
  uint8_t second;            // 11
  uint8_t frameNumber;       // 12 within its second
  uint8_t zero13[4];         // 13
  uint8_t kind;              // 17 FrameKind
  uint8_t gpsValid;          // 18
  uint8_t field;             // 19 field setting in force for the frame
  le::U16 password;          // 20
  le::U16 interval;          // 22 frame rate setting in force for the frame
  le::U16 recordSeconds;     // 24 pre + post recording time
  uint8_t recMode;           // 26
  le::F64 latitude;          // 27 ddmm.mmmm
  le::F64 longitude;         // 35 dddmm.mmmm
  le::I16 altitude;          // 43
  uint8_t speed;             // 45
  le::U16 course;            // 46
  uint8_t zero48[2];         // 48
  uint8_t triggerType;       // 50
  le::I16 gx;                // 51
  le::I16 gy;                // 53
  le::I16 gz;                // 55
  uint8_t zero57;            // 57
  le::U16 gpsYear;           // 58 date and time as the receiver reports them (UTC)
  uint8_t gpsMonth;          // 60
  uint8_t gpsDay;            // 61
  uint8_t gpsHour;           // 62
  uint8_t gpsMinute;         // 63
  uint8_t gpsSecond;         // 64
};
static_assert(sizeof(FrameComment) == kCommentBlockSize && alignof(FrameComment) == 1);
static_assert(offsetof(FrameComment, marker) == kCommentPosition && offsetof(FrameComment, year) == 6);
static_assert(offsetof(FrameComment, frameNumber) == 12 && offsetof(FrameComment, kind) == 17);
static_assert(offsetof(FrameComment, gpsValid) == 18 && offsetof(FrameComment, password) == 20);
static_assert(offsetof(FrameComment, interval) == 22 && offsetof(FrameComment, recordSeconds) == 24);
static_assert(offsetof(FrameComment, recMode) == 26 && offsetof(FrameComment, latitude) == 27);
static_assert(offsetof(FrameComment, longitude) == 35 && offsetof(FrameComment, altitude) == 43);
static_assert(offsetof(FrameComment, speed) == 45 && offsetof(FrameComment, course) == 46);
static_assert(offsetof(FrameComment, triggerType) == 50 && offsetof(FrameComment, gx) == 51);
static_assert(offsetof(FrameComment, gz) == 55 && offsetof(FrameComment, gpsYear) == 58);
static_assert(offsetof(FrameComment, gpsSecond) == 64);
static_assert(kCommentPosition + 2 + kCommentSegmentLength == kCommentBlockSize);  // marker, then the segment

// ---- names of the channel directory ----------------------------------------------------------
struct RecordingName {
  int sequence, year, month, day, hour, minute, second;
  char extension[256];
};

enum NameCheck : int {
  kNameFieldCount = -1,  // does not scan as sequence, date, time and extension
  kNameRange = -2,       // a field is out of range
  kNameDigits = -3,      // the first ten characters are not all digits
};

// Scans a directory entry name; gives the number of fields found (8 for a recording name). The
// extension is bounded by its buffer: a directory entry name is at most 255 bytes.
inline int scanRecordingName(const char* name, RecordingName* n) {
  n->extension[0] = '\0';
  return sscanf(name, "%d,%d.%d.%d,%d.%d.%d.%255s", &n->sequence, &n->year, &n->month, &n->day, &n->hour,
                &n->minute, &n->second, n->extension);
}

// The sequence number (> 0) of a valid recording name, else a NameCheck code. Hour 24 and minute
// or second 60 are accepted, as cards written by earlier units may carry them.
inline int checkRecordingName(const char* name, RecordingName* n, int* fieldCount) {
  *fieldCount = scanRecordingName(name, n);
  if (*fieldCount != 8) return kNameFieldCount;
  if (n->sequence == 0 || n->year < 2009 || n->year > 2049 || n->month < 1 || n->month > 12 || n->day < 1 ||
      n->day > 31 || n->hour < 0 || n->hour > 24 || n->minute < 0 || n->minute > 60 || n->second < 0 ||
      n->second > 60) {
    return kNameRange;
  }
  for (int i = 0; i < 10; ++i) {
    if (name[i] < '0' || name[i] > '9') return kNameDigits;
  }
  return n->sequence;
}

// True when a name carries the data or index extension anywhere (the store's filter).
inline bool hasRecordingExtension(const char* name) {
  return strstr(name, ".vdd") != nullptr || strstr(name, ".vdx") != nullptr;
}

}  // namespace vr
