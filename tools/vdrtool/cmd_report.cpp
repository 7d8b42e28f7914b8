#include <cstdio>
#include <filesystem>

#include "command.h"
#include "report.h"

namespace vdr {

namespace {

namespace fs = std::filesystem;

// recorder-sim's timeline beside what was named: the board directory itself, or the directory
// that holds its card image or card.dir.
std::string findTimeline(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec).lexically_normal();
  if (!p.has_filename()) p = p.parent_path();
  for (const fs::path& dir : {p, p.parent_path()}) {
    if (fs::exists(dir / "timeline.jsonl", ec) && fs::exists(dir / "card.ini", ec)) return (dir / "timeline.jsonl").string();
  }
  return "";
}

}  // namespace

int runReport(const Args& args) {
  if (args.positional.size() != 1) return usageError();
  const std::string& path = args.positional[0];
  CardInput input;
  if (!input.openOrReport(path)) return kExitFailed;
  ReportInput in;
  in.source = path;
  in.bases = input.bases();
  in.timelinePath = findTimeline(path);
  in.outDir = args.option("-o", "vdrtool-report");
  return writeReport(in) ? kExitOk : kExitFailed;
}

}  // namespace vdr
