// Filling a card while the board is off: the program then sees the recordings and the free space
// the fill asked for, and the image stays sound for fsck.fat and fusefat.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <tuple>

#include "board/card/card_fill.h"
#include "card_fixture.h"
#include "platform/platform.h"
#include "record/disk_mgr.h"

using card_test::CardBoard;

namespace {

constexpr int64_t kFirst = 1735689600;  // 2025-01-01 00:00:00 UTC
constexpr uint64_t kMiB = 1024;

class CardFillTest : public ::testing::TestWithParam<std::tuple<sim::CardBackend, uint64_t>> {
 protected:
  CardFillTest() : card(std::get<1>(GetParam()), false, true, std::get<0>(GetParam())) {}
  sim::CardState state() const {
    sim::CardState s;
    EXPECT_TRUE(sim::loadCardState(card.dir(), &s));
    return s;
  }
  void expectSoundImage() const {
    if (std::get<0>(GetParam()) != sim::CardBackend::Fuse) return;
    std::string report;
    EXPECT_EQ(card.fsck(&report), 0) << report;
  }
  uint32_t freeK() const {
    uint32_t total = 0, free = 0;
    EXPECT_EQ(GetDiskSizeK("/mnt/log", &total, &free), 0);
    return free;
  }
  CardBoard card;
};

TEST_P(CardFillTest, TheProgramSeesTheRecordingsAndTheFreeSpaceAskedFor) {
  std::string error;
  ASSERT_TRUE(sim::fillRecordings(card.dir(), state(), "event", 1000, 0, kFirst, &error)) << error;
  ASSERT_TRUE(sim::fillRecordings(card.dir(), state(), "normal", 3, 5 * kMiB, kFirst, &error)) << error;
  uint64_t taken = 0;
  ASSERT_TRUE(sim::fillSpace(card.dir(), state(), 150 * kMiB, &taken, &error)) << error;
  EXPECT_GT(taken, 1000 * kMiB);
  expectSoundImage();

  card.bootModels();
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  EXPECT_EQ(GetEventFileNum2("/mnt/log/CH1/event"), 2002);
  struct dirent** names = nullptr;
  int n = plat::scandir("/mnt/log/CH1/event", &names, nullptr, alphasort);
  ASSERT_EQ(n, 2002);
  EXPECT_STREQ(names[2]->d_name, "0000000001,2025.01.01,00.00.00.vdd");
  EXPECT_STREQ(names[n - 1]->d_name, "0000001000,2025.01.01,16.39.00.vdx");
  EXPECT_EQ(IsValidFileName(names[n - 1]->d_name), 1000);
  for (int i = 0; i < n; ++i) free(names[i]);
  free(names);
  struct stat st;
  ASSERT_EQ(plat::stat("/mnt/log/CH1/normal/0000000002,2025.01.01,00.01.00.vdd", &st), 0);
  EXPECT_EQ(st.st_size, 5 * 1024 * 1024);
  EXPECT_NEAR(freeK(), 150.0 * kMiB, 1.0 * kMiB);

  // The program changes such a card as any other: the image stays sound.
  EXPECT_EQ(plat::remove("/mnt/log/CH1/event/0000000001,2025.01.01,00.00.00.vdd"), 0);
  FILE* f = plat::fopen("/mnt/log/CH1/event/0000001001,2026.01.01,00.00.00.vdd", "w");
  ASSERT_NE(f, nullptr);
  fputs("frames", f);
  fclose(f);
  EXPECT_EQ(GetEventFileNum2("/mnt/log/CH1/event"), 2002);
  ASSERT_EQ(plat::umount("/mnt/log"), 0);
  expectSoundImage();
}

TEST_P(CardFillTest, AFillTakesOnlyWhatIsFreeAndKeepsEarlierFillers) {
  std::string error;
  uint64_t first = 0, again = 0, rest = 0;
  ASSERT_TRUE(sim::fillSpace(card.dir(), state(), 300 * kMiB, &first, &error)) << error;
  ASSERT_TRUE(sim::fillSpace(card.dir(), state(), 400 * kMiB, &again, &error)) << error;
  EXPECT_EQ(again, 0u) << "less than that is free already";
  ASSERT_TRUE(sim::fillSpace(card.dir(), state(), 0, &rest, &error)) << error;
  EXPECT_NEAR(static_cast<double>(rest), 300.0 * kMiB, 1.0 * kMiB);
  expectSoundImage();
  card.bootModels();
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  EXPECT_LT(freeK(), 64u);
  EXPECT_EQ(plat::access("/mnt/log/FILL0001.DAT", F_OK), 0);
  EXPECT_EQ(plat::access("/mnt/log/config/set.ini", F_OK), 0);
  ASSERT_EQ(plat::umount("/mnt/log"), 0);
  // Recordings no longer fit.
  EXPECT_FALSE(sim::fillRecordings(card.dir(), state(), "event", 2, 10 * kMiB, kFirst, &error));
  if (std::get<0>(GetParam()) == sim::CardBackend::Fuse) {
    // Names the directory holds already are refused: a second entry of one name breaks the card.
    ASSERT_TRUE(sim::fillRecordings(card.dir(), state(), "normal", 2, 0, kFirst, &error)) << error;
    EXPECT_FALSE(sim::fillRecordings(card.dir(), state(), "normal", 3, 0, kFirst, &error));
    EXPECT_NE(error.find("0000000001,2025.01.01,00.00.00.vdd is on the card already"), std::string::npos) << error;
    expectSoundImage();
  }
}

std::vector<std::tuple<sim::CardBackend, uint64_t>> cards() {
  std::vector<std::tuple<sim::CardBackend, uint64_t>> out;
  for (sim::CardBackend b : card_test::backendsHere()) {
    out.emplace_back(b, 2000 * kMiB);  // FAT16: a fixed top directory
    out.emplace_back(b, 4000 * kMiB);  // FAT32
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(Cards, CardFillTest, ::testing::ValuesIn(cards()), [](const auto& p) {
  return std::string(card_test::backendName(std::get<0>(p.param))) + "_" +
         std::to_string(std::get<1>(p.param) / kMiB) + "MiB";
});

}  // namespace
