#include "board/card/card_model.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <linux/magic.h>
#include <unistd.h>

#include "board/host_tools.h"
#include "board/timeline.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

// The folder of the recordings on the card, as the program names it (any case).
constexpr const char* kRecordingsFolder = "/ch1/";

void printToolOutput(const std::string& output) {
  if (output.empty()) return;
  fwrite(output.data(), 1, output.size(), stdout);
  if (output.back() != '\n') fputc('\n', stdout);
  fflush(stdout);
}

std::string fatText(const FatInfo& fat) {
  if (!fat.formatted) return "not formatted";
  return "FAT" + std::to_string(fat.fatBits) + " \"" + fat.label + "\"";
}

}  // namespace

CardFilesystem::CardFilesystem(std::string boardDir, CardBackend backend)
    : boardDir_(absolutePath(boardDir)), backend_(backend) {}

int CardFilesystem::mount(const std::string& target, unsigned long flags, std::string* hostDir) {
  (void)flags;
  if (mounted_) return -EBUSY;
  if (!readFatInfo(cardImagePath(boardDir_)).formatted) return -EINVAL;  // no FAT on the card
  if (backend_ == CardBackend::Directory) {
    std::error_code ec;
    fs::create_directories(cardDirPath(boardDir_), ec);
    *hostDir = cardDirPath(boardDir_);
  } else {
    mountPoint_ = boardDir_ + "/rootfs" + target;
    int pid = -1;
    // recorder-sim unmounts the card from what the pid file says when the board goes down
    // without doing it, also in the middle of this mount.
    int result = fuseMount(cardImagePath(boardDir_), mountPoint_, cardLogPath(boardDir_), &pid, cardPidPath(boardDir_));
    if (result < 0) {
      boardNote("card: fusefat could not mount %s (%s)", cardImagePath(boardDir_).c_str(), strerror(-result));
      return result;
    }
    daemon_ = pid;
    *hostDir = mountPoint_;
  }
  hostDir_ = *hostDir;
  if (!dates_.open(boardDir_)) boardNote("card: cannot note the board's file times in %s", cardDatesPath(boardDir_).c_str());
  mounted_ = true;
  TimelineEvent("card-mount").add("target", target).emit();
  return 0;
}

int CardFilesystem::umount() {
  if (!mounted_) return -EINVAL;
  if (backend_ == CardBackend::Fuse) {
    int result = fuseUnmount(mountPoint_, daemon_, false);
    if (result < 0) return result;  // busy: a file on the card is still open
    std::error_code ec;
    fs::remove(cardPidPath(boardDir_), ec);
    daemon_ = -1;
  }
  mounted_ = false;
  dates_.close();
  std::string problem = applyCardDates(boardDir_);
  if (!problem.empty()) boardNote("card: the board's file times are not on the card: %s", problem.c_str());
  TimelineEvent("card-umount").emit();
  return 0;
}

void CardFilesystem::stamp(const std::string& hostPath, bool created, int64_t boardNs) {
  if (hostPath.size() <= hostDir_.size() + 1 || hostPath.compare(0, hostDir_.size(), hostDir_) != 0 ||
      hostPath[hostDir_.size()] != '/') {
    return;
  }
  dates_.note(hostPath.substr(hostDir_.size() + 1), created, boardNs);
}

int CardFilesystem::statfs(struct statfs* st) {
  if (backend_ == CardBackend::Fuse) return 0;  // fusefat answers for the image itself
  FatInfo fat = readFatInfo(cardImagePath(boardDir_));
  CardSpace space = directorySpace(cardDirPath(boardDir_), fat);
  *st = {};
  st->f_type = MSDOS_SUPER_MAGIC;
  st->f_bsize = static_cast<long>(space.clusterBytes);
  st->f_frsize = static_cast<long>(space.clusterBytes);
  st->f_blocks = space.clusters;
  st->f_bfree = space.clusters - space.usedClusters;
  st->f_bavail = st->f_bfree;
  st->f_namelen = 255;
  return 1;
}

std::string cardFaultsPath(const std::string& boardDir) { return boardDir + "/card.faults"; }

bool cardFaultAction(const std::vector<std::string>& words, FileFaults* apply) {
  if (words.size() < 2) return false;
  auto number = [](const std::string& text, int64_t* out) {
    char* end = nullptr;
    long long v = strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 0) return false;
    *out = v;
    return true;
  };
  const std::string& what = words[1];
  if (what == "fail" && words.size() >= 3) {
    FileFaults::Call call;
    if (words[2] == "write") call = FileFaults::Call::Write;
    else if (words[2] == "fsync") call = FileFaults::Call::Fsync;
    else if (words[2] == "close") call = FileFaults::Call::Close;
    else return false;
    int64_t after = 0;
    int error = EIO;
    for (size_t i = 3; i < words.size(); ++i) {
      if (words[i] == "after" && i + 1 < words.size()) {
        if (!number(words[++i], &after)) return false;
      } else if (words[i] == "eio") {
        error = EIO;
      } else if (words[i] == "enospc") {
        error = ENOSPC;
      } else if (words[i] == "erofs") {
        error = EROFS;
      } else {
        return false;
      }
    }
    if (apply) apply->failAfter(call, static_cast<int>(after), error);
    return true;
  }
  if (what == "full" && (words.size() == 2 || (words.size() == 4 && words[2] == "after"))) {
    int64_t bytes = 0;
    if (words.size() == 4 && !number(words[3], &bytes)) return false;
    if (apply) apply->noSpaceAfter(static_cast<uint64_t>(bytes));
    return true;
  }
  if (what == "readonly" && words.size() == 2) {
    if (apply) apply->setReadOnly(true);
    return true;
  }
  if (what == "remove" && words.size() == 2) {
    if (apply) apply->setRemoved(true);
    return true;
  }
  if (what == "remove" && words.size() == 4 && words[2] == "after-writes") {
    int64_t writes = 0;
    if (!number(words[3], &writes) || writes < 1) return false;
    if (apply) apply->removeAfterWrites(writes);
    return true;
  }
  // "card cut after-writes N [recordings]": with "recordings", only the writes to the
  // recordings' files (the channel folder) are counted.
  if (what == "cut" && (words.size() == 4 || (words.size() == 5 && words[4] == "recordings")) &&
      words[2] == "after-writes") {
    int64_t writes = 0;
    if (!number(words[3], &writes) || writes < 1) return false;
    if (apply) {
      bool recordings = words.size() == 5;
      apply->cutPowerAfterWrites(
          writes,
          [writes, recordings] {
            TimelineEvent("power-cut").add("at", recordings ? "recording write" : "card write").add("write", writes).emit();
            boardNote("card: power cut after %s write %lld", recordings ? "recording" : "card",
                      static_cast<long long>(writes));
            _exit(kPowerCutExitCode);  // nothing more reaches the card
          },
          recordings ? kRecordingsFolder : "");
    }
    return true;
  }
  if (what == "faults" && words.size() == 3 && words[2] == "clear") {
    if (apply) apply->clear();
    return true;
  }
  return false;
}

bool CardModel::act(const std::vector<std::string>& words) {
  if (!fs_) {
    boardNote("card: the slot is empty; %s has no effect", words.size() > 1 ? words[1].c_str() : "the action");
    return true;
  }
  if (!cardFaultAction(words, &fs_->faults())) return false;
  TimelineEvent("card-fault").add("faults", fs_->faults().describe()).emit();
  boardNote("card: %s", fs_->faults().describe().c_str());
  return true;
}

int UnmountableFilesystem::mount(const std::string&, unsigned long, std::string*) { return -EINVAL; }
int UnmountableFilesystem::umount() { return -EINVAL; }

void CardModel::boot(const BoardConfig& config) {
  boardDir_ = config.boardDir;
  if (!loadCardState(boardDir_, &state_) || !state_.present) {
    boardNote("card: the slot is empty");
    return;
  }
  std::ofstream(boardDir_ + "/rootfs/proc/partitions", std::ios::app) << partitionLines(state_);
  fs_ = std::make_shared<CardFilesystem>(boardDir_, state_.backend);
  if (state_.partitioned) {
    addMountSource("/dev/sda1", fs_);
    addMountSource("/dev/sda", std::make_shared<UnmountableFilesystem>());
  } else {
    addMountSource("/dev/sda", fs_);
  }
  // Faults the runner armed for this boot, before the program starts.
  std::ifstream faults(cardFaultsPath(boardDir_));
  for (std::string line; std::getline(faults, line);) {
    if (!line.empty()) act(splitCommandLine(line.c_str()));
  }
  faults.close();
  std::error_code ec;
  fs::remove(cardFaultsPath(boardDir_), ec);
  auto formatter = [this](const std::vector<std::string>& argv) { return format(argv); };
  addCommand("mkdosfs", formatter);
  addCommand("mkfs.vfat", formatter);
  FatInfo fat = readFatInfo(cardImagePath(boardDir_));
  boardNote("card: %llu KiB%s, %s, %s", static_cast<unsigned long long>(state_.sizeK),
            state_.partitioned ? " with a partition table" : "", fatText(fat).c_str(),
            state_.backend == CardBackend::Fuse ? "mounted through fusefat" : "a plain directory stands in for it");
}

int CardModel::format(const std::vector<std::string>& argv) {
  if (argv.size() < 2 || !fs_) {
    printf("mkdosfs: no device given or no card in the slot\n");
    return 1;
  }
  const std::string& device = argv.back();
  bool partition = device == "/dev/sda1";
  if ((!partition && device != "/dev/sda") || (partition && !state_.partitioned)) {
    printf("mkdosfs: unable to open %s: No such file or directory\n", device.c_str());
    return 1;
  }
  if (fs_->mounted()) {
    printf("mkdosfs: %s contains a mounted filesystem.\n", device.c_str());
    return 1;
  }
  if (!partition && state_.partitioned) {
    // The whole card is formatted over its partition table: from now on it has none.
    state_.partitioned = false;
    saveCardState(boardDir_, state_);
    addMountSource("/dev/sda", fs_);
    removeMountSource("/dev/sda1");
  }
  std::vector<std::string> options(argv.begin() + 1, argv.end() - 1);
  ::unlink(cardDatesPath(boardDir_).c_str());  // times of files the format does away with
  std::string output;
  int status = formatImage(cardImagePath(boardDir_), state_.imageSizeK(), options, &output);
  printToolOutput(output);
  if (status == 0 && state_.backend == CardBackend::Directory) {
    std::error_code ec;
    fs::remove_all(cardDirPath(boardDir_), ec);
    fs::create_directories(cardDirPath(boardDir_), ec);
  }
  FatInfo fat = readFatInfo(cardImagePath(boardDir_));
  TimelineEvent("card-format").add("device", device).add("status", status).add("fat", fat.fatBits)
      .add("label", fat.label).emit();
  return status < 0 ? 127 : status;
}

}  // namespace sim
