#include "config/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/test_board.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetDefaultParameter(&s); }
  // Reads a set.ini made of the given lines.
  int readIni(const std::string& lines) {
    board.writeFile("/mnt/log/config/set.ini", "[SET]\n" + lines);
    return ReadConfigFile(&s);
  }

  testing_board::TestBoard board;
  RecorderSettings s;
};

TEST_F(SettingsTest, DefaultsAndTheCameraDriversView) {
  EXPECT_EQ(s.RECINGMODE1, 2);
  EXPECT_EQ(s.PRERECTIME1, 15);
  EXPECT_EQ(s.POSTRECTIME1, 5);
  EXPECT_EQ(s.PRESIZE1, 64);
  EXPECT_EQ(s.ACCSEN, 9);
  EXPECT_EQ(s.TRGSET, 3);
  EXPECT_EQ(s.RECMOD, 2);
  EXPECT_EQ(s.PASSWORD, 0);
  // The camera driver reads the first 56 bytes as fourteen little-endian words.
  const int32_t* words = reinterpret_cast<const int32_t*>(&s);
  EXPECT_EQ(words[0], 2);
  EXPECT_EQ(words[3], 10);
  EXPECT_EQ(words[8], 4);
  for (int i = 9; i < 14; ++i) EXPECT_EQ(words[i], 0);
}

TEST_F(SettingsTest, MissingFilesLeaveTheRecordUnchanged) {
  s.RECMOD = 1;
  EXPECT_EQ(ReadConfigFile(&s), -1);
  EXPECT_EQ(s.RECMOD, 1);
  EXPECT_EQ(ReadConfigFile(nullptr), -1);
  EXPECT_EQ(WriteConfigFile(nullptr), -1);
}

TEST_F(SettingsTest, SetDatIsReadInPreferenceToSetIni) {
  board.writeFile("/mnt/log/config/set.ini", "[SET]\nRECMOD=1\n");
  board.writeFile("/mnt/log/config/set.dat", "[SET]\nTRGSET=1\n");
  ASSERT_EQ(ReadConfigFile(&s), 0);
  EXPECT_EQ(s.RECMOD, 2);
  EXPECT_EQ(s.TRGSET, 1);
}

TEST_F(SettingsTest, KeysMissingFromTheFileKeepTheirValuesAndNarrowFieldsKeepLowBits) {
  s.BEEPRECORD = 0;
  ASSERT_EQ(readIni("TRGSET=259\nRECMOD=258\nACCSEN=8\nACCSENX=65541\n"), 0);
  EXPECT_EQ(s.BEEPRECORD, 0);
  EXPECT_EQ(s.TRGSET, 3);
  EXPECT_EQ(s.RECMOD, 2) << "258 keeps 2 in eight bits, which is allowed";
  EXPECT_EQ(s.ACCSENX, 5);
}

TEST_F(SettingsTest, EventModeRecordTimesFollowTheRate) {
  ASSERT_EQ(readIni("PRERECINT1=30\nPOSTRECINT1=30\nPRERECTIME1=20\nPOSTRECTIME1=10\n"), 0);
  EXPECT_EQ(s.PRERECTIME1, 15);
  EXPECT_EQ(s.POSTRECTIME1, 5);
  ASSERT_EQ(readIni("PRERECINT1=15\nPOSTRECINT1=15\nPRERECTIME1=20\nPOSTRECTIME1=10\n"), 0);
  EXPECT_EQ(s.PRERECTIME1, 20);
  EXPECT_EQ(s.POSTRECTIME1, 10);
  ASSERT_EQ(readIni("PRERECINT1=10\nPOSTRECINT1=15\nPRERECTIME1=18\nPOSTRECTIME1=12\n"), 0);
  EXPECT_EQ(s.PRERECINT1, 10) << "different rates both become 10";
  EXPECT_EQ(s.POSTRECINT1, 10);
  EXPECT_EQ(s.PRERECTIME1, 18);
  ASSERT_EQ(readIni("PRERECINT1=7\nPOSTRECINT1=10\nPRERECTIME1=11\nPOSTRECTIME1=9\n"), 0);
  EXPECT_EQ(s.PRERECINT1, 10);
  EXPECT_EQ(s.PRERECTIME1, 15);
  EXPECT_EQ(s.POSTRECTIME1, 5);
}

TEST_F(SettingsTest, RateOneFixesTheTimesAndTheWriterMovesItToTen) {
  ASSERT_EQ(readIni("PRERECINT1=1\nPOSTRECINT1=1\nPRERECTIME1=10\nPOSTRECTIME1=10\n"), 0);
  EXPECT_EQ(s.PRERECTIME1, 2);
  EXPECT_EQ(s.POSTRECTIME1, 5);
  ASSERT_EQ(WriteConfigFile(&s), 0);
  EXPECT_EQ(s.PRERECINT1, 10);
  EXPECT_EQ(s.POSTRECINT1, 10);
  EXPECT_EQ(s.PRERECTIME1, 15);
  EXPECT_EQ(s.POSTRECTIME1, 5);
}

TEST_F(SettingsTest, ContinuousModeRatesAndFieldsAndSizes) {
  ASSERT_EQ(readIni("RECINGMODE1=1\nPRERECINT1=5\nPOSTRECINT1=5\nPRERECTIME1=99\nPREFIELD1=2\nPOSTFIELD1=4\n"
                    "PRESIZE1=20\nPOSTSIZE1=10\n"),
            0);
  EXPECT_EQ(s.PRERECINT1, 5);
  EXPECT_EQ(s.PRERECTIME1, 99) << "record times are free in continuous mode";
  EXPECT_EQ(s.PREFIELD1, 4);
  EXPECT_EQ(s.POSTFIELD1, 4);
  EXPECT_EQ(s.PRESIZE1, 64) << "sizes are checked against field 4 after the fields were settled";
  EXPECT_EQ(s.POSTSIZE1, 64);

  ASSERT_EQ(readIni("RECINGMODE1=1\nPRERECINT1=30\nPOSTRECINT1=30\nPREFIELD1=2\nPOSTFIELD1=2\nPRESIZE1=10\n"
                    "POSTSIZE1=64\nRECMOD=3\nRECINGMODE1=3\n"),
            0);
  EXPECT_EQ(s.PRERECINT1, 10) << "30 is no continuous rate";
  EXPECT_EQ(s.PRESIZE1, 10);
  EXPECT_EQ(s.POSTSIZE1, 20);
  EXPECT_EQ(s.RECMOD, 2);
}

TEST_F(SettingsTest, AxisLevelsAndPassword) {
  ASSERT_EQ(readIni("ACCSEN=9\nACCSENX=12\nPASSWORD=4639\n"), 0);
  EXPECT_EQ(s.ACCSENX, 12) << "one simple level: the axis levels are not checked";
  EXPECT_EQ(s.PASSWORD, 4639);
  ASSERT_EQ(readIni("ACCSEN=8\nACCSENX=-12\nACCSENY=-8\nACCSENZ=9\nPASSWORD=31637\n"), 0);
  EXPECT_EQ(s.ACCSENX, 4);
  EXPECT_EQ(s.ACCSENY, -8);
  EXPECT_EQ(s.ACCSENZ, 4);
  EXPECT_EQ(s.PASSWORD, 0);
  ASSERT_EQ(readIni("PASSWORD=4294972935\n"), 0);
  EXPECT_EQ(s.PASSWORD, 0) << "a value beyond 32 bits is out of range, not its low bits (5639)";
}

TEST_F(SettingsTest, WriterKeepsRecordTimesThatSumToExactlyTwenty) {
  board.mkdirs("/mnt/log/config");
  s.RECINGMODE1 = 2;
  s.PRERECTIME1 = 10;
  s.POSTRECTIME1 = 10;
  ASSERT_EQ(WriteConfigFile(&s), 0);
  EXPECT_EQ(s.PRERECTIME1, 10);
  EXPECT_EQ(s.POSTRECTIME1, 10);
  s.PRERECTIME1 = 12;
  s.POSTRECTIME1 = 8;
  ASSERT_EQ(WriteConfigFile(&s), 0);
  EXPECT_EQ(s.PRERECTIME1, 12);
  EXPECT_EQ(s.POSTRECTIME1, 8);
  s.PRERECTIME1 = 12;
  s.POSTRECTIME1 = 10;  // 22: one over
  ASSERT_EQ(WriteConfigFile(&s), 0);
  EXPECT_EQ(s.PRERECTIME1, 15);
  EXPECT_EQ(s.POSTRECTIME1, 5);
}

TEST_F(SettingsTest, WriterRulesAndTheFileItWrites) {
  EXPECT_EQ(WriteConfigFile(&s), -1) << "no config directory to create the file in";
  board.mkdirs("/mnt/log/config");
  s.PRERECTIME1 = 12;
  s.POSTRECTIME1 = 10;  // 22 seconds in all: too long
  s.PRERECINT1 = 15;
  s.POSTRECINT1 = 30;
  s.PREFIELD1 = 2;
  s.PRESIZE1 = 64;
  s.POSTSIZE1 = 10;
  s.PASSWORD = 5000;
  ASSERT_EQ(WriteConfigFile(&s), 0);
  EXPECT_EQ(s.PRERECTIME1, 15);
  EXPECT_EQ(s.POSTRECTIME1, 5);
  EXPECT_EQ(s.PRERECINT1, 15) << "the writer lets the rates differ";
  EXPECT_EQ(s.POSTRECINT1, 30);
  EXPECT_EQ(s.PREFIELD1, 2) << "and the fields";
  EXPECT_EQ(s.PRESIZE1, 20);
  EXPECT_EQ(s.POSTSIZE1, 64);
  EXPECT_EQ(board.readFile("/mnt/log/config/set.dat"),
            "[SET]\nPOSTFIELD1=4\nPOSTRECINT1=30\nPOSTSIZE1=64\nRECMOD=2\nTRGSET=3\nACCSEN=9\nACCSENX=4\n"
            "ACCSENY=4\nACCSENZ=4\nRECINGMODE1=2\nPRERECTIME1=15\nPOSTRECTIME1=5\nPRERECINT1=15\nPRESIZE1=20\n"
            "PREFIELD1=2\nBEEPRECORD=1\n");

  RecorderSettings back;
  SetDefaultParameter(&back);
  back.PASSWORD = 1;
  ASSERT_EQ(ReadConfigFile(&back), 0);
  EXPECT_EQ(back.PASSWORD, 0) << "the password is never written; 1 is out of range";
}

TEST_F(SettingsTest, TimeIniIsAppliedOnceAndItsDefaultIgnored) {
  time_t clock = 0;
  EXPECT_EQ(ReadTimeConfigFile(&clock), -1);
  board.writeFile("/mnt/log/config/time.ini", "[SET]\nUTCTIME=2008.01.01;00:00:00\r\n");
  EXPECT_EQ(ReadTimeConfigFile(&clock), -1);
  EXPECT_FALSE(board.exists("/mnt/log/config/time.ini")) << "deleted even when it holds the default";

  board.writeFile("/mnt/log/config/time.ini", "[SET]\nUTCTIME=2011.03.05;14:07:09\r\n");
  ASSERT_EQ(ReadTimeConfigFile(&clock), 0);
  EXPECT_EQ(clock, 1299334029);  // 2011-03-05 14:07:09 UTC
  EXPECT_FALSE(board.exists("/mnt/log/config/time.ini"));
  EXPECT_EQ(ReadTimeConfigFile(&clock), -1);

  board.writeFile("/mnt/log/config/time.ini", "[SET]\nUTCTIME=tomorrow\n");
  clock = 42;
  EXPECT_EQ(ReadTimeConfigFile(&clock), -1) << "a value that is no date never reaches the clock";
  EXPECT_EQ(clock, 42);
}

TEST_F(SettingsTest, TimeIniNeedsAWholeDateAndTakesMissingTimeFieldsAsZero) {
  time_t clock = 42;
  board.writeFile("/mnt/log/config/time.ini", "[SET]\nUTCTIME=2011.03.05;14:07\r\n");
  ASSERT_EQ(ReadTimeConfigFile(&clock), 0) << "no seconds: 0";
  EXPECT_EQ(clock, 1299334020);
  board.writeFile("/mnt/log/config/time.ini", "[SET]\nUTCTIME=2011.03.05\n");
  ASSERT_EQ(ReadTimeConfigFile(&clock), 0) << "the date alone: midnight";
  EXPECT_EQ(clock, 1299283200);
  clock = 42;
  board.writeFile("/mnt/log/config/time.ini", "[SET]\nUTCTIME=2011.03\n");
  EXPECT_EQ(ReadTimeConfigFile(&clock), -1) << "no day: no date";
  EXPECT_EQ(clock, 42);
  EXPECT_FALSE(board.exists("/mnt/log/config/time.ini"));
}

TEST_F(SettingsTest, TimeIniUsesTheBoardsTimeZone) {
  setenv("TZ", "JST-9", 1);
  tzset();
  board.writeFile("/mnt/log/config/time.ini", "[SET]\nUTCTIME=2011.03.05;14:07:09\n");
  time_t clock = 0;
  ASSERT_EQ(ReadTimeConfigFile(&clock), 0);
  EXPECT_EQ(clock, 1299334029 - 9 * 3600);
  setenv("TZ", "UTC", 1);
  tzset();
}

TEST_F(SettingsTest, VersionFileIsWrittenOnlyWhenTheFirmwareChanged) {
  EXPECT_EQ(CreateVersionFile(), -1) << "no /version";
  board.writeFile("/version", "VERSION=KVOX_1.0.2.RC3\nbuilt somewhere\n");
  board.mkdirs("/mnt/log/config");
  ASSERT_EQ(CreateVersionFile(), 0);
  EXPECT_EQ(board.readFile("/mnt/log/config/version.ini"), "[INFO]\nVERSION=KVOX_1.0.2.RC3\n");
  EXPECT_EQ(CmpFirmwareVersion("VERSION=KVOX_1.0.2.RC3", "/mnt/log/config/version.ini"), 0);
  EXPECT_EQ(CmpFirmwareVersion("VERSION=KVOX_1.0.2.rc3", "/mnt/log/config/version.ini"), -1);
  EXPECT_EQ(CmpFirmwareVersion("x", "/mnt/log/config/none.ini"), -1);

  // The same version leaves the file untouched.
  board.writeFile("/mnt/log/config/version.ini", "[INFO] VERSION=KVOX_1.0.2.RC3 kept\n");
  testing_board::ConsoleCapture console;
  ASSERT_EQ(CreateVersionFile(), 0);
  EXPECT_EQ(board.readFile("/mnt/log/config/version.ini"), "[INFO] VERSION=KVOX_1.0.2.RC3 kept\n");
  EXPECT_NE(console.text().find("@@ Same version"), std::string::npos);
}

}  // namespace

namespace {

// The log of what the reader's rules replaced names each value and the rule; the values are
// those the record ends with, the same as without a log.
TEST(SettingsReplacementLog, NamesEachReplacedValueAndItsRule) {
  RecorderSettings logged, silent;
  SetDefaultParameter(&logged);
  logged.PRERECINT1 = 5;  // a continuous-mode rate, in event mode
  logged.PREFIELD1 = 2;   // alone: POSTFIELD1 stays 4
  silent = logged;
  SettingReplacements log;
  ValidateReadSettings(&logged, &log);
  ValidateReadSettings(&silent);
  EXPECT_EQ(memcmp(&logged, &silent, sizeof logged), 0);
  ASSERT_EQ(log.count, 2);
  EXPECT_STREQ(log.items[0].key, "PRERECINT1");
  EXPECT_EQ(log.items[0].from, 5);
  EXPECT_EQ(log.items[0].to, 10);
  EXPECT_NE(std::string(log.items[0].rule).find("event mode"), std::string::npos);
  EXPECT_STREQ(log.items[1].key, "PREFIELD1");
  EXPECT_EQ(log.items[1].to, 4);
  EXPECT_NE(std::string(log.items[1].rule).find("must be equal"), std::string::npos);

  SettingReplacements none;
  SetDefaultParameter(&logged);
  ValidateReadSettings(&logged, &none);
  EXPECT_EQ(none.count, 0) << "the defaults pass the reader's rules";
}

TEST(SettingsKeyTable, HoldsEveryKeyOnceAndStoresNarrowFieldsTruncated) {
  EXPECT_EQ(kSettingKeyCount, 17u);
  RecorderSettings s;
  SetDefaultParameter(&s);
  FindSettingKey("TRGSET")->set(s, 259);
  EXPECT_EQ(s.TRGSET, 3);
  EXPECT_EQ(FindSettingKey("trgset"), nullptr) << "keys are spelled as the files spell them";
}

}  // namespace
