#include "board/card/card_runner.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "board/card/card_fill.h"
#include "board/card/card_model.h"
#include "board/card/card_store.h"
#include "board/card/fat_image.h"
#include "board/card/settings_feedback.h"
#include "board/timeline.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

// "card fill recordings": names from 2025-01-01 00:00:00, one minute apart; at most what a FAT
// directory can hold (65536 entries, four for each file with its long name).
constexpr int64_t kFillFirstSecond = 1735689600;
constexpr long kMaxFillRecordings = 8000;
constexpr long kMaxFillLogs = 8000;

// Files listed per directory at the end of a run; the rest are counted.
constexpr size_t kListedFilesPerDirectory = 40;

std::string sizeText(uint64_t sizeK) {
  char text[64];
  if (sizeK % 1024 == 0) snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(sizeK / 1024));
  else snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(sizeK));
  return text;
}

std::string describe(const CardState& s, const FatInfo& fat) {
  std::string text = sizeText(s.sizeK) + (s.partitioned ? ", partitioned" : ", no partition table") + ", ";
  text += fat.formatted ? "FAT" + std::to_string(fat.fatBits) + " \"" + fat.label + "\"" : "not formatted";
  return text;
}

}  // namespace

std::vector<RunnerExtension::Option> CardRunnerExtension::options() const {
  return {
      {"card-size", true, "card size in MiB (default 4000), or KiB with a K suffix (1600000K)"},
      {"card-partitioned", false, "the card has a partition table (its file system on mmcblk0p1)"},
      {"no-card", false, "the slot is empty"},
      {"blank-card", false, "a new, unformatted card"},
      {"card-dir", false, "a plain directory stands in for the card even where FUSE works"},
  };
}

void CardRunnerExtension::runStart(RunnerContext& ctx) {
  const std::string& dir = ctx.boardDir;
  std::string cleaned = cleanUpCardMount(dir);  // a previous run that was cut off
  if (!cleaned.empty()) ctx.note("card: %s", cleaned.c_str());

  bool fuse = fuseAvailable();
  backend_ = ctx.options.count("card-dir") || !fuse ? CardBackend::Directory : CardBackend::Fuse;
  bool existing = loadCardState(dir, &state_);
  if (existing && state_.backend != backend_) {
    ctx.note("card: the card was kept %s before; its files stay there",
             state_.backend == CardBackend::Fuse ? "in the image" : "in the directory");
    if (state_.backend == CardBackend::Fuse && !fuse) ctx.note("card: FUSE is missing here, the directory stands in");
    else backend_ = state_.backend;
  }
  state_.backend = backend_;

  uint64_t sizeK = kDefaultCardSizeK;
  auto size = ctx.options.find("card-size");
  if (size != ctx.options.end() && !parseCardSize(size->second, &sizeK)) {
    ctx.note("card: --card-size %s is not a size; %s taken", size->second.c_str(), sizeText(sizeK).c_str());
  }
  bool partitioned = ctx.options.count("card-partitioned") != 0;
  bool blank = ctx.options.count("blank-card") != 0;
  bool different = size != ctx.options.end() && sizeK != state_.sizeK;
  if (partitioned && !state_.partitioned) different = true;
  if (!existing || blank || different) {
    insertCard(ctx, sizeK, partitioned, blank);
  } else if (!ctx.options.count("no-card") && !state_.present) {
    state_.present = true;  // the card that was taken out goes back in
  }
  if (ctx.options.count("no-card")) state_.present = false;
  saveCardState(dir, state_);

  if (!state_.present) {
    ctx.note("card: the slot is empty");
    return;
  }
  FatInfo fat = readFatInfo(cardImagePath(dir));
  if (backend_ == CardBackend::Fuse) {
    ctx.note("card: %s, image %s, mounted through fusefat", describe(state_, fat).c_str(), cardImagePath(dir).c_str());
  } else {
    ctx.note("card: %s, a plain directory %s stands in for it (%s)", describe(state_, fat).c_str(),
             cardDirPath(dir).c_str(), fuse ? "--card-dir" : "no FUSE here");
  }
}

void CardRunnerExtension::insertCard(RunnerContext& ctx, uint64_t sizeK, bool partitioned, bool blank) {
  state_.present = true;
  state_.sizeK = sizeK;
  state_.partitioned = partitioned && sizeK > kCardPartitionOffsetK;
  state_.backend = backend_;
  std::error_code ec;
  fs::remove_all(cardDirPath(ctx.boardDir), ec);
  std::string error;
  if (blank) {
    if (!makeBlankImage(cardImagePath(ctx.boardDir), state_.imageSizeK())) ctx.note("card: cannot create the image");
  } else if (!prepareCardAsUnit(ctx.boardDir, state_, &error)) {
    ctx.note("card: cannot prepare the card: %s", error.c_str());
  }
  saveCardState(ctx.boardDir, state_);
  TimelineEvent("card-insert").add("size_k", static_cast<int64_t>(sizeK)).add("partitioned", state_.partitioned)
      .add("blank", blank).emit();
  ctx.note("card: a new %s card of %s is in the slot", blank ? "blank" : "formatted", sizeText(sizeK).c_str());
}

void CardRunnerExtension::writeSettings(RunnerContext& ctx, const std::vector<std::pair<std::string, std::string>>& values) {
  if (!state_.present || !readFatInfo(cardImagePath(ctx.boardDir)).formatted) {
    ctx.note("settings: no formatted card in the slot; nothing written");
    return;
  }
  std::unique_ptr<CardStore> store = openCardStore(ctx.boardDir, state_);
  // The program reads set.dat when it exists, set.ini otherwise: change the one it will read.
  std::string text, file = "config/set.dat";
  if (!store->readFile(file, &text)) {
    file = "config/set.ini";
    if (!store->readFile(file, &text)) text.clear();
  }
  std::string error;
  if (!store->makeDir("config", &error) || !store->writeFile(file, applySettings(text, values), &error)) {
    ctx.note("settings: cannot write %s: %s", file.c_str(), error.c_str());
    return;
  }
  std::string keys;
  for (const auto& [k, v] : values) keys += " " + k + "=" + v;
  ctx.note("settings: %s now has%s", file.c_str(), keys.c_str());
  for (const std::string& change : settingsReplacements(applySettings(text, values))) {
    ctx.note("settings: when the recorder reads them, %s", change.c_str());
    TimelineEvent("settings-replaced").add("change", change).emit();
  }
}

bool CardRunnerExtension::checkAction(const std::vector<std::string>& words, std::string* error) const {
  if (words[0] == "settings") return checkSettingsAction(words, error);
  if (words.size() >= 2 && cardFaultAction(words, nullptr)) return true;
  // A fresh extension's act() only queues the change: whether it takes the words is the check.
  CardRunnerExtension probe;
  RunnerContext quiet;
  if (probe.act(quiet, words)) return true;
  *error = "card: expected \"card insert SIZE [blank] [partitioned]\", \"card remove\", \"card file PATH [TEXT]\","
           " \"card fill recordings N [event|normal] [SIZE]\", \"card fill free SIZE\" or a fault: \"card fail"
           " write|fsync|close [after N] [eio|enospc|erofs]\", \"card full [after BYTES]\", \"card readonly\","
           " \"card remove after-writes N\", \"card cut after-writes N [recordings]\", \"card faults clear\"";
  return false;
}

bool CardRunnerExtension::act(RunnerContext& ctx, const std::vector<std::string>& words) {
  std::function<void(RunnerContext&)> change;
  if (words[0] == "settings") {
    std::vector<std::pair<std::string, std::string>> values;
    for (size_t i = 1; i < words.size(); ++i) {
      size_t eq = words[i].find('=');
      if (eq == std::string::npos || eq == 0) return false;
      values.emplace_back(words[i].substr(0, eq), words[i].substr(eq + 1));
    }
    if (values.empty()) return false;
    change = [this, values](RunnerContext& c) { writeSettings(c, values); };
  } else if (words.size() >= 2 && !(words.size() == 2 && words[1] == "remove") && cardFaultAction(words, nullptr)) {
    // A fault of the card: at once on a running board, else armed for its next boot.
    std::string line;
    for (const std::string& w : words) line += (line.empty() ? "" : " ") + w;
    if (ctx.boardRunning && ctx.sendToBoard) {
      ctx.sendToBoard(line);
    } else if (!ctx.boardDir.empty()) {
      std::ofstream(cardFaultsPath(ctx.boardDir), std::ios::app) << line << "\n";
      ctx.note("%s: armed for the next boot", line.c_str());
    }
    return true;
  } else if (words.size() == 2 && words[1] == "remove") {
    // Pulled out of a running board: every call on it fails from now on.
    if (ctx.boardRunning && ctx.sendToBoard) ctx.sendToBoard("card remove");
    change = [this](RunnerContext& c) {
      state_.present = false;
      saveCardState(c.boardDir, state_);
      TimelineEvent("card-remove").emit();
      c.note("card: taken out of the slot (the image stays in the board directory)");
    };
  } else if (words.size() >= 3 && words[1] == "file") {
    // A file on the card, empty or holding the rest of the line: the presence files that switch
    // the program's debug aids on (frameloss.txt, no_power_check, ...).
    std::string path = words[2], text;
    for (size_t i = 3; i < words.size(); ++i) text += (i > 3 ? " " : "") + words[i];
    if (!text.empty()) text += "\n";
    if (path.find("..") != std::string::npos || path[0] == '/') return false;
    change = [this, path, text](RunnerContext& c) {
      if (!cardReady(c, "card file")) return;
      std::string error;
      if (!openCardStore(c.boardDir, state_)->writeFile(path, text, &error)) {
        c.note("card file: cannot write %s: %s", path.c_str(), error.c_str());
        return;
      }
      c.note("card file: %s (%zu bytes)", path.c_str(), text.size());
    };
  } else if (words.size() >= 3 && words[1] == "fill") {
    change = fillAction(words);
    if (!change) return false;
  } else if (words.size() >= 3 && words[1] == "insert") {
    uint64_t sizeK = 0;
    if (!parseCardSize(words[2], &sizeK)) return false;
    bool blank = false, partitioned = false;
    for (size_t i = 3; i < words.size(); ++i) {
      if (words[i] == "blank") blank = true;
      else if (words[i] == "partitioned") partitioned = true;
      else return false;
    }
    change = [this, sizeK, partitioned, blank](RunnerContext& c) { insertCard(c, sizeK, partitioned, blank); };
  } else {
    return false;
  }
  pending_.push_back(change);
  if (ctx.boardRunning) ctx.note("%s: takes effect before the next boot", words[0].c_str());
  return true;
}

// "card fill recordings N [event|normal] [SIZE]", "card fill logs N SIZE" and "card fill free SIZE":
// empty function when the words are not understood.
std::function<void(RunnerContext&)> CardRunnerExtension::fillAction(const std::vector<std::string>& words) {
  if (words[2] == "recordings" && words.size() >= 4 && words.size() <= 6) {
    char* end = nullptr;
    long count = strtol(words[3].c_str(), &end, 10);
    if (*end != '\0' || count < 1 || count > kMaxFillRecordings) return {};
    std::string channel = "event";
    uint64_t sizeK = 0;
    for (size_t i = 4; i < words.size(); ++i) {
      if (words[i] == "event" || words[i] == "normal") {
        channel = words[i];
      } else if (words[i] != "0" && !parseCardSize(words[i], &sizeK)) {
        return {};
      }
    }
    return [this, count, channel, sizeK](RunnerContext& c) {
      if (!cardReady(c, "card fill")) return;
      std::string error;
      if (!fillRecordings(c.boardDir, state_, channel, static_cast<int>(count), sizeK, kFillFirstSecond, &error)) {
        c.note("card fill: %s", error.c_str());
        return;
      }
      TimelineEvent("card-fill").add("recordings", static_cast<int64_t>(count)).add("dir", channel).emit();
      c.note("card fill: %ld recordings (%ld files, %s each) in CH1/%s", count, count * 2, sizeText(sizeK).c_str(),
             channel.c_str());
    };
  }
  if (words[2] == "logs" && words.size() == 5) {
    char* end = nullptr;
    long count = strtol(words[3].c_str(), &end, 10);
    uint64_t sizeK = 0;
    if (*end != '\0' || count < 1 || count > kMaxFillLogs || !parseCardSize(words[4], &sizeK)) return {};
    return [this, count, sizeK](RunnerContext& c) {
      if (!cardReady(c, "card fill")) return;
      std::string error;
      if (!fillLogs(c.boardDir, state_, static_cast<int>(count), sizeK, kFillFirstSecond, &error)) {
        c.note("card fill: %s", error.c_str());
        return;
      }
      TimelineEvent("card-fill").add("logs", static_cast<int64_t>(count)).add("size_k", static_cast<int64_t>(sizeK)).emit();
      c.note("card fill: %ld log files (%s each) in log", count, sizeText(sizeK).c_str());
    };
  }
  if (words[2] == "free" && words.size() == 4) {
    uint64_t freeK = 0;
    if (words[3] != "0" && !parseCardSize(words[3], &freeK)) return {};
    return [this, freeK](RunnerContext& c) {
      if (!cardReady(c, "card fill")) return;
      std::string error;
      uint64_t takenK = 0;
      if (!fillSpace(c.boardDir, state_, freeK, &takenK, &error)) {
        c.note("card fill: %s", error.c_str());
        return;
      }
      TimelineEvent("card-fill").add("free_k", static_cast<int64_t>(freeK)).add("taken_k", static_cast<int64_t>(takenK)).emit();
      c.note("card fill: filler files take %s, about %s stay free", sizeText(takenK).c_str(), sizeText(freeK).c_str());
    };
  }
  return {};
}

bool CardRunnerExtension::cardReady(RunnerContext& ctx, const char* what) {
  if (state_.present && readFatInfo(cardImagePath(ctx.boardDir)).formatted) return true;
  ctx.note("%s: no formatted card in the slot; nothing done", what);
  return false;
}

void CardRunnerExtension::beforeBoot(RunnerContext& ctx) {
  std::vector<std::function<void(RunnerContext&)>> changes;
  changes.swap(pending_);
  for (auto& change : changes) change(ctx);
}

void CardRunnerExtension::boardDown(RunnerContext& ctx) {
  std::string cleaned = cleanUpCardMount(ctx.boardDir);
  if (!cleaned.empty()) ctx.note("card: %s", cleaned.c_str());
}

void CardRunnerExtension::runEnd(RunnerContext& ctx) {
  boardDown(ctx);
  if (!pending_.empty()) {
    beforeBoot(ctx);  // changes after the last boot still reach the card
  }
  printTree(ctx);
}

void CardRunnerExtension::printTree(RunnerContext& ctx) {
  if (!state_.present) {
    ctx.note("card: the slot is empty");
    return;
  }
  FatInfo fat = readFatInfo(cardImagePath(ctx.boardDir));
  if (!fat.formatted) {
    ctx.note("card %s: %s", cardImagePath(ctx.boardDir).c_str(), describe(state_, fat).c_str());
    return;
  }
  std::vector<CardEntry> entries;
  std::string error;
  bool listed;
  if (state_.backend == CardBackend::Fuse) {
    // Read from the image itself: fusefat takes seconds to list a directory of thousands.
    FatImage image;
    listed = image.open(cardImagePath(ctx.boardDir), &error) && image.list(&entries, &error);
  } else {
    listed = openCardStore(ctx.boardDir, state_)->list(&entries, &error);
  }
  if (!listed) {
    ctx.note("card: cannot list it: %s", error.c_str());
    return;
  }
  uint64_t bytes = 0;
  for (const CardEntry& e : entries) bytes += e.size;
  ctx.note("card %s: %s, %zu entries, %llu bytes in files:",
           (state_.backend == CardBackend::Fuse ? cardImagePath(ctx.boardDir) : cardDirPath(ctx.boardDir)).c_str(),
           describe(state_, fat).c_str(), entries.size(), static_cast<unsigned long long>(bytes));
  std::string lastParent;
  size_t shown = 0, hidden = 0;
  auto flushHidden = [&] {
    if (hidden) ctx.note("  %s/... and %zu more files", lastParent.c_str(), hidden);
    hidden = 0;
  };
  for (const CardEntry& e : entries) {
    std::string parent = e.path.find('/') == std::string::npos ? "" : e.path.substr(0, e.path.rfind('/'));
    if (parent != lastParent) {
      flushHidden();
      lastParent = parent;
      shown = 0;
    }
    if (e.directory) {
      ctx.note("  %s/", e.path.c_str());
    } else if (shown++ < kListedFilesPerDirectory) {
      ctx.note("  %-48s %12llu", e.path.c_str(), static_cast<unsigned long long>(e.size));
    } else {
      ++hidden;
    }
  }
  flushHidden();
}

}  // namespace sim
