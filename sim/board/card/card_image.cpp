#include "board/card/card_image.h"

#include "board/card/card_dates.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

#include "board/host_tools.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

uint32_t le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
uint32_t le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

std::string trimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

uint64_t clustersFor(uint64_t bytes, uint64_t clusterBytes) { return (bytes + clusterBytes - 1) / clusterBytes; }

}  // namespace

std::string cardStatePath(const std::string& boardDir) { return boardDir + "/card.ini"; }
std::string cardImagePath(const std::string& boardDir) { return boardDir + "/card.img"; }
std::string cardDirPath(const std::string& boardDir) { return boardDir + "/card.dir"; }
std::string cardPidPath(const std::string& boardDir) { return boardDir + "/card.fuse.pid"; }
std::string cardLogPath(const std::string& boardDir) { return boardDir + "/card.fuse.log"; }

bool loadCardState(const std::string& boardDir, CardState* state) {
  std::ifstream in(cardStatePath(boardDir));
  if (!in) return false;
  CardState s;
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "present") s.present = value == "1";
    else if (key == "size_k") s.sizeK = std::strtoull(value.c_str(), nullptr, 10);
    else if (key == "partitioned") s.partitioned = value == "1";
    else if (key == "backend") s.backend = value == "directory" ? CardBackend::Directory : CardBackend::Fuse;
  }
  if (s.partitioned && s.sizeK <= kCardPartitionOffsetK) s.partitioned = false;
  *state = s;
  return true;
}

void saveCardState(const std::string& boardDir, const CardState& state) {
  std::string path = cardStatePath(boardDir);
  std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << "# The card in the simulated board's slot (written by recorder-sim and the board).\n"
        << "present=" << (state.present ? 1 : 0) << "\n"
        << "size_k=" << state.sizeK << "\n"
        << "partitioned=" << (state.partitioned ? 1 : 0) << "\n"
        << "backend=" << (state.backend == CardBackend::Directory ? "directory" : "fuse") << "\n";
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
}

bool parseCardSize(const std::string& text, uint64_t* sizeK) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  if (end == text.c_str() || errno != 0 || n == 0 || text[0] == '-') return false;
  std::string unit = end;
  if (unit == "K" || unit == "k") {
    *sizeK = n;
  } else if (unit.empty() || unit == "M" || unit == "m") {
    if (n > (1ull << 40)) return false;
    *sizeK = n * 1024;
  } else {
    return false;
  }
  return true;
}

std::string partitionLines(const CardState& state) {
  if (!state.present) return "";
  char lines[160];
  int n = snprintf(lines, sizeof lines, " 179        0 %10llu mmcblk0\n", static_cast<unsigned long long>(state.sizeK));
  if (state.partitioned) {
    snprintf(lines + n, sizeof lines - static_cast<size_t>(n), " 179        1 %10llu mmcblk0p1\n",
             static_cast<unsigned long long>(state.imageSizeK()));
  }
  return lines;
}

FatInfo readFatInfo(const std::string& imagePath) {
  FatInfo info;
  unsigned char b[512];
  int fd = ::open(imagePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return info;
  ssize_t n = ::pread(fd, b, sizeof b, 0);
  ::close(fd);
  if (n != static_cast<ssize_t>(sizeof b) || b[510] != 0x55 || b[511] != 0xAA) return info;
  uint32_t bytesPerSector = le16(b + 11), sectorsPerCluster = b[13], reserved = le16(b + 14), fats = b[16];
  uint32_t rootEntries = le16(b + 17), total = le16(b + 19) ? le16(b + 19) : le32(b + 32);
  uint32_t fatSize = le16(b + 22) ? le16(b + 22) : le32(b + 36);
  if (bytesPerSector < 512 || sectorsPerCluster == 0 || fats == 0 || fatSize == 0) return info;
  uint64_t rootSectors = (rootEntries * 32ull + bytesPerSector - 1) / bytesPerSector;
  uint64_t meta = reserved + static_cast<uint64_t>(fats) * fatSize + rootSectors;
  if (total <= meta) return info;
  info.formatted = true;
  info.clusterBytes = bytesPerSector * sectorsPerCluster;
  info.clusters = (total - meta) / sectorsPerCluster;
  info.fatBits = info.clusters < 4085 ? 12 : info.clusters < 65525 ? 16 : 32;
  const unsigned char* label = b + (info.fatBits == 32 ? 71 : 43);
  info.label = trimRight(std::string(reinterpret_cast<const char*>(label), 11));
  return info;
}

bool makeBlankImage(const std::string& imagePath, uint64_t sizeK) {
  std::error_code ec;
  fs::remove(imagePath, ec);
  int fd = ::open(imagePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(sizeK * 1024)) == 0;
  ::close(fd);
  return ok;
}

int formatImage(const std::string& imagePath, uint64_t sizeK, const std::vector<std::string>& options,
                std::string* output) {
  // The formatter works on a fresh sparse file that replaces the card only when it succeeded:
  // a refused format leaves the old file system, as the real tool does.
  std::string fresh = imagePath + ".format";
  if (!makeBlankImage(fresh, sizeK)) {
    if (output) *output = "cannot create " + fresh + ": " + strerror(errno) + "\n";
    return 1;
  }
  std::vector<std::string> argv = {"mkfs.vfat"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(fresh);
  int status = runTool(argv, output);
  std::error_code ec;
  if (status == 0) {
    fs::rename(fresh, imagePath, ec);
    if (ec) status = 1;
  }
  fs::remove(fresh, ec);
  return status;
}

int formatImageAsUnit(const std::string& imagePath, uint64_t sizeK, std::string* output) {
  const char* fatBits = sizeK > 2999999 ? "32" : "16";
  return formatImage(imagePath, sizeK, {"-F", fatBits, "-s", "64", "-n", kCardLabel}, output);
}

CardSpace directorySpace(const std::string& dir, const FatInfo& fat) {
  CardSpace space;
  space.clusterBytes = fat.clusterBytes ? fat.clusterBytes : 32768;
  space.clusters = fat.clusters;
  std::error_code ec;
  // FAT32 keeps its top directory in clusters; FAT16 in a fixed area before them.
  uint64_t used = fat.fatBits == 32 ? 1 : 0;
  std::vector<fs::path> pending = {dir};
  bool top = true;
  while (!pending.empty()) {
    fs::path current = pending.back();
    pending.pop_back();
    uint64_t entries = top ? 0 : 2;  // "." and ".."
    for (const auto& entry : fs::directory_iterator(current, ec)) {
      ++entries;
      if (entry.is_directory(ec)) {
        pending.push_back(entry.path());
      } else {
        used += clustersFor(entry.file_size(ec), space.clusterBytes);
      }
    }
    // A long name takes extra entries: count two 32-byte entries for each.
    if (!top) used += std::max<uint64_t>(1, clustersFor(entries * 64, space.clusterBytes));
    top = false;
  }
  space.usedClusters = std::min(used, space.clusters);
  return space;
}

bool fuseAvailable() {
  return ::access("/dev/fuse", R_OK | W_OK) == 0 && haveTool("fusefat") && haveTool("fusermount");
}

int fuseMount(const std::string& imagePath, const std::string& mountPoint, const std::string& logPath, int* pid,
              const std::string& pidPath) {
  std::error_code ec;
  fs::create_directories(mountPoint, ec);
  if (isHostMountPoint(mountPoint)) return -EBUSY;
  pid_t daemon = spawnDaemon({"fusefat", "-f", "-o", "rw+", imagePath, mountPoint}, logPath);
  if (daemon < 0) return -ENODEV;
  if (!pidPath.empty()) std::ofstream(pidPath, std::ios::trunc) << daemon << " " << mountPoint << "\n";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!isHostMountPoint(mountPoint)) {
    int failure = 0;
    if (!processAlive(daemon)) {
      failure = -EINVAL;  // the daemon refused the image
    } else if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(daemon, SIGKILL);
      waitProcessGone(daemon, 2000);
      failure = -ETIMEDOUT;
    }
    if (failure != 0) {
      if (!pidPath.empty()) fs::remove(pidPath, ec);
      return failure;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  *pid = daemon;
  return 0;
}

int fuseUnmount(const std::string& mountPoint, int pid, bool lazy) {
  std::string output;
  std::vector<std::string> argv = {"fusermount", "-u"};
  if (lazy) argv.push_back("-z");
  argv.push_back(mountPoint);
  if (runTool(argv, &output) != 0) {
    if (output.find("busy") != std::string::npos) return -EBUSY;
    if (isHostMountPoint(mountPoint)) return -EIO;
  }
  // The daemon writes what it still holds and ends once the mount is gone.
  if (pid > 0 && !waitProcessGone(pid, 10000)) {
    ::kill(pid, SIGTERM);
    if (!waitProcessGone(pid, 2000)) return -ETIMEDOUT;
  }
  return 0;
}

namespace {

// The card's FUSE daemon found among the PC's processes by its command line ("fusefat -f -o rw+
// IMAGE MOUNTPOINT"), for a board killed before the pid file held it. False when none runs.
bool findCardDaemon(const std::string& boardDir, int* pid, std::string* mountPoint) {
  std::error_code ec;
  std::string image = cardImagePath(absolutePath(boardDir));  // as the board names it to the daemon
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "cmdline");
    std::vector<std::string> argv;
    for (std::string arg; std::getline(in, arg, '\0');) argv.push_back(arg);
    if (argv.size() < 2 || fs::path(argv[0]).filename() != "fusefat") continue;
    if (argv[argv.size() - 2] != image) continue;
    *pid = std::stoi(name);
    *mountPoint = argv.back();
    return true;
  }
  return false;
}

std::string unmountLeftCard(const std::string& boardDir, bool* stillMounted) {
  std::ifstream in(cardPidPath(boardDir));
  int pid = 0;
  std::string mountPoint;
  // The pid file is written as soon as the daemon runs; a board killed in that very moment leaves
  // it empty or missing, and the daemon is then found by its command line.
  if (!(in >> pid) || !std::getline(in >> std::ws, mountPoint)) {
    pid = 0;
    if (!findCardDaemon(boardDir, &pid, &mountPoint)) return "";
  }
  in.close();
  std::error_code ec;
  std::string done;
  // A recycled pid must not be taken for the daemon.
  std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
  std::string command((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
  if (command.find("fusefat") == std::string::npos) pid = 0;
  // The board may have gone down while the daemon was still mounting: let it finish, so that the
  // mount is taken down below and not left behind.
  if (pid > 0) {
    for (int i = 0; i < 500 && processAlive(pid) && !isHostMountPoint(mountPoint); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  if (isHostMountPoint(mountPoint)) {
    int r = fuseUnmount(mountPoint, pid, false);
    if (r == -EBUSY) r = fuseUnmount(mountPoint, pid, true);
    done = r == 0 ? "unmounted the card the board left mounted" : "could not unmount the card at " + mountPoint;
    *stillMounted = r != 0;
  } else if (pid > 0 && processAlive(pid)) {
    ::kill(pid, SIGTERM);
    waitProcessGone(pid, 2000);
    done = "ended the card's FUSE daemon";
  }
  fs::remove(cardPidPath(boardDir), ec);
  return done;
}

}  // namespace

std::string cleanUpCardMount(const std::string& boardDir) {
  bool stillMounted = false;
  std::string done = unmountLeftCard(boardDir, &stillMounted);
  // The times the board noted before it went down.
  std::string problem = stillMounted ? "" : applyCardDates(boardDir);
  if (!problem.empty()) done += (done.empty() ? "" : "; ") + std::string("the board's file times are not on it: ") + problem;
  return done;
}

}  // namespace sim
