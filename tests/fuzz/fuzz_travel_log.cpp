// vdrtool's reader of travel log files: the first line of the input is the file's name, the rest
// its text, as a card could hold them.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "travel_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t nl = input.find('\n');
  std::string name = nl == std::string::npos ? input : input.substr(0, nl);
  std::string text = nl == std::string::npos ? "" : input.substr(nl + 1);
  vdr::TravelLog log = vdr::parseTravelLog(name, text);
  for (const vdr::LogEntry& e : log.entries) {
    if (e.localTime.size() != 19) abort();
    if (e.hasFix && (!std::isfinite(e.fix.latDeg) || std::fabs(e.fix.latDeg) > 180 || !std::isfinite(e.fix.lonDeg)))
      abort();
  }
  return 0;
}
