// The platform layer on a PC: the same calls, acted out on the simulated board.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <unordered_map>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/sim/board.h"
#include "platform/sim/clock.h"
#include "platform/sim/devices.h"

namespace plat {
namespace {

// Device results are negative errno values; the POSIX shape is -1 and errno.
template <typename T>
T posixResult(T result) {
  if (result < 0) {
    errno = static_cast<int>(-result);
    return -1;
  }
  return result;
}

std::string host(const char* boardPath) { return sim::hostPath(boardPath); }

// The open files of mounted file systems, so that the faults injected into a file system reach
// the calls on its descriptors, and the board's time of a file's last write reaches its file
// system when the file is closed (a FAT driver puts the time of the last write in the entry).
struct OpenFile {
  std::shared_ptr<sim::Filesystem> fs;
  std::string hostPath;
  int64_t lastWrite = -1;  // the board's time of day of the last write; -1 before any
};

struct OpenFiles {
  std::mutex mutex;
  std::unordered_map<int, OpenFile> byFd;
};

OpenFiles& openFiles() {
  static OpenFiles files;
  return files;
}

std::shared_ptr<sim::Filesystem> filesystemOfFd(int fd) {
  OpenFiles& f = openFiles();
  std::lock_guard<std::mutex> lock(f.mutex);
  auto it = f.byFd.find(fd);
  return it == f.byFd.end() ? nullptr : it->second.fs;
}

// Notes the write's time on the open file; true when the write counts toward a power cut tied to
// the card's writes.
bool noteWritten(int fd, const sim::FileFaults& faults) {
  int64_t now = sim::Clock::system();
  OpenFiles& f = openFiles();
  std::lock_guard<std::mutex> lock(f.mutex);
  auto it = f.byFd.find(fd);
  if (it == f.byFd.end()) return true;
  it->second.lastWrite = now;
  return faults.countsTowardCut(it->second.hostPath);
}

bool existsOnHost(const std::string& hostPath) { return ::access(hostPath.c_str(), F_OK) == 0; }

// -1 with errno set when the path's file system refuses the call; 0 to go on.
int pathRefused(const char* path, bool modifying) {
  std::shared_ptr<sim::Filesystem> fs = sim::filesystemOf(path);
  int error = fs ? fs->faults().pathError(modifying) : 0;
  if (error == 0) return 0;
  errno = error;
  return -1;
}

// On a file system that cannot truncate or extend an existing file, a rewrite removes the file
// first; an append writes the old contents into a new file and goes on after them, all in the
// one open of the caller. The program sees the same file either way.
std::string replaceForRewrite(const std::string& path, bool keepContents) {
  std::string contents;
  if (keepContents) {
    if (FILE* old = ::fopen(path.c_str(), "rbe")) {
      char buf[4096];
      size_t n;
      while ((n = fread(buf, 1, sizeof buf, old)) > 0) contents.append(buf, n);
      fclose(old);
    }
  }
  ::unlink(path.c_str());
  return contents;
}

int openReplacing(const std::string& path, int flags, mode_t mode) {
  bool append = (flags & O_APPEND) != 0;
  std::string contents = replaceForRewrite(path, append);
  int fd = ::open(path.c_str(), (flags & ~O_APPEND) | O_CREAT | O_TRUNC | O_CLOEXEC, mode ? mode : 0644);
  if (fd >= 0 && !contents.empty() && ::write(fd, contents.data(), contents.size()) < 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

}  // namespace

int open(const char* path, int flags, mode_t mode) {
  if (sim::devfs::isDevicePath(path)) return sim::devfs::open(path, flags);
  std::shared_ptr<sim::Filesystem> fs = sim::filesystemOf(path);
  if (fs) {
    int error = fs->faults().openError((flags & O_ACCMODE) != O_RDONLY || (flags & O_CREAT));
    if (error != 0) {
      errno = error;
      return -1;
    }
  }
  std::string h = host(path);
  bool writing = (flags & O_ACCMODE) != O_RDONLY;
  bool existed = fs && writing && existsOnHost(h);
  bool replaced = false;
  int fd;
  if ((flags & (O_TRUNC | O_APPEND)) && writing && existed && sim::rewritesByReplacing(path)) {
    fd = openReplacing(h, flags, mode);
    replaced = true;
  } else {
    fd = ::open(h.c_str(), flags | O_CLOEXEC, mode);
  }
  if (fd >= 0 && fs) {
    // A new file has its creation time now; truncating one is a write.
    if (writing && (!existed || replaced || (flags & O_TRUNC))) fs->stamp(h, !existed || replaced, sim::Clock::system());
    OpenFiles& f = openFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.byFd[fd] = OpenFile{fs, h, -1};
  }
  return fd;
}

ssize_t read(int fd, void* buf, size_t count) {
  if (auto f = sim::devfs::file(fd)) return posixResult(f->read(buf, count));
  return ::read(fd, buf, count);
}

ssize_t write(int fd, const void* buf, size_t count) {
  if (auto f = sim::devfs::file(fd)) return posixResult(f->write(buf, count));
  std::shared_ptr<sim::Filesystem> fs = filesystemOfFd(fd);
  if (!fs) return ::write(fd, buf, count);
  ssize_t allowed = count == 0 ? 0 : fs->faults().writeAllowance(count);
  if (allowed < 0) return posixResult(allowed);
  ssize_t n = ::write(fd, buf, static_cast<size_t>(allowed));
  if (n > 0) {
    bool towardCut = noteWritten(fd, fs->faults());
    fs->faults().wrote(static_cast<size_t>(n), towardCut);
  }
  return n;
}

int close(int fd) {
  if (sim::devfs::close(fd)) return 0;
  OpenFile file;
  {
    OpenFiles& f = openFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    auto it = f.byFd.find(fd);
    if (it != f.byFd.end()) {
      file = std::move(it->second);
      f.byFd.erase(it);
    }
  }
  const std::shared_ptr<sim::Filesystem>& fs = file.fs;
  int error = fs ? fs->faults().callError(sim::FileFaults::Call::Close) : 0;
  int result = ::close(fd);  // the descriptor is released whatever the file system says
  if (fs && file.lastWrite >= 0) fs->stamp(file.hostPath, false, file.lastWrite);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return result;
}

off_t lseek(int fd, off_t offset, int whence) {
  if (auto f = sim::devfs::file(fd)) return posixResult(f->lseek(offset, whence));
  return ::lseek(fd, offset, whence);
}

int fsync(int fd) {
  if (auto f = sim::devfs::file(fd)) return posixResult(f->fsync());
  if (std::shared_ptr<sim::Filesystem> fs = filesystemOfFd(fd)) {
    int error = fs->faults().callError(sim::FileFaults::Call::Fsync);
    if (error != 0) {
      errno = error;
      return -1;
    }
  }
  return ::fsync(fd);
}

int ioctl_value(int fd, unsigned long request, uintptr_t arg) {
  if (auto f = sim::devfs::file(fd)) return static_cast<int>(posixResult(f->ioctl(request, arg)));
  errno = ENOTTY;  // no real file of the board answers requests
  return -1;
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
  if (auto f = sim::devfs::file(fd)) {
    int hostFd = -1;
    off_t hostOffset = 0;
    int result = f->mmapSource(length, offset, (prot & PROT_WRITE) != 0, &hostFd, &hostOffset);
    if (result < 0) {
      errno = -result;
      return MAP_FAILED;
    }
    return ::mmap(addr, length, prot, flags, hostFd, hostOffset);
  }
  return ::mmap(addr, length, prot, flags, fd, offset);
}

int munmap(void* addr, size_t length) { return ::munmap(addr, length); }

FILE* fopen(const char* path, const char* mode) {
  if (sim::devfs::isDevicePath(path)) {
    errno = ENOENT;  // the program never streams a device file
    return nullptr;
  }
  if (pathRefused(path, mode[0] != 'r' || strchr(mode, '+') != nullptr) != 0) return nullptr;
  std::string m = mode;
  m += 'e';  // close-on-exec: commands the board runs must not inherit the card's files
  std::string h = host(path);
  bool rewrite = m[0] == 'w' || m[0] == 'a';
  bool writing = rewrite || strchr(mode, '+') != nullptr;
  std::shared_ptr<sim::Filesystem> fs = writing ? sim::filesystemOf(path) : nullptr;
  bool existed = fs && existsOnHost(h);
  bool replaced = false;
  FILE* f;
  if (rewrite && sim::rewritesByReplacing(path) && existsOnHost(h)) {
    std::string contents = replaceForRewrite(h, m[0] == 'a');
    m[0] = 'w';  // a new file, positioned after the old contents
    f = ::fopen(h.c_str(), m.c_str());
    if (f && !contents.empty()) fwrite(contents.data(), 1, contents.size(), f);
    replaced = true;
  } else {
    f = ::fopen(h.c_str(), m.c_str());
  }
  // A stream's writes and its close do not pass through here: it is stamped when it is opened,
  // which for the short writes of settings and logs is the time of their write.
  if (f && fs) fs->stamp(h, !existed || replaced, sim::Clock::system());
  return f;
}

int stat(const char* path, struct stat* st) {
  if (sim::devfs::isDevicePath(path) && sim::hasDeviceNode(path)) {
    *st = {};
    st->st_mode = S_IFCHR | 0600;
    return 0;
  }
  if (pathRefused(path, false) != 0) return -1;
  return ::stat(host(path).c_str(), st);
}

int statfs(const char* path, struct statfs* st) {
  if (pathRefused(path, false) != 0) return -1;
  return posixResult(sim::statfsPath(path, st));
}

int access(const char* path, int mode) {
  if (sim::devfs::isDevicePath(path)) {
    if (sim::hasDeviceNode(path)) return 0;
    errno = ENOENT;
    return -1;
  }
  if (pathRefused(path, (mode & W_OK) != 0) != 0) return -1;
  return ::access(host(path).c_str(), mode);
}

int mkdir(const char* path, mode_t mode) {
  if (pathRefused(path, true) != 0) return -1;
  std::string h = host(path);
  if (::mkdir(h.c_str(), mode) != 0) return -1;
  if (std::shared_ptr<sim::Filesystem> fs = sim::filesystemOf(path)) fs->stamp(h, true, sim::Clock::system());
  return 0;
}

int remove(const char* path) {
  if (pathRefused(path, true) != 0) return -1;
  return ::remove(host(path).c_str());
}

int scandir(const char* dir, struct dirent*** namelist, int (*filter)(const struct dirent*),
            int (*compar)(const struct dirent**, const struct dirent**)) {
  if (pathRefused(dir, false) != 0) return -1;
  return ::scandir(host(dir).c_str(), namelist, filter, compar);
}

DIR* opendir(const char* path) {
  if (pathRefused(path, false) != 0) return nullptr;
  return ::opendir(host(path).c_str());
}

int gettimeofday(struct timeval* tv) {
  int64_t ns = sim::Clock::system();
  tv->tv_sec = static_cast<time_t>(ns / sim::kNsPerSec);
  tv->tv_usec = static_cast<suseconds_t>((ns % sim::kNsPerSec) / sim::kNsPerUs);
  return 0;
}

int settimeofday(const struct timeval* tv) {
  if (tv == nullptr || tv->tv_usec < 0 || tv->tv_usec >= 1000000) {
    errno = EINVAL;
    return -1;
  }
  sim::Clock::setSystem(static_cast<int64_t>(tv->tv_sec) * sim::kNsPerSec + tv->tv_usec * sim::kNsPerUs);
  return 0;
}

time_t time(time_t* out) {
  time_t now = static_cast<time_t>(sim::Clock::system() / sim::kNsPerSec);
  if (out) *out = now;
  return now;
}

int usleep(useconds_t usec) {
  sim::Clock::sleepFor(static_cast<int64_t>(usec) * sim::kNsPerUs);
  return 0;
}

unsigned sleep(unsigned seconds) {
  sim::Clock::sleepFor(static_cast<int64_t>(seconds) * sim::kNsPerSec);
  return 0;
}

int sem_timedwait(sem_t* sem, const struct timespec* abstime) {
  // The deadline is a time of day; the wait runs on the simulated clock.
  int64_t deadlineSystem = static_cast<int64_t>(abstime->tv_sec) * sim::kNsPerSec + abstime->tv_nsec;
  int64_t deadline = sim::Clock::elapsed() + (deadlineSystem - sim::Clock::system());
  for (;;) {
    if (::sem_trywait(sem) == 0) return 0;
    if (errno != EAGAIN) return -1;
    int64_t now = sim::Clock::elapsed();
    if (now >= deadline) {
      errno = ETIMEDOUT;
      return -1;
    }
    sim::Clock::sleepFor(std::min<int64_t>(deadline - now, sim::kNsPerMs));
  }
}

int mount(const char* source, const char* target, const char* fstype, unsigned long flags, const void* data) {
  (void)data;
  return posixResult(sim::mountFs(source, target, fstype, flags));
}

int umount(const char* target) { return posixResult(sim::umountFs(target)); }

int system(const char* command) {
  if (command == nullptr) return 1;  // a shell is available
  return sim::runCommand(sim::splitCommandLine(command));
}

int run(const char* const argv[]) {
  std::vector<std::string> words;
  for (const char* const* a = argv; a && *a; ++a) words.emplace_back(*a);
  if (words.empty()) {
    errno = EINVAL;
    return -1;
  }
  return sim::runCommand(words);
}

void console_write(const char* text, size_t length) { (void)!::write(STDOUT_FILENO, text, length); }

int tcgetattr(int fd, struct termios* t) {
  if (auto f = sim::devfs::file(fd)) return posixResult(f->tcgetattr(t));
  errno = ENOTTY;
  return -1;
}

int tcsetattr(int fd, int actions, const struct termios* t) {
  if (auto f = sim::devfs::file(fd)) return posixResult(f->tcsetattr(actions, t));
  errno = ENOTTY;
  return -1;
}

int tcflush(int fd, int queue) {
  if (auto f = sim::devfs::file(fd)) return posixResult(f->tcflush(queue));
  errno = ENOTTY;
  return -1;
}

}  // namespace plat
