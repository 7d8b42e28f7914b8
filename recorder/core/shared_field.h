// A plain value that one thread writes and others read without a lock.
//
// It has the size and layout of the value (so records that hold it keep their byte layout) and
// the semantics of a plain aligned load or store, expressed as a relaxed atomic so that the
// compiler neither tears nor caches it.
#pragma once

#include <atomic>
#include <type_traits>

template <typename T>
class SharedField {
  static_assert(std::is_integral_v<T>);

 public:
  constexpr SharedField() noexcept : value_(T{}) {}
  constexpr SharedField(T v) noexcept : value_(v) {}  // NOLINT: reads like the plain value
  SharedField(const SharedField& other) noexcept : value_(other.load()) {}
  SharedField& operator=(const SharedField& other) noexcept {
    store(other.load());
    return *this;
  }
  SharedField& operator=(T v) noexcept {
    store(v);
    return *this;
  }
  operator T() const noexcept { return load(); }  // NOLINT
  T load() const noexcept { return value_.load(std::memory_order_relaxed); }
  void store(T v) noexcept { value_.store(v, std::memory_order_relaxed); }

 private:
  std::atomic<T> value_;
};

static_assert(sizeof(SharedField<int32_t>) == 4 && alignof(SharedField<int32_t>) == 4);
static_assert(sizeof(SharedField<int16_t>) == 2 && alignof(SharedField<int16_t>) == 2);
static_assert(sizeof(SharedField<uint8_t>) == 1);
