// u-blox bytes from the GPS port: the UBX decoder, the acknowledgement wait and the dump of the
// record they fill must never read or write past a frame, the 4096-byte frame buffer, a record
// slot or the record, whatever the lengths and channel counts say.
#include <cstdint>
#include <cstring>

#include "fuzz_board.h"
#include "gps/gps_thread.h"
#include "gps/ubx_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_board::runClockFast();
  UbxResetForTest();
  static GpsFixRecord record;
  memset(&record, 0, sizeof record);
  UbxDecode(data, static_cast<int>(size), &record, 0);
  DbgGPSData(&record, GPS_PROTO_UBX);
  // The same bytes byte by byte and through the acknowledgement wait.
  UbxResetForTest();
  for (size_t i = 0; i < size; ++i) ProcessUBX(data[i], &record, 0);
  fuzz_board::feedPort(data, size, 97);
  UbxResetForTest();
  UbxWaitAck(1, fuzz_board::readPiece, fuzz_board::writeAll, 0x06, size > 0 ? data[0] : 0x24);
  return 0;
}
