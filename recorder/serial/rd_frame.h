// The controller's frames on serial port 1, one definition for the program and the PC tools.
//
// Every frame, in both directions:
//   F0  LEN  CMD  payload...  checksum
// LEN counts the payload bytes between CMD and the checksum. In a command to the recorder LEN 0
// stands for 256, so the largest frame is 260 bytes; the recorder's ACK and NACK are the only
// answers with LEN 0, and they carry no payload (F0 00 0F 01, F0 00 0E 02). The checksum makes
// all bytes of the frame add up to 0 modulo 256.
// Multi-byte values are little endian (le::Field); the payload structures below have alignment
// 1 and no padding, and are checked on size and offsets.
//
// This header depends on nothing of the program, so the tools can include it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/le_field.h"

namespace rd {

constexpr uint8_t kStartByte = 0xF0;
constexpr size_t kHeaderSize = 3;  // start, LEN, CMD
constexpr size_t kMaxPayload = 256;
constexpr size_t kMaxFrame = kHeaderSize + kMaxPayload + 1;  // 260
// Byte offsets within a frame.
constexpr size_t kOffLen = 1;
constexpr size_t kOffCmd = 2;
constexpr size_t kOffPayload = 3;

// Commands from the controller.
constexpr uint8_t kCmdDataRequest = 0x92;
constexpr uint8_t kCmdConfigUpdate = 0xA3;
constexpr uint8_t kCmdControlRequest = 0xA4;
// Responses of the recorder.
constexpr uint8_t kRspAck = 0x0F;
constexpr uint8_t kRspNack = 0x0E;
constexpr uint8_t kRspSettings = 0x06;
constexpr uint8_t kRspVersion = 0x03;
constexpr uint8_t kRspStatus = 0x07;

// Settings types: byte 3 of a settings frame or update.
constexpr uint8_t kSettingsRecording = 0;
constexpr uint8_t kSettingsGsensor = 1;

// Data request flags: byte 3 (kDataRecording) and byte 4 (the others).
constexpr uint8_t kDataRecording = 0x01;   // byte 3
constexpr uint8_t kDataGsensor = 0x01;     // byte 4
constexpr uint8_t kDataStatus = 0x02;      // byte 4 (0x04 asks the same)
constexpr uint8_t kDataStatusAlt = 0x04;   // byte 4
constexpr uint8_t kDataVersion = 0x08;     // byte 4

// Control request: byte 3.
constexpr uint8_t kControlTrigger = 0;
constexpr uint8_t kControlPing = 1;  // answered by ACK only

// Payload count given by a LEN byte.
constexpr size_t payloadCount(uint8_t len) { return len == 0 ? kMaxPayload : len; }
// The LEN byte for a payload count (1..256).
constexpr uint8_t lenByte(size_t payload) { return static_cast<uint8_t>(payload & 0xFF); }

// The two's complement of the 8-bit sum of the bytes.
inline uint8_t checksum(const uint8_t* bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return static_cast<uint8_t>(-sum);
}

// Builds a frame around a payload of 0..256 bytes into out (kMaxFrame bytes); gives its length,
// or 0 for a payload that no frame can carry. Both 0 and 256 bytes give LEN 0.
inline size_t buildFrame(uint8_t cmd, const void* payload, size_t count, uint8_t* out) {
  if (count > kMaxPayload) return 0;
  out[0] = kStartByte;
  out[kOffLen] = lenByte(count);
  out[kOffCmd] = cmd;
  if (count > 0) memcpy(out + kOffPayload, payload, count);
  size_t n = kOffPayload + count;
  out[n] = checksum(out, n);
  return n + 1;
}

// ---- payloads ---------------------------------------------------------------------------------

// Recording settings: the recorder's settings frame of type 0 (F0 11 06 ...) and the
// controller's update of type 0 (F0 11 A3 ...) carry the same 17 bytes. In the update, byte
// `one` is not used.
struct RecordingSettings {
  uint8_t type;  // 0
  uint8_t one;   // always 1 in the recorder's frame
  uint8_t RECINGMODE1;
  le::U16 PRERECTIME1;
  le::U16 POSTRECTIME1;
  le::U16 PRERECINT1;
  le::U16 POSTRECINT1;
  le::U16 PRESIZE1;
  le::U16 POSTSIZE1;
  uint8_t PREFIELD1;
  uint8_t POSTFIELD1;
};
static_assert(sizeof(RecordingSettings) == 17 && alignof(RecordingSettings) == 1);
static_assert(offsetof(RecordingSettings, RECINGMODE1) == 2 && offsetof(RecordingSettings, PRERECTIME1) == 3);
static_assert(offsetof(RecordingSettings, POSTSIZE1) == 13 && offsetof(RecordingSettings, POSTFIELD1) == 16);

// G-sensor settings: the settings frame of type 1 (F0 0A 06 01 ...) and the update of type 1.
struct GsensorSettings {
  uint8_t type;  // 1
  uint8_t ACCSEN;
  le::I16 ACCSENX;
  le::I16 ACCSENY;
  le::I16 ACCSENZ;
  uint8_t TRGSET;
  uint8_t RECMOD;
};
static_assert(sizeof(GsensorSettings) == 10 && alignof(GsensorSettings) == 1);
static_assert(offsetof(GsensorSettings, ACCSENX) == 2 && offsetof(GsensorSettings, TRGSET) == 8);

struct Version {
  uint8_t major;
  uint8_t minor;
  uint8_t subminor;
  uint8_t rc;
};
static_assert(sizeof(Version) == 4);

// The record status block: 12 bytes, built by the recording thread when asked, copied by the
// supervisor and sent by the controller thread. Bytes 5, 10 and 11 are not sent on the line.
struct RecordStatus {
  le::U32 lastTriggerSecond;  // 0  clock second of the last accepted trigger since start; 0: none
  uint8_t state;              // 4  kState* bits
  uint8_t reserved5;          // 5
  le::U16 freeMiB;            // 6  free space of the card in MiB (65535 and more: 65535)
  le::U16 latestSequence;     // 8  sequence number of the newest recording in the mode's folder
  uint8_t reserved10[2];      // 10
};
static_assert(sizeof(RecordStatus) == 12 && alignof(RecordStatus) == 1);
static_assert(offsetof(RecordStatus, state) == 4 && offsetof(RecordStatus, freeMiB) == 6);
static_assert(offsetof(RecordStatus, latestSequence) == 8);

// Bits of RecordStatus::state.
constexpr uint8_t kStateContinuous = 0x01;   // continuous recording (clear: event recording)
constexpr uint8_t kStateWriting = 0x02;      // a file pair is open and being written
constexpr uint8_t kStateCardFailed = 0x04;   // card or camera failed: nothing is written
constexpr uint8_t kStateCardFull = 0x08;     // card full: no new recording starts
constexpr uint8_t kStateOverwrite = 0x10;    // the oldest recordings are being removed
constexpr uint8_t kStateCharged = 0x20;      // the back-up capacitor is charged: writing allowed
constexpr uint8_t kStateEventActive = 0x40;  // an event window or period is running
constexpr uint8_t kStatePowerLoss = 0x80;    // the main supply failed during a write

// The record status frame's payload: status bytes 0-3, 4, 6-7, 8-9 and a 0 byte.
struct StatusPayload {
  le::U32 lastTriggerSecond;
  uint8_t state;
  le::U16 freeMiB;
  le::U16 latestSequence;
  uint8_t zero;
};
static_assert(sizeof(StatusPayload) == 10 && alignof(StatusPayload) == 1);

inline StatusPayload statusPayload(const RecordStatus& s) {
  StatusPayload p;
  p.lastTriggerSecond = s.lastTriggerSecond;
  p.state = s.state;
  p.freeMiB = s.freeMiB;
  p.latestSequence = s.latestSequence;
  p.zero = 0;
  return p;
}

// ---- receiving --------------------------------------------------------------------------------

// A frame as received: its bytes and its length (header, payload, checksum).
struct Frame {
  uint8_t bytes[kMaxFrame];
  size_t length;

  uint8_t cmd() const { return bytes[kOffCmd]; }
  size_t payloadSize() const { return length - kHeaderSize - 1; }
  const uint8_t* payload() const { return bytes + kOffPayload; }
  // Payload byte i (0 is frame byte 3), or 0 past the payload.
  uint8_t payloadByte(size_t i) const { return i < payloadSize() ? payload()[i] : 0; }
};

// Assembles frames out of a byte stream that may arrive in pieces. Bytes before a start byte
// are skipped. A frame never outgrows the buffer: LEN gives at most 256 payload bytes.
class FrameDecoder {
 public:
  enum class Event { None, Frame, BadChecksum };
  enum State : int { kWaitStart = 0, kLength = 1, kCommand = 2, kPayload = 3, kChecksum = 4 };
  // What LEN 0 means: 256 payload bytes in a command, none in an answer (ACK, NACK).
  enum class LenZero { Carries256, CarriesNone };

  explicit FrameDecoder(LenZero lenZero = LenZero::Carries256) : lenZero_(lenZero) {}

  // Takes one byte. On Event::Frame the completed frame is in frame() until the next byte.
  Event feed(uint8_t byte) {
    switch (m_nState) {
      case kWaitStart:
        if (byte != kStartByte) return Event::None;
        m_wIndex = 0;
        store(byte);
        m_nState = kLength;
        return Event::None;
      case kLength:
        store(byte);
        m_pLength = byte;  // counts down modulo 256: LEN 0 carries 256 bytes
        m_nState = kCommand;
        return Event::None;
      case kCommand:
        store(byte);
        m_nState = m_pLength == 0 && lenZero_ == LenZero::CarriesNone ? kChecksum : kPayload;
        return Event::None;
      case kPayload:
        store(byte);
        m_pLength = static_cast<uint8_t>(m_pLength - 1);
        if (m_pLength == 0) m_nState = kChecksum;
        return Event::None;
      default: {
        uint8_t expected = checksum(m_pData, m_wIndex);
        store(byte);
        size_t length = m_wIndex;
        reset();
        if (byte != expected) return Event::BadChecksum;
        frameLength_ = length;
        return Event::Frame;
      }
    }
  }
  void reset() {
    m_nState = kWaitStart;
    m_wIndex = 0;
    m_pLength = 0;
  }
  const uint8_t* frame() const { return m_pData; }
  size_t frameLength() const { return frameLength_; }
  int state() const { return m_nState; }

 private:
  void store(uint8_t byte) {
    // The states allow at most kMaxFrame bytes; the test only guards against a broken state.
    if (m_wIndex < sizeof m_pData) m_pData[m_wIndex++] = byte;
  }

  LenZero lenZero_;
  int m_nState = kWaitStart;
  size_t m_wIndex = 0;
  uint8_t m_pLength = 0;  // payload bytes still to come
  uint8_t m_pData[kMaxFrame] = {};
  size_t frameLength_ = 0;
};

}  // namespace rd
