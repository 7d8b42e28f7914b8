// vdrctl against a scripted recorder on a pseudo-terminal: the requests it sends, what it prints,
// and how it fails on a NACK, a silent line, a bad frame and a setting that was not kept. And
// the protocol side it shares with the simulated board's controller.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ctl_protocol.h"
#include "board/host_tools.h"

namespace {

using ctl::Bytes;

Bytes frame(uint8_t cmd, const Bytes& payload) { return ctl::frameOf(cmd, payload.data(), payload.size()); }

const Bytes kNack = {0xF0, 0x00, 0x0E, 0x02};
const Bytes kRecordingDefaults = frame(rd::kRspSettings, {0, 1, 2, 15, 0, 5, 0, 10, 0, 10, 0, 64, 0, 64, 0, 4, 4});

// The recorder's end of a pseudo-terminal: each request vdrctl sends (a whole frame) is handed
// to the script, whose bytes go back.
class ScriptedRecorder {
 public:
  using Script = std::function<Bytes(const Bytes& request)>;

  explicit ScriptedRecorder(Script script) : script_(std::move(script)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master_);
    unlockpt(master_);
    path_ = ptsname(master_);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedRecorder() {
    stop_ = true;
    thread_.join();
    close(master_);
  }
  const std::string& path() const { return path_; }
  std::vector<Bytes> requests() const { return requests_; }

 private:
  void serve() {
    rd::FrameDecoder decoder;
    while (!stop_) {
      struct pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
      uint8_t buf[256];
      ssize_t n = read(master_, buf, sizeof buf);
      for (ssize_t i = 0; i < n; ++i) {
        if (decoder.feed(buf[i]) != rd::FrameDecoder::Event::Frame) continue;
        Bytes request(decoder.frame(), decoder.frame() + decoder.frameLength());
        requests_.push_back(request);
        Bytes answer = script_(request);
        if (!answer.empty() && write(master_, answer.data(), answer.size()) < 0) return;
      }
    }
  }

  Script script_;
  int master_ = -1;
  std::string path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::vector<Bytes> requests_;
};

struct Result {
  int status;
  std::string output;
};

Result vdrctl(const std::string& port, std::vector<std::string> args) {
  args.insert(args.begin(), {VDRCTL_PATH, "-t", "1", port});
  Result r;
  r.status = sim::runTool(args, &r.output);
  return r;
}

TEST(Vdrctl, GetPrintsTheAnswerAsSettingsLines) {
  ScriptedRecorder recorder([](const Bytes& request) -> Bytes {
    if (request == ctl::getRequest(ctl::Item::Recording)) return kRecordingDefaults;
    if (request == ctl::getRequest(ctl::Item::Version)) return {0xF0, 0x04, 0x03, 0x01, 0x02, 0x03, 0x04, 0xFF};
    return {};
  });
  Result r = vdrctl(recorder.path(), {"get", "recording", "version"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("[recording]\nRECINGMODE1=2\nPRERECTIME1=15\nPOSTRECTIME1=5\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("[version]\nversion=1.2.3.RC4\n"), std::string::npos) << r.output;
  EXPECT_EQ(recorder.requests().size(), 2u);
}

TEST(Vdrctl, NackSilenceAndABadChecksumAreClearFailures) {
  ScriptedRecorder recorder([](const Bytes& request) -> Bytes {
    if (request == ctl::triggerRequest()) return kNack;
    if (request == ctl::getRequest(ctl::Item::Gsensor)) {
      Bytes bad = frame(rd::kRspSettings, {1, 9, 4, 0, 4, 0, 4, 0, 3, 2});
      bad.back() ^= 1;
      return bad;
    }
    return {};  // the status never comes
  });
  Result nack = vdrctl(recorder.path(), {"trigger"});
  EXPECT_EQ(nack.status, 1);
  EXPECT_NE(nack.output.find("refused the trigger (NACK)"), std::string::npos) << nack.output;
  Result silent = vdrctl(recorder.path(), {"get", "status"});
  EXPECT_EQ(silent.status, 1);
  EXPECT_NE(silent.output.find("no answer to the request for status within 1 s"), std::string::npos) << silent.output;
  Result bad = vdrctl(recorder.path(), {"get", "gsensor"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find("bad checksum"), std::string::npos) << bad.output;
  Result usage = vdrctl(recorder.path(), {"set", "PRERECTIME=10"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.output.find("unknown setting \"PRERECTIME\""), std::string::npos) << usage.output;
}

TEST(Vdrctl, SetSendsTheWholeSettingsWithTheKeyChangedAndChecksWhatWasKept) {
  uint16_t kept = 10;
  ScriptedRecorder recorder([&](const Bytes& request) -> Bytes {
    if (request == ctl::getRequest(ctl::Item::Recording)) return kRecordingDefaults;
    if (request[rd::kOffCmd] == rd::kCmdConfigUpdate) {
      Bytes answer = kRecordingDefaults;
      answer[6] = static_cast<uint8_t>(kept);  // PRERECTIME1
      answer.back() = rd::checksum(answer.data(), answer.size() - 1);
      return answer;
    }
    return {};
  });
  Result r = vdrctl(recorder.path(), {"set", "prerectime1=10"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("PRERECTIME1=10\n"), std::string::npos) << r.output;
  auto requests = recorder.requests();
  ASSERT_EQ(requests.size(), 2u);
  Bytes expected = frame(rd::kCmdConfigUpdate, {0, 1, 2, 10, 0, 5, 0, 10, 0, 10, 0, 64, 0, 64, 0, 4, 4});
  EXPECT_EQ(requests[1], expected);

  kept = 15;  // the recorder's own rules put another value in its place
  r = vdrctl(recorder.path(), {"set", "PRERECTIME1=10"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("PRERECTIME1=10 was not kept: the recorder stored 15"), std::string::npos) << r.output;
}

TEST(CtlProtocol, ChangesAreCheckedAgainstTheFieldsAndTheStatusReads) {
  ctl::SettingsChange change;
  std::string error;
  EXPECT_TRUE(ctl::parseChanges({"ACCSENX=-2", "trgset=0x07", "PRESIZE1=32"}, &change, &error)) << error;
  ASSERT_EQ(change.gsensor.size(), 2u);
  EXPECT_EQ(change.gsensor[0].second, -2);
  EXPECT_EQ(change.gsensor[1], std::make_pair(std::string("TRGSET"), 7L));
  ASSERT_EQ(change.recording.size(), 1u);
  EXPECT_FALSE(ctl::parseChanges({"TRGSET=256"}, &change, &error));
  EXPECT_FALSE(ctl::parseChanges({"PRERECTIME1"}, &change, &error));
  EXPECT_FALSE(ctl::parseChanges({"PRERECTIME1=ten"}, &change, &error));

  rd::StatusPayload s{};
  s.state = rd::kStateContinuous | rd::kStateCardFull | rd::kStateCharged;
  s.lastTriggerSecond.set(1780300800);  // 2026-06-01 08:00:00 UTC
  s.freeMiB.set(150);
  EXPECT_EQ(ctl::joined(ctl::fieldsOf(s)),
            "mode=continuous writing=no event=no card=full overwrite=no charged=yes power_loss=no free_mib=150 "
            "latest_recording=0 last_trigger=2026-06-01T08:00:00Z");

  Bytes bytes;
  EXPECT_TRUE(ctl::parseHex("f0 02:92,0100 7b", &bytes));
  EXPECT_EQ(bytes, (Bytes{0xF0, 0x02, 0x92, 0x01, 0x00, 0x7B}));
  EXPECT_FALSE(ctl::parseHex("F0 2", &bytes));
  EXPECT_FALSE(ctl::parseHex("G0", &bytes));
}

}  // namespace
