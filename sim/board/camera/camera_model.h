// The camera and JPEG encoder behind /dev/cam0, as a model (the real driver is not part of this
// system). It answers exactly the requests the recorder makes:
//   CAM_JPEG_LOG_CONDITION_SET  takes the 56 bytes of encoding settings;
//   CAM_REG_WRITE               a sensor register write (recorded, and sent to the sensor);
//   mmap                        the 48 MiB encoder ring, read-only for the program (two mappings
//                               of one memfd: the model's is writable, the program's cannot be);
//   CAM_JPEG_LOG_START / STOP   starts and stops capturing;
//   CAM_JPEG_GET_INDEX          offset of the oldest frame not yet released, count 0 when none;
//   CAM_JPEG_POP_INDEX          releases that frame.
// One opener at a time; a second open gets -EBUSY, as the real driver refuses it.
//
// Frames. Each frame in the ring is a 24-byte ENC_FRAME header followed by a real JPEG picture
// of a simple scene with the capture date, time and frame number drawn in (CameraPicture). Frames
// are captured at the settings' frame rate on the simulated clock, at whole-second boundaries of
// the board's time of day plus k/rate, and stamped with that time of day (what gettimeofday
// gives) and their number within the second. The model has no thread: a request first captures
// every frame whose time has come, so runs with a hand-stepped clock are exact.
//
// Pre and post settings. The camera has no trigger input, so it cannot know where an event
// begins. It picks the settings by the recording mode in the conditions: event recording
// (mode 2) encodes every frame under the pre settings (PRERECINT1 rate, PRESIZE1 size,
// PREFIELD1 field) and marks it 2 in header byte 13; continuous recording uses the post
// settings and marks 0. Size is the picture size in KiB: pictures are padded up to it with APP15
// segments (never cut). Field 4 gives 640x480 pictures, field 2 gives 640x240. The board option
// "cam-frame-kb" overrides the size (for tests of large pictures).
//
// A full ring. The ring keeps the newest frames: when a new frame finds no room, the oldest
// frames are dropped to make room, except the frame the program has been given (by
// CAM_JPEG_GET_INDEX) and not yet released, which is never moved or written over; the new frame
// is placed after it instead. Only when even that leaves no room is the new frame dropped. The
// drops are counted (droppedFrames()) and noted on the board's console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "board/board_model.h"
#include "board/camera/camera_picture.h"
#include "platform/sim/devices.h"
#include "record/cam_interface.h"

namespace sim {

struct CameraOptions {
  size_t ringSize = CAM_ENC_BUFFER_SIZE;  // smaller in tests of a full ring
  int frameKiB = 0;  // 0: the size setting decides
};

class CameraDevice : public DeviceNode, public std::enable_shared_from_this<CameraDevice> {
 public:
  explicit CameraDevice(CameraOptions options = {});
  ~CameraDevice() override;

  int open(int flags, std::unique_ptr<DeviceFile>* file) override;

  // The image sensor, reached as the real driver reaches it: through the zr31camera module on
  // the board's I2C bus (the board sets these to the driver's C side, outside/cam_jpeg.c).
  // Unset, the camera has no sensor to talk to (tests of the ring alone).
  //   sensorSetup    at open: i2c_zr31camera_device_new(), which finds the sensor and writes its
  //                  start-up table; a negative result fails the open with that error;
  //   sensorOptions  at CAM_JPEG_LOG_CONDITION_SET: the sensor's option command. Option A is on
  //                  when the pictures are half height (field 2); option B is not used by this
  //                  camera. A failure fails the request;
  //   sensorWrite    at CAM_REG_WRITE: the value into the register; a failure fails the request.
  std::function<int()> sensorSetup;
  std::function<int(bool optionA, bool optionB)> sensorOptions;
  std::function<int(uint8_t reg, uint8_t value)> sensorWrite;

  // What tests look at.
  struct RegisterWrite {
    uint8_t address, value;
  };
  std::vector<RegisterWrite> registerWrites() const;
  uint64_t capturedFrames() const;
  uint64_t droppedFrames() const;
  size_t framesInRing() const;
  bool started() const;
  // An encoder that has stopped: no frame is captured and every index request fails (EIO).
  void failEncoder(bool failed);
  CAM_CONDITION condition() const;
  // The model's own (writable) view of the ring, for tests that check a frame stays unchanged.
  const uint8_t* ringForTests() const { return ring_; }

  // Requests of an open file.
  long ioctl(unsigned long request, uintptr_t arg);
  int mmapSource(size_t length, off_t offset, bool writable, int* hostFd, off_t* hostOffset);
  void release();

 private:
  struct Slot {
    uint32_t offset;
    uint32_t length;  // header and JPEG, rounded up
  };

  void captureDue();  // with mutex_ held
  void captureOne(int64_t systemNs);
  bool place(uint32_t length, uint32_t* offset);
  int rate() const;
  bool preSettings() const;

  CameraOptions options_;
  mutable std::mutex mutex_;
  int memfd_ = -1;
  size_t mapSize_ = 0;
  uint8_t* ring_ = nullptr;
  bool open_ = false;
  bool started_ = false;
  bool encoderFailed_ = false;
  CAM_CONDITION condition_{};
  std::vector<RegisterWrite> registerWrites_;
  std::deque<Slot> frames_;  // capture order, oldest first
  bool headGiven_ = false;   // the oldest frame was handed out and is not yet released
  uint32_t writePos_ = 0;
  int64_t nextCaptureElapsed_ = 0;  // simulated elapsed time of the next capture
  uint32_t lastSecond_ = 0;
  int frameInSecond_ = 0;
  uint64_t captured_ = 0, dropped_ = 0;
  bool dropping_ = false;
  CameraPicture picture_;
};

// Gives the camera the sensor of the board's emulated kernel: the camera driver's sensor side
// (outside/cam_jpeg.c), which needs the board's modules loaded (Tq90raBoard).
void connectCameraSensor(CameraDevice& camera);
// Registers /dev/cam0 at boot, with the sensor connected.
std::unique_ptr<BoardModel> makeCameraBoardModel();
// recorder-sim's --cam-frame-kb.
std::unique_ptr<RunnerExtension> makeCameraRunnerOptions();

}  // namespace sim
