#include "platform/sim/board.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <dirent.h>
#include <strings.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "platform/sim/devices.h"

namespace sim {
namespace {

struct MountEntry {
  std::shared_ptr<Filesystem> fs;
  std::string hostDir;
};

struct BoardState {
  std::mutex mutex;
  std::string dir = ".";
  std::map<std::string, std::shared_ptr<Filesystem>> sources;
  std::map<std::string, MountEntry> mounts;  // by normalised target
  std::map<std::string, CommandHandler> commands;
  std::function<void()> reboot;
};

BoardState& board() {
  static BoardState b;
  return b;
}

std::atomic<int> gReboots{0};

void installDefaultCommands(BoardState& b) {
  b.commands["reboot"] = [](const std::vector<std::string>&) {
    std::function<void()> handler;
    {
      std::lock_guard<std::mutex> lock(board().mutex);
      handler = board().reboot;
    }
    gReboots.fetch_add(1);
    if (handler) handler();
    return 0;
  };
  // Nothing of the PC is flushed; a card model that needs it registers its own "sync".
  b.commands["sync"] = [](const std::vector<std::string>&) { return 0; };
}

struct DefaultsInstaller {
  DefaultsInstaller() { installDefaultCommands(board()); }
} gDefaults;

bool isUnder(const std::string& path, const std::string& prefix) {
  if (prefix == "/") return true;
  return path == prefix || (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
                            path[prefix.size()] == '/');
}

int waitStatus(int exitCode) { return (exitCode & 0xff) << 8; }

}  // namespace

void setBoardDir(const std::string& dir) {
  std::lock_guard<std::mutex> lock(board().mutex);
  board().dir = dir;
}

const std::string& boardDir() { return board().dir; }

std::string boardFile(const std::string& name) { return boardDir() + "/" + name; }

std::string normaliseBoardPath(const char* path) {
  std::vector<std::string> parts;
  std::string p = path ? path : "";
  size_t i = 0;
  while (i <= p.size()) {
    size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    std::string part = p.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

namespace {

// Appends each component of `rest` ("/a/b") to `dir`, taking an existing entry whose name differs
// only in case when there is no exact one: a FAT card finds "ch1" when it holds "CH1".
std::string foldCase(std::string dir, const std::string& rest) {
  size_t i = 0;
  while (i < rest.size()) {
    size_t j = rest.find('/', i + 1);
    if (j == std::string::npos) j = rest.size();
    std::string name = rest.substr(i + 1, j - i - 1);
    std::string exact = dir + "/" + name;
    struct stat st;
    if (::lstat(exact.c_str(), &st) != 0) {
      if (DIR* d = ::opendir(dir.c_str())) {
        while (struct dirent* e = ::readdir(d)) {
          if (strcasecmp(e->d_name, name.c_str()) == 0) {
            name = e->d_name;
            break;
          }
        }
        ::closedir(d);
      }
    }
    dir += "/" + name;
    i = j;
  }
  return dir;
}

}  // namespace

std::string hostPath(const char* boardPath) {
  std::string path = normaliseBoardPath(boardPath);
  BoardState& b = board();
  std::unique_lock<std::mutex> lock(b.mutex);
  const MountEntry* best = nullptr;
  size_t bestLen = 0;
  for (const auto& [target, entry] : b.mounts) {
    if (isUnder(path, target) && target.size() >= bestLen) {
      best = &entry;
      bestLen = target.size();
    }
  }
  if (!best) return b.dir + "/rootfs" + (path == "/" ? "" : path);
  std::string rest = path.substr(bestLen == 1 ? 0 : bestLen);
  std::string dir = best->hostDir;
  bool fold = best->fs->foldsCase();
  lock.unlock();  // the look-ups below touch the PC's file system only
  return fold ? foldCase(dir, rest) : dir + rest;
}

void addMountSource(const std::string& source, std::shared_ptr<Filesystem> fs) {
  std::lock_guard<std::mutex> lock(board().mutex);
  board().sources[source] = std::move(fs);
}

void removeMountSource(const std::string& source) {
  std::lock_guard<std::mutex> lock(board().mutex);
  board().sources.erase(source);
}

int mountFs(const char* source, const char* target, const char* fstype, unsigned long flags) {
  (void)fstype;
  BoardState& b = board();
  std::string where = normaliseBoardPath(target);
  std::shared_ptr<Filesystem> fs;
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    auto it = b.sources.find(source ? source : "");
    if (it == b.sources.end()) return -ENOENT;  // no such device node
    if (b.mounts.count(where)) return -EBUSY;
    for (const auto& [t, entry] : b.mounts) {
      if (entry.fs == it->second) return -EBUSY;  // already mounted elsewhere
    }
    fs = it->second;
  }
  std::string hostDir;
  int result = fs->mount(where, flags, &hostDir);  // may run a FUSE daemon: outside the lock
  if (result < 0) return result;
  std::lock_guard<std::mutex> lock(b.mutex);
  b.mounts[where] = MountEntry{fs, hostDir};
  return 0;
}

int umountFs(const char* target) {
  BoardState& b = board();
  std::string where = normaliseBoardPath(target);
  std::shared_ptr<Filesystem> fs;
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    auto it = b.mounts.find(where);
    if (it == b.mounts.end()) return -EINVAL;  // not mounted
    fs = it->second.fs;
  }
  int result = fs->umount();
  if (result < 0) return result;
  std::lock_guard<std::mutex> lock(b.mutex);
  b.mounts.erase(where);
  return 0;
}

bool isMounted(const std::string& target) {
  std::lock_guard<std::mutex> lock(board().mutex);
  return board().mounts.count(normaliseBoardPath(target.c_str())) != 0;
}

std::shared_ptr<Filesystem> filesystemOf(const char* boardPath) {
  std::string path = normaliseBoardPath(boardPath);
  BoardState& b = board();
  std::lock_guard<std::mutex> lock(b.mutex);
  std::shared_ptr<Filesystem> fs;
  size_t bestLen = 0;
  for (const auto& [target, entry] : b.mounts) {
    if (isUnder(path, target) && target.size() >= bestLen) {
      fs = entry.fs;
      bestLen = target.size();
    }
  }
  return fs;
}

bool rewritesByReplacing(const char* boardPath) {
  std::shared_ptr<Filesystem> fs = filesystemOf(boardPath);
  return fs && fs->rewritesByReplacing();
}

int statfsPath(const char* boardPath, struct statfs* st) {
  std::string path = normaliseBoardPath(boardPath);
  std::shared_ptr<Filesystem> fs;
  {
    BoardState& b = board();
    std::lock_guard<std::mutex> lock(b.mutex);
    size_t bestLen = 0;
    for (const auto& [target, entry] : b.mounts) {
      if (isUnder(path, target) && target.size() >= bestLen) {
        fs = entry.fs;
        bestLen = target.size();
      }
    }
  }
  if (fs && fs->statfs(st) == 1) return 0;
  std::string host = hostPath(boardPath);
  return ::statfs(host.c_str(), st) == 0 ? 0 : -errno;
}

void clearMounts() {
  std::map<std::string, MountEntry> mounts;
  {
    std::lock_guard<std::mutex> lock(board().mutex);
    mounts.swap(board().mounts);
    board().sources.clear();
  }
  for (auto& [target, entry] : mounts) entry.fs->umount();
}

void addCommand(const std::string& name, CommandHandler handler) {
  std::lock_guard<std::mutex> lock(board().mutex);
  board().commands[name] = std::move(handler);
}

void removeCommand(const std::string& name) {
  std::lock_guard<std::mutex> lock(board().mutex);
  board().commands.erase(name);
}

int runCommand(const std::vector<std::string>& argv) {
  if (argv.empty()) return waitStatus(0);
  CommandHandler handler;
  {
    BoardState& b = board();
    std::lock_guard<std::mutex> lock(b.mutex);
    auto it = b.commands.find(argv[0]);
    if (it == b.commands.end()) {
      size_t slash = argv[0].rfind('/');
      if (slash != std::string::npos) it = b.commands.find(argv[0].substr(slash + 1));
    }
    if (it != b.commands.end()) handler = it->second;
  }
  if (!handler) {
    std::string line;
    for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
    boardNote("refused unknown command: %s", line.c_str());
    return waitStatus(127);
  }
  return waitStatus(handler(argv));
}

std::vector<std::string> splitCommandLine(const char* line) {
  std::vector<std::string> words;
  std::string word;
  for (const char* p = line ? line : ""; *p; ++p) {
    if (*p == ' ' || *p == '\t' || *p == '\n') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += *p;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

void setRebootHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(board().mutex);
  board().reboot = std::move(handler);
}

int rebootCount() { return gReboots.load(); }

void boardNote(const char* fmt, ...) {
  char text[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  fprintf(stdout, "[board] %s\n", text);
  fflush(stdout);
}

void resetBoard() {
  clearMounts();
  clearDeviceNodes();
  std::lock_guard<std::mutex> lock(board().mutex);
  board().commands.clear();
  installDefaultCommands(board());
  board().reboot = nullptr;
  gReboots.store(0);
}

}  // namespace sim
