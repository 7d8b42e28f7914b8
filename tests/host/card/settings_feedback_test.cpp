// What recorder-sim tells a user about a settings action, from the program's own rules.
#include <gtest/gtest.h>

#include "board/card/settings_feedback.h"

namespace {

TEST(SettingsFeedback, UnknownKeysAndNonNumbersAreRefused) {
  std::string error;
  EXPECT_TRUE(sim::checkSettingsAction({"settings", "RECINGMODE1=1", "PRERECINT1=-5", "ACCSENX=+3"}, &error));
  const std::pair<std::vector<std::string>, const char*> wrong[] = {
      {{"settings"}, "expected KEY=VALUE"},
      {{"settings", "PRERECINT1"}, "is not KEY=VALUE"},
      {{"settings", "=5"}, "is not KEY=VALUE"},
      {{"settings", "PRERECINT=5"}, "unknown key \"PRERECINT\""},
      {{"settings", "Trgset=3"}, "keys are upper case: TRGSET"},
      {{"settings", "TRGSET=3x"}, "whole number"},
      {{"settings", "TRGSET="}, "whole number"},
      {{"settings", "TRGSET=1.5"}, "whole number"},
      {{"settings", "PASSWORD=99999999999"}, "whole number"},
  };
  for (const auto& [words, message] : wrong) {
    error.clear();
    EXPECT_FALSE(sim::checkSettingsAction(words, &error)) << words.back();
    EXPECT_NE(error.find(message), std::string::npos) << words.back() << ": " << error;
  }
}

TEST(SettingsFeedback, SaysWhatTheRecorderWillReplaceAndWhy) {
  auto changes = sim::settingsReplacements("[SET]\nRECINGMODE1=2\nPRERECINT1=5\nPOSTRECINT1=5\nPREFIELD1=2\n");
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0], "PRERECINT1=5 becomes 10 (event mode: 1, 10, 15 or 30)");
  EXPECT_EQ(changes[1], "POSTRECINT1=5 becomes 10 (event mode: 1, 10, 15 or 30)");
  EXPECT_EQ(changes[2], "PREFIELD1=2 becomes 4 (PREFIELD1 and POSTFIELD1 must be equal)");

  // The same rates are allowed in continuous mode; a narrow field keeps its low bits.
  changes = sim::settingsReplacements("[SET]\r\nRECINGMODE1=1\r\nPRERECINT1=5\r\nPOSTRECINT1=5\r\nTRGSET=259\r\n");
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], "TRGSET=259 is kept as 3 (the field keeps only its low bits)");

  // Only section SET counts, and the first value of a key, as the program reads it.
  changes = sim::settingsReplacements("[OTHER]\nRECMOD=7\n[SET]\nRECMOD=1\nRECMOD=9\n");
  EXPECT_TRUE(changes.empty()) << changes.front();

  // Event mode at rate 1 always records 2 s before and 5 s after.
  changes = sim::settingsReplacements("[SET]\nPRERECINT1=1\nPOSTRECINT1=1\n");
  ASSERT_EQ(changes.size(), 1u) << "POSTRECTIME1 is 5 already";
  EXPECT_EQ(changes[0].rfind("PRERECTIME1=15 becomes 2 (event mode at rate 1", 0), 0u) << changes[0];
}

}  // namespace
