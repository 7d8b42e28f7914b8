#include <cstdio>

#include "command.h"
#include "recording.h"

namespace vdr {

int runLs(const Args& args) {
  if (args.positional.size() != 1) return usageError();
  CardInput input;
  if (!input.openOrReport(args.positional[0])) return kExitFailed;
  printf("%-45s %-6s %-23s %-8s %6s %6s %5s %5s %s\n", "recording", "dir", "first frame", "trigger", "frames", "fps",
         "pre", "post", "metadata");
  for (const std::string& base : input.bases()) {
    Recording r = readRecording(base, false);
    double seconds = r.durationSeconds();
    double fps = seconds > 0 ? (static_cast<double>(r.frames.size()) - 1) / seconds : 0;
    std::string meta = std::string(r.hasGValues() ? "G " : "") + (r.hasGps() ? "GPS" : "");
    printf("%-45s %-6s %-23s %-8s %6zu %6.1f %5d %5d %s%s\n", r.name.c_str(), r.channel.c_str(),
           r.frames.empty() ? "-" : frameTimeText(r.frames.front().entry).c_str(), triggerName(r.triggerType()),
           r.frames.size(), fps, r.countKind(vr::kFrameBefore), r.countKind(vr::kFrameAfter), meta.c_str(),
           r.problems.empty() ? "" : "  (damaged: vdrtool check)");
  }
  return kExitOk;
}

}  // namespace vdr
