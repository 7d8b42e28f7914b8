// The flags that threads share without locks: each is written by the threads named beside it
// and polled by others. Plain 32-bit values on the board; atomics here so that a poll always
// sees the stored value and never a torn or cached one.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> gWritingSD;          // recording thread: a recording is being written
extern std::atomic<int32_t> gPowerLossStatus;    // supervisor: supply lost during a write
extern std::atomic<int32_t> gSDFailed;           // the card is unusable; never cleared while running
extern std::atomic<int32_t> gSuccessiveTrg;      // supervisor sets, G-sensor thread clears
extern std::atomic<int32_t> gSuccessiveTrgType;  // type of the held-back trigger
extern std::atomic<int32_t> gCheckPowerRecovery; // after shutdown: wait for power and reboot
