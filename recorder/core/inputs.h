// The push-buttons and the power-fail line: worker threads that turn their events into
// MSG_TRIGGER records for the supervisor, and two checks run on the supervisor's own thread.
#pragma once

#include <cstdint>

#include "core/threads.h"

// Power-fail monitor timings, microseconds.
constexpr int32_t POWER_POLL_US = 250000;
constexpr int32_t POWER_LOW_BUDGET_US = 500000;
constexpr int32_t POWER_RECOVERY_BUDGET_US = 1500000;
constexpr int32_t POWER_RECOVERY_TRACE_US = 1250000;

int CheckResetButton();
[[noreturn]] void CheckPowerRecovery();
// The same watch for at most `polls` polls (tests); returns how many reboots were requested.
int CheckPowerRecoveryPolls(int polls);
