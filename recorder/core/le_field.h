// Little-endian fields for records that are written to files or read from a device as bytes.
//
// Each field is a plain byte array with the width of the value, so a structure made of them has
// alignment 1, no padding and the same layout on every host; the value is always stored little
// endian, whatever the host's own byte order. The records of the card's files and the GPS fix
// record are built from these, and checked with static_assert on size and offsets.
//
// This header needs nothing but the C++ library, so the PC tools can reuse the file formats.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace le {

inline void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t get64(const uint8_t* p) {
  return static_cast<uint64_t>(get32(p)) | (static_cast<uint64_t>(get32(p + 4)) << 32);
}

// A field of type T (an integer of 1, 2, 4 or 8 bytes, or double) kept as little-endian bytes.
template <typename T>
struct Field {
  static_assert(std::is_arithmetic_v<T> && (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8));
  uint8_t bytes[sizeof(T)];

  void set(T v) {
    if constexpr (std::is_floating_point_v<T>) {
      static_assert(sizeof(T) == 8, "only binary64 is used in the files");
      uint64_t bits;
      memcpy(&bits, &v, sizeof bits);
      put64(bytes, bits);
    } else if constexpr (sizeof(T) == 1) {
      bytes[0] = static_cast<uint8_t>(v);
    } else if constexpr (sizeof(T) == 2) {
      put16(bytes, static_cast<uint16_t>(v));
    } else if constexpr (sizeof(T) == 4) {
      put32(bytes, static_cast<uint32_t>(v));
    } else {
      put64(bytes, static_cast<uint64_t>(v));
    }
  }
  T get() const {
    if constexpr (std::is_floating_point_v<T>) {
      uint64_t bits = get64(bytes);
      T v;
      memcpy(&v, &bits, sizeof v);
      return v;
    } else if constexpr (sizeof(T) == 1) {
      return static_cast<T>(bytes[0]);
    } else if constexpr (sizeof(T) == 2) {
      return static_cast<T>(get16(bytes));
    } else if constexpr (sizeof(T) == 4) {
      return static_cast<T>(get32(bytes));
    } else {
      return static_cast<T>(get64(bytes));
    }
  }
};

using U16 = Field<uint16_t>;
using I16 = Field<int16_t>;
using U32 = Field<uint32_t>;
using I32 = Field<int32_t>;
using F64 = Field<double>;

static_assert(sizeof(U16) == 2 && alignof(U16) == 1);
static_assert(sizeof(F64) == 8 && alignof(F64) == 1);

}  // namespace le
