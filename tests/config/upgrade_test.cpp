// Choosing the firmware package on the card and flashing it, with the board's tar and dd
// replaced by fakes that record what they were asked.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "config/upgrade.h"
#include "platform/sim/board.h"
#include "support/test_board.h"

using testing_board::ConsoleCapture;
using testing_board::TestBoard;

namespace {

const char kProgram[] = "/mnt/log/program";

class UpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::addCommand("tar", [this](const std::vector<std::string>& argv) {
      tarCalls.push_back(argv);
      for (const std::string& m : packageMembers) board.writeFile(std::string("/mnt/ramdisk/") + m, m);
      return tarStatus;
    });
    sim::addCommand("dd", [this](const std::vector<std::string>& argv) {
      std::string line;
      for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
      ddCalls.push_back(line);
      return line.find(failingMember) != std::string::npos && !failingMember.empty() ? 1 : 0;
    });
    sim::addCommand("umount", [this](const std::vector<std::string>& argv) {
      umounts.push_back(argv.size() > 1 ? argv[1] : "");
      return 0;
    });
  }

  void package(const std::string& name) { board.writeFile(std::string(kProgram) + "/" + name, "archive"); }

  // Waits for the next second of the PC's clock and touches the file, so its status-change time
  // is later than every file touched before.
  void touchLater(const std::string& name) {
    auto second = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    while (std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()) == second) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // File times come from the kernel's coarse clock, a tick behind the precise one.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    chmod(board.host(std::string(kProgram) + "/" + name).c_str(), 0600);
  }

  std::string chosen() {
    char name[UPGRADE_NAME_SIZE] = "stale";
    int result = CheckUpgradeFile(kProgram, name);
    return result == 0 ? name : "(none)";
  }

  TestBoard board;
  std::vector<std::vector<std::string>> tarCalls;
  std::vector<std::string> ddCalls;
  std::vector<std::string> umounts;
  std::vector<std::string> packageMembers;
  std::string failingMember;
  int tarStatus = 0;
};

TEST_F(UpgradeTest, NoProgramDirectoryMeansNothingToDo) {
  ConsoleCapture console;
  EXPECT_EQ(chosen(), "(none)");
  EXPECT_NE(console.text().find("/mnt/log/program is not exist.. ignore"), std::string::npos);
  EXPECT_EQ(console.text().find("New File Name"), std::string::npos);
}

TEST_F(UpgradeTest, AnyRegularFileWithDotBinIsACandidateAndTheLatestStatusChangeWins) {
  package("a.bin");
  package("b.bin.old");
  package("notes.txt");
  board.mkdirs(std::string(kProgram) + "/dir.bin");
  touchLater("b.bin.old");
  EXPECT_EQ(chosen(), "b.bin.old");
  touchLater("a.bin");
  EXPECT_EQ(chosen(), "a.bin");

  board.mkdirs("/mnt/log/empty");
  board.writeFile("/mnt/log/empty/readme.txt", "");
  char name[UPGRADE_NAME_SIZE] = "stale";
  EXPECT_EQ(CheckUpgradeFile("/mnt/log/empty", name), -1);
  EXPECT_STREQ(name, "");  // cleared, nothing found
}

TEST_F(UpgradeTest, TheRunningPackageIsAlreadyUpgraded) {
  board.writeFile("/version", "VERSION=KVOX_1.0.2.RC3 built today\n");
  package("KVOX_1.0.2.RC3.bin");
  ConsoleCapture console;
  EXPECT_EQ(chosen(), "(none)");
  EXPECT_NE(console.text().find("Current Version = KVOX_1.0.2.RC3.bin"), std::string::npos);
  EXPECT_NE(console.text().find("Already Upgraded"), std::string::npos);

  // Any other name is installed, an older one too; the comparison is case-sensitive.
  package("kvox_1.0.2.rc3.bin");
  touchLater("kvox_1.0.2.rc3.bin");
  EXPECT_EQ(chosen(), "kvox_1.0.2.rc3.bin");
}

TEST_F(UpgradeTest, WithoutAVersionFileEveryPackageIsNew) {
  package("KVOX_1.0.2.RC3.bin");
  EXPECT_EQ(chosen(), "KVOX_1.0.2.RC3.bin");
}

TEST_F(UpgradeTest, OnlyTheImagesInThePackageAreWrittenInTheirOrder) {
  packageMembers = {"fs"};
  EXPECT_EQ(SystemUpgrade(kProgram, "p.bin"), 0);
  EXPECT_EQ(ddCalls, (std::vector<std::string>{"dd if=/mnt/ramdisk/fs of=/dev/mtdblock3"}));

  ddCalls.clear();
  packageMembers = {"bldr", "zImage", "fs", "Image"};
  EXPECT_EQ(SystemUpgrade(kProgram, "p.bin"), 0);
  EXPECT_EQ(ddCalls, (std::vector<std::string>{"dd if=/mnt/ramdisk/Image of=/dev/mtdblock2",
                                                "dd if=/mnt/ramdisk/zImage of=/dev/mtdblock2",
                                                "dd if=/mnt/ramdisk/fs of=/dev/mtdblock3",
                                                "dd if=/mnt/ramdisk/bldr of=/dev/mtdblock1"}));
}

TEST_F(UpgradeTest, AFailingWriteStopsTheUpgradeAndUnmountsTheCard) {
  packageMembers = {"Image", "fs", "bldr"};
  failingMember = "fs";
  ConsoleCapture console;
  EXPECT_EQ(SystemUpgrade(kProgram, "p.bin"), -1);
  EXPECT_EQ(ddCalls.size(), 2u);  // Image written, fs failed, bldr never tried
  EXPECT_NE(console.text().find("Failed when Update RootFS!"), std::string::npos);
  EXPECT_EQ(umounts, (std::vector<std::string>{"/mnt/log"}));
}

TEST_F(UpgradeTest, APackageTarCannotReadWritesNothing) {
  packageMembers = {"Image"};
  tarStatus = 2;
  ConsoleCapture console;
  EXPECT_EQ(SystemUpgrade(kProgram, "p.bin"), -1);
  EXPECT_TRUE(ddCalls.empty());
  EXPECT_NE(console.text().find("Error system(tar) :512"), std::string::npos);
}

TEST_F(UpgradeTest, HostileNamesReachTarAsOneArgumentAndNothingElseRuns) {
  const std::string names[] = {"a;reboot;.bin", "it's \"quoted\".bin", "two words.bin", "$(reboot).bin",
                               "`reboot`.bin", "x.bin && reboot", "-rf.bin"};
  for (const std::string& name : names) {
    std::filesystem::remove_all(board.host(kProgram));
    package(name);
    tarCalls.clear();
    ASSERT_EQ(chosen(), name);
    EXPECT_EQ(SystemUpgrade(kProgram, name.c_str()), 0) << name;
    ASSERT_EQ(tarCalls.size(), 1u) << name;
    EXPECT_EQ(tarCalls[0], (std::vector<std::string>{"tar", "-xvf", std::string(kProgram) + "/" + name, "-C",
                                                     "/mnt/ramdisk"}));
  }
  EXPECT_EQ(sim::rebootCount(), 0);
}

TEST_F(UpgradeTest, ANameTooLongForTheCommandBufferIsRefusedNotCut) {
  // "tar -xvf /mnt/log/program/" + name + " -C /mnt/ramdisk" must fit in 127 characters.
  std::string longest = std::string(81, 'n') + ".bin";  // 85 characters: exactly 127
  EXPECT_EQ(SystemUpgrade(kProgram, longest.c_str()), 0);
  ASSERT_EQ(tarCalls.size(), 1u);
  EXPECT_EQ(tarCalls[0][2], std::string(kProgram) + "/" + longest);

  ConsoleCapture console;
  std::string tooLong = "n" + longest;
  EXPECT_EQ(SystemUpgrade(kProgram, tooLong.c_str()), -1);
  EXPECT_EQ(tarCalls.size(), 1u);  // tar never ran
  EXPECT_NE(console.text().find("too long"), std::string::npos);
}

}  // namespace
