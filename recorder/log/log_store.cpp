#include "log/log_store.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "core/trace.h"
#include "platform/platform.h"
#include "record/dir_list.h"

#define TAG "LOG_MGR_"

namespace {

constexpr int kSeqDigits = 10;
constexpr size_t kPathMax = 512;

// ---- names -------------------------------------------------------------------------------

// Reads an optionally signed decimal number; a value beyond what any field can hold is kept as
// a large number (never an overflow). False when there is no digit.
bool readNumber(const char*& p, long long* value) {
  const char* q = p;
  bool negative = false;
  if (*q == '+' || *q == '-') negative = *q++ == '-';
  if (*q < '0' || *q > '9') return false;
  long long v = 0;
  for (; *q >= '0' && *q <= '9'; ++q) {
    if (v < 100000000000LL) v = v * 10 + (*q - '0');
  }
  *value = negative ? -v : v;
  p = q;
  return true;
}

// The parts of "%d,%d.%d.%d,%d.%d.%d.%s": how many were read, in order, as a scan would.
int scanName(const char* name, long long part[7]) {
  static const char kSeparators[7] = {',', '.', '.', ',', '.', '.', '.'};
  const char* p = name;
  for (int i = 0; i < 7; ++i) {
    if (!readNumber(p, &part[i])) return i;
    if (*p != kSeparators[i]) return i + 1;
    ++p;
  }
  return *p != '\0' && *p != ' ' ? 8 : 7;  // the rest: at least one character
}

bool inRange(long long v, long long low, long long high) { return v >= low && v <= high; }

bool containsLog(const char* name) { return strstr(name, ".log") != nullptr; }

void pathOf(const LOG_MGR* mgr, const char* name, char* path) {
  snprintf(path, kPathMax, "%s/%s", mgr->directory, name);
}

// A valid log file that is a regular file: its size, else false.
bool logFileSize(const LOG_MGR* mgr, const char* name, off_t* size) {
  if (!containsLog(name) || IsValidLogFileName(name) < 1) return false;
  char path[kPathMax];
  pathOf(mgr, name, path);
  struct stat st;
  if (plat::stat(path, &st) != 0) {
    TRACE(TAG, "Failed to get stats %s - %s\n", path, strerror(errno));
    return false;
  }
  if (!S_ISREG(st.st_mode)) return false;
  *size = st.st_size;
  return true;
}

int32_t addK(int32_t used, int32_t k) {
  long long sum = static_cast<long long>(used) + k;
  return sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
}

// Reads the directory: the next sequence number and the KiB in use. False when it cannot be read.
bool scanDirectory(LOG_MGR* mgr) {
  DirList list;
  int n = list.scan(mgr->directory);
  if (n < 0) {
    TRACE(TAG, "failed to opendir(%s)... %s\n", mgr->directory, strerror(errno));
    return false;
  }
  mgr->used = 0;
  mgr->nextSeq = 1;
  for (int i = 0; i < n; ++i) {
    off_t size;
    if (!logFileSize(mgr, list.name(i), &size)) continue;
    int seq = IsValidLogFileName(list.name(i));
    if (seq + 1 > mgr->nextSeq) mgr->nextSeq = seq + 1;
    mgr->used = addK(mgr->used, logSizeK(size));
  }
  return true;
}

}  // namespace

int32_t logSizeK(off_t bytes) {
  off_t k = bytes / 1024;
  if (k < 1) return 1;
  return k > INT32_MAX ? INT32_MAX : static_cast<int32_t>(k);
}

int IsValidLogFileName(const char* name) {
  long long part[7] = {};
  int items = scanName(name, part);
  if (items != 8) {
    TRACE(TAG, "sscanf num is not 8, %d\n", items);
    return -1;
  }
  // The last sequence number is one that can still be followed by another.
  if (!inRange(part[0], 1, INT32_MAX - 1) || !inRange(part[1], 2009, 2049) || !inRange(part[2], 1, 12) ||
      !inRange(part[3], 1, 31) || !inRange(part[4], 0, 24) || !inRange(part[5], 0, 60) || !inRange(part[6], 0, 60))
    return -2;
  // Exactly ten digits before the comma: then the name's order is the sequence's order.
  for (int i = 0; i < kSeqDigits; ++i) {
    if (name[i] < '0' || name[i] > '9') {
      TRACE(TAG, "seq num is not digit");
      return -3;
    }
  }
  if (name[kSeqDigits] != ',') {
    TRACE(TAG, "seq num is not digit");
    return -3;
  }
  return static_cast<int>(part[0]);
}

LOG_MGR* logOpen(const char* mountPoint, int cardFailed) {
  LOG_MGR* mgr = static_cast<LOG_MGR*>(calloc(1, sizeof(LOG_MGR)));
  if (mgr == nullptr) {
    TRACE(TAG, "Fail to alloc memory.");
    return nullptr;
  }
  TRACE(TAG, "logOpen()... sizeof(LOG_MGR) %d, %d\n", static_cast<int>(sizeof(LOG_MGR)), cardFailed);
  snprintf(mgr->directory, sizeof mgr->directory, "%s/log", mountPoint);
  mgr->quota = LOG_QUOTA_K;
  mgr->nextSeq = 1;
  mgr->fd = -1;
  if (cardFailed == 1) return mgr;
  if (!scanDirectory(mgr)) {
    TRACE(TAG, "failed to logSearchDir()");
    free(mgr);
    return nullptr;
  }
  TRACE(TAG, "Next Log Seq(%d)\n", mgr->nextSeq);
  return mgr;
}

int logRemoveOldFile(LOG_MGR* mgr) {
  TRACE(TAG, "logRemoveOldFile");
  DirList list;
  int n = list.scan(mgr->directory);
  if (n <= 0) {
    TRACE(TAG, "totalNum is %d\n", n);
    return -1;
  }
  for (int i = 0; i < n; ++i) {
    off_t size;
    if (!logFileSize(mgr, list.name(i), &size)) continue;
    char path[kPathMax];
    pathOf(mgr, list.name(i), path);
    TRACE(TAG, "remove(%s) - %ld\n", path, static_cast<long>(size / 1024));
    if (plat::remove(path) != 0) {
      TRACE(TAG, "fail to remove(%s)\n", path);
      continue;
    }
    mgr->used -= logSizeK(size);
    if (mgr->used < 0) mgr->used = 0;
    return 0;
  }
  return -1;
}

int logWriteStart(LOG_MGR* mgr, time_t when) {
  TRACE(TAG, "logWriteStart()... %d/%d\n", mgr->used, mgr->quota);
  while (mgr->used >= mgr->quota) {
    int result = logRemoveOldFile(mgr);
    if (result != 0) {
      TRACE(TAG, "failed to logRemoveOldFile()");
      return result;
    }
  }
  struct tm tm;
  localtime_r(&when, &tm);
  char path[kPathMax];
  snprintf(path, sizeof path, "%s/%010d,%04d.%02d.%02d,%02d.%02d.%02d.log", mgr->directory, mgr->nextSeq,
           tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  TRACE(TAG, "File Open... %s\n", path);
  int fd = plat::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) {
    TRACE(TAG, "Could not write file (%s).\n", path);
    return -6;
  }
  mgr->fd = fd;
  mgr->written = 0;
  mgr->fileStart = tm;
  if (mgr->nextSeq < INT32_MAX - 1) ++mgr->nextSeq;
  return 0;
}

int logWrite(LOG_MGR* mgr, const char* text) {
  if (mgr->fd < 0) {
    TRACE(TAG, "file not opened");
    return -7;
  }
  // All of it: a write that takes only part of the text is followed by one for the rest, and
  // a write that takes nothing is a failure.
  size_t length = strlen(text);
  size_t done = 0;
  while (done < length) {
    ssize_t n = plat::write(mgr->fd, text + done, length - done);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      if (done > 0) mgr->written = addK(mgr->written, static_cast<int32_t>(done));
      return -7;
    }
    done += static_cast<size_t>(n);
  }
  mgr->written = addK(mgr->written, static_cast<int32_t>(done));
  return 0;
}

int logWriteEnd(LOG_MGR* mgr) {
  if (mgr->written != 0) {
    mgr->used = addK(mgr->used, logSizeK(mgr->written));
    mgr->written = 0;
  }
  if (mgr->fd < 0) return 0;
  bool flushed = true;
  if (plat::fsync(mgr->fd) != 0) {
    TRACE(TAG, "@@ Fail to fsync() LOG errno=[%d,%s].\n", errno, strerror(errno));
    flushed = false;
  }
  int fd = mgr->fd;
  mgr->fd = -1;
  if (plat::close(fd) != 0) {
    TRACE(TAG, "@@ Fail to close() LOG errno=[%d,%s].\n", errno, strerror(errno));
    return -8;
  }
  return flushed ? 0 : -8;
}

int logClose(LOG_MGR* mgr) {
  if (mgr == nullptr) return 0;
  int result = logWriteEnd(mgr);
  if (result != 0) TRACE(TAG, "failed to logWriteEnd()");
  free(mgr);
  return result;
}
