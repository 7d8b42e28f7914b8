// The travel log's files: /mnt/log/log/NNNNNNNNNN,YYYY.MM.DD,hh.mm.ss.log, one per clock hour of
// logging, numbered by a sequence that goes on across restarts, and all of them together held
// under a size quota by removing the oldest first.
//
// The sequence number comes first in the name, zero-padded to ten digits, so alphabetical order
// is creation order. Only regular files whose names pass IsValidLogFileName are counted, numbered
// from or removed; anything else in the directory is left alone.
#pragma once

#include <cstdint>
#include <ctime>
#include <sys/types.h>

constexpr int32_t LOG_QUOTA_K = 71680;  // 70 MiB for all log files together

struct LOG_MGR {
  char directory[132];  // "<mount point>/log"
  int32_t nextSeq;      // number of the next file; starts at 1
  int32_t quota;        // KiB
  int32_t used;         // KiB taken by the log files counted so far
  int32_t fd;           // the open log file, -1 when none is open
  int32_t written;      // bytes written to the open file
  struct tm fileStart;  // local time the open file is named after
};

// A store for the log directory under the mount point. With cardFailed 1 the directory is not
// read (nothing will be written). Null when the record cannot be had or the directory not read.
LOG_MGR* logOpen(const char* mountPoint, int cardFailed);
// Makes room under the quota and creates the next file, named after `when` in local time: 0, -6
// when the file cannot be created, -1 when no old file could be removed to meet the quota.
int logWriteStart(LOG_MGR* mgr, time_t when);
// Appends the text (up to its NUL): 0, or -7 (no file open, or the write failed).
int logWrite(LOG_MGR* mgr, const char* text);
// Counts the open file's bytes and flushes and closes it: 0, or -8.
int logWriteEnd(LOG_MGR* mgr);
// logWriteEnd, then the record is freed: its result.
int logClose(LOG_MGR* mgr);
// Removes the oldest valid log file: 0, or -1 when none could be removed.
int logRemoveOldFile(LOG_MGR* mgr);

// The sequence number of a valid log file name; -1 when the name has not its eight parts, -2
// when a part is out of range, -3 when it does not start with ten digits and a comma.
int IsValidLogFileName(const char* name);
// A file's share of the quota: whole KiB, rounded down, but at least 1.
int32_t logSizeK(off_t bytes);
