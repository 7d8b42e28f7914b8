#include "gps/ubx_debug.h"

#include <cstdarg>

#include "core/le_field.h"
#include "core/trace.h"
#include "gps/gps_fix.h"
#include "gps/ubx_codec.h"

#define TAG "UBX__"

namespace ubx {

namespace {

uint32_t u4(const uint8_t* p, size_t o) { return le::get32(p + o); }
int32_t i4(const uint8_t* p, size_t o) { return static_cast<int32_t>(le::get32(p + o)); }
unsigned u2(const uint8_t* p, size_t o) { return le::get16(p + o); }
int i2(const uint8_t* p, size_t o) { return static_cast<int16_t>(le::get16(p + o)); }

int put(char* out, size_t size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
int put(char* out, size_t size, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(out, size, fmt, ap);
  va_end(ap);
  return n < 0 ? 0 : n;
}

}  // namespace

int describeNav(const uint8_t* s, char* out, size_t size) {
  const uint8_t* p = s + ubxfix::kFrameHead;
  int length = static_cast<int>(u2(s, 4));
  switch (s[3]) {
    case 0x02:
      return put(out, size, "NAV_POSLLH : %02X %02X, %02X %02X, %d, %u, %d, %d, %d, %d, %u, %u, %u, %u\n", s[0], s[1],
                 s[2], s[3], length, u4(p, 0), i4(p, 4), i4(p, 8), i4(p, 12), i4(p, 16), u4(p, 20), u4(p, 24),
                 s[34], s[35]);
    case 0x03:
      return put(out, size, "NAV_STATUS : %02X %02X, %02X %02X, %d, %u, 0x%X, 0x%X, 0x%X, %u, %u, %u, %u, %u\n",
                 s[0], s[1], s[2], s[3], length, u4(p, 0), p[4], p[5], p[6], p[7], u4(p, 8), u4(p, 12), s[22],
                 s[23]);
    case 0x12:
      return put(out, size,
                 "NAV_VELNED : %02X %02X, %02X %02X, %u, %u, %d, %d, %d, %u, %u, %d,%u, %u, %u, %u\n", s[0], s[1],
                 s[2], s[3], static_cast<unsigned>(length), u4(p, 0), i4(p, 4), i4(p, 8), i4(p, 12), u4(p, 16),
                 u4(p, 20), i4(p, 24), u4(p, 28), u4(p, 32), s[42], s[43]);
    case 0x21:
      return put(out, size,
                 "NAV_TIMEUTC : %02X %02X, %02X %02X, %d, %u, %u, %d, %u, %u, %u,%u, %u, %u, 0x%X %u, %u\n", s[0],
                 s[1], s[2], s[3], length, u4(p, 0), u4(p, 4), i4(p, 8), u2(p, 12), p[14], p[15], p[16], p[17],
                 p[18], p[19], s[26], s[27]);
    case 0x30:
      return put(out, size, "NAV_SVINFO : %02X %02X, %02X %02X, %d, %u, %u, 0x%X, %u, %u, %u\n", s[0], s[1], s[2],
                 s[3], length, u4(p, 0), p[4], p[5], u2(p, 6), s[398], s[399]);
    case 0x06:
      return put(out, size,
                 "NAV_SOL : %02X %02X, %02X %02X, %d, %u, %d, %d, %u, 0x%X, %d, %d, %d, %u, %d, %d, %d, %u, %u, "
                 "%u, %u, %u, %u, %u\n",
                 s[0], s[1], s[2], s[3], length, u4(p, 0), i4(p, 4), i2(p, 8), p[10], p[11], i4(p, 12), i4(p, 16),
                 i4(p, 20), u4(p, 24), i4(p, 28), i4(p, 32), i4(p, 36), u4(p, 40), u2(p, 44), p[46], p[47],
                 u4(p, 48), s[58], s[59]);
    case 0x04:
      return put(out, size, "NAV_DOP : %02X %02X, %02X %02X, %d, %u, %u, %u, %u, %u, %u, %u, %u, %u, %u\n", s[0],
                 s[1], s[2], s[3], length, u4(p, 0), u2(p, 4), u2(p, 6), u2(p, 8), u2(p, 10), u2(p, 12), u2(p, 14),
                 u2(p, 16), s[24], s[25]);
    default:
      return 0;
  }
}

void dumpNav(const uint8_t* slot, const uint8_t* frame, FILE* file) {
  char line[512];
  if (describeNav(slot, line, sizeof line) == 0) return;
  TRACE(TAG, "%s", line);
  if (file) fputs(line, file);
  if (slot[3] != 0x30 || frame == nullptr) return;
  // Every channel the received frame really holds (its numCh, cut to its length).
  size_t frameLength = ubxfix::kFrameHead + le::get16(frame + 4);
  int channels = svinfoChannels(frame, frameLength);
  for (int c = 0; c < channels; ++c) {
    const uint8_t* b = frame + ubxfix::kFrameHead + 8 + 12 * c;
    snprintf(line, sizeof line, "  Sat %u, %u, 0x%X, 0x%X, %u, %d, %d, %d\n", b[0], b[1], b[2], b[3], b[4],
             static_cast<int8_t>(b[5]), i2(b, 6), i4(b, 8));
    TRACE(TAG, "%s", line);
    if (file) fputs(line, file);
  }
}

}  // namespace ubx
