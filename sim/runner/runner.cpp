// recorder-sim: boots the simulated board, runs the program on it under a scenario, follows
// reboots and power cuts, and stops it in order at the end.
#include "runner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "board/timeline.h"
#include "board_process.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"
#include "scenario.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

// Real seconds the board gets to stop in order before recorder-sim gives up on it.
constexpr int64_t kStopTimeoutRealNs = 60 * kNsPerSec;

volatile sig_atomic_t gInterrupted = 0;
void onInterrupt(int) { gInterrupted = 1; }

// Copies the board's console (its stdout and stderr) to our stdout and DIR/console.log. The
// program marks its important events with "@@" after the trace tag; those lines go to the
// timeline too.
class Console {
 public:
  void open(const std::string& path) { log_ = fopen(path.c_str(), "a"); }
  void write(const char* data, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    fwrite(data, 1, n, stdout);
    fflush(stdout);
    if (log_) {
      fwrite(data, 1, n, log_);
      fflush(log_);
    }
    markImportant(data, n);
  }
  void note(const std::string& text) {
    std::string line = "[sim] " + text + "\n";
    write(line.data(), line.size());
  }
  // Reads the board's output until the pipe closes.
  std::thread follow(int fd) {
    return std::thread([this, fd] {
      char buf[4096];
      for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        write(buf, static_cast<size_t>(n));
      }
      ::close(fd);
    });
  }

 private:
  void markImportant(const char* data, size_t n) {
    partial_.append(data, n);
    size_t start = 0;
    for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string line = partial_.substr(start, end - start);
      if (line.find(": @@") != std::string::npos) TimelineEvent("console").add("text", line).emit();
    }
    partial_.erase(0, start);
  }

  std::mutex mutex_;
  FILE* log_ = nullptr;
  std::string partial_;  // the console's last line until it ends
};

Console gConsole;
int gControlFd = -1;  // our end of the board process's control channel

void sendToBoard(const std::string& line) {
  if (gControlFd >= 0) (void)::send(gControlFd, line.data(), line.size(), MSG_NOSIGNAL);
}

struct Board {
  pid_t pid = -1;
  std::thread output;
  bool killedForPower = false;
};

std::string boardIni(const std::string& dir) { return dir + "/board.ini"; }

// Where the world clock stands for a board directory that is reused without --start.
bool savedWorldTime(const std::string& dir, int64_t* ns) {
  std::ifstream in(boardIni(dir));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("world_ns=", 0) == 0) {
      *ns = std::stoll(line.substr(9));
      return true;
    }
  }
  return false;
}

void saveWorldTime(const std::string& dir) {
  std::ofstream(boardIni(dir), std::ios::trunc) << "world_ns=" << Clock::world() << "\n";
}

class Runner {
 public:
  Runner(RunnerOptions options, std::vector<ScenarioAction> scenario)
      : opt_(std::move(options)), scenario_(std::move(scenario)) {
    extensions_ = createRunnerExtensions();
    ctx_.boardDir = opt_.boardDir;
    ctx_.options = opt_.extra;
    ctx_.speed = opt_.speed;
    ctx_.sendToBoard = sendToBoard;
    ctx_.noteSink = [](const std::string& text) { gConsole.note(text); };
  }

  int run();

 private:
  void boot();
  void boardEnded(int status);
  void act(const ScenarioAction& action);
  void requestStop(const char* why);
  bool boardAlive() const { return board_.pid > 0; }
  int64_t nextDeadline() const;

  RunnerOptions opt_;
  std::vector<ScenarioAction> scenario_;
  std::vector<std::unique_ptr<RunnerExtension>> extensions_;
  RunnerContext ctx_;
  Board board_;
  size_t next_ = 0;
  int boots_ = 0;
  bool supply_ = true;
  int64_t holdUpEnd_ = -1;  // elapsed time at which the capacitor is empty, while the supply is off
  bool stopRequested_ = false;
  int64_t stopRealDeadline_ = 0;
  bool done_ = false;
  int exitCode_ = 0;
  bool poweringUp_ = true;  // actions at time 0 run before the first boot
  int64_t monoAnchor_ = 0;
  int64_t worldAtZero_ = 0;
};

void Runner::boot() {
  for (auto& e : extensions_) e->beforeBoot(ctx_);
  int control[2];
  int output[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, control) != 0 || pipe2(output, O_CLOEXEC) != 0) {
    gConsole.note(std::string("cannot start the board: ") + strerror(errno));
    done_ = true;
    exitCode_ = 1;
    return;
  }
  ++boots_;
  TimelineEvent("boot").add("boot", boots_).add("supply", supply_).emit();
  gConsole.note("boot " + std::to_string(boots_) + (supply_ ? "" : " (on the back-up capacitor)"));

  std::vector<std::string> args = {
      opt_.self, "--board-process", "--board", opt_.boardDir, "--tz", opt_.tz,
      "--speed", std::to_string(opt_.speed), "--mono-anchor", std::to_string(monoAnchor_),
      "--world-zero", std::to_string(worldAtZero_), "--control-fd", std::to_string(control[1]),
      "--boot", std::to_string(boots_), "--supply", supply_ ? "on" : "off"};
  for (const auto& [k, v] : ctx_.options) {
    args.push_back("--opt");
    args.push_back(k + "=" + v);
  }
  // The board process must never run our own signal handlers: block the stop signals across
  // the fork; the board process starts with them blocked and unblocks them when it is ready.
  sigset_t stopSignals, previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, &previous);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    dup2(output[1], STDOUT_FILENO);
    dup2(output[1], STDERR_FILENO);
    fcntl(control[1], F_SETFD, 0);  // the one descriptor the board process keeps
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  ::close(output[1]);
  ::close(control[1]);
  if (pid < 0) {
    ::close(output[0]);
    ::close(control[0]);
    gConsole.note("cannot start the board process");
    done_ = true;
    exitCode_ = 1;
    return;
  }
  board_.pid = pid;
  board_.killedForPower = false;
  board_.output = gConsole.follow(output[0]);
  gControlFd = control[0];
  ctx_.boardRunning = true;
}

void Runner::boardEnded(int status) {
  if (board_.output.joinable()) board_.output.join();
  ::close(gControlFd);
  gControlFd = -1;
  board_.pid = -1;
  ctx_.boardRunning = false;
  for (auto& e : extensions_) e->boardDown(ctx_);

  if (board_.killedForPower) {
    TimelineEvent("board-off").add("reason", "back-up capacitor empty").emit();
    gConsole.note("the back-up capacitor is empty: the board is off");
    if (stopRequested_) {
      done_ = true;
    } else if (supply_) {
      // The supply came back while the dying board was still being taken down (its "power on"
      // went to a board that could no longer answer): the board powers up, as a real one does.
      gConsole.note("the power is back: the board starts again");
      boot();
    }
    return;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == kPowerCutExitCode) {
    supply_ = false;
    ctx_.supplyPresent = false;
    holdUpEnd_ = -1;
    TimelineEvent("power").add("supply", false).emit();
    TimelineEvent("board-off").add("reason", "power cut").emit();
    gConsole.note("power cut: the board is off until the power comes back");
    if (stopRequested_) done_ = true;
    return;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == kRebootExitCode) {
    TimelineEvent("reboot").emit();
    if (stopRequested_) {
      gConsole.note("the board rebooted after the stop: end of the run");
      done_ = true;
    } else {
      gConsole.note("the board reboots");
      boot();
    }
    return;
  }
  if (WIFEXITED(status)) {
    TimelineEvent("program-end").add("status", WEXITSTATUS(status)).emit();
    gConsole.note("the program ended with status " + std::to_string(WEXITSTATUS(status)) + "; the board halts");
    if (stopRequested_) done_ = true;
    return;
  }
  int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  if (sig == SIGINT && stopRequested_) {
    // The stop signal reached the program after it had given SIGINT back its default action
    // (at the very end of its shutdown): stopped, as on the board.
    TimelineEvent("program-end").add("signal", sig).emit();
    gConsole.note("the program ended on the stop signal");
    done_ = true;
    return;
  }
  TimelineEvent("crash").add("signal", sig).emit();
  gConsole.note(std::string("the board process died: ") + strsignal(sig));
  done_ = true;
  exitCode_ = 1;
}

void Runner::requestStop(const char* why) {
  if (stopRequested_) return;
  stopRequested_ = true;
  TimelineEvent("stop").add("reason", why).emit();
  gConsole.note(std::string("stop (") + why + ")");
  if (!boardAlive()) {
    done_ = true;
    return;
  }
  kill(board_.pid, SIGINT);
  stopRealDeadline_ = Clock::monoNow() + kStopTimeoutRealNs;
}

void Runner::act(const ScenarioAction& action) {
  const std::vector<std::string>& w = action.words;
  TimelineEvent("action").add("action", action.text()).emit();
  if (w[0] == "stop") {
    requestStop("scenario");
  } else if (w[0] == "power" && w.size() == 2 && (w[1] == "off" || w[1] == "on")) {
    bool on = w[1] == "on";
    if (on == supply_) return;
    supply_ = on;
    ctx_.supplyPresent = on;
    TimelineEvent("power").add("supply", on).emit();
    gConsole.note(on ? "power on" : "power off");
    if (on) {
      holdUpEnd_ = -1;
      if (boardAlive()) {
        sendToBoard("power on");
      } else if (!stopRequested_ && !poweringUp_) {
        boot();
      }
    } else {
      // Counted from the scenario's moment of the cut, not from when this loop got to it: the
      // capacitor runs out at the same point of the run however busy the PC is.
      holdUpEnd_ = static_cast<int64_t>(action.seconds * kNsPerSec) + static_cast<int64_t>(opt_.holdUpSeconds * kNsPerSec);
      sendToBoard("power off");
    }
  } else {
    for (auto& e : extensions_) {
      auto names = e->actions();
      if (std::find(names.begin(), names.end(), w[0]) != names.end()) {
        if (!e->act(ctx_, w)) gConsole.note("cannot carry out: " + action.text());
        return;
      }
    }
    if (boardAlive()) {
      sendToBoard(action.text());
    } else {
      gConsole.note("the board is off: " + action.text() + " has no effect");
    }
  }
}

int64_t Runner::nextDeadline() const {
  int64_t deadline = INT64_MAX;
  if (next_ < scenario_.size()) deadline = static_cast<int64_t>(scenario_[next_].seconds * kNsPerSec);
  if (opt_.durationSeconds > 0 && !stopRequested_) {
    deadline = std::min(deadline, static_cast<int64_t>(opt_.durationSeconds * kNsPerSec));
  }
  if (holdUpEnd_ >= 0) deadline = std::min(deadline, holdUpEnd_);
  return deadline;
}

int Runner::run() {
  for (auto& e : extensions_) {
    std::string error;
    if (!e->checkOptions(ctx_, &error)) {
      fprintf(stderr, "recorder-sim: %s\n", error.c_str());
      return 2;
    }
  }
  std::error_code ec;
  fs::create_directories(opt_.boardDir, ec);
  setBoardDir(opt_.boardDir);
  int64_t savedWorld = 0;
  worldAtZero_ = opt_.hasStart ? opt_.startWorldNs
                 : savedWorldTime(opt_.boardDir, &savedWorld) ? savedWorld
                                                               : static_cast<int64_t>(::time(nullptr)) * kNsPerSec;
  monoAnchor_ = Clock::monoNow();
  Clock::runAt(opt_.speed, monoAnchor_, 0, worldAtZero_);
  gConsole.open(opt_.boardDir + "/console.log");
  timelineOpen(opt_.boardDir + "/timeline.jsonl", true);
  TimelineEvent("run-start").add("speed", opt_.speed).add("tz", opt_.tz).emit();
  char speed[32];
  snprintf(speed, sizeof speed, "%g", opt_.speed);
  gConsole.note("board " + opt_.boardDir + ", start " + worldTimeText(worldAtZero_) + " " + opt_.tz + ", speed x" + speed);

  signal(SIGINT, onInterrupt);
  signal(SIGTERM, onInterrupt);
  signal(SIGPIPE, SIG_IGN);
  for (auto& e : extensions_) e->runStart(ctx_);
  // Actions at time 0 describe the board as it is powered on (a button held, a card inserted).
  while (next_ < scenario_.size() && scenario_[next_].seconds == 0 && !done_) act(scenario_[next_++]);
  poweringUp_ = false;
  if (!done_ && supply_) boot();

  while (!done_) {
    // The board process going down comes first: a reboot or a power cut changes everything.
    if (boardAlive()) {
      int status = 0;
      pid_t r = waitpid(board_.pid, &status, WNOHANG);
      if (r == board_.pid) {
        boardEnded(status);
        continue;
      }
    }
    if (gInterrupted) {
      gInterrupted = 0;
      requestStop("interrupted");
      continue;
    }
    if (stopRequested_ && boardAlive() && Clock::monoNow() > stopRealDeadline_) {
      gConsole.note("the board did not stop in time; cutting it off");
      kill(board_.pid, SIGKILL);
      exitCode_ = 1;
      stopRealDeadline_ = INT64_MAX;
      continue;
    }
    int64_t now = Clock::elapsed();
    if (holdUpEnd_ >= 0 && now >= holdUpEnd_) {
      holdUpEnd_ = -1;
      if (boardAlive()) {
        board_.killedForPower = true;
        kill(board_.pid, SIGKILL);  // whatever is not on the card yet is lost
      }
      continue;
    }
    if (opt_.durationSeconds > 0 && !stopRequested_ && now >= static_cast<int64_t>(opt_.durationSeconds * kNsPerSec)) {
      requestStop("duration");
      continue;
    }
    if (next_ < scenario_.size() && now >= static_cast<int64_t>(scenario_[next_].seconds * kNsPerSec)) {
      act(scenario_[next_++]);
      continue;
    }
    if (!boardAlive() && next_ >= scenario_.size() && holdUpEnd_ < 0 &&
        (opt_.durationSeconds <= 0 || stopRequested_)) {
      done_ = true;  // nothing more can happen
      continue;
    }
    int64_t wait = Clock::realFor(nextDeadline() - now);
    std::this_thread::sleep_for(std::chrono::nanoseconds(std::clamp<int64_t>(wait, 100 * 1000, 5 * kNsPerMs)));
  }

  if (boardAlive()) {  // a crash path left it running
    kill(board_.pid, SIGKILL);
    int status;
    waitpid(board_.pid, &status, 0);
    board_.killedForPower = true;
    boardEnded(status);
  }
  for (auto& e : extensions_) e->runEnd(ctx_);
  saveWorldTime(opt_.boardDir);
  TimelineEvent("run-end").add("status", exitCode_).emit();
  gConsole.note(exitCode_ == 0 ? "run ended in order" : "run ended with errors");
  return exitCode_;
}

}  // namespace

int64_t parseWorldTime(const std::string& text, bool* ok) {
  struct tm tm = {};
  const char* end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
  *ok = end != nullptr && *end == '\0';
  tm.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&tm)) * kNsPerSec;
}

bool knownAction(const std::string& name) {
  if (name == "stop" || name == "power") return true;
  for (auto& e : createRunnerExtensions()) {
    for (const std::string& a : e->actions()) {
      if (a == name) return true;
    }
  }
  for (auto& m : createBoardModels()) {
    for (const std::string& a : m->actions()) {
      if (a == name) return true;
    }
  }
  return false;
}

namespace {

// The arguments of an action, as the part of the board or the runner that carries it out checks
// them; the runner's own actions (stop, power) are checked here.
bool actionValid(const std::vector<std::string>& words, std::string* error) {
  if (words[0] == "stop") {
    if (words.size() == 1) return true;
    *error = "expected \"stop\" alone";
    return false;
  }
  if (words[0] == "power") {
    if (words.size() == 2 && (words[1] == "on" || words[1] == "off")) return true;
    *error = "expected \"power on\" or \"power off\"";
    return false;
  }
  // The runner's extensions carry out an action before the board does (hold, release).
  for (auto& e : createRunnerExtensions()) {
    for (const std::string& a : e->actions()) {
      if (a == words[0]) return e->checkAction(words, error);
    }
  }
  for (auto& m : createBoardModels()) {
    for (const std::string& a : m->actions()) {
      if (a == words[0]) return m->checkAction(words, error);
    }
  }
  return true;
}

}  // namespace

bool checkScenario(const std::string& path, const std::vector<ScenarioAction>& scenario, std::string* error) {
  for (const ScenarioAction& a : scenario) {
    std::string why;
    if (!knownAction(a.words[0])) {
      why = "unknown action \"" + a.words[0] + "\"";
    } else if (actionValid(a.words, &why)) {
      continue;
    }
    *error = path + ": line " + std::to_string(a.line) + ": " + why + " (in \"" + a.text() + "\")";
    return false;
  }
  return true;
}

int runRecorderSim(const RunnerOptions& options) {
  std::vector<ScenarioAction> scenario;
  if (!options.scenarioPath.empty()) {
    std::string error;
    if (!loadScenario(options.scenarioPath, &scenario, &error)) {
      fprintf(stderr, "recorder-sim: %s: %s\n", options.scenarioPath.c_str(), error.c_str());
      return 2;
    }
    if (!checkScenario(options.scenarioPath, scenario, &error)) {
      fprintf(stderr, "recorder-sim: %s\n", error.c_str());
      return 2;
    }
  }
  Runner runner(options, std::move(scenario));
  return runner.run();
}

}  // namespace sim
