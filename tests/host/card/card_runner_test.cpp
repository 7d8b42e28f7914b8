// recorder-sim's card options and actions, driven as the runner drives them.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "board/card/card_runner.h"
#include "board/card/card_store.h"
#include "support/test_board.h"

using testing_board::ConsoleCapture;

namespace {

namespace fs = std::filesystem;

class CardRunnerTest : public ::testing::Test {
 protected:
  CardRunnerTest() {
    char pattern[] = "/tmp/card-runner-XXXXXX";
    ctx.boardDir = mkdtemp(pattern);
  }
  ~CardRunnerTest() override {
    sim::cleanUpCardMount(ctx.boardDir);
    fs::remove_all(ctx.boardDir);
  }
  sim::CardState state() {
    sim::CardState s;
    EXPECT_TRUE(sim::loadCardState(ctx.boardDir, &s));
    return s;
  }
  std::string cardFile(const std::string& path) {
    std::string text;
    sim::openCardStore(ctx.boardDir, state())->readFile(path, &text);
    return text;
  }

  sim::RunnerContext ctx;
  sim::CardRunnerExtension card;
};

TEST_F(CardRunnerTest, ANewBoardGetsAFormattedCardWithTheDefaultSettings) {
  ctx.options = {{"card-size", "2000"}, {"card-partitioned", "1"}};
  card.runStart(ctx);
  sim::CardState s = state();
  EXPECT_TRUE(s.present);
  EXPECT_EQ(s.sizeK, 2048000u);
  EXPECT_TRUE(s.partitioned);
  sim::FatInfo fat = sim::readFatInfo(sim::cardImagePath(ctx.boardDir));
  EXPECT_EQ(fat.fatBits, 16);
  EXPECT_EQ(cardFile("config/set.ini"), sim::defaultSettingsText());
  struct stat st;
  ASSERT_EQ(stat(sim::cardImagePath(ctx.boardDir).c_str(), &st), 0);
  EXPECT_LT(st.st_blocks * 512, 4 << 20);  // sparse: a 2000 MiB card costs a few KiB

  // The same board again keeps its card and what is on it.
  {
    auto store = sim::openCardStore(ctx.boardDir, s);
    ASSERT_TRUE(store->writeFile("log/kept.log", "x", nullptr));
  }
  sim::CardRunnerExtension again;
  again.runStart(ctx);
  EXPECT_EQ(cardFile("log/kept.log"), "x");
}

TEST_F(CardRunnerTest, SettingsAndCardChangesWaitForTheBoardToBeOff) {
  card.runStart(ctx);
  ctx.boardRunning = true;
  EXPECT_TRUE(card.act(ctx, {"settings", "RECMOD=1", "TRGSET=2"}));
  EXPECT_FALSE(card.act(ctx, {"settings", "RECMOD"}));
  EXPECT_FALSE(card.act(ctx, {"card", "insert", "12X"}));
  EXPECT_EQ(cardFile("config/set.ini").find("RECMOD=1"), std::string::npos);  // not yet
  ctx.boardRunning = false;
  card.beforeBoot(ctx);
  std::string ini = cardFile("config/set.ini");
  EXPECT_NE(ini.find("RECMOD=1\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("TRGSET=2\n"), std::string::npos) << ini;

  // A card with set.dat: that is the file the program reads, so that is the one changed.
  {
    auto store = sim::openCardStore(ctx.boardDir, state());
    ASSERT_TRUE(store->writeFile("config/set.dat", "[SET]\nRECMOD=2\n", nullptr));
  }
  EXPECT_TRUE(card.act(ctx, {"settings", "RECMOD=1"}));
  card.beforeBoot(ctx);
  EXPECT_EQ(cardFile("config/set.dat"), "[SET]\nRECMOD=1\n");

  EXPECT_TRUE(card.act(ctx, {"card", "insert", "1600000K", "blank"}));
  EXPECT_TRUE(card.act(ctx, {"settings", "RECMOD=1"}));  // no formatted card: nothing written
  card.beforeBoot(ctx);
  EXPECT_EQ(state().sizeK, 1600000u);
  EXPECT_FALSE(sim::readFatInfo(sim::cardImagePath(ctx.boardDir)).formatted);

  EXPECT_TRUE(card.act(ctx, {"card", "remove"}));
  card.beforeBoot(ctx);
  EXPECT_FALSE(state().present);
}

TEST_F(CardRunnerTest, FileAndFillActionsAreCheckedAtOnceAndCarriedOutBeforeTheNextBoot) {
  card.runStart(ctx);
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"card", "fill"},
           {"card", "fill", "recordings"},
           {"card", "fill", "recordings", "0"},
           {"card", "fill", "recordings", "12x"},
           {"card", "fill", "recordings", "9000"},
           {"card", "fill", "recordings", "5", "sideways"},
           {"card", "fill", "free"},
           {"card", "fill", "free", "lots"},
           {"card", "fill", "logs", "3"},
           {"card", "fill", "logs", "0", "1"},
           {"card", "fill", "logs", "3", "1", "2"},
           {"card", "fill", "logs", "3", "big"},
       }) {
    EXPECT_FALSE(card.act(ctx, bad)) << bad.back();
  }
  EXPECT_FALSE(card.act(ctx, {"card", "file", "../outside"}));
  EXPECT_FALSE(card.act(ctx, {"card", "file", "/etc/passwd"}));
  ctx.boardRunning = true;
  ASSERT_TRUE(card.act(ctx, {"card", "file", "frameloss.txt"}));
  ASSERT_TRUE(card.act(ctx, {"card", "file", "config/note.txt", "two", "words"}));
  ASSERT_TRUE(card.act(ctx, {"card", "fill", "recordings", "4", "normal", "1"}));
  ASSERT_TRUE(card.act(ctx, {"card", "fill", "logs", "3", "20K"}));
  ASSERT_TRUE(card.act(ctx, {"card", "fill", "free", "100"}));
  std::string text;
  EXPECT_FALSE(sim::openCardStore(ctx.boardDir, state())->readFile("CH1/normal/0000000001,2025.01.01,00.00.00.vdx", &text))
      << "not while the board runs";
  ctx.boardRunning = false;
  ConsoleCapture console;
  card.beforeBoot(ctx);
  text = console.text();
  EXPECT_NE(text.find("card fill: 4 recordings (8 files, 1 MiB each) in CH1/normal"), std::string::npos) << text;
  EXPECT_NE(text.find("about 100 MiB stay free"), std::string::npos) << text;
  EXPECT_EQ(cardFile("CH1/normal/0000000004,2025.01.01,00.03.00.vdd").size(), 1024u * 1024);
  EXPECT_NE(text.find("card fill: 3 log files (20 KiB each) in log"), std::string::npos) << text;
  EXPECT_EQ(cardFile("log/0000000003,2025.01.01,02.00.00.log").size(), 20u * 1024);
  EXPECT_TRUE(sim::openCardStore(ctx.boardDir, state())->readFile("frameloss.txt", &text));
  EXPECT_EQ(text, "");
  EXPECT_EQ(cardFile("config/note.txt"), "two words\n");
}

TEST_F(CardRunnerTest, TheEndOfARunPrintsTheTreeWithSizes) {
  ctx.options = {{"card-size", "4000"}};
  card.runStart(ctx);
  ConsoleCapture console;
  card.runEnd(ctx);
  std::string text = console.text();
  EXPECT_NE(text.find("FAT32 \"ZIDADORI1\", 6 entries"), std::string::npos) << text;
  EXPECT_NE(text.find("[sim]   CH1/event/\n"), std::string::npos) << text;
  EXPECT_NE(text.find("config/set.ini"), std::string::npos) << text;
  EXPECT_EQ(text.find("ZIDADORI.1"), std::string::npos) << text;  // the label is no file
}

}  // namespace
