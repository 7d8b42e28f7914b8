#include "board/flash/flash_model.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "board/host_tools.h"
#include "platform/sim/board.h"
#include "board/timeline.h"

namespace sim {

const FlashPartition kFlashPartitions[4] = {
    {"mtdblock0", 256}, {"mtdblock1", 512}, {"mtdblock2", 2048}, {"mtdblock3", 13568}};

namespace {

namespace fs = std::filesystem;

// The RAM disk: a folder of the board directory, empty at each mount, gone at the unmount.
class RamDisk : public Filesystem {
 public:
  explicit RamDisk(std::string dir) : dir_(std::move(dir)) {}
  int mount(const std::string&, unsigned long, std::string* hostDir) override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    if (!fs::create_directories(dir_, ec)) return -EIO;
    *hostDir = dir_;
    return 0;
  }
  int umount() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    return 0;
  }

 private:
  std::string dir_;
};

const FlashPartition* partitionOf(const std::string& device) {
  if (device.rfind("/dev/", 0) != 0) return nullptr;
  for (const FlashPartition& p : kFlashPartitions) {
    if (device.substr(5) == p.name) return &p;
  }
  return nullptr;
}

void printLine(const std::string& text) {
  printf("%s\n", text.c_str());
  fflush(stdout);
}

}  // namespace

std::string flashPath(const std::string& boardDir, const std::string& partition) {
  return boardDir + "/flash/" + partition;
}

int boardMountCommand(const std::vector<std::string>& argv) {
  std::string type, source, target;
  std::vector<std::string> positional;
  for (size_t i = 1; i < argv.size(); ++i) {
    if ((argv[i] == "-t" || argv[i] == "-o") && i + 1 < argv.size()) {
      if (argv[i] == "-t") type = argv[i + 1];
      ++i;
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() != 2) {
    printLine("mount: expected a source and a mount point");
    return 1;
  }
  int result = mountFs(positional[0].c_str(), positional[1].c_str(), type.c_str(), 0);
  if (result < 0) {
    printLine("mount: mounting " + positional[0] + " on " + positional[1] + " failed: " + strerror(-result));
    return 1;
  }
  return 0;
}

int boardUmountCommand(const std::vector<std::string>& argv) {
  if (argv.size() != 2) {
    printLine("umount: expected one mount point");
    return 1;
  }
  int result = umountFs(argv[1].c_str());
  if (result < 0) {
    printLine("umount: can't unmount " + argv[1] + ": " + strerror(-result));
    return 1;
  }
  return 0;
}

int boardTarCommand(const std::vector<std::string>& argv) {
  // Board paths become PC paths: the archive after an option cluster ending in 'f', and the
  // directory after -C. Everything stays one argument each; no shell sees any of it.
  std::vector<std::string> words = {"tar", "--force-local", "--no-same-owner"};
  bool nextIsPath = false;
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (nextIsPath) {
      words.push_back(hostPath(a.c_str()));
      nextIsPath = false;
      continue;
    }
    words.push_back(a);
    nextIsPath = a == "-C" || (a.size() > 1 && a[0] == '-' && a[1] != '-' && a.back() == 'f');
  }
  std::string output;
  int status = runTool(words, &output);
  if (!output.empty()) {
    fwrite(output.data(), 1, output.size(), stdout);
    fflush(stdout);
  }
  return status < 0 ? 127 : status;
}

int boardDdCommand(const std::string& boardDir, const std::vector<std::string>& argv) {
  std::string in, out;
  for (size_t i = 1; i < argv.size(); ++i) {
    if (argv[i].rfind("if=", 0) == 0) in = argv[i].substr(3);
    else if (argv[i].rfind("of=", 0) == 0) out = argv[i].substr(3);
    else {
      printLine("dd: unsupported operand '" + argv[i] + "'");
      return 1;
    }
  }
  if (in.empty() || out.empty() || in.rfind("/dev/", 0) == 0) {
    printLine("dd: expected if=FILE of=DEVICE");
    return 1;
  }
  const FlashPartition* part = partitionOf(out);
  if (part == nullptr && out.rfind("/dev/", 0) == 0) {
    printLine("dd: can't open '" + out + "': No such file or directory");
    return 1;
  }
  std::string outHost = part ? flashPath(boardDir, part->name) : hostPath(out.c_str());
  int src = ::open(hostPath(in.c_str()).c_str(), O_RDONLY | O_CLOEXEC);
  if (src < 0) {
    printLine("dd: can't open '" + in + "': " + strerror(errno));
    return 1;
  }
  int dst = ::open(outHost.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (part ? 0 : O_TRUNC), 0644);
  if (dst < 0) {
    ::close(src);
    printLine("dd: can't open '" + out + "': " + strerror(errno));
    return 1;
  }
  uint64_t limit = part ? part->sizeK * 1024 : UINT64_MAX;
  uint64_t copied = 0;
  bool full = false, failed = false;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(src, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = true;
    if (n <= 0) break;
    uint64_t room = limit - copied;
    size_t take = static_cast<size_t>(std::min<uint64_t>(room, static_cast<uint64_t>(n)));
    if (take > 0 && ::write(dst, buf, take) != static_cast<ssize_t>(take)) {
      failed = true;
      break;
    }
    copied += take;
    if (take < static_cast<size_t>(n)) {
      full = true;  // a partition ends where it ends
      break;
    }
  }
  ::close(src);
  ::close(dst);
  char summary[160];
  snprintf(summary, sizeof summary, "%llu+%d records in\n%llu+%d records out",
           static_cast<unsigned long long>(copied / 512), copied % 512 ? 1 : 0,
           static_cast<unsigned long long>(copied / 512), copied % 512 ? 1 : 0);
  if (full) printLine("dd: error writing '" + out + "': No space left on device");
  printLine(summary);
  TimelineEvent("flash-write").add("device", out).add("bytes", static_cast<int64_t>(copied))
      .add("ok", !(full || failed)).emit();
  return full || failed ? 1 : 0;
}

bool adoptFlashedVersion(const std::string& boardDir) {
  std::string image = flashPath(boardDir, "mtdblock3");
  char header[512] = {};
  std::ifstream(image, std::ios::binary).read(header, sizeof header);
  if (memcmp(header + 257, "ustar", 5) != 0) return false;  // no root file system image there
  for (const char* member : {"version", "./version"}) {
    std::string version;
    if (runTool({"tar", "--force-local", "-xOf", image, member}, &version) == 0 && !version.empty()) {
      std::ofstream(boardDir + "/rootfs/version", std::ios::trunc) << version;
      return true;
    }
  }
  return false;
}

void installFirmwareCommands(const std::string& boardDir) {
  std::string dir = absolutePath(boardDir);
  addMountSource("ramfs", std::make_shared<RamDisk>(dir + "/ramdisk"));
  addCommand("mount", boardMountCommand);
  addCommand("umount", boardUmountCommand);
  addCommand("tar", boardTarCommand);
  addCommand("dd", [dir](const std::vector<std::string>& argv) { return boardDdCommand(dir, argv); });
}

void FlashModel::boot(const BoardConfig& config) {
  const std::string& dir = config.boardDir;
  std::error_code ec;
  fs::create_directories(dir + "/flash", ec);
  for (const FlashPartition& p : kFlashPartitions) {
    std::string path = flashPath(dir, p.name);
    if (fs::exists(path, ec) && fs::file_size(path, ec) == p.sizeK * 1024) continue;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      (void)!::ftruncate(fd, static_cast<off_t>(p.sizeK * 1024));
      ::close(fd);
    }
  }
  std::string versionPath = dir + "/rootfs/version";
  if (!adoptFlashedVersion(dir) && !fs::exists(versionPath, ec)) {
    std::ofstream(versionPath, std::ios::trunc) << kDefaultFirmwareVersion << "\n";
  }
  std::string version;
  std::getline(std::ifstream(versionPath) >> std::ws, version);
  boardNote("firmware: %s", version.c_str());
  installFirmwareCommands(dir);
}

}  // namespace sim
