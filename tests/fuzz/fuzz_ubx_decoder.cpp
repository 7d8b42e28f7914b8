// u-blox bytes from the GPS port: the UBX decoder, the acknowledgement wait and the dump of the
// record they fill must never read or write past a frame, the 4096-byte frame buffer, a record
// slot or the record, whatever the lengths and channel counts say.
#include <cstdint>
#include <cstring>

#include "fuzz_board.h"
#include "platform/sim/clock.h"
#include "gps/gps_thread.h"
#include "gps/ubx_codec.h"

namespace {

const uint8_t* gData;
size_t gSize, gAt;

// The port hands the input out in pieces of varying size, then falls silent.
int readPiece(int, uint8_t* buffer, int size) {
  if (gAt >= gSize) return 0;
  size_t n = 1 + (gData[gAt] % 97);
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
  UbxResetForTest();
  static GpsFixRecord record;
  memset(&record, 0, sizeof record);
  UbxDecode(data, static_cast<int>(size), &record, 0);
  DbgGPSData(&record, GPS_PROTO_UBX);
  // The same bytes byte by byte and through the acknowledgement wait.
  UbxResetForTest();
  for (size_t i = 0; i < size; ++i) ProcessUBX(data[i], &record, 0);
  gData = data;
  gSize = size;
  gAt = 0;
  UbxResetForTest();
  UbxWaitAck(1, readPiece, writeAll, 0x06, size > 0 ? data[0] : 0x24);
  return 0;
}
