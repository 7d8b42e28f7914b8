// What the G-sensor path costs while the simulated board runs sped up: the program's G-sensor
// thread reading /dev/gsnr every 30 ms of simulated time, through the tq90ra_gsnr module, the
// bma150 driver, the I2C core and the accelerometer model, all of which run on that thread.
// Its CPU time is measured with the thread's own CPU clock over a few real seconds.
//
//   build/host/bin/bench_gsnr_path
//
// Counters: cpu% (of one core, while the board runs at that speed), us/sample (CPU per sample,
// the thread's wake-up from its wait included), samples/s (real), sim_ms/sample (simulated time
// between samples). BM_ReadWithoutWait is the work of one read alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <thread>

#include "board/gsensor/gsensor_board.h"
#include "board/io/tq90ra_board.h"
#include "config/settings.h"
#include "core/globals.h"
#include "core/msg_pipe.h"
#include "core/threads.h"
#include "platform/platform.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"

namespace {

namespace fs = std::filesystem;
constexpr double kRealSeconds = 3;

int64_t threadCpuNs(pthread_t thread) {
  clockid_t id;
  struct timespec ts;
  if (pthread_getcpuclockid(thread, &id) != 0 || clock_gettime(id, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * sim::kNsPerSec + ts.tv_nsec;
}

void BM_GsensorPathAtSpeed(benchmark::State& state) {
  double speed = static_cast<double>(state.range(0));
  std::string dir = (fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/recorder-gsnr-bench");
  fs::remove_all(dir);
  fs::create_directories(dir + "/rootfs/mnt/log");
  sim::setBoardDir(dir);
  for (auto _ : state) {
    sim::Clock::runAt(speed, sim::Clock::monoNow(), 0, int64_t{1767225600} * sim::kNsPerSec);
    sim::Tq90raBoard io({});
    sim::GsensorBoard gsensor;
    RecorderSettings settings;
    SetDefaultParameter(&settings);
    sem_t wake;
    sem_init(&wake, 0, 0);
    THREAD_INFO info{};
    info.number = 3;
    info.wake = &wake;
    info.config = &settings;
    info.run.store(1);
    MsgOpen();

    std::thread worker([&] { gsnr_thread(&info); });
    pthread_t handle = worker.native_handle();
    // Settle past the start-up (module open, the first read) before measuring.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int64_t cpu0 = threadCpuNs(handle);
    int64_t real0 = sim::Clock::monoNow();
    int64_t sim0 = sim::Clock::elapsed();
    uint64_t samples0 = gsensor.chip().samplesRead();
    // The recording and log threads would take the samples; here they are thrown away.
    while (sim::Clock::monoNow() - real0 < static_cast<int64_t>(kRealSeconds * sim::kNsPerSec)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      for (int pipe : {PIPE_RECORD_GSNR, PIPE_LOG_GSNR}) MsgClear(pipe);
    }
    int64_t cpu = threadCpuNs(handle) - cpu0;
    int64_t real = sim::Clock::monoNow() - real0;
    int64_t simNs = sim::Clock::elapsed() - sim0;
    double samples = static_cast<double>(gsensor.chip().samplesRead() - samples0);
    state.SetIterationTime(static_cast<double>(real) / sim::kNsPerSec);

    info.run.store(0);
    worker.join();
    MsgClose();
    sem_destroy(&wake);

    state.counters["cpu%"] = 100.0 * static_cast<double>(cpu) / static_cast<double>(real);
    state.counters["us/sample"] = samples > 0 ? static_cast<double>(cpu) / 1000.0 / samples : 0;
    state.counters["samples/s"] = samples * sim::kNsPerSec / static_cast<double>(real);
    state.counters["sim_ms/sample"] = samples > 0 ? static_cast<double>(simNs) / sim::kNsPerMs / samples : 0;
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_GsensorPathAtSpeed)->Arg(1)->Arg(10)->Arg(20)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The work of one sample without the wait: a read of /dev/gsnr with a read wait of 0 ticks goes
// through the platform layer, the emulated kernel, tq90ra_gsnr, the bma150 driver, the I2C core
// and the accelerometer model of a driving car.
void BM_ReadWithoutWait(benchmark::State& state) {
  sim::Clock::manual(int64_t{1767225600} * sim::kNsPerSec);
  sim::Tq90raBoard io({});
  sim::GsensorBoard gsensor;
  int fd = plat::open(sim::GsensorBoard::kNode, O_RDWR | O_NONBLOCK);
  struct {
    int32_t bandwidth, readTicks;
  } config = {25, 0};
  if (fd < 0 || plat::ioctl(fd, 0x40086702, &config) != 0) {
    state.SkipWithError("no /dev/gsnr");
    return;
  }
  int16_t sample[3];
  for (auto _ : state) {
    sim::Clock::advance(30 * sim::kNsPerMs);
    benchmark::DoNotOptimize(plat::read(fd, sample, sizeof sample));
  }
  plat::close(fd);
}
BENCHMARK(BM_ReadWithoutWait);

}  // namespace

BENCHMARK_MAIN();
