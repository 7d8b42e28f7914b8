// The board's platform layer: each function is the system call it is named after.
#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace plat {

int open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t read(int fd, void* buf, size_t count) { return ::read(fd, buf, count); }
ssize_t write(int fd, const void* buf, size_t count) { return ::write(fd, buf, count); }
int close(int fd) { return ::close(fd); }
off_t lseek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
int fsync(int fd) { return ::fsync(fd); }
int ioctl_value(int fd, unsigned long request, uintptr_t arg) { return ::ioctl(fd, request, arg); }
void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
  return ::mmap(addr, length, prot, flags, fd, offset);
}
int munmap(void* addr, size_t length) { return ::munmap(addr, length); }
FILE* fopen(const char* path, const char* mode) { return ::fopen(path, mode); }

int stat(const char* path, struct stat* st) { return ::stat(path, st); }
int statfs(const char* path, struct statfs* st) { return ::statfs(path, st); }
int access(const char* path, int mode) { return ::access(path, mode); }
int mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int remove(const char* path) { return ::remove(path); }
int scandir(const char* dir, struct dirent*** namelist, int (*filter)(const struct dirent*),
            int (*compar)(const struct dirent**, const struct dirent**)) {
  return ::scandir(dir, namelist, filter, compar);
}
DIR* opendir(const char* path) { return ::opendir(path); }

int gettimeofday(struct timeval* tv) { return ::gettimeofday(tv, nullptr); }
int settimeofday(const struct timeval* tv) { return ::settimeofday(tv, nullptr); }
time_t time(time_t* out) { return ::time(out); }
int usleep(useconds_t usec) { return ::usleep(usec); }
unsigned sleep(unsigned seconds) { return ::sleep(seconds); }
int sem_timedwait(sem_t* sem, const struct timespec* abstime) { return ::sem_timedwait(sem, abstime); }

int mount(const char* source, const char* target, const char* fstype, unsigned long flags,
          const void* data) {
  return ::mount(source, target, fstype, flags, data);
}
int umount(const char* target) { return ::umount(target); }
int system(const char* command) { return ::system(command); }

int run(const char* const argv[]) {
  pid_t pid = 0;
  // posix_spawn wants mutable strings for historical reasons; it does not change them.
  int err = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ);
  if (err != 0) {
    errno = err;
    return -1;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

void console_write(const char* text, size_t length) { (void)!::write(STDOUT_FILENO, text, length); }

int tcgetattr(int fd, struct termios* t) { return ::tcgetattr(fd, t); }
int tcsetattr(int fd, int actions, const struct termios* t) { return ::tcsetattr(fd, actions, t); }
int tcflush(int fd, int queue) { return ::tcflush(fd, queue); }

}  // namespace plat
