// vdrtool's reader of the travel log files, and `vdrtool log` on a log directory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <string>

#include "travel_log.h"

namespace {

namespace fs = std::filesystem;

std::string sentence(const std::string& body) {
  unsigned sum = 0;
  for (char c : body.substr(1)) sum ^= static_cast<unsigned char>(c);
  char tail[8];
  snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return body + tail;
}

const std::string kEntryWithFix =
    sentence("$GPGGA,035959,3352.1280,S,15112.5580,E,1,09,1.2,42.0,M,0.0,M,,0") +
    sentence("$GPGSV,1,1,04,01,05,000,30,02,06,007,30,03,07,014,30,04,08,021,30") +
    sentence("$GPRMC,035959,A,3352.1280,S,15112.5580,E,19.4,271.2,071226,,E,") +
    sentence("$KVOXL,1,1,12,-3,1000,135959,071226,,,,");

TEST(TravelLogReader, EntriesWithAndWithoutAFix) {
  std::string text = sentence("$KVOXL,1,1,1,2,3,135958,071226,,,,") + kEntryWithFix;
  vdr::TravelLog log = vdr::parseTravelLog("0000000012,2026.12.07,13.59.58.log", text);
  EXPECT_EQ(log.sequence, 12);
  EXPECT_EQ(log.start, "2026-12-07 13:59:58");
  EXPECT_EQ(log.badLines, 0);
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_FALSE(log.entries[0].hasFix);
  EXPECT_EQ(log.entries[0].localTime, "2026-12-07 13:59:58");
  EXPECT_EQ(log.entries[0].gz, 3);
  const vdr::LogEntry& e = log.entries[1];
  ASSERT_TRUE(e.hasFix);
  EXPECT_NEAR(e.fix.latDeg, -33.8688, 1e-9);
  EXPECT_NEAR(e.fix.lonDeg, 151.2093, 1e-9);
  EXPECT_NEAR(e.fix.speedKmh, 19.4 * 1.852, 1e-9);
  EXPECT_DOUBLE_EQ(e.fix.courseDeg, 271.2);
  EXPECT_DOUBLE_EQ(e.fix.altitudeM, 42.0);
  EXPECT_EQ(e.fix.satellites, 9);
  EXPECT_EQ(e.fix.utc, 1796615999);  // 2026-12-07 03:59:59 UTC
  EXPECT_EQ(e.gx, 12);
  EXPECT_EQ(e.gy, -3);
}

TEST(TravelLogReader, DamagedLinesAreCountedNotTrusted) {
  std::string text = kEntryWithFix;
  text[text.find("3352")] = '4';  // the checksum no longer fits
  text += "$GPRMC,garbage\r\n";
  text += sentence("$KVOXL,1,1,99999,0,0,135959,071226,,,,");  // beyond 16 bits
  text += sentence("$GPRMC,999999,A,9999.0,N,99999.0,E,1,1,999999,,E,");
  text += sentence("$KVOXL,1,1,1,1,1,140000,071226,,,,");
  text += std::string("\0\0\xff\r\n", 5);
  text += "$KVOXL,1,1,1,1,1,140001";  // cut off by a card that failed
  vdr::TravelLog log = vdr::parseTravelLog("error.log", text);
  EXPECT_EQ(log.sequence, 0);
  EXPECT_EQ(log.badLines, 5);
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_TRUE(log.entries[0].hasFix);
  EXPECT_FALSE(log.entries[0].fix.hasAltitude) << "its GGA line was damaged";
  EXPECT_FALSE(log.entries[1].hasFix) << "an impossible time and position are no fix";
  EXPECT_EQ(log.entries[1].localTime, "2026-12-07 14:00:00");
}

TEST(TravelLogReader, HemispheresAndRanges) {
  EXPECT_NEAR(vdr::nmeaDegrees(3536.0, 'N'), 35.6, 1e-12);
  EXPECT_NEAR(vdr::nmeaDegrees(13930.0, 'W'), -139.5, 1e-12);
  EXPECT_TRUE(std::isnan(vdr::nmeaDegrees(3536.0, 'X')));
  EXPECT_TRUE(std::isnan(vdr::nmeaDegrees(-1, 'N')));
  EXPECT_TRUE(std::isnan(vdr::nmeaDegrees(NAN, 'N')));
}

TEST(VdrtoolLog, ListsAndExportsALogDirectory) {
  fs::path dir = fs::temp_directory_path() / ("issue12-vdrtool-log-" + std::to_string(getpid()));
  fs::create_directories(dir / "log");
  std::ofstream(dir / "log" / "0000000003,2026.12.07,13.59.59.log", std::ios::binary) << kEntryWithFix;
  std::ofstream(dir / "log" / "0000000004,2026.12.07,14.00.00.log", std::ios::binary)
      << sentence("$KVOXL,1,1,5,6,7,140000,071226,,,,");
  std::ofstream(dir / "error.log") << "not a travel log\n";
  std::string tool = VDRTOOL_PATH;
  std::string out = (dir / "out").string();
  auto run = [&](const std::string& args) {
    return system((tool + " " + args + " > " + out + " 2>&1").c_str());
  };
  auto text = [&](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_EQ(run("log ls " + dir.string()), 0) << text(out);
  std::string listing = text(out);
  EXPECT_NE(listing.find("0000000003,2026.12.07,13.59.59.log   2026-12-07 13:59:59 13:59:59       1      1  "
                         "2026-12-07 03:59:59Z -33.868800,151.209300"),
            std::string::npos)
      << listing;
  EXPECT_EQ(listing.find("error.log"), std::string::npos);

  std::string csv = (dir / "t.csv").string();
  ASSERT_EQ(run("log export " + dir.string() + " --csv " + csv), 0) << text(out);
  EXPECT_EQ(text(csv),
            "log_file,local_time,utc_time,latitude,longitude,altitude_m,speed_kmh,course_deg,satellites,hdop,gx,gy,gz\r\n"
            "\"0000000003,2026.12.07,13.59.59.log\",2026-12-07 13:59:59,2026-12-07 03:59:59,-33.8688000,151.2093000,"
            "42.0,35.9,271.2,9,1.2,12,-3,1000\r\n"
            "\"0000000004,2026.12.07,14.00.00.log\",2026-12-07 14:00:00,,,,,,,,,5,6,7\r\n");
  std::string gpx = (dir / "t.gpx").string();
  ASSERT_EQ(run("log export " + dir.string() + " --gpx " + gpx), 0);
  EXPECT_NE(text(gpx).find("<trkpt lat=\"-33.8688000\" lon=\"151.2093000\"><ele>42.0</ele><time>2026-12-07T03:59:59Z</time>"
                           "<course>271.2</course><speed>9.98</speed>"),
            std::string::npos)
      << text(gpx);
  std::string kml = (dir / "t.kml").string();
  ASSERT_EQ(run("log export " + dir.string() + " --kml " + kml), 0);
  EXPECT_NE(text(kml).find("151.2093000,-33.8688000,42.0"), std::string::npos);
  EXPECT_EQ(run("log export " + dir.string() + " --shp x"), 2 << 8);
  EXPECT_EQ(run("log ls " + (dir / "missing").string()), 1 << 8);
  fs::remove_all(dir);
}

}  // namespace
