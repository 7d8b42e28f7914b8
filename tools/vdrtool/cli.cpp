// What every command shares: the command line, opening a PATH, the usage text.
#include <cstdio>
#include <filesystem>
#include <strings.h>
#include <cstring>

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
    } else if (w.size() > 1 && w[0] == '-' && i + 1 < words.size()) {
      a.options.emplace_back(w, words[i + 1]);
      ++i;
    } else {
      a.positional.push_back(w);
    }
  }
  return a;
}

namespace {

namespace fs = std::filesystem;

bool isDirectory(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

// A directory that the recorder lays out on a card: it has CH1 (any case), or is CH1 or one of
// its channel directories. Such a directory may hold no recording yet and still be a card.
bool looksLikeCardDirectory(const fs::path& dir) {
  std::string name = fs::path(dir).lexically_normal().filename().string();
  if (name.empty()) name = fs::path(dir).lexically_normal().parent_path().filename().string();
  for (const char* known : {"ch1", "event", "normal"}) {
    if (strcasecmp(name.c_str(), known) == 0) return true;
  }
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.is_directory(ec) && strcasecmp(entry.path().filename().c_str(), "ch1") == 0) return true;
  }
  return false;
}

}  // namespace

bool CardInput::open(const std::string& path, std::string* error) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    *error = "no such file or directory";
    return false;
  }
  root_ = path;
  // recorder-sim's board directory: its card is card.dir when a plain directory stands in for
  // the card, else the image card.img.
  if (isDirectory(path) && fs::exists(fs::path(path) / "card.ini", ec)) {
    fs::path dir = fs::path(path) / "card.dir", image = fs::path(path) / "card.img";
    if (isDirectory(dir) && !fs::is_empty(dir, ec)) {
      root_ = dir.string();
    } else if (fs::exists(image, ec)) {
      root_ = image.string();
    } else {
      *error = "a board directory without a card (no card.img or card.dir)";
      return false;
    }
  }
  bool isCard = false;
  if (looksLikeCardImage(root_)) {
    imagePath_ = root_;
    if (!image_.extract(root_, error)) return false;
    root_ = image_.dir();
    isCard = true;
  } else if (!isDirectory(root_)) {
    std::string ext = fs::path(root_).extension().string();
    if (ext != ".vdd" && ext != ".vdx") {
      *error = "neither a card image (no FAT file system found) nor a recording (.vdd/.vdx)";
      return false;
    }
  } else {
    isCard = looksLikeCardDirectory(root_);
  }
  bases_ = findRecordings(root_);
  if (bases_.empty() && !isCard) {
    *error = "no recordings found: not a card image, a card directory (with CH1), a board directory or a recording";
    return false;
  }
  if (bases_.empty()) fprintf(stderr, "vdrtool: %s: the card holds no recordings\n", path.c_str());
  return true;
}

bool CardInput::openOrReport(const std::string& path) {
  std::string error;
  if (open(path, &error)) return true;
  fprintf(stderr, "vdrtool: %s: %s\n", path.c_str(), error.c_str());
  return false;
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
