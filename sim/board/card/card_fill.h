// Bringing a card near its limits while the board is off, for tests of the overwrite and of a
// full card:
//   - recordings: .vdd/.vdx pairs with valid recording names in a channel directory, to reach
//     the entry limit (2000 entries a directory), or of a given size, to leave the card short
//     of space with old recordings the overwrite can remove;
//   - logs: travel log files with valid names, to continue their sequence or reach their quota;
//   - space: filler files at the card's top (FILL0001.DAT, ...) that take all but a given
//     amount of the free space.
// On an image the files are entered in its allocation table and directories directly (as a
// disk editor would; long names as the kernel writes them): their data is never written, so a
// 4000 MiB card is filled in a moment and the image stays sparse, where mtools or fusefat would
// take minutes for thousands of files. On the stand-in directory they are plain sparse files,
// which its space figures count.
#pragma once

#include <cstdint>
#include <string>

#include "board/card/card_image.h"

namespace sim {

// `count` pairs in CH1/<channelDir> ("event" or "normal") with sequence numbers 1..count, their
// names' times one minute apart from `firstSecond` (seconds since 1970, shown in UTC). Each
// .vdd takes `sizeK` KiB (its data unwritten), each .vdx none.
bool fillRecordings(const std::string& boardDir, const CardState& state, const std::string& channelDir, int count,
                    uint64_t sizeK, int64_t firstSecond, std::string* error);

// `count` travel log files in the log directory with valid names, sequence numbers 1..count,
// their names' times one hour apart from `firstSecond` (shown in UTC), each of `sizeK` KiB
// (its data unwritten): for the tests of the log's sequence and quota.
bool fillLogs(const std::string& boardDir, const CardState& state, int count, uint64_t sizeK, int64_t firstSecond,
              std::string* error);

// Takes free space until `freeK` KiB are left (nothing when less is free already). `takenK`
// gives what the filler took.
bool fillSpace(const std::string& boardDir, const CardState& state, uint64_t freeK, uint64_t* takenK,
               std::string* error);

// The image's free space in KiB as its allocation table counts it (tests).
bool imageFreeK(const std::string& imagePath, uint64_t* freeK);

}  // namespace sim
