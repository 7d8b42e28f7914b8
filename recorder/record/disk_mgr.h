// The video file store: the recording thread's only way to the card.
//
// One DISK_MGR per open store and one VIDEO_STREAM per channel. The store finds the next free
// sequence number in each channel directory when opened, creates a recording's file pair,
// appends one frame record to the .vdd and one index entry to the .vdx per frame (three plain
// writes, the JPEG body straight from the camera's buffer), writes the index header and closes
// the pair. The file formats are in record/video_format.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>

#include "record/cam_interface.h"
#include "record/video_format.h"

constexpr int DSK_PATH_MAX = 128;
constexpr size_t FRAME_COMMENT_AREA_SIZE = 512;

// Stream kind word: bit 0 video, bit 4 continuous, bit 5 event, bits 8..15 must be 1.
constexpr uint32_t STREAM_KIND_VIDEO = 0x1;
constexpr uint32_t STREAM_KIND_CONTINUOUS = 0x10;
constexpr uint32_t STREAM_KIND_EVENT = 0x20;
constexpr uint32_t STREAM_KIND_BASE = 0x00020101;
// Status word: set once the card is being overwritten.
constexpr uint32_t STREAM_STATUS_OVERWRITE = 0x40000;

// The recorder's quotas of free card space.
constexpr uint32_t OVERWRITE_QUOTA_K_CONTINUOUS = 819200;
constexpr uint32_t OVERWRITE_QUOTA_K_EVENT = 204800;
// Recording files a channel directory may hold ("." and ".." not counted).
constexpr int DSK_ENTRY_LIMIT = 2000;

// Result codes.
enum : int {
  DSK_ERR_STATFS = -1,
  DSK_ERR_NOT_OPEN = -6,
  DSK_ERR_WRITE = -7,
  DSK_ERR_CLOSE = -8,
  DSK_ERR_MKDIR = -10,
  DSK_ERR_NO_FRAME = -10000,
};

// The frame comment block of the current frame, built in place by the comment builders.
struct FRAME_COMMENT_AREA {
  vr::FrameComment block;
  uint8_t spare[FRAME_COMMENT_AREA_SIZE - sizeof(vr::FrameComment)];
  int32_t length;  // 65 once the header is built
};

struct VIDEO_STREAM {
  char dirPath[DSK_PATH_MAX];   // "<mount>/ch<N>/event" or ".../normal"
  char basePath[DSK_PATH_MAX];  // current pair without extension
  int32_t nextSeq;
  uint32_t capacityK;  // card KiB / channels
  uint32_t freeK;      // free KiB at open / channels
  uint32_t kind;
  uint32_t status;
  int32_t vddFd;  // <= 0: not open
  uint32_t bytesWritten;
  int32_t vdxFd;  // <= 0: not open
  vr::IdxHeader IdxHeader;
  vr::FrameIndexEntry entry;  // the current frame's entry, filled field by field
  FRAME_COMMENT_AREA comment;
  uint32_t vddPosition;  // where the next frame record goes in the .vdd
};

struct DISK_MGR {
  char mountPath[DSK_PATH_MAX];
  int32_t channelCount;
  std::unique_ptr<VIDEO_STREAM[]> pVideoStream;
  struct tm startTime;  // local time of the first frame of the latest pair
};

DISK_MGR* dskOpen(const char* mountPath, int channelCount, const uint32_t* kinds, uint32_t quotaK);
int dskWriteStart(DISK_MGR* mgr, int channel, time_t startSecond);
int dskWrite(DISK_MGR* mgr, int channel, const ENC_FRAME* frame, const uint8_t* jpeg);
int dskWriteUpdate(DISK_MGR* mgr, int channel);
int dskWriteEnd(DISK_MGR* mgr, int channel);
void dskClose(DISK_MGR* mgr);

// Closes the store when it goes out of scope.
struct DiskMgrCloser {
  void operator()(DISK_MGR* mgr) const { dskClose(mgr); }
};
using DiskMgrPtr = std::unique_ptr<DISK_MGR, DiskMgrCloser>;

int IsValidFileName(const char* name);
int GetDiskSizeK(const char* path, uint32_t* totalK, uint32_t* freeK);
int GetEventFileNum(DISK_MGR* mgr, int channel);
int GetEventFileNum2(const char* directory);
int dskCheckDir(const char* directory);
void PrintJpegInfo(const FRAME_COMMENT_AREA* area);

// The pairs being written, so that the overwrite worker never removes one: the recording thread
// registers a pair before its files are created and forgets it when they are closed.
void dskOpenPairSet(const VIDEO_STREAM* vs, bool open);
// Runs `remove` on the path unless the file belongs to a pair being written (gives false
// then, with errno EBUSY); the check and the removal are one step for dskWriteStart.
bool dskRemoveUnlessOpen(const char* path, int (*remove)(const char*));

// Disk space (used by the overwrite worker).
int dskRemoveOldFile2(const char* directory);
int CheckOverwrite(const char* mountPath, const char* directory, int recMode, const std::atomic<int32_t>* run,
                   uint32_t quotaK);
enum : int { OVERWRITE_CARD_FULL = -25, OVERWRITE_REMOVED = -26 };
