#include "board/card/fat_image.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <set>
#include <unistd.h>

#include "board/card/card_image.h"

namespace sim {
namespace {

constexpr size_t kEntry = 32;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;
constexpr uint8_t kAttrLongName = 0x0f;
constexpr uint8_t kAttrVolume = 0x08;
constexpr uint8_t kDeleted = 0xe5;
constexpr size_t kLongNameChars = 13;
// A listing stops rather than run away on a damaged image.
constexpr size_t kListLimit = 1000000;

uint32_t get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

uint8_t shortNameChecksum(const uint8_t* name83) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name83[i]);
  return sum;
}

// A FAT date and time (local time, 2-second steps) and the creation time's 10 ms remainder;
// times outside the years FAT can hold are clamped to its first or last day.
struct FatStamp {
  uint16_t date = 0, time = 0;
  uint8_t hundredths = 0;
};

FatStamp fatStamp(int64_t second, bool local, int milliseconds = 0) {
  time_t t = static_cast<time_t>(second);
  struct tm tm;
  if (local) localtime_r(&t, &tm);
  else gmtime_r(&t, &tm);
  FatStamp s;
  int year = tm.tm_year + 1900;
  if (year < 1980) {
    s.date = (1 << 5) | 1;  // 1980-01-01 00:00:00
    return s;
  }
  if (year > 2107) {
    s.date = static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
    s.time = static_cast<uint16_t>((23 << 11) | (59 << 5) | 29);
    return s;
  }
  s.date = static_cast<uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  s.time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  s.hundredths = static_cast<uint8_t>((tm.tm_sec % 2) * 100 + milliseconds / 10);
  return s;
}

}  // namespace

// A FAT16 or FAT32 image whose allocation table and directories are changed in place, as a
// formatter or a disk editor would: new files get their clusters and entries, their data stays
// unwritten (a sparse image stays sparse).
class FatImage::Impl {
 public:
  bool open(const std::string& path, std::string* error) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return fail(error, "cannot open " + path + ": " + strerror(errno));
    uint8_t b[512];
    if (::pread(fd_, b, sizeof b, 0) != static_cast<ssize_t>(sizeof b) || b[510] != 0x55 || b[511] != 0xaa) {
      return fail(error, path + " is not formatted");
    }
    info_ = readFatInfo(path);
    if (!info_.formatted || info_.fatBits == 12) return fail(error, path + ": not a FAT16 or FAT32 card");
    uint32_t bytesPerSector = get16(b + 11);
    uint32_t reserved = get16(b + 14), rootEntries = get16(b + 17);
    uint32_t fatSectors = get16(b + 22) ? get16(b + 22) : get32(b + 36);
    fats_ = b[16];
    fatOffset_ = static_cast<uint64_t>(reserved) * bytesPerSector;
    fatBytes_ = static_cast<uint64_t>(fatSectors) * bytesPerSector;
    rootOffset_ = fatOffset_ + fats_ * fatBytes_;
    rootBytes_ = rootEntries * kEntry;
    uint64_t rootSectors = (rootBytes_ + bytesPerSector - 1) / bytesPerSector;
    dataOffset_ = rootOffset_ + rootSectors * bytesPerSector;
    if (info_.fatBits == 32) {
      rootCluster_ = get32(b + 44);
      fsInfoOffset_ = static_cast<uint64_t>(get16(b + 48)) * bytesPerSector;
    }
    fat_.resize(fatBytes_);
    if (::pread(fd_, fat_.data(), fat_.size(), static_cast<off_t>(fatOffset_)) != static_cast<ssize_t>(fat_.size())) {
      return fail(error, "cannot read the allocation table");
    }
    return true;
  }
  ~Impl() {
    if (fd_ >= 0) ::close(fd_);
  }

  uint64_t clusterBytes() const { return info_.clusterBytes; }
  uint64_t freeClusters() const {
    uint64_t n = 0;
    for (uint32_t c = 2; c < info_.clusters + 2; ++c) n += entry(c) == 0;
    return n;
  }

  // The directory at a "/"-separated path from the top ("" is the top), names compared
  // without case, long names first.
  bool openDir(const std::string& path, std::string* error) {
    loadDir(info_.fatBits == 32 ? rootCluster_ : 0);
    size_t at = 0;
    while (at < path.size()) {
      size_t slash = path.find('/', at);
      std::string part = path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
      at = slash == std::string::npos ? path.size() : slash + 1;
      if (part.empty()) continue;
      uint32_t cluster = 0;
      if (!findSubdirectory(part, &cluster)) return fail(error, "no directory " + path + " on the card");
      loadDir(cluster);
    }
    return true;
  }

  // Whether the open directory holds a file or directory of that name (long or short).
  bool has(const std::string& name) const {
    bool found = false;
    forEachEntry([&](const uint8_t* e, const std::string& longName) {
      if (lower(longName) == lower(name) || lower(shortText(e)) == lower(name)) found = true;
    });
    return found;
  }

  // Adds files to the open directory. Their clusters are taken from the end of the card (where
  // a recording reaches last).
  bool addFiles(const std::vector<FatNewFile>& files, std::string* error) {
    std::set<std::string> shortNames = dirShortNames();
    std::set<std::string> names;
    forEachEntry([&](const uint8_t* e, const std::string& longName) {
      names.insert(lower(longName.empty() ? shortText(e) : longName));
    });
    for (const FatNewFile& f : files) {
      if (!names.insert(lower(f.name)).second) return fail(error, f.name + " is on the card already");
    }
    std::vector<uint8_t> entries;
    int serial = 0;
    for (const FatNewFile& f : files) {
      uint64_t clusters = (f.size + clusterBytes() - 1) / clusterBytes();
      uint32_t first = 0;
      if (clusters > 0 && !allocate(clusters, true, &first, error)) return false;
      std::string name83;
      do {
        name83 = shortName(++serial, f.name);
      } while (shortNames.count(name83));
      shortNames.insert(name83);
      appendEntries(&entries, f, name83, first);
    }
    return writeEntries(entries, error);
  }

  // Writes the allocation table (every copy) and, on FAT32, the free count of the info sector.
  bool commit(std::string* error) {
    for (uint32_t i = 0; i < fats_; ++i) {
      off_t at = static_cast<off_t>(fatOffset_ + i * fatBytes_);
      if (::pwrite(fd_, fat_.data(), fat_.size(), at) != static_cast<ssize_t>(fat_.size())) {
        return fail(error, "cannot write the allocation table");
      }
    }
    if (fsInfoOffset_ != 0) {
      uint8_t s[512];
      off_t at = static_cast<off_t>(fsInfoOffset_);
      if (::pread(fd_, s, sizeof s, at) == static_cast<ssize_t>(sizeof s) && get32(s) == 0x41615252 &&
          get32(s + 484) == 0x61417272 && get32(s + 488) != 0xffffffffu) {
        uint32_t freeCount = get32(s + 488);
        put32(s + 488, static_cast<uint32_t>(freeCount >= taken_ ? freeCount - taken_ : 0));
        if (::pwrite(fd_, s, sizeof s, at) != static_cast<ssize_t>(sizeof s)) {
          return fail(error, "cannot write the info sector");
        }
      }
    }
    return ::fsync(fd_) == 0 || fail(error, "cannot flush the image");
  }

 public:
  static bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
  }
  uint32_t endOfChain() const { return info_.fatBits == 32 ? 0x0fffffffu : 0xffffu; }
  bool validCluster(uint32_t c) const { return c >= 2 && c < info_.clusters + 2; }
  uint32_t entry(uint32_t c) const {
    return info_.fatBits == 32 ? get32(&fat_[c * 4ull]) & 0x0fffffffu : get16(&fat_[c * 2ull]);
  }
  void setEntry(uint32_t c, uint32_t value) {
    if (info_.fatBits == 32) {
      put32(&fat_[c * 4ull], (get32(&fat_[c * 4ull]) & 0xf0000000u) | value);
    } else {
      put16(&fat_[c * 2ull], value);
    }
  }
  uint64_t clusterOffset(uint32_t c) const { return dataOffset_ + (c - 2ull) * clusterBytes(); }

  // Takes `n` free clusters (the last ones of the card, or the first), chained in ascending
  // order; `first` is the chain's start.
  bool allocate(uint64_t n, bool fromEnd, uint32_t* first, std::string* error, std::vector<uint32_t>* taken = nullptr) {
    std::vector<uint32_t> chain;
    if (fromEnd) {
      for (uint32_t c = static_cast<uint32_t>(info_.clusters + 1); c >= 2 && chain.size() < n; --c) {
        if (entry(c) == 0) chain.push_back(c);
      }
      std::reverse(chain.begin(), chain.end());
    } else {
      for (uint32_t c = 2; validCluster(c) && chain.size() < n; ++c) {
        if (entry(c) == 0) chain.push_back(c);
      }
    }
    if (chain.size() < n) return fail(error, "the card has no room for it");
    for (size_t i = 0; i < chain.size(); ++i) setEntry(chain[i], i + 1 < chain.size() ? chain[i + 1] : endOfChain());
    taken_ += n;
    *first = chain.front();
    if (taken) *taken = chain;
    return true;
  }

  // Reads a directory (cluster 0: FAT16's fixed top directory) into dir_.
  void loadDir(uint32_t cluster) {
    dirClusters_.clear();
    dirFixed_ = cluster == 0;
    if (dirFixed_) {
      dirBytes_.assign(rootBytes_, 0);
      (void)!::pread(fd_, dirBytes_.data(), dirBytes_.size(), static_cast<off_t>(rootOffset_));
      return;
    }
    for (uint32_t c = cluster; validCluster(c) && dirClusters_.size() < info_.clusters; c = entry(c)) {
      dirClusters_.push_back(c);
    }
    dirBytes_.assign(dirClusters_.size() * clusterBytes(), 0);
    for (size_t i = 0; i < dirClusters_.size(); ++i) {
      (void)!::pread(fd_, dirBytes_.data() + i * clusterBytes(), clusterBytes(),
                     static_cast<off_t>(clusterOffset(dirClusters_[i])));
    }
  }

  // Walks the open directory's live entries with the long name gathered before each short one.
  template <class F>
  void forEachEntry(F f) const {
    std::string longName;
    for (size_t i = 0; i + kEntry <= dirBytes_.size(); i += kEntry) {
      const uint8_t* e = &dirBytes_[i];
      if (e[0] == 0) return;
      if (e[0] == kDeleted) {
        longName.clear();
        continue;
      }
      if (e[11] == kAttrLongName) {
        std::string part;
        for (int at : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) {
          uint32_t ch = get16(e + at);
          if (ch == 0 || ch == 0xffff) break;
          part += static_cast<char>(ch < 0x80 ? ch : '?');
        }
        longName = (e[0] & 0x40) ? part : part + longName;
        continue;
      }
      f(e, longName);
      longName.clear();
    }
  }

  static std::string shortText(const uint8_t* e) {
    std::string base(reinterpret_cast<const char*>(e), 8), ext(reinterpret_cast<const char*>(e) + 8, 3);
    while (!base.empty() && base.back() == ' ') base.pop_back();
    while (!ext.empty() && ext.back() == ' ') ext.pop_back();
    return ext.empty() ? base : base + "." + ext;
  }

  bool findSubdirectory(const std::string& name, uint32_t* cluster) const {
    bool found = false;
    forEachEntry([&](const uint8_t* e, const std::string& longName) {
      if (found || !(e[11] & kAttrDirectory) || (e[11] & kAttrVolume)) return;
      if (lower(longName) == lower(name) || lower(shortText(e)) == lower(name)) {
        *cluster = get16(e + 26) | (info_.fatBits == 32 ? get16(e + 20) << 16 : 0);
        found = true;
      }
    });
    return found;
  }

  std::set<std::string> dirShortNames() const {
    std::set<std::string> names;
    forEachEntry([&](const uint8_t* e, const std::string&) { names.insert(std::string(reinterpret_cast<const char*>(e), 11)); });
    return names;
  }

  // A short name of the form FLnnnnnn.EXT; the long name is the one every reader shows.
  static std::string shortName(int serial, const std::string& longName) {
    std::string ext;
    size_t dot = longName.rfind('.');
    if (dot != std::string::npos) ext = longName.substr(dot + 1, 3);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    char base[32];
    snprintf(base, sizeof base, "FL%06d", serial % 1000000);
    std::string name = std::string(base).substr(0, 8);
    name.resize(8, ' ');
    ext.resize(3, ' ');
    return name + ext;
  }

  static void appendEntries(std::vector<uint8_t>* out, const FatNewFile& f, const std::string& name83, uint32_t first) {
    size_t parts = (f.name.size() + kLongNameChars - 1) / kLongNameChars;
    uint8_t sum = shortNameChecksum(reinterpret_cast<const uint8_t*>(name83.data()));
    for (size_t p = parts; p >= 1; --p) {
      uint8_t e[kEntry] = {};
      e[0] = static_cast<uint8_t>(p | (p == parts ? 0x40 : 0));
      e[11] = kAttrLongName;
      e[13] = sum;
      int slot = 0;
      for (int at : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) {
        size_t i = (p - 1) * kLongNameChars + static_cast<size_t>(slot++);
        uint32_t ch = i < f.name.size() ? static_cast<uint8_t>(f.name[i]) : i == f.name.size() ? 0 : 0xffff;
        put16(e + at, ch);
      }
      out->insert(out->end(), e, e + kEntry);
    }
    FatStamp stamp = fatStamp(f.second, false);
    uint32_t date = stamp.date, time = stamp.time;
    uint8_t e[kEntry] = {};
    memcpy(e, name83.data(), 11);
    e[11] = kAttrArchive;
    put16(e + 14, time);
    put16(e + 16, date);
    put16(e + 18, date);
    put16(e + 20, first >> 16);
    put16(e + 22, time);
    put16(e + 24, date);
    put16(e + 26, first & 0xffff);
    put32(e + 28, static_cast<uint32_t>(f.size));
    out->insert(out->end(), e, e + kEntry);
  }

  // Sets the dates of one entry, found in its directory by its long or short name.
  bool setDates(const std::string& path, int64_t created, int64_t written, std::string* error) {
    size_t slash = path.rfind('/');
    std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!openDir(parent, error)) return false;
    long at = -1;
    forEachEntry([&](const uint8_t* e, const std::string& longName) {
      if (at < 0 && !(e[11] & kAttrVolume) && (lower(longName) == lower(name) || lower(shortText(e)) == lower(name))) {
        at = static_cast<long>(e - dirBytes_.data());
      }
    });
    if (at < 0) return fail(error, "no " + path + " on the card");
    uint8_t* e = &dirBytes_[static_cast<size_t>(at)];
    FatStamp w = fatStamp(written, true);
    put16(e + 18, w.date);
    put16(e + 22, w.time);
    put16(e + 24, w.date);
    if (created >= 0) {
      FatStamp c = fatStamp(created, true);
      e[13] = c.hundredths;
      put16(e + 14, c.time);
      put16(e + 16, c.date);
    }
    uint64_t offset = dirFixed_ ? rootOffset_ + static_cast<uint64_t>(at)
                                : clusterOffset(dirClusters_[static_cast<size_t>(at) / clusterBytes()]) +
                                      static_cast<uint64_t>(at) % clusterBytes();
    if (::pwrite(fd_, e, kEntry, static_cast<off_t>(offset)) != static_cast<ssize_t>(kEntry)) {
      return fail(error, "cannot write the entry of " + path);
    }
    return true;
  }

  // Puts entries after the open directory's last one, growing it by zeroed clusters as needed.
  bool writeEntries(const std::vector<uint8_t>& entries, std::string* error) {
    size_t end = 0;
    while (end + kEntry <= dirBytes_.size() && dirBytes_[end] != 0) end += kEntry;
    size_t need = end + entries.size();
    if (need > dirBytes_.size()) {
      if (dirFixed_) return fail(error, "the top directory is full");
      uint64_t more = (need - dirBytes_.size() + clusterBytes() - 1) / clusterBytes();
      uint32_t first = 0;
      std::vector<uint32_t> added;
      if (!allocate(more, false, &first, error, &added)) return false;
      setEntry(dirClusters_.back(), first);
      dirClusters_.insert(dirClusters_.end(), added.begin(), added.end());
      dirBytes_.resize(dirClusters_.size() * clusterBytes(), 0);
    }
    std::copy(entries.begin(), entries.end(), dirBytes_.begin() + static_cast<std::ptrdiff_t>(end));
    if (dirFixed_) {
      return ::pwrite(fd_, dirBytes_.data(), dirBytes_.size(), static_cast<off_t>(rootOffset_)) ==
                 static_cast<ssize_t>(dirBytes_.size()) ||
             fail(error, "cannot write the directory");
    }
    for (size_t i = 0; i < dirClusters_.size(); ++i) {
      if (::pwrite(fd_, dirBytes_.data() + i * clusterBytes(), clusterBytes(),
                   static_cast<off_t>(clusterOffset(dirClusters_[i]))) != static_cast<ssize_t>(clusterBytes())) {
        return fail(error, "cannot write the directory");
      }
    }
    return true;
  }

  // Every file and directory below the top, parents before children (the volume label and
  // the "." and ".." entries are no files).
  bool list(std::vector<CardEntry>* entries, std::string* error) {
    struct Found {
      std::string path;
      bool directory;
      uint64_t size;
      uint32_t cluster;
    };
    std::vector<Found> all;
    std::vector<std::pair<std::string, uint32_t>> pending = {{"", info_.fatBits == 32 ? rootCluster_ : 0}};
    while (!pending.empty()) {
      auto [path, cluster] = pending.back();
      pending.pop_back();
      loadDir(cluster);
      forEachEntry([&](const uint8_t* e, const std::string& longName) {
        if (e[11] & kAttrVolume) return;
        std::string name = longName.empty() ? shortText(e) : longName;
        if (name == "." || name == "..") return;
        Found f{path.empty() ? name : path + "/" + name, (e[11] & kAttrDirectory) != 0, get32(e + 28),
                get16(e + 26) | (info_.fatBits == 32 ? get16(e + 20) << 16 : 0)};
        if (f.directory) {
          f.size = 0;
          if (validCluster(f.cluster) && all.size() < kListLimit) pending.emplace_back(f.path, f.cluster);
        }
        all.push_back(f);
      });
      if (all.size() >= kListLimit) return fail(error, "too many entries on the card to list");
    }
    std::sort(all.begin(), all.end(), [](const Found& a, const Found& b) { return a.path < b.path; });
    entries->clear();
    for (const Found& f : all) entries->push_back({f.path, f.directory, f.size});
    return true;
  }

  int fd_ = -1;
  FatInfo info_;
  uint64_t fatOffset_ = 0, fatBytes_ = 0, rootOffset_ = 0, rootBytes_ = 0, dataOffset_ = 0, fsInfoOffset_ = 0;
  uint32_t fats_ = 0, rootCluster_ = 0;
  uint64_t taken_ = 0;
  std::vector<uint8_t> fat_;
  bool dirFixed_ = false;
  std::vector<uint32_t> dirClusters_;
  std::vector<uint8_t> dirBytes_;
};

FatImage::FatImage() : impl_(std::make_unique<Impl>()) {}
FatImage::~FatImage() = default;
bool FatImage::open(const std::string& imagePath, std::string* error) { return impl_->open(imagePath, error); }
uint64_t FatImage::clusterBytes() const { return impl_->clusterBytes(); }
uint64_t FatImage::freeClusters() const { return impl_->freeClusters(); }
bool FatImage::openDir(const std::string& path, std::string* error) { return impl_->openDir(path, error); }
bool FatImage::has(const std::string& name) const { return impl_->has(name); }
bool FatImage::addFiles(const std::vector<FatNewFile>& files, std::string* error) { return impl_->addFiles(files, error); }
bool FatImage::commit(std::string* error) { return impl_->commit(error); }
bool FatImage::setDates(const std::string& path, int64_t created, int64_t written, std::string* error) {
  return impl_->setDates(path, created, written, error);
}
bool FatImage::list(std::vector<CardEntry>* entries, std::string* error) { return impl_->list(entries, error); }

}  // namespace sim
