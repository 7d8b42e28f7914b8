// The disk space worker: keeps the free space of the recording directory above its quota by
// removing the oldest recordings or reporting the card full (RECMOD), and announces once, at
// its 45th one-second pass, that the back-up capacitor is charged, which lets recording begin.
#include <cstdio>

#include "core/globals.h"
#include "core/msg_send.h"
#include "core/threads.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "record/disk_mgr.h"

#define TAG "OVERWRITE__"

namespace {

constexpr char kMountPath[] = "/mnt/log";
constexpr int kCapacitorPass = 45;
constexpr int kCheckPeriod = 60;

bool wake(THREAD_INFO* info) {
  if (sem_post(info->wake) == 0) return true;
  TRACE(TAG, "Fail to sem post.");
  return false;
}

struct Watch {
  char mountPath[DSK_PATH_MAX];
  char directory[DSK_PATH_MAX];
  uint32_t quotaK;
  bool overwriteAnnounced = false;
};

enum class CheckOutcome { Done, Repeat, Stop };

// Runs a check and reports it; Repeat when the card is still full or still being overwritten.
CheckOutcome checkAndReport(THREAD_INFO* info, Watch& w) {
  TRACE(TAG, "@@@@ Check Overwrite()");
  int result = CheckOverwrite(w.mountPath, w.directory, info->config->RECMOD.load(), &info->run, w.quotaK);
  switch (result) {
    case 0:
      TRACE(TAG, "@@ enough space");
      return CheckOutcome::Done;
    case OVERWRITE_CARD_FULL:
      SendMsgDiskFull(MOD_OVERWRITE);
      return wake(info) ? CheckOutcome::Repeat : CheckOutcome::Stop;
    case OVERWRITE_REMOVED:
      if (w.overwriteAnnounced) return CheckOutcome::Repeat;
      SendMsgOverwriteMode(MOD_OVERWRITE);
      w.overwriteAnnounced = true;
      return wake(info) ? CheckOutcome::Done : CheckOutcome::Stop;
    default:
      TRACE_NOLF(TAG, "failed to CheckOverwrite()");
      gSDFailed.store(1);
      return CheckOutcome::Done;
  }
}

bool announceCapacitor(THREAD_INFO* info) {
  MsgRecord r = MsgMake(PIPE_CORE, MOD_OVERWRITE, MSG_SUPER_CAP_CHARGED);
  if (MsgSend(&r, MSG_LENGTH) != 0) TRACE(TAG, "failed to MsgSend()");
  return wake(info);
}

}  // namespace

int OverwriteThread(THREAD_INFO* info) {
  TRACE(TAG, "OverwriteThread()");
  MsgOpen();
  Watch w;
  bool continuous = info->config->RECINGMODE1.load() == RECINGMODE_CONTINUOUS;
  snprintf(w.mountPath, sizeof w.mountPath, "%s", kMountPath);
  snprintf(w.directory, sizeof w.directory, "%s/ch%d/%s", kMountPath, 1,
           continuous ? vr::kNormalDirName : vr::kEventDirName);
  w.quotaK = continuous ? OVERWRITE_QUOTA_K_CONTINUOUS : OVERWRITE_QUOTA_K_EVENT;

  int pass = 0;
  int sinceCheck = 0;
  bool capacitorAnnounced = false;
  while (info->run.load() != 0) {
    if (gSDFailed.load() == 0) {
      CheckOutcome outcome = CheckOutcome::Done;
      if (!capacitorAnnounced) {
        if (++pass == kCapacitorPass) {
          outcome = checkAndReport(info, w);
          if (outcome != CheckOutcome::Stop && !announceCapacitor(info)) outcome = CheckOutcome::Stop;
          capacitorAnnounced = true;
          sinceCheck = 0;
        }
      } else if (++sinceCheck >= kCheckPeriod) {
        sinceCheck = 0;
        outcome = checkAndReport(info, w);
      }
      if (outcome == CheckOutcome::Stop) break;
    }
    plat::sleep(1);
  }
  MsgClose();
  TRACE(TAG, "~OverwriteThread()");
  return 0;
}
