// The SD card: its size and partition from the kernel's partition list, formatting, mounting
// at /mnt/log, the recorder's directory tree and the check of a mounted card.
#pragma once

#define SD_MOUNT_POINT "/mnt/log"
#define SD_PARTITION_DEVICE "/dev/sda1"
#define SD_WHOLE_DEVICE "/dev/sda"
#define PROC_PARTITIONS "/proc/partitions"

constexpr unsigned SD_MIN_SIZE_K = 1600000;       // at most this is refused at start
constexpr unsigned SD_FAT16_MAX_SIZE_K = 2999999;  // above this the card is formatted FAT32
// The largest card that FAT16 with 32 KiB clusters can hold (65524 clusters and the file
// system's own sectors); the formatter refuses FAT16 on anything larger, so such a card is
// formatted FAT32 too, whatever the limit above says. Just above it, FAT32 with 32 KiB clusters
// would have fewer clusters than a FAT32 volume must (65525), and a PC would read the card as
// FAT16: up to SD_FAT32_SMALL_CLUSTERS_K such cards get 16 KiB clusters.
constexpr unsigned SD_FAT16_LARGEST_K = 2097143;
constexpr unsigned SD_FAT32_SMALL_CLUSTERS_K = 2162687;

int GetSDSizeK();
int GetSDPartition();
int FormatSD();
int mount_sd();
int umount_sd();
int MakeFsSD();
int CheckFileExist(const char* path);
int CheckDirectoryExist(const char* path);
int CheckSDValidity();
