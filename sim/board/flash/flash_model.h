// The board's firmware side: the flash partitions (DIR/flash/mtdblock0..3, files of the board
// directory), the RAM disk the upgrade unpacks into (DIR/ramdisk), and the board commands that
// act on them: "mount"/"umount" (any mount source of the board, the card included), "tar" (the
// PC's tar with board paths translated, run with an argument vector) and "dd" (to a partition
// or a file). A root file system image flashed to mtdblock3 that carries a version file becomes
// the running /version at the next boot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/board_model.h"

namespace sim {

struct FlashPartition {
  const char* name;
  uint64_t sizeK;
};
// The flash layout the kernel's partition list shows.
extern const FlashPartition kFlashPartitions[4];
constexpr const char* kDefaultFirmwareVersion = "VERSION=KVOX_1.0.0.RC1";

std::string flashPath(const std::string& boardDir, const std::string& partition);

class FlashModel : public BoardModel {
 public:
  const char* name() const override { return "flash"; }
  void boot(const BoardConfig& config) override;
};

// The board commands, exposed for tests.
int boardMountCommand(const std::vector<std::string>& argv);
int boardUmountCommand(const std::vector<std::string>& argv);
int boardTarCommand(const std::vector<std::string>& argv);
int boardDdCommand(const std::string& boardDir, const std::vector<std::string>& argv);
// Installs the commands and the RAM disk source on the current board.
void installFirmwareCommands(const std::string& boardDir);
// Takes the version file out of a root file system image in mtdblock3 into DIR/rootfs/version;
// true when there was one.
bool adoptFlashedVersion(const std::string& boardDir);

}  // namespace sim
