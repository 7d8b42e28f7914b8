// The recording worker's per-frame path: matching the G and GPS messages to the frame, the
// comment block and index entry, and the three writes of dskWrite.
//
//   build/host/bin/bench_record_frame
//   valgrind --tool=callgrind --toggle-collect='*benchProcessFrame*' build/host/bin/bench_record_frame
//       --benchmark_filter=MetadataOnly --benchmark_min_time=0.05   (one command line)
// (instructions per frame = the Ir total callgrind collects / the "frames processed" printed at the
// end, which counts every run Google Benchmark made)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/msg_pipe.h"
#include "core/msg_send.h"
#include "gps/gps_fix.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"
#include "record/frame_comment.h"
#include "record/frame_index.h"
#include "record/record_thread.h"

namespace {

namespace fs = std::filesystem;
constexpr int kBatch = 256;
constexpr int kRate = 15;

struct Bench {
  Bench(size_t jpegSize, bool write) : writing(write) {
    dir = fs::exists("/dev/shm") ? "/dev/shm/recorder-bench" : "/tmp/recorder-bench";
    fs::remove_all(dir);
    fs::create_directories(dir + "/rootfs/mnt/log/ch1/event");
    sim::setBoardDir(dir);
    sim::Clock::manual(int64_t{1767225600} * sim::kNsPerSec);
    SetDefaultParameter(&gConfig);
    MsgOpen();
    info.run.store(1);
    info.config = &gConfig;
    s.info = &info;
    s.cfg = &gConfig;
    s.matchWindowMs = 15000;
    uint32_t kind = STREAM_KIND_BASE | STREAM_KIND_EVENT;
    s.dsk = dskOpen("/mnt/log", 1, &kind, 1);
    frameBytes.assign(sizeof(ENC_FRAME) + jpegSize, 0x55);
    frame = reinterpret_cast<ENC_FRAME*>(frameBytes.data());
    frame->jpegSize.set(static_cast<uint32_t>(jpegSize));
    frameBytes[sizeof(ENC_FRAME)] = 0xFF;
    frameBytes[sizeof(ENC_FRAME) + 1] = 0xD8;
    fix.bytes[ubxfix::kStatus + ubxfix::kFrameHead + ubxfix::status::gpsFix] = 3;
    if (writing) dskWriteStart(s.dsk, 0, 1767225600);
  }
  ~Bench() {
    dskClose(s.dsk);
    MsgClear(PIPE_RECORD_GSNR);
    MsgClear(PIPE_RECORD_GPS);
    MsgClose();
    fs::remove_all(dir);
  }
  // The G-sensor and GPS threads' messages for the next batch of frames, one of each a frame.
  void sendBatch() {
    for (int i = 0; i < kBatch; ++i) {
      uint64_t n = frameNo + static_cast<uint64_t>(i);
      struct timeval t;
      t.tv_sec = static_cast<time_t>(1767225600 + n / kRate);
      t.tv_usec = static_cast<suseconds_t>((n % kRate) * 1000000 / kRate);
      SendMsgGValues(PIPE_RECORD_GSNR, 1, 2, 3, &t);
      SendMsgGPSData(PIPE_RECORD_GPS, GPS_PROTO_UBX, static_cast<uint32_t>(t.tv_sec), static_cast<uint32_t>(t.tv_usec),
                     &fix);
    }
  }
  // A new pair now and then, so the files stay small.
  void rollIfLarge() {
    if (!writing || s.stream()->IdxHeader.dwFrameTotal.get() < 4096) return;
    dskWriteEnd(s.dsk, 0);
    for (const auto& e : fs::directory_iterator(dir + "/rootfs/mnt/log/ch1/event")) fs::remove(e.path());
    dskWriteStart(s.dsk, 0, 1767225600);
  }

  std::string dir;
  bool writing;
  THREAD_INFO info{};
  RecordState s;
  std::vector<uint8_t> frameBytes;
  ENC_FRAME* frame = nullptr;
  GpsFixRecord fix{};
  uint64_t frameNo = 0;
};

// One frame as the recording worker handles it once it is to be written.
uint64_t gFramesProcessed = 0;

__attribute__((noinline)) int benchProcessFrame(Bench& b) {
  ++gFramesProcessed;
  RecordState& s = b.s;
  uint64_t n = b.frameNo++;
  uint32_t second = static_cast<uint32_t>(1767225600 + n / kRate);
  b.frame->seconds.set(second);
  b.frame->microseconds.set(static_cast<uint32_t>((n % kRate) * 1000000 / kRate));
  b.frame->frameNumber = static_cast<uint8_t>(n % kRate);
  VIDEO_STREAM* vs = s.stream();
  if (second != s.currentSecond) {
    createExifHeader(&vs->comment);
    s.currentSecond = second;
  }
  RecordApplyGsnr(s, b.frame);
  RecordApplyGps(s, b.frame);
  createExifFormatImage(&vs->comment, b.frame, s.cfg, 2, vr::kFrameAfter);
  SetFrameIdxTime(vs, second, b.frame->microseconds.get(), vr::kFrameAfter, 2);
  if (!b.writing) return 0;
  return dskWrite(s.dsk, 0, b.frame, b.frameBytes.data() + sizeof(ENC_FRAME));
}

void run(benchmark::State& state, size_t jpegSize, bool write) {
  Bench b(jpegSize, write);
  int inBatch = kBatch;
  for (auto _ : state) {
    if (inBatch == kBatch) {
      state.PauseTiming();
      b.rollIfLarge();
      b.sendBatch();
      inBatch = 0;
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(benchProcessFrame(b));
    ++inBatch;
  }
  state.SetItemsProcessed(state.iterations());
  if (write) state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(jpegSize + 65 + 66 - 2));
}

void MetadataOnly(benchmark::State& state) { run(state, 64 * 1024, false); }
void WithWrites2KiB(benchmark::State& state) { run(state, 2 * 1024, true); }
void WithWrites64KiB(benchmark::State& state) { run(state, 64 * 1024, true); }
void WithWrites200KiB(benchmark::State& state) { run(state, 200 * 1024, true); }

BENCHMARK(MetadataOnly);
BENCHMARK(WithWrites2KiB);
BENCHMARK(WithWrites64KiB);
BENCHMARK(WithWrites200KiB);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fprintf(stderr, "frames processed: %llu\n", static_cast<unsigned long long>(gFramesProcessed));
  return 0;
}
