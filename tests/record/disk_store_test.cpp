// The video file store and the disk space functions, on a test card.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <set>
#include <unistd.h>
#include <string>
#include <vector>

#include "core/globals.h"
#include "record/disk_mgr.h"
#include "support/test_board.h"
#include "support/host_files.h"
#include "support/test_card.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kEventKind = STREAM_KIND_BASE | STREAM_KIND_EVENT;

using testing_board::hostFileBytes;

class Store : public ::testing::Test {
 protected:
  void touch(const std::string& name, size_t bytes = 0) {
    std::ofstream(card.channelDir("event") + "/" + name, std::ios::binary) << std::string(bytes, 'x');
  }
  std::set<std::string> names() {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(card.channelDir("event"))) out.insert(e.path().filename());
    return out;
  }
  DiskMgrPtr open(uint32_t quota = OVERWRITE_QUOTA_K_EVENT) {
    uint32_t kind = kEventKind;
    return DiskMgrPtr(dskOpen("/mnt/log", 1, &kind, quota));
  }
  testing_board::TestBoard board;
  testing_board::ConsoleCapture console;
  testing_board::TestCard card;
};

TEST_F(Store, ValidNamesAndTheirChecks) {
  EXPECT_EQ(IsValidFileName("0000000041,2011.03.05,14.07.09.vdd"), 41);
  EXPECT_EQ(IsValidFileName("0000000001,2049.12.31,24.60.60.vdx"), 1) << "hour 24, minute and second 60 pass";
  EXPECT_EQ(IsValidFileName("readme.txt"), -1);
  EXPECT_EQ(IsValidFileName("0000000041,2008.03.05,14.07.09.vdd"), -2);
  EXPECT_EQ(IsValidFileName("0000000041,2011.13.05,14.07.09.vdd"), -2);
  EXPECT_EQ(IsValidFileName("0000000000,2011.03.05,14.07.09.vdd"), -2);
  EXPECT_EQ(IsValidFileName("000000041,2011.03.05,14.07.09.vdd"), -3);
  // An extension longer than any buffer would be is bounded, not overflowed.
  std::string longName = "0000000041,2011.03.05,14.07.09." + std::string(300, 'v');
  EXPECT_EQ(IsValidFileName(longName.c_str()), 41);
}

TEST_F(Store, NextSequenceFromTheNewestValidRecordingFile) {
  {
    auto mgr = open();
    ASSERT_NE(mgr, nullptr);
    EXPECT_EQ(mgr->pVideoStream[0].nextSeq, 1) << "empty directory";
  }
  touch("0000000007,2011.03.05,14.00.00.vdd");
  touch("0000000041,2011.03.05,14.07.09.vdd");
  touch("0000000041,2011.03.05,14.07.09.vdx");
  touch("0000000050,2008.03.05,14.07.09.vdd");  // year out of range
  touch("0000000051,2011.13.05,14.07.09.vdx");  // month 13
  touch("000000052,2011.03.05,14.07.09.vdd");   // nine digits: sorts last, skipped
  touch("0000000060,2011.03.05,14.07.09.txt");  // not a recording extension
  fs::create_directory(card.channelDir("event") + "/0000000070,2011.03.05,14.07.09.vdd");  // a directory
  auto mgr = open();
  ASSERT_NE(mgr, nullptr);
  EXPECT_EQ(mgr->pVideoStream[0].nextSeq, 42);
  EXPECT_STREQ(mgr->pVideoStream[0].dirPath, "/mnt/log/ch1/event");
}

TEST_F(Store, OpenFailsWhenTheCardIsNoLargerThanTheQuota) {
  card.setCapacityK(OVERWRITE_QUOTA_K_EVENT);
  EXPECT_EQ(open(), nullptr);
  EXPECT_NE(console.text().find("dskSizeK is smaller than OVERWRITE_QUOTA_K"), std::string::npos);
  EXPECT_NE(board.readFile("/mnt/log/error.log").find("dskSizeK is smaller than OVERWRITE_QUOTA_K"), std::string::npos);
}

// Writes N frames of different sizes and closes the pair.
std::string writePair(DISK_MGR* mgr, int frames, time_t start) {
  EXPECT_EQ(dskWriteStart(mgr, 0, start), 0);
  VIDEO_STREAM& vs = mgr->pVideoStream[0];
  std::vector<uint8_t> buffer(sizeof(ENC_FRAME) + 4000);
  for (int i = 0; i < frames; ++i) {
    auto* f = reinterpret_cast<ENC_FRAME*>(buffer.data());
    uint32_t size = 100 + 37 * i;
    f->jpegSize.set(size);
    uint8_t* jpeg = buffer.data() + sizeof(ENC_FRAME);
    jpeg[0] = 0xFF, jpeg[1] = 0xD8;
    for (uint32_t b = 2; b < size; ++b) jpeg[b] = static_cast<uint8_t>(i);
    vs.comment.length = 65;
    EXPECT_EQ(dskWrite(mgr, 0, f, jpeg), 0);
  }
  std::string base = vs.basePath;
  EXPECT_EQ(dskWriteEnd(mgr, 0), 0);
  return base;
}

TEST_F(Store, ClosedPairHoldsContiguousEntriesAndOneHeader) {
  auto mgr = open();
  ASSERT_NE(mgr, nullptr);
  const int n = 25;
  std::string base = writePair(mgr.get(), n, static_cast<time_t>(testing_board::kStartSecond));
  EXPECT_EQ(base.rfind("/mnt/log/ch1/event/0000000001,", 0), 0u) << base;
  auto vdx = hostFileBytes(board.host(base + ".vdx"));
  auto vdd = hostFileBytes(board.host(base + ".vdd"));
  ASSERT_EQ(vdx.size(), 66u * n + 26);
  uint32_t expectedOffset = 0;
  for (int i = 0; i < n; ++i) {
    const auto* e = reinterpret_cast<const vr::FrameIndexEntry*>(vdx.data() + 66 * i);
    EXPECT_EQ(e->marker, 0xA1);
    EXPECT_EQ(e->tag, 0xEE);
    EXPECT_EQ(e->offset.get(), expectedOffset) << "entry " << i;
    EXPECT_EQ(e->length.get(), 100u + 37 * i + 65 - 2);
    // The record's last byte is the frame's own.
    EXPECT_EQ(vdd[e->offset.get() + e->length.get() - 1], static_cast<uint8_t>(i));
    expectedOffset += e->length.get();
  }
  EXPECT_EQ(vdd.size(), expectedOffset);
  const auto* h = reinterpret_cast<const vr::IdxHeader*>(vdx.data() + 66 * n);
  EXPECT_EQ(h->marker, 0xA0);
  EXPECT_EQ(h->tag, 0xFF);
  EXPECT_EQ(h->streamType, 1);
  EXPECT_EQ(h->kindBit8, 1);
  EXPECT_EQ(h->dwFrameTotal.get(), static_cast<uint32_t>(n));
  EXPECT_EQ(vdx[13], 0) << "the count is little endian";
  EXPECT_EQ(vdx[66 * n + 10], n);

  // The next pair takes the next number, even with no frame in it, and stays empty.
  std::string empty = writePair(mgr.get(), 0, static_cast<time_t>(testing_board::kStartSecond) + 60);
  EXPECT_EQ(empty.rfind("/mnt/log/ch1/event/0000000002,", 0), 0u) << empty;
  EXPECT_EQ(hostFileBytes(board.host(empty + ".vdx")).size(), 0u);
  EXPECT_EQ(hostFileBytes(board.host(empty + ".vdd")).size(), 0u);
}

TEST_F(Store, WriteWithoutAnOpenPairOrFrameFails) {
  auto mgr = open();
  ASSERT_NE(mgr, nullptr);
  ENC_FRAME f{};
  uint8_t jpeg[4] = {0xFF, 0xD8, 0, 0};
  EXPECT_EQ(dskWrite(mgr.get(), 0, &f, jpeg), DSK_ERR_NOT_OPEN);
  ASSERT_EQ(dskWriteStart(mgr.get(), 0, static_cast<time_t>(testing_board::kStartSecond)), 0);
  EXPECT_EQ(dskWrite(mgr.get(), 0, nullptr, nullptr), DSK_ERR_NO_FRAME);
  // A stream of two bytes or less: only the comment block, and the entry says so.
  mgr->pVideoStream[0].comment.length = 65;
  f.jpegSize.set(1);
  EXPECT_EQ(dskWrite(mgr.get(), 0, &f, jpeg), 0);
  EXPECT_EQ(mgr->pVideoStream[0].entry.length.get(), 65u);
}

// The recording thread abandons a pair after a failed write by closing its files and setting the
// descriptors to 0; closing the store afterwards must not write the index header anywhere.
TEST_F(Store, AnAbandonedPairGetsNoHeaderThroughDescriptorZero) {
  auto mgr = open();
  ASSERT_NE(mgr, nullptr);
  std::string base;
  {
    ASSERT_EQ(dskWriteStart(mgr.get(), 0, static_cast<time_t>(testing_board::kStartSecond)), 0);
    VIDEO_STREAM& vs = mgr->pVideoStream[0];
    base = vs.basePath;
    std::vector<uint8_t> buffer(sizeof(ENC_FRAME) + 200);
    auto* f = reinterpret_cast<ENC_FRAME*>(buffer.data());
    f->jpegSize.set(200);
    vs.comment.length = 65;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(dskWrite(mgr.get(), 0, f, buffer.data() + sizeof(ENC_FRAME)), 0);
    close(vs.vddFd);
    close(vs.vdxFd);
    vs.vddFd = vs.vdxFd = 0;
  }
  // Descriptor 0 is the writing end of a pipe here, so that anything written to it is seen.
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_NONBLOCK), 0);
  int savedStdin = dup(0);
  dup2(pipeFds[1], 0);
  int result = dskWriteEnd(mgr.get(), 0);
  dup2(savedStdin, 0);
  close(savedStdin);
  char got[64];
  EXPECT_EQ(read(pipeFds[0], got, sizeof got), -1) << "nothing written to descriptor 0";
  close(pipeFds[0]);
  close(pipeFds[1]);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(mgr->pVideoStream[0].IdxHeader.dwFrameTotal.get(), 0u);
  EXPECT_EQ(console.text().find("pVS->IdxHeader.dwFrameTotal(3)"), std::string::npos) << "no header write traced";
  EXPECT_EQ(hostFileBytes(board.host(base + ".vdx")).size(), 3u * 66) << "the index stays as written";
}

TEST_F(Store, EntryCountIncludesDotEntries) {
  touch("a.vdd");
  touch("b.vdx");
  EXPECT_EQ(GetEventFileNum2("/mnt/log/ch1/event"), 4);
  EXPECT_EQ(GetEventFileNum2("/mnt/log/ch1/none"), -1);
  EXPECT_EQ(dskCheckDir("/mnt/log/ch1/new"), 0);
  EXPECT_EQ(dskCheckDir("/mnt/log/ch1/new"), 0) << "an existing directory is success";
}

TEST_F(Store, RemovalTakesTheOldestValidFileAndItsPartner) {
  touch("0000000001,2008.03.05,14.07.09.vdd");  // invalid year: kept
  touch("0000000002,2011.03.05,14.07.09.vdd");
  touch("0000000002,2011.03.05,14.07.09.vdx");
  touch("0000000003,2011.03.05,14.17.09.vdd");
  touch("0000000003,2011.03.05,14.17.09.vdx");
  EXPECT_EQ(dskRemoveOldFile2("/mnt/log/ch1/event"), 0);
  EXPECT_EQ(names(), (std::set<std::string>{"0000000001,2008.03.05,14.07.09.vdd", "0000000003,2011.03.05,14.17.09.vdd",
                                            "0000000003,2011.03.05,14.17.09.vdx"}));
  // A lone index file goes alone.
  touch("0000000000,2011.03.05,14.07.09.vdd");  // sequence 0: invalid, sorts first
  fs::remove(card.channelDir("event") + "/0000000003,2011.03.05,14.17.09.vdd");
  EXPECT_EQ(dskRemoveOldFile2("/mnt/log/ch1/event"), 0);
  EXPECT_EQ(names(), (std::set<std::string>{"0000000000,2011.03.05,14.07.09.vdd", "0000000001,2008.03.05,14.07.09.vdd"}));
  EXPECT_EQ(dskRemoveOldFile2("/mnt/log/ch1/none"), -1);
}

TEST_F(Store, CheckOverwriteRemovesUntilThereIsRoomOrReportsFull) {
  std::atomic<int32_t> run{1};
  // 300 MiB card; each recording 20 MiB; 4 recordings leave 220 MiB free: above the quota.
  card.setCapacityK(300 * 1024);
  for (int i = 1; i <= 4; ++i) {
    char name[64];
    snprintf(name, sizeof name, "%010d,2011.03.05,14.%02d.00", i, i);
    touch(std::string(name) + ".vdd", 20 * 1024 * 1024);
    touch(std::string(name) + ".vdx", 1024);
  }
  EXPECT_EQ(CheckOverwrite("/mnt/log", "/mnt/log/ch1/event", 2, &run, OVERWRITE_QUOTA_K_EVENT), 0);
  // Another 50 MiB taken: free just under 170 MiB, short by 30: the two oldest recordings go.
  card.setReservedK(50 * 1024);
  EXPECT_EQ(CheckOverwrite("/mnt/log", "/mnt/log/ch1/event", 1, &run, OVERWRITE_QUOTA_K_EVENT), OVERWRITE_CARD_FULL);
  EXPECT_EQ(names().size(), 8u) << "RECMOD 1 never removes";
  EXPECT_EQ(CheckOverwrite("/mnt/log", "/mnt/log/ch1/event", 2, &run, OVERWRITE_QUOTA_K_EVENT), OVERWRITE_REMOVED);
  EXPECT_EQ(names().size(), 4u);
  EXPECT_EQ(names().count("0000000003,2011.03.05,14.03.00.vdd"), 1u);

  // Short of space with nothing that may be removed: card full, not an endless loop.
  card.setReservedK(250 * 1024);
  for (const auto& e : fs::directory_iterator(card.channelDir("event"))) fs::remove(e.path());
  touch("0000000009,2008.01.01,00.00.00.vdd", 1024);
  EXPECT_EQ(CheckOverwrite("/mnt/log", "/mnt/log/ch1/event", 2, &run, OVERWRITE_QUOTA_K_EVENT), OVERWRITE_CARD_FULL);

  // The run flag cleared: nothing is removed.
  touch("0000000010,2011.01.01,00.00.00.vdd", 1024);
  run = 0;
  EXPECT_EQ(CheckOverwrite("/mnt/log", "/mnt/log/ch1/event", 2, &run, OVERWRITE_QUOTA_K_EVENT), 0);
  EXPECT_EQ(names().count("0000000010,2011.01.01,00.00.00.vdd"), 1u);
  EXPECT_NE(console.text().find("Skip Overwrite by power off"), std::string::npos);
}

TEST_F(Store, OverwriteNeverRemovesThePairBeingWritten) {
  std::atomic<int32_t> run{1};
  card.setCapacityK(300 * 1024);
  auto mgr = open();
  ASSERT_NE(mgr, nullptr);
  ASSERT_EQ(dskWriteStart(mgr.get(), 0, static_cast<time_t>(testing_board::kStartSecond)), 0);
  std::string base = fs::path(mgr->pVideoStream[0].basePath).filename();
  card.setReservedK(150 * 1024);  // short of space, and the open pair is the only recording
  EXPECT_EQ(CheckOverwrite("/mnt/log", "/mnt/log/ch1/event", 2, &run, OVERWRITE_QUOTA_K_EVENT), OVERWRITE_CARD_FULL);
  EXPECT_EQ(names(), (std::set<std::string>{base + ".vdd", base + ".vdx"}));
  EXPECT_NE(console.text().find("is being written: kept"), std::string::npos);
  // An older recording beside it goes; once closed, the pair may go too.
  touch("0000000000,2011.03.05,14.07.09.vdd");  // invalid: kept
  card.setReservedK(0);
  ASSERT_EQ(dskWriteEnd(mgr.get(), 0), 0);
  card.setReservedK(150 * 1024);
  EXPECT_EQ(dskRemoveOldFile2("/mnt/log/ch1/event"), 0);
  EXPECT_EQ(names(), (std::set<std::string>{"0000000000,2011.03.05,14.07.09.vdd"}));
}

TEST_F(Store, TooManyFilesIsShortOfSpace) {
  std::atomic<int32_t> run{1};
  for (int i = 1; i <= 1000; ++i) {
    char name[64];
    snprintf(name, sizeof name, "%010d,2011.03.05,14.00.00", i);
    touch(std::string(name) + ".vdd");
    touch(std::string(name) + ".vdx");
  }
  EXPECT_EQ(CheckOverwrite("/mnt/log", "/mnt/log/ch1/event", 2, &run, OVERWRITE_QUOTA_K_EVENT), OVERWRITE_REMOVED);
  EXPECT_EQ(GetEventFileNum2("/mnt/log/ch1/event"), 2000) << "one pair removed: 1998 files and the dot entries";
  EXPECT_EQ(names().count("0000000001,2011.03.05,14.00.00.vdd"), 0u);
}

}  // namespace
