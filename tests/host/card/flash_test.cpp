// The board's firmware commands: the RAM disk, tar with board paths, dd into the flash
// partitions, and a flashed root file system's version becoming the running one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "board/flash/flash_model.h"
#include "board/host_tools.h"
#include "card_fixture.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

class FlashTest : public ::testing::Test {
 protected:
  void SetUp() override { card.bootModels(); }

  void archive(const std::string& boardPath, const std::vector<std::pair<std::string, std::string>>& members) {
    ASSERT_TRUE(card_test::makeTar(card.board().host(boardPath), members));
  }
  int run(const std::string& line) { return WEXITSTATUS(plat::system(line.c_str())); }
  std::string flash(const char* part, size_t n) {
    std::ifstream in(sim::flashPath(card.dir(), part), std::ios::binary);
    std::string data(n, '\0');
    in.read(data.data(), static_cast<std::streamsize>(n));
    return data;
  }

  card_test::CardBoard card{2000 * 1024, false, true, sim::CardBackend::Directory};
};

TEST_F(FlashTest, TheRamDiskIsEmptyAtEachMountAndGoneAfterIt) {
  ASSERT_EQ(run("mount -t ramfs -o size=5m ramfs /mnt/ramdisk"), 0);
  card.board().writeFile("/mnt/ramdisk/Image", "kernel");
  EXPECT_TRUE(fs::exists(card.dir() + "/ramdisk/Image"));
  EXPECT_EQ(run("mount -t ramfs -o size=5m ramfs /mnt/ramdisk"), 1);  // already mounted
  ASSERT_EQ(run("umount /mnt/ramdisk"), 0);
  EXPECT_FALSE(card.board().exists("/mnt/ramdisk/Image"));
  EXPECT_EQ(run("umount /mnt/ramdisk"), 1);
}

TEST_F(FlashTest, TarUnpacksAPackageWhoseNameAShellWouldRead) {
  const std::string name = "/mnt/log/program/a;reboot;'x' \"y\".bin";
  ASSERT_EQ(plat::mount("/dev/sda", "/mnt/log", "vfat", 0, nullptr), 0);
  archive(name, {{"fs", "root file system"}});
  ASSERT_EQ(run("mount -t ramfs -o size=5m ramfs /mnt/ramdisk"), 0);
  const char* const argv[] = {"tar", "-xvf", name.c_str(), "-C", "/mnt/ramdisk", nullptr};
  EXPECT_EQ(plat::run(argv), 0);
  EXPECT_EQ(card.board().readFile("/mnt/ramdisk/fs"), "root file system");
  EXPECT_EQ(sim::rebootCount(), 0);

  const char* const missing[] = {"tar", "-xvf", "/mnt/log/program/none.bin", "-C", "/mnt/ramdisk", nullptr};
  EXPECT_NE(plat::run(missing), 0);
  plat::umount("/mnt/ramdisk");
  plat::umount("/mnt/log");
}

TEST_F(FlashTest, DdWritesAPartitionAndFailsPastItsEnd) {
  card.board().writeFile("/tmp/bldr", "boot loader");
  EXPECT_EQ(run("dd if=/tmp/bldr of=/dev/mtdblock1"), 0);
  EXPECT_EQ(flash("mtdblock1", 11), "boot loader");
  EXPECT_EQ(fs::file_size(sim::flashPath(card.dir(), "mtdblock1")), 512u * 1024);

  card.board().writeFile("/tmp/big", std::string(512 * 1024 + 1, 'b'));
  EXPECT_EQ(run("dd if=/tmp/big of=/dev/mtdblock1"), 1);  // one byte too many
  EXPECT_EQ(fs::file_size(sim::flashPath(card.dir(), "mtdblock1")), 512u * 1024);

  EXPECT_EQ(run("dd if=/tmp/bldr of=/dev/mtdblock9"), 1);
  EXPECT_EQ(run("dd if=/tmp/none of=/dev/mtdblock1"), 1);
}

TEST_F(FlashTest, AFlashedRootFileSystemBringsItsVersionAtTheNextBoot) {
  EXPECT_EQ(card.board().readFile("/version"), std::string(sim::kDefaultFirmwareVersion) + "\n");
  archive("/tmp/rootfs.tar", {{"version", "VERSION=KVOX_2.0.0.RC1\n"}, {"etc", "x"}});
  ASSERT_EQ(run("dd if=/tmp/rootfs.tar of=/dev/mtdblock3"), 0);
  EXPECT_EQ(card.board().readFile("/version"), std::string(sim::kDefaultFirmwareVersion) + "\n");
  sim::resetBoard();
  card.bootModels();
  EXPECT_EQ(card.board().readFile("/version"), "VERSION=KVOX_2.0.0.RC1\n");

  // An image without a version file leaves the running version alone.
  archive("/tmp/other.tar", {{"etc", "y"}});
  ASSERT_EQ(run("dd if=/tmp/other.tar of=/dev/mtdblock3"), 0);
  sim::resetBoard();
  card.bootModels();
  EXPECT_EQ(card.board().readFile("/version"), "VERSION=KVOX_2.0.0.RC1\n");
}

}  // namespace
