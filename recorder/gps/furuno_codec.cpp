#include "gps/furuno_codec.h"

#include <cstring>

#include "core/trace.h"

#define TAG "FURUNO__"

namespace frn {

const uint8_t kCmdA3[5] = {0xC0, 0xA3, 0x8F, 0xEC, 0xCA};
const uint8_t kCmdA2[19] = {0xC0, 0xA2, 0x86, 0x8A, 0x85, 0x81, 0x80, 0x80, 0x80, 0x80,
                            0x80, 0x81, 0x81, 0x80, 0x81, 0x80, 0x80, 0xEB, 0xCA};

}  // namespace frn

namespace {

using namespace frn;

struct RxState {
  int state = 0;
  uint16_t index = 0;
  uint8_t frame[kFrameBufferSize] = {};
};
RxState rx;
uint32_t completion = 0;

constexpr uint8_t kIdRequest = 0xD0, kIdPosition = 0xE0, kIdTime = 0xE1, kIdSatellites = 0xE2, kIdQuality = 0xE3;
constexpr int kMaxSatellites = 32;

bool isId(uint8_t b) { return b == kIdRequest || (b >= kIdPosition && b <= kIdQuality); }

void restart() {
  rx.state = 0;
  rx.index = 0;
}

// The frame's data byte k (the id is byte 0), or 0 past the frame's end, so that a short frame
// never reads bytes of an earlier one.
struct Frame {
  const uint8_t* bytes;
  size_t dataEnd;  // index of the checksum byte
  uint8_t at(size_t k) const { return k < dataEnd ? bytes[k] : 0; }
  uint8_t low(size_t k) const { return at(k) & 0x7F; }
  uint16_t u14(size_t k) const { return static_cast<uint16_t>(low(k) * 128 + low(k + 1)); }
  int32_t s21(size_t k) const {
    uint8_t b[3] = {at(k), at(k + 1), at(k + 2)};
    return DecodeFuruno21(b);
  }
  int32_t s28(size_t k) const {
    uint8_t b[4] = {at(k), at(k + 1), at(k + 2), at(k + 3)};
    return DecodeFurunoLong(b);
  }
};

int position(const Frame& f, FurunoFix& fix, int debug) {
  uint8_t used = f.low(20);
  if (used & 0x40) used |= 0x80;  // a 7-bit signed field widened to 8 bits
  if (used > kMaxSatellites) {
    TRACE(TAG, "num_of_sat is larger than 32 : %d\n", used);
    return 0;
  }
  fix.posId = f.at(0);
  fix.posMode = f.at(1);
  fix.posStatus = f.at(2);
  fix.latitudeDeg.set(f.s28(3) / 600000.0);
  fix.longitudeDeg.set(f.s28(7) / 600000.0);
  fix.altitude.set(f.s28(11) / 10);
  fix.speed.set(f.s21(15) / 10);
  fix.course.set(static_cast<uint16_t>(f.u14(18) / 10));
  fix.satellitesUsed = used;
  if (debug == 1) {
    TRACE(TAG, "header 0x%X, mode 0x%X, status 0x%X,Latitude %f, Longitude %f, altitude %ld,speed %d, course %d, "
               "numofsat %d\n",
          fix.posId, fix.posMode, fix.posStatus, fix.latitudeDeg.get(),
          fix.longitudeDeg.get(), static_cast<long>(fix.altitude.get()), fix.speed.get(),
          static_cast<int>(fix.course.get()), fix.satellitesUsed);
  }
  return kBitPosition;
}

int timeOfDay(const Frame& f, FurunoFix& fix, int debug) {
  fix.timeId = f.at(0);
  fix.timeStatus = f.at(1);
  uint8_t* t = &fix.year;
  for (size_t k = 0; k < 6; ++k) t[k] = f.low(2 + k);
  fix.timeByte8 = f.at(8);
  fix.timeByte9 = f.at(9);
  if (debug == 1) {
    TRACE(TAG, "0x%X, 0x%X, %04d/%02d/%02d %02d:%02d:%02d\n", fix.timeId, fix.timeStatus, fix.year + 2000, fix.month,
          fix.day, fix.hour, fix.minute, fix.second);
  }
  return kBitTime;
}

int satellites(const Frame& f, FurunoFix& fix, int debug) {
  uint8_t count = f.at(1);
  if (count > kMaxSatellites) {  // as received: 33 or more
    TRACE(TAG, "num_of_sat is larger than 32 : %d\n", count);
    return 0;
  }
  fix.satId = f.at(0);
  fix.satellitesInView = count & 0x7F;
  for (size_t i = 0; i < fix.satellitesInView; ++i) {
    FurunoSatellite& s = fix.satellites[i];
    s.number = f.low(2 + 6 * i);
    s.azimuth.set(f.u14(3 + 6 * i));
    s.elevation = f.low(5 + 6 * i);
    s.status = f.low(6 + 6 * i);
    s.signal = f.low(7 + 6 * i);
    if (debug == 1) {
      TRACE(TAG, "  num 0x%X, wCourse 0x%X, angle 0x%X, status 0x%X, level 0x%X\n", s.number,
            static_cast<unsigned>(s.azimuth.get()), s.elevation, s.status, s.signal);
    }
  }
  fix.satByte194 = f.at(194);
  fix.satByte195 = f.at(195);
  return kBitSatellites;
}

int quality(const Frame& f, FurunoFix& fix) {
  fix.qualityId = f.at(0);
  fix.quality1.set(f.u14(1));
  fix.quality2.set(f.u14(3));
  fix.quality11 = f.low(11);
  fix.qualityByte13 = f.at(13);
  fix.qualityByte14 = f.at(14);
  return kBitQuality;
}

int decodeFrame(const Frame& f, GpsFixRecord* record, int debug) {
  FurunoFix& fix = furuno(*record);
  switch (f.bytes[0]) {
    case kIdPosition: return position(f, fix, debug);
    case kIdTime: return timeOfDay(f, fix, debug);
    case kIdSatellites: return satellites(f, fix, debug);
    case kIdQuality: return quality(f, fix);
    default:
      TRACE(TAG, ">>FRN_DATA_REQUEST");
      return 0;
  }
}

// What one byte did: `complete` for a frame that ended with a good checksum.
struct Step {
  bool complete = false;
  int result = 0;
};

Step step(uint8_t byte, GpsFixRecord* record, int debug) {
  Step s;
  if (rx.state == 0) {
    if (isId(byte)) {
      rx.frame[0] = byte;
      rx.index = 1;
      rx.state = 1;
    }
    return s;
  }
  rx.frame[rx.index++] = byte;
  bool endByte = (byte == 0xDA || byte == 0xEA) && (byte & 0xF0) == (rx.frame[0] & 0xF0);
  if (endByte) {
    size_t checksumAt = rx.index - 2;  // index of the checksum byte; the id is at 0
    restart();
    if (checksumAt < 1 || rx.frame[checksumAt] != MakeSum(rx.frame, static_cast<int>(checksumAt))) return s;
    s.complete = true;
    s.result = record ? decodeFrame(Frame{rx.frame, checksumAt}, record, debug) : 1;
    return s;
  }
  if (rx.index >= kFrameBufferSize) {
    restart();
    TRACE(TAG, "m_wIndex %d\n", rx.index);
  }
  return s;
}

}  // namespace

uint8_t MakeSum(const uint8_t* bytes, int n) {
  uint8_t sum = bytes[0];
  for (int i = 1; i < n; ++i) sum ^= bytes[i];
  return sum;
}

uint8_t DecodeFurunoUChar(const uint8_t* p) { return p[0] & 0x7F; }
uint16_t DecodeFurunoUShort(const uint8_t* p) { return static_cast<uint16_t>((p[0] & 0x7F) * 128 + (p[1] & 0x7F)); }

int32_t DecodeFurunoLong(const uint8_t* p) {
  uint32_t v = (static_cast<uint32_t>(p[0] & 0x7F) << 21) | (static_cast<uint32_t>(p[1] & 0x7F) << 14) |
               (static_cast<uint32_t>(p[2] & 0x7F) << 7) | (p[3] & 0x7F);
  if (v & (1u << 27)) v |= 0xF0000000u;
  return static_cast<int32_t>(v);
}

int32_t DecodeFuruno21(const uint8_t* p) {
  uint32_t v = (static_cast<uint32_t>(p[0] & 0x7F) << 14) | (static_cast<uint32_t>(p[1] & 0x7F) << 7) | (p[2] & 0x7F);
  if (v & (1u << 20)) v |= 0xFFE00000u;
  return static_cast<int32_t>(v);
}

int FurunoInit(void* opaque) {
  TRACE(TAG, "FurunoInit(%p)\n", opaque);
  rx.state = 0;
  return 1;
}

void FurunoResetForTest() {
  restart();
  completion = 0;
}

int ProcessFURUNO(uint8_t byte, GpsFixRecord* record, int debug) { return step(byte, record, debug).result; }

int FurunoDecode(const uint8_t* bytes, int count, GpsFixRecord* record, int debug) {
  for (int i = 0; i < count; ++i) completion |= static_cast<uint32_t>(step(bytes[i], record, debug).result);
  if ((completion & kAll) == kAll) {
    completion = 0;
    return 1;
  }
  return 0;
}

int FurunoProbe(int port, ComReadFn read, ComWriteFn write) {
  (void)write;
  TRACE(TAG, "FurunoProbe()");
  static uint8_t buffer[kFrameBufferSize];
  int n = read(port, buffer, static_cast<int>(sizeof buffer));
  if (n <= 0) return 0;
  restart();
  // A read gives what the port has so far, often a few bytes of a burst: the block is read on
  // until it holds the frames asked for, the port falls silent for a read's time, or a block's
  // worth of bytes has been looked at.
  int found = 0;
  for (int total = 0;;) {
    for (int i = 0; i < n; ++i) {
      if (step(buffer[i], nullptr, 0).complete && ++found >= kProbeFrames) return 1;
    }
    total += n;
    if (total >= static_cast<int>(kFrameBufferSize)) return 0;
    n = read(port, buffer, static_cast<int>(kFrameBufferSize) - total);
    if (n <= 0) return 0;
  }
}

int FurunoConfig(int port, ComReadFn read, ComWriteFn write) {
  (void)read;
  TRACE(TAG, "FurunoConfig()");
  if (write(port, kCmdA3, sizeof kCmdA3) < static_cast<int>(sizeof kCmdA3)) {
    TRACE(TAG, "failed to WriteComPort()n");
    return 0;
  }
  if (write(port, kCmdA2, sizeof kCmdA2) < static_cast<int>(sizeof kCmdA2)) {
    TRACE(TAG, "failed to WriteComPort()n");
    return 0;
  }
  return 1;
}

int FurunoEncode(uint8_t* output, int size, const void* source) {
  const uint8_t* request = static_cast<const uint8_t*>(source);
  if (!request || !output || size < 5) return 0;
  if (request[0] != 0xC0 || request[1] < 0xA0 || request[1] > 0xA4) return 0;
  output[0] = 0xC0;
  output[1] = request[1];
  output[2] = 0x87;
  output[3] = static_cast<uint8_t>(output[0] ^ output[1] ^ output[2]);
  output[4] = 0xCA;
  return 5;
}
