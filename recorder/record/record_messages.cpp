// The recording worker's messages: its control pipe (triggers, card state, capacitor) and the
// G-value and GPS pipes whose messages are matched to frames by time.
#include <cstdlib>
#include <cstring>
#include <sys/time.h>

#include "core/globals.h"
#include "core/trace.h"
#include "device/buzzer_led.h"
#include "gps/gps_fix.h"
#include "platform/platform.h"
#include "record/frame_comment.h"
#include "record/frame_index.h"
#include "record/record_thread.h"

#define TAG REC_TAG

namespace {

constexpr uint32_t kPeriodBeforeSec = 10;
constexpr uint32_t kPeriodAfterSec = 5;

void acceptContinuousTrigger(RecordState& s, const MsgRecord& m) {
  if (s.periodActive) {
    TRACE(TAG, "Ignore Trigger... already event period in continuous recording!!");
    return;
  }
  uint32_t second = m.word[MSG_W_P0];
  s.periodStart = second - kPeriodBeforeSec;
  s.periodEnd = second + kPeriodAfterSec;
  s.periodTrgSecond = second;
  s.periodType = m.word[MSG_W_P2];
  s.periodActive = true;
  s.lastTriggerSecond = second;
  if (s.cfg->BEEPRECORD.load() == 1) BuzzerLedCtrl(BZLED_TRIGGER);
  BuzzerLedCtrl(s.overwriteMode() ? BZLED_POSTOV : BZLED_POST);
}

void acceptEventTrigger(RecordState& s, const MsgRecord& m) {
  if (s.trgKeeping == 1) {
    TRACE(TAG, "Ignore Trigger.. trgKeeping in 1 minute");
    return;
  }
  if (gWritingSD.load() == 1) {
    TRACE(TAG, "Ignore MSG_TRIGGER.... SD Writing");
    return;
  }
  s.trgSecond = m.word[MSG_W_P0];
  s.trgMicro = m.word[MSG_W_P1];
  s.trgType = m.word[MSG_W_P2];
  uint32_t pre = static_cast<uint32_t>(s.pre);
  s.windowStart = s.trgSecond < pre ? 0 : s.trgSecond - pre;
  s.windowEnd = s.trgSecond + static_cast<uint32_t>(s.post);
  s.windowSet = true;
  if (!s.frameTaken || s.latestFrameSecond > s.windowEnd) {
    TRACE(TAG, "@@ time is out of bound %lu", static_cast<unsigned long>(s.latestFrameSecond));
    s.clearWindow();
    s.trgSecond = s.trgMicro = s.trgType = 0;
    return;
  }
  s.lastTriggerSecond = s.trgSecond;
  if (s.cfg->BEEPRECORD.load() == 1) BuzzerLedCtrl(BZLED_TRIGGER);
  if (!s.capCharged) {
    // Hold the window's frames in the driver until the capacitor can carry a write.
    gWritingSD.store(1);
    BuzzerLedCtrl(BZLED_POST);
    s.trgKeeping = 1;
  }
}

void onTrigger(RecordState& s, const MsgRecord& m) {
  if (gSDFailed.load() == 1) {
    TRACE(TAG, "Ignore MSG_TRIGGER.... SDFail");
  } else if (!s.continuous && s.cardFull) {
    TRACE(TAG, "Ignore MSG_TRIGGER.... SD Full");
  } else if (s.continuous && s.cardFull && !s.pairOpen()) {
    TRACE(TAG, "Ignore MSG_TRIGGER.... SD Full");
  } else if (s.continuous) {
    acceptContinuousTrigger(s, m);
  } else {
    acceptEventTrigger(s, m);
  }
}

// A reply to the supervisor (sender 20, id 1) with the request answered in word 3, and its
// wake-up. The block, when given, belongs to the record once it is queued.
void replyToSupervisor(RecordState& s, uint32_t request, void* block) {
  MsgRecord r = MsgMake(PIPE_CORE, MOD_RECORD, MSG_RETURN);
  r.word[MSG_W_ARG] = request;
  r.block = block;
  if (MsgSend(&r, MSG_LENGTH) != 0) {
    free(block);  // never queued, so nobody else frees it
    TRACE(TAG, "failed to MsgSend()");
    return;
  }
  if (sem_post(s.info->wake) != 0) TRACE(TAG, "Fail to sem post.");
}

void answerRecordStatus(RecordState& s) {
  auto* status = static_cast<rd::RecordStatus*>(malloc(sizeof(rd::RecordStatus)));
  if (status == nullptr) {
    TRACE(TAG, "Failed to malloc");
    return;
  }
  RecordBuildStatus(s, status);
  replyToSupervisor(s, MSG_REQUEST_RECORD_STATUS, status);
}

// New recording settings from the controller: the times before and after a trigger apply from
// the next trigger on (the window of one being written stays as it was accepted). The recording
// mode and the camera's encoding settings take effect at the next start.
void answerNewRecordConfig(RecordState& s) {
  s.pre = s.cfg->PRERECTIME1.load();
  s.post = s.cfg->POSTRECTIME1.load();
  s.matchWindowMs = s.pre * 1000;
  TRACE(TAG, "New record settings : pre %d, post %d", static_cast<int>(s.pre), static_cast<int>(s.post));
  replyToSupervisor(s, MSG_NEW_RECORD_CONFIG, nullptr);
}

uint16_t saturated16(uint32_t v) { return static_cast<uint16_t>(v > 0xFFFF ? 0xFFFF : v); }

struct timeval frameTime(const ENC_FRAME* frame) {
  struct timeval t;
  t.tv_sec = static_cast<time_t>(frame->seconds.get());
  t.tv_usec = static_cast<suseconds_t>(frame->microseconds.get());
  return t;
}

struct timeval messageTime(const MsgRecord& m) {
  struct timeval t;
  t.tv_sec = static_cast<time_t>(m.word[MSG_W_P3]);
  t.tv_usec = static_cast<suseconds_t>(m.word[MSG_W_P4]);
  return t;
}

// Drains a data pipe in order: messages at or before the frame's time are applied, those too
// far ahead are dropped, the first one a little ahead stays for a later frame.
template <typename Invalid, typename TooFar, typename Apply>
void matchPipe(RecordState& s, int pipe, uint32_t id, const ENC_FRAME* frame, Invalid invalid, TooFar tooFar,
               Apply apply) {
  struct timeval ft = frameTime(frame);
  MsgRecord* m = nullptr;
  while (MsgRecv(&m, pipe) == 0) {
    if (!s.running()) {
      MsgDone(pipe);
      return;
    }
    if (m->word[MSG_W_ID] != id) {
      invalid(*m);
      MsgDone(pipe);
      continue;
    }
    int32_t d = DiffMs(ft, messageTime(*m));
    if (d > s.matchWindowMs) {
      tooFar(*m);
      MsgDone(pipe);
      continue;
    }
    if (d > 0) return;
    apply(*m, d);
    MsgDone(pipe);
  }
}

}  // namespace

void RecordBuildStatus(const RecordState& s, rd::RecordStatus* status) {
  memset(status, 0, sizeof *status);
  status->lastTriggerSecond.set(s.lastTriggerSecond);
  uint8_t state = 0;
  if (s.continuous) state |= rd::kStateContinuous;
  if (s.pairOpen()) state |= rd::kStateWriting;
  if (gSDFailed.load() == 1) state |= rd::kStateCardFailed;
  if (s.cardFull) state |= rd::kStateCardFull;
  if (s.overwriteMode()) state |= rd::kStateOverwrite;
  if (s.capCharged) state |= rd::kStateCharged;
  if (s.continuous ? s.periodActive : s.windowSet) state |= rd::kStateEventActive;
  if (gPowerLossStatus.load() == 1) state |= rd::kStatePowerLoss;
  status->state = state;
  uint32_t totalK = 0, freeK = 0;
  if (gSDFailed.load() == 0 && GetDiskSizeK(REC_MOUNT_PATH, &totalK, &freeK) == 0) {
    status->freeMiB.set(saturated16(freeK / 1024));
  }
  if (s.dsk != nullptr && s.stream()->nextSeq > 1) {
    status->latestSequence.set(static_cast<uint16_t>(s.stream()->nextSeq - 1));  // the low 16 bits
  }
}

bool RecordAnswerRequest(RecordState& s, const MsgRecord& m) {
  switch (m.word[MSG_W_ID]) {
    case MSG_REQUEST_RECORD_STATUS:
      answerRecordStatus(s);
      return true;
    case MSG_NEW_RECORD_CONFIG:
      answerNewRecordConfig(s);
      return true;
    default:
      return false;
  }
}

bool RecordHandleMessage(RecordState& s, const MsgRecord& m) {
  switch (m.word[MSG_W_ID]) {
    case MSG_RESET_BUTTON_ON:
      if (gSDFailed.load() == 1) TRACE(TAG, "Ignore MSG_RESET_BUTTON_ON.... SDFail");
      return true;
    case MSG_SUPER_CAP_CHARGED:
      TRACE(TAG, "@@@ MSG_SUPER_CAP_CHARGED");
      s.capCharged = true;
      return true;
    case MSG_SD_FULL:
      TRACE(TAG, "@@ MSG_SD_FULL");
      if (s.cardFull) return true;
      s.trgKeeping = 0;
      s.cardFull = true;
      if (s.pairOpen()) return true;  // the open recording finishes; no new one starts
      // Nothing is being written and nothing will be: a power loss must not wait for a
      // MSG_WRITE_END (continuous recording set the flag at start, a held trigger set it too).
      gWritingSD.store(0);
      BuzzerLedCtrl(BZLED_FULL);
      return false;
    case MSG_OVERWRITE_MODE:
      if (s.dsk != nullptr) s.stream()->status |= STREAM_STATUS_OVERWRITE;
      return true;
    case MSG_TRIGGER:
      onTrigger(s, m);
      return true;
    default:
      RecordAnswerRequest(s, m);  // other messages are not for this thread: dropped
      return true;
  }
}

void RecordApplyGsnr(RecordState& s, const ENC_FRAME* frame) {
  VIDEO_STREAM* vs = s.stream();
  matchPipe(
      s, PIPE_RECORD_GSNR, MSG_GSNR_DATA, frame,
      [](const MsgRecord& m) { TRACE(TAG, "@@ invalid gsnr msgid %d", static_cast<int>(m.word[MSG_W_ID])); },
      [](const MsgRecord&) {},
      [vs](const MsgRecord& m, int32_t) {
        auto x = static_cast<int16_t>(m.word[MSG_W_P0]);
        auto y = static_cast<int16_t>(m.word[MSG_W_P1]);
        auto z = static_cast<int16_t>(m.word[MSG_W_P2]);
        createExifGsnr(&vs->comment, x, y, z);
        SetFrameIdxGsnr(vs, x, y, z);
      });
}

void RecordApplyGps(RecordState& s, const ENC_FRAME* frame) {
  VIDEO_STREAM* vs = s.stream();
  matchPipe(
      s, PIPE_RECORD_GPS, MSG_GPS_DATA, frame,
      [](const MsgRecord& m) { TRACE(TAG, "@@ invalid gps msgid %d", static_cast<int>(m.word[MSG_W_ID])); },
      [](const MsgRecord& m) {
        TRACE(TAG, ">> MSG_GPS_DATA(%d), %lu.%lu, %d", static_cast<int>(m.word[MSG_W_ID]),
              static_cast<unsigned long>(m.word[MSG_W_P3]), static_cast<unsigned long>(m.word[MSG_W_P4]),
              static_cast<int>(m.word[MSG_W_P0]));
      },
      [vs](const MsgRecord& m, int32_t d) {
        const auto* fix = static_cast<const GpsFixRecord*>(m.block);
        auto protocol = static_cast<int32_t>(m.word[MSG_W_P0]);
        createExifGps(&vs->comment, fix, protocol, d);
        SetFrameIdxGps(vs, fix, protocol);
      });
}
