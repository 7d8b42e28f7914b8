#include "core/sd_card.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mount.h>

#include "config/settings.h"
#include "core/trace.h"
#include "platform/platform.h"

#define TAG "MAIN____"

namespace {

constexpr int kCardMajor = 179;

// One entry of the partition list: major, minor, blocks (KiB), name.
struct PartitionEntry {
  char major[16], minor[16], blocks[24], name[64];
};

// Walks the entries of major 179 until `match` accepts one. The header line is read the same
// way and fails the major test.
template <typename Match>
bool findCardEntry(FILE* f, PartitionEntry* e, Match match) {
  while (fscanf(f, "%15s %15s %23s %63s\n", e->major, e->minor, e->blocks, e->name) == 4) {
    if (atoi(e->major) != kCardMajor) continue;
    if (match(*e)) return true;
  }
  return false;
}

const char* const kCardDirectories[] = {"CH1", "CH1/event", "CH1/normal", CONFIG_DIR_NAME, "log"};

}  // namespace

int GetSDSizeK() {
  FILE* f = plat::fopen(PROC_PARTITIONS, "r");
  if (f == nullptr) {
    TRACE(TAG, "@@ failed to open /proc/partitions..");
    return 0;
  }
  PartitionEntry e;
  bool found = findCardEntry(f, &e, [](const PartitionEntry& p) {
    return atoi(p.minor) == 0 && strstr(p.name, "mmcblk0") != nullptr;
  });
  fclose(f);
  return found ? static_cast<int>(strtoul(e.blocks, nullptr, 10)) : 0;
}

int GetSDPartition() {
  FILE* f = plat::fopen(PROC_PARTITIONS, "r");
  if (f == nullptr) {
    TRACE(TAG, "File Open Error %s\n", PROC_PARTITIONS);
    return 0;
  }
  PartitionEntry e;
  bool found = findCardEntry(f, &e, [](const PartitionEntry& p) {
    return atoi(p.minor) == 1 && strcmp(p.name, "mmcblk0p1") == 0;
  });
  fclose(f);
  return found ? 1 : 0;
}

int FormatSD() {
  unsigned sizeK = static_cast<unsigned>(GetSDSizeK());
  const char* device = GetSDPartition() ? SD_PARTITION_DEVICE : SD_WHOLE_DEVICE;
  char command[128];
  if (sizeK > SD_FAT16_LARGEST_K && sizeK <= SD_FAT32_SMALL_CLUSTERS_K) {
    TRACE(TAG, "Format Start : FAT32, cluster size [16KB]");
    snprintf(command, sizeof command, "/usr/bin/mkdosfs -F 32 -s 32 -n ZIDADORI1 %s", device);
  } else if (sizeK > SD_FAT16_MAX_SIZE_K || sizeK > SD_FAT16_LARGEST_K) {
    TRACE(TAG, "Format Start : FAT32, cluster size [32KB]");
    snprintf(command, sizeof command, "/usr/bin/mkdosfs -F 32 -s 64 -n ZIDADORI1 %s", device);
  } else {
    TRACE(TAG, "Format Start : FAT16, cluster size [32KB]");
    snprintf(command, sizeof command, "/usr/bin/mkdosfs -F 16 -s 64 -n ZIDADORI1 %s", device);
  }
  TRACE(TAG, "%s", command);
  // The formatter's own exit status is not examined: a failed format shows in the mount or the
  // directory creation that follows.
  if (plat::system(command) == -1) {
    TRACE(TAG, "failed to system(%s)\n", command);
    return -1;
  }
  return 0;
}

int mount_sd() {
  const unsigned long flags = MS_NOATIME | MS_NODIRATIME;
  if (plat::mount(SD_PARTITION_DEVICE, SD_MOUNT_POINT, "vfat", flags, nullptr) == 0) return 0;
  if (plat::mount(SD_WHOLE_DEVICE, SD_MOUNT_POINT, "vfat", flags, nullptr) == 0) return 0;
  return -11;
}

int umount_sd() { return plat::umount(SD_MOUNT_POINT) == 0 ? 0 : -12; }

int MakeFsSD() {
  for (const char* dir : kCardDirectories) {
    char path[128];
    snprintf(path, sizeof path, "%s/%s", SD_MOUNT_POINT, dir);
    if (plat::mkdir(path, 0744) != 0) {
      TRACE(TAG, "Could not make directory (%s).\n", path);
      return -10;
    }
  }
  return 0;
}

int CheckFileExist(const char* path) {
  struct stat st;
  return plat::stat(path, &st) == 0 && !S_ISDIR(st.st_mode) ? 0 : -1;
}

int CheckDirectoryExist(const char* path) {
  struct stat st;
  return plat::stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}

int CheckSDValidity() {
  char path[128];
  for (const char* dir : kCardDirectories) {
    snprintf(path, sizeof path, "%s/%s", SD_MOUNT_POINT, dir);
    if (CheckDirectoryExist(path) != 0) return -1;
  }
  snprintf(path, sizeof path, "%s/%s/%s", SD_MOUNT_POINT, CONFIG_DIR_NAME, SET_DAT_NAME);
  if (CheckFileExist(path) == 0) return 0;
  snprintf(path, sizeof path, "%s/%s/%s", SD_MOUNT_POINT, CONFIG_DIR_NAME, SET_INI_NAME);
  return CheckFileExist(path) == 0 ? 0 : -1;
}
