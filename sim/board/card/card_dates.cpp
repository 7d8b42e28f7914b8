#include "board/card/card_dates.h"

#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "board/card/card_image.h"
#include "board/card/fat_image.h"

namespace sim {
namespace {

constexpr int64_t kNsPerSecond = 1000000000;

struct Dates {
  int64_t created = -1;  // ns; -1 when the file was made before the notes began
  int64_t written = -1;
};

// The latest dates of each path, in the order the lines came: a file made again starts afresh.
std::map<std::string, Dates> readNotes(const std::string& file) {
  std::map<std::string, Dates> dates;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    char kind = 0;
    long long ns = 0;
    std::string path;
    if (!(words >> kind >> ns) || !std::getline(words >> std::ws, path) || path.empty()) continue;
    Dates& d = dates[path];
    if (kind == 'C') d = Dates{ns, ns};
    else if (kind == 'W') d.written = ns;
  }
  return dates;
}

int64_t secondsOf(int64_t ns) { return ns >= 0 ? ns / kNsPerSecond : -1; }

}  // namespace

std::string cardDatesPath(const std::string& boardDir) { return boardDir + "/card.dates"; }

CardDateLog::~CardDateLog() { close(); }

bool CardDateLog::open(const std::string& boardDir) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0) fd_ = ::open(cardDatesPath(boardDir).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  return fd_ >= 0;
}

void CardDateLog::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void CardDateLog::note(const std::string& path, bool created, int64_t boardNs) {
  if (path.empty() || path.find('\n') != std::string::npos) return;
  std::string line = std::string(created ? "C " : "W ") + std::to_string(boardNs) + " " + path + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) (void)!::write(fd_, line.data(), line.size());  // one write: lines never interleave
}

std::string applyCardDates(const std::string& boardDir) {
  std::string file = cardDatesPath(boardDir);
  if (::access(file.c_str(), F_OK) != 0) return "";
  std::map<std::string, Dates> dates = readNotes(file);
  CardState state;
  std::string problem;
  if (!dates.empty() && loadCardState(boardDir, &state)) {
    if (state.backend == CardBackend::Fuse) {
      FatImage image;
      std::string error;
      if (!image.open(cardImagePath(boardDir), &error)) {
        problem = error;
      } else {
        for (const auto& [path, d] : dates) {
          if (d.written < 0) continue;
          // A file removed since is no error; the walk goes on.
          (void)image.setDates(path, secondsOf(d.created), secondsOf(d.written), &error);
        }
      }
    } else {
      for (const auto& [path, d] : dates) {
        if (d.written < 0) continue;
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(d.written / kNsPerSecond);
        times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(d.written % kNsPerSecond);
        (void)::utimensat(AT_FDCWD, (cardDirPath(boardDir) + "/" + path).c_str(), times, AT_SYMLINK_NOFOLLOW);
      }
    }
  }
  ::unlink(file.c_str());
  return problem;
}

}  // namespace sim
