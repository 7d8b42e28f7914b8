#include "board/clock/ds1337_model.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/sim/clock.h"

namespace sim {
namespace {

constexpr int kTimeRegisters = 7;
constexpr uint8_t kCentury = 0x80;

uint8_t bcd(int v) { return static_cast<uint8_t>(((v / 10) << 4) | (v % 10)); }
int bin(uint8_t v) { return (v & 0x0f) + (v >> 4) * 10; }

// Days from 1900-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25567;  // 1970 → 1900
}

void civilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468 - 25567;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

}  // namespace

Ds1337Model::Ds1337Model(std::string path) : path_(std::move(path)) {
  // A fresh chip: 1900-01-01 00:00:00, a Monday by its own count (weekday register 1).
  chipAtRef_ = 0;
  worldAtRef_ = Clock::world();
  regs_[3] = 1;
  regs_[4] = 1;
  regs_[5] = 1;
  load();
  std::lock_guard<std::mutex> lock(mutex_);
  saveLocked();
}

Ds1337Model::Fields Ds1337Model::fieldsOf(int64_t s) {
  Fields f;
  int64_t days = s >= 0 ? s / 86400 : (s - 86399) / 86400;
  int64_t rest = s - days * 86400;
  civilFromDays(days, &f.year, &f.month, &f.day);
  f.hour = static_cast<int>(rest / 3600);
  f.minute = static_cast<int>(rest / 60 % 60);
  f.second = static_cast<int>(rest % 60);
  return f;
}

int64_t Ds1337Model::secondsOf(const Fields& f) {
  return daysFromCivil(f.year, f.month, f.day) * 86400 + f.hour * 3600 + f.minute * 60 + f.second;
}

int64_t Ds1337Model::chipSecondsLocked() const { return chipAtRef_ + (Clock::world() - worldAtRef_) / kNsPerSec; }

int64_t Ds1337Model::chipSeconds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return chipSecondsLocked();
}

void Ds1337Model::setChipSeconds(int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  chipAtRef_ = seconds;
  worldAtRef_ = Clock::world();
  saveLocked();
}

void Ds1337Model::failReads(int n) {
  std::lock_guard<std::mutex> lock(mutex_);
  failReads_ = n;
}

void Ds1337Model::failWrites(int n) {
  std::lock_guard<std::mutex> lock(mutex_);
  failWrites_ = n;
}

// The time registers as the chip shows them now.
void Ds1337Model::latchLocked() {
  if (latched_) return;
  latched_ = true;
  int64_t now = chipSecondsLocked();
  Fields f = fieldsOf(now);
  int64_t daysSinceRef = (now / 86400) - (chipAtRef_ / 86400);
  regs_[0] = bcd(f.second);
  regs_[1] = bcd(f.minute);
  regs_[2] = static_cast<uint8_t>((regs_[2] & 0x40) | bcd(f.hour));
  regs_[3] = static_cast<uint8_t>((weekdayAtRef_ - 1 + daysSinceRef % 7 + 7) % 7 + 1);
  regs_[4] = bcd(f.day);
  regs_[5] = static_cast<uint8_t>((f.year >= 2000 ? kCentury : 0) | bcd(f.month));
  regs_[6] = bcd(f.year % 100);
}

int Ds1337Model::write(const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (length > 1 && failWrites_ > 0) {
    --failWrites_;
    return -EREMOTEIO;
  }
  if (length == 0) return 0;
  pointer_ = data[0] & 0x0f;
  for (size_t i = 1; i < length; ++i) {
    if (pointer_ < kTimeRegisters) {
      latchLocked();  // registers not written keep the running time
      written_ |= static_cast<uint8_t>(1u << pointer_);
      timeWritten_ = true;
    }
    regs_[pointer_] = data[i];
    pointer_ = (pointer_ + 1) & 0x0f;
  }
  if (!timeWritten_ && length > 1) saveLocked();
  return 0;
}

int Ds1337Model::read(uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failReads_ > 0) {
    --failReads_;
    return -EREMOTEIO;
  }
  latchLocked();
  for (size_t i = 0; i < length; ++i) {
    data[i] = regs_[pointer_];
    pointer_ = (pointer_ + 1) & 0x0f;
  }
  return 0;
}

void Ds1337Model::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (timeWritten_) commitLocked();
  latched_ = false;
  timeWritten_ = false;
  written_ = 0;
}

void Ds1337Model::commitLocked() {
  Fields f;
  f.second = bin(regs_[0] & 0x7f);
  f.minute = bin(regs_[1] & 0x7f);
  f.hour = bin(regs_[2] & 0x3f);
  f.day = bin(regs_[4] & 0x3f);
  f.month = bin(regs_[5] & 0x1f);
  f.year = 1900 + ((regs_[5] & kCentury) ? 100 : 0) + bin(regs_[6]);
  if (f.month < 1 || f.month > 12) f.month = 1;
  if (f.day < 1) f.day = 1;
  chipAtRef_ = secondsOf(f);
  worldAtRef_ = Clock::world();
  weekdayAtRef_ = regs_[3] >= 1 && regs_[3] <= 7 ? regs_[3] : 1;
  saveLocked();
}

void Ds1337Model::load() {
  if (path_.empty()) return;
  std::ifstream in(path_);
  std::string line;
  std::lock_guard<std::mutex> lock(mutex_);
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "chip_seconds") {
      words >> chipAtRef_;
    } else if (key == "world_ns") {
      words >> worldAtRef_;
    } else if (key == "weekday") {
      words >> weekdayAtRef_;
    } else if (key == "registers") {
      for (uint8_t& r : regs_) {
        unsigned v = 0;
        words >> std::hex >> v;
        r = static_cast<uint8_t>(v);
      }
    }
  }
}

void Ds1337Model::saveLocked() const {
  if (path_.empty()) return;
  std::ostringstream out;
  Fields f = fieldsOf(chipAtRef_);
  char when[64];
  snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute, f.second);
  out << "# DS1337 clock chip, battery-backed: read " << when << " at the world time below\n";
  out << "chip_seconds " << chipAtRef_ << "\nworld_ns " << worldAtRef_ << "\nweekday " << weekdayAtRef_
      << "\nregisters";
  for (uint8_t r : regs_) out << ' ' << std::hex << static_cast<unsigned>(r) << std::dec;
  out << "\n";
  std::string tmp = path_ + ".tmp";
  std::ofstream(tmp, std::ios::trunc) << out.str();
  std::rename(tmp.c_str(), path_.c_str());
}

}  // namespace sim
