#include "record/disk_mgr.h"
#include "record/dir_list.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>

#include "core/common.h"
#include "core/sd_card.h"
#include "core/trace.h"
#include "platform/platform.h"

#define TAG "DSK_MGR_"

namespace {

constexpr mode_t kFileMode = 0644;

VIDEO_STREAM* streamOf(DISK_MGR* mgr, int channel) {
  if (mgr == nullptr || channel < 0 || channel >= mgr->channelCount || !mgr->pVideoStream) return nullptr;
  return &mgr->pVideoStream[channel];
}

void initIdxHeader(vr::IdxHeader* h, int channel, uint32_t kind) {
  memset(h, 0, sizeof *h);
  h->marker = vr::kIdxHeaderMarker;
  h->tag = vr::kIdxHeaderTag;
  h->one = 0x01;
  h->channel = static_cast<uint8_t>(channel);
  h->triggerType = 0;
  h->streamType = (kind & STREAM_KIND_VIDEO) ? vr::kStreamVideo : vr::kStreamAudio;
  h->kindBit8 = static_cast<uint8_t>((kind >> 8) & 1);
  h->dwFrameTotal.set(0);
}

// Walks the names from the greatest down; the first regular file with a valid recording name
// gives the next sequence number.
int nextSequenceFrom(const char* dir, const DirList& list) {
  for (int i = list.count() - 1; i >= 0; --i) {
    const char* name = list.name(i);
    if (!vr::hasRecordingExtension(name)) continue;
    char path[DSK_PATH_MAX * 3];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    struct stat st;
    if (plat::stat(path, &st) != 0) {
      TRACE(TAG, "Failed to get stats %s - %s", path, strerror(errno));
      continue;
    }
    if (!S_ISREG(st.st_mode)) continue;
    int seq = IsValidFileName(name);
    if (seq > 0) return seq + 1;
  }
  return 1;
}

int searchDir(VIDEO_STREAM* vs, int channel) {
  DirList list;
  if (list.scan(vs->dirPath) < 1) {
    TRACE(TAG, "totalNum is %d [%s]", list.count(), vs->dirPath);
    SaveErrorLog("DSK_MGR", __LINE__, "scandir error 1 time");
    // A card that stopped answering often comes back after a fresh mount.
    umount_sd();
    plat::sleep(1);
    mount_sd();
    if (list.scan(vs->dirPath) < 1) {
      TRACE(TAG, "totalNum is %d [%s]", list.count(), vs->dirPath);
      SaveErrorLog("DSK_MGR", __LINE__, "scandir error 2 times");
      TRACE(TAG, "failed to dskSearchDir(%d)", channel);
      return -1;
    }
  }
  vs->nextSeq = nextSequenceFrom(vs->dirPath, list);
  TRACE(TAG, "Next Video Seq(%d)", vs->nextSeq);
  return 0;
}

// Writes all of a block; a short or failed write is a failure.
int writeAll(int fd, const void* data, size_t length, uint32_t* counter) {
  ssize_t n = plat::write(fd, data, length);
  if (n != static_cast<ssize_t>(length)) {
    int err = n < 0 ? errno : EIO;
    TRACE(TAG, "Fail to write fd(%d).errno=[%d,%s].", fd, err, strerror(err));
    return DSK_ERR_WRITE;
  }
  *counter += static_cast<uint32_t>(length);
  return 0;
}

int openNew(const char* path) {
  TRACE(TAG, "File Open... %s", path);
  return plat::open(path, O_WRONLY | O_CREAT | O_TRUNC, kFileMode);
}

// Flushes and closes one file of the pair; false when either step failed.
bool closeFile(int32_t* fd, const char* which) {
  if (*fd <= 0) return true;
  bool ok = true;
  if (plat::fsync(*fd) != 0) {
    TRACE(TAG, "@@ Fail to fsync() %s errno=[%d,%s].", which, errno, strerror(errno));
    ok = false;
  }
  if (plat::close(*fd) != 0) {
    TRACE(TAG, "@@ Fail to close() %s errno=[%d,%s].", which, errno, strerror(errno));
    ok = false;
  }
  *fd = 0;
  return ok;
}

// The base names (without extension) of the pairs being written, one per channel at most.
struct OpenPairs {
  std::mutex mutex;
  const VIDEO_STREAM* owner[4] = {};
  char base[4][DSK_PATH_MAX] = {};
};

OpenPairs& openPairs() {
  static OpenPairs pairs;
  return pairs;
}

const char* fileName(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// True when the file name is one of a pair being written (same base name, any extension).
bool isOpenPairFile(OpenPairs& p, const char* path) {
  const char* name = fileName(path);
  const char* dot = strrchr(name, '.');
  size_t length = dot ? static_cast<size_t>(dot - name) : strlen(name);
  for (int i = 0; i < 4; ++i) {
    if (p.owner[i] == nullptr) continue;
    const char* open = fileName(p.base[i]);
    if (strlen(open) == length && strncasecmp(open, name, length) == 0) return true;
  }
  return false;
}

}  // namespace

void dskOpenPairSet(const VIDEO_STREAM* vs, bool open) {
  OpenPairs& p = openPairs();
  std::lock_guard<std::mutex> lock(p.mutex);
  int slot = -1;
  for (int i = 0; i < 4; ++i) {
    if (p.owner[i] == vs) slot = i;
  }
  if (!open) {
    if (slot >= 0) p.owner[slot] = nullptr;
    return;
  }
  for (int i = 0; i < 4 && slot < 0; ++i) {
    if (p.owner[i] == nullptr) slot = i;
  }
  if (slot < 0) return;  // more channels than the recorder has: nothing to guard
  p.owner[slot] = vs;
  snprintf(p.base[slot], sizeof p.base[slot], "%s", vs->basePath);
}

bool dskRemoveUnlessOpen(const char* path, int (*remove)(const char*)) {
  OpenPairs& p = openPairs();
  std::lock_guard<std::mutex> lock(p.mutex);
  if (isOpenPairFile(p, path)) {
    errno = EBUSY;
    return false;
  }
  return remove(path) == 0;
}

int IsValidFileName(const char* name) {
  vr::RecordingName n;
  int fields = 0;
  int result = vr::checkRecordingName(name, &n, &fields);
  if (result == vr::kNameFieldCount) {
    TRACE(TAG, "sscanf num is not 8, %d", fields);
  } else if (result == vr::kNameDigits) {
    TRACE(TAG, "seq num is not digit");
  } else if (result > 0) {
    TRACE(TAG, "%d,%d.%d.%d,%d.%d.%d.%s has found", n.sequence, n.year, n.month, n.day, n.hour, n.minute, n.second,
          n.extension);
  }
  return result;
}

int GetDiskSizeK(const char* path, uint32_t* totalK, uint32_t* freeK) {
  if (path == nullptr) {
    TRACE(TAG, "path is NULL");
    return DSK_ERR_STATFS;
  }
  struct statfs st;
  if (plat::statfs(path, &st) != 0) {
    TRACE(TAG, "Failed to statfs() - %s", path);
    SaveErrorLog("DSK_MGR", __LINE__, "Failed to statfs");
    return DSK_ERR_STATFS;
  }
  // The card's figures fit 32 bits; a PC's disk standing in for it may not, so clamp.
  uint64_t blockK = static_cast<uint64_t>(st.f_bsize) / 1024;
  uint64_t total = blockK * st.f_blocks, avail = blockK * st.f_bavail;
  *totalK = static_cast<uint32_t>(total > UINT32_MAX ? UINT32_MAX : total);
  *freeK = static_cast<uint32_t>(avail > UINT32_MAX ? UINT32_MAX : avail);
  TRACE(TAG, "totalK:%d freeK:%d", static_cast<int>(*totalK), static_cast<int>(*freeK));
  return 0;
}

DISK_MGR* dskOpen(const char* mountPath, int channelCount, const uint32_t* kinds, uint32_t quotaK) {
  std::unique_ptr<DISK_MGR> mgr(new (std::nothrow) DISK_MGR{});
  if (!mgr) {
    TRACE(TAG, "Fail to alloc memory... npFrameInfo");
    return nullptr;
  }
  snprintf(mgr->mountPath, sizeof mgr->mountPath, "%s", mountPath);
  mgr->channelCount = channelCount;
  TRACE(TAG, "dskOpen()... sizeof(DISK_MGR) %d, %d", static_cast<int>(sizeof(DISK_MGR)),
        static_cast<int>(sizeof(VIDEO_STREAM)));

  uint32_t sizeK = 0, freeK = 0;
  if (GetDiskSizeK(mountPath, &sizeK, &freeK) != 0) return nullptr;
  TRACE(TAG, "dskSizeK : %d, dskFreeK : %d", static_cast<int>(sizeK), static_cast<int>(freeK));
  if (sizeK <= quotaK) {
    TRACE(TAG, "ERROR : dskSizeK is smaller than OVERWRITE_QUOTA_K %d  %d", static_cast<int>(sizeK),
          static_cast<int>(quotaK));
    SaveErrorLog("DSK_MGR", __LINE__, "dskSizeK is smaller than OVERWRITE_QUOTA_K");
    return nullptr;
  }
  if (channelCount <= 0) return mgr.release();

  mgr->pVideoStream.reset(new (std::nothrow) VIDEO_STREAM[channelCount]{});
  if (!mgr->pVideoStream) {
    TRACE(TAG, "Fail to alloc memory... pDskMgr->pVideoStream");
    SaveErrorLog("DSK_MGR", __LINE__, "Fail to alloc memory... pDskMgr->pVideoStream");
    return nullptr;
  }
  for (int i = 0; i < channelCount; ++i) {
    VIDEO_STREAM* vs = &mgr->pVideoStream[i];
    memset(vs, 0, sizeof *vs);
    uint32_t kind = kinds[i];
    snprintf(vs->dirPath, sizeof vs->dirPath, "%s/ch%d/%s", mountPath, i + 1,
             (kind & STREAM_KIND_EVENT) ? vr::kEventDirName : vr::kNormalDirName);
    vs->capacityK = sizeK / static_cast<uint32_t>(channelCount);
    vs->freeK = freeK / static_cast<uint32_t>(channelCount);
    vs->kind = kind;
    initIdxHeader(&vs->IdxHeader, i, kind);
    vs->nextSeq = 1;
    if (searchDir(vs, i) != 0) return nullptr;
  }
  return mgr.release();
}

int dskWriteStart(DISK_MGR* mgr, int channel, time_t startSecond) {
  TRACE(TAG, "dskWriteStart(%d, %lu)", channel, static_cast<unsigned long>(startSecond));
  VIDEO_STREAM* vs = streamOf(mgr, channel);
  if (vs == nullptr) return DSK_ERR_NOT_OPEN;
  struct tm tm;
  localtime_r(&startSecond, &tm);
  int made = snprintf(vs->basePath, sizeof vs->basePath, "%s/" VR_BASE_NAME_FORMAT, vs->dirPath, vs->nextSeq,
                      tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  if (made < 0 || made >= static_cast<int>(sizeof vs->basePath)) {
    TRACE(TAG, "Could not write file (%s).", vs->dirPath);  // a mount path too long for the card's names
    return DSK_ERR_NOT_OPEN;
  }
  bool video = (vs->kind & STREAM_KIND_VIDEO) != 0;
  dskOpenPairSet(vs, true);  // before the files exist, so that no removal can take them
  char path[DSK_PATH_MAX + 8];
  snprintf(path, sizeof path, "%s.%s", vs->basePath, video ? vr::kDataExt : vr::kAudioDataExt);
  int vdd = openNew(path);
  if (vdd < 0) {
    TRACE(TAG, "Could not write file (%s).", path);
    dskOpenPairSet(vs, false);
    return DSK_ERR_NOT_OPEN;
  }
  snprintf(path, sizeof path, "%s.%s", vs->basePath, video ? vr::kIndexExt : vr::kAudioIndexExt);
  int vdx = openNew(path);
  if (vdx < 0) {
    TRACE(TAG, "Could not write file (%s).", path);
    plat::close(vdd);  // never leave a half-opened pair behind
    dskOpenPairSet(vs, false);
    return DSK_ERR_NOT_OPEN;
  }
  vs->vddFd = vdd;
  vs->vdxFd = vdx;
  vs->nextSeq += 1;
  vs->bytesWritten = 0;
  vs->vddPosition = 0;
  vs->IdxHeader.dwFrameTotal.set(0);
  mgr->startTime = tm;
  TRACE(TAG, "~dskWriteStart()");
  return 0;
}

int dskWrite(DISK_MGR* mgr, int channel, const ENC_FRAME* frame, const uint8_t* jpeg) {
  VIDEO_STREAM* vs = streamOf(mgr, channel);
  if (vs == nullptr || vs->vddFd <= 0 || vs->vdxFd <= 0) {
    TRACE(TAG, "ERROR : Files have not opened");
    return DSK_ERR_NOT_OPEN;
  }
  if (((vs->kind >> 8) & 0xFF) != 1) return 0;
  if (frame == nullptr || jpeg == nullptr) {
    TRACE(TAG, "Trying to write Invalid data");
    return DSK_ERR_NO_FRAME;
  }
  uint32_t jpegSize = frame->jpegSize.get();
  uint32_t commentLength = static_cast<uint32_t>(vs->comment.length);
  // The record is the comment block (with its own start of image) and the JPEG stream without
  // the encoder's start of image; a stream of 2 bytes or less contributes nothing.
  uint32_t body = jpegSize > 2 ? jpegSize - 2 : 0;

  vr::FrameIndexEntry& e = vs->entry;
  e.marker = vr::kEntryMarker;
  e.zero1[0] = e.zero1[1] = 0;
  e.tag = vr::kEntryTag;
  e.one = 0x01;
  e.offset.set(vs->vddPosition);
  e.length.set(commentLength + body);

  int result = writeAll(vs->vddFd, &vs->comment.block, commentLength, &vs->bytesWritten);
  if (result == 0 && body > 0) result = writeAll(vs->vddFd, jpeg + 2, body, &vs->bytesWritten);
  if (result != 0) return result;
  vs->vddPosition += commentLength + body;
  result = writeAll(vs->vdxFd, &e, sizeof e, &vs->bytesWritten);
  if (result != 0) return result;
  vs->IdxHeader.dwFrameTotal.set(vs->IdxHeader.dwFrameTotal.get() + 1);
  return 0;
}

int dskWriteUpdate(DISK_MGR* mgr, int channel) {
  VIDEO_STREAM* vs = streamOf(mgr, channel);
  if (vs == nullptr || vs->IdxHeader.dwFrameTotal.get() == 0) return 0;
  if (vs->vdxFd <= 0) {
    // The pair was abandoned after a failed write: its index cannot be finished, and the
    // descriptor number left behind is not the index file's.
    TRACE(TAG, "index file not open: header of %d frames not written", static_cast<int>(vs->IdxHeader.dwFrameTotal.get()));
    vs->IdxHeader.dwFrameTotal.set(0);
    return DSK_ERR_NOT_OPEN;
  }
  TRACE(TAG, "pVS->IdxHeader.dwFrameTotal(%d)", static_cast<int>(vs->IdxHeader.dwFrameTotal.get()));
  int result = writeAll(vs->vdxFd, &vs->IdxHeader, sizeof vs->IdxHeader, &vs->bytesWritten);
  if (result != 0) return result;
  vs->IdxHeader.dwFrameTotal.set(0);
  return 0;
}

int dskWriteEnd(DISK_MGR* mgr, int channel) {
  VIDEO_STREAM* vs = streamOf(mgr, channel);
  if (vs == nullptr) return 0;
  dskWriteUpdate(mgr, channel);
  bool ok = closeFile(&vs->vddFd, "VDD");
  ok = closeFile(&vs->vdxFd, "VDX") && ok;
  dskOpenPairSet(vs, false);
  return ok ? 0 : DSK_ERR_CLOSE;
}

void dskClose(DISK_MGR* mgr) {
  if (mgr == nullptr) return;
  for (int i = 0; i < mgr->channelCount && mgr->pVideoStream; ++i) {
    if (dskWriteEnd(mgr, i) == 0) {
      TRACE(TAG, "dskWriteEnd Success!!");
    } else {
      TRACE(TAG, "@@ failed to dskWriteEnd()");
    }
  }
  delete mgr;
}

int GetEventFileNum2(const char* directory) {
  DirList list;
  int n = list.scan(directory);
  return n < 1 ? -1 : n;
}

int GetEventFileNum(DISK_MGR* mgr, int channel) {
  VIDEO_STREAM* vs = streamOf(mgr, channel);
  return vs == nullptr ? -1 : GetEventFileNum2(vs->dirPath);
}

int dskCheckDir(const char* directory) {
  struct stat st;
  if (plat::stat(directory, &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  if (plat::mkdir(directory, 0744) == 0 || errno == EEXIST) return 0;
  TRACE(TAG, "Could not make directory (%s).", directory);
  return DSK_ERR_MKDIR;
}

void PrintJpegInfo(const FRAME_COMMENT_AREA* area) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&area->block);
  int length = area->length < 0 ? 0 : area->length;
  if (length > static_cast<int>(FRAME_COMMENT_AREA_SIZE)) length = FRAME_COMMENT_AREA_SIZE;
  char line[16 * 3 + 2];
  TRACE(TAG, "Exif Header : ");
  for (int i = 0; i < length; i += 16) {
    size_t used = 0;
    for (int j = i; j < length && j < i + 16; ++j) used += snprintf(line + used, sizeof line - used, "%02X ", bytes[j]);
    recorder_trace("%s", line);
  }
}
