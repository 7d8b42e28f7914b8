// The SD card: its size and partition from the kernel's partition list, formatting, mounting
// at /mnt/log, the recorder's directory tree and the check of a mounted card.
#pragma once

#define SD_MOUNT_POINT "/mnt/log"
#define SD_PARTITION_DEVICE "/dev/sda1"
#define SD_WHOLE_DEVICE "/dev/sda"
#define PROC_PARTITIONS "/proc/partitions"

constexpr unsigned SD_MIN_SIZE_K = 1600000;       // at most this is refused at start
constexpr unsigned SD_FAT16_MAX_SIZE_K = 2999999;  // above this the card is formatted FAT32

int GetSDSizeK();
int GetSDPartition();
int FormatSD();
int mount_sd();
int umount_sd();
int MakeFsSD();
int CheckFileExist(const char* path);
int CheckDirectoryExist(const char* path);
int CheckSDValidity();
