// vdrtool repair PATH COPY: the card copied to COPY, and every pair that a cut-off write left open
// closed there as the recorder would have closed it after its last whole frame: the data file
// ends with that frame's record, the index holds the entries of the readable frames and the
// header that counts them. The card given is never changed.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "card_image.h"
#include "command.h"
#include "recording.h"
#include "run_program.h"

namespace vdr {

namespace {

namespace fs = std::filesystem;

// The trigger type of the recording, from its entries (0 in continuous recordings).
uint8_t triggerOf(const Recording& r) {
  for (size_t i = 0; i < r.readableFrames; ++i) {
    uint32_t t = r.frames[i].entry.triggerType.get();
    if (t != 0) return static_cast<uint8_t>(t);
  }
  return 0;
}

// Writes the closed pair next to the open one (base + ".repaired.vdd/.vdx").
bool writeClosed(const Recording& r, const std::string& outBase) {
  size_t n = r.readableFrames;
  uint64_t dataEnd = 0;
  if (n > 0) dataEnd = static_cast<uint64_t>(r.frames[n - 1].entry.offset.get()) + r.frames[n - 1].entry.length.get();
  std::ifstream in(r.base + "." + vr::kDataExt, std::ios::binary);
  std::vector<char> data(dataEnd);
  if (dataEnd > 0 && !in.read(data.data(), static_cast<std::streamsize>(dataEnd))) return false;
  std::ofstream vdd(outBase + "." + vr::kDataExt, std::ios::binary | std::ios::trunc);
  vdd.write(data.data(), static_cast<std::streamsize>(data.size()));
  std::ofstream vdx(outBase + "." + vr::kIndexExt, std::ios::binary | std::ios::trunc);
  for (size_t i = 0; i < n; ++i) {
    vdx.write(reinterpret_cast<const char*>(&r.frames[i].entry), sizeof r.frames[i].entry);
  }
  if (n > 0) {  // a pair closed with no frame has an empty index
    vr::IdxHeader h;
    memset(&h, 0, sizeof h);
    h.marker = vr::kIdxHeaderMarker;
    h.tag = vr::kIdxHeaderTag;
    h.one = 0x01;
    h.channel = 0;
    h.triggerType = triggerOf(r);
    h.streamType = vr::kStreamVideo;
    h.kindBit8 = 1;
    h.dwFrameTotal.set(static_cast<uint32_t>(n));
    vdx.write(reinterpret_cast<const char*>(&h), sizeof h);
  }
  return static_cast<bool>(vdd) && static_cast<bool>(vdx);
}

}  // namespace

int runRepair(const Args& args) {
  if (args.positional.size() != 2) return usageError();
  const std::string& copy = args.positional[1];
  std::error_code ec;
  if (fs::exists(copy, ec)) {
    fprintf(stderr, "vdrtool: %s: already exists; repair writes a new copy\n", copy.c_str());
    return kExitFailed;
  }
  CardInput input;
  if (!input.openOrReport(args.positional[0])) return kExitFailed;
  bool image = !input.imagePath().empty();
  if (!image && !fs::is_directory(input.root(), ec)) {
    fprintf(stderr, "vdrtool: %s: repair needs a card (an image or a directory)\n", args.positional[0].c_str());
    return kExitUsage;
  }
  if (image) {
    fs::copy_file(input.imagePath(), copy, ec);
  } else {
    fs::copy(input.root(), copy, fs::copy_options::recursive, ec);
  }
  if (ec) {
    fprintf(stderr, "vdrtool: %s: cannot copy the card: %s\n", copy.c_str(), ec.message().c_str());
    return kExitFailed;
  }
  int repaired = 0, failed = 0;
  for (const std::string& base : input.bases()) {
    Recording r = readRecording(base, true);
    if (!r.onlyOpen()) continue;
    std::string rel = fs::relative(base, input.root(), ec).string();
    std::string target = image ? base + ".repaired" : (fs::path(copy) / rel).string();
    bool ok = writeClosed(r, target);
    if (ok && image) {
      long offset = fatOffset(input.imagePath());
      std::string into = copy + (offset > 0 ? "@@" + std::to_string(offset) : "");
      for (const char* ext : {vr::kDataExt, vr::kIndexExt}) {
        std::string ext2 = std::string(".") + ext;
        ok = ok && runProgram({"mcopy", "-o", "-n", "-i", into, target + ext2, "::/" + rel + ext2}, {.quietStdout = true}) == 0;
      }
    }
    if (ok) {
      ++repaired;
      printf("closed  %s (%zu frames)\n", r.name.c_str(), r.readableFrames);
    } else {
      ++failed;
      printf("FAILED  %s\n", r.name.c_str());
    }
  }
  printf("%d pairs closed in %s%s\n", repaired, copy.c_str(), failed ? ", some could not be written" : "");
  return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace vdr
