// The platform layer: every call of the program that reaches the board.
//
// The functions keep the shape of the POSIX calls they stand for (results, errno), so the
// program reads like code written for the board. On the board (platform/linux) each one is the
// system call itself; on a PC (platform/sim) the same calls act on the simulated board: board
// paths resolve under the board directory, device files are served by the emulated kernel, the
// clock is the simulated clock and shell commands are carried out on the simulated card and flash.
//
// Nothing else in the program calls these system functions directly; a test enforces it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/time.h>
#include <sys/types.h>
#include <semaphore.h>
#include <termios.h>

namespace plat {

// ---- files and device files -------------------------------------------------------------
int open(const char* path, int flags, mode_t mode = 0);
ssize_t read(int fd, void* buf, size_t count);
ssize_t write(int fd, const void* buf, size_t count);
int close(int fd);
off_t lseek(int fd, off_t offset, int whence);
int fsync(int fd);
int ioctl_value(int fd, unsigned long request, uintptr_t arg);
void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset);
int munmap(void* addr, size_t length);

// ioctl with an integer argument (0 for requests that take none) or a pointer to the record.
inline int ioctl(int fd, unsigned long request, uintptr_t arg) { return ioctl_value(fd, request, arg); }
template <typename T>
inline int ioctl(int fd, unsigned long request, T* arg) {
  return ioctl_value(fd, request, reinterpret_cast<uintptr_t>(arg));
}

FILE* fopen(const char* path, const char* mode);

// ---- paths and directories --------------------------------------------------------------
int stat(const char* path, struct stat* st);
int statfs(const char* path, struct statfs* st);
int access(const char* path, int mode);
int mkdir(const char* path, mode_t mode);
int remove(const char* path);
int scandir(const char* dir, struct dirent*** namelist, int (*filter)(const struct dirent*),
            int (*compar)(const struct dirent**, const struct dirent**));
DIR* opendir(const char* path);

// ---- time -------------------------------------------------------------------------------
int gettimeofday(struct timeval* tv);
int settimeofday(const struct timeval* tv);
time_t time(time_t* out);
int usleep(useconds_t usec);
unsigned sleep(unsigned seconds);
// Waits on a semaphore until the given absolute time of day (the clock of gettimeofday).
int sem_timedwait(sem_t* sem, const struct timespec* abstime);

// ---- card and shell commands ------------------------------------------------------------
int mount(const char* source, const char* target, const char* fstype, unsigned long flags,
          const void* data);
int umount(const char* target);
// A fixed command line, as the board's shell would run it. Never build one from outside text
// (file names from the card): use run() with an argument vector instead.
int system(const char* command);
// Runs a program with an argument vector (argv[0] is the program, the list ends with nullptr),
// no shell involved; the result is the wait status, as system() gives it.
int run(const char* const argv[]);

// Writes to the console without locks or allocation (safe in a signal handler).
void console_write(const char* text, size_t length);

// ---- serial terminals -------------------------------------------------------------------
int tcgetattr(int fd, struct termios* t);
int tcsetattr(int fd, int actions, const struct termios* t);
int tcflush(int fd, int queue);

}  // namespace plat
