// The controller's three commands: data request, settings update and control request, and the
// supervisor's replies that complete some of them.
#include <cstring>
#include <sys/time.h>

#include "config/settings.h"
#include "core/msg_send.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "serial/rd_com.h"

#define TAG RD_COM_TAG

namespace {

constexpr uint8_t kRecModeStop = 1;
constexpr uint8_t kRecModeOverwrite = 2;

// Wakes the supervisor for the record just queued on pipe 10.
bool wakeSupervisor(THREAD_INFO* info) {
  if (sem_post(info->wake) == 0) return true;
  TRACE(TAG, "Fail to sem post.");
  return false;
}

bool inRange(uint16_t v, uint16_t low, uint16_t high) { return v >= low && v <= high; }

bool oneOfSizes(uint16_t v) { return v == 10 || v == 20 || v == 32 || v == 64; }

// POSTRECTIME1 goes up to 10: the settings file keeps 5, 8 or 10 seconds after a trigger, and
// in event recording only the pairs 10/10, 12/8 and 15/5 survive both the writing and the
// reading of the file. With 5 as the limit, no time before a trigger but 15 could ever be set.
constexpr uint16_t kPostRecTimeMax = 10;

bool recordingSettingsAllowed(const rd::RecordingSettings& p) {
  return inRange(p.PRERECTIME1.get(), 1, 15) && inRange(p.POSTRECTIME1.get(), 1, kPostRecTimeMax) &&
         inRange(p.PRERECINT1.get(), 1, 30) && inRange(p.POSTRECINT1.get(), 1, 30) &&
         inRange(p.PREFIELD1, 1, 4) && inRange(p.POSTFIELD1, 1, 4) && oneOfSizes(p.PRESIZE1.get()) &&
         oneOfSizes(p.POSTSIZE1.get());
}

bool gsensorSettingsAllowed(const rd::GsensorSettings& p) {
  // The axis levels are compared as unsigned values: a negative level is refused.
  auto level = [](const le::I16& v) { return static_cast<uint16_t>(v.get()) <= 8; };
  return level(p.ACCSENX) && level(p.ACCSENY) && level(p.ACCSENZ) &&
         (p.RECMOD == kRecModeStop || p.RECMOD == kRecModeOverwrite);
}

void store(const rd::RecordingSettings& p, RecorderSettings* s) {
  s->RECINGMODE1 = p.RECINGMODE1;
  s->PRERECTIME1 = p.PRERECTIME1.get();
  s->POSTRECTIME1 = p.POSTRECTIME1.get();
  s->PRERECINT1 = p.PRERECINT1.get();
  s->POSTRECINT1 = p.POSTRECINT1.get();
  s->PRESIZE1 = p.PRESIZE1.get();
  s->POSTSIZE1 = p.POSTSIZE1.get();
  s->PREFIELD1 = p.PREFIELD1;
  s->POSTFIELD1 = p.POSTFIELD1;
}

void store(const rd::GsensorSettings& p, RecorderSettings* s) {
  s->ACCSEN = p.ACCSEN;
  s->ACCSENX = p.ACCSENX.get();
  s->ACCSENY = p.ACCSENY.get();
  s->ACCSENZ = p.ACCSENZ.get();
  s->TRGSET = p.TRGSET;
  s->RECMOD = p.RECMOD;
}

// The update's payload as its structure: only when the frame carries exactly that many bytes,
// so nothing is ever read past the payload.
template <typename Payload>
bool payloadOf(const rd::Frame* frame, Payload* out) {
  if (frame->payloadSize() != sizeof(Payload)) {
    TRACE(TAG, "Invalid length %d for settings type %d", static_cast<int>(frame->payloadSize()),
          frame->payloadByte(0));
    return false;
  }
  memcpy(out, frame->payload(), sizeof(Payload));
  return true;
}

// Stores new settings: written to the card first, and only then shared with the other threads;
// the supervisor re-reads the file and has the settings frame sent.
template <typename Payload>
int storeSettings(THREAD_INFO* info, const Payload& p, uint32_t type) {
  RecorderSettings updated = *info->config;
  store(p, &updated);
  if (WriteConfigFile(&updated) != 0) {
    // Not stored: say so now rather than answer later with the old settings.
    TRACE(TAG, "failed to WriteConfigFile()");
    return SendNack();
  }
  *info->config = updated;
  if (SendMsgSetNewConfig(type) != 0) return -1;
  wakeSupervisor(info);
  return 0;
}

}  // namespace

int ProcessControlRequest(THREAD_INFO* info, const rd::Frame* frame) {
  switch (frame->payloadByte(0)) {
    case rd::kControlTrigger: {
      struct timeval now;
      plat::gettimeofday(&now);
      MsgRecord r = MsgMake(PIPE_CORE, MOD_RD_COM, MSG_TRIGGER);
      r.word[MSG_W_P0] = static_cast<uint32_t>(now.tv_sec);
      r.word[MSG_W_P1] = static_cast<uint32_t>(now.tv_usec);
      r.word[MSG_W_P2] = TRIGGER_SERIAL;
      if (MsgSend(&r, MSG_LENGTH) != 0) {
        // The request never reached the supervisor: do not confirm it.
        TRACE(TAG, "failed to MsgSend()");
        return SendNack();
      }
      return wakeSupervisor(info) ? SendAck() : SendNack();
    }
    case rd::kControlPing:
      return SendAck();
    default:
      return 0;  // not answered
  }
}

int ProcessConfigUpdate(THREAD_INFO* info, const rd::Frame* frame) {
  switch (frame->payloadByte(0)) {
    case rd::kSettingsRecording: {
      rd::RecordingSettings p;
      if (!payloadOf(frame, &p) || !recordingSettingsAllowed(p)) return SendNack();
      return storeSettings(info, p, rd::kSettingsRecording);
    }
    case rd::kSettingsGsensor: {
      rd::GsensorSettings p;
      if (!payloadOf(frame, &p) || !gsensorSettingsAllowed(p)) return SendNack();
      return storeSettings(info, p, rd::kSettingsGsensor);
    }
    default:
      return SendNack();
  }
}

int ProcessDataRequest(THREAD_INFO* info, const rd::Frame* frame) {
  // A flag byte the frame does not carry counts as 0: never read past the payload.
  uint8_t flags3 = frame->payloadByte(0);
  uint8_t flags4 = frame->payloadByte(1);
  if (flags3 & rd::kDataRecording) SendRecordingSettingsFrame(info->config);
  if (flags4 & rd::kDataGsensor) SendGsensorSettingsFrame(info->config);
  if (flags4 & (rd::kDataStatus | rd::kDataStatusAlt)) {
    MsgRecord r = MsgMake(PIPE_CORE, MOD_RD_COM, MSG_REQUEST_RECORD_STATUS);
    if (MsgSend(&r, MSG_LENGTH) != 0) {
      TRACE(TAG, "failed to SendMsgRequestRecordStatus()");
    } else {
      wakeSupervisor(info);
    }
  }
  if (flags4 & rd::kDataVersion) SendVersionFrame();
  if (flags3 == 0 && flags4 == 0) return SendNack();
  return 0;  // no ACK for a data request: the frames are the answer
}

void RdComDispatch(THREAD_INFO* info, const rd::Frame* frame) {
  switch (frame->cmd()) {
    case rd::kCmdDataRequest:
      ProcessDataRequest(info, frame);
      break;
    case rd::kCmdConfigUpdate:
      ProcessConfigUpdate(info, frame);
      break;
    case rd::kCmdControlRequest:
      ProcessControlRequest(info, frame);
      break;
    default:
      TRACE(TAG, "Invalid Command %x\n", frame->cmd());
      break;
  }
}

void RdComHandleReply(THREAD_INFO* info, const MsgRecord& m) {
  if (m.word[MSG_W_ID] != MSG_RETURN) return;
  if (m.word[MSG_W_ARG] == MSG_REQUEST_RECORD_STATUS) {
    if (m.block == nullptr) {
      TRACE(TAG, "no record status block");
      return;
    }
    SendRecordStatusFrame(static_cast<const rd::RecordStatus*>(m.block));
  } else if (m.word[MSG_W_ARG] == MSG_SET_NEW_CONFIG) {
    uint32_t type = m.word[MSG_W_P0];
    if (type == rd::kSettingsRecording) {
      SendRecordingSettingsFrame(info->config);
    } else if (type == rd::kSettingsGsensor) {
      SendGsensorSettingsFrame(info->config);
    } else {
      TRACE(TAG, "INVALID TYPE %d\n", static_cast<int>(type));
    }
  }
}
