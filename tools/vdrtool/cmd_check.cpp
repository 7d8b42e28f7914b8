#include <cstdio>
#include <turbojpeg.h>

#include "command.h"
#include "recording.h"

namespace vdr {

namespace {

bool decodes(const std::vector<uint8_t>& jpeg, std::string* why) {
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, sub = 0, cs = 0;
  bool ok = tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sub, &cs) == 0;
  if (ok) {
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
    ok = tjDecompress2(tj, jpeg.data(), jpeg.size(), pixels.data(), w, 0, h, TJPF_RGB, 0) == 0;
  }
  if (!ok) *why = tjGetErrorStr2(tj);
  tjDestroy(tj);
  return ok;
}

}  // namespace

int runCheck(const Args& args) {
  if (args.positional.size() != 1) return usageError();
  CardInput input;
  if (!input.openOrReport(args.positional[0])) return kExitFailed;
  bool decode = args.has("--decode");
  int damaged = 0, open = 0;
  for (const std::string& base : input.bases()) {
    Recording r = readRecording(base, true);
    if (decode) {
      std::vector<uint8_t> record;
      for (size_t i = 0; i < r.frames.size(); ++i) {
        std::string why;
        if (!readFrameRecord(r, i, &record) || !decodes(record, &why)) {
          r.problems.push_back("frame " + std::to_string(i) + ": not a decodable JPEG (" + why + ")");
        }
      }
    }
    if (r.problems.empty()) {
      printf("ok      %s (%zu frames)\n", r.name.c_str(), r.frames.size());
      continue;
    }
    if (r.onlyOpen()) {
      // Cut off while written (a power cut): readable up to its last whole frame; `repair`
      // closes it on a copy of the card.
      ++open;
      printf("OPEN    %s (%zu frames readable of %zu indexed; never closed)\n", r.name.c_str(), r.readableFrames,
             r.frames.size());
      continue;
    }
    ++damaged;
    printf("DAMAGED %s\n", r.name.c_str());
    for (const std::string& p : r.problems) printf("        %s\n", p.c_str());
  }
  printf("%zu recordings, %d damaged, %d left open\n", input.bases().size(), damaged, open);
  return damaged == 0 && open == 0 ? kExitOk : kExitFailed;
}

}  // namespace vdr
