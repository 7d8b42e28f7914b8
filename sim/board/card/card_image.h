// The SD card of the simulated board, as files of the board directory:
//   DIR/card.ini      what is in the slot: present, size, partition table, how it is mounted
//   DIR/card.img      the card's FAT file system, a sparse file: the whole card, or on a
//                     partitioned card its first partition (the table itself is described in
//                     card.ini; tools such as fsck.fat, fusefat and mtools read the image as is)
//   DIR/card.dir/     the card's files when a plain directory stands in for FUSE; card.img then
//                     only records the format (type, label, clusters)
//   DIR/card.fuse.pid the FUSE daemon serving the card while it is mounted
// The board process (card model) and recorder-sim (card extension) share these helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A partitioned card's first partition starts 1 MiB in, as on cards sold formatted.
constexpr uint64_t kCardPartitionOffsetK = 1024;
constexpr uint64_t kDefaultCardSizeK = 4000ull * 1024;
constexpr const char* kCardLabel = "ZIDADORI1";

enum class CardBackend { Fuse, Directory };

struct CardState {
  bool present = false;
  uint64_t sizeK = 0;  // the whole card, KiB
  bool partitioned = false;
  CardBackend backend = CardBackend::Fuse;

  // KiB of the file system the image holds (the partition, or the whole card).
  uint64_t imageSizeK() const { return partitioned ? sizeK - kCardPartitionOffsetK : sizeK; }
};

std::string cardStatePath(const std::string& boardDir);
std::string cardImagePath(const std::string& boardDir);
std::string cardDirPath(const std::string& boardDir);
std::string cardPidPath(const std::string& boardDir);
std::string cardLogPath(const std::string& boardDir);

// false when there is no card.ini (a new board directory).
bool loadCardState(const std::string& boardDir, CardState* state);
void saveCardState(const std::string& boardDir, const CardState& state);

// "4000" (MiB), "4000M" or "1600000K"; false when it is not a size.
bool parseCardSize(const std::string& text, uint64_t* sizeK);

// The lines the card adds to the kernel's partition list.
std::string partitionLines(const CardState& state);

// What the boot sector of an image says.
struct FatInfo {
  bool formatted = false;
  int fatBits = 0;  // 12, 16 or 32
  std::string label;
  uint32_t clusterBytes = 0;
  uint64_t clusters = 0;  // data clusters
};
FatInfo readFatInfo(const std::string& imagePath);

// A blank card: a sparse image of `sizeK` KiB, all zeros.
bool makeBlankImage(const std::string& imagePath, uint64_t sizeK);
// Runs the real formatter with the given options (everything of mkdosfs's command line but the
// device) on a fresh sparse file that replaces the image only when the format succeeded.
int formatImage(const std::string& imagePath, uint64_t sizeK, const std::vector<std::string>& options,
                std::string* output);
// The format the unit itself makes: FAT32 above 2,999,999 KiB, FAT16 otherwise, 32 KiB clusters.
int formatImageAsUnit(const std::string& imagePath, uint64_t sizeK, std::string* output);

// Free-space figures of a directory standing in for a formatted card: the image's clusters,
// each file taking whole clusters and each directory at least one.
struct CardSpace {
  uint64_t clusterBytes = 0;
  uint64_t clusters = 0;
  uint64_t usedClusters = 0;
};
CardSpace directorySpace(const std::string& dir, const FatInfo& fat);

// ---- the card through FUSE ------------------------------------------------------------------
bool fuseAvailable();
// Mounts the image at `mountPoint` with fusefat (read-write) and waits until the mount is there.
// 0 and the daemon's pid, or a negative errno. With `pidPath`, the daemon's pid and the mount
// point are written there as soon as the daemon runs (before the mount is up), so that a process
// killed while it waits still leaves what is needed to take the mount down.
int fuseMount(const std::string& imagePath, const std::string& mountPoint, const std::string& logPath, int* pid,
              const std::string& pidPath = "");
// Unmounts and waits for the daemon to end, so that everything it held is in the image.
// `lazy` detaches a mount still in use (cleaning up after the board went down). 0 or -errno.
int fuseUnmount(const std::string& mountPoint, int pid, bool lazy);
// After a board process ended without unmounting (power cut, reboot): unmounts the card it left
// and waits for its daemon, then puts the board's times of the files on the card (card_dates.h).
// Gives what was done, or "" when nothing was mounted.
std::string cleanUpCardMount(const std::string& boardDir);

}  // namespace sim
