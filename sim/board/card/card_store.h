// The card's files from outside the board, while the board is off: preparing a card as the unit
// formats it, changing its settings file, listing it. An image is mounted through fusefat for
// the work; the stand-in directory is used as it is. (mtools, which is much faster for
// thousands of files, is the tool to fill a card in bulk: see README.)
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "board/card/card_image.h"

namespace sim {

struct CardEntry {
  std::string path;  // relative to the card's top, "/" separated
  bool directory = false;
  uint64_t size = 0;
};

class CardStore {
 public:
  virtual ~CardStore() = default;
  // Card paths are relative to the top directory ("config/set.ini").
  virtual bool makeDir(const std::string& path, std::string* error) = 0;
  virtual bool writeFile(const std::string& path, const std::string& content, std::string* error) = 0;
  // false when the file is not there.
  virtual bool readFile(const std::string& path, std::string* content) = 0;
  // Every file and directory, parents before children.
  virtual bool list(std::vector<CardEntry>* entries, std::string* error) = 0;
};

std::unique_ptr<CardStore> openCardStore(const std::string& boardDir, const CardState& state);

// The directory tree the unit's format leaves, and its settings file of the defaults.
extern const char* const kCardTree[5];
std::string defaultSettingsText();
// Sets keys of the [SET] section: a key's line is replaced where it stands, a new key is added
// at the end of the section (the section is created when missing).
std::string applySettings(const std::string& text, const std::vector<std::pair<std::string, std::string>>& values);

// Formats a new card as the unit does and gives it the tree and the default settings.
bool prepareCardAsUnit(const std::string& boardDir, const CardState& state, std::string* error);

}  // namespace sim
