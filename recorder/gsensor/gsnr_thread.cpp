// Worker 3: samples the G-sensor, hands every sample to the recording thread and a per-second
// peak to the travel log, and turns shocks into G-sensor triggers for the supervisor.
//
// The driver's read sleeps a few kernel ticks before it samples; that sleep paces this loop.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

#include "core/globals.h"
#include "core/msg_pipe.h"
#include "core/msg_send.h"
#include "core/threads.h"
#include "core/trace.h"
#include "gsensor/gsnr_detect.h"
#include "gsensor/gsnr_files.h"
#include "gsensor/gsnr_requests.h"
#include "platform/platform.h"

#define TAG "GSNR____"

namespace {

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

class GsnrDevice {
 public:
  GsnrDevice() : fd_(plat::open(GSNR_DEVICE, O_RDWR | O_NONBLOCK)) {}
  ~GsnrDevice() { close(); }
  GsnrDevice(const GsnrDevice&) = delete;
  GsnrDevice& operator=(const GsnrDevice&) = delete;
  int fd() const { return fd_; }
  // True with `sample` filled when the read gave a whole sample.
  bool read(int16_t sample[GSNR_AXES]) const {
    uint8_t raw[GSNR_SAMPLE_BYTES];
    if (plat::read(fd_, raw, sizeof raw) < GSNR_SAMPLE_BYTES) return false;
    GsnrDecodeSample(raw, sample);
    return true;
  }
  void close() {
    if (fd_ >= 0) plat::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

bool exists(const char* path) {
  struct stat st;
  return plat::stat(path, &st) == 0;
}

GSNR_LEVELS currentLevels(const RecorderSettings* config) {
  return {config->ACCSEN, config->ACCSENX, config->ACCSENY, config->ACCSENZ};
}

void applyLevels(const GSNR_LEVELS& levels, GSNR_DETECTOR* detector, const char* prefix) {
  GsnrThresholds(levels, detector->threshold);
  if (GsnrSimpleLevel(levels)) {
    TRACE(TAG, "%sG-Sensor Trigger Simple Level %d\n", prefix, GsnrSimpleLevelNumber(levels));
  } else {
    TRACE(TAG, "%sG-Sensor Trigger User Level %d %d %d\n", prefix, levels.x, levels.y, levels.z);
  }
}

// Bandwidth and read wait from the card, when both are acceptable.
void configureSensor(const GsnrDevice& device) {
  if (!exists(GSNR_SET_CONFIG_PATH)) return;
  UniqueFile file(plat::fopen(GSNR_SET_CONFIG_PATH, "r"));
  if (!file) {
    TRACE(TAG, "file open error %s\n", GSNR_SET_CONFIG_PATH);
    return;
  }
  int32_t values[2];
  GsnrReadInts(file.get(), values, 2);
  file.reset();
  GSNR_CONFIG config = {values[0], values[1]};
  if (!GsnrBandwidthValid(config.bandwidth) || config.readTimeout < GSNR_READ_TIMEOUT_MIN ||
      config.readTimeout > GSNR_READ_TIMEOUT_MAX) {
    TRACE(TAG, "Out of BandWidth : %d\n", config.bandwidth);
    return;
  }
  TRACE(TAG, "@@ Send ioctl CMD_GSNR_SET_CONFIG");
  if (plat::ioctl(device.fd(), CMD_GSNR_SET_CONFIG, &config) < 0) {
    TRACE(TAG, "failed to ioctl() : CMD_GSNR_SET_CONFIG");
  }
}

// USER_G_LEVEL: thresholds and window lengths from the card replace the table's, all or none.
void applyUserLevel(GSNR_DETECTOR* detector) {
  if (!exists(GSNR_USER_LEVEL_PATH)) return;
  UniqueFile file(plat::fopen(GSNR_USER_LEVEL_PATH, "r"));
  if (!file) {
    TRACE(TAG, "file open error %s\n", GSNR_USER_LEVEL_PATH);
    TRACE(TAG, "Failed to set USER_G_LEVEL %d\n", GSNR_USER_LEVEL_BAD_THRESHOLD);
    return;
  }
  USER_G_LEVEL user;
  int result = ParseUserGLevel(file.get(), &user);
  if (result != 0) {
    TRACE(TAG, "Failed to set USER_G_LEVEL %d\n", result);
    return;
  }
  memcpy(detector->threshold, user.threshold, sizeof user.threshold);
  GsnrRingBufSetup(&detector->window, user.window[GSNR_X], user.window[GSNR_Y], user.window[GSNR_Z]);
}

int64_t periodicTriggerSeconds() {
  if (!exists(GSNR_CONT_TRIGGER_PATH)) return 0;
  UniqueFile file(plat::fopen(GSNR_CONT_TRIGGER_PATH, "r"));
  if (!file) return 0;
  int32_t minutes;
  GsnrReadInts(file.get(), &minutes, 1);
  return minutes > 0 ? static_cast<int64_t>(minutes) * 60 : 0;
}

UniqueFile openSampleLog() {
  if (!exists(GSNR_SAMPLE_LOG_PATH)) return nullptr;
  UniqueFile file(plat::fopen(GSNR_SAMPLE_LOG_PATH, "w"));
  if (!file) TRACE(TAG, "Failed to open %s\n", GSNR_SAMPLE_LOG_PATH);
  return file;
}

class GsnrWorker {
 public:
  explicit GsnrWorker(THREAD_INFO* info) : info_(info), levels_(currentLevels(info->config)) {}

  // The set-up between the opening of the device and its first read.
  void start(const GsnrDevice& device) {
    configureSensor(device);
    MsgOpen();
    const int16_t none[GSNR_AXES] = {0, 0, 0};
    GsnrDetectorInit(&detector_, GSNR_DEFAULT_WINDOW, none);
    applyLevels(levels_, &detector_, "");  // the thresholds follow from the settings
    applyUserLevel(&detector_);
    periodic_.period = periodicTriggerSeconds();
    sampleLog_ = openSampleLog();
    triggerLog_ = exists(GSNR_TRIGGER_LOG_PATH);
    const int16_t* t = detector_.threshold;
    const int16_t* n = detector_.window.bufRealCnt;
    TRACE(TAG, "@@ threshold[%d:%d:%d], bufRealCnt[%d:%d:%d]\n", t[0], t[1], t[2], n[0], n[1], n[2]);
  }

  void firstSample(const int16_t sample[GSNR_AXES]) { GsnrDetectorFirstSample(&detector_, sample); }

  // A change of any of the four settings recomputes the thresholds from the table.
  void checkSettings() {
    GSNR_LEVELS now = currentLevels(info_->config);
    if (now == levels_) return;
    levels_ = now;
    applyLevels(levels_, &detector_, "New ");
  }

  // One sample of the loop; false when the thread must end.
  bool handle(const int16_t sample[GSNR_AXES], const struct timeval& time) {
    if (gSDFailed.load() == 0) passOn(sample, time);
    int fired = GsnrDetect(&detector_, sample);
    GsnrPeriodicUpdate(&periodic_, time.tv_sec);
    if ((fired >= 0 || periodic_.due) && !trigger(fired, time)) return false;
    return forwardHeldBackTrigger(time);
  }

  void finish() {
    MsgClose();
    sampleLog_.reset();
  }

 private:
  void passOn(const int16_t sample[GSNR_AXES], const struct timeval& time) {
    if (SendMsgGValues(PIPE_RECORD_GSNR, sample[GSNR_X], sample[GSNR_Y], sample[GSNR_Z], &time) != 0) {
      TRACE(TAG, "failed to SendMsgGValues()");
    }
    int16_t logged[GSNR_AXES];
    if (GsnrLogPeakUpdate(&peak_, sample, time.tv_sec, logged)) {
      if (SendMsgGValues(PIPE_LOG_GSNR, logged[GSNR_X], logged[GSNR_Y], logged[GSNR_Z], &time) != 0) {
        TRACE(TAG, "failed to SendMsgGValues()");
      }
      if (sampleLog_) fflush(sampleLog_.get());  // the log reaches the card once a second
    }
    if (sampleLog_) GsnrWriteSampleLog(sampleLog_.get(), time, sample);
  }

  bool trigger(int fired, const struct timeval& time) {
    if (fired >= 0) {
      unsigned count = detector_.detectTriggerCount[fired];
      if (fired == GSNR_X) TRACE(TAG, "X : detectTriggerCount %u\n", count);
      if (fired == GSNR_Y) TRACE(TAG, "Y : detectTriggerCount %u\n", count);
      if (fired == GSNR_Z) TRACE(TAG, "Z : detectTriggerCount %u\n", count);
      if (triggerLog_) GsnrAppendTriggerLog(fired, count, time);
    }
    GsnrDetectorRestart(&detector_);
    periodic_.due = false;
    if (gSDFailed.load() != 0) return true;
    return sendToSupervisor(MSG_TRIGGER, TRIGGER_GSENSOR, time);
  }

  // A trigger the supervisor held back during a write goes out once the write has ended.
  bool forwardHeldBackTrigger(const struct timeval& time) {
    if (gWritingSD.load() != 0 || gSuccessiveTrg.load() != 1) return true;
    gSuccessiveTrg.store(0);
    uint32_t type = static_cast<uint32_t>(gSuccessiveTrgType.load());
    if (!sendToSupervisor(MSG_SUCCESSIVE_TRIGGER, type, time)) return false;
    gSuccessiveTrgType.store(0);
    return true;
  }

  // Sends one record to pipe 10 and wakes the supervisor for it; false when it cannot be woken.
  bool sendToSupervisor(uint32_t id, uint32_t type, const struct timeval& time) {
    MsgRecord r = MsgMake(PIPE_CORE, MOD_GSNR, id);
    r.word[MSG_W_P0] = static_cast<uint32_t>(time.tv_sec);
    r.word[MSG_W_P1] = static_cast<uint32_t>(time.tv_usec);
    r.word[MSG_W_P2] = type;
    if (MsgSend(&r, MSG_LENGTH) != 0) TRACE(TAG, "failed to MsgSend()");
    if (sem_post(info_->wake) != 0) {
      TRACE(TAG, "Fail to sem post.");
      return false;
    }
    return true;
  }

  THREAD_INFO* info_;
  GSNR_LEVELS levels_;
  GSNR_DETECTOR detector_;
  GSNR_LOG_PEAK peak_ = {};
  GSNR_PERIODIC periodic_ = {};
  UniqueFile sampleLog_;
  bool triggerLog_ = false;
};

}  // namespace

int gsnr_thread(THREAD_INFO* info) {
  GsnrWorker worker(info);
  TRACE(TAG, "gsnr_thread()");
  GsnrDevice device;
  if (device.fd() < 0) {
    int error = errno;
    TRACE(TAG, "failed to open %s. (%d) %s\n", GSNR_DEVICE, error, strerror(error));
    return 0;
  }
  worker.start(device);

  int16_t sample[GSNR_AXES];
  if (device.read(sample)) {
    worker.firstSample(sample);
    while (info->run.load()) {
      worker.checkSettings();
      if (!device.read(sample)) continue;  // a failed sensor read: try again
      struct timeval time;
      plat::gettimeofday(&time);
      if (!worker.handle(sample, time)) break;
    }
  }
  worker.finish();
  device.close();
  TRACE(TAG, "~gsnr_thread()");
  return 0;
}
