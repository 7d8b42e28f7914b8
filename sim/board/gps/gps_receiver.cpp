#include "board/gps/gps_receiver.h"

#include <algorithm>

#include "board/timeline.h"
#include "platform/sim/clock.h"

namespace sim {
namespace {

constexpr size_t kReplayLowWater = 256;
constexpr size_t kOtherBytesRun = 64;

}  // namespace

GpsReceiver::GpsReceiver(const Options& options)
    : engine_(options.vehicle, options.worldAtZeroNs, options.ttffNs), options_(options) {}

GpsReceiver::~GpsReceiver() = default;

void GpsReceiver::start(SerialLine& line) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    line_ = &line;
    stopped_ = false;
    int64_t now = Clock::world();
    if (options_.poweredSinceUtcNs >= 0) {
      // Powered through the board's reboot: it goes on where it was.
      engine_.start(options_.poweredSinceUtcNs, options_.hadFix ? GpsEngine::Start::Hot : GpsEngine::Start::Cold);
    } else {
      engine_.start(now, GpsEngine::Start::Cold);
      note("power-on, cold start");
    }
    stateChanged();
  }
  line.attach(shared_from_this(), powerOnFormat());
  std::lock_guard<std::mutex> lock(mutex_);
  scheduleEpoch();
}

void GpsReceiver::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  if (line_) line_->detach();
}

std::string GpsReceiver::stateText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stateTextLocked();
}

std::string GpsReceiver::stateTextLocked() const {
  return "started=" + std::to_string(engine_.startedAt()) + "\nhad_fix=" + (engine_.hadFix() ? "1" : "0") + "\n" +
         settingsTextLocked();
}

void GpsReceiver::onStateChange(std::function<void(const std::string&)> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  stateListener_ = std::move(listener);
}

void GpsReceiver::stateChanged() {
  if (stateListener_) stateListener_(stateTextLocked());
}

void GpsReceiver::restoreState(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t at = text.find("started=");
  if (at != std::string::npos) options_.poweredSinceUtcNs = std::stoll(text.substr(at + 8));
  options_.hadFix = text.find("had_fix=1") != std::string::npos;
  restoreSettingsLocked(text);
}

void GpsReceiver::note(const std::string& what) const {
  TimelineEvent("gps").add("receiver", kind()).add("what", what).emit();
}

void GpsReceiver::scheduleEpoch() {
  // Epochs follow each other whatever the PC's load: one that comes late still comes, unless
  // the board stood still for seconds.
  int64_t world = Clock::world();
  int64_t period = epochPeriodNs();
  int64_t from = lastEpoch_ > 0 ? std::max(lastEpoch_, world - kLongestCatchUpNs) : world;
  int64_t next = (from / period + 1) * period;
  lastEpoch_ = next;
  std::weak_ptr<GpsReceiver> self = weak_from_this();
  line_->events().after(std::max<int64_t>(0, next - world + kOutputLatencyNs), [self, next] {
    if (auto r = self.lock()) r->epoch(next);
  });
}

void GpsReceiver::epoch(int64_t utcNs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopped_) return;
  bool hadFix = engine_.hadFix();
  last_ = engine_.solve(utcNs);
  if (last_.fix && !hadFix) {
    note("first fix");
    stateChanged();
  }
  if (Clock::elapsed() >= silentUntil_) onEpoch(last_);
  scheduleEpoch();
}

void GpsReceiver::emit(const std::vector<uint8_t>& message) {
  if (!replay_.empty() || Clock::elapsed() < silentUntil_) return;
  if (line_->peerUnsent() + message.size() > kTransmitBuffer) {
    ++dropped_;
    return;
  }
  line_->peerSend(message.data(), message.size());
}

int64_t GpsReceiver::answer(const std::vector<uint8_t>& message) {
  if (line_->peerUnsent() + message.size() > kTransmitBuffer) return Clock::elapsed();
  return line_->peerSend(message.data(), message.size());
}

void GpsReceiver::restart(GpsEngine::Start kind, int64_t pauseNs) {
  int64_t now = Clock::elapsed();
  silentUntil_ = now + pauseNs;
  engine_.start(Clock::world() + pauseNs, kind);
  onRestart();
  note(kind == GpsEngine::Start::Hot ? "hot start" : kind == GpsEngine::Start::Warm ? "warm start" : "cold start");
  stateChanged();
}

void GpsReceiver::switchFormatAt(const LineFormat& format, int64_t elapsedNs) {
  SerialLine* line = line_;
  std::weak_ptr<GpsReceiver> self = weak_from_this();
  line_->events().after(std::max<int64_t>(0, elapsedNs - Clock::elapsed()), [self, line, format] {
    if (auto r = self.lock()) {
      line->setPeerFormat(format);
      r->note("line " + format.text());
    }
  });
}

void GpsReceiver::fromBoard(const LineByte* bytes, size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopped_) return;
  std::vector<uint8_t> clean;
  clean.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    // What arrives while restarting, and characters the UART could not frame, are lost.
    if (bytes[i].at < silentUntil_ || bytes[i].flags != 0) continue;
    clean.push_back(bytes[i].value);
  }
  if (!clean.empty()) onInput(clean.data(), clean.size());
}

void GpsReceiver::setSkyLost(bool lost) {
  std::lock_guard<std::mutex> lock(mutex_);
  engine_.setSkyLost(lost, Clock::world());
  note(lost ? "sky lost" : "sky back");
}

void GpsReceiver::replay(std::vector<uint8_t> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& m : splitCapturedStream(bytes)) replay_.push_back(std::move(m));
  note("replay of " + std::to_string(bytes.size()) + " bytes");
  pumpReplay();
}

bool GpsReceiver::replaying() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !replay_.empty();
}

int64_t GpsReceiver::startedAt() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return engine_.startedAt();
}

bool GpsReceiver::hadFix() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return engine_.hadFix();
}

void GpsReceiver::pumpReplay() {
  replayPumpPending_ = false;
  if (stopped_ || line_ == nullptr) return;
  int64_t lastOut = Clock::elapsed();
  while (!replay_.empty() && line_->peerUnsent() < kReplayLowWater) {
    lastOut = line_->peerSend(replay_.front().data(), replay_.front().size());
    replay_.pop_front();
  }
  if (replay_.empty()) {
    note("replay done");
    return;
  }
  // Top up when the line has carried what is queued (less the low-water mark).
  int64_t wait = std::max<int64_t>(0, lastOut - Clock::elapsed() - static_cast<int64_t>(kReplayLowWater / 2) *
                                                                        line_->peerFormat().frameNs());
  replayPumpPending_ = true;
  std::weak_ptr<GpsReceiver> self = weak_from_this();
  line_->events().after(wait, [self] {
    if (auto r = self.lock()) {
      std::lock_guard<std::mutex> lock(r->mutex_);
      r->pumpReplay();
    }
  });
}

std::vector<std::vector<uint8_t>> splitCapturedStream(const std::vector<uint8_t>& b) {
  std::vector<std::vector<uint8_t>> out;
  size_t i = 0, n = b.size();
  auto startsMessage = [&](size_t k) {
    return b[k] == '$' || (b[k] == 0xB5 && k + 1 < n && b[k + 1] == 0x62) || b[k] == 0xD0 || (b[k] >= 0xE0 && b[k] <= 0xE3);
  };
  while (i < n) {
    size_t end = i + 1;
    if (b[i] == 0xB5 && i + 5 < n && b[i + 1] == 0x62) {
      end = std::min(n, i + 8 + (b[i + 4] | (b[i + 5] << 8)));
    } else if (b[i] == '$') {
      while (end < n && b[end - 1] != '\n' && b[end] != '$') ++end;
    } else if (b[i] == 0xD0 || (b[i] >= 0xE0 && b[i] <= 0xE3)) {
      uint8_t stop = static_cast<uint8_t>((b[i] & 0xF0) | 0x0A);
      while (end < n && b[end - 1] != stop) ++end;
    } else {
      while (end < n && end - i < kOtherBytesRun && !startsMessage(end)) ++end;
    }
    out.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(i), b.begin() + static_cast<std::ptrdiff_t>(end));
    i = end;
  }
  return out;
}

}  // namespace sim
