#include "board/card/card_fill.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "board/card/fat_image.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

// Each filler file stays well inside the 32-bit size field.
constexpr uint64_t kFillerFileMax = 2ull << 30;

std::string recordingName(int sequence, int64_t second, const char* extension) {
  time_t t = static_cast<time_t>(second);
  struct tm tm;
  gmtime_r(&t, &tm);
  char name[64];
  snprintf(name, sizeof name, "%010d,%04d.%02d.%02d,%02d.%02d.%02d.%s", sequence, tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, extension);
  return name;
}

std::string fillerName(int n) {
  char name[32];
  snprintf(name, sizeof name, "FILL%04d.DAT", n % 10000);
  return name;
}

// The filler files that take all free space but `keep` of `have` clusters; none of them may
// have the name of a file already there.
std::vector<FatNewFile> fillerFiles(uint64_t have, uint64_t keep, uint64_t clusterBytes,
                                 const std::function<bool(const std::string&)>& exists) {
  std::vector<FatNewFile> files;
  uint64_t take = have > keep ? have - keep : 0;
  for (int n = 1; take > 0 && n < 10000; ++n) {
    FatNewFile f;
    f.name = fillerName(n);
    if (exists(f.name)) continue;
    uint64_t clusters = std::min(take, kFillerFileMax / clusterBytes);
    f.size = clusters * clusterBytes;
    take -= clusters;
    files.push_back(f);
  }
  return files;
}

}  // namespace

namespace {

// Enters the files in a directory of the card (made when missing), refusing what the card could
// not hold.
bool putFiles(const std::string& boardDir, const CardState& state, const std::string& dirPath,
              const std::vector<FatNewFile>& files, std::string* error) {
  if (state.backend == CardBackend::Directory) {
    // The stand-in's space is counted, not kept: refuse what the card could not hold.
    CardSpace space = directorySpace(cardDirPath(boardDir), readFatInfo(cardImagePath(boardDir)));
    uint64_t clusters = 0;
    for (const FatNewFile& f : files) clusters += (f.size + space.clusterBytes - 1) / space.clusterBytes;
    if (clusters > space.clusters - space.usedClusters) {
      if (error) *error = "the card has no room for it";
      return false;
    }
    fs::path dir = fs::path(cardDirPath(boardDir)) / dirPath;
    std::error_code ec;
    fs::create_directories(dir, ec);
    for (const FatNewFile& f : files) {
      { std::ofstream(dir / f.name, std::ios::binary | std::ios::trunc); }
      fs::resize_file(dir / f.name, f.size, ec);  // sparse: nothing is written
      if (ec) {
        if (error) *error = "cannot write " + (dir / f.name).string() + ": " + ec.message();
        return false;
      }
    }
    return true;
  }
  FatImage fat;
  return fat.open(cardImagePath(boardDir), error) && fat.openDir(dirPath, error) && fat.addFiles(files, error) &&
         fat.commit(error);
}

}  // namespace

bool fillRecordings(const std::string& boardDir, const CardState& state, const std::string& channelDir, int count,
                    uint64_t sizeK, int64_t firstSecond, std::string* error) {
  std::vector<FatNewFile> files;
  for (int i = 1; i <= count; ++i) {
    int64_t second = firstSecond + (i - 1) * 60;
    files.push_back({recordingName(i, second, "vdd"), sizeK * 1024, second});
    files.push_back({recordingName(i, second, "vdx"), 0, second});
  }
  return putFiles(boardDir, state, "CH1/" + channelDir, files, error);
}

bool fillLogs(const std::string& boardDir, const CardState& state, int count, uint64_t sizeK, int64_t firstSecond,
              std::string* error) {
  std::vector<FatNewFile> files;
  for (int i = 1; i <= count; ++i) {
    int64_t second = firstSecond + static_cast<int64_t>(i - 1) * 3600;
    files.push_back({recordingName(i, second, "log"), sizeK * 1024, second});
  }
  return putFiles(boardDir, state, "log", files, error);
}

bool fillSpace(const std::string& boardDir, const CardState& state, uint64_t freeK, uint64_t* takenK,
               std::string* error) {
  *takenK = 0;
  std::vector<FatNewFile> files;
  if (state.backend == CardBackend::Directory) {
    std::string top = cardDirPath(boardDir);
    CardSpace space = directorySpace(top, readFatInfo(cardImagePath(boardDir)));
    uint64_t keep = (freeK * 1024 + space.clusterBytes - 1) / space.clusterBytes;
    files = fillerFiles(space.clusters - space.usedClusters, keep, space.clusterBytes,
                        [&](const std::string& name) { return fs::exists(fs::path(top) / name); });
    std::error_code ec;
    for (const FatNewFile& f : files) {
      fs::path path = fs::path(top) / f.name;
      { std::ofstream(path, std::ios::binary); }
      fs::resize_file(path, f.size, ec);
      if (ec) {
        if (error) *error = "cannot make " + path.string() + ": " + ec.message();
        return false;
      }
      *takenK += f.size / 1024;
    }
    return true;
  }
  FatImage fat;
  if (!fat.open(cardImagePath(boardDir), error) || !fat.openDir("", error)) return false;
  uint64_t keep = (freeK * 1024 + fat.clusterBytes() - 1) / fat.clusterBytes();
  files = fillerFiles(fat.freeClusters(), keep, fat.clusterBytes(), [&](const std::string& name) { return fat.has(name); });
  if (!fat.addFiles(files, error) || !fat.commit(error)) return false;
  for (const FatNewFile& f : files) *takenK += f.size / 1024;
  return true;
}

bool imageFreeK(const std::string& imagePath, uint64_t* freeK) {
  FatImage fat;
  if (!fat.open(imagePath, nullptr)) return false;
  *freeK = fat.freeClusters() * fat.clusterBytes() / 1024;
  return true;
}

}  // namespace sim
