#include "board/card/card_store.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "board/host_tools.h"

namespace sim {

const char* const kCardTree[5] = {"CH1", "CH1/event", "CH1/normal", "config", "log"};

namespace {

namespace fs = std::filesystem;

class DirectoryStore : public CardStore {
 public:
  explicit DirectoryStore(std::string top) : top_(std::move(top)) {}
  bool makeDir(const std::string& path, std::string* error) override {
    std::error_code ec;
    fs::create_directories(top_ + "/" + path, ec);
    if (ec && error) *error = ec.message();
    return !ec;
  }
  bool writeFile(const std::string& path, const std::string& content, std::string* error) override {
    std::ofstream out(top_ + "/" + path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out && error) *error = "cannot write " + path;
    return static_cast<bool>(out);
  }
  bool readFile(const std::string& path, std::string* content) override {
    std::ifstream in(top_ + "/" + path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    *content = s.str();
    return true;
  }
  bool list(std::vector<CardEntry>* entries, std::string* error) override { return listTree(top_, entries, error); }

  static bool listTree(const std::string& top, std::vector<CardEntry>* entries, std::string* error) {
    std::error_code ec;
    std::vector<CardEntry> found;
    for (auto it = fs::recursive_directory_iterator(top, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      CardEntry e;
      e.path = fs::relative(it->path(), top, ec).generic_string();
      e.directory = it->is_directory(ec);
      e.size = e.directory ? 0 : it->file_size(ec);
      found.push_back(e);
    }
    if (ec) {
      if (error) *error = ec.message();
      return false;
    }
    std::sort(found.begin(), found.end(), [](const CardEntry& a, const CardEntry& b) { return a.path < b.path; });
    *entries = std::move(found);
    return true;
  }

 private:
  std::string top_;
};

// The image is mounted through fusefat for as long as the store is open. fusefat gives every
// name a long entry, so names keep their case as the board's kernel shows them (mtools would
// store "event" as a bare short name, which fusefat lists as "EVENT").
class ImageStore : public CardStore {
 public:
  ImageStore(std::string boardDir, std::string image)
      : boardDir_(std::move(boardDir)), image_(std::move(image)), view_(boardDir_ + "/card.view"), files_(view_) {
    mountResult_ = fuseMount(image_, view_, cardLogPath(boardDir_), &pid_);
  }
  ~ImageStore() override {
    if (mountResult_ == 0) fuseUnmount(view_, pid_, true);
    std::error_code ec;
    fs::remove(view_, ec);
  }
  ImageStore(const ImageStore&) = delete;
  ImageStore& operator=(const ImageStore&) = delete;

  bool makeDir(const std::string& path, std::string* error) override {
    return mounted(error) && files_.makeDir(path, error);
  }
  bool writeFile(const std::string& path, const std::string& content, std::string* error) override {
    if (!mounted(error)) return false;
    // fusefat frees the clusters of a file it truncates but then writes into them without
    // taking them back, leaving them free for the next file: replace the file instead.
    std::error_code ec;
    fs::remove(view_ + "/" + path, ec);
    return files_.writeFile(path, content, error);
  }
  bool readFile(const std::string& path, std::string* content) override {
    return mountResult_ == 0 && files_.readFile(path, content);
  }
  bool list(std::vector<CardEntry>* entries, std::string* error) override {
    if (!mounted(error) || !files_.list(entries, error)) return false;
    // fusefat shows the volume label as a file in the top directory.
    std::string label = readFatInfo(image_).label;
    std::string shown = label.size() > 8 ? label.substr(0, 8) + "." + label.substr(8) : label;
    std::erase_if(*entries, [&](const CardEntry& e) {
      return !e.directory && e.size == 0 && !label.empty() && strcasecmp(e.path.c_str(), shown.c_str()) == 0;
    });
    return true;
  }

 private:
  bool mounted(std::string* error) const {
    if (mountResult_ != 0 && error) *error = "fusefat could not mount " + image_ + ": " + strerror(-mountResult_);
    return mountResult_ == 0;
  }

  std::string boardDir_;
  std::string image_;
  std::string view_;
  DirectoryStore files_;
  int pid_ = -1;
  int mountResult_ = -1;
};

}  // namespace

std::unique_ptr<CardStore> openCardStore(const std::string& boardDir, const CardState& state) {
  if (state.backend == CardBackend::Directory) return std::make_unique<DirectoryStore>(cardDirPath(boardDir));
  return std::make_unique<ImageStore>(boardDir, cardImagePath(boardDir));
}

std::string defaultSettingsText() {
  // The unit's defaults, one key a line in the order of the settings record.
  return "[SET]\n"
         "RECINGMODE1=2\n"
         "PRERECTIME1=15\n"
         "POSTRECTIME1=5\n"
         "PRERECINT1=10\n"
         "POSTRECINT1=10\n"
         "PRESIZE1=64\n"
         "POSTSIZE1=64\n"
         "PREFIELD1=4\n"
         "POSTFIELD1=4\n"
         "BEEPRECORD=1\n"
         "ACCSEN=9\n"
         "ACCSENX=4\n"
         "ACCSENY=4\n"
         "ACCSENZ=4\n"
         "TRGSET=3\n"
         "RECMOD=2\n";
}

std::string applySettings(const std::string& text, const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  auto isSection = [](const std::string& l) { return !l.empty() && l[0] == '['; };
  auto base = [](std::string l) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    return l;
  };
  for (const auto& [key, value] : values) {
    size_t start = 0;
    bool found = false;
    for (size_t i = 0; i < lines.size() && !found; ++i) {
      if (base(lines[i]) == "[SET]") {
        start = i + 1;
        found = true;
      }
    }
    if (!found) {
      lines.push_back("[SET]");
      start = lines.size();
    }
    size_t end = start;
    while (end < lines.size() && !isSection(lines[end])) ++end;
    bool replaced = false;
    for (size_t i = start; i < end; ++i) {
      if (lines[i].rfind(key + "=", 0) == 0) {
        lines[i] = key + "=" + value;
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      // After the section's last line that is not blank.
      size_t at = end;
      while (at > start && base(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), key + "=" + value);
    }
  }
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

bool prepareCardAsUnit(const std::string& boardDir, const CardState& state, std::string* error) {
  std::string output;
  if (formatImageAsUnit(cardImagePath(boardDir), state.imageSizeK(), &output) != 0) {
    if (error) *error = "mkfs.vfat failed: " + output;
    return false;
  }
  if (state.backend == CardBackend::Directory) {
    std::error_code ec;
    fs::remove_all(cardDirPath(boardDir), ec);
    fs::create_directories(cardDirPath(boardDir), ec);
  }
  std::unique_ptr<CardStore> store = openCardStore(boardDir, state);
  for (const char* dir : kCardTree) {
    if (!store->makeDir(dir, error)) return false;
  }
  return store->writeFile("config/set.ini", defaultSettingsText(), error);
}

}  // namespace sim
