#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "gsensor/gsnr_files.h"

namespace {

// A FILE holding the given bytes (embedded NULs included).
struct MemFile {
  explicit MemFile(const std::string& bytes) : f(tmpfile()) {
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
  }
  ~MemFile() { fclose(f); }
  FILE* f;
};

int parse(const std::string& text, USER_G_LEVEL* out) {
  MemFile m(text);
  return ParseUserGLevel(m.f, out);
}

TEST(GsnrUserLevel, ThreeLinesGiveThresholdsAndWindowLengths) {
  USER_G_LEVEL u = {};
  ASSERT_EQ(parse("X 300 5\nY 250 8\nZ 0 0\n", &u), 0);
  EXPECT_EQ(u.threshold[GSNR_X], 300);
  EXPECT_EQ(u.threshold[GSNR_Y], 250);
  EXPECT_EQ(u.threshold[GSNR_Z], 0);
  EXPECT_EQ(u.window[GSNR_X], 5);
  EXPECT_EQ(u.window[GSNR_Y], 8);
  EXPECT_EQ(u.window[GSNR_Z], 0);
  // Limits, tabs, CR line ends and a missing final line break are fine.
  ASSERT_EQ(parse("x_axis\t5000\t30\r\ny +0 1\r\nz 5000 30", &u), 0);
  EXPECT_EQ(u.threshold[GSNR_X], 5000);
  EXPECT_EQ(u.window[GSNR_X], 30);
}

TEST(GsnrUserLevel, ALabelOfAnyLengthIsSkippedWithoutABuffer) {
  USER_G_LEVEL u = {};
  std::string huge(1 << 20, 'L');
  huge[1000] = '\0';  // even a NUL inside the word
  ASSERT_EQ(parse(huge + " 100 3\n" + huge + " 200 4\n" + huge + " 300 5\n", &u), 0);
  EXPECT_EQ(u.threshold[GSNR_Z], 300);
  EXPECT_EQ(u.window[GSNR_Z], 5);
}

TEST(GsnrUserLevel, ThresholdFaultsAreJudgedBeforeWindowFaults) {
  USER_G_LEVEL u = {};
  const int16_t untouched = 1234;
  u.threshold[GSNR_X] = untouched;
  struct Case {
    const char* text;
    int result;
  } cases[] = {
      {"X 5001 4\nY 200 7\nZ 200 2\n", -1},
      {"X -1 4\nY 200 7\nZ 200 2\n", -1},
      {"X 200 31\nY 200 7\nZ 200 2\n", -2},
      {"X 200 -1\nY 200 7\nZ 200 2\n", -2},
      {"X 200 40\nY 200 7\nZ 9999 2\n", -1},  // thresholds first, even on a later line
      {"X 200 4\nY 200 7\n", -1},             // a line missing
      {"", -1},
      {"X\nY 200 7\nZ 200 2\n", -1},          // a line with its label only
      {"X 200\nY 200 7\nZ 200 2\n", -2},      // window missing
      {"X 200 4 9\nY 200 7\nZ 200 2\n", -2},  // a fourth field
      {"X 2e2 4\nY 200 7\nZ 200 2\n", -1},    // not a whole number
      {"X 200 4.5\nY 200 7\nZ 200 2\n", -2},
      {"X 99999999999999999999999 4\nY 200 7\nZ 200 2\n", -1},  // far beyond 32 bits
      {"X 200 -99999999999999999999999\nY 200 7\nZ 200 2\n", -2},
      {"X 4294967496 4\nY 200 7\nZ 200 2\n", -1},  // 200 modulo 2^32: must not wrap into range
      {"X - 4\nY 200 7\nZ 200 2\n", -1},
      {"X 200 4\n\xff\xfe\x01 7 7\nZ 200 2\n", 0},  // binary label: a word like any other
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse(c.text, &u), c.result) << c.text;
  }
  EXPECT_EQ(u.threshold[GSNR_X], 200) << "only a valid file fills the result";
}

TEST(GsnrReadInts, NumbersUntilTheFirstNonNumberTheRestZero) {
  int32_t v[2] = {-1, -1};
  {
    MemFile m("100 10\n");
    EXPECT_EQ(GsnrReadInts(m.f, v, 2), 2);
    EXPECT_EQ(v[0], 100);
    EXPECT_EQ(v[1], 10);
  }
  {
    MemFile m("  750\n\n  x 3");
    EXPECT_EQ(GsnrReadInts(m.f, v, 2), 1);
    EXPECT_EQ(v[0], 750);
    EXPECT_EQ(v[1], 0);
  }
  {
    MemFile m("");
    EXPECT_EQ(GsnrReadInts(m.f, v, 2), 0);
    EXPECT_EQ(v[0], 0);
  }
  {
    MemFile m("99999999999999999999 -99999999999999999999");
    EXPECT_EQ(GsnrReadInts(m.f, v, 2), 2);
    EXPECT_EQ(v[0], INT32_MAX);
    EXPECT_EQ(v[1], INT32_MIN);
  }
}

TEST(GsnrBandwidth, OnlyTheSensorsBandwidths) {
  for (int32_t ok : {25, 50, 100, 190, 375, 750, 1500}) EXPECT_TRUE(GsnrBandwidthValid(ok)) << ok;
  for (int32_t bad : {0, -25, 24, 200, 1501, 3000}) EXPECT_FALSE(GsnrBandwidthValid(bad)) << bad;
}

}  // namespace
