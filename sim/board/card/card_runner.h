// recorder-sim's side of the card: options (--card-size, --card-partitioned, --no-card,
// --blank-card, --card-dir), the scenario actions "card insert SIZE [blank] [partitioned]",
// "card remove", "card fill recordings N [event|normal] [SIZE]", "card fill free SIZE" (card_fill.h),
// "card file PATH [TEXT]" and "settings KEY=VALUE ...", a new board directory's card prepared as the
// unit's own format leaves it, the card left mounted by a board that went down, and the card's
// tree printed at the end of the run.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/board_model.h"
#include "board/card/card_image.h"

namespace sim {

class CardRunnerExtension : public RunnerExtension {
 public:
  std::vector<Option> options() const override;
  std::vector<std::string> actions() const override { return {"card", "settings"}; }
  void runStart(RunnerContext& ctx) override;
  void beforeBoot(RunnerContext& ctx) override;
  void boardDown(RunnerContext& ctx) override;
  bool checkAction(const std::vector<std::string>& words, std::string* error) const override;
  bool act(RunnerContext& ctx, const std::vector<std::string>& words) override;
  void runEnd(RunnerContext& ctx) override;

 private:
  void insertCard(RunnerContext& ctx, uint64_t sizeK, bool partitioned, bool blank);
  void writeSettings(RunnerContext& ctx, const std::vector<std::pair<std::string, std::string>>& values);
  void printTree(RunnerContext& ctx);
  std::function<void(RunnerContext&)> fillAction(const std::vector<std::string>& words);
  bool cardReady(RunnerContext& ctx, const char* what);

  CardState state_;
  CardBackend backend_ = CardBackend::Fuse;
  // Card changes wait until the board is off: they are carried out before the next boot.
  std::vector<std::function<void(RunnerContext&)>> pending_;
};

}  // namespace sim
