// Furuno bytes from the GPS port: the decoder and the probe must never read or write past a
// frame, the 4096-byte frame buffer or the record, whatever the counts in a frame say, and the
// positions made from the received doubles stay defined.
#include <cstdint>
#include <cstring>

#include "fuzz_board.h"
#include "platform/sim/clock.h"
#include "gps/furuno_codec.h"
#include "gps/gps_thread.h"

namespace {

const uint8_t* gData;
size_t gSize, gAt;

int readPiece(int, uint8_t* buffer, int size) {
  if (gAt >= gSize) return 0;
  size_t n = 1 + (gData[gAt] % 61);
  if (n > gSize - gAt) n = gSize - gAt;
  if (n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
  memcpy(buffer, gData + gAt, n);
  gAt += n;
  return static_cast<int>(n);
}

int writeAll(int, const uint8_t*, int count) { return count; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fast = [] {
    fuzz_board::boardDir();
    // The waits' pauses pass at once: the clock runs ten million times faster than the PC's.
    sim::Clock::runAt(1e7, sim::Clock::monoNow(), 0, 1767225600LL * sim::kNsPerSec);
    return true;
  }();
  (void)fast;
  FurunoResetForTest();
  static GpsFixRecord record;
  memset(&record, 0, sizeof record);
  FurunoDecode(data, static_cast<int>(size), &record, 0);
  gpsthread::fillFurunoIntegers(record);
  DbgGPSData(&record, GPS_PROTO_FURUNO);
  gData = data;
  gSize = size;
  gAt = 0;
  FurunoProbe(1, readPiece, writeAll);
  uint8_t out[8];
  FurunoEncode(out, size > 0 ? data[0] % 9 : 5, data);
  return 0;
}
