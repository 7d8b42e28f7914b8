// The simulated camera's pictures: a simple road scene with the capture date, time and frame
// number drawn large, so a person sees at a glance which frame a picture is. Real JPEG streams
// (libjpeg-turbo), padded with APP15 segments up to the size the settings ask for.
//
// What can be cached is: the scene is drawn once, the date and time strip once per second;
// per frame only the frame number and a marker that moves with it are drawn, then encoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

namespace sim {

class CameraPicture {
 public:
  CameraPicture();
  ~CameraPicture();
  CameraPicture(const CameraPicture&) = delete;
  CameraPicture& operator=(const CameraPicture&) = delete;

  // Encodes the picture of a frame; gives the JPEG stream (valid until the next call) or an
  // empty span on failure. `localTime` is the capture second as the board shows it.
  struct Jpeg {
    const uint8_t* data = nullptr;
    size_t size = 0;
  };
  Jpeg encode(int width, int height, const struct tm& localTime, int frameNumber, int rate);

  // Copies a JPEG stream to `out`, inserting APP15 padding after the encoder's first segment
  // so that the result is at least `targetSize` bytes (never smaller than the stream). Gives
  // the bytes written, 0 when `capacity` is too small.
  static size_t copyPadded(const Jpeg& jpeg, size_t targetSize, uint8_t* out, size_t capacity);
  // The size copyPadded gives.
  static size_t paddedSize(size_t jpegSize, size_t targetSize);

 private:
  void prepare(int width, int height);
  void drawTimeStrip(const struct tm& localTime);
  void drawFrameArea(int frameNumber, int rate);

  void* handle_ = nullptr;
  int width_ = 0, height_ = 0;
  std::vector<uint8_t> sceneY_, y_, u_, v_;
  time_t stripKey_ = -1;
  unsigned char* out_ = nullptr;
  size_t outCapacity_ = 0;
};

}  // namespace sim
