// Firmware upgrade from the card: a tar package named *.bin in the card's program directory,
// unpacked into a RAM disk and flashed with dd, image by image.
#pragma once

#include <cstddef>

#define UPGRADE_RAMDISK "/mnt/ramdisk"
constexpr size_t UPGRADE_NAME_SIZE = 256;  // the caller's name buffer

// 0 when `name` (UPGRADE_NAME_SIZE bytes) holds a package to install; -1 when there is none.
int CheckUpgradeFile(const char* directory, char* name);
// 0 when the package was unpacked and every image it carries was written; -1 otherwise.
int SystemUpgrade(const char* directory, const char* name);
