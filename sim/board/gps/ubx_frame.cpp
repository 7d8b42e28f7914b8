#include "board/gps/ubx_frame.h"

namespace sim {

UbxPayload& UbxPayload::text(const std::string& s, size_t size) {
  for (size_t i = 0; i < size; ++i) bytes_.push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
  return *this;
}

void ubxChecksum(const uint8_t* bytes, size_t count, uint8_t* a, uint8_t* b) {
  uint8_t ca = 0, cb = 0;
  for (size_t i = 0; i < count; ++i) {
    ca = static_cast<uint8_t>(ca + bytes[i]);
    cb = static_cast<uint8_t>(cb + ca);
  }
  *a = ca;
  *b = cb;
}

std::vector<uint8_t> ubxFrame(uint8_t cls, uint8_t id, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> f;
  f.reserve(payload.size() + 8);
  for (uint8_t b : {uint8_t{0xB5}, uint8_t{0x62}, cls, id, static_cast<uint8_t>(payload.size()),
                    static_cast<uint8_t>(payload.size() >> 8)}) {
    f.push_back(b);
  }
  for (uint8_t b : payload) f.push_back(b);
  uint8_t a, b;
  ubxChecksum(f.data() + 2, f.size() - 2, &a, &b);
  f.push_back(a);
  f.push_back(b);
  return f;
}

void UbxParser::feed(uint8_t byte) {
  // The checksum runs over class, id, length and payload as they come.
  auto sum = [this](uint8_t b) {
    sumA_ = static_cast<uint8_t>(sumA_ + b);
    sumB_ = static_cast<uint8_t>(sumB_ + sumA_);
  };
  switch (state_) {
    case 0:
      if (byte == 0xB5) state_ = 1;
      return;
    case 1:
      state_ = byte == 0x62 ? 2 : byte == 0xB5 ? 1 : 0;
      sumA_ = sumB_ = 0;
      return;
    case 2:
      cls_ = byte;
      sum(byte);
      state_ = 3;
      return;
    case 3:
      id_ = byte;
      sum(byte);
      state_ = 4;
      return;
    case 4:
      length_ = byte;
      sum(byte);
      state_ = 5;
      return;
    case 5:
      length_ |= static_cast<size_t>(byte) << 8;
      sum(byte);
      payload_.clear();
      if (length_ > maxPayload_) {
        state_ = 0;
        return;
      }
      state_ = length_ == 0 ? 7 : 6;
      return;
    case 6:
      payload_.push_back(byte);
      sum(byte);
      if (payload_.size() == length_) state_ = 7;
      return;
    case 7:
      ckA_ = byte;
      state_ = 8;
      return;
    default:
      state_ = 0;
      if (ckA_ == sumA_ && byte == sumB_) onFrame_(cls_, id_, payload_);
      return;
  }
}

}  // namespace sim
