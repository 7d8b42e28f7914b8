// Takes every record waiting in a message pipe, as copies, so a test can look at what a
// thread sent without keeping the pipe's blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "core/msg_pipe.h"

namespace testing_board {

inline std::vector<MsgRecord> drain(int pipe) {
  std::vector<MsgRecord> out;
  MsgRecord* r = nullptr;
  while (MsgRecv(&r, pipe) == 0) {
    out.push_back(*r);
    MsgDone(pipe);
  }
  return out;
}

// A record's word as the signed value the senders put there.
inline int32_t word(const MsgRecord& r, int w) { return static_cast<int32_t>(r.word[w]); }

}  // namespace testing_board
