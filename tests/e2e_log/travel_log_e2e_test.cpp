// The travel log end to end: recorder-sim drives the car and the u-blox receiver, and the log
// files on the card are read back, checked sentence by sentence, decoded by gpsd's gpsdecode and
// held against the car's true path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "board/vehicle/vehicle.h"
#include "card_image.h"
#include "travel_log.h"
#include "support/sim_run.h"

namespace {

namespace fs = std::filesystem;
using testing_board::SimRun;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// One log entry: its sentences, the last one $KVOXL.
struct Entry {
  std::vector<std::string> sentences;
  int x = 0, y = 0, z = 0;
  int64_t time = 0;  // the KVOXL time, local, as seconds on a UTC scale
};

struct LogFile {
  std::string name;
  int sequence = 0;
  int64_t nameTime = 0;  // local, on a UTC scale
  std::vector<Entry> entries;
  std::string text;
  std::vector<std::string> problems;  // lines without CR LF or checksum, a cut entry
};

bool checksumOk(const std::string& line) {
  size_t star = line.rfind('*');
  if (line.empty() || line[0] != '$' || star == std::string::npos || star + 3 != line.size()) return false;
  unsigned sum = 0;
  for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
  return strtoul(line.c_str() + star + 1, nullptr, 16) == sum;
}

// Reads a log file; every line must end in CR LF and carry a valid checksum, every entry end
// with a $KVOXL line.
LogFile readLog(const fs::path& path) {
  LogFile f;
  f.name = path.filename();
  f.text = readAll(path);
  int y, mo, d, h, mi, s;
  EXPECT_EQ(sscanf(f.name.c_str(), "%d,%d.%d.%d,%d.%d.%d.log", &f.sequence, &y, &mo, &d, &h, &mi, &s), 7) << f.name;
  f.nameTime = vdr::utcOf(y, mo, d, h, mi, s);
  size_t start = 0;
  Entry e;
  for (size_t end; (end = f.text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = f.text.substr(start, end - start);
    if (!checksumOk(line)) f.problems.push_back("checksum: " + line);
    e.sentences.push_back(line);
    if (line.rfind("$KVOXL,", 0) == 0) {
      char hms[8] = {}, dmy[8] = {};
      int v1, v2;
      if (sscanf(line.c_str(), "$KVOXL,%d,%d,%d,%d,%d,%6[0-9],%6[0-9],,,,*", &v1, &v2, &e.x, &e.y, &e.z, hms, dmy) != 7 ||
          v1 != 1 || v2 != 1)
        f.problems.push_back("KVOXL: " + line);
      auto two = [](const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); };
      e.time = vdr::utcOf(2000 + two(dmy + 4), two(dmy + 2), two(dmy), two(hms), two(hms + 2), two(hms + 4));
      f.entries.push_back(e);
      e = Entry{};
    }
  }
  if (start != f.text.size()) f.problems.push_back("the file ends in the middle of a line");
  if (!e.sentences.empty()) f.problems.push_back("sentences after the last $KVOXL");
  return f;
}

std::vector<LogFile> readLogs(const std::string& cardDir) {
  std::vector<LogFile> out;
  for (const char* dirName : {"log", "LOG"}) {
    fs::path dir = fs::path(cardDir) / dirName;
    if (!fs::is_directory(dir)) continue;
    std::vector<fs::path> paths;
    for (const auto& e : fs::directory_iterator(dir)) paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path& p : paths) out.push_back(readLog(p));
    break;
  }
  return out;
}

// gpsd's decoder over the text: its JSON lines and its complaints.
struct Decoded {
  int status = -1;
  std::vector<std::string> json;
  std::string errors;
};

Decoded gpsdecode(const std::string& text) {
  Decoded d;
  char in[] = "/tmp/issue12-gpsdecode-XXXXXX";
  int fd = mkstemp(in);
  if (fd < 0) return d;
  (void)!write(fd, text.data(), text.size());
  close(fd);
  std::string errPath = std::string(in) + ".err";
  FILE* p = popen(("gpsdecode -j < " + std::string(in) + " 2> " + errPath).c_str(), "r");
  if (p) {
    char line[8192];
    while (fgets(line, sizeof line, p)) d.json.emplace_back(line);
    d.status = pclose(p);
  }
  d.errors = readAll(errPath);
  unlink(in);
  unlink(errPath.c_str());
  return d;
}

double jsonNumber(const std::string& line, const std::string& key, bool* found) {
  size_t at = line.find("\"" + key + "\":");
  *found = at != std::string::npos;
  return *found ? strtod(line.c_str() + at + key.size() + 3, nullptr) : 0;
}

std::string jsonText(const std::string& line, const std::string& key) {
  size_t at = line.find("\"" + key + "\":\"");
  if (at == std::string::npos) return "";
  at += key.size() + 4;
  return line.substr(at, line.find('"', at) - at);
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class TravelLogEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testing_board::makeBoardDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    if (!HasFailure()) testing_board::removeBoardDir(dir);
  }
  std::vector<LogFile> logs() {
    std::string error;
    EXPECT_TRUE(card.extract(dir + "/card.img", &error)) << error;
    return readLogs(card.dir());
  }

  std::string dir;
  vdr::CardImage card;
};

// 75 minutes from 08:20 local time (23:20 UTC the day before), across 09:00, with the u-blox
// receiver and a cold start of two minutes; a shock at 600 s; the supply cut for a moment at
// 4260 s.
TEST_F(TravelLogEndToEnd, HourlyFilesOfCheckedSentencesOnTheCarsPath) {
  const int64_t startLocal = vdr::utcOf(2026, 6, 1, 8, 20, 0);
  const int64_t startUtc = startLocal - 9 * 3600;
  const int kShock = 600, kCut = 4260;
  // The run ends on the program's own signal: the third file opened after the supply came back.
  testing_board::SimProcess sim(RECORDER_SIM_PATH, dir,
                                {"--speed", "12", "--start", "2026-06-01 08:20:00", "--tz", "JST-9", "--gps-ttff", "120"},
                                "600 shock 2500 0 0 300\n4260 power off\n4262 power on\n");
  ASSERT_TRUE(sim.started());
  EXPECT_TRUE(sim.waitForConsole("File Open... /mnt/log/log/0000000003,", 780));
  SimRun r = sim.stop();
  testing_board::reportSanitizerFindings(r.output);
  std::vector<LogFile> files = logs();
  ASSERT_EQ(files.size(), 3u) << r.output.substr(r.output.size() > 3000 ? r.output.size() - 3000 : 0);

  // Consecutive numbers; each file named after its first entry, in local time.
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_TRUE(files[i].problems.empty()) << files[i].name << ": " << files[i].problems.front();
    EXPECT_EQ(files[i].sequence, static_cast<int>(i + 1)) << files[i].name;
    ASSERT_FALSE(files[i].entries.empty()) << files[i].name;
    EXPECT_EQ(files[i].nameTime, files[i].entries.front().time) << files[i].name;
  }
  // Nothing before the capacitor is charged (45 s after the start).
  EXPECT_GE(files[0].nameTime, startLocal + 44);
  EXPECT_LT(files[0].nameTime, startLocal + 90);
  // The clock hour: 8 o'clock in the first file, 9 o'clock from its first second in the second.
  EXPECT_EQ(files[0].name.substr(10, 15), ",2026.06.01,08.");
  EXPECT_EQ(files[1].name.substr(10), ",2026.06.01,09.00.00.log");
  for (const Entry& e : files[0].entries) EXPECT_LT(e.time, startLocal + 40 * 60);
  // After the supply came back, the sequence goes on.
  EXPECT_GT(files[2].nameTime, startLocal + kCut);

  // One entry a second: the time goes back only where the GPS thread set the clock, and (on a
  // loaded machine) hardly a second is missing.
  std::vector<Entry> all;
  for (int i = 0; i < 2; ++i) all.insert(all.end(), files[i].entries.begin(), files[i].entries.end());
  int backwards = 0;
  std::vector<int64_t> seconds;
  for (size_t i = 0; i < all.size(); ++i) {
    if (i > 0 && all[i].time <= all[i - 1].time) ++backwards;
    seconds.push_back(all[i].time);
  }
  EXPECT_LE(backwards, count(r.console(), "MSG_SET_GPS_TIME : "));
  std::sort(seconds.begin(), seconds.end());
  seconds.erase(std::unique(seconds.begin(), seconds.end()), seconds.end());
  int64_t span = seconds.back() - seconds.front() + 1;
  EXPECT_GE(static_cast<double>(seconds.size()), 0.90 * static_cast<double>(span)) << span;
  EXPECT_GE(span, kCut - 60 - 45);

  // Before the first fix an entry is $KVOXL alone; afterwards GGA, GSV..., RMC, KVOXL.
  ASSERT_EQ(all.front().sentences.size(), 1u);
  size_t firstFix = 0;
  while (firstFix < all.size() && all[firstFix].sentences.size() == 1) ++firstFix;
  ASSERT_LT(firstFix, all.size());
  EXPECT_LE(all[firstFix].time, startLocal + 180);
  for (size_t i = firstFix; i < all.size(); ++i) {
    const std::vector<std::string>& s = all[i].sentences;
    ASSERT_GE(s.size(), 4u);
    EXPECT_EQ(s.front().rfind("$GPGGA,", 0), 0u);
    EXPECT_EQ(s[1].rfind("$GPGSV,", 0), 0u);
    EXPECT_EQ(s[s.size() - 2].rfind("$GPRMC,", 0), 0u);
  }

  // The G values: gravity on Z throughout, and the shock's peak on X at its second.
  const Entry* peak = &all.front();
  for (const Entry& e : all) {
    EXPECT_NE(e.z, 0);
    if (std::abs(e.x) > std::abs(peak->x)) peak = &e;
  }
  // Entries carry the board's clock, which the GPS time set; on a loaded PC that clock lags the
  // true time by the seconds the GPS thread was held back, so the shock's second is taken from
  // the board's clock at the shock. (A board that a loaded PC holds back also takes its samples
  // a little late.)
  std::vector<std::string> shocks = r.events("shock");
  ASSERT_EQ(shocks.size(), 1u);
  // The board's clock in local time, read as UTC: as the log's entries hold it.
  auto shockOnBoard = static_cast<int64_t>(testing_board::timelineStamp(shocks[0], "board_time"));
  EXPECT_NEAR(static_cast<double>(shockOnBoard), static_cast<double>(startLocal + kShock), 10.0) << shocks[0];
  EXPECT_NEAR(static_cast<double>(peak->time), static_cast<double>(shockOnBoard), 3.5);

  // gpsd reads every GGA, GSV and RMC line without a complaint, and its positions are the car's.
  std::string text;
  for (const LogFile& f : files) text += f.text;
  Decoded d = gpsdecode(text);
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.errors, "");
  sim::Vehicle car;  // the default drive, the same on every boot
  int checked = 0, offSecond = 0;
  for (const std::string& line : d.json) {
    bool hasLat, hasLon;
    double lat = jsonNumber(line, "lat", &hasLat), lon = jsonNumber(line, "lon", &hasLon);
    std::string when = jsonText(line, "time");
    if (line.find("\"class\":\"TPV\"") == std::string::npos || !hasLat || !hasLon || when.empty()) continue;
    struct tm tm = {};
    ASSERT_TRUE(strptime(when.c_str(), "%Y-%m-%dT%H:%M:%S", &tm)) << line;
    int64_t t = static_cast<int64_t>(timegm(&tm)) - startUtc;
    ASSERT_GE(t, 0) << line;
    // On the route: the car's true position at the fix's second, or (the GPS thread's fix
    // records can mix the frames of neighbouring seconds, more so on a loaded PC) at one of the
    // seconds around it. How many fixes were not at their own second is counted.
    auto near = [&](const sim::VehicleState& v) {
      return std::fabs(lat - v.latDeg) < 2e-5 && std::fabs(lon - v.lonDeg) < 2e-5;
    };
    if (!near(car.at(t * 1000000000LL))) {
      bool onRoute = false;
      for (int64_t dt : {1, -1, 2, -2, 3}) {
        if (t + dt >= 0 && near(car.at((t + dt) * 1000000000LL))) onRoute = true;
      }
      EXPECT_TRUE(onRoute) << line;
      ++offSecond;
    }
    ++checked;
  }
  EXPECT_LE(offSecond, checked / 4) << "positions not at their own second";
  RecordProperty("positions_not_at_their_second", offSecond);
  EXPECT_GE(checked, 3000);
}

// No receiver, and a card that holds 70 log files of 1 MiB: the quota is full, so the oldest is
// removed before file 71 is made; its entries hold the G values alone.
TEST_F(TravelLogEndToEnd, TheQuotaRemovesTheOldestFirstAndWithoutAReceiverTheGValuesAreLogged) {
  testing_board::SimProcess sim(RECORDER_SIM_PATH, dir, {"--speed", "10", "--gps", "none", "--start", "2026-06-01 10:20:00"},
                                "0 card fill logs 70 1\n");
  ASSERT_TRUE(sim.started());
  EXPECT_TRUE(sim.waitForConsole("File Open... /mnt/log/log/0000000071,", 600));
  EXPECT_TRUE(sim.waitForConsole("|LOG] (", 600));
  SimRun r = sim.stop();
  std::string console = r.console();
  size_t removed = console.find("remove(/mnt/log/log/0000000001,");
  size_t opened = console.find("File Open... /mnt/log/log/0000000071,");
  ASSERT_NE(removed, std::string::npos) << console;
  ASSERT_NE(opened, std::string::npos) << console;
  EXPECT_LT(removed, opened);
  std::vector<LogFile> files = logs();
  ASSERT_EQ(files.size(), 70u);
  EXPECT_EQ(files.front().sequence, 2);
  EXPECT_EQ(files.back().sequence, 71);
  EXPECT_TRUE(files.back().problems.empty()) << files.back().problems.front();
  ASSERT_GE(files.back().entries.size(), 1u);
  for (const Entry& e : files.back().entries) {
    ASSERT_EQ(e.sentences.size(), 1u) << "no receiver: $KVOXL alone";
    EXPECT_NE(e.z, 0);
  }
}

// A card that fails while the log writes (it runs out of space after some two minutes of
// entries): sdfailure once, nothing more. The write that met the end of the card may have left
// part of its entry.
TEST_F(TravelLogEndToEnd, ACardThatFailsShowsSdfailureOnceAndTakesNoMoreEntries) {
  testing_board::SimProcess sim(RECORDER_SIM_PATH, dir, {"--speed", "20", "--start", "2026-06-01 10:20:00"},
                                "0 card fill free 40K\n");
  ASSERT_TRUE(sim.started());
  EXPECT_TRUE(sim.waitForConsole("Failed to logWrite()", 600));
  SimRun r = sim.stop();
  std::string console = r.console();
  EXPECT_EQ(count(console, "Failed to logWrite()") + count(console, "ERROR : Files have not opened"), 1) << console;
  EXPECT_EQ(count(console, "File Open... /mnt/log/log/"), 1);
  std::vector<std::string> failures = r.events("pattern", "\"name\":\"sdfailure\"");
  ASSERT_EQ(failures.size(), 1u);
  // What is in the file came before the failure.
  std::string at = failures[0].substr(failures[0].find("\"time\":\"") + 8, 19);
  int y, mo, d, h, mi, s;
  ASSERT_EQ(sscanf(at.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s), 6);
  std::vector<LogFile> files = logs();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_GE(files[0].entries.size(), 30u);
  for (const std::string& p : files[0].problems)
    EXPECT_TRUE(p == "the file ends in the middle of a line" || p == "sentences after the last $KVOXL") << p;
  for (const LogFile& f : files) {
    for (const Entry& e : f.entries) EXPECT_LE(e.time, vdr::utcOf(y, mo, d, h, mi, s) + 1);
  }
}

}  // namespace
