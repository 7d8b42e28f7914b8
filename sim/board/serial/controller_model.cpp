#include "board/serial/controller_model.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/timeline.h"
#include "ctl_protocol.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"

namespace sim {
namespace {

const char kControllerOption[] = "controller";
// How long an action waits for its answer: the program reads its port once a second or two,
// and a status or stored settings come back through the supervisor, after a write and a read
// of the settings file on the card (slow on a loaded PC at a high speed).
constexpr int64_t kAnswerWaitNs = 30 * kNsPerSec;
// A raw frame may be answered by several frames, or by none: it takes what comes in this time.
constexpr int64_t kRawWaitNs = 5 * kNsPerSec;
constexpr int64_t kListenPollNs = 100 * kNsPerMs;

std::string textOf(const std::vector<std::string>& words) {
  std::string out;
  for (size_t i = 1; i < words.size(); ++i) out += (i > 1 ? " " : "") + words[i];
  return out;
}

void emitAnswer(const rd::Frame& frame) {
  TimelineEvent e("controller-answer");
  for (const auto& [key, value] : ctl::describe(frame)) e.add(key.c_str(), value);
  e.add("bytes", ctl::hexOf(frame.bytes, frame.length)).emit();
}

void emitResult(const std::string& action, const char* result, const std::string& detail = "") {
  TimelineEvent e("controller-result");
  e.add("action", action).add("result", result);
  if (!detail.empty()) e.add("detail", detail);
  e.emit();
}

const char* resultOf(ctl::Got got) {
  switch (got) {
    case ctl::Got::Answer: return "ok";
    case ctl::Got::Nack: return "refused";
    case ctl::Got::Timeout: return "no answer";
    case ctl::Got::BadFrame: return "bad frame";
  }
  return "?";
}

// The controller's end of port 1: answers are assembled as they cross and queued for the
// action that waits for them; every one goes to the timeline.
class ControllerPeer : public LinePeer {
 public:
  void fromBoard(const LineByte* bytes, size_t count) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < count; ++i) {
      switch (decoder_.feed(bytes[i].value)) {
        case rd::FrameDecoder::Event::None:
          break;
        case rd::FrameDecoder::Event::BadChecksum:
          TimelineEvent("controller-answer").add("answer", "bad checksum").emit();
          badFrames_ += 1;
          changed_.notify_all();
          break;
        case rd::FrameDecoder::Event::Frame: {
          rd::Frame f;
          f.length = decoder_.frameLength();
          memcpy(f.bytes, decoder_.frame(), f.length);
          emitAnswer(f);
          frames_.push_back(f);
          changed_.notify_all();
          break;
        }
      }
    }
  }

  // Forgets what arrived unasked, so an old answer is not taken for the next one.
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.clear();
    badFrames_ = 0;
  }

  // Waits for one of the wanted answers, a NACK or a bad frame, until the deadline; with nothing
  // wanted, takes every frame until then and counts them.
  ctl::Got await(const std::vector<ctl::Answer>& wanted, int64_t deadline, rd::Frame* out, int* frames = nullptr) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      while (!frames_.empty()) {
        rd::Frame f = frames_.front();
        frames_.pop_front();
        if (frames) ++*frames;
        ctl::Answer a = ctl::answerOf(f);
        if (a == ctl::Answer::Nack && !wanted.empty()) return ctl::Got::Nack;
        for (ctl::Answer w : wanted) {
          if (a == w) {
            *out = f;
            return ctl::Got::Answer;
          }
        }
      }
      if (badFrames_ > 0 && !wanted.empty()) {
        badFrames_ = 0;
        return ctl::Got::BadFrame;
      }
      if (Clock::elapsed() >= deadline) return ctl::Got::Timeout;
      Clock::waitUntil(lock, changed_, deadline, [&] { return !frames_.empty() || badFrames_ > 0; });
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  rd::FrameDecoder decoder_{rd::FrameDecoder::LenZero::CarriesNone};  // answers: ACK and NACK are empty
  std::deque<rd::Frame> frames_;
  int badFrames_ = 0;
};

class ControllerModel : public BoardModel {
 public:
  explicit ControllerModel(std::shared_ptr<SerialPorts> ports) : ports_(std::move(ports)) {}
  ~ControllerModel() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
  }

  const char* name() const override { return "controller"; }
  std::vector<std::string> actions() const override { return {"controller"}; }

  void programArguments(const BoardConfig& config, std::vector<std::string>* args) const override {
    if (!config.option(kControllerOption).empty()) args->push_back("--controller");
  }

  void boot(const BoardConfig&) override {
    if (!ports_->board || ports_->isBridged(SerialBoard::kControllerPort)) return;  // the PC is the peer
    line_ = ports_->board->line(SerialBoard::kControllerPort);
    line_->attach(peer_, LineFormat{});  // 9600 8N1, as the recorder's port
    worker_ = std::thread([this] { work(); });
  }

  bool checkAction(const std::vector<std::string>& words, std::string* error) const override {
    std::string command = words.size() > 1 ? words[1] : "";
    std::vector<std::string> rest(words.begin() + std::min<size_t>(2, words.size()), words.end());
    if (command == "get") {
      ctl::Item item;
      for (const std::string& w : rest) {
        if (!ctl::parseItem(w, &item)) {
          *error = "controller get: \"" + w + "\" is not recording, gsensor, version or status";
          return false;
        }
      }
      if (rest.empty()) *error = "controller get: what? recording, gsensor, version or status";
      return !rest.empty();
    }
    if (command == "set") {
      ctl::SettingsChange change;
      if (rest.empty()) *error = "controller set: KEY=VALUE ... is missing";
      else if (ctl::parseChanges(rest, &change, error)) return true;
      else *error = "controller set: " + *error;
      return false;
    }
    if (command == "trigger" || command == "ping") {
      if (!rest.empty()) *error = "controller " + command + " takes no arguments";
      return rest.empty();
    }
    if (command == "raw") {
      std::string hex;
      for (const std::string& w : rest) hex += w + " ";
      ctl::Bytes bytes;
      if (!ctl::parseHex(hex, &bytes)) *error = "controller raw: pairs of hex digits, e.g. F0 02 92 01 00 7B";
      else return true;
      return false;
    }
    *error = "controller: get, set, trigger, ping or raw";
    return false;
  }

  bool act(const std::vector<std::string>& words) override {
    std::string error;
    if (line_ == nullptr || !checkAction(words, &error)) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(words);
    }
    changed_.notify_all();
    return true;
  }

 private:
  void work() {
    for (;;) {
      std::vector<std::string> words;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        words = queue_.front();
        queue_.pop_front();
      }
      carryOut(words);
    }
  }

  void send(const std::string& action, const ctl::Bytes& bytes) {
    TimelineEvent("controller-request").add("action", action).add("bytes", ctl::hexOf(bytes)).emit();
    line_->peerSend(bytes.data(), bytes.size());
  }

  // A controller keeps asking until the unit listens: what reaches a port that nobody has open is
  // lost, so the request goes out once the program has its port open (or the time is up).
  void waitForListener(int64_t deadline) {
    while (line_->openCount() == 0 && Clock::elapsed() < deadline) Clock::sleepFor(kListenPollNs);
  }

  ctl::Got ask(const std::string& action, const ctl::Bytes& request, ctl::Answer wanted, rd::Frame* answer) {
    int64_t deadline = Clock::elapsed() + kAnswerWaitNs;
    waitForListener(deadline);
    peer_->clear();
    send(action, request);
    return peer_->await({wanted}, deadline, answer);
  }

  void carryOut(const std::vector<std::string>& words) {
    const std::string& command = words[1];
    std::string action = textOf(words);
    std::vector<std::string> rest(words.begin() + 2, words.end());
    rd::Frame answer;
    if (command == "get") {
      for (const std::string& w : rest) {
        ctl::Item item;
        ctl::parseItem(w, &item);
        std::string one = std::string("get ") + ctl::itemName(item);
        emitResult(one, resultOf(ask(one, ctl::getRequest(item), ctl::answerFor(item), &answer)));
      }
    } else if (command == "set") {
      ctl::SettingsChange change;
      std::string error;
      ctl::parseChanges(rest, &change, &error);
      ctl::SetOutcome outcome = ctl::changeSettings(change, [&](const ctl::Bytes& request, ctl::Answer wanted,
                                                                rd::Frame* f) { return ask(action, request, wanted, f); });
      if (outcome.got != ctl::Got::Answer) {
        emitResult(action, resultOf(outcome.got), outcome.step);
      } else if (!outcome.notKept.empty()) {
        std::string detail;
        for (const std::string& n : outcome.notKept) detail += (detail.empty() ? "" : "; ") + n;
        emitResult(action, "not kept", detail);
      } else {
        emitResult(action, "ok", ctl::joined(outcome.stored));
      }
    } else if (command == "trigger" || command == "ping") {
      ctl::Bytes request = command == "trigger" ? ctl::triggerRequest() : ctl::pingRequest();
      emitResult(action, resultOf(ask(action, request, ctl::Answer::Ack, &answer)));
    } else if (command == "raw") {
      std::string hex;
      for (const std::string& w : rest) hex += w + " ";
      ctl::Bytes bytes;
      ctl::parseHex(hex, &bytes);
      waitForListener(Clock::elapsed() + kAnswerWaitNs);
      peer_->clear();
      send(action, bytes);
      int frames = 0;
      peer_->await({}, Clock::elapsed() + kRawWaitNs, &answer, &frames);
      emitResult(action, frames > 0 ? "ok" : "no answer", std::to_string(frames) + " frames");
    }
  }

  std::shared_ptr<SerialPorts> ports_;
  std::shared_ptr<ControllerPeer> peer_ = std::make_shared<ControllerPeer>();
  SerialLine* line_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<std::string>> queue_;
  bool stop_ = false;
  std::thread worker_;
};

class ControllerRunnerOption : public RunnerExtension {
 public:
  std::vector<Option> options() const override {
    return {{kControllerOption, false,
             "a controller is fitted on serial port 1: the program starts its command thread (--controller)"}};
  }
};

}  // namespace

std::unique_ptr<BoardModel> makeControllerModel(std::shared_ptr<SerialPorts> ports) {
  return std::make_unique<ControllerModel>(std::move(ports));
}

std::unique_ptr<RunnerExtension> makeControllerRunnerOption() { return std::make_unique<ControllerRunnerOption>(); }

}  // namespace sim
