// What every command shares: the command line, opening a PATH, the usage text.
#include <cstdio>

#include "command.h"
#include "export_format.h"
#include "recording.h"

namespace vdr {

std::string Args::option(const std::string& name, const std::string& fallback) const {
  std::string value = fallback;
  for (const auto& [key, v] : options) {
    if (key == name) value = v;
  }
  return value;
}

Args parseArgs(const std::vector<std::string>& words, const std::set<std::string>& flagNames) {
  Args a;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (flagNames.count(w)) {
      a.flags.insert(w);
    } else if (w.rfind("--", 0) == 0 && i + 1 < words.size()) {
      a.options.emplace_back(w, words[i + 1]);
      ++i;
    } else {
      a.positional.push_back(w);
    }
  }
  return a;
}

bool CardInput::open(const std::string& path, std::string* error) {
  root_ = path;
  if (looksLikeCardImage(path)) {
    if (!image_.extract(path, error)) return false;
    root_ = image_.dir();
  }
  bases_ = findRecordings(root_);
  return true;
}

const char* triggerName(unsigned trigger) {
  switch (trigger) {
    case 0: return "-";
    case 1: return "G-sensor";
    case 2: return "button";
    case 4: return "serial";
    default: return "?";
  }
}

void printUsage(FILE* out) {
  fprintf(out, "vdrtool: lists, checks and exports the recordings of a drive recorder's card on a PC.\n\n");
  for (size_t i = 0; i < kCommandCount; ++i) {
    fprintf(out, "  vdrtool %s %s\n      %s\n", kCommands[i].name, kCommands[i].usage, kCommands[i].help);
  }
  fprintf(out, "\nFORMAT (export):\n");
  for (size_t i = 0; i < kExportFormatCount; ++i) {
    fprintf(out, "  %-8s %-5s %s\n", kExportFormats[i].option, kExportFormats[i].target, kExportFormats[i].help);
  }
  fprintf(out, "\nPATH: a card image (FAT, with or without a partition table), a card's top directory, a channel\n"
               "directory, or one .vdd/.vdx file.\n");
}

int usageError() {
  printUsage(stderr);
  return kExitUsage;
}

}  // namespace vdr
