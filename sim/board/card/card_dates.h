// The board's times of the card's files. The PC stamps the files it holds for the card with its
// own clock (and fusefat writes even those a month early), so the card model notes the board's
// time of day at each creation and last write of a card file in DIR/card.dates, and once nothing
// has the card mounted those times are put where a PC reading the card looks: the directory
// entries of the image (local time of the board's zone, 2-second steps, as the board's FAT driver
// writes them), or the modification times of the stand-in directory's files.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace sim {

std::string cardDatesPath(const std::string& boardDir);

// The board process's side: one line per creation or write, appended as they happen, so that
// what a board that loses its power noted is kept.
class CardDateLog {
 public:
  ~CardDateLog();
  bool open(const std::string& boardDir);
  void close();
  // `path` is relative to the card's top ("CH1/event/x.jpg"); `boardNs` the board's time of day.
  void note(const std::string& path, bool created, int64_t boardNs);

 private:
  std::mutex mutex_;
  int fd_ = -1;
};

// Puts the noted times on the card and removes DIR/card.dates. Only while nothing has the card
// mounted. Files removed since are passed over. Gives "" or what went wrong.
std::string applyCardDates(const std::string& boardDir);

}  // namespace sim
