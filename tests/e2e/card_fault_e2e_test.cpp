// Card faults from a scenario: the card's actions arm them on the running board (or for its next
// boot), the program fails the card in order, and a power cut tied to a card write ends the boot
// at once and the next boot goes on with the card.
#include <gtest/gtest.h>

#include <string>

#include "prepared_card.h"
#include "support/sim_run.h"

namespace {

using testing_board::SimRun;

class CardFaultE2E : public PreparedCardE2E {
 protected:
  SimRun runUntil(const std::string& scenario, const std::string& text) {
    SimRun r = testing_board::runSimUntil(RECORDER_SIM_PATH, dir, {"--speed", "20", "--start", "2026-06-01 08:00:00"},
                                          scenario, text);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r;
  }
};

TEST_F(CardFaultE2E, AWriteFailureDuringAnEventFailsTheCardAndTheRunStopsInOrder) {
  // Armed for the boot and counted in card writes, so that it strikes during the event's write
  // however slowly the machine runs the board.
  SimRun r = runUntil("0 card fail write after 150\n55 press rec\n", "Could not write file (/mnt/log).");
  EXPECT_EQ(r.events("card-fault").size(), 1u);
  EXPECT_NE(r.console().find("Could not write file (/mnt/log)."), std::string::npos);
  EXPECT_FALSE(r.events("pattern", "\"sdfailure\"").empty());
  auto pairs = recordings("event");
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_FALSE(pairs[0].problems.empty()) << "an abandoned pair has no index header";
}

TEST_F(CardFaultE2E, ACardPulledOutDuringAWriteFailsTheCard) {
  SimRun r = runUntil("0 card remove after-writes 150\n55 press rec\n", "Could not write file (/mnt/log).");
  EXPECT_NE(r.console().find("errno=[5,"), std::string::npos);
  EXPECT_FALSE(r.events("pattern", "\"sdfailure\"").empty());
  EXPECT_FALSE(r.events("card-fault").empty());
}

TEST_F(CardFaultE2E, FaultActionsWithBadArgumentsAreRefused) {
  for (const char* bad : {"5 card fail seek\n", "5 card fail write after x\n", "5 card full after -3\n",
                          "5 card cut after-writes 0\n"}) {
    SimRun r = testing_board::runSim(RECORDER_SIM_PATH, dir, {"--speed", "20", "--duration", "6"}, bad);
    EXPECT_EQ(r.exitCode, 2) << bad << r.output;
    EXPECT_NE(r.output.find(".scenario: line 1: "), std::string::npos) << bad << r.output;
    EXPECT_TRUE(r.events("boot").empty()) << "refused before anything runs";
  }
}

}  // namespace
