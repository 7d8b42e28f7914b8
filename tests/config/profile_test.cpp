#include "config/profile.h"

#include <gtest/gtest.h>

#include "support/test_board.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  int32_t readInt(const char* key, int32_t def = -77, const char* section = "SET") {
    return GetPrivateProfileInt(section, key, def, kPath);
  }
  std::string readString(const char* key, const char* def = "DEF", const char* section = "SET") {
    char out[64];
    GetPrivateProfileString2(section, key, def, out, sizeof out, kPath);
    return out;
  }
  void write(const std::string& text) { board.writeFile(kPath, text); }

  static constexpr const char* kPath = "/mnt/log/config/set.ini";
  testing_board::TestBoard board;
};

TEST_F(ProfileTest, MissingFileOrSectionGivesTheDefault) {
  EXPECT_EQ(readInt("TRGSET", 5), 5);
  char out[8] = "keep";
  EXPECT_EQ(GetPrivateProfileString2("SET", "X", "d", out, sizeof out, kPath), -1);
  EXPECT_STREQ(out, "keep") << "the output is untouched when the file cannot be opened";

  write("[OTHER]\nTRGSET=3\n");
  testing_board::ConsoleCapture console;
  EXPECT_EQ(readInt("TRGSET", 5), 5);
  EXPECT_EQ(readInt("RECMOD", 6), 6);
  std::string text = console.text();
  size_t first = text.find("bsection = 0");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(text.find("bsection = 0", first + 1), std::string::npos) << "traced once per read";
  EXPECT_NE(text.find("CONFIG__"), std::string::npos);
}

TEST_F(ProfileTest, EqualsOrColonDelimitIntegersButOnlyEqualsDelimitsStrings) {
  write("[SET]\nTRGSET=3\nRECMOD:1\n");
  EXPECT_EQ(readInt("TRGSET"), 3);
  EXPECT_EQ(readInt("RECMOD"), 1);
  EXPECT_EQ(readString("RECMOD"), "DEF") << "the whole line with its end is the first part";
  EXPECT_EQ(readString("TRGSET"), "3\n") << "string values keep their line end";
}

TEST_F(ProfileTest, KeysMatchExactlyAndTheFirstMatchWins) {
  write("[SET]\nPRERECTIME1=15\nRECTIME1=7\nRECTIME1=9\nrecmod=1\nRECMOD = 2\n");
  EXPECT_EQ(readInt("RECTIME1"), 7) << "a longer key containing the text is passed over";
  EXPECT_EQ(readInt("RECMOD"), -77) << "case matters and blanks are not trimmed";
}

TEST_F(ProfileTest, ABracketedLineEndsTheSectionUnlessItMentionsTheKey) {
  write("[SET]\nA=1\n[X]\nB=2\n");
  EXPECT_EQ(readInt("B"), -77);
  write("[SET]\n[C=3]\nC=4\n");
  EXPECT_EQ(readInt("C"), 4) << "a bracketed line holding the key's text does not end the section";
  write("[SET]\n;[comment]\nD=5\n");
  EXPECT_EQ(readInt("D"), -77) << "there is no comment syntax";
  write(" [SET]\nE=6\n");
  EXPECT_EQ(readInt("E"), -77) << "a section header starts at the very start of the line";
  write("[SET] trailing words\nF=6\n");
  EXPECT_EQ(readInt("F"), 6);
}

TEST_F(ProfileTest, IntegerConversion) {
  write("[SET]\nACCSENX=-3\nACCSENY=abc\nACCSENZ=\nA=  +42x\nB=12\r\nC==7\nEND=");
  EXPECT_EQ(readInt("ACCSENX"), -3);
  EXPECT_EQ(readInt("ACCSENY"), 0);
  EXPECT_EQ(readInt("ACCSENZ"), 0) << "the line end is the value";
  EXPECT_EQ(readInt("A"), 42);
  EXPECT_EQ(readInt("B"), 12);
  EXPECT_EQ(readInt("C"), 7) << "delimiters after the first are skipped";
  EXPECT_EQ(readInt("END"), -77) << "no value part at the end of the file";
}

TEST_F(ProfileTest, ValuesBeyond32BitsSaturate) {
  write("[SET]\nA=4294972935\nB=-4294972935\nC=2147483647\nD=-2147483648\nE=99999999999999999999999\n");
  EXPECT_EQ(readInt("A"), INT32_MAX) << "not its low 32 bits (5639)";
  EXPECT_EQ(readInt("B"), INT32_MIN);
  EXPECT_EQ(readInt("C"), INT32_MAX);
  EXPECT_EQ(readInt("D"), INT32_MIN);
  EXPECT_EQ(readInt("E"), INT32_MAX);
}

TEST_F(ProfileTest, NullSectionSearchesFromTheTop) {
  write("X=1\n[SET]\nX=2\n");
  EXPECT_EQ(GetPrivateProfileInt(nullptr, "X", 0, kPath), 1);
}

TEST_F(ProfileTest, LongLinesAreReadInPiecesOf99Characters) {
  std::string filler(99, 'a');
  write("[SET]\n" + filler + "K=5\n");  // "K=5" begins a second piece of the line
  EXPECT_EQ(readInt("K"), 5);
}

TEST_F(ProfileTest, StringValuesAreCutToTheBuffer) {
  write("[SET]\nUTCTIME=2008.01.01;00:00:00\r\n");
  char out[64];
  EXPECT_EQ(GetPrivateProfileString2("SET", "UTCTIME", "d", out, sizeof out, kPath), 21);
  EXPECT_STREQ(out, "2008.01.01;00:00:00\r\n");
  char small[5];
  EXPECT_EQ(GetPrivateProfileString2("SET", "UTCTIME", "d", small, sizeof small, kPath), 4);
  EXPECT_STREQ(small, "2008");
  char self[16] = "fallback";
  GetPrivateProfileString2("SET", "MISSING", self, self, sizeof self, kPath);
  EXPECT_STREQ(self, "fallback") << "default and output may be one buffer";
}

}  // namespace
