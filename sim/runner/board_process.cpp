#include "board_process.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "board/timeline.h"
#include "core/main.h"
#include "core/supervisor.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"

namespace sim {
namespace {

std::vector<std::unique_ptr<BoardModel>>* gModels = nullptr;

// The board's own flash partitions are always in the kernel's list; the card adds its lines.
const char kPartitionsHeader[] =
    "major minor  #blocks  name\n"
    "\n"
    "  31        0        256 mtdblock0\n"
    "  31        1        512 mtdblock1\n"
    "  31        2       2048 mtdblock2\n"
    "  31        3      13568 mtdblock3\n";

void carryOut(const std::vector<std::string>& words) {
  if (words.empty()) return;
  if (words[0] == "power" && words.size() == 2) {
    bool present = words[1] == "on";
    for (auto& m : *gModels) m->supplyChanged(present);
    return;
  }
  for (auto& m : *gModels) {
    for (const std::string& a : m->actions()) {
      if (a != words[0]) continue;
      if (!m->act(words)) boardNote("%s could not carry out: %s", m->name(), words[0].c_str());
      return;
    }
  }
  boardNote("no part of the board knows the action: %s", words[0].c_str());
}

// Receives the scenario's actions from recorder-sim, one per datagram.
void controlLoop(int fd) {
  char buf[1024];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return;  // recorder-sim went away
    buf[n] = '\0';
    carryOut(splitCommandLine(buf));
  }
}

}  // namespace

void prepareRootfs(const std::string& boardDir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const char* dir : {"rootfs/mnt/log", "rootfs/mnt/ramdisk", "rootfs/proc", "rootfs/dev"}) {
    fs::create_directories(fs::path(boardDir) / dir, ec);
  }
  std::ofstream(fs::path(boardDir) / "rootfs/proc/partitions", std::ios::trunc) << kPartitionsHeader;
}

void runBoardProcess(const BoardProcessArgs& args) {
  setenv("TZ", args.tz.c_str(), 1);
  tzset();
  setvbuf(stdout, nullptr, _IOLBF, 0);
  setBoardDir(args.config.boardDir);
  Clock::runAt(args.speed, args.monoAnchor, 0, args.worldAtZero);
  timelineOpen(args.config.boardDir + "/timeline.jsonl", false);
  timelineStampBoardClock(true);
  prepareRootfs(args.config.boardDir);

  setRebootHandler([] {
    fflush(stdout);
    _exit(kRebootExitCode);  // the board goes down at once; recorder-sim boots it again
  });

  // Every thread of the simulated board blocks SIGINT: only the program's supervisor takes it.
  sigset_t intOnly;
  sigemptyset(&intOnly);
  sigaddset(&intOnly, SIGINT);
  pthread_sigmask(SIG_BLOCK, &intOnly, nullptr);

  static std::vector<std::unique_ptr<BoardModel>> models = createBoardModels();
  gModels = &models;
  for (auto& m : models) m->boot(args.config);
  if (args.controlFd >= 0) std::thread(controlLoop, args.controlFd).detach();

  // recorder-sim stops the board with SIGINT, which may come before the program has installed
  // its handler; the program's own handler takes it from the first instruction on, so an early
  // stop is still an orderly one.
  struct sigaction stop = {};
  stop.sa_handler = sig_handle;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGINT, &stop, nullptr);
  pthread_sigmask(SIG_UNBLOCK, &intOnly, nullptr);
  // The program's command line, as the board's start-up script gives it.
  std::vector<std::string> words = {"recorder"};
  for (auto& m : models) m->programArguments(args.config, &words);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  int result = RecorderParseOptions(static_cast<int>(argv.size()), argv.data()) == 0 ? recorder_main() : 2;
  fflush(stdout);
  // The program ended without a reboot: the board halts. Models' threads are still running, so
  // leave without running destructors under them.
  _exit(result & 0xff);
}

}  // namespace sim
