#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gps/nmea_codec.h"

namespace {

const std::string kRmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";

// A sentence "$...*" with its checksum and line end.
std::string withChecksum(const std::string& body) {
  char sum[8];
  snprintf(sum, sizeof sum, "%02X\r\n", MakeCheckSum(body.c_str(), static_cast<int>(body.size())));
  return body + sum;
}

int decode(const std::string& bytes, GpsFixRecord* fix) {
  return NmeaDecode(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()), fix, 0);
}

// Every test starts from a fresh decoder.
class NmeaDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { NmeaInit(nullptr); }
  GpsFixRecord fix{};
};

TEST_F(NmeaDecoderTest, TheRmcExampleIsTakenWhole) {
  ASSERT_EQ(decode(kRmc + "\r\n", &fix), 0);
  const nmeafix::RmcRecord& r = nmeaRecords(fix).rmc;
  EXPECT_EQ(r.hour, 12);
  EXPECT_EQ(r.minute, 35);
  EXPECT_EQ(r.second, 19);
  EXPECT_EQ(r.status, 'A');
  EXPECT_DOUBLE_EQ(r.latitude.get(), 4807.038);
  EXPECT_EQ(r.ns, 'N');
  EXPECT_DOUBLE_EQ(r.longitude.get(), 1131.0);
  EXPECT_EQ(r.ew, 'E');
  EXPECT_DOUBLE_EQ(r.speedKnots.get(), 22.4);
  EXPECT_DOUBLE_EQ(r.course.get(), 84.4);
  EXPECT_EQ(r.day, 23);
  EXPECT_EQ(r.month, 3);
  EXPECT_EQ(r.year.get(), 2094);  // always 2000 + yy
  EXPECT_EQ(r.variation, 3);
  EXPECT_EQ(r.variationDir, 'W');
  // Offset 584 of the record, nothing else touched.
  EXPECT_EQ(fix.bytes[584], 12);
  EXPECT_EQ(fix.bytes[587], 'A');
  for (size_t i = 0; i < 584; ++i) ASSERT_EQ(fix.bytes[i], 0) << i;
  // The same sentence again is a new one; no new sentence gives -1.
  EXPECT_EQ(decode(kRmc + "\r\n", &fix), 0);
  EXPECT_EQ(decode("", &fix), -1);
}

TEST_F(NmeaDecoderTest, ChecksumsMustMatchInBothDigits) {
  EXPECT_EQ(decode(kRmc.substr(0, kRmc.size() - 2) + "6B\r\n", &fix), -1);
  // The first digit right and the second wrong, or the digits not hex: dropped as well.
  EXPECT_EQ(decode(kRmc.substr(0, kRmc.size() - 2) + "60\r\n", &fix), -1);
  EXPECT_EQ(decode(kRmc.substr(0, kRmc.size() - 2) + "6a\r\n", &fix), -1);
  EXPECT_EQ(decode(kRmc.substr(0, kRmc.size() - 1), &fix), -1);  // ends after one digit
  EXPECT_EQ(decode("\r\n", &fix), -1);  // and a line end is no digit
  for (uint8_t b : fix.bytes) ASSERT_EQ(b, 0);
  EXPECT_EQ(decode(kRmc + "\r\n", &fix), 0);
}

TEST_F(NmeaDecoderTest, ASentenceEndingInCrWithoutChecksumIsTaken) {
  ASSERT_EQ(decode(kRmc.substr(0, kRmc.size() - 3) + "\r", &fix), 0);
  EXPECT_EQ(nmeaRecords(fix).rmc.variationDir, 'W');
  EXPECT_EQ(nmeaRecords(fix).rmc.day, 23);
}

TEST_F(NmeaDecoderTest, AfterARestartTheFirstSentenceIsNotLost) {
  for (int i = 0; i < 3; ++i) ASSERT_EQ(decode(kRmc + "\r\n", &fix), 0);
  NmeaInit(nullptr);
  EXPECT_EQ(decode(kRmc + "\r\n", &fix), 0);
}

TEST_F(NmeaDecoderTest, ASentenceSplitAcrossBlocksIsPutTogether) {
  std::string all = kRmc + "\r\n";
  EXPECT_EQ(decode(all.substr(0, 20), &fix), -1);
  EXPECT_EQ(decode(all.substr(20), &fix), 0);
  EXPECT_EQ(nmeaRecords(fix).rmc.second, 19);
}

TEST_F(NmeaDecoderTest, OnlyTheLast960BytesOfABlockAreRead) {
  std::string block = kRmc + "\r\n" + std::string(960 - 10, 'x');
  EXPECT_EQ(decode(block, &fix), -1);  // the sentence was in the bytes that are not read
  std::string tail = std::string(2000, 'x') + kRmc + "\r\n";
  EXPECT_EQ(decode(tail, &fix), 0);
}

TEST_F(NmeaDecoderTest, OverlongNamesAndFieldsAreDropped) {
  EXPECT_EQ(decode("$GPRMCXXX" + kRmc.substr(6, kRmc.size() - 9) + "\r\n", &fix), -1);
  EXPECT_EQ(decode("$GPRMC," + std::string(300, '1') + "\r\n", &fix), -1);
  EXPECT_EQ(decode(kRmc + "\r\n", &fix), 0);  // and the next sentence is fine
}

TEST_F(NmeaDecoderTest, GgaGsvAndKvoxlAreCopiedWithTheNextRmc) {
  std::string text = withChecksum("$GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,*") +
                     withChecksum("$GPGSV,3,2,11,02,48,298,24,16,11,041,28,29,19,080,25,26,30,311,25*");
  EXPECT_EQ(decode(text, &fix), -1);  // no RMC yet: nothing copied
  for (uint8_t b : fix.bytes) ASSERT_EQ(b, 0);
  ASSERT_EQ(decode(kRmc + "\r\n", &fix), 0);
  const nmeafix::GgaRecord& g = nmeaRecords(fix).gga;
  EXPECT_EQ(g.hour, 9);
  EXPECT_EQ(g.minute, 27);
  EXPECT_EQ(g.second, 50);
  EXPECT_DOUBLE_EQ(g.latitude.get(), 5321.6802);
  EXPECT_EQ(g.ew, 'W');
  EXPECT_EQ(g.quality, 1);
  EXPECT_EQ(g.satellites, 8);
  EXPECT_DOUBLE_EQ(g.hdop.get(), 1.03);
  EXPECT_DOUBLE_EQ(g.altitude.get(), 61.7);
  EXPECT_DOUBLE_EQ(g.geoidSeparation.get(), 55.2);
  const nmeafix::GsvRecord& s = nmeaRecords(fix).gsv;
  EXPECT_EQ(s.messages, 3);
  EXPECT_EQ(s.inView.get(), 11);
  EXPECT_EQ(s.satellite[1][0].prn.get(), 2);
  EXPECT_EQ(s.satellite[1][3].azimuth.get(), 311);
  EXPECT_EQ(s.satellite[1][3].snr.get(), 25);
  EXPECT_EQ(s.satellite[0][0].prn.get(), 0);  // message 1 never came
}

TEST_F(NmeaDecoderTest, GsvCountsOutOfRangeLeaveTheRecordAlone) {
  std::string nine = "$GPGSV,9,1,11,02,48,298,24,16,11,041,28,29,19,080,25,26,30,311,25\r";
  std::string zero = "$GPGSV,0,1,11,02,48,298,24,16,11,041,28,29,19,080,25,26,30,311,25\r";
  std::string badM = "$GPGSV,3,10,11,02,48,298,24,16,11,041,28,29,19,080,25,26,30,311,25\r";
  std::string shortOne = "$GPGSV,3,1,11\r";
  decode(nine + zero + badM + shortOne, nullptr);
  EXPECT_EQ(NmeaGsv().counter.get(), 0);
  EXPECT_EQ(NmeaGsv().messages, 0);
}

TEST_F(NmeaDecoderTest, AShortRmcDoesNotTakeFieldsOfThePreviousOne) {
  ASSERT_EQ(decode(kRmc + "\r\n", &fix), 0);
  ASSERT_EQ(decode("$GPRMC,010203,V,0000.000,N,00000.000,E\r", &fix), 0);
  EXPECT_EQ(nmeaRecords(fix).rmc.status, 'V');
  EXPECT_EQ(nmeaRecords(fix).rmc.variationDir, '\0');
  EXPECT_EQ(nmeaRecords(fix).rmc.day, 0);
}

TEST_F(NmeaDecoderTest, KvoxlIsReadBackFromItsOwnText) {
  ASSERT_EQ(decode("$KVOXL,1,1,12,-3,1000,080509,071226,,,,\r" + kRmc + "\r\n", &fix), 0);
  const nmeafix::KvoxlRecord& k = nmeaRecords(fix).kvoxl;
  EXPECT_EQ(k.value1, 1);
  EXPECT_EQ(k.x.get(), 12);
  EXPECT_EQ(k.y.get(), -3);
  EXPECT_EQ(k.z.get(), 1000);
  EXPECT_EQ(k.hour, 0);  // the time is not read back
}

TEST(NmeaFields, GetFieldAllSplitsAtCommas) {
  char slots[25][25];
  EXPECT_EQ(GetFieldAll(",A,,C", &slots[0][0], 25, 25), 3);
  EXPECT_STREQ(slots[0], "A");
  EXPECT_STREQ(slots[1], "");
  EXPECT_STREQ(slots[2], "C");
  EXPECT_EQ(GetFieldAll(",A,", &slots[0][0], 25, 25), 1);
  EXPECT_EQ(GetFieldAll("", &slots[0][0], 25, 25), 0);
  EXPECT_EQ(GetFieldAll("*12", &slots[0][0], 25, 25), 0);
  EXPECT_EQ(GetFieldAll(",1,2*3,4", &slots[0][0], 25, 25), 2);
  EXPECT_EQ(GetFieldAll(nullptr, &slots[0][0], 25, 25), -1);
  EXPECT_EQ(GetFieldAll(",A", nullptr, 25, 25), -1);
  EXPECT_EQ(GetFieldAll(",A", &slots[0][0], 0, 25), -1);
  EXPECT_EQ(GetFieldAll(",A", &slots[0][0], 25, 0), -1);
  // Long fields are cut to 24 characters; no more than the slots are stored.
  std::string many;
  for (int i = 0; i < 30; ++i) many += "," + std::string(40, static_cast<char>('a' + i % 26));
  EXPECT_EQ(GetFieldAll(many.c_str(), &slots[0][0], 25, 25), 25);
  EXPECT_EQ(std::string(slots[0]), std::string(24, 'a'));
  EXPECT_EQ(std::string(slots[24]), std::string(24, 'y'));
}

TEST(NmeaChecksum, StartsAfterTheDollarAndStopsAtTheStar) {
  EXPECT_EQ(MakeCheckSum("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A", 200), 0x6A);
  EXPECT_EQ(MakeCheckSum("junk$AB*", 100), 'A' ^ 'B');
  EXPECT_EQ(MakeCheckSum("$AB$C*", 100), 'C');  // a second '$' starts again
  EXPECT_EQ(MakeCheckSum("$ABC", 2), 'A');       // no more than the length
  EXPECT_EQ(MakeCheckSum("AB", 2), 0);
}

// ---- encoding ---------------------------------------------------------------------------------

std::string encode(const GpsFixRecord& fix, int size = 1024) {
  std::vector<uint8_t> out(static_cast<size_t>(size) + 16, 0xEE);
  int n = NmeaEncode(out.data(), size, &fix);
  std::string text(reinterpret_cast<const char*>(out.data()));
  EXPECT_EQ(static_cast<size_t>(n), text.size());
  EXPECT_LT(text.size(), static_cast<size_t>(size));
  for (size_t i = static_cast<size_t>(size); i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "written past the size";
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    out.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "every sentence ends in CR LF";
  return out;
}

// A sentence ends "*HH" with the checksum of what lies between '$' and '*'.
void expectChecksum(const std::string& line) {
  size_t star = line.rfind('*');
  ASSERT_NE(star, std::string::npos);
  ASSERT_EQ(star + 3, line.size()) << line;
  char want[3];
  snprintf(want, sizeof want, "%02X", MakeCheckSum(line.c_str(), static_cast<int>(line.size())));
  EXPECT_EQ(line.substr(star + 1), want) << line;
}

GpsFixRecord kvoxlOnly() {
  GpsFixRecord fix{};
  nmeafix::KvoxlRecord& k = nmeaRecords(fix).kvoxl;
  k.value1 = 1;
  k.value2 = 1;
  k.x.set(12);
  k.y.set(-3);
  k.z.set(1000);
  k.hour = 8;
  k.minute = 5;
  k.second = 9;
  k.day = 7;
  k.month = 12;
  k.year.set(2026);
  return fix;
}

TEST(NmeaEncoder, KvoxlAloneWhileTimeAndPositionAreZero) {
  std::string text = encode(kvoxlOnly());
  std::string body = "$KVOXL,1,1,12,-3,1000,080509,071226,,,,*";
  char sum[8];
  snprintf(sum, sizeof sum, "%02X\r\n", MakeCheckSum(body.c_str(), 100));
  EXPECT_EQ(text, body + sum);
}

TEST(NmeaEncoder, GgaIsWrittenOnceThereIsAPosition) {
  GpsFixRecord fix{};
  nmeaRecords(fix).gga.ns = 'N';
  nmeaRecords(fix).gga.ew = 'E';
  EXPECT_EQ(EncodeGPGGA(reinterpret_cast<char*>(fix.bytes + 400), 100, &fix), 0);
  nmeaRecords(fix).gga.latitude.set(3540.1234);
  char out[200] = {};
  int n = EncodeGPGGA(out, sizeof out, &fix);
  std::string line(out, static_cast<size_t>(n));
  EXPECT_EQ(line.rfind("$GPGGA,000000,3540.1234,N,00000.0000,E,0,00,0.0,0.0,M,0.0,M,,0*", 0), 0u) << line;
  ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
  expectChecksum(line.substr(0, line.size() - 2));
}

TEST(NmeaEncoder, AllFourKindsInTableOrderEachWithItsChecksum) {
  GpsFixRecord fix = kvoxlOnly();
  nmeafix::NmeaFix& n = nmeaRecords(fix);
  n.gga.hour = 13;
  n.gga.minute = 59;
  n.gga.second = 59;
  n.gga.latitude.set(3352.128);
  n.gga.ns = 'S';
  n.gga.longitude.set(15112.558);
  n.gga.ew = 'E';
  n.gga.quality = 1;
  n.gga.satellites = 9;
  n.gga.hdop.set(1.25);
  n.gga.altitude.set(42);
  n.gsv.messages = 3;
  n.gsv.inView.set(9);
  for (int m = 0; m < 3; ++m)
    for (int j = 0; j < 4; ++j) {
      n.gsv.satellite[m][j].prn.set(static_cast<uint16_t>(m * 4 + j + 1));
      n.gsv.satellite[m][j].elevation.set(static_cast<int16_t>(5 + j));
      n.gsv.satellite[m][j].azimuth.set(static_cast<int16_t>(7 * j));
      n.gsv.satellite[m][j].snr.set(30);
    }
  n.rmc = {};
  n.rmc.hour = 13;
  n.rmc.minute = 59;
  n.rmc.second = 59;
  n.rmc.status = 'A';
  n.rmc.latitude.set(3352.128);
  n.rmc.ns = 'S';
  n.rmc.longitude.set(15112.558);
  n.rmc.ew = 'E';
  n.rmc.speedKnots.set(19.4384);
  n.rmc.course.set(271.25);
  n.rmc.day = 7;
  n.rmc.month = 12;
  n.rmc.year.set(2026);
  n.rmc.encodedDir = 'E';
  std::vector<std::string> all = lines(encode(fix));
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0].rfind("$GPGGA,135959,3352.1280,S,15112.5580,E,1,09,1.2,42.0,M,0.0,M,,0*", 0), 0u) << all[0];
  EXPECT_EQ(all[1].rfind("$GPGSV,3,1,09,01,05,000,30,02,06,007,30,03,07,014,30,04,08,021,30*", 0), 0u) << all[1];
  EXPECT_EQ(all[2].rfind("$GPGSV,3,2,09,05,", 0), 0u) << all[2];
  EXPECT_EQ(all[3].rfind("$GPGSV,3,3,09,09,", 0), 0u) << all[3];
  EXPECT_EQ(all[4].rfind("$GPRMC,135959,A,3352.1280,S,15112.5580,E,19.4,271.2,071226,,E,*", 0), 0u) << all[4];
  EXPECT_EQ(all[5].rfind("$KVOXL,", 0), 0u);
  for (const std::string& l : all) expectChecksum(l);
}

TEST(NmeaEncoder, NothingIsWrittenPastTheSizeAndCountsBeyondTheRecordAreCut) {
  GpsFixRecord fix = kvoxlOnly();
  nmeafix::NmeaFix& n = nmeaRecords(fix);
  n.gsv.messages = 255;  // from a record nobody checked
  n.gga.hour = 1;
  n.gga.latitude.set(1e300);  // a number far too long for a sentence
  std::vector<std::string> all = lines(encode(fix));
  ASSERT_EQ(all.size(), 10u);  // nine GSV lines (all the record holds) and the KVOXL line
  EXPECT_EQ(all[0].rfind("$GPGSV,255,1,", 0), 0u);
  // With a small buffer whole sentences are left out, never cut.
  std::string small = encode(kvoxlOnly(), 20);
  EXPECT_EQ(small, "");
  GpsFixRecord three = kvoxlOnly();
  nmeaRecords(three).gsv.messages = 3;
  std::string text = encode(three, 160);
  EXPECT_EQ(lines(text).size(), 2u);  // two GSV lines fit, the third and KVOXL do not
}

TEST(NmeaEncoder, DecodingTheEncodedTextGivesTheRecordBack) {
  GpsFixRecord fix = kvoxlOnly();
  nmeafix::NmeaFix& n = nmeaRecords(fix);
  n.rmc.hour = 23;
  n.rmc.minute = 1;
  n.rmc.second = 2;
  n.rmc.status = 'A';
  n.rmc.latitude.set(4807.0380);
  n.rmc.ns = 'N';
  n.rmc.longitude.set(1131.0);
  n.rmc.ew = 'W';
  n.rmc.speedKnots.set(12.5);
  n.rmc.course.set(84.4);
  n.rmc.day = 28;
  n.rmc.month = 2;
  n.rmc.year.set(2027);
  n.rmc.encodedDir = 'E';
  std::string text = encode(fix);
  NmeaInit(nullptr);
  GpsFixRecord back{};
  ASSERT_EQ(NmeaDecode(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()), &back, 0), 0);
  const nmeafix::RmcRecord& r = nmeaRecords(back).rmc;
  EXPECT_EQ(r.hour, 23);
  EXPECT_EQ(r.status, 'A');
  EXPECT_DOUBLE_EQ(r.latitude.get(), 4807.038);
  EXPECT_EQ(r.ew, 'W');
  EXPECT_DOUBLE_EQ(r.speedKnots.get(), 12.5);
  EXPECT_EQ(r.day, 28);
  EXPECT_EQ(r.year.get(), 2027);
  EXPECT_EQ(r.variationDir, 'E');
  EXPECT_EQ(nmeaRecords(back).kvoxl.z.get(), 1000);
}

TEST(NmeaTable, RowsAndHandlers) {
  ASSERT_EQ(total_messages, 4);
  EXPECT_STREQ(nmea[0].name, "GPGGA");
  EXPECT_STREQ(nmea[1].name, "GPGSV");
  EXPECT_STREQ(nmea[2].name, "GPRMC");
  EXPECT_STREQ(nmea[3].name, "KVOXL");
  EXPECT_EQ(ProcessCommand("GPXYZ", ",1,2,3,4,5"), 0);
  EXPECT_EQ(NmeaSetSpeedUnit(7), 0);
  EXPECT_EQ(NmeaDecoder().SpeedUnit, 1);
  EXPECT_EQ(NmeaInit(nullptr), 0);
  EXPECT_EQ(NmeaRmc().status, 'V');
  EXPECT_EQ(NmeaRmc().year.get(), 2000);
  EXPECT_EQ(NmeaGga().altitudeUnit, 'M');
}

}  // namespace
