#include "record_harness.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <semaphore.h>
#include <turbojpeg.h>
#include <unistd.h>

#include "core/globals.h"
#include "core/msg_pipe.h"
#include "core/msg_send.h"
#include "device/buzzer_led.h"
#include "platform/platform.h"
#include "platform/sim/clock.h"
#include "platform/sim/devices.h"
#include "support/host_files.h"

namespace record_test {

namespace fs = std::filesystem;

// The buzzer/LED timer as the program sees it: takes blink requests and keeps them.
struct FakeTimer : public sim::DeviceNode {
  std::mutex mutex;
  std::vector<TIMA_BLINK_REQ> requests;

  struct File : public sim::DeviceFile {
    explicit File(FakeTimer* t) : timer(t) {}
    long ioctl(unsigned long request, uintptr_t arg) override {
      if (request != TIMA_IOC_BLINK) return -ENOTTY;
      std::lock_guard<std::mutex> lock(timer->mutex);
      timer->requests.push_back(*reinterpret_cast<const TIMA_BLINK_REQ*>(arg));
      return 0;
    }
    FakeTimer* timer;
  };
  int open(int, std::unique_ptr<sim::DeviceFile>* file) override {
    *file = std::make_unique<File>(this);
    return 0;
  }
};

namespace {

constexpr int64_t kStepNs = 50 * sim::kNsPerMs;

void initWorker(THREAD_INFO& info, int number) {
  info.number = number;
  info.wake = &g_thread_to_main;
  info.run.store(1);
  info.config = &gConfig;
  info.started = true;
}


}  // namespace

RecordHarness::ConsoleFile::ConsoleFile() {
  char pattern[] = "/tmp/recorder-console-XXXXXX";
  int fd = mkstemp(pattern);
  path = pattern;
  fflush(stdout);
  saved = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  close(fd);
}

RecordHarness::ConsoleFile::~ConsoleFile() {
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  unlink(path.c_str());
}

std::string RecordHarness::ConsoleFile::text() const {
  fflush(stdout);
  return testing_board::hostFileText(path);
}

std::string RecordHarness::console() { return console_.text(); }

time_t Pair::second(size_t i) const {
  const vr::FrameIndexEntry& e = entries[i];
  struct tm tm = {};
  tm.tm_year = e.year.get() - 1900;
  tm.tm_mon = e.month.get() - 1;
  tm.tm_mday = e.day.get();
  tm.tm_hour = e.hour.get();
  tm.tm_min = e.minute.get();
  tm.tm_sec = e.second.get();
  tm.tm_isdst = -1;
  return mktime(&tm);
}

RecordHarness::RecordHarness(int recordingMode, sim::CameraOptions camera)
    : camera_(std::make_shared<sim::CameraDevice>(camera)), timer_(std::make_shared<FakeTimer>()) {
  setenv("TZ", "UTC", 1);  // names and rollovers in the expectations are in UTC
  tzset();
  SetDefaultParameter(&gConfig);
  gConfig.RECINGMODE1 = recordingMode;
  gSDFailed = 0;
  gWritingSD = 0;
  gPowerLossStatus = 0;
  gCheckPowerRecovery = 0;  // unmap and close at the end, as after a plain stop
  sim::addDeviceNode(CAM_DEVICE, camera_);
  sim::addDeviceNode(TIMA_DEVICE, timer_);
  BuzzerLedOpen();
  MsgOpen();
  sem_init(&g_thread_to_main, 0, 0);
}

RecordHarness::~RecordHarness() {
  stop();
  // A failed test shows what the program printed.
  if (::testing::Test::HasFailure()) fprintf(stderr, "---- console ----\n%s", console_.text().c_str());
  MsgClear(PIPE_CORE);
  MsgClose();
  BuzzerLedClose();
  sem_destroy(&g_thread_to_main);
}

void RecordHarness::start(bool withOverwriteThread) {
  initWorker(record_, 7);
  running_ = 1;
  sleepers_ = 1;
  recordThread_ = std::thread([this] {
    RecordThread(&record_);
    running_.fetch_sub(1);
  });
  if (withOverwriteThread) {
    initWorker(overwrite_, 6);
    running_.fetch_add(1);
    sleepers_ = 2;
    overwriteThread_ = std::thread([this] {
      OverwriteThread(&overwrite_);
      running_.fetch_sub(1);
    });
  }
}

void RecordHarness::stop() {
  record_.run = 0;
  overwrite_.run = 0;
  while (running_.load() > 0) {
    sim::Clock::advance(100 * sim::kNsPerMs);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (recordThread_.joinable()) recordThread_.join();
  if (overwriteThread_.joinable()) overwriteThread_.join();
}

void RecordHarness::run(double seconds) {
  int64_t target = sim::Clock::elapsed() + static_cast<int64_t>(seconds * sim::kNsPerSec);
  while (sim::Clock::elapsed() < target) {
    sim::Clock::waitForSleepers(std::min(sleepers_, running_.load()));
    sim::Clock::advance(std::min(kStepNs, target - sim::Clock::elapsed()));
  }
  sim::Clock::waitForSleepers(std::min(sleepers_, running_.load()));
}

void RecordHarness::runToFraction(double fraction) {
  int64_t now = sim::Clock::system();
  int64_t frac = now % sim::kNsPerSec;
  int64_t want = static_cast<int64_t>(fraction * sim::kNsPerSec);
  int64_t delta = want - frac;
  if (delta <= 0) delta += sim::kNsPerSec;
  run(static_cast<double>(delta) / sim::kNsPerSec);
}

void RecordHarness::setClock(int64_t worldSecond) { sim::Clock::manual(worldSecond * sim::kNsPerSec); }

void RecordHarness::capacitorCharged() { SendMsgSuperCapCharged(PIPE_RECORD); }

std::pair<uint32_t, uint32_t> RecordHarness::trigger(uint32_t type) {
  struct timeval tv;
  plat::gettimeofday(&tv);
  SendMsgTriggerToRecord(static_cast<uint32_t>(tv.tv_sec), static_cast<uint32_t>(tv.tv_usec), type);
  return {static_cast<uint32_t>(tv.tv_sec), static_cast<uint32_t>(tv.tv_usec)};
}

std::vector<uint32_t> RecordHarness::supervisorMessages() {
  MsgRecord* m = nullptr;
  while (MsgRecv(&m, PIPE_CORE) == 0) {
    received_.push_back(m->word[MSG_W_ID]);
    if (m->word[MSG_W_ID] == MSG_RETURN) {
      Reply r{m->word[MSG_W_ARG], m->block != nullptr, {}};
      if (r.hasStatus) memcpy(&r.status, m->block, sizeof r.status);
      replies_.push_back(r);
    }
    MsgDone(PIPE_CORE);
  }
  return received_;
}

std::vector<RecordHarness::Reply> RecordHarness::replies() {
  supervisorMessages();
  return replies_;
}

void RecordHarness::sendToRecord(uint32_t id) {
  MsgRecord r = MsgMake(PIPE_RECORD, MOD_CORE, id);
  MsgSend(&r, MSG_LENGTH);
}

int RecordHarness::count(uint32_t id) {
  auto all = supervisorMessages();
  return static_cast<int>(std::count(all.begin(), all.end(), id));
}

std::vector<Pair> RecordHarness::pairs(const std::string& kind) const {
  std::vector<std::string> bases;
  for (const auto& e : fs::directory_iterator(card_.channelDir(kind))) {
    std::string name = e.path().filename();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".vdd") == 0) bases.push_back(name.substr(0, name.size() - 4));
  }
  std::sort(bases.begin(), bases.end());
  std::vector<Pair> out;
  for (const std::string& base : bases) {
    Pair p;
    p.name = base;
    p.vdd = testing_board::hostFileBytes(card_.channelDir(kind) + "/" + base + ".vdd");
    p.vdx = testing_board::hostFileBytes(card_.channelDir(kind) + "/" + base + ".vdx");
    size_t n = p.vdx.size() >= sizeof(vr::IdxHeader) ? (p.vdx.size() - sizeof(vr::IdxHeader)) / sizeof(vr::FrameIndexEntry)
                                                      : 0;
    for (size_t i = 0; i < n; ++i) {
      vr::FrameIndexEntry e;
      memcpy(&e, p.vdx.data() + i * sizeof e, sizeof e);
      p.entries.push_back(e);
    }
    if (p.vdx.size() >= sizeof(vr::IdxHeader) &&
        (p.vdx.size() - sizeof(vr::IdxHeader)) % sizeof(vr::FrameIndexEntry) == 0) {
      memcpy(&p.header, p.vdx.data() + n * sizeof(vr::FrameIndexEntry), sizeof p.header);
      p.hasHeader = true;
    }
    out.push_back(std::move(p));
  }
  return out;
}

int RecordHarness::beeps() const {
  std::lock_guard<std::mutex> lock(timer_->mutex);
  return static_cast<int>(std::count_if(timer_->requests.begin(), timer_->requests.end(), [](const TIMA_BLINK_REQ& r) {
    return r.channel == 0 && r.continuous == 0 && r.count == 1 && r.onMs == 1000;
  }));
}

int RecordHarness::lastPattern() const { return BzLedStatus.load(); }

bool decodesAsJpeg(const uint8_t* data, size_t size, int* width, int* height) {
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, subsampling = 0, colorspace = 0;
  bool ok = tjDecompressHeader3(tj, data, size, &w, &h, &subsampling, &colorspace) == 0;
  if (ok) {
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
    ok = tjDecompress2(tj, data, size, pixels.data(), w, 0, h, TJPF_RGB, 0) == 0;
  }
  tjDestroy(tj);
  if (width) *width = w;
  if (height) *height = h;
  return ok;
}

}  // namespace record_test
