// A test board with the simulated card in its slot (through fusefat where FUSE works, else the
// stand-in directory) and small fake device nodes for the reset button and the buzzer/LED timer.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board/card/card_image.h"
#include "board/card/card_model.h"
#include "board/flash/flash_model.h"
#include "device/buzzer_led.h"
#include "platform/sim/board.h"
#include "platform/sim/devices.h"
#include "support/test_board.h"

namespace card_test {

// The reset button's GPIO node: the level request answers 0 (pulled low) while it is held.
class FakeButtonNode : public sim::DeviceNode {
 public:
  explicit FakeButtonNode(bool held) : held_(held) {}
  int open(int, std::unique_ptr<sim::DeviceFile>* file) override;

 private:
  bool held_;
};

// The timer's node: takes blink requests and keeps them.
class FakeTimerNode : public sim::DeviceNode {
 public:
  int open(int, std::unique_ptr<sim::DeviceFile>* file) override;
  std::vector<TIMA_BLINK_REQ> requests() const;
  void record(const TIMA_BLINK_REQ& r);

 private:
  mutable std::mutex mutex_;
  std::vector<TIMA_BLINK_REQ> requests_;
};

// True when the requests hold the sdfailure pattern (buzzer 500/500 on, LEDs 2000/2000).
bool showsSdFailure(const std::vector<TIMA_BLINK_REQ>& requests);

class CardBoard {
 public:
  // A card of `sizeK` KiB in the slot; `formatted` prepares it as the unit's format leaves it.
  CardBoard(uint64_t sizeK, bool partitioned, bool formatted, sim::CardBackend backend);
  ~CardBoard();
  testing_board::TestBoard& board() { return board_; }
  const std::string& dir() const { return board_.dir(); }
  std::string image() const { return sim::cardImagePath(board_.dir()); }
  // Boots the card and flash models (the partition list gets the card's lines).
  void bootModels();
  void addButtons(bool resetHeld);
  std::shared_ptr<FakeTimerNode> timer() const { return timer_; }
  // fsck.fat -n on the image: its exit code, output in `report`.
  int fsck(std::string* report) const;

 private:
  testing_board::TestBoard board_;
  sim::CardModel card_;
  sim::FlashModel flash_;
  std::shared_ptr<FakeTimerNode> timer_;
};

// Writes a tar archive at a PC path holding the members given by name and content.
bool makeTar(const std::string& hostPath, const std::vector<std::pair<std::string, std::string>>& members);

// The card's backends this machine can run: the directory always, fusefat where FUSE works.
std::vector<sim::CardBackend> backendsHere();
const char* backendName(sim::CardBackend b);

}  // namespace card_test
