// Disk space: the removal of the oldest recording and the space test of the overwrite worker.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/trace.h"
#include "platform/platform.h"
#include "record/dir_list.h"
#include "record/disk_mgr.h"

#define TAG "DSK_MGR_"

namespace {

constexpr int kPartnerPrefix = 20;  // sequence, comma and the first nine characters of the date

bool statPath(const char* path, struct stat* st) {
  if (plat::stat(path, st) == 0) return true;
  TRACE(TAG, "Failed to get stats %s - %s", path, strerror(errno));
  return false;
}

bool removeFile(const char* path, const struct stat& st) {
  TRACE(TAG, "remove(%s) - %ld", path, static_cast<long>(st.st_size / 1024));
  if (dskRemoveUnlessOpen(path, plat::remove)) return true;
  if (errno == EBUSY) TRACE(TAG, "%s is being written: kept", path);
  TRACE(TAG, "fail to remove(%s)", path);
  return false;
}

// Removes the oldest recording file and its partner; *removed counts the files removed.
int removeOldest(const char* directory, int* removed) {
  *removed = 0;
  DirList list;
  if (list.scan(directory) < 1) {
    TRACE(TAG, "totalNum is %d", list.count());
    return -1;
  }
  char path[DSK_PATH_MAX * 3];
  for (int i = 0; i < list.count(); ++i) {
    const char* name = list.name(i);
    if (!vr::hasRecordingExtension(name)) continue;
    snprintf(path, sizeof path, "%s/%s", directory, name);
    struct stat st;
    if (!statPath(path, &st)) continue;
    if (!S_ISREG(st.st_mode) || IsValidFileName(name) <= 0) continue;
    if (!removeFile(path, st)) continue;
    ++*removed;
    // Its partner: the next name with the same sequence number and date.
    if (i + 1 < list.count() && strncmp(name, list.name(i + 1), kPartnerPrefix) == 0) {
      snprintf(path, sizeof path, "%s/%s", directory, list.name(i + 1));
      if (statPath(path, &st) && S_ISREG(st.st_mode) && removeFile(path, st)) ++*removed;
    }
    break;
  }
  return 0;
}

// Space is short when the free space is at most the quota or the directory holds too many
// files. A directory that cannot be scanned (-1) counts as full: the comparison is unsigned.
int shortOfSpace(const char* mountPath, const char* directory, uint32_t quotaK, bool* isShort) {
  uint32_t totalK = 0, freeK = 0;
  if (GetDiskSizeK(mountPath, &totalK, &freeK) != 0) return -1;
  int entries = GetEventFileNum2(directory);
  *isShort = freeK <= quotaK || static_cast<uint32_t>(entries - 2) >= static_cast<uint32_t>(DSK_ENTRY_LIMIT);
  return 0;
}

bool running(const std::atomic<int32_t>* run) { return run == nullptr || run->load() != 0; }

}  // namespace

int dskRemoveOldFile2(const char* directory) {
  TRACE(TAG, "dskRemoveOldFile2 ");
  int removed = 0;
  return removeOldest(directory, &removed);
}

int CheckOverwrite(const char* mountPath, const char* directory, int recMode, const std::atomic<int32_t>* run,
                   uint32_t quotaK) {
  bool isShort = false;
  if (shortOfSpace(mountPath, directory, quotaK, &isShort) != 0) return -1;
  if (!isShort) return 0;
  if (recMode == 1) return OVERWRITE_CARD_FULL;
  if (!running(run)) {
    TRACE(TAG, "Skip Overwrite by power off");
    return 0;
  }
  while (running(run)) {
    TRACE(TAG, "dskRemoveOldFile2 ");
    int removed = 0;
    int result = removeOldest(directory, &removed);
    if (result != 0) {
      TRACE(TAG, "failed to dskRemoveOldFile");
      return result;
    }
    if (removed == 0) {
      // Nothing left that may be removed: the card stays full, so say so rather than loop.
      TRACE(TAG, "nothing to remove in %s", directory);
      return OVERWRITE_CARD_FULL;
    }
    if (!running(run)) {
      TRACE(TAG, "Skip Overwrite by power off");
      return 0;
    }
    if (shortOfSpace(mountPath, directory, quotaK, &isShort) != 0) return -1;
    if (!running(run)) {
      TRACE(TAG, "Skip Overwrite by power off");
      return 0;
    }
    if (!isShort) return OVERWRITE_REMOVED;
  }
  TRACE(TAG, "Skip Overwrite by power off");
  return OVERWRITE_REMOVED;
}
