// What a serial line at 9600 baud with a GPS receiver talking costs while the simulated board
// runs sped up: the u-blox model's epochs, the line's timing, the UART's hand-over to the
// terminal, and a reader on the board's side that reads as the program's GPS thread does
// (ReadComPort of up to 1024 bytes in a loop, one second's time-out). The whole process's CPU
// time is measured over a few real seconds.
//
//   build/host/bin/bench_serial_line
//
// Arguments: the speed factor, and what the receiver sends (0: its NMEA sentences as at
// power-on, about 560 bytes a second; 1: the seven UBX NAV messages the recorder asks for, about
// 450 bytes a second). Counters: cpu% (of one core: line, receiver and reader together),
// reader_cpu% (the reading thread's share), bytes/s (simulated seconds) read by the board.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/resource.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <thread>

#include "board/gps/ubx_frame.h"
#include "board/gps/ublox_receiver.h"
#include "ublox_on_port2.h"
#include "board/serial/serial_board.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"
#include "serial/serial_port.h"

namespace {

namespace fs = std::filesystem;
constexpr double kRealSeconds = 3;

int64_t processCpuNs() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return (static_cast<int64_t>(u.ru_utime.tv_sec) + u.ru_stime.tv_sec) * sim::kNsPerSec +
         (static_cast<int64_t>(u.ru_utime.tv_usec) + u.ru_stime.tv_usec) * sim::kNsPerUs;
}

int64_t threadCpuNs(pthread_t thread) {
  clockid_t id;
  struct timespec ts;
  if (pthread_getcpuclockid(thread, &id) != 0 || clock_gettime(id, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * sim::kNsPerSec + ts.tv_nsec;
}

void BM_GpsLineAtSpeed(benchmark::State& state) {
  double speed = static_cast<double>(state.range(0));
  bool ubx = state.range(1) == 1;
  std::string dir = (fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/recorder-serial-bench");
  fs::remove_all(dir);
  fs::create_directories(dir + "/rootfs");
  sim::setBoardDir(dir);
  for (auto _ : state) {
    bench::UbloxOnPort2 line(speed);

    std::atomic<bool> run{true};
    std::atomic<uint64_t> bytes{0};
    std::thread reader([&] {
      int handle = AllocComPort(2, 1, 3, 0, 0, nullptr);
      if (ubx) {
        const uint8_t ubxOnly[] = {0xB5, 0x62, 0x06, 0x00, 0x14, 0x00, 0x01, 0x00, 0x00, 0x00, 0xD0, 0x08, 0x00, 0x00,
                                   0x80, 0x25, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x9A, 0x79};
        WriteComPort(handle, ubxOnly, sizeof ubxOnly);
        for (uint8_t id : {0x02, 0x03, 0x04, 0x06, 0x12, 0x21, 0x30}) {
          auto f = sim::ubxFrame(0x06, 0x01, {0x01, id, 0x01});
          WriteComPort(handle, f.data(), static_cast<int>(f.size()));
        }
      }
      uint8_t buf[1024];
      while (run) {
        int n = ReadComPort(handle, buf, sizeof buf);
        if (n > 0) bytes += static_cast<uint64_t>(n);
      }
      FreeComPort(handle, nullptr);
    });
    // Settle past the start-up (the configuration's answers) before measuring.
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int64_t>(3000 / speed) + 200));
    int64_t cpu0 = processCpuNs(), reader0 = threadCpuNs(reader.native_handle());
    int64_t real0 = sim::Clock::monoNow(), sim0 = sim::Clock::elapsed();
    uint64_t bytes0 = bytes;
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int64_t>(kRealSeconds * 1000)));
    int64_t cpu = processCpuNs() - cpu0, readerCpu = threadCpuNs(reader.native_handle()) - reader0;
    int64_t real = sim::Clock::monoNow() - real0, simNs = sim::Clock::elapsed() - sim0;
    double read = static_cast<double>(bytes - bytes0);
    state.SetIterationTime(static_cast<double>(real) / sim::kNsPerSec);
    run = false;
    reader.join();
    line.receiver->stop();

    state.counters["cpu%"] = 100.0 * static_cast<double>(cpu) / static_cast<double>(real);
    state.counters["reader_cpu%"] = 100.0 * static_cast<double>(readerCpu) / static_cast<double>(real);
    state.counters["bytes/s"] = read * sim::kNsPerSec / static_cast<double>(simNs);
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_GpsLineAtSpeed)
    ->Args({1, 0})
    ->Args({20, 0})
    ->Args({20, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
