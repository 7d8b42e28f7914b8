// The log store on a simulated board's card directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "log/log_store.h"
#include "support/test_board.h"

namespace {

namespace fs = std::filesystem;
using testing_board::ConsoleCapture;
using testing_board::kStartSecond;
using testing_board::TestBoard;

struct Closer {
  void operator()(LOG_MGR* m) const { logClose(m); }
};
using Store = std::unique_ptr<LOG_MGR, Closer>;

class LogStoreTest : public ::testing::Test {
 protected:
  LogStoreTest() { board.mkdirs("/mnt/log/log"); }

  void put(const std::string& name, size_t bytes) const {
    board.writeFile("/mnt/log/log/" + name, std::string(bytes, 'x'));
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(board.host("/mnt/log/log"))) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }
  Store open() const { return Store(logOpen("/mnt/log", 0)); }

  TestBoard board;
};

TEST_F(LogStoreTest, AnEmptyDirectoryStartsAtOne) {
  Store s = open();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->nextSeq, 1);
  EXPECT_EQ(s->used, 0);
  EXPECT_EQ(s->quota, 71680);
  EXPECT_STREQ(s->directory, "/mnt/log/log");
}

TEST_F(LogStoreTest, NoDirectoryNoStoreUnlessTheCardHasFailed) {
  fs::remove(board.host("/mnt/log/log"));
  EXPECT_EQ(logOpen("/mnt/log", 0), nullptr);
  Store failed(logOpen("/mnt/log", 1));  // nothing will be written: the directory is not read
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->nextSeq, 1);
}

TEST_F(LogStoreTest, TheSequenceGoesOnAboveTheHighestAndTheLowestGoesFirst) {
  put("0000000007,2009.01.01,00.00.00.log", 3000);
  put("0000000003,2009.01.01,01.00.00.log", 500);
  Store s = open();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->nextSeq, 8);
  EXPECT_EQ(s->used, 2 + 1);
  ASSERT_EQ(logRemoveOldFile(s.get()), 0);
  EXPECT_EQ(names(), std::vector<std::string>{"0000000007,2009.01.01,00.00.00.log"});
  EXPECT_EQ(s->used, 2);
  ASSERT_EQ(logRemoveOldFile(s.get()), 0);
  EXPECT_EQ(s->used, 0);
  EXPECT_EQ(logRemoveOldFile(s.get()), -1);  // nothing left to remove
}

TEST_F(LogStoreTest, SizesCountInWholeKibButAtLeastOne) {
  EXPECT_EQ(logSizeK(0), 1);
  EXPECT_EQ(logSizeK(500), 1);
  EXPECT_EQ(logSizeK(2047), 1);
  EXPECT_EQ(logSizeK(2048), 2);
  put("0000000001,2009.01.01,00.00.00.log", 0);
  put("0000000002,2009.01.01,00.00.00.log", 2047);
  put("0000000003,2009.01.01,00.00.00.log", 2048);
  Store s = open();
  EXPECT_EQ(s->used, 1 + 1 + 2);
}

TEST_F(LogStoreTest, NamesThatAreNotLogFilesAreNeitherCountedNorRemoved) {
  EXPECT_EQ(IsValidLogFileName("0000000012,2009.06.30,14.05.07.log"), 12);
  EXPECT_EQ(IsValidLogFileName("0000000012,2049.12.31,24.60.60.log"), 12);
  EXPECT_EQ(IsValidLogFileName("0000000001,2008.01.01,00.00.00.log"), -2);  // year
  EXPECT_EQ(IsValidLogFileName("0000000000,2009.01.01,00.00.00.log"), -2);  // sequence 0
  EXPECT_EQ(IsValidLogFileName("0000000001,2009.13.01,00.00.00.log"), -2);
  EXPECT_EQ(IsValidLogFileName("0000000001,2009.01.01,00.61.00.log"), -2);
  EXPECT_EQ(IsValidLogFileName("12,2009.01.01,00.00.00.log"), -3);  // not ten digits
  EXPECT_EQ(IsValidLogFileName("00000000012,2009.01.01,00.00.00.log"), -3);  // eleven
  EXPECT_EQ(IsValidLogFileName("0000000001,2009.01.01,00.00.00"), -1);
  EXPECT_EQ(IsValidLogFileName("error.log"), -1);
  EXPECT_EQ(IsValidLogFileName(""), -1);
  // Numbers too large for any field, and a rest far longer than any buffer: refused, no overflow.
  EXPECT_EQ(IsValidLogFileName("9999999999,2009.01.01,00.00.00.log"), -2);
  EXPECT_EQ(IsValidLogFileName("0000000001,99999999999999999999999.01.01,00.00.00.log"), -2);
  EXPECT_GT(IsValidLogFileName(("0000000001,2009.01.01,00.00.00." + std::string(5000, 'l')).c_str()), 0);

  put("0000000001,2008.01.01,00.00.00.log", 4096);
  put("0000000000,2009.01.01,00.00.00.log", 4096);
  put("12,2009.01.01,00.00.00.log", 4096);
  put("0000000009,2009.01.01,00.00.00.txt", 4096);
  board.mkdirs("/mnt/log/log/0000000005,2009.01.01,00.00.00.log");  // a directory
  put("0000000004,2009.01.01,00.00.00.log", 100);
  Store s = open();
  EXPECT_EQ(s->nextSeq, 5);
  EXPECT_EQ(s->used, 1);
  ASSERT_EQ(logRemoveOldFile(s.get()), 0);
  EXPECT_EQ(logRemoveOldFile(s.get()), -1);
  EXPECT_EQ(names().size(), 5u);  // all the others are still there
}

TEST_F(LogStoreTest, AFullQuotaRemovesTheOldestBeforeTheNewFile) {
  put("0000000003,2009.01.01,01.00.00.log", 2048);
  put("0000000004,2009.01.01,02.00.00.log", 2048);
  Store s = open();
  s->used = 71680;
  ConsoleCapture console;
  ASSERT_EQ(logWriteStart(s.get(), kStartSecond + 3600 * 14 + 5 * 60 + 7), 0);
  std::string out = console.text();
  EXPECT_LT(out.find("remove(/mnt/log/log/0000000003,"), out.find("File Open... /mnt/log/log/0000000005,2026.01.01,14.05.07.log"));
  EXPECT_EQ(s->used, 71678);
  EXPECT_EQ(names(), (std::vector<std::string>{"0000000004,2009.01.01,02.00.00.log", "0000000005,2026.01.01,14.05.07.log"}));
  EXPECT_EQ(s->nextSeq, 6);
}

TEST_F(LogStoreTest, AQuotaThatCannotBeMetCreatesNothing) {
  Store s = open();
  s->used = 80000;
  EXPECT_EQ(logWriteStart(s.get(), kStartSecond), -1);
  EXPECT_TRUE(names().empty());
  EXPECT_EQ(s->fd, -1);
}

TEST_F(LogStoreTest, WritesAreCountedWhenTheFileCloses) {
  Store s = open();
  {
    ConsoleCapture console;
    EXPECT_EQ(logWrite(s.get(), "early\r\n"), -7);
    EXPECT_NE(console.text().find("file not opened"), std::string::npos);
  }
  ASSERT_EQ(logWriteStart(s.get(), kStartSecond), 0);
  std::string line(700, 'a');
  for (int i = 0; i < 3; ++i) ASSERT_EQ(logWrite(s.get(), line.c_str()), 0);
  EXPECT_EQ(s->written, 2100);
  EXPECT_EQ(s->used, 0);
  ASSERT_EQ(logWriteEnd(s.get()), 0);
  EXPECT_EQ(s->used, 2);
  EXPECT_EQ(s->written, 0);
  EXPECT_EQ(board.readFile("/mnt/log/log/0000000001,2026.01.01,00.00.00.log"), line + line + line);
  EXPECT_EQ(logWrite(s.get(), "after\r\n"), -7);
  EXPECT_EQ(logWriteEnd(s.get()), 0);  // nothing open: nothing to do
}

TEST_F(LogStoreTest, AfterARestartTheSequenceContinuesAndTheTimeIsLocal) {
  setenv("TZ", "JST-9", 1);
  tzset();
  {
    Store s = open();
    ASSERT_EQ(logWriteStart(s.get(), kStartSecond), 0);
    ASSERT_EQ(logWrite(s.get(), "x"), 0);
  }
  Store again = open();
  EXPECT_EQ(again->nextSeq, 2);
  EXPECT_EQ(again->used, 1);
  ASSERT_EQ(logWriteStart(again.get(), kStartSecond + 3600), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"0000000001,2026.01.01,09.00.00.log", "0000000002,2026.01.01,10.00.00.log"}));
  EXPECT_EQ(again->fileStart.tm_hour, 10);
  setenv("TZ", "UTC", 1);
  tzset();
}

TEST_F(LogStoreTest, AFileThatCannotBeCreatedIsReported) {
  Store s = open();
  fs::remove(board.host("/mnt/log/log"));
  EXPECT_EQ(logWriteStart(s.get(), kStartSecond), -6);
  EXPECT_EQ(s->nextSeq, 1);
}

}  // namespace
