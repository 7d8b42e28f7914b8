#include "support/sim_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

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

std::string makeBoardDir(const std::string& name) {
  std::string dir = "/tmp/recorder-e2e-" + name + "-" + std::to_string(getpid());
  removeBoardDir(dir);
  return dir;
}

void removeBoardDir(const std::string& dir) {
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::remove(dir + ".scenario", ec);
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

}  // namespace testing_board
