// Names on the card: the recording directory's entries (the next sequence number at open, the
// overwrite's removal of the oldest pair and its partner) and the packages in the program
// directory. The input is a list of names separated by '/', the one byte a name cannot hold.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/upgrade.h"
#include "fuzz_board.h"
#include "record/disk_mgr.h"
#include "record/video_format.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxNames = 12;
constexpr size_t kNameMax = 255;
constexpr const char* kChannelDir = "/mnt/log/ch1/event";
constexpr const char* kProgramDir = "/mnt/log/program";

std::vector<std::string> splitNames(const uint8_t* data, size_t size) {
  std::vector<std::string> names;
  std::string current;
  auto finish = [&] {
    if (!current.empty() && current != "." && current != ".." && current.size() <= kNameMax &&
        current.find('\0') == std::string::npos && names.size() < kMaxNames) {
      names.push_back(current);
    }
    current.clear();
  };
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '/') {
      finish();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  finish();
  return names;
}

void fillDirectory(const std::string& hostDir, const std::vector<std::string>& names) {
  std::error_code ec;
  fs::remove_all(hostDir, ec);
  fs::create_directories(hostDir);
  for (const std::string& name : names) {
    if (FILE* f = fopen((hostDir + "/" + name).c_str(), "wb")) fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Each name alone, also with bytes a file system would refuse.
  std::string whole(reinterpret_cast<const char*>(data), size);
  IsValidFileName(whole.c_str());
  std::vector<std::string> names = splitNames(data, size);
  for (const std::string& name : names) {
    vr::RecordingName parsed;
    int fields = 0;
    int seq = vr::checkRecordingName(name.c_str(), &parsed, &fields);
    if (seq > 0 && (parsed.month < 1 || parsed.month > 12 || strlen(parsed.extension) >= sizeof parsed.extension)) {
      __builtin_trap();
    }
  }

  // The channel directory as the store finds it at open, then as the overwrite thins it.
  std::string channel = fuzz_board::hostPath(kChannelDir);
  fillDirectory(channel, names);
  const uint32_t kinds[1] = {0x00020121};
  if (DISK_MGR* mgr = dskOpen("/mnt/log", 1, kinds, 1)) {
    if (mgr->pVideoStream[0].nextSeq < 1) __builtin_trap();
    dskClose(mgr);
  }
  int before = GetEventFileNum2(kChannelDir);
  dskRemoveOldFile2(kChannelDir);
  int after = GetEventFileNum2(kChannelDir);
  if (after > before || after < before - 2) __builtin_trap();  // one pair at most goes

  // The same names as firmware packages.
  fillDirectory(fuzz_board::hostPath(kProgramDir), names);
  char package[UPGRADE_NAME_SIZE];
  if (CheckUpgradeFile(kProgramDir, package) == 0 && strlen(package) >= UPGRADE_NAME_SIZE) __builtin_trap();
  return 0;
}
