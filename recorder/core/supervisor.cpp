#include "core/supervisor.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "config/settings.h"
#include "core/globals.h"
#include "core/msg_send.h"
#include "core/threads.h"
#include "core/trace.h"
#include "device/buzzer_led.h"
#include "device/rtc.h"
#include "platform/platform.h"

#define TAG "MAIN____"

std::atomic<int32_t> gTerminateRequest{0};

namespace {

constexpr int kClockWriteAttempts = 10;
constexpr size_t kRecordStatusSize = 12;

void sendOrTrace(uint32_t pipe, uint32_t id) {
  MsgRecord r = MsgMake(pipe, MOD_CORE, id);
  if (MsgSend(&r, MSG_LENGTH) != 0) TRACE(TAG, "failed to MsgSend()");
}

void forwardTrigger(const MsgRecord& m, uint32_t type) {
  if (SendMsgTriggerToRecord(m.word[MSG_W_P0], m.word[MSG_W_P1], type) != 0) {
    TRACE(TAG, "failed to SendMsgTriggerToRecord()");
  }
}

time_t nowSecond() {
  struct timeval tv;
  plat::gettimeofday(&tv);
  return tv.tv_sec;
}

// A trigger from the G-sensor (type 1, TRGSET bit 0) or the REC button (type 2, bit 1).
void arbitrateTrigger(SupervisorState& s, const MsgRecord& m, uint32_t type, uint8_t enableBit) {
  if (gConfig.RECINGMODE1 != RECINGMODE_EVENT) {  // continuous: every trigger marks a period
    forwardTrigger(m, type);
    return;
  }
  if ((gConfig.TRGSET & enableBit) == 0) return;
  time_t now = nowSecond();
  if (s.hasLastTrigger && now == s.lastTriggerSecond) return;  // one trigger per clock second
  s.hasLastTrigger = true;
  s.lastTriggerSecond = now;
  if (gWritingSD.load() == 1) {
    // Held back: the G-sensor thread re-sends it once the write has ended. The type is stored
    // before the flag that announces it, so the G-sensor thread never sees the flag without it.
    gSuccessiveTrgType.store(static_cast<int32_t>(type));
    gSuccessiveTrg.store(1);
    return;
  }
  forwardTrigger(m, type);
}

void powerSwitch(SupervisorState& s) {
  TRACE(TAG, "KVOX_POWER_SWITCH %d\n", gWritingSD.load());
  time_t now = nowSecond();
  long sinceStart = static_cast<long>(now - s.startSecond);
  if (sinceStart < SUPER_CAP_CHARGING_SEC) {
    TRACE(TAG, "@@ Shutdown absolutely : charging time = %lusec\n", static_cast<unsigned long>(sinceStart));
    s.running = false;
    return;
  }
  if (gWritingSD.load() != 1) {
    s.running = false;
    return;
  }
  // A recording is being written: let the recording thread close it, for a few seconds at most.
  if (!s.powerLoss) {
    s.powerLoss = true;
    gPowerLossStatus.store(1);
    s.powerLossStartSecond = now;
  }
  if (now - s.powerLossStartSecond > POWER_LOSS_WRITE_SEC) {
    TRACE(TAG, "@@@ Frame Skip Recoding Timeout");
    s.running = false;
  }
}

void recordReturn(const MsgRecord& m) {
  int result;
  if (m.word[MSG_W_ARG] == MSG_REQUEST_RECORD_STATUS) {
    void* copy = malloc(kRecordStatusSize);
    if (copy == nullptr) {
      TRACE(TAG, "Failed to malloc");
      return;
    }
    if (m.block) {
      memcpy(copy, m.block, kRecordStatusSize);
    } else {
      memset(copy, 0, kRecordStatusSize);
    }
    result = SendMsgReturn(MSG_REQUEST_RECORD_STATUS, PIPE_RD_COM, 0, 0, 0, 0, 0, 0, copy);
    if (result != 0) free(copy);  // never queued, so nobody else frees it
  } else if (m.word[MSG_W_ARG] == MSG_NEW_RECORD_CONFIG) {
    result = SendMsgReturn(MSG_SET_NEW_CONFIG, PIPE_RD_COM, 0, 0, 0, 0, 0, 0, nullptr);
  } else {
    return;
  }
  if (result != 0) TRACE(TAG, "failed to SendMsgReturn()");
}

void newConfig(const MsgRecord& m) {
  ReadConfigFile(&gConfig);
  if (m.word[MSG_W_P0] != 0) {  // G-sensor settings
    sendOrTrace(PIPE_RECORD, MSG_NEW_GSNR_CONFIG);
    if (SendMsgReturn(MSG_SET_NEW_CONFIG, PIPE_RD_COM, 0, 1, 0, 0, 0, 0, nullptr) != 0) {
      TRACE(TAG, "failed to SendMsgReturn()");
    }
  } else {
    sendOrTrace(PIPE_RECORD, MSG_NEW_RECORD_CONFIG);
  }
}

void superCapCharged() {
  CreateVersionFile();
  if (SendMsgSuperCapCharged(PIPE_RECORD) != 0) TRACE(TAG, "failed to SendMsgSuperCapCharged()");
  if (SendMsgSuperCapCharged(PIPE_LOG) != 0) TRACE(TAG, "failed to SendMsgSuperCapCharged()");
}

// The GPS time of the message, carried forward to now: the message says at which time of day
// of the board the GPS time was current, so the time the message took is added.
struct timeval gpsTimeNow(const MsgRecord& m) {
  struct timeval tv = {static_cast<time_t>(m.word[MSG_W_P0]), 0};
  if (m.word[MSG_W_P3] == 0) return tv;
  struct timeval now;
  plat::gettimeofday(&now);
  int64_t taken = static_cast<int64_t>(m.word[MSG_W_P3]) * 1000000 + m.word[MSG_W_P4];
  int64_t age = static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_usec - taken;
  if (age < 0 || age > 60 * 1000000LL) return tv;  // not a plausible age: the GPS time as it is
  int64_t us = static_cast<int64_t>(tv.tv_sec) * 1000000 + age;
  tv.tv_sec = static_cast<time_t>(us / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(us % 1000000);
  return tv;
}

void setGpsTime(const MsgRecord& m) {
  TRACE(TAG, "@@@@@@@@@ MSG_SET_GPS_TIME : %d\n", static_cast<int>(m.word[MSG_W_P0]));
  struct timeval now = gpsTimeNow(m);
  // The board's own clock follows as well: it was set from the clock chip at start, and what is
  // stamped on recordings and logs from now on must be the receiver's time, not the old one.
  if (plat::settimeofday(&now) != 0) TRACE(TAG, "Failed to settimeofday()");
  // The chip keeps whole seconds: the nearest one.
  time_t chip = now.tv_sec + (now.tv_usec >= 500000 ? 1 : 0);
  for (int attempt = 0; attempt < kClockWriteAttempts; ++attempt) {
    if (RtcSetTime(chip) == 0) break;
  }
}

}  // namespace

void sig_handle(int) {
  // Async-signal-safe only: an atomic store and sem_post. The supervisor makes the record.
  gTerminateRequest.store(1);
  if (sem_post(&g_thread_to_main) != 0) {
    static const char text[] = "MAIN____: Fail to sem post.\n";
    plat::console_write(text, sizeof text - 1);
  }
}

void SupervisorDispatch(SupervisorState& s, const MsgRecord& m) {
  uint32_t sender = m.word[MSG_W_SENDER];
  uint32_t id = m.word[MSG_W_ID];
  switch (sender) {
    case MOD_CORE:
      if (id == MSG_TERMINATE) s.running = false;
      break;
    case MOD_RECORD:
      if (id == MSG_WRITE_END && gPowerLossStatus.load() == 1) {
        TRACE(TAG, "write to SD end... in power loss status");
        s.running = false;
      } else if (id == MSG_WRITE_END) {
        TRACE(TAG, "MSG_WRITE_END");  // nothing to do; the console shows each recording's end
      } else if (id == MSG_RETURN) {
        recordReturn(m);
      }
      break;
    case MOD_GPS:
      if (id == MSG_SET_GPS_TIME) setGpsTime(m);
      break;
    case MOD_RD_COM:
      if (id == MSG_REQUEST_RECORD_STATUS) {
        sendOrTrace(PIPE_RECORD, MSG_REQUEST_RECORD_STATUS);
      } else if (id == MSG_SET_NEW_CONFIG) {
        newConfig(m);
      } else if (id == MSG_TRIGGER && (gConfig.TRGSET & TRIGGER_SERIAL)) {
        forwardTrigger(m, TRIGGER_SERIAL);
      }
      break;
    case MOD_GSNR:
      if (id == MSG_TRIGGER) {
        arbitrateTrigger(s, m, TRIGGER_GSENSOR, 1);
      } else if (id == MSG_SUCCESSIVE_TRIGGER && gConfig.RECINGMODE1 == RECINGMODE_EVENT) {
        forwardTrigger(m, m.word[MSG_W_P2]);
      }
      break;
    case MOD_REC_BUTTON:
      if (id != MSG_TRIGGER) break;
      if (gSDFailed.load() == 1) {
        BuzzerLedCtrl(BZLED_CLEAR_SDFAILURE);
      } else {
        arbitrateTrigger(s, m, TRIGGER_BUTTON, 2);
      }
      break;
    case KVOX_RESET_SWITCH:
      TRACE(TAG, "RECEIVED KVOX_RESET_SWITCH");
      sendOrTrace(PIPE_RECORD, MSG_RESET_BUTTON_ON);
      break;
    case KVOX_POWER_SWITCH:
      if (id == MSG_TRIGGER) {
        powerSwitch(s);
      } else if (id == MSG_POWER_SHORT_CUT) {
        TRACE(TAG, "MSG_POWER_SHORT_CUT");
        sendOrTrace(PIPE_GPS, MSG_POWER_SHORT_CUT);
      }
      break;
    case MOD_OVERWRITE:
      if (id == MSG_SD_FULL) {
        TRACE(TAG, "MSG_SD_FULL");
        sendOrTrace(PIPE_RECORD, MSG_SD_FULL);
      } else if (id == MSG_OVERWRITE_MODE) {
        TRACE(TAG, "MSG_OVERWRITE_MODE");
        sendOrTrace(PIPE_RECORD, MSG_OVERWRITE_MODE);
      } else if (id == MSG_SUPER_CAP_CHARGED) {
        superCapCharged();
      }
      break;
    default:
      break;  // not a sender of the table: dropped
  }
}

void SupervisorWaitOne(SupervisorState& s) {
  if (sem_wait(&g_thread_to_main) != 0) return;  // EINTR: the handler's post is still there
  if (gTerminateRequest.exchange(0) != 0) {
    // One record, sender 10, id 3, as if the handler had sent it; it pairs with the handler's
    // post. Retried until it is queued, as the stop must never be lost.
    MsgRecord r = MsgMake(PIPE_CORE, MOD_CORE, MSG_TERMINATE);
    while (MsgSend(&r, MSG_LENGTH) != 0) plat::usleep(1000);
  }
  MsgRecord* m = nullptr;
  if (MsgRecv(&m, PIPE_CORE) == 0) {
    SupervisorDispatch(s, *m);
    MsgDone(PIPE_CORE);
  }
}

void SupervisorLoop(SupervisorState& s) {
  while (s.running) SupervisorWaitOne(s);
}
