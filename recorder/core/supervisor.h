// The supervisor loop: one record of pipe 10 per wake-up of g_thread_to_main, acted on by its
// sender and id. It decides whether a trigger reaches the recording thread, passes card and
// power events on, and decides when the recorder stops.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

#include "core/msg_pipe.h"

// Seconds the back-up capacitor needs after start before it can carry a card write.
constexpr long SUPER_CAP_CHARGING_SEC = 105;
// Longest a write may go on after the supply failed.
constexpr long POWER_LOSS_WRITE_SEC = 9;

struct SupervisorState {
  bool running = true;
  time_t startSecond = 0;
  bool powerLoss = false;
  time_t powerLossStartSecond = 0;
  bool hasLastTrigger = false;  // in event mode: a trigger was accepted or held back
  time_t lastTriggerSecond = 0;
};

// Set by the SIGINT handler (which also posts g_thread_to_main); the supervisor turns it into
// an MSG_TERMINATE record on its own thread, so the handler never touches the pipes' locks or
// the heap.
extern std::atomic<int32_t> gTerminateRequest;

void sig_handle(int signo);
void SupervisorDispatch(SupervisorState& state, const MsgRecord& record);
// One wake-up: waits on g_thread_to_main, then handles at most one record of pipe 10.
void SupervisorWaitOne(SupervisorState& state);
void SupervisorLoop(SupervisorState& state);
