// What the recording worker does with one frame, in continuous and in event recording.
#include <cerrno>
#include <cstring>
#include <sys/time.h>

#include "core/common.h"
#include "core/globals.h"
#include "core/trace.h"
#include "device/buzzer_led.h"
#include "platform/platform.h"
#include "record/frame_comment.h"
#include "record/frame_index.h"
#include "record/record_thread.h"

#define TAG REC_TAG

namespace {

// Under power loss only every sixth frame of an event is written, to finish within hold-up.
constexpr int kThinningStep = 6;
constexpr uint32_t kPowerLossPostSec = 5;

void stopOnCardError(const char* errorLogText, int line) {
  SaveErrorLog("RECORD", line, errorLogText);
  gWritingSD.store(0);
  gSDFailed.store(1);
  BuzzerLedCtrl(BZLED_SDFAILURE);
}

// After a failed start or write the pair is abandoned as it stands on the card; its
// descriptors are closed (without flushing) so that they are not lost.
void abandonPair(RecordState& s) {
  VIDEO_STREAM* vs = s.stream();
  if (vs->vddFd > 0) plat::close(vs->vddFd);
  if (vs->vdxFd > 0) plat::close(vs->vdxFd);
  vs->vddFd = 0;
  vs->vdxFd = 0;
  dskOpenPairSet(vs, false);
}

void traceTimeOfDay(const char* what) {
  struct timeval tv;
  plat::gettimeofday(&tv);
  TRACE(TAG, "%s : %lu.%lu", what, static_cast<unsigned long>(tv.tv_sec), static_cast<unsigned long>(tv.tv_usec));
}

bool startPair(RecordState& s, uint32_t second) {
  if (dskWriteStart(s.dsk, 0, static_cast<time_t>(second)) == 0) return true;
  TRACE(TAG, "failed to dskWriteStart()");
  abandonPair(s);
  stopOnCardError("failed to dskWriteStart", __LINE__);
  return false;
}

bool endPair(RecordState& s) {
  if (dskWriteEnd(s.dsk, 0) == 0) {
    TRACE(TAG, "dskWriteEnd Success!!");
    return true;
  }
  TRACE(TAG, "failed to dskWriteEnd()");
  stopOnCardError("Failed to dskWriteEnd", __LINE__);
  return false;
}

// Writes the frame; false when the card failed.
bool writeFrame(RecordState& s, const ENC_FRAME* frame) {
  const uint8_t* jpeg = reinterpret_cast<const uint8_t*>(frame) + sizeof(ENC_FRAME);
  if (dskWrite(s.dsk, 0, frame, jpeg) == 0) {
    print_stat(STAT_VIDEO, frame->seconds.get(), frame->jpegSize.get());
    return true;
  }
  TRACE(TAG, "Could not write file (%s).", s.dsk->mountPath);
  abandonPair(s);
  stopOnCardError("Failed to dskWrite", __LINE__);
  return false;
}

int recordingPattern(const RecordState& s) {
  return s.overwriteMode() ? BZLED_REC_CONTINUE_OV : BZLED_REC_CONTINUE;
}

// A continuous recording rolls over at each new hour, and at each minute that is a multiple of
// ten, counted from the local time of its first frame.
bool rolloverDue(const struct tm& start, const struct tm& now) {
  if (now.tm_year != start.tm_year || now.tm_mon != start.tm_mon || now.tm_mday != start.tm_mday ||
      now.tm_hour != start.tm_hour) {
    return true;
  }
  return now.tm_min != start.tm_min && now.tm_min % 10 == 0;
}

}  // namespace

FrameStep RecordContinuousFrame(RecordState& s, const ENC_FRAME* frame) {
  if (gSDFailed.load() == 1 || !s.capCharged) return FrameStep::Release;
  uint32_t second = frame->seconds.get();

  if (s.periodActive && second >= s.periodEnd) {
    s.periodActive = false;
    BuzzerLedCtrl(recordingPattern(s));
  }
  uint32_t trgType = 0;
  if (s.periodActive && s.periodTrgSecond <= second && second < s.periodEnd) {
    s.frameKind = vr::kFrameAfter;
    trgType = s.periodType;
  } else {
    s.frameKind = vr::kFrameContinuous;
  }
  VIDEO_STREAM* vs = s.stream();
  createExifFormatImage(&vs->comment, frame, s.cfg, trgType, s.frameKind);
  SetFrameIdxTime(vs, second, frame->microseconds.get(), s.frameKind, trgType);

  if (s.pairOpen()) {
    struct tm now;
    FrameLocalTime(second, &now);
    if (rolloverDue(s.dsk->startTime, now)) {
      if (!endPair(s)) return FrameStep::Release;
      if (!RecordSendWriteEnd(s)) return FrameStep::EndLoop;
      if (s.cardFull) {
        gWritingSD.store(0);
        BuzzerLedCtrl(BZLED_FULL);
        return FrameStep::Release;
      }
      if (!startPair(s, second)) return FrameStep::Release;
      if (!s.periodActive) BuzzerLedCtrl(recordingPattern(s));
    }
  } else {
    if (!startPair(s, second)) return FrameStep::Release;
    s.trgKeeping = 0;
    if (!s.periodActive) BuzzerLedCtrl(recordingPattern(s));
  }

  if (gPowerLossStatus.load() == 1) {
    if (!s.periodActive) {
      if (!RecordSendWriteEnd(s)) return FrameStep::EndLoop;
    } else {
      bool inPeriod = s.periodStart <= second && second <= s.periodEnd;
      bool keep = inPeriod ? frame->frameNumber % kThinningStep == 0 : frame->frameNumber == 0;
      if (!keep) return FrameStep::ReleaseNow;
    }
  }

  if (writeFrame(s, frame)) {
    vs->IdxHeader.triggerType = 0;
    if (s.frameLossLog) CheckFrameLoss(second, frame->jpegSize.get(), s.cfg->PRERECINT1.load());
  }
  return FrameStep::Release;
}

FrameStep RecordEventFrame(RecordState& s, const ENC_FRAME* frame) {
  uint32_t second = frame->seconds.get();
  bool inside = s.windowSet && s.windowStart <= second && second <= s.windowEnd;

  if (!inside && s.pairOpen()) {
    if (!endPair(s)) return FrameStep::Release;
    gWritingSD.store(0);
    if (!RecordSendWriteEnd(s)) return FrameStep::EndLoop;
    traceTimeOfDay("SD write End");
    if (s.cardFull) {
      BuzzerLedCtrl(BZLED_FULL);
      s.clearWindow();
      return FrameStep::Release;
    }
    BuzzerLedCtrl(s.overwriteMode() ? BZLED_PREOV : BZLED_PRE);
    s.clearWindow();
  }
  if (!inside) {
    // The pre-trigger history: the newest `pre` seconds stay in the driver.
    time_t now = plat::time(nullptr);
    auto t = static_cast<time_t>(second);
    if (t >= now - s.pre && t <= now) return FrameStep::Keep;
    // Older than the history. A held trigger (trgKeeping) must not pin it in the driver: it can
    // never be written, and it would keep the window's frames from being reached.
    return s.trgKeeping == 1 ? FrameStep::ReleaseNow : FrameStep::Release;
  }

  if (gSDFailed.load() == 1 || !s.capCharged) return FrameStep::Release;
  VIDEO_STREAM* vs = s.stream();
  createExifFormatImage(&vs->comment, frame, s.cfg, s.trgType, s.frameKind);
  SetFrameIdxTime(vs, second, frame->microseconds.get(), s.frameKind, s.trgType);
  if (!s.pairOpen()) {
    traceTimeOfDay("SD write Start");
    gWritingSD.store(1);
    int writing = s.overwriteMode() ? BZLED_POSTOV : BZLED_POST;
    BuzzerLedCtrl(writing);
    if (!startPair(s, second)) return FrameStep::Release;
    s.trgKeeping = 0;
    vs->IdxHeader.triggerType = static_cast<uint8_t>(s.trgType);
    BuzzerLedCtrl(writing);
  }
  if (gPowerLossStatus.load() == 1) {
    s.windowEnd = s.trgSecond + kPowerLossPostSec;
    if (frame->frameNumber % kThinningStep != 0) return FrameStep::ReleaseNow;
  }
  writeFrame(s, frame);
  return FrameStep::Release;
}

void RecordWriteCameraRegisters(int camFd, const char* path) {
  FILE* f = plat::fopen(path, "rt");
  if (f == nullptr) {
    TRACE(TAG, "file open error : %s", path);
    return;
  }
  // Each line: a word, a decimal number, a word, the register in hex, a word, the value in hex.
  // Every field is bounded; a line that does not give all six is skipped.
  char line[256];
  int lineNumber = 0;
  while (fgets(line, sizeof line, f) != nullptr) {
    ++lineNumber;
    size_t length = strlen(line);
    bool whole = length > 0 && line[length - 1] == '\n';
    if (!whole && !feof(f)) {
      int c;
      while ((c = fgetc(f)) != EOF && c != '\n') {
      }
      TRACE(TAG, "skipped line %d of %s: too long", lineNumber, path);
      continue;
    }
    char word1[64], word2[64], word3[64];
    int number = 0;
    unsigned address = 0, value = 0;
    int fields = sscanf(line, "%63s %d %63s %2x %63s %2x", word1, &number, word2, &address, word3, &value);
    if (fields != 6) {
      TRACE(TAG, "skipped line %d of %s: %d fields", lineNumber, path, fields);
      continue;
    }
    CAM_REG reg = {static_cast<uint8_t>(address), static_cast<uint8_t>(value), {0, 0}};
    if (plat::ioctl(camFd, CAM_REG_WRITE, &reg) < 0) {
      TRACE(TAG, "failed to ioctl()");
      break;
    }
    TRACE(TAG, "Write addr:0x%02x  data:0x%02x", address, value);
  }
  fclose(f);
}
