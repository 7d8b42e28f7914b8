// The SD card slot as the board process sees it: the card's lines in the kernel's partition
// list, its device nodes as mount sources ("/dev/sda1" the first partition, "/dev/sda" the whole
// card) and the board's formatter ("mkdosfs"), all acting on the card files of card_image.h.
#pragma once

#include <memory>
#include <string>
#include <sys/statfs.h>

#include "board/board_model.h"
#include "board/card/card_dates.h"
#include "board/card/card_image.h"
#include "platform/sim/board.h"

namespace sim {

// The card's file system as the board mounts it: the image through fusefat, or the stand-in
// directory with the same free-space figures.
class CardFilesystem : public Filesystem {
 public:
  CardFilesystem(std::string boardDir, CardBackend backend);
  int mount(const std::string& target, unsigned long flags, std::string* hostDir) override;
  int umount() override;
  int statfs(struct statfs* st) override;
  bool foldsCase() const override { return backend_ == CardBackend::Directory; }  // fusefat folds itself
  // fusefat frees a truncated file's clusters for the next file while the file still points at
  // them, and refuses to extend a file it did not create in the current open.
  bool rewritesByReplacing() const override { return backend_ == CardBackend::Fuse; }
  bool mounted() const { return mounted_; }
  // Notes the board's time for the card's entry (card_dates.h).
  void stamp(const std::string& hostPath, bool created, int64_t boardNs) override;

 private:
  std::string boardDir_;
  CardBackend backend_;
  bool mounted_ = false;
  std::string mountPoint_;
  std::string hostDir_;
  int daemon_ = -1;
  CardDateLog dates_;
};

// A source that cannot be mounted: the whole of a partitioned card holds no file system.
class UnmountableFilesystem : public Filesystem {
 public:
  int mount(const std::string&, unsigned long, std::string*) override;
  int umount() override;
};

// The card's faults as scenario words (after "card"): "fail write|fsync|close [after N]
// [eio|enospc|erofs]", "full [after BYTES]", "readonly", "remove [after-writes N]",
// "cut after-writes N [recordings]" (counting only the recordings' writes), "faults clear". True when the words make one; `apply`, when given, arms it.
bool cardFaultAction(const std::vector<std::string>& words, FileFaults* apply);
// The file in the board directory that holds fault lines for the next boot (armed before the
// program starts, then removed).
std::string cardFaultsPath(const std::string& boardDir);

class CardModel : public BoardModel {
 public:
  const char* name() const override { return "card"; }
  // Live card faults forwarded by recorder-sim while the board runs.
  std::vector<std::string> actions() const override { return {"card"}; }
  bool act(const std::vector<std::string>& words) override;
  void boot(const BoardConfig& config) override;

  // The board's "mkdosfs [options] DEVICE" (exposed for tests).
  int format(const std::vector<std::string>& argv);

 private:
  std::string boardDir_;
  CardState state_;
  std::shared_ptr<CardFilesystem> fs_;
};

}  // namespace sim
