// The GPS decoders' throughput, and what the GPS worker costs while a receiver talks.
//
//   build/host/bin/bench_gps_decoder
//
// BM_UbxDecode, BM_FurunoDecode, BM_NmeaDecode: bytes a second through each decoder (the UBX
// stream is the seven NAV messages of a u-blox receiver, 12 channels in view; Furuno the four
// messages; NMEA RMC, GGA and three GSV lines a second). BM_UbxDecode also runs gpsdecode (gpsd's
// decoder, Debian gpsd-clients) on the same u-blox bytes in the same run and reports its bytes a
// second and the ratio ours/gpsdecode.
// BM_GpsThreadAt9600: the GPS worker against the u-blox receiver model on serial port 2 at 9600
// baud, once detected: its thread's CPU time as a share of one core (real time) and per simulated
// second (what it would cost on the board's clock, before the PC/board speed difference).
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "board/gps/ublox_receiver.h"
#include "ublox_on_port2.h"
#include "board/serial/serial_board.h"
#include "core/le_field.h"
#include "core/msg_pipe.h"
#include "core/threads.h"
#include "fake_port.h"
#include "gps/furuno_codec.h"
#include "gps/nmea_codec.h"
#include "gps/ubx_codec.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using gpstest::ubxFrame;  // the unit tests' frame builder

// `epochs` seconds of u-blox output: the seven NAV messages, the car moving east.
Bytes ubloxStream(int epochs) {
  Bytes all;
  for (int e = 0; e < epochs; ++e) {
    uint32_t itow = 100000000u + 1000u * static_cast<uint32_t>(e);
    Bytes posllh(28), status(16), velned(36), timeutc(20), svinfo(8 + 12 * 12), sol(52), dop(18);
    le::put32(posllh.data(), itow);
    le::put32(posllh.data() + 4, static_cast<uint32_t>(1390000000 + 150 * e));
    le::put32(posllh.data() + 8, 350000000);
    le::put32(posllh.data() + 16, 20000);
    le::put32(status.data(), itow);
    status[4] = 3;
    le::put32(velned.data(), itow);
    le::put32(velned.data() + 20, 1500);
    le::put32(velned.data() + 24, 9000000);
    le::put32(timeutc.data(), itow);
    le::put16(timeutc.data() + 12, 2026);
    timeutc[14] = 6;
    timeutc[15] = 1;
    timeutc[16] = static_cast<uint8_t>(8 + e / 3600 % 12);
    timeutc[17] = static_cast<uint8_t>(e / 60 % 60);
    timeutc[18] = static_cast<uint8_t>(e % 60);
    timeutc[19] = 0x07;
    le::put32(svinfo.data(), itow);
    svinfo[4] = 12;
    for (int c = 0; c < 12; ++c) {
      uint8_t* b = svinfo.data() + 8 + 12 * c;
      b[0] = static_cast<uint8_t>(c);
      b[1] = static_cast<uint8_t>(c * 3 + 1);
      b[2] = 0x0D;
      b[4] = 40;
      b[5] = static_cast<uint8_t>(10 + c * 5);
      le::put16(b + 6, static_cast<uint16_t>(c * 30));
    }
    le::put32(sol.data(), itow);
    sol[10] = 3;
    sol[47] = 9;
    le::put32(dop.data(), itow);
    for (int k = 0; k < 7; ++k) le::put16(dop.data() + 4 + 2 * k, 120);
    for (const Bytes& f : {ubxFrame(1, 0x02, posllh), ubxFrame(1, 0x12, velned), ubxFrame(1, 0x21, timeutc),
                           ubxFrame(1, 0x06, sol), ubxFrame(1, 0x30, svinfo), ubxFrame(1, 0x03, status),
                           ubxFrame(1, 0x04, dop)}) {
      all.insert(all.end(), f.begin(), f.end());
    }
  }
  return all;
}

// A receiver's frame never carries an end byte among its data or as its checksum: such values
// are nudged to a neighbour, so that every frame of the stream decodes.
Bytes furunoFrame(uint8_t id, Bytes data) {
  auto isEnd = [](uint8_t v) { return v == 0xEA || v == 0xDA; };
  for (uint8_t& v : data) {
    if (isEnd(v)) v ^= 0x01;
  }
  Bytes f = {id};
  f.insert(f.end(), data.begin(), data.end());
  uint8_t x = 0;
  for (uint8_t v : f) x ^= v;
  if (isEnd(x) && data.size() > 1) {
    f[f.size() - 2] ^= 0x02;
    x ^= 0x02;
  }
  f.push_back(x);
  f.push_back(id == 0xD0 ? 0xDA : 0xEA);
  return f;
}

Bytes seven(int32_t v, int n) {
  Bytes out(static_cast<size_t>(n));
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = n - 1; i >= 0; --i) {
    out[static_cast<size_t>(i)] = static_cast<uint8_t>(0x80 | (u & 0x7F));
    u >>= 7;
  }
  return out;
}

Bytes furunoStream(int epochs) {
  Bytes all;
  for (int e = 0; e < epochs; ++e) {
    Bytes pos = {0x83, 0x80};
    for (const Bytes& part : {seven(21000000, 4), seven(83400000 + 9 * e, 4), seven(200, 4), seven(540, 3),
                              seven(900, 2), Bytes{0x89}}) {
      pos.insert(pos.end(), part.begin(), part.end());
    }
    Bytes time = {0x81, 0x9A, 0x86, 0x81, static_cast<uint8_t>(0x80 | 8), static_cast<uint8_t>(0x80 | (e / 60 % 60)),
                  static_cast<uint8_t>(0x80 | (e % 60)), 0x80, 0x80};
    Bytes sat = {12};
    for (int i = 0; i < 32; ++i) {
      Bytes s = {static_cast<uint8_t>(0x80 | (i + 1))};
      Bytes az = seven(i * 11, 2);
      s.insert(s.end(), az.begin(), az.end());
      s.insert(s.end(), {0xA0, 0x81, 0xA8});
      sat.insert(sat.end(), s.begin(), s.end());
    }
    sat.insert(sat.end(), {0x80, 0x80});
    Bytes quality = seven(12, 2);
    Bytes q2 = seven(15, 2);
    quality.insert(quality.end(), q2.begin(), q2.end());
    quality.insert(quality.end(), {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x85, 0x80, 0x81, 0x82});
    for (const Bytes& f : {furunoFrame(0xE0, pos), furunoFrame(0xE1, time), furunoFrame(0xE2, sat),
                           furunoFrame(0xE3, quality)}) {
      all.insert(all.end(), f.begin(), f.end());
    }
  }
  return all;
}

std::string nmeaSentence(const std::string& body) {
  uint8_t x = 0;
  for (char c : body) x ^= static_cast<uint8_t>(c);
  char tail[8];
  snprintf(tail, sizeof tail, "*%02X\r\n", x);
  return "$" + body + tail;
}

Bytes nmeaStream(int epochs) {
  std::string all;
  for (int e = 0; e < epochs; ++e) {
    char t[16];
    snprintf(t, sizeof t, "08%02d%02d.00", e / 60 % 60, e % 60);
    all += nmeaSentence(std::string("GPRMC,") + t + ",A,3500.0000,N,13900.1234,E,29.2,90.0,010626,,,A");
    all += nmeaSentence(std::string("GPGGA,") + t + ",3500.0000,N,13900.1234,E,1,09,1.2,20.0,M,39.0,M,,");
    all += nmeaSentence("GPGSV,3,1,12,01,40,000,40,04,45,030,40,07,50,060,40,10,55,090,40");
    all += nmeaSentence("GPGSV,3,2,12,13,60,120,40,16,65,150,40,19,70,180,40,22,75,210,40");
    all += nmeaSentence("GPGSV,3,3,12,25,80,240,40,28,85,270,40,31,10,300,40,34,15,330,40");
  }
  return Bytes(all.begin(), all.end());
}

// Feeds the stream in 1024-byte blocks, as the GPS worker reads them.
template <typename Decode>
int64_t feed(const Bytes& stream, GpsFixRecord* record, Decode decode) {
  int64_t completed = 0;
  for (size_t at = 0; at < stream.size(); at += 1024) {
    int n = static_cast<int>(std::min<size_t>(1024, stream.size() - at));
    completed += decode(stream.data() + at, n, record, 0) == 1;
  }
  return completed;
}

// gpsdecode on a file of u-blox bytes: its bytes per CPU second (user and system time of the
// child, so that a loaded machine does not skew the ratio), or 0 when it cannot run.
double gpsdecodeBytesPerSecond(const Bytes& stream) {
  std::string path = (fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/recorder-gps-bench.ubx");
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(stream.data(), 1, stream.size(), f);
  fclose(f);
  pid_t pid = fork();
  if (pid == 0) {
    FILE* in = freopen(path.c_str(), "rb", stdin);
    FILE* out = freopen("/dev/null", "w", stdout);
    (void)in;
    (void)out;
    execlp("gpsdecode", "gpsdecode", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage use = {};
  wait4(pid, &status, 0, &use);
  double seconds = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                   static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
  fs::remove(path);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 0;
  return static_cast<double>(stream.size()) / seconds;
}

void BM_UbxDecode(benchmark::State& state) {
  Bytes stream = ubloxStream(20000);  // about 9 MB
  GpsFixRecord record{};
  int64_t completed = 0;
  UbxResetForTest();
  auto cpuNow = [] {
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  };
  double t0 = cpuNow();
  for (auto _ : state) completed += feed(stream, &record, UbxDecode);
  double ours = static_cast<double>(stream.size()) * static_cast<double>(state.iterations()) / (cpuNow() - t0);
  state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
  state.counters["completing_calls"] = static_cast<double>(completed) / static_cast<double>(state.iterations());
  double theirs = gpsdecodeBytesPerSecond(stream);
  state.counters["ours_B/cpu_s"] = ours;
  state.counters["gpsdecode_B/cpu_s"] = theirs;
  state.counters["ratio_vs_gpsdecode"] = theirs > 0 ? ours / theirs : 0;
}
BENCHMARK(BM_UbxDecode)->Unit(benchmark::kMillisecond);

void BM_FurunoDecode(benchmark::State& state) {
  Bytes stream = furunoStream(20000);
  GpsFixRecord record{};
  int64_t completed = 0;
  FurunoResetForTest();
  for (auto _ : state) completed += feed(stream, &record, FurunoDecode);
  state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
  state.counters["completing_calls"] = static_cast<double>(completed) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FurunoDecode)->Unit(benchmark::kMillisecond);

void BM_NmeaDecode(benchmark::State& state) {
  Bytes stream = nmeaStream(20000);
  GpsFixRecord record{};
  NmeaInit(nullptr);
  for (auto _ : state) feed(stream, &record, NmeaDecode);
  state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
}
BENCHMARK(BM_NmeaDecode)->Unit(benchmark::kMillisecond);

int64_t threadCpuNs(pthread_t thread) {
  clockid_t id;
  struct timespec ts;
  if (pthread_getcpuclockid(thread, &id) != 0 || clock_gettime(id, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * sim::kNsPerSec + ts.tv_nsec;
}

void BM_GpsThreadAt9600(benchmark::State& state) {
  double speed = static_cast<double>(state.range(0));
  std::string dir = (fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/recorder-gps-thread-bench");
  fs::remove_all(dir);
  fs::create_directories(dir + "/rootfs");
  sim::setBoardDir(dir);
  MsgOpen();
  for (auto _ : state) {
    bench::UbloxOnPort2 line(speed);
    sem_t wake;
    sem_init(&wake, 0, 0);
    THREAD_INFO info{};
    info.number = 5;
    info.wake = &wake;
    info.run.store(1);
    std::thread worker([&] { gps_thread(&info); });
    // Records flow once the receiver is configured and detected; drain them as the recording
    // and log threads would.
    std::atomic<int64_t> records{0};
    auto drain = [&] {
      MsgRecord* m;
      for (int pipe : {PIPE_RECORD_GPS, PIPE_LOG_GPS, PIPE_CORE}) {
        while (MsgRecv(&m, pipe) == 0) {
          records += pipe == PIPE_RECORD_GPS;
          MsgDone(pipe);
        }
      }
    };
    while (records.load() == 0) {
      drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    int64_t cpu0 = threadCpuNs(worker.native_handle());
    int64_t real0 = sim::Clock::monoNow(), sim0 = sim::Clock::elapsed();
    int64_t records0 = records.load();
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
      drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    int64_t cpu = threadCpuNs(worker.native_handle()) - cpu0;
    int64_t real = sim::Clock::monoNow() - real0, simNs = sim::Clock::elapsed() - sim0;
    state.SetIterationTime(static_cast<double>(real) / sim::kNsPerSec);
    info.run.store(0);
    worker.join();
    drain();
    line.receiver->stop();
    sem_destroy(&wake);
    state.counters["thread_cpu%_of_core"] = 100.0 * static_cast<double>(cpu) / static_cast<double>(real);
    state.counters["cpu_ms_per_sim_s"] = static_cast<double>(cpu) / 1e6 / (static_cast<double>(simNs) / 1e9);
    state.counters["records/sim_s"] =
        static_cast<double>(records.load() - records0) / (static_cast<double>(simNs) / 1e9);
  }
  MsgClose();
  fs::remove_all(dir);
}
BENCHMARK(BM_GpsThreadAt9600)->Arg(1)->Arg(20)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
