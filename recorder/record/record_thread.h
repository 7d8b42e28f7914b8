// The recording worker's state and its parts (start and exit, messages, frames). Only the
// recording thread uses these.
#pragma once

#include <cstdint>
#include <ctime>

#include "core/msg_pipe.h"
#include "core/threads.h"
#include "record/cam_interface.h"
#include "record/disk_mgr.h"
#include "serial/rd_frame.h"

#define REC_TAG "RECORD__"
#define REC_MOUNT_PATH "/mnt/log"
#define CAM_REGISTER_FILE "/mnt/log/cam_register.txt"

// What the rest of a pass does with the frame under work.
enum class FrameStep {
  Release,      // the release step: popped unless trgKeeping holds frames in the driver
  Keep,         // left in the driver; the next pass sees it again
  ReleaseNow,   // popped whatever trgKeeping says (a frame skipped under power loss)
  EndLoop,      // the supervisor could not be woken: the loop ends
};

struct RecordState {
  THREAD_INFO* info = nullptr;
  RecorderSettings* cfg = nullptr;

  bool continuous = false;
  uint32_t streamKind = 0;
  uint32_t quotaK = 0;
  int32_t pre = 0, post = 0;
  int32_t matchWindowMs = 0;
  bool frameLossLog = false;

  DISK_MGR* dsk = nullptr;
  int camFd = -1;
  const uint8_t* ring = nullptr;

  uint32_t currentSecond = 0;      // capture second of the last frame taken
  uint32_t latestFrameSecond = 0;  // capture second of the frame under work
  bool frameTaken = false;
  time_t lastIndexTime = 0;        // last successful index request (encoding watchdog)
  bool capCharged = false;
  int32_t trgKeeping = 0;
  int frameKind = vr::kFrameBefore;
  bool cardFull = false;

  // Event recording: the accepted trigger and its window.
  bool windowSet = false;
  uint32_t windowStart = 0, windowEnd = 0;
  uint32_t trgSecond = 0, trgMicro = 0, trgType = 0;

  // Continuous recording: the marked event period.
  bool periodActive = false;
  uint32_t periodStart = 0, periodEnd = 0, periodTrgSecond = 0, periodType = 0;

  uint32_t lastTriggerSecond = 0;  // of the last trigger accepted since start (record status)

  ENC_INDEX index{};

  VIDEO_STREAM* stream() const { return &dsk->pVideoStream[0]; }
  bool pairOpen() const { return dsk != nullptr && stream()->vddFd > 0; }
  bool overwriteMode() const { return dsk != nullptr && (stream()->status & STREAM_STATUS_OVERWRITE) != 0; }
  bool running() const { return info->run.load() != 0; }
  void clearWindow();
  void clearRecordingState();
};

// Messages on pipe 20. False when the pass must go straight to the release step.
bool RecordHandleMessage(RecordState& s, const MsgRecord& m);
// Answers the record status request (6) and the new recording settings (11) to the supervisor;
// false for any other message.
bool RecordAnswerRequest(RecordState& s, const MsgRecord& m);
// The 12-byte record status block as it stands.
void RecordBuildStatus(const RecordState& s, rd::RecordStatus* status);
// Applies the G values and GPS fixes whose time has come to the frame.
void RecordApplyGsnr(RecordState& s, const ENC_FRAME* frame);
void RecordApplyGps(RecordState& s, const ENC_FRAME* frame);
FrameStep RecordContinuousFrame(RecordState& s, const ENC_FRAME* frame);
FrameStep RecordEventFrame(RecordState& s, const ENC_FRAME* frame);
// MSG_WRITE_END to the supervisor and its wake-up; false when the wake-up failed.
bool RecordSendWriteEnd(RecordState& s);
// Pops the oldest frame from the driver; traces and waits a second on failure.
void RecordPopFrame(RecordState& s);
// Sends the camera register file's lines to the sensor.
void RecordWriteCameraRegisters(int camFd, const char* path);
