#include "board/camera/camera_model.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>

#include "board/outside/cam_jpeg.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"

namespace sim {
namespace {

constexpr uint32_t kAlign = 8;
constexpr int kWidth = 640;
constexpr int kFullHeight = 480;
constexpr int kFieldsFull = 4;
// A request after a long pause (or a clock set far ahead) captures at most this much backlog:
// older frames would only be dropped again at once.
constexpr int64_t kMaxBacklogNs = 60 * kNsPerSec;

uint32_t alignUp(size_t n) { return static_cast<uint32_t>((n + kAlign - 1) / kAlign * kAlign); }

// The first capture instant at or after t on the grid of whole seconds plus k/rate.
int64_t nextGridPoint(int64_t t, int rate) {
  int64_t second = t / kNsPerSec * kNsPerSec;
  int64_t frac = t - second;
  int64_t k = (frac * rate + kNsPerSec - 1) / kNsPerSec;
  if (k >= rate) return second + kNsPerSec;
  return second + k * kNsPerSec / rate;
}

class CameraFile : public DeviceFile {
 public:
  explicit CameraFile(std::shared_ptr<CameraDevice> device) : device_(std::move(device)) {}
  long ioctl(unsigned long request, uintptr_t arg) override { return device_->ioctl(request, arg); }
  int mmapSource(size_t length, off_t offset, bool writable, int* hostFd, off_t* hostOffset) override {
    return device_->mmapSource(length, offset, writable, hostFd, hostOffset);
  }
  int release() override {
    device_->release();
    return 0;
  }

 private:
  std::shared_ptr<CameraDevice> device_;
};

class CameraBoardModel : public BoardModel {
 public:
  const char* name() const override { return "camera"; }
  void boot(const BoardConfig& config) override {
    CameraOptions options;
    options.frameKiB = atoi(config.option("cam-frame-kb", "0").c_str());
    auto camera = std::make_shared<CameraDevice>(options);
    connectCameraSensor(*camera);
    addDeviceNode(CAM_DEVICE, camera);
  }
};

// Gives recorder-sim the camera's option; the board process reads it at boot.
class CameraRunnerOptions : public RunnerExtension {
 public:
  std::vector<Option> options() const override {
    return {{"cam-frame-kb", true, "camera picture size in KiB, instead of the size settings (e.g. 200)"}};
  }
};

}  // namespace

CameraDevice::CameraDevice(CameraOptions options) : options_(options) {
  // The program always maps the driver's 48 MiB; a smaller ring (tests) uses only its start.
  mapSize_ = std::max(options_.ringSize, CAM_ENC_BUFFER_SIZE);
  memfd_ = memfd_create("cam0-ring", MFD_CLOEXEC);
  if (memfd_ >= 0 && ftruncate(memfd_, static_cast<off_t>(mapSize_)) == 0) {
    void* p = mmap(nullptr, mapSize_, PROT_READ | PROT_WRITE, MAP_SHARED, memfd_, 0);
    if (p != MAP_FAILED) ring_ = static_cast<uint8_t*>(p);
  }
  if (ring_ == nullptr) boardNote("camera: no memory for the encoder ring (%s)", strerror(errno));
}

CameraDevice::~CameraDevice() {
  if (ring_) munmap(ring_, mapSize_);
  if (memfd_ >= 0) close(memfd_);
}

int CameraDevice::open(int flags, std::unique_ptr<DeviceFile>* file) {
  (void)flags;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_) return -EBUSY;
    if (ring_ == nullptr) return -ENOMEM;
  }
  if (sensorSetup) {
    int result = sensorSetup();
    if (result < 0) return result;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  started_ = false;
  frames_.clear();
  headGiven_ = false;
  writePos_ = 0;
  *file = std::make_unique<CameraFile>(shared_from_this());
  return 0;
}

void CameraDevice::release() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = false;
  started_ = false;
}

int CameraDevice::mmapSource(size_t length, off_t offset, bool writable, int* hostFd, off_t* hostOffset) {
  if (writable) return -EACCES;  // the ring is the encoder's; the program only reads it
  if (offset != 0 || length == 0 || length > mapSize_) return -EINVAL;
  *hostFd = memfd_;
  *hostOffset = 0;
  return 0;
}

bool CameraDevice::preSettings() const { return condition_.recordingMode.get() == 2; }

int CameraDevice::rate() const {
  int r = preSettings() ? condition_.preRate.get() : condition_.postRate.get();
  return std::clamp(r, 1, 30);
}

bool CameraDevice::place(uint32_t length, uint32_t* offset) {
  if (length > options_.ringSize) return false;
  uint32_t w = writePos_;
  if (w + static_cast<size_t>(length) > options_.ringSize) w = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    bool moved = false;
    for (auto it = frames_.begin(); it != frames_.end();) {
      bool overlaps = it->offset < w + length && w < it->offset + it->length;
      if (!overlaps) {
        ++it;
        continue;
      }
      if (it == frames_.begin() && headGiven_) {
        // The frame the program holds is never written over: go past it.
        w = it->offset + it->length;
        if (w + static_cast<size_t>(length) > options_.ringSize) w = 0;
        moved = true;
        break;
      }
      it = frames_.erase(it);
      ++dropped_;
    }
    if (!moved) {
      *offset = w;
      writePos_ = w + length;
      return true;
    }
  }
  return false;
}

void CameraDevice::captureOne(int64_t systemNs) {
  int r = rate();
  auto second = static_cast<uint32_t>(systemNs / kNsPerSec);
  int64_t frac = systemNs % kNsPerSec;
  // Grid instants are whole nanoseconds, so round to the nearest frame slot.
  int frameNumber = static_cast<int>((frac * r + kNsPerSec / 2) / kNsPerSec);
  bool pre = preSettings();
  int field = pre ? condition_.preField.get() : condition_.postField.get();
  int sizeKiB = options_.frameKiB > 0 ? options_.frameKiB : (pre ? condition_.preSize.get() : condition_.postSize.get());
  int height = field == kFieldsFull ? kFullHeight : kFullHeight / 2;

  time_t t = static_cast<time_t>(second);
  struct tm local;
  localtime_r(&t, &local);
  CameraPicture::Jpeg jpeg = picture_.encode(kWidth, height, local, frameNumber, r);
  if (jpeg.data == nullptr) {
    ++dropped_;
    return;
  }
  size_t target = sizeKiB > 0 ? static_cast<size_t>(sizeKiB) * 1024 : 0;
  size_t jpegSize = CameraPicture::paddedSize(jpeg.size, target);
  uint32_t length = alignUp(sizeof(ENC_FRAME) + jpegSize);
  uint32_t offset = 0;
  uint64_t droppedBefore = dropped_;
  bool placed = place(length, &offset);
  if (!placed) ++dropped_;
  // One note when the ring starts dropping frames and one when it stops, not one per frame.
  bool dropping = dropped_ != droppedBefore;
  if (dropping && !dropping_) boardNote("camera: ring full, dropping frames from %u.%02d", second, frameNumber);
  if (!dropping && dropping_) {
    boardNote("camera: ring has room again at %u.%02d, %llu frames dropped so far", second, frameNumber,
              static_cast<unsigned long long>(dropped_));
  }
  dropping_ = dropping;
  if (!placed) return;
  auto* header = reinterpret_cast<ENC_FRAME*>(ring_ + offset);
  memset(header, 0, sizeof *header);
  header->seconds.set(second);
  header->microseconds.set(static_cast<uint32_t>(frac / kNsPerUs));
  header->frameNumber = static_cast<uint8_t>(frameNumber);
  header->preMark = pre ? ENC_FRAME_PRE_SETTINGS : 0;
  size_t written = CameraPicture::copyPadded(jpeg, target, ring_ + offset + sizeof(ENC_FRAME), jpegSize);
  header->jpegSize.set(static_cast<uint32_t>(written));
  frames_.push_back(Slot{offset, length});
  ++captured_;
}

void CameraDevice::captureDue() {
  if (!started_) return;
  int64_t elapsedNow = Clock::elapsed();
  // Capture instants are kept on the simulated elapsed clock and stamped with the time of day
  // they had, so a clock set by GPS moves the stamps but never stops or floods the camera.
  if (elapsedNow - nextCaptureElapsed_ > kMaxBacklogNs) nextCaptureElapsed_ = elapsedNow - kMaxBacklogNs;
  int r = rate();
  while (nextCaptureElapsed_ <= elapsedNow) {
    int64_t stamp = Clock::systemAt(nextCaptureElapsed_);
    captureOne(stamp);
    int64_t nextStamp = nextGridPoint(stamp + 1, r);
    nextCaptureElapsed_ += nextStamp - stamp;
  }
}

long CameraDevice::ioctl(unsigned long request, uintptr_t arg) {
  std::lock_guard<std::mutex> lock(mutex_);
  switch (request) {
    case CAM_JPEG_LOG_CONDITION_SET:
      if (arg == 0) return -EFAULT;
      memcpy(&condition_, reinterpret_cast<const void*>(arg), sizeof condition_);
      if (sensorOptions) {
        int field = preSettings() ? condition_.preField.get() : condition_.postField.get();
        int result = sensorOptions(field != kFieldsFull, false);
        if (result < 0) return result;
      }
      return 0;
    case CAM_REG_WRITE: {
      if (arg == 0) return -EFAULT;
      CAM_REG reg;
      memcpy(&reg, reinterpret_cast<const void*>(arg), sizeof reg);
      if (sensorWrite) {
        int result = sensorWrite(reg.address, reg.value);
        if (result < 0) return result;
      }
      registerWrites_.push_back({reg.address, reg.value});
      return 0;
    }
    case CAM_JPEG_LOG_START: {
      if (!started_) {
        started_ = true;
        int64_t elapsedNow = Clock::elapsed();
        int64_t systemNow = Clock::systemAt(elapsedNow);
        nextCaptureElapsed_ = elapsedNow + (nextGridPoint(systemNow, rate()) - systemNow);
      }
      return 0;
    }
    case CAM_JPEG_LOG_STOP:
      captureDue();  // what was captured before the stop stays
      started_ = false;
      return 0;
    case CAM_JPEG_GET_INDEX: {
      if (arg == 0) return -EFAULT;
      if (encoderFailed_) return -EIO;
      captureDue();
      ENC_INDEX index{0, 0};
      if (!frames_.empty()) {
        index.offset = frames_.front().offset;
        index.count = static_cast<uint32_t>(frames_.size());
        headGiven_ = true;
      }
      memcpy(reinterpret_cast<void*>(arg), &index, sizeof index);
      return 0;
    }
    case CAM_JPEG_POP_INDEX:
      captureDue();
      if (frames_.empty()) return -ENODATA;
      frames_.pop_front();
      headGiven_ = false;
      return 0;
    default:
      return -ENOTTY;
  }
}

std::vector<CameraDevice::RegisterWrite> CameraDevice::registerWrites() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registerWrites_;
}
uint64_t CameraDevice::capturedFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return captured_;
}
uint64_t CameraDevice::droppedFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}
size_t CameraDevice::framesInRing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.size();
}
bool CameraDevice::started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

void CameraDevice::failEncoder(bool failed) {
  std::lock_guard<std::mutex> lock(mutex_);
  encoderFailed_ = failed;
}
CAM_CONDITION CameraDevice::condition() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return condition_;
}

void connectCameraSensor(CameraDevice& camera) {
  camera.sensorSetup = [] { return cam_jpeg_sensor_open(); };
  camera.sensorOptions = [](bool a, bool b) { return cam_jpeg_sensor_options(a, b); };
  camera.sensorWrite = [](uint8_t reg, uint8_t value) { return cam_jpeg_sensor_write(reg, value); };
}

std::unique_ptr<BoardModel> makeCameraBoardModel() { return std::make_unique<CameraBoardModel>(); }
std::unique_ptr<RunnerExtension> makeCameraRunnerOptions() { return std::make_unique<CameraRunnerOptions>(); }

}  // namespace sim
