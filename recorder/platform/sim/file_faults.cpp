#include "platform/sim/file_faults.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace sim {

void FileFaults::failAfter(Call call, int after, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Rule& r = rules_[static_cast<int>(call)];
  r.armed = true;
  r.after = after < 0 ? 0 : after;
  r.error = error;
  r.calls = 0;
}

void FileFaults::noSpaceAfter(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  noSpace_ = true;
  spaceLeft_ = bytes;
}

void FileFaults::setReadOnly(bool readOnly) {
  std::lock_guard<std::mutex> lock(mutex_);
  readOnly_ = readOnly;
}

void FileFaults::setRemoved(bool removed) {
  std::lock_guard<std::mutex> lock(mutex_);
  removed_ = removed;
}

void FileFaults::cutPowerAfterWrites(int64_t writes, std::function<void()> cut, const std::string& pathPart) {
  std::lock_guard<std::mutex> lock(mutex_);
  cutWrites_ = 0;
  cutAt_ = writes < 1 ? 1 : writes;
  cutPathPart_ = pathPart;
  for (char& c : cutPathPart_) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  cut_ = std::move(cut);
}

bool FileFaults::countsTowardCut(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!cut_ || cutPathPart_.empty()) return true;
  auto sameLetter = [](char a, char b) {
    return tolower(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
  };
  return std::search(path.begin(), path.end(), cutPathPart_.begin(), cutPathPart_.end(), sameLetter) != path.end();
}

void FileFaults::removeAfterWrites(int64_t writes) {
  std::lock_guard<std::mutex> lock(mutex_);
  removeAt_ = writes_ + (writes < 1 ? 1 : writes);
}

void FileFaults::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Rule& r : rules_) r = Rule{};
  noSpace_ = readOnly_ = removed_ = false;
  spaceLeft_ = 0;
  writes_ = 0;
  cutAt_ = 0;
  cutWrites_ = 0;
  cutPathPart_.clear();
  removeAt_ = 0;
  cut_ = nullptr;
}

int64_t FileFaults::writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

std::string FileFaults::describe() const {
  std::lock_guard<std::mutex> lock(mutex_);
  static const char* const kNames[kCalls] = {"write", "fsync", "close"};
  std::string text;
  auto add = [&text](const std::string& s) { text += (text.empty() ? "" : ", ") + s; };
  for (int i = 0; i < kCalls; ++i) {
    const Rule& r = rules_[i];
    if (r.armed) add(std::string(kNames[i]) + " fails (errno " + std::to_string(r.error) + ") after " + std::to_string(r.after));
  }
  if (noSpace_) add("full after " + std::to_string(spaceLeft_) + " bytes");
  if (readOnly_) add("read-only");
  if (removed_) add("removed");
  if (cut_) {
    add("power cut at write " + std::to_string(cutAt_) +
        (cutPathPart_.empty() ? "" : " of files under \"" + cutPathPart_ + "\""));
  }
  if (removeAt_ > 0 && !removed_) add("pulled out at write " + std::to_string(removeAt_));
  return text.empty() ? "none" : text;
}

int FileFaults::openError(bool writing) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (removed_) return EIO;
  if (writing && readOnly_) return EROFS;
  return 0;
}

int FileFaults::pathError(bool modifying) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (removed_) return EIO;
  if (modifying && readOnly_) return EROFS;
  return 0;
}

ssize_t FileFaults::writeAllowance(size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (removed_) return -EIO;
  if (readOnly_) return -EROFS;
  Rule& r = rules_[static_cast<int>(Call::Write)];
  if (r.armed && r.calls++ >= r.after) return -r.error;
  if (noSpace_) {
    if (spaceLeft_ == 0) return -ENOSPC;
    if (count > spaceLeft_) return static_cast<ssize_t>(spaceLeft_);
  }
  return static_cast<ssize_t>(count);
}

void FileFaults::wrote(size_t written, bool towardCut) {
  std::function<void()> cut;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++writes_;
    if (towardCut) ++cutWrites_;
    if (noSpace_) spaceLeft_ -= written < spaceLeft_ ? written : spaceLeft_;
    if (removeAt_ > 0 && writes_ >= removeAt_) removed_ = true;
    if (cut_ && towardCut && cutWrites_ >= cutAt_) cut = cut_;
  }
  if (cut) cut();
}

int FileFaults::callError(Call call) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (removed_) return call == Call::Close ? 0 : EIO;
  Rule& r = rules_[static_cast<int>(call)];
  if (r.armed && r.calls++ >= r.after) return r.error;
  return 0;
}

}  // namespace sim
