// The NMEA codec and what the travel log builds on it: the decoder fed the bytes of a receiver
// in blocks of any size; the encoder given any fix record (as a message from another thread
// could carry), directly and after the travel log's conversion of a UBX or Furuno record; and
// the store's reading of a log file name. Nothing may be written past the 1024-byte buffer, and
// every sentence written must end in its checksum and CR LF.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gps/nmea_codec.h"
#include "log/fix_to_nmea.h"
#include "log/log_store.h"

namespace {

constexpr int kOut = 1024;

void encodeAndCheck(const GpsFixRecord& fix) {
  uint8_t out[kOut + 64];
  memset(out, 0xEE, sizeof out);
  int n = NmeaEncode(out, kOut, &fix);
  if (n < 0 || n >= kOut || out[n] != 0) abort();
  for (int i = kOut; i < kOut + 64; ++i)
    if (out[i] != 0xEE) abort();
  std::string text(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = text.substr(start, end - start);
    size_t star = line.rfind('*');
    if (line.empty() || line[0] != '$' || star == std::string::npos || star + 3 != line.size()) abort();
    if (strtoul(line.c_str() + star + 1, nullptr, 16) != MakeCheckSum(line.c_str(), static_cast<int>(line.size())))
      abort();
  }
  if (start != text.size()) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The receiver's stream, in blocks whose sizes come from the input itself.
  NmeaInit(nullptr);
  GpsFixRecord fix{};
  size_t at = 0;
  while (at < size) {
    size_t block = 1 + data[at] % 97;
    if (block > size - at) block = size - at;
    NmeaDecode(data + at, static_cast<int>(block), &fix, 0);
    at += block;
  }
  encodeAndCheck(fix);

  // The same bytes as a record of each layout.
  GpsFixRecord raw{};
  memcpy(raw.bytes, data, size < sizeof raw.bytes ? size : sizeof raw.bytes);
  encodeAndCheck(raw);
  GpsFixRecord converted{};
  MakeNmeaFromUbx(&converted, &raw);
  encodeAndCheck(converted);
  MakeNmeaFromFuruno(&converted, &raw);
  encodeAndCheck(converted);

  // A name from the card.
  std::string name(reinterpret_cast<const char*>(data), size > 300 ? 300 : size);
  IsValidLogFileName(name.c_str());
  return 0;
}
