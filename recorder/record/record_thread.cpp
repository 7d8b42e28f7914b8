// The recording worker: owns the camera, takes its encoded frames one by one in capture order
// and writes those that belong to a recording through the video file store.
//
// Event recording keeps the pre-trigger history in the camera driver's ring buffer: while idle
// the newest PRERECTIME1 seconds of frames stay in the driver and older ones are released, so a
// trigger can reach back in time. Continuous recording releases each frame once written. Frames
// are never copied: the JPEG body goes from the read-only mapping to the data file.
#include "record/record_thread.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>

#include "core/common.h"
#include "core/globals.h"
#include "core/msg_send.h"
#include "core/trace.h"
#include "device/buzzer_led.h"
#include "platform/platform.h"
#include "record/frame_comment.h"
#include "record/frame_index.h"

#define TAG REC_TAG

namespace {

constexpr useconds_t kHalfSecondUs = 500000;
constexpr time_t kEncodingWatchdogSec = 60;
// A frame left in the driver is looked at again after this pause rather than at once, so that
// holding the pre-trigger history does not keep a processor busy.
constexpr useconds_t kKeptFramePauseUs = 10000;

void failCard(int pattern = BZLED_SDFAILURE) {
  gSDFailed.store(1);
  BuzzerLedCtrl(pattern);
}

// The start of the thread up to the main loop. Gives how to leave when it fails.
enum class StartResult { Loop, LoopAtOnce, Failed, ExitNoStore, ExitCloseStore, ExitFull };

void cardFullAtStart(RecordState& s) {
  BuzzerLedCtrl(BZLED_FULL);
  s.clearRecordingState();
  s.capCharged = false;
  s.trgKeeping = 0;
  s.frameKind = vr::kFrameBefore;
  s.cardFull = true;
  RecordPopFrame(s);
}

// Card full at start (free share at most the quota, or too many files in the channel).
bool cardFullByCheck(RecordState& s) {
  VIDEO_STREAM* vs = s.stream();
  if (vs->freeK > s.quotaK) {
    int count = GetEventFileNum(s.dsk, 0) - 2;
    if (count < DSK_ENTRY_LIMIT) return false;
    TRACE(TAG, "DISK is FULL by Count %d", count);
  } else {
    TRACE(TAG, "DISK is FULL by Capacity %d", static_cast<int>(vs->freeK));
  }
  return true;
}

StartResult startRecording(RecordState& s) {
  if (gSDFailed.load() == 1) return StartResult::Failed;
  s.frameLossLog = plat::access(FRAMELOSS_LOG_PATH, F_OK) == 0;

  s.dsk = dskOpen(REC_MOUNT_PATH, 1, &s.streamKind, s.quotaK);
  if (s.dsk == nullptr) {
    TRACE(TAG, "failed to dskOpen()");
    failCard();
    return StartResult::ExitNoStore;
  }
  s.camFd = plat::open(CAM_DEVICE, O_RDWR);
  if (s.camFd < 0) {
    TRACE(TAG, "Fail to open %s. Err(%d, %s)", CAM_DEVICE, errno, strerror(errno));
    SaveErrorLog("RECORD", __LINE__, "Failed to open /dev/cam0");
    failCard();
    return StartResult::ExitCloseStore;
  }
  if (plat::ioctl(s.camFd, CAM_JPEG_LOG_CONDITION_SET, s.cfg) < 0) {
    TRACE(TAG, "Fail to configure %s. Err(%d, %s).", CAM_DEVICE, errno, strerror(errno));
    SaveErrorLog("RECORD", __LINE__, "Fail to CAM_JPEG_LOG_CONDITION_SET");
    failCard();
    return StartResult::ExitFull;
  }
  if (plat::access(CAM_REGISTER_FILE, F_OK) == 0) RecordWriteCameraRegisters(s.camFd, CAM_REGISTER_FILE);

  void* ring = plat::mmap(nullptr, CAM_ENC_BUFFER_SIZE, PROT_READ, MAP_SHARED, s.camFd, 0);
  if (ring == MAP_FAILED) {
    TRACE(TAG, "Fail to map ring buffer for %s. Err(%d, %s).", CAM_DEVICE, errno, strerror(errno));
    SaveErrorLog("RECORD", __LINE__, "Fail to mmap Enc buffer");
    failCard();
    return StartResult::ExitFull;
  }
  s.ring = static_cast<const uint8_t*>(ring);

  if (s.continuous) {  // the encoder settles before continuous recording starts
    plat::sleep(2);
    plat::sleep(3);
  }
  if (plat::ioctl(s.camFd, CAM_JPEG_LOG_START, static_cast<uintptr_t>(0)) < 0) {
    TRACE(TAG, "Fail to start logging on %s. Err(%d, %s).", CAM_DEVICE, errno, strerror(errno));
    SaveErrorLog("RECORD", __LINE__, "Fail to CAM_JPEG_LOG_START");
    failCard();
    return StartResult::ExitFull;
  }
  if (s.cfg->RECMOD.load() == 1 && cardFullByCheck(s)) {
    cardFullAtStart(s);
    return StartResult::LoopAtOnce;
  }
  if (s.continuous) {
    BuzzerLedCtrl(BZLED_REC_CONTINUE);
    gWritingSD.store(1);
    s.trgKeeping = 1;  // nothing is written before the capacitor is charged: hold the frames
    s.frameKind = vr::kFrameContinuous;
  } else {
    BuzzerLedCtrl(BZLED_PRE);
    s.frameKind = vr::kFrameBefore;
    s.trgKeeping = 0;
  }
  return StartResult::Loop;
}

// Nothing is recorded after a start-up failure, but a controller asking for the record status
// still gets an answer (saying that the card failed).
void answerWhileFailed(RecordState& s) {
  MsgRecord* m = nullptr;
  while (s.running() && MsgRecv(&m, PIPE_RECORD) == 0) {
    RecordAnswerRequest(s, *m);
    MsgDone(PIPE_RECORD);
  }
}

enum class PassResult { Next, Leave, LeaveWithoutStop };

// Matches the frame against the trigger in event recording: kind 3 from the trigger instant.
int eventFrameKind(const RecordState& s, uint32_t second, uint32_t micro) {
  bool notOlder = second > s.trgSecond || (second == s.trgSecond && s.trgMicro <= micro);
  return gWritingSD.load() == 1 && notOlder ? vr::kFrameAfter : vr::kFrameBefore;
}

// A frame offset from the driver must leave the whole frame inside the mapping.
const ENC_FRAME* frameAt(const RecordState& s) {
  uint64_t offset = s.index.offset;
  if (offset + sizeof(ENC_FRAME) > CAM_ENC_BUFFER_SIZE) return nullptr;
  const ENC_FRAME* f = reinterpret_cast<const ENC_FRAME*>(s.ring + offset);
  if (offset + sizeof(ENC_FRAME) + f->jpegSize.get() > CAM_ENC_BUFFER_SIZE) return nullptr;
  return f;
}

PassResult onePass(RecordState& s) {
  if (!s.running()) return PassResult::Leave;
  time_t now = plat::time(nullptr);
  if (s.lastIndexTime == 0) s.lastIndexTime = now;

  bool toRelease = false;
  MsgRecord* m = nullptr;
  while (s.running() && MsgRecv(&m, PIPE_RECORD) == 0) {
    bool goOn = RecordHandleMessage(s, *m);
    MsgDone(PIPE_RECORD);
    if (!goOn) {
      toRelease = true;
      break;
    }
  }

  FrameStep step = FrameStep::Release;
  if (!toRelease) {
    if (plat::ioctl(s.camFd, CAM_JPEG_GET_INDEX, &s.index) < 0) {
      TRACE(TAG, "There is no encoded frame in Encode Buffer.. sleep(1)");
      if (now - s.lastIndexTime > kEncodingWatchdogSec) {
        TRACE(TAG, "@@@ Encoding failed during 60 sec");
        failCard();
        return PassResult::LeaveWithoutStop;
      }
      plat::sleep(1);
      return PassResult::Next;
    }
    s.lastIndexTime = now;
    if (s.index.count == 0) {
      plat::sleep(1);
      return PassResult::Next;
    }
    const ENC_FRAME* frame = frameAt(s);
    if (frame == nullptr) {
      // The driver pointed outside its buffer: never read there; drop what it gave.
      TRACE(TAG, "@@ invalid frame offset %u", static_cast<unsigned>(s.index.offset));
      RecordPopFrame(s);
      return PassResult::Next;
    }
    uint32_t second = frame->seconds.get();
    s.latestFrameSecond = second;
    s.frameTaken = true;
    if (!s.continuous) s.frameKind = eventFrameKind(s, second, frame->microseconds.get());
    if (second != s.currentSecond) {
      createExifHeader(&s.stream()->comment);
      s.currentSecond = second;
    }
    RecordApplyGsnr(s, frame);
    RecordApplyGps(s, frame);
    if (!(s.cardFull && !s.pairOpen())) {
      step = s.continuous ? RecordContinuousFrame(s, frame) : RecordEventFrame(s, frame);
    }
  }

  switch (step) {
    case FrameStep::EndLoop:
      return PassResult::Leave;
    case FrameStep::ReleaseNow:
      RecordPopFrame(s);
      break;
    case FrameStep::Keep:
      plat::usleep(kKeptFramePauseUs);
      break;
    case FrameStep::Release:
      if (s.trgKeeping != 1) {
        RecordPopFrame(s);
      } else {
        plat::usleep(kKeptFramePauseUs);
      }
      break;
  }
  return PassResult::Next;
}

void exitRecording(RecordState& s, bool stopEncoder) {
  if (s.camFd >= 0) {
    if (stopEncoder && plat::ioctl(s.camFd, CAM_JPEG_LOG_STOP, static_cast<uintptr_t>(0)) < 0) {
      TRACE(TAG, "Fail to stop logging on %s. Err(%d, %s).", CAM_DEVICE, errno, strerror(errno));
    }
    if (gCheckPowerRecovery.load() != 0) {
      // The board waits for power and reboots: leave the mapping to the reboot.
      TRACE(TAG, "Skipped munmap");
    } else {
      if (s.ring != nullptr && plat::munmap(const_cast<uint8_t*>(s.ring), CAM_ENC_BUFFER_SIZE) != 0) {
        TRACE(TAG, "Fail to unmap ring buffer for %s.", CAM_DEVICE);
      }
      s.ring = nullptr;
      plat::close(s.camFd);
      s.camFd = -1;
    }
  }
  dskClose(s.dsk);
  s.dsk = nullptr;
}

}  // namespace

void RecordState::clearWindow() {
  windowSet = false;
  windowStart = windowEnd = 0;
}

void RecordState::clearRecordingState() {
  clearWindow();
  trgSecond = trgMicro = trgType = 0;
  periodActive = false;
  periodStart = periodEnd = periodTrgSecond = periodType = 0;
  cardFull = false;
}

void RecordPopFrame(RecordState& s) {
  if (plat::ioctl(s.camFd, CAM_JPEG_POP_INDEX, &s.index) < 0) {
    TRACE(TAG, "Fail to pop index for %s. Err(%d, %s).", CAM_DEVICE, errno, strerror(errno));
    plat::sleep(1);
  }
}

bool RecordSendWriteEnd(RecordState& s) {
  SendMsgWriteEndToCore(MOD_RECORD);
  if (sem_post(s.info->wake) != 0) {
    TRACE(TAG, "Fail to sem post.");
    return false;
  }
  return true;
}

int RecordThread(THREAD_INFO* info) {
  TRACE(TAG, "RecordThread()");
  MsgOpen();
  RecordState s;
  s.info = info;
  s.cfg = info->config;
  s.continuous = s.cfg->RECINGMODE1.load() == RECINGMODE_CONTINUOUS;
  s.streamKind = STREAM_KIND_BASE | (s.continuous ? STREAM_KIND_CONTINUOUS : STREAM_KIND_EVENT);
  s.quotaK = s.continuous ? OVERWRITE_QUOTA_K_CONTINUOUS : OVERWRITE_QUOTA_K_EVENT;
  s.pre = s.cfg->PRERECTIME1.load();
  s.post = s.cfg->POSTRECTIME1.load();
  s.matchWindowMs = s.pre * 1000;
  ResetFrameStatistics();

  StartResult start = startRecording(s);
  switch (start) {
    case StartResult::ExitNoStore:
      MsgClose();
      TRACE(TAG, "~RecordThread()");
      return 0;
    case StartResult::ExitCloseStore:
    case StartResult::ExitFull:
      exitRecording(s, start == StartResult::ExitFull);
      MsgClose();
      TRACE(TAG, "~RecordThread()");
      return 0;
    case StartResult::Failed:
    case StartResult::Loop:
      TRACE(TAG, "Start RECORD Loop");
      if (gSDFailed.load() == 1) {
        while (s.running()) {
          answerWhileFailed(s);
          plat::usleep(kHalfSecondUs);
        }
        MsgClose();
        TRACE(TAG, "~RecordThread()");
        return 0;
      }
      plat::sleep(1);
      s.clearRecordingState();
      s.capCharged = false;
      break;
    case StartResult::LoopAtOnce:
      break;
  }

  PassResult result = PassResult::Next;
  while (result == PassResult::Next) result = onePass(s);

  exitRecording(s, result != PassResult::LeaveWithoutStop);
  MsgClose();
  TRACE(TAG, "~RecordThread()");
  return 0;
}
