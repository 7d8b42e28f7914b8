#include "board/host_tools.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace sim {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> toolEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    if (strncmp(*e, "MTOOLS_SKIP_CHECK=", 18) != 0) env.emplace_back(*e);
  }
  // Card images have no partition geometry that mtools would accept otherwise.
  env.emplace_back("MTOOLS_SKIP_CHECK=1");
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
  std::vector<char*> out;
  for (std::string& w : words) out.push_back(w.data());
  out.push_back(nullptr);
  return out;
}

// Spawn attributes shared by tools and daemons: default signal mask and dispositions (the board
// process blocks SIGINT in every thread), optionally a process group of its own.
class SpawnSetup {
 public:
  explicit SpawnSetup(bool ownGroup) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attr_);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setsigdefault(&attr_, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (ownGroup) {
      flags |= POSIX_SPAWN_SETPGROUP;
      posix_spawnattr_setpgroup(&attr_, 0);
    }
    posix_spawnattr_setflags(&attr_, flags);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // The child gets /dev/null as input, `out` as output and error, and nothing else.
  void redirect(int out) {
    posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions_, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, out, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  }
  pid_t spawn(std::vector<std::string> argv) {
    std::string program = findTool(argv[0]);
    if (program.empty()) return -1;
    argv[0] = program;
    std::vector<std::string> env = toolEnvironment();
    std::vector<char*> a = pointers(argv), e = pointers(env);
    pid_t pid = -1;
    if (posix_spawn(&pid, a[0], &actions_, &attr_, a.data(), e.data()) != 0) return -1;
    return pid;
  }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

int exitCodeOf(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (!WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
}

std::string unescapeMountPath(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

int runTool(const std::vector<std::string>& argv, std::string* output) {
  if (argv.empty()) return -1;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  pid_t pid;
  {
    SpawnSetup setup(false);
    setup.redirect(pipeFds[1]);
    pid = setup.spawn(argv);
  }
  ::close(pipeFds[1]);
  std::string collected;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    collected.append(buf, static_cast<size_t>(n));
  }
  ::close(pipeFds[0]);
  if (output) *output = collected;
  if (pid < 0) return -1;
  return exitCodeOf(pid);
}

pid_t spawnDaemon(const std::vector<std::string>& argv, const std::string& logPath) {
  if (argv.empty()) return -1;
  int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) log = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  SpawnSetup setup(true);
  setup.redirect(log);
  pid_t pid = setup.spawn(argv);
  ::close(log);
  return pid;
}

bool processAlive(pid_t pid) {
  if (pid <= 0) return false;
  int status;
  pid_t r = waitpid(pid, &status, WNOHANG);
  if (r == pid) return false;  // our child, and it has ended
  if (::kill(pid, 0) != 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  char state = line[close + 2];
  return state != 'Z' && state != 'X';
}

bool waitProcessGone(pid_t pid, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (processAlive(pid)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool isHostMountPoint(const std::string& path) {
  std::error_code ec;
  fs::path want = fs::weakly_canonical(fs::absolute(path, ec), ec);
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root mountpoint ...
    size_t pos = 0;
    for (int field = 0; field < 4 && pos != std::string::npos; ++field) pos = line.find(' ', pos + 1);
    if (pos == std::string::npos) continue;
    size_t end = line.find(' ', pos + 1);
    if (unescapeMountPath(line.substr(pos + 1, end - pos - 1)) == want.string()) return true;
  }
  return false;
}

std::string findTool(const std::string& name) {
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : "";
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  dirs += ":/usr/sbin:/sbin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    std::string candidate = dirs.substr(start, colon - start) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = colon + 1;
  }
  return "";
}

std::string absolutePath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
}

}  // namespace sim
