// Furuno bytes from the GPS port: the decoder and the probe must never read or write past a
// frame, the 4096-byte frame buffer or the record, whatever the counts in a frame say, and the
// positions made from the received doubles stay defined.
#include <cstdint>
#include <cstring>

#include "fuzz_board.h"
#include "gps/furuno_codec.h"
#include "gps/gps_thread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_board::runClockFast();
  FurunoResetForTest();
  static GpsFixRecord record;
  memset(&record, 0, sizeof record);
  FurunoDecode(data, static_cast<int>(size), &record, 0);
  gpsthread::fillFurunoIntegers(record);
  DbgGPSData(&record, GPS_PROTO_FURUNO);
  fuzz_board::feedPort(data, size, 61);
  FurunoProbe(1, fuzz_board::readPiece, fuzz_board::writeAll);
  uint8_t out[8];
  FurunoEncode(out, size > 0 ? data[0] % 9 : 5, data);
  return 0;
}
