// The recordings vdrtool reads from a card: an index file (.vdx) and a data file (.vdd), and the
// first sectors of a card image. The first two bytes of the input give the index file's length
// (little endian); the rest after the index is the data file.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "card_image.h"
#include "fuzz_board.h"
#include "recording.h"

namespace {

constexpr size_t kMaxFramesRead = 64;

void writeHostFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) __builtin_trap();
  if (size > 0) fwrite(data, 1, size, f);
  fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t indexSize = (data[0] | (data[1] << 8)) % (size - 1);
  const uint8_t* index = data + 2;
  const uint8_t* frames = index + indexSize;
  size_t framesSize = size - 2 - indexSize;

  static const std::string base = fuzz_board::hostPath("/card/CH1/event/0000000042,2011.03.05,14.07.09");
  static const bool made = [] {
    fuzz_board::writeBoardFile("/card/CH1/event/placeholder", nullptr, 0);
    return true;
  }();
  (void)made;
  writeHostFile(base + ".vdx", index, indexSize);
  writeHostFile(base + ".vdd", frames, framesSize);

  vdr::Recording r = vdr::readRecording(base, true);
  r.durationSeconds();
  r.countKind(vr::kFrameAfter);
  std::vector<uint8_t> record;
  for (size_t i = 0; i < r.frames.size() && i < kMaxFramesRead; ++i) {
    vdr::frameTimeText(r.frames[i].entry);
    vdr::toDegrees(r.frames[i].entry.latitude.get());
    if (vdr::readFrameRecord(r, i, &record) && record.size() > framesSize) __builtin_trap();
  }

  // The same bytes as the start of a card image (boot sector or partition table).
  writeHostFile(base + ".img", data, size);
  vdr::fatOffset(base + ".img");
  return 0;
}
