// The settings files on the card, as the supervisor reads them: the same bytes as set.dat (every
// key, then the validation), as time.ini (the clock value, then the file is deleted) and as
// version.ini (the firmware version comparison).
#include <cstdint>
#include <cstring>
#include <ctime>

#include "config/profile.h"
#include "config/settings.h"
#include "fuzz_board.h"

namespace {

// Whatever the file said, the record must satisfy the reader's rules.
void checkValidated(const RecorderSettings& s) {
  bool ok = (s.RECINGMODE1 == 1 || s.RECINGMODE1 == 2) && (s.RECMOD == 1 || s.RECMOD == 2) &&
            (s.PREFIELD1 == 2 || s.PREFIELD1 == 4) && s.PREFIELD1 == s.POSTFIELD1 &&
            s.PRERECINT1 == s.POSTRECINT1 && (s.PASSWORD == 0 || (s.PASSWORD >= 4639 && s.PASSWORD <= 31636));
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_board::writeBoardFile("/mnt/log/config/set.dat", data, size);
  RecorderSettings settings;
  SetDefaultParameter(&settings);
  if (ReadConfigFile(&settings) != 0) __builtin_trap();
  checkValidated(settings);

  // The readers' own entry points, with and without a section.
  GetPrivateProfileInt(nullptr, "RECMOD", 7, "/mnt/log/config/set.dat");
  char out[16];
  GetPrivateProfileString2("SET", "UTCTIME", "none", out, sizeof out, "/mnt/log/config/set.dat");
  if (strlen(out) >= sizeof out) __builtin_trap();

  fuzz_board::writeBoardFile("/mnt/log/config/time.ini", data, size);
  time_t clock = 0;
  ReadTimeConfigFile(&clock);

  fuzz_board::writeBoardFile("/mnt/log/config/version.ini", data, size);
  CmpFirmwareVersion("KVOX_1.0.2.RC3", "/mnt/log/config/version.ini");
  return 0;
}
