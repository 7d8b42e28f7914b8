// The program entry: start-up, the supervisor loop and the orderly stop.
#include "core/main.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>

#include "config/settings.h"
#include "config/upgrade.h"
#include "core/globals.h"
#include "core/inputs.h"
#include "core/msg_pipe.h"
#include "core/sd_card.h"
#include "core/supervisor.h"
#include "core/threads.h"
#include "core/trace.h"
#include "device/buzzer_led.h"
#include "device/rtc.h"
#include "platform/platform.h"

#define TAG "MAIN____"

namespace {

constexpr int kClockWriteAttempts = 10;
const char kBoardTestHook[] = SD_MOUNT_POINT "/bdtest/rc.test";
const char kNoPowerCheck[] = SD_MOUNT_POINT "/no_power_check";

void setClockFromRtc() {
  time_t clock;
  if (RtcGetTime(&clock) == 0) {
    struct timeval tv = {clock, 0};
    plat::settimeofday(&tv);
  }
}

bool fileExists(const char* path) {
  struct stat st;
  return plat::stat(path, &st) == 0;
}

// Reset button held at power-on: format the card, keeping the old card's settings.
int formatCard() {
  TRACE(TAG, "@@ START FORMAT SD");
  setClockFromRtc();
  if (mount_sd() == 0) {
    ReadConfigFile(&gConfig);
    umount_sd();
  }
  BuzzerLedCtrl(BZLED_FORMAT_SD);
  if (FormatSD() != 0) {
    TRACE(TAG, "Error : FormatSD()");
    BuzzerLedCtrl(BZLED_SDFAILURE);
    return -1;
  }
  return 0;
}

int finishFormat() {
  bool ok = true;
  if (MakeFsSD() != 0) {
    TRACE(TAG, "Error : MakeFsSD()");
    ok = false;
  } else if (WriteConfigFile(&gConfig) != 0) {
    TRACE(TAG, "Error : WriteConfigFile()");
    ok = false;
  }
  if (!ok) {
    BuzzerLedCtrl(BZLED_SDFAILURE);
    umount_sd();
    return -1;
  }
  plat::system("sync");
  TRACE(TAG, "@@ END FORMAT SD");
  return 0;
}

int upgradeFirmware() {
  char directory[64];
  snprintf(directory, sizeof directory, "%s/program", SD_MOUNT_POINT);
  char name[UPGRADE_NAME_SIZE];
  if (CheckUpgradeFile(directory, name) != 0) return 0;

  BuzzerLedCtrl(BZLED_SYSTEMUPGRADE);
  const char* mountRamdisk = "mount -t ramfs -o size=5m ramfs " UPGRADE_RAMDISK;
  TRACE(TAG, "%s", mountRamdisk);
  int status = plat::system(mountRamdisk);
  if (status != 0) {
    TRACE(TAG, "Error system(mount ramdisk) :%d\n", status);
    return -1;
  }
  if (SystemUpgrade(directory, name) != 0) {
    TRACE(TAG, "failed to SystemUpgrade()");
    BuzzerLedCtrl(BZLED_SDFAILURE);
    plat::system("umount " UPGRADE_RAMDISK);
    umount_sd();
    return -1;
  }
  TRACE(TAG, "umount " UPGRADE_RAMDISK);
  plat::system("umount " UPGRADE_RAMDISK);
  umount_sd();
  TRACE(TAG, "reboot");
  plat::system("reboot");
  return 0;
}

}  // namespace

RecorderOptions gRecorderOptions;

int RecorderParseOptions(int argc, const char* const argv[]) {
  RecorderOptions options;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--controller") == 0) {
      options.controller = true;
    } else {
      TRACE(TAG, "unknown option %s; usage: recorder [--controller]", argv[i]);
      return -1;
    }
  }
  gRecorderOptions = options;
  return 0;
}

int InitRecorder() {
  struct sigaction action = {};
  action.sa_handler = sig_handle;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  if (BuzzerLedOpen() != 0) {
    TRACE(TAG, "failed to BuzzerLedOpen()");
    return -10000;
  }

  SetDefaultParameter(&gConfig);
  umount_sd();  // in case it is mounted
  unsigned sizeK = static_cast<unsigned>(GetSDSizeK());
  if (sizeK <= SD_MIN_SIZE_K) {
    TRACE(TAG, "ERROR : SD Size is under 2GB : %d\n", static_cast<int>(sizeK));
    BuzzerLedCtrl(BZLED_SDFAILURE);
    return -1;
  }

  bool formatted = CheckResetButton() == 1;
  if (formatted && formatCard() != 0) return -1;

  int mounted = mount_sd();
  if (mounted != 0) {
    TRACE(TAG, "failed to mount_sd()");
    BuzzerLedCtrl(BZLED_SDFAILURE);
    return mounted;
  }
  if (formatted && finishFormat() != 0) return -1;

  if (CheckSDValidity() != 0) {
    TRACE(TAG, "Error : SD format is invalid");
    BuzzerLedCtrl(BZLED_SDFAILURE);
    umount_sd();
    return -1;
  }

  time_t clock;
  if (ReadTimeConfigFile(&clock) == 0) {
    for (int attempt = 0; attempt < kClockWriteAttempts; ++attempt) {
      if (RtcSetTime(clock) == 0) break;
    }
  }
  setClockFromRtc();

  ReadConfigFile(&gConfig);
  return upgradeFirmware();
}

int terminate() {
  cancel_all_work_thread();
  if (umount_sd() == 0) {
    TRACE(TAG, "@@@ SD Umount Success!!");
  } else {
    TRACE(TAG, "@@@ SD Umount Failed!!");
  }
  signal(SIGINT, SIG_DFL);
  plat::sleep(1);
  BuzzerLedCtrl(BZLED_POWEROFF);
  BuzzerLedClose();
  return 0;
}

int recorder_main() {
  gWritingSD.store(0);
  gPowerLossStatus.store(0);
  gSDFailed.store(0);
  gSuccessiveTrg.store(0);
  gSuccessiveTrgType.store(0);
  gCheckPowerRecovery.store(1);

  if (mount_sd() == 0 && CheckFileExist(kBoardTestHook) == 0) {
    int status = plat::system(kBoardTestHook);
    if (status == -1) {
      TRACE(TAG, "Failed to %s\n", kBoardTestHook);
      return 1;
    }
    // The exit code, not the raw wait status: 256 would read as success once cut to 8 bits.
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  }

  if (InitRecorder() != 0) {
    TRACE(TAG, "failed to init()");
    gSDFailed.store(1);
    setClockFromRtc();
  }

  create_all_work_thread();
  if (gRecorderOptions.controller) create_rd_com_thread();
  SupervisorState state;
  struct timeval start;
  plat::gettimeofday(&start);
  state.startSecond = start.tv_sec;
  MsgOpen();
  if (fileExists(kNoPowerCheck)) gCheckPowerRecovery.store(0);

  SupervisorLoop(state);

  MsgClose();
  terminate();
  if (gCheckPowerRecovery.load() == 1) CheckPowerRecovery();
  return 0;
}
