#include "card_image.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace vdr {

namespace fs = std::filesystem;

namespace {

bool readSector(const std::string& path, long offset, unsigned char* sector) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(offset);
  return static_cast<bool>(in.read(reinterpret_cast<char*>(sector), 512));
}

bool isFatBootSector(const unsigned char* s) {
  return s[510] == 0x55 && s[511] == 0xAA && (memcmp(s + 0x36, "FAT", 3) == 0 || memcmp(s + 0x52, "FAT", 3) == 0);
}

int runArgv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

long fatOffset(const std::string& path) {
  unsigned char s[512];
  if (!readSector(path, 0, s)) return -1;
  if (isFatBootSector(s)) return 0;
  if (s[510] != 0x55 || s[511] != 0xAA || s[0x1BE + 4] == 0) return -1;
  long lba = s[0x1BE + 8] | (s[0x1BE + 9] << 8) | (s[0x1BE + 10] << 16) | (static_cast<long>(s[0x1BE + 11]) << 24);
  unsigned char b[512];
  return readSector(path, lba * 512, b) && isFatBootSector(b) ? lba * 512 : -1;
}

bool looksLikeCardImage(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::string ext = fs::path(path).extension().string();
  return ext != ".vdd" && ext != ".vdx" && fatOffset(path) >= 0;
}

bool CardImage::extract(const std::string& image, std::string* error) {
  long offset = fatOffset(image);
  if (offset < 0) {
    *error = "no FAT file system found";
    return false;
  }
  char pattern[] = "/tmp/vdrtool-XXXXXX";
  if (!mkdtemp(pattern)) {
    *error = "no temporary directory";
    return false;
  }
  dir_ = pattern;
  setenv("MTOOLS_SKIP_CHECK", "1", 1);
  std::string source = image + (offset > 0 ? "@@" + std::to_string(offset) : "");
  // Only what is read here: the recordings and the travel logs. A card may hold big files
  // besides (a firmware package, a test's filler files) that are not worth copying.
  int rc = 0;
  bool copied = false;
  for (const char* top : {"::CH1", "::log"}) {
    rc = runArgv({"mcopy", "-s", "-n", "-m", "-i", source, top, dir_ + "/"});
    copied = copied || rc == 0;
  }
  if (!copied) {
    *error = "mcopy could not read CH1 or log on the image (exit " + std::to_string(rc) + "; is mtools installed?)";
    return false;
  }
  return true;
}

CardImage::~CardImage() {
  if (dir_.empty()) return;
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

}  // namespace vdr
