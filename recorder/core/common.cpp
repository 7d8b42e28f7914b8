#include "core/common.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>

#include "core/trace.h"
#include "platform/platform.h"

#define TAG "COMMON__"

int SaveErrorLog(const char* tag, int line, const char* text) {
  FILE* f = plat::fopen(ERROR_LOG_PATH, "a");
  if (f == nullptr) {
    TRACE(TAG, "comon File open error : %s\n", ERROR_LOG_PATH);
    return 0;
  }
  time_t now = plat::time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  fprintf(f, "%04d/%02d/%02d  %02d:%02d:%02d %s(%d) %s\n", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
          tm.tm_min, tm.tm_sec, tag, line, text);
  fflush(f);
  int fd = fileno(f);
  if (fd < 0) {
    TRACE(TAG, "in common : failed to fileno()");
  } else {
    plat::fsync(fd);
  }
  fclose(f);
  return 0;
}

void Swap64(void* p) {
  unsigned char* b = static_cast<unsigned char*>(p);
  unsigned char low[4];
  memcpy(low, b, 4);
  memmove(b, b + 4, 4);
  memcpy(b + 4, low, 4);
}

int get_sys_stat(int offset, void* buffer) {
  int fd = plat::open("/dev/sysc", O_RDONLY);
  if (fd < 0) return -3;
  plat::lseek(fd, offset, SEEK_SET);
  ssize_t n = plat::read(fd, buffer, 4);
  plat::close(fd);
  return n == 4 ? 0 : -20;
}
