// Faults that a file system of the simulated board shows to the program's calls, so that the
// failure paths of recording and of the card's store can be run: a card whose writes, flushes or
// closes fail after a number of calls, that runs out of space in the middle of a write, that turns
// read-only, or that is pulled out of its slot while files on it are open. A test or a scenario
// arms them; the platform layer asks before each call on a file of that file system.
//
// A power cut can also be tied to the card's writes (cutPowerAfterWrites): the board process
// dies at once after the N-th write, as a board whose supply fails with no hold-up at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>

namespace sim {

class FileFaults {
 public:
  enum class Call { Write, Fsync, Close };
  static constexpr int kCalls = 3;

  // From the (after + 1)-th call on, counted from now, the call fails with `error`.
  void failAfter(Call call, int after, int error);
  // After `bytes` more bytes have been written, the write that crosses the mark is cut short at
  // it and every later write fails with ENOSPC.
  void noSpaceAfter(uint64_t bytes);
  // Opens for writing, writes, and changes of the tree fail with EROFS; reading goes on.
  void setReadOnly(bool readOnly);
  // Every call on the file system fails with EIO (closing still releases the descriptor).
  void setRemoved(bool removed);
  // The card is pulled out right after the N-th write from now (setRemoved).
  void removeAfterWrites(int64_t writes);
  // Runs `cut` right after the N-th write from now has reached the file system. With a
  // `pathPart`, only writes to files whose path holds it (in any case) are counted, so that a cut
  // can be tied to the N-th write of a recording whatever else the program writes meanwhile.
  void cutPowerAfterWrites(int64_t writes, std::function<void()> cut, const std::string& pathPart = "");
  void clear();
  // Writes and bytes that reached the file system since the faults were last cleared.
  int64_t writes() const;
  // A short description of what is armed ("none" when nothing is).
  std::string describe() const;

  // ---- the platform layer's side -------------------------------------------------------
  // 0, or the errno with which an open (for writing when `writing`) must fail.
  int openError(bool writing) const;
  // 0, or the errno for a call on a path (a change of the tree when `modifying`).
  int pathError(bool modifying) const;
  // How many of `count` bytes a write may put down (0 < n <= count), or -errno.
  ssize_t writeAllowance(size_t count);
  // Whether writes to `path` count toward a power cut tied to writes.
  bool countsTowardCut(const std::string& path) const;
  // After a write of `written` bytes went through (`towardCut`: see countsTowardCut).
  void wrote(size_t written, bool towardCut = true);
  // 0, or the errno with which an fsync or close must fail.
  int callError(Call call);

 private:
  struct Rule {
    bool armed = false;
    int after = 0;
    int error = 0;
    int calls = 0;
  };
  mutable std::mutex mutex_;
  Rule rules_[kCalls];
  bool noSpace_ = false;
  uint64_t spaceLeft_ = 0;
  bool readOnly_ = false;
  bool removed_ = false;
  int64_t writes_ = 0;
  int64_t cutAt_ = 0;
  int64_t cutWrites_ = 0;  // writes counted toward the cut since it was armed
  std::string cutPathPart_;
  int64_t removeAt_ = 0;
  std::function<void()> cut_;
};

}  // namespace sim
