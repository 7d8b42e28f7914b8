// UBX frames as the published u-blox protocol defines them: sync characters 0xB5 0x62, class,
// id, a little-endian payload length, the payload, and the two bytes of an 8-bit Fletcher
// checksum over class, id, length and payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Builds payloads field by field, little endian.
class UbxPayload {
 public:
  UbxPayload& u1(uint8_t v) { bytes_.push_back(v); return *this; }
  UbxPayload& u2(uint16_t v) { return u1(static_cast<uint8_t>(v)).u1(static_cast<uint8_t>(v >> 8)); }
  UbxPayload& u4(uint32_t v) { return u2(static_cast<uint16_t>(v)).u2(static_cast<uint16_t>(v >> 16)); }
  UbxPayload& i1(int8_t v) { return u1(static_cast<uint8_t>(v)); }
  UbxPayload& i2(int16_t v) { return u2(static_cast<uint16_t>(v)); }
  UbxPayload& i4(int32_t v) { return u4(static_cast<uint32_t>(v)); }
  UbxPayload& r8(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return u4(static_cast<uint32_t>(bits)).u4(static_cast<uint32_t>(bits >> 32));
  }
  // A text in a fixed-size field, padded with NULs.
  UbxPayload& text(const std::string& s, size_t size);
  UbxPayload& raw(const std::vector<uint8_t>& b) {
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> ubxFrame(uint8_t cls, uint8_t id, const std::vector<uint8_t>& payload);
// The checksum over `count` bytes (class to the end of the payload).
void ubxChecksum(const uint8_t* bytes, size_t count, uint8_t* a, uint8_t* b);

// Little-endian reads from a payload.
inline uint16_t ubxU2(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ubxU4(const uint8_t* p) { return static_cast<uint32_t>(ubxU2(p)) | (static_cast<uint32_t>(ubxU2(p + 2)) << 16); }
inline int32_t ubxI4(const uint8_t* p) { return static_cast<int32_t>(ubxU4(p)); }

// Finds frames in a byte stream: every frame with a good checksum goes to the callback, the rest
// is skipped. A length beyond `maxPayload` is no frame.
class UbxParser {
 public:
  using Frame = std::function<void(uint8_t cls, uint8_t id, const std::vector<uint8_t>& payload)>;
  explicit UbxParser(Frame onFrame, size_t maxPayload = 1024) : onFrame_(std::move(onFrame)), maxPayload_(maxPayload) {}
  void feed(uint8_t byte);
  void reset() { state_ = 0; }

 private:
  Frame onFrame_;
  size_t maxPayload_;
  int state_ = 0;
  uint8_t cls_ = 0, id_ = 0, ckA_ = 0, sumA_ = 0, sumB_ = 0;
  size_t length_ = 0;
  std::vector<uint8_t> payload_;
};

}  // namespace sim
