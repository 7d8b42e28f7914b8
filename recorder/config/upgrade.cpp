#include "config/upgrade.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

#include "config/settings.h"
#include "core/trace.h"
#include "platform/platform.h"

#define TAG "UPGRADE_"

namespace {

// The board's command buffer held 127 characters; a package whose tar command would not fit is
// refused rather than cut to a different name.
constexpr size_t kCommandLimit = 127;

// "VERSION=KVOX_1.0.2.RC3" -> "KVOX_1.0.2.RC3.bin"; empty when /version cannot be read.
void runningPackageName(char* out, size_t size) {
  out[0] = '\0';
  FILE* f = plat::fopen(FIRMWARE_VERSION_FILE, "r");
  if (f == nullptr) return;
  char word[64] = "";
  int got = fscanf(f, "%63s", word);
  fclose(f);
  if (got == 1 && strlen(word) > 8) snprintf(out, size, "%s.bin", word + 8);
  TRACE(TAG, "Current Version = %s\n", out);
}

struct ImageMember {
  const char* member;
  const char* command;
  const char* failure;
};

const ImageMember kImages[] = {
    {"Image", "dd if=/mnt/ramdisk/Image of=/dev/mtdblock2", "Failed when Update Image!"},
    {"zImage", "dd if=/mnt/ramdisk/zImage of=/dev/mtdblock2", "Failed when Update zImage!"},
    {"fs", "dd if=/mnt/ramdisk/fs of=/dev/mtdblock3", "Failed when Update RootFS!"},
    {"bldr", "dd if=/mnt/ramdisk/bldr of=/dev/mtdblock1", "Failed when Update Boot Loader!"},
};

}  // namespace

int CheckUpgradeFile(const char* directory, char* name) {
  struct stat st;
  if (plat::stat(directory, &st) != 0) {
    TRACE(TAG, "%s is not exist.. ignore\n", directory);
    return -1;
  }
  char running[80];
  runningPackageName(running, sizeof running);

  name[0] = '\0';
  DIR* dir = plat::opendir(directory);
  if (dir == nullptr) {
    TRACE(TAG, "Error opendir(%s):%s\n", directory, strerror(errno));
    TRACE(TAG, "Failed to GetLatestFileName");
    return -1;
  }
  time_t best = 0;
  while (struct dirent* entry = readdir(dir)) {
    if (strstr(entry->d_name, ".bin") == nullptr) continue;
    char path[512];
    snprintf(path, sizeof path, "%s/%s", directory, entry->d_name);
    if (plat::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (st.st_ctime <= best) continue;  // the first of equal times wins
    snprintf(name, UPGRADE_NAME_SIZE, "%s", entry->d_name);
    best = st.st_ctime;
  }
  closedir(dir);
  TRACE(TAG, "New File Name:%s\n", name);
  if (name[0] == '\0') return -1;

  TRACE(TAG, "Version %s -> %s\n", running, name);
  if (running[0] != '\0' && strcmp(running, name) == 0) {
    TRACE(TAG, "Already Upgraded");
    return -1;
  }
  return 0;
}

int SystemUpgrade(const char* directory, const char* name) {
  // The package name comes from the card: it goes to tar as one argument, never through a shell.
  char package[512];
  int len = snprintf(package, sizeof package, "%s/%s", directory, name);
  if (len < 0 || static_cast<size_t>(len) >= sizeof package ||
      strlen("tar -xvf ") + static_cast<size_t>(len) + strlen(" -C " UPGRADE_RAMDISK) > kCommandLimit) {
    TRACE(TAG, "package name too long, refused: %s\n", name);
    return -1;
  }
  const char* const tar[] = {"tar", "-xvf", package, "-C", UPGRADE_RAMDISK, nullptr};
  int status = plat::run(tar);
  if (status != 0) {
    TRACE(TAG, "Error system(tar) :%d\n", status);
    return -1;
  }
  for (const ImageMember& image : kImages) {
    char path[64];
    snprintf(path, sizeof path, "%s/%s", UPGRADE_RAMDISK, image.member);
    struct stat st;
    if (plat::stat(path, &st) != 0) continue;
    if (plat::system(image.command) != 0) {
      TRACE(TAG, "%s", image.failure);
      plat::system("umount /mnt/log");
      return -1;
    }
  }
  return 0;
}
