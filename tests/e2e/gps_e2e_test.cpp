// The GPS receiver end to end: recorder-sim runs the program with a receiver model on port 2
// while the car drives a straight road east; the recordings are read back and their positions
// held against the road.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iomanip>
#include <regex>
#include <string>
#include <vector>

#include "board/host_tools.h"
#include "prepared_card.h"
#include "support/sim_run.h"

namespace {

using testing_board::SimRun;

// The road: 35 N, from 139.00 E to 139.06 E (about 5.5 km).
constexpr double kRoadLat = 35.0, kRoadLon0 = 139.0, kRoadLon1 = 139.06;
// The recording thread's trace when a pair is closed.
constexpr const char* kWriteEnd = "SD write End";

double degreesOf(double ddmm) {
  double whole = std::trunc(ddmm / 100);
  return whole + (ddmm - whole * 100) / 60;
}

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Seconds since the epoch of the simulated wall time of a timeline line.
double worldOf(const std::string& timelineLine) { return testing_board::timelineStamp(timelineLine, "time"); }

// The board's own clock of a timeline line ("board_time"), or -1 for a line without one.
double boardTimeOf(const std::string& timelineLine) { return testing_board::timelineStamp(timelineLine, "board_time"); }

class GpsE2E : public PreparedCardE2E {
 protected:
  // With `until`, the run stops in order once the console holds that text `times` times (the
  // program's own signal, such as the end of a pair's write), however slowly the machine runs it.
  SimRun run(const std::string& scenario, std::vector<std::string> extra, const std::string& until = "",
             int times = 1) {
    std::string route = dir + "/road.gpx";
    std::ofstream(route) << std::setprecision(10) << "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\"><trk><trkseg>\n"
                         << "<trkpt lat=\"" << kRoadLat << "\" lon=\"" << kRoadLon0 << "\"><ele>20</ele></trkpt>\n"
                         << "<trkpt lat=\"" << kRoadLat << "\" lon=\"" << kRoadLon1 << "\"><ele>20</ele></trkpt>\n"
                         << "</trkseg></trk></gpx>\n";
    // The speed the other recording runs use; the clock is judged from the timeline's board_time.
    std::vector<std::string> args = {"--speed", "10", "--start", "2026-06-01 08:00:00", "--gps-ttff", "5",
                                     "--route", route};
    args.insert(args.end(), extra.begin(), extra.end());
    SimRun r = until.empty() ? testing_board::runSim(RECORDER_SIM_PATH, dir, args, scenario)
                             : testing_board::runSimUntil(RECORDER_SIM_PATH, dir, args, scenario, until, times);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r;
  }

  // The frames of the one event recording, or none.
  std::vector<vdr::Frame> eventFrames() {
    auto pairs = recordings("event");
    EXPECT_EQ(pairs.size(), 1u);
    if (pairs.size() != 1) return {};
    EXPECT_TRUE(pairs[0].problems.empty()) << pairs[0].problems.front();
    return pairs[0].frames;
  }

  // Every frame with a valid position lies on the road, its comment block says the same as its
  // index entry, and the position moves east from second to second at the speed it reports.
  // Gives the number of valid frames.
  int expectPositionsOnTheRoad(const std::vector<vdr::Frame>& frames, bool ubx) {
    int valid = 0;
    int lastSecond = -1;
    std::vector<double> lons;
    double speeds = 0;  // metres the reported speeds account for between the first and last second
    for (const vdr::Frame& f : frames) {
      const vr::FrameIndexEntry& e = f.entry;
      EXPECT_TRUE(f.commentRead);
      EXPECT_EQ(f.comment.gpsValid, e.gpsValid);
      if (!e.gpsValid) continue;
      ++valid;
      double lat = degreesOf(e.latitude.get()), lon = degreesOf(e.longitude.get());
      EXPECT_NEAR(lat, kRoadLat, 2e-5);  // within about 2 m
      EXPECT_GE(lon, kRoadLon0 - 1e-5);
      EXPECT_LE(lon, kRoadLon1 + 1e-5);
      EXPECT_DOUBLE_EQ(f.comment.latitude.get(), e.latitude.get());
      EXPECT_DOUBLE_EQ(f.comment.longitude.get(), e.longitude.get());
      EXPECT_EQ(f.comment.course.get(), e.course.get());
      if (e.speed.get() > 5) {
        EXPECT_NEAR(e.course.get(), 90, 1) << "heading east";
      }
      if (ubx) {
        EXPECT_NEAR(e.altitude.get(), 20, 2);
      }
      int second = e.second.get() + 60 * e.minute.get();
      if (second != lastSecond) {
        if (lastSecond >= 0) speeds += e.speed.get() / 3.6 * (second - lastSecond);
        lons.push_back(lon);
        lastSecond = second;
      }
    }
    // The position changes from second to second.
    int moves = 0;
    for (size_t i = 1; i < lons.size(); ++i) moves += lons[i] > lons[i - 1];
    EXPECT_GE(moves, static_cast<int>(lons.size()) / 2) << "of " << lons.size();
    // Over the whole span the road driven matches the speeds reported (a fix that reached its
    // frames a second late shifts one second, not the sum).
    if (lons.size() >= 5) {
      double metres = (lons.back() - lons.front()) * 111320.0 * std::cos(kRoadLat * 3.14159265358979 / 180);
      EXPECT_NEAR(metres, speeds, 0.15 * speeds + 30);
    }
    return valid;
  }

  // vdrtool's GPX is read by gpsbabel and its points lie on the road; its subtitles are
  // accepted by ffprobe; ls shows where the recording starts.
  void expectExportsForMapsAndPlayers(int validFrames) {
    std::string out;
    ASSERT_EQ(sim::runTool({VDRTOOL_PATH, "ls", cardFiles()}, &out), 0) << out;
    EXPECT_NE(out.find("position"), std::string::npos) << out;
    EXPECT_NE(out.find("35.00000N 139.0"), std::string::npos) << out;

    std::string gpx = dir + ".gpx", csv = dir + ".csv", srt = dir + ".srt.d";
    ASSERT_EQ(sim::runTool({VDRTOOL_PATH, "export", cardFiles(), "--gpx", gpx}, &out), 0) << out;
    ASSERT_EQ(sim::runTool({"gpsbabel", "-t", "-i", "gpx", "-f", gpx, "-o", "unicsv", "-F", csv}, &out), 0) << out;
    EXPECT_EQ(out, "") << "gpsbabel complains";
    std::ifstream in(csv);
    std::string header, line;
    std::getline(in, header);
    int points = 0;
    while (std::getline(in, line)) {
      double lat = 0, lon = 0;
      ASSERT_EQ(sscanf(line.c_str(), "%*d,%lf,%lf", &lat, &lon), 2) << header << "\n" << line;
      EXPECT_NEAR(lat, kRoadLat, 2e-5);
      EXPECT_GE(lon, kRoadLon0 - 1e-5);
      EXPECT_LE(lon, kRoadLon1 + 1e-5);
      ++points;
    }
    EXPECT_NEAR(points, validFrames / 10, 2) << "a point a second";

    ASSERT_EQ(sim::runTool({VDRTOOL_PATH, "export", cardFiles(), "--srt", srt}, &out), 0) << out;
    std::string file;
    for (const auto& e : std::filesystem::directory_iterator(srt)) file = e.path().string();
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(sim::runTool({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0", file},
                           &out),
              0)
        << out;
    EXPECT_EQ(out, "subrip\n");
    std::ifstream subs(file);
    std::string all((std::istreambuf_iterator<char>(subs)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("1\n00:00:00,000 --> 00:00:01,"), std::string::npos) << all.substr(0, 200);
    EXPECT_NE(all.find(" km/h  35.00000N 139.0"), std::string::npos);
    EXPECT_NE(all.find("no position"), std::string::npos) << "the seconds after the fix was lost";
    std::filesystem::remove(gpx);
    std::filesystem::remove(csv);
    std::filesystem::remove_all(srt);
  }
};

TEST_F(GpsE2E, UbloxIsConfiguredDetectedSetsTheClockOnceAndRecordingsCarryTheRoad) {
  SimRun r = run("60 press rec\n62 gps fix lost\n", {"--rtc-offset", "-10"}, kWriteEnd);
  std::string console = r.console();

  // Every configuration frame, in order, each acknowledged.
  const char* acks[] = {"ReturnMsgId 24", "ReturnMsgId 00", "ReturnMsgId 01", "ReturnMsgId 13", "ReturnMsgId 16",
                        "ReturnMsgId 24", "ReturnMsgId 01", "ReturnMsgId 01", "ReturnMsgId 01", "ReturnMsgId 01",
                        "ReturnMsgId 01", "ReturnMsgId 01", "ReturnMsgId 01"};
  size_t at = console.find("UbxConfig()");
  ASSERT_NE(at, std::string::npos) << console;
  for (const char* a : acks) {
    at = console.find(std::string("Recieved Ack ClassId 05, MsgId 01, ReturnClassId 06, ") + a, at);
    ASSERT_NE(at, std::string::npos) << a;
    ++at;
  }
  EXPECT_NE(console.find("CFG_PRT Polling CONFIG : OK"), std::string::npos);
  size_t done = console.find("~UbxConfig()", at);
  size_t detected = console.find(">>> UBX GPS detected <<<", done);
  ASSERT_NE(detected, std::string::npos) << console;
  EXPECT_EQ(countOf(console, "GPS detected"), 1u);
  EXPECT_EQ(countOf(console, "Nak!!!!"), 0u);

  // The board started 10 s behind; one clock setting brings it and its chip to the true time.
  EXPECT_EQ(countOf(console, "MSG_SET_GPS_TIME"), 1u);
  std::vector<std::string> lines = r.timeline();
  size_t setAt = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find("MSG_SET_GPS_TIME") != std::string::npos) setAt = i;
  }
  ASSERT_LT(setAt, lines.size());
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[setAt], m, std::regex("MSG_SET_GPS_TIME : ([0-9]+)")));
  double gpsSeconds = std::stod(m[1]);
  EXPECT_GE(worldOf(lines[setAt]) - gpsSeconds, 0) << "the GPS time is the receiver's last epoch";
  EXPECT_LT(worldOf(lines[setAt]) - gpsSeconds, 3);
  // The time reaches the program through a 9600-baud line and the GPS thread: half a second on an
  // idle PC. At ten times the board's speed, every 100 ms a loaded PC keeps that thread waiting
  // adds a simulated second more.
  constexpr double kLoadedLatency = 2.0;
  int before = 0, after = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    double board = boardTimeOf(lines[i]);
    if (board < 0) continue;  // a line of recorder-sim itself
    double off = board - worldOf(lines[i]);
    if (i + 1 < setAt) {
      // Before the program set its clock from the chip the board ran at the true time.
      before += std::fabs(off + 10.5) <= 1.0;
    } else if (i > setAt) {
      EXPECT_LE(off, 1.0) << lines[i];
      EXPECT_GE(off, -1.0 - kLoadedLatency) << lines[i];
      ++after;
    }
  }
  EXPECT_GT(before, 0);
  EXPECT_GT(after, 10);
  std::ifstream chip(dir + "/ds1337.rtc");
  std::string text((std::istreambuf_iterator<char>(chip)), std::istreambuf_iterator<char>());
  ASSERT_TRUE(std::regex_search(text, m, std::regex("chip_seconds ([0-9]+)\nworld_ns ([0-9]+)")));
  double chipBehind = std::stod(m[2]) / 1e9 - (std::stod(m[1]) - 2208988800.0);
  // The chip counts whole seconds from its setting: a reading lies up to one second behind it.
  EXPECT_GT(chipBehind, -1.0);
  EXPECT_LT(chipBehind, 2.0 + kLoadedLatency);

  // The recording: REC pressed at 60, fix lost at 62.
  auto frames = eventFrames();
  ASSERT_FALSE(frames.empty());
  int valid = expectPositionsOnTheRoad(frames, true);
  EXPECT_GE(valid, 10 * 10) << "frames of the seconds before the fix was lost";
  // After the sky is lost the receiver reports no fix: the last seconds are not valid.
  const vdr::Frame& last = frames.back();
  EXPECT_EQ(last.entry.gpsValid, 0);
  EXPECT_EQ(last.comment.gpsValid, 0);

  expectExportsForMapsAndPlayers(valid);
}

TEST_F(GpsE2E, APowerDipConfiguresAndProbesTheReceiverAgainBeforeReading) {
  SimRun r = run("20 power off\n20.2 power on\n", {}, ">>> UBX GPS detected <<<", 2);
  std::string console = r.console();
  size_t first = console.find(">>> UBX GPS detected <<<");
  ASSERT_NE(first, std::string::npos) << console;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(console.cbegin() + static_cast<long>(first), console.cend(), m,
                                std::regex("GPS_____[0-9]{4}: MSG_POWER_SHORT_CUT")));
  size_t dip = first + static_cast<size_t>(m.position(0));
  size_t config = console.find("UbxConfig()", dip);
  size_t again = console.find(">>> UBX GPS detected <<<", dip);
  ASSERT_NE(config, std::string::npos);
  ASSERT_NE(again, std::string::npos);
  EXPECT_LT(config, again);
  // Nothing is read between the dip and the new configuration.
  EXPECT_EQ(console.substr(dip, config - dip).find("failed to ReadComPort"), std::string::npos);
}

TEST_F(GpsE2E, FurunoIsDetectedAndRecordingsCarryTheRoad) {
  SimRun r = run("60 press rec\n", {"--gps", "furuno"}, kWriteEnd);
  std::string console = r.console();
  EXPECT_NE(console.find(">>> FURUNO GPS detected <<<"), std::string::npos) << console;
  EXPECT_EQ(countOf(console, ">>> UBX GPS detected"), 0u);
  auto frames = eventFrames();
  ASSERT_FALSE(frames.empty());
  // The frames written after the trigger carry positions; whether the pre-trigger frames get the
  // fixes queued meanwhile is the recording thread's matching (seen to drop them with Furuno).
  EXPECT_GE(expectPositionsOnTheRoad(frames, false), 10 * 3);
}

// Receivers the recorder cannot use: never detected, the cycle goes on, recording works.
TEST_F(GpsE2E, NmeaOnlyAndNoReceiverAreNeverDetectedAndRecordingGoesOn) {
  for (const char* kind : {"nmea", "none"}) {
    SCOPED_TRACE(kind);
    SimRun r = run("60 press rec\n", {"--gps", kind}, kWriteEnd);
    std::string console = r.console();
    EXPECT_EQ(countOf(console, "GPS detected"), 0u);
    EXPECT_GE(countOf(console, "failed to MgrConfig()... 0"), 1u);
    EXPECT_GE(countOf(console, "failed to MgrProbe()... 1"), 1u);
    EXPECT_GE(countOf(console, "failed to MgrConfig()... 2"), 1u);
    EXPECT_EQ(countOf(console, "MSG_SET_GPS_TIME"), 0u);
    auto frames = eventFrames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.size(), 21u * 10);
    for (const auto& f : frames) ASSERT_EQ(f.entry.gpsValid, 0);
    image.reset();
    if (!HasFailure()) {
      testing_board::removeBoardDir(dir);
      SetUp();
    }
  }
}

}  // namespace
