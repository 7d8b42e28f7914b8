#include "core/msg_send.h"

#include <cstdlib>
#include <cstring>

#include "core/trace.h"
#include "gps/gps_fix.h"

namespace {

int send(const MsgRecord& r) { return MsgSend(&r, MSG_LENGTH); }

}  // namespace

int SendMsgTriggerToRecord(uint32_t seconds, uint32_t microseconds, uint32_t triggerType) {
  MsgRecord r = MsgMake(PIPE_RECORD, MOD_CORE, MSG_TRIGGER);
  r.word[MSG_W_P0] = seconds;
  r.word[MSG_W_P1] = microseconds;
  r.word[MSG_W_P2] = triggerType;
  if (send(r) != 0) {
    TRACE("MAIN____", "failed to MsgSend()");
    return -1;
  }
  return 0;
}

int SendMsgReturn(uint32_t requestId, uint32_t destination, uint32_t spare, uint32_t r0, uint32_t r1,
                  uint32_t r2, uint32_t r3, uint32_t r4, void* block) {
  (void)spare;  // part of the call's shape; never stored
  MsgRecord r = MsgMake(destination, MOD_CORE, MSG_RETURN);
  r.word[MSG_W_ARG] = requestId;
  r.word[MSG_W_P0] = r0;
  r.word[MSG_W_P1] = r1;
  r.word[MSG_W_P2] = r2;
  r.word[MSG_W_P3] = r3;
  r.word[MSG_W_P4] = r4;
  r.block = block;
  if (send(r) != 0) {
    TRACE("MAIN____", "failed to MsgSend()");
    return -1;
  }
  return 0;
}

int SendMsgSuperCapCharged(uint32_t destination) {
  if (send(MsgMake(destination, MOD_CORE, MSG_SUPER_CAP_CHARGED)) != 0) {
    TRACE("MAIN____", "failed to MsgSend()");
    return -1;
  }
  return 0;
}

int SendMsgTriggerToCore(uint32_t sender, const struct timeval* time) {
  MsgRecord r = MsgMake(PIPE_CORE, sender, MSG_TRIGGER);
  r.word[MSG_W_P0] = static_cast<uint32_t>(time->tv_sec);
  r.word[MSG_W_P1] = static_cast<uint32_t>(time->tv_usec);
  r.word[MSG_W_P2] = TRIGGER_BUTTON;
  if (send(r) != 0) {
    TRACE("TRIGWAIT", "failed to MsgSend()");
    return -1;
  }
  return 0;
}

int SendMsgWriteEndToCore(uint32_t sender) {
  if (send(MsgMake(PIPE_CORE, sender, MSG_WRITE_END)) != 0) {
    TRACE("RECORD__", "failed to MsgSend()");
    return -1;
  }
  return 0;
}

int SendMsgSetGPSTime(uint32_t destination, uint32_t clockSeconds) {
  return SendMsgSetGPSTimeAt(destination, clockSeconds, nullptr);
}

int SendMsgSetGPSTimeAt(uint32_t destination, uint32_t clockSeconds, const struct timeval* takenAt) {
  MsgRecord r = MsgMake(destination, MOD_GPS, MSG_SET_GPS_TIME);
  r.word[MSG_W_P0] = clockSeconds;
  if (takenAt) {
    r.word[MSG_W_P3] = static_cast<uint32_t>(takenAt->tv_sec);
    r.word[MSG_W_P4] = static_cast<uint32_t>(takenAt->tv_usec);
  }
  if (send(r) != 0) {
    TRACE("GPS_____", "failed to MsgSend()");
    return -1;
  }
  return 0;
}

int SendMsgGPSData(uint32_t destination, int32_t protocol, uint32_t seconds, uint32_t microseconds,
                   const void* fixRecord) {
  void* copy = malloc(GPS_FIX_RECORD_SIZE);
  if (!copy) return -1;
  memcpy(copy, fixRecord, GPS_FIX_RECORD_SIZE);
  MsgRecord r = MsgMake(destination, MOD_GPS, MSG_GPS_DATA);
  r.word[MSG_W_P0] = static_cast<uint32_t>(protocol);
  r.word[MSG_W_P3] = seconds;
  r.word[MSG_W_P4] = microseconds;
  r.block = copy;
  if (send(r) != 0) {
    free(copy);  // the record never reached a pipe, so nobody else will free it
    TRACE("GPS_____", "failed to MsgSend()");
    return -1;
  }
  return 0;
}

int SendMsgGValues(uint32_t destination, int16_t x, int16_t y, int16_t z, const struct timeval* time) {
  MsgRecord r = MsgMake(destination, MOD_GSNR, MSG_GSNR_DATA);
  r.word[MSG_W_P0] = static_cast<uint32_t>(static_cast<int32_t>(x));
  r.word[MSG_W_P1] = static_cast<uint32_t>(static_cast<int32_t>(y));
  r.word[MSG_W_P2] = static_cast<uint32_t>(static_cast<int32_t>(z));
  r.word[MSG_W_P3] = static_cast<uint32_t>(time->tv_sec);
  r.word[MSG_W_P4] = static_cast<uint32_t>(time->tv_usec);
  if (send(r) != 0) {
    TRACE("GSNR____", "failed to MsgSend()");
    return -1;
  }
  return 0;
}

int SendMsgOverwriteMode(uint32_t sender) {
  if (send(MsgMake(PIPE_CORE, sender, MSG_OVERWRITE_MODE)) != 0) {
    TRACE("OVERWRITE__", "failed to MsgSend()");
    return -1;
  }
  return 0;
}

int SendMsgDiskFull(uint32_t sender) {
  if (send(MsgMake(PIPE_CORE, sender, MSG_SD_FULL)) != 0) {
    TRACE("OVERWRITE__", "failed to MsgSend()");
    return -1;
  }
  return 0;
}

int SendMsgSetNewConfig(uint32_t settingsType) {
  MsgRecord r = MsgMake(PIPE_CORE, MOD_RD_COM, MSG_SET_NEW_CONFIG);
  r.word[MSG_W_P0] = settingsType;
  if (send(r) != 0) {
    TRACE("RD_COMM_", "failed to MsgSend()");
    return -1;
  }
  return 0;
}
