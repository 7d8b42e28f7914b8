// A card prepared from outside the board, and the settings action's edits of its settings file.
#include <gtest/gtest.h>

#include "board/card/card_store.h"
#include "card_fixture.h"
#include "config/settings.h"
#include "core/sd_card.h"
#include "platform/platform.h"

namespace {

TEST(ApplySettings, ReplacesKeysWhereTheyStandAndAddsNewOnesToTheSection) {
  std::string text = "[SET]\r\nRECMOD=2\r\nTRGSET=3\r\n\r\n[OTHER]\nRECMOD=9\n";
  EXPECT_EQ(sim::applySettings(text, {{"RECMOD", "1"}, {"BEEPRECORD", "0"}}),
            "[SET]\r\nRECMOD=1\nTRGSET=3\r\nBEEPRECORD=0\n\r\n[OTHER]\nRECMOD=9\n");
  EXPECT_EQ(sim::applySettings("", {{"TRGSET", "1"}}), "[SET]\nTRGSET=1\n");
  EXPECT_EQ(sim::applySettings("[X]\nA=1\n", {{"TRGSET", "1"}}), "[X]\nA=1\n[SET]\nTRGSET=1\n");
  // A key is matched whole: PRERECTIME1 is not RECTIME1.
  EXPECT_EQ(sim::applySettings("[SET]\nPRERECTIME1=15\n", {{"RECTIME1", "3"}}), "[SET]\nPRERECTIME1=15\nRECTIME1=3\n");
}

class PreparedCardTest : public ::testing::TestWithParam<sim::CardBackend> {};

TEST_P(PreparedCardTest, APreparedCardPassesTheChecksAndHoldsTheDefaultSettings) {
  card_test::CardBoard card(4000 * 1024, false, true, GetParam());
  card.bootModels();
  EXPECT_EQ(sim::readFatInfo(card.image()).fatBits, 32);
  ASSERT_EQ(mount_sd(), 0);
  EXPECT_EQ(CheckSDValidity(), 0);
  RecorderSettings fromCard, defaults;
  SetDefaultParameter(&defaults);
  // Every field starts away from its default, so each one must come from the file.
  fromCard.RECINGMODE1 = 1;
  fromCard.PRERECTIME1 = 99;
  fromCard.POSTRECTIME1 = 99;
  fromCard.PRERECINT1 = 99;
  fromCard.POSTRECINT1 = 99;
  fromCard.PRESIZE1 = 99;
  fromCard.POSTSIZE1 = 99;
  fromCard.PREFIELD1 = 99;
  fromCard.POSTFIELD1 = 99;
  fromCard.BEEPRECORD = 99;
  fromCard.ACCSEN = 99;
  fromCard.ACCSENX = 99;
  fromCard.ACCSENY = 99;
  fromCard.ACCSENZ = 99;
  fromCard.TRGSET = 99;
  fromCard.RECMOD = 99;
  fromCard.PASSWORD = 0;
  ASSERT_EQ(ReadConfigFile(&fromCard), 0);
  EXPECT_EQ(memcmp(&fromCard, &defaults, sizeof defaults), 0);
  EXPECT_EQ(umount_sd(), 0);

  // The settings action's edit, from outside, reaches the program.
  sim::CardState state;
  ASSERT_TRUE(sim::loadCardState(card.dir(), &state));
  {
    auto store = sim::openCardStore(card.dir(), state);
    std::string text;
    ASSERT_TRUE(store->readFile("config/set.ini", &text));
    ASSERT_TRUE(store->writeFile("config/set.ini", sim::applySettings(text, {{"RECMOD", "1"}}), nullptr));
  }
  ASSERT_EQ(mount_sd(), 0);
  ASSERT_EQ(ReadConfigFile(&fromCard), 0);
  EXPECT_EQ(fromCard.RECMOD, 1);
  // A file made after the edit gets clusters of its own (the edit left its file's in use).
  FILE* f = plat::fopen("/mnt/log/config/other.ini", "w");
  ASSERT_NE(f, nullptr);
  fputs("[X]\nA=1\n", f);
  fclose(f);
  EXPECT_EQ(umount_sd(), 0);
  if (GetParam() == sim::CardBackend::Fuse) {
    std::string report;
    EXPECT_EQ(card.fsck(&report), 0) << report;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, PreparedCardTest, ::testing::ValuesIn(card_test::backendsHere()),
                         [](const auto& p) { return std::string(card_test::backendName(p.param)); });

}  // namespace
