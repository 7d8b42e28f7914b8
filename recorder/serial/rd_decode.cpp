// The receiver of the controller's frames: bytes in, whole frames with a good checksum out.
#include <cstring>

#include "core/trace.h"
#include "serial/rd_com.h"

#define TAG RD_COM_TAG

namespace {

// Kept between reads, so that a frame may arrive in several pieces. Only the controller thread
// uses it.
rd::FrameDecoder gReceiver;

}  // namespace

int GetCheckSum(const uint8_t* bytes, int count, uint8_t* out) {
  *out = count > 0 ? rd::checksum(bytes, static_cast<size_t>(count)) : 0;
  return 0;
}

void RdComResetReceiver() { gReceiver.reset(); }

int DecodeRDCommand(const uint8_t* bytes, int count, rd::Frame* frame) {
  int result = -1;
  for (int i = 0; i < count; ++i) {
    switch (gReceiver.feed(bytes[i])) {
      case rd::FrameDecoder::Event::Frame:
        TRACE(TAG, "CheckSum Test Sucssess!!!");
        // The whole frame as received: a LEN of 0 carries 256 payload bytes, not none.
        frame->length = gReceiver.frameLength();
        memcpy(frame->bytes, gReceiver.frame(), frame->length);
        result = 0;
        break;
      case rd::FrameDecoder::Event::BadChecksum:
        TRACE(TAG, "CheckSum Test Failed!!!");
        break;
      case rd::FrameDecoder::Event::None:
        break;
    }
  }
  return result;
}

int RdComFuzzDecode(const uint8_t* data, size_t size) {
  RdComResetReceiver();
  rd::Frame frame;
  int frames = 0;
  // In pieces of varying size, as reads deliver them; a completed frame must hold together.
  size_t at = 0;
  while (at < size) {
    size_t piece = 1 + data[at] % 64;
    if (piece > size - at) piece = size - at;
    if (DecodeRDCommand(data + at, static_cast<int>(piece), &frame) == 0) {
      bool whole = frame.length >= rd::kHeaderSize + 2 && frame.length <= rd::kMaxFrame &&
                   frame.bytes[0] == rd::kStartByte &&
                   rd::payloadCount(frame.bytes[rd::kOffLen]) == frame.payloadSize() &&
                   rd::checksum(frame.bytes, frame.length) == 0;
      if (!whole) return -1;
      ++frames;
    }
    at += piece;
  }
  RdComResetReceiver();
  return frames;
}
