// A FAT16 or FAT32 card image changed and read in place, without mounting it, as a disk editor
// would: new files are entered in the allocation table and a directory (long names as the
// kernel writes them), their data left unwritten, so a sparse image stays sparse; the whole tree
// can be listed. fusefat and mtools take minutes for thousands of files; this takes moments.
// Only while nothing has the image mounted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board/card/card_store.h"

namespace sim {

// A file to enter: its name, size (clusters are taken, nothing written) and time.
struct FatNewFile {
  std::string name;
  uint64_t size = 0;
  int64_t second = 1735689600;  // 2025-01-01 00:00:00 UTC
};

class FatImage {
 public:
  FatImage();
  ~FatImage();
  FatImage(const FatImage&) = delete;
  FatImage& operator=(const FatImage&) = delete;

  bool open(const std::string& imagePath, std::string* error);
  uint64_t clusterBytes() const;
  uint64_t freeClusters() const;
  // Chooses the directory at a "/"-separated path from the top ("" is the top); names are
  // compared without case, long names first.
  bool openDir(const std::string& path, std::string* error);
  // Whether the chosen directory holds that name (long or short).
  bool has(const std::string& name) const;
  // Enters files in the chosen directory; their clusters come from the end of the card (where
  // a recording reaches last). The allocation table is written by commit().
  bool addFiles(const std::vector<FatNewFile>& files, std::string* error);
  bool commit(std::string* error);
  // Sets the dates of the file or directory at a "/"-separated path from the top, as the board's
  // FAT driver writes them: the write (and access) date and time from `written`, the creation
  // date and time from `created` when it is not negative; seconds since the epoch, put down in
  // the local time of the process (the board's time zone). Written to the image at once.
  bool setDates(const std::string& path, int64_t created, int64_t written, std::string* error);
  // Every file and directory, parents before children.
  bool list(std::vector<CardEntry>* entries, std::string* error);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
