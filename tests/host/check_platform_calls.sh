#!/bin/sh
# Fails when an object of the program's library refers to a system function that reaches the
# board (files, devices, time, mounts, commands): those calls must go through plat::.
set -eu
lib="$1"
forbidden='open open64 openat openat64 __open_2 __open64_2 creat read __read_chk pread write pwrite close
lseek lseek64 fsync fdatasync ioctl mmap mmap64 munmap fopen fopen64 freopen stat stat64 __xstat __xstat64
lstat lstat64 fstatat statfs statfs64 access mkdir rmdir remove unlink rename scandir scandir64 opendir
gettimeofday settimeofday time clock_gettime clock_settime usleep sleep nanosleep clock_nanosleep
sem_timedwait sem_clockwait pthread_cond_timedwait mount umount umount2 system popen execv execve execvp
execl execlp fork vfork posix_spawn posix_spawnp reboot tcgetattr tcsetattr tcflush cfsetispeed
cfsetospeed select poll epoll_wait'
undefined=$(nm -u --format=posix "$lib" 2>/dev/null | awk '{print $1}' | sed 's/@.*//' | sort -u)
bad=""
for f in $forbidden; do
  if printf '%s\n' "$undefined" | grep -qx "$f"; then bad="$bad $f"; fi
done
if [ -n "$bad" ]; then
  echo "The program calls system functions directly instead of through plat:::$bad"
  for f in $bad; do
    nm -A -u --format=posix "$lib" 2>/dev/null | awk -v f="$f" '$2 == f || $2 ~ "^"f"@" {print "  " $1}'
  done
  exit 1
fi
echo "ok: $(printf '%s\n' "$undefined" | wc -l) undefined symbols checked"
