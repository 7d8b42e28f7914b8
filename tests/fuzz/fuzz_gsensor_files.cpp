// The G-sensor's files on the card: user_g_level.txt (three lines of label, threshold and window
// length), set_g_config.txt (bandwidth and read wait) and cont_trigger.txt (minutes).
#include <cstdint>
#include <cstdio>

#include "gsensor/gsnr_files.h"

namespace {

// The bytes as a read-only file (none for an empty input: fmemopen refuses a size of 0).
FILE* openBytes(const uint8_t* data, size_t size) {
  return size == 0 ? nullptr : fmemopen(const_cast<uint8_t*>(data), size, "r");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (FILE* f = openBytes(data, size)) {
    USER_G_LEVEL level = {{-1, -1, -1}, {-1, -1, -1}};
    if (ParseUserGLevel(f, &level) == 0) {
      for (int axis = 0; axis < GSNR_AXES; ++axis) {
        if (level.threshold[axis] < 0 || level.threshold[axis] > 5000) __builtin_trap();
        if (level.window[axis] < 0 || level.window[axis] > GSNR_RING_SLOTS) __builtin_trap();
      }
    }
    fclose(f);
  }
  if (FILE* f = openBytes(data, size)) {
    int32_t values[2];
    int n = GsnrReadInts(f, values, 2);
    if (n < 0 || n > 2) __builtin_trap();
    fclose(f);
  }
  return 0;
}
