// One sender function per message: each builds the record on its stack with every other word 0,
// sends it with MsgSend and reports a failure under its own module's tag. None of them posts the
// supervisor's semaphore: the caller does, once per record sent to pipe 10.
#pragma once

#include <cstdint>
#include <sys/time.h>

#include "core/msg_pipe.h"

int SendMsgTriggerToRecord(uint32_t seconds, uint32_t microseconds, uint32_t triggerType);
int SendMsgReturn(uint32_t requestId, uint32_t destination, uint32_t spare, uint32_t r0, uint32_t r1,
                  uint32_t r2, uint32_t r3, uint32_t r4, void* block);
int SendMsgSuperCapCharged(uint32_t destination);
int SendMsgTriggerToCore(uint32_t sender, const struct timeval* time);
int SendMsgWriteEndToCore(uint32_t sender);
int SendMsgSetGPSTime(uint32_t destination, uint32_t clockSeconds);
// The same with the board's time of day at which the GPS time was current in words 8 and 9, so
// that the supervisor can carry the GPS time forward over the time the message took.
int SendMsgSetGPSTimeAt(uint32_t destination, uint32_t clockSeconds, const struct timeval* takenAt);
int SendMsgGPSData(uint32_t destination, int32_t protocol, uint32_t seconds, uint32_t microseconds,
                   const void* fixRecord);
int SendMsgGValues(uint32_t destination, int16_t x, int16_t y, int16_t z, const struct timeval* time);
int SendMsgOverwriteMode(uint32_t sender);
int SendMsgDiskFull(uint32_t sender);
int SendMsgSetNewConfig(uint32_t settingsType);
