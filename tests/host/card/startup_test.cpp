// The program's start-up against the simulated card: the format with the reset button held, the
// size limit, and a card that fails the check. The button and the timer are small fakes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "board/flash/flash_model.h"

#include "card_fixture.h"
#include "config/settings.h"
#include "core/main.h"
#include "core/sd_card.h"
#include "device/buzzer_led.h"
#include "platform/platform.h"
#include "support/test_board.h"
#include "support/host_files.h"

using card_test::CardBoard;
using testing_board::ConsoleCapture;

namespace {

const char kDefaultSetDat[] =
    "[SET]\nPOSTFIELD1=4\nPOSTRECINT1=10\nPOSTSIZE1=64\nRECMOD=2\nTRGSET=3\nACCSEN=9\nACCSENX=4\nACCSENY=4\n"
    "ACCSENZ=4\nRECINGMODE1=2\nPRERECTIME1=15\nPOSTRECTIME1=5\nPRERECINT1=10\nPRESIZE1=64\nPREFIELD1=4\n"
    "BEEPRECORD=1\n";

class StartupTest : public ::testing::TestWithParam<sim::CardBackend> {
 protected:
  void TearDown() override {
    umount_sd();
    BuzzerLedClose();
  }
};

TEST_P(StartupTest, ResetHeldFormatsABlankCardWithTheTreeAndTheSettings) {
  CardBoard card(2000 * 1024, false, false, GetParam());
  card.bootModels();
  card.addButtons(true);
  ConsoleCapture console;
  ASSERT_EQ(InitRecorder(), 0) << console.text();
  EXPECT_NE(console.text().find("Format Start : FAT16, cluster size [32KB]"), std::string::npos);
  EXPECT_NE(console.text().find("@@ END FORMAT SD"), std::string::npos);
  EXPECT_FALSE(card_test::showsSdFailure(card.timer()->requests()));
  sim::FatInfo fat = sim::readFatInfo(card.image());
  EXPECT_EQ(fat.fatBits, 16);
  EXPECT_EQ(fat.label, "ZIDADORI1");
  EXPECT_EQ(CheckSDValidity(), 0);
  EXPECT_EQ(card.board().readFile("/mnt/log/config/set.dat"), kDefaultSetDat);
  ASSERT_EQ(umount_sd(), 0);
  if (GetParam() == sim::CardBackend::Fuse) {
    std::string report;
    EXPECT_EQ(card.fsck(&report), 0) << report;
  }
}

TEST_P(StartupTest, TheOldCardsSettingsSurviveTheFormat) {
  CardBoard card(4000 * 1024, true, true, GetParam());
  card.bootModels();
  card.addButtons(true);
  ASSERT_EQ(mount_sd(), 0);
  card.board().writeFile("/mnt/log/config/set.ini", "[SET]\nRECMOD=1\nTRGSET=1\n");
  card.board().writeFile("/mnt/log/CH1/event/old.vdd", "old recording");
  ASSERT_EQ(umount_sd(), 0);
  ConsoleCapture console;
  ASSERT_EQ(InitRecorder(), 0) << console.text();
  EXPECT_NE(console.text().find("/usr/bin/mkdosfs -F 32 -s 64 -n ZIDADORI1 /dev/sda1"), std::string::npos);
  EXPECT_EQ(sim::readFatInfo(card.image()).fatBits, 32);
  EXPECT_FALSE(card.board().exists("/mnt/log/CH1/event/old.vdd"));
  std::string setDat = card.board().readFile("/mnt/log/config/set.dat");
  EXPECT_NE(setDat.find("RECMOD=1\nTRGSET=1\n"), std::string::npos) << setDat;
}

TEST_P(StartupTest, TheSizeLimitIsOneMillionSixHundredThousandKiB) {
  {
    CardBoard card(1600000, false, true, GetParam());
    card.bootModels();
    card.addButtons(false);
    ConsoleCapture console;
    EXPECT_EQ(InitRecorder(), -1);
    EXPECT_NE(console.text().find("ERROR : SD Size is under 2GB : 1600000"), std::string::npos);
    EXPECT_TRUE(card_test::showsSdFailure(card.timer()->requests()));
    BuzzerLedClose();
  }
  CardBoard card(1600001, false, true, GetParam());
  card.bootModels();
  card.addButtons(false);
  ConsoleCapture console;
  EXPECT_EQ(InitRecorder(), 0) << console.text();
  EXPECT_FALSE(card_test::showsSdFailure(card.timer()->requests()));
}

TEST_P(StartupTest, ACardWithoutTheTreeIsRefusedAndNotRepaired) {
  CardBoard card(2000 * 1024, false, true, GetParam());
  card.bootModels();
  card.addButtons(false);
  ASSERT_EQ(mount_sd(), 0);
  std::filesystem::remove(card.board().host("/mnt/log/CH1/normal"));
  ASSERT_EQ(umount_sd(), 0);
  ConsoleCapture console;
  EXPECT_EQ(InitRecorder(), -1);
  EXPECT_NE(console.text().find("Error : SD format is invalid"), std::string::npos);
  EXPECT_TRUE(card_test::showsSdFailure(card.timer()->requests()));
  ASSERT_EQ(mount_sd(), 0);  // left unmounted, and as it was
  EXPECT_EQ(CheckDirectoryExist("/mnt/log/CH1/normal"), -1);
}

TEST_P(StartupTest, ABlankCardWithoutTheButtonCannotBeMounted) {
  CardBoard card(2000 * 1024, false, false, GetParam());
  card.bootModels();
  card.addButtons(false);
  ConsoleCapture console;
  EXPECT_EQ(InitRecorder(), -11);
  EXPECT_NE(console.text().find("failed to mount_sd()"), std::string::npos);
  EXPECT_TRUE(card_test::showsSdFailure(card.timer()->requests()));
}

TEST_P(StartupTest, APackageIsFlashedOnceAndTheNextBootIsAlreadyUpgraded) {
  CardBoard card(2000 * 1024, false, true, GetParam());
  card.bootModels();
  card.addButtons(false);
  std::string rootfs = card.dir() + "/rootfs.tar";
  ASSERT_TRUE(card_test::makeTar(rootfs, {{"version", "VERSION=KVOX_2.0.0.RC1\n"}}));
  std::string fsImage = testing_board::hostFileText(rootfs);
  ASSERT_EQ(mount_sd(), 0);
  ASSERT_TRUE(card_test::makeTar(card.board().host("/mnt/log/program/KVOX_2.0.0.RC1.bin"),
                                 {{"fs", fsImage}, {"Image", "kernel"}}));
  ASSERT_EQ(umount_sd(), 0);
  {
    ConsoleCapture console;
    ASSERT_EQ(InitRecorder(), 0) << console.text();
    EXPECT_EQ(sim::rebootCount(), 1);
    EXPECT_FALSE(sim::isMounted("/mnt/log"));
    EXPECT_FALSE(sim::isMounted("/mnt/ramdisk"));
  }
  std::ifstream kernel(sim::flashPath(card.dir(), "mtdblock2"), std::ios::binary);
  char head[6] = {};
  kernel.read(head, 6);
  EXPECT_EQ(std::string(head, 6), "kernel");

  // The next boot runs the new root file system: nothing is flashed again.
  BuzzerLedClose();
  sim::resetBoard();
  card.bootModels();
  card.addButtons(false);
  EXPECT_EQ(card.board().readFile("/version"), "VERSION=KVOX_2.0.0.RC1\n");
  ConsoleCapture console;
  ASSERT_EQ(InitRecorder(), 0) << console.text();
  EXPECT_NE(console.text().find("Already Upgraded"), std::string::npos);
  EXPECT_EQ(sim::rebootCount(), 0);
  EXPECT_EQ(console.text().find("records out"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, StartupTest, ::testing::ValuesIn(card_test::backendsHere()),
                         [](const auto& p) { return std::string(card_test::backendName(p.param)); });

}  // namespace
