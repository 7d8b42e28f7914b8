#include "support/sim_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_board {

namespace fs = std::filesystem;

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

std::string SimRun::console() const { return readAll(boardDir + "/console.log"); }

std::vector<std::string> SimRun::timeline() const {
  std::vector<std::string> lines;
  std::istringstream in(readAll(boardDir + "/timeline.jsonl"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> SimRun::events(const std::string& event, const std::string& with) const {
  std::vector<std::string> out;
  for (const std::string& line : timeline()) {
    if (line.find("\"event\":\"" + event + "\"") == std::string::npos) continue;
    if (!with.empty() && line.find(with) == std::string::npos) continue;
    out.push_back(line);
  }
  return out;
}

double timelineStamp(const std::string& timelineLine, const std::string& key) {
  size_t at = timelineLine.find("\"" + key + "\":\"");
  if (at == std::string::npos) return -1;
  struct tm tm = {};
  const char* text = timelineLine.c_str() + at + key.size() + 4;
  const char* rest = strptime(text, "%Y-%m-%d %H:%M:%S", &tm);
  if (rest == nullptr) return -1;
  double fraction = *rest == '.' ? strtod(rest, nullptr) : 0;
  return static_cast<double>(timegm(&tm)) + fraction;
}

std::string makeBoardDir(const std::string& name) {
  std::string dir = "/tmp/recorder-e2e-" + name + "-" + std::to_string(getpid());
  removeBoardDir(dir);
  return dir;
}

void removeBoardDir(const std::string& dir) {
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::remove(dir + ".scenario", ec);
  fs::remove(dir + ".output", ec);
}

// The board process ends with _exit, so a sanitizer's report does not change its exit code: in
// a sanitizer build every report on the console fails the test that ran the board.
void reportSanitizerFindings(const std::string& output) {
  for (const char* mark : {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                           "runtime error:"}) {
    size_t at = output.find(mark);
    if (at == std::string::npos) continue;
    size_t from = output.rfind('\n', at);
    from = from == std::string::npos ? 0 : from + 1;
    ADD_FAILURE() << "the board reported:\n" << output.substr(from, 3000);
    return;
  }
}

SimRun runSim(const std::string& recorderSim, const std::string& boardDir, const std::vector<std::string>& args,
              const std::string& scenario) {
  SimRun run;
  run.boardDir = boardDir;
  std::string command = shellQuote(recorderSim) + " --board " + shellQuote(boardDir);
  if (!scenario.empty()) {
    std::string path = boardDir + ".scenario";
    std::ofstream(path, std::ios::trunc) << scenario;
    command += " --scenario " + shellQuote(path);
  }
  for (const std::string& a : args) command += " " + shellQuote(a);
  command += " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return run;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) run.output.append(buf, n);
  int status = pclose(p);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  reportSanitizerFindings(run.output);
  return run;
}

SimProcess::SimProcess(const std::string& recorderSim, const std::string& boardDir,
                       const std::vector<std::string>& args, const std::string& scenario) {
  run_.boardDir = boardDir;
  std::vector<std::string> words = {recorderSim, "--board", boardDir};
  if (!scenario.empty()) {
    std::string path = boardDir + ".scenario";
    std::ofstream(path, std::ios::trunc) << scenario;
    words.insert(words.end(), {"--scenario", path});
  }
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string output = boardDir + ".output";
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

SimProcess::~SimProcess() {
  if (pid_ > 0) stop();
}

bool SimProcess::waitForConsole(const std::string& text, double seconds, int count) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  auto holds = [&] {
    std::string console = run_.console();
    int n = 0;
    for (size_t at = console.find(text); at != std::string::npos && n < count; at = console.find(text, at + 1)) ++n;
    return n >= count;
  };
  while (std::chrono::steady_clock::now() < deadline) {
    if (holds()) return true;
    if (pid_ <= 0 || kill(pid_, 0) != 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {  // the run ended by itself
      run_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
      return holds();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

SimRun SimProcess::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGINT);
    int status = 0;
    waitpid(pid_, &status, 0);
    run_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
  }
  run_.output = readAll(run_.boardDir + ".output");
  return run_;
}

SimRun runSimUntil(const std::string& recorderSim, const std::string& boardDir, const std::vector<std::string>& args,
                   const std::string& scenario, const std::string& text, int count, double seconds) {
  SimProcess sim(recorderSim, boardDir, args, scenario);
  bool reached = sim.started() && sim.waitForConsole(text, seconds, count);
  SimRun run = sim.stop();
  EXPECT_TRUE(reached) << "the board's console never held \"" << text << "\" " << count << " times\n" << run.output;
  reportSanitizerFindings(run.output);
  return run;
}

}  // namespace testing_board
