// A whole board under recorder-sim: no card, a REC press, a power cut and the power back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/sim_run.h"

namespace {

namespace fs = std::filesystem;

struct Line {
  double t;
  std::string event;
  std::string text;
};

std::string field(const std::string& json, const std::string& key) {
  std::smatch m;
  std::regex string("\"" + key + "\":\"([^\"]*)\"");
  if (std::regex_search(json, m, string)) return m[1];
  std::regex number("\"" + key + "\":([-0-9.a-z]+)");
  if (std::regex_search(json, m, number)) return m[1];
  return "";
}

std::vector<Line> timeline(const std::string& dir) {
  std::vector<Line> lines;
  std::ifstream in(dir + "/timeline.jsonl");
  for (std::string l; std::getline(in, l);) lines.push_back({std::stod(field(l, "t")), field(l, "event"), l});
  return lines;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class PowerCycle : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/recorder-e2e-XXXXXX";
    dir = mkdtemp(pattern);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir);
  }
  int run(const std::string& scenario, const std::string& extra = "") {
    std::ofstream(dir + "/scenario") << scenario;
    std::string command = std::string(RECORDER_SIM_PATH) + " --board " + dir + "/board --speed 10 --scenario " +
                          dir + "/scenario " + extra + " > " + dir + "/out.txt 2>&1";
    int status = std::system(command.c_str());
    testing_board::reportSanitizerFindings(readFile(dir + "/out.txt"));
    return status;
  }
  std::string dir;
};

// Finds the first line of `event` (whose text holds `needle`) at or after index `from`.
size_t find(const std::vector<Line>& lines, size_t from, const std::string& event, const std::string& needle = "") {
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].event == event && lines[i].text.find(needle) != std::string::npos) return i;
  }
  return lines.size();
}

TEST_F(PowerCycle, NoCardRecPressPowerCutAndRecovery) {
  // The supply comes back 20 s after the cut: the back-up capacitor holds the idle board that
  // long (the default hold-up is that of a board still writing).
  ASSERT_EQ(run("20 press rec\n40 power off\n60 power on\n75 stop\n", "--no-card --hold-up 30"), 0) << readFile(dir + "/out.txt");
  auto lines = timeline(dir + "/board");
  std::string console = readFile(dir + "/board/console.log");

  size_t failure = find(lines, 0, "pattern", "\"sdfailure\"");
  ASSERT_LT(failure, lines.size());
  EXPECT_LT(lines[failure].t, 5);

  size_t press = find(lines, failure, "button", "\"pressed\"");
  ASSERT_LT(press, lines.size());
  EXPECT_NEAR(lines[press].t, 20, 0.5);
  size_t cleared = find(lines, press, "pattern", "\"clear_sdfailure\"");
  ASSERT_LT(cleared, lines.size());
  EXPECT_LT(lines[cleared].t - lines[press].t, 1.0);

  size_t cut = find(lines, cleared, "power", "false");
  ASSERT_LT(cut, lines.size());
  size_t shutdown = find(lines, cut, "console", "@@ Shutdown absolutely");
  ASSERT_LT(shutdown, lines.size());
  std::smatch m;
  std::string text = lines[shutdown].text;
  ASSERT_TRUE(std::regex_search(text, m, std::regex("charging time = ([0-9]+)sec")));
  EXPECT_LT(std::stoi(m[1]), 105);
  EXPECT_LT(lines[shutdown].t - lines[cut].t, 2.0);  // two low polls, 250 ms apart
  size_t off = find(lines, shutdown, "pattern", "\"poweroff\"");
  ASSERT_LT(off, lines.size());

  size_t back = find(lines, off, "power", "true");
  ASSERT_LT(back, lines.size());
  EXPECT_EQ(find(lines, off, "board-off"), lines.size()) << "the board died before the supply came back";
  size_t reboot = find(lines, back, "reboot");
  ASSERT_LT(reboot, lines.size());
  EXPECT_LT(lines[reboot].t - lines[back].t, 2.0);  // the next poll of the line
  size_t second = find(lines, reboot, "boot", "\"boot\":2");
  ASSERT_LT(second, lines.size());
  EXPECT_LT(find(lines, second, "pattern", "\"sdfailure\""), lines.size());

  size_t recovered = console.find("Power is recoveried... REBOOT!!");
  ASSERT_NE(recovered, std::string::npos);
  EXPECT_LT(console.find("[sim] power on"), recovered);
  EXPECT_LT(recovered, console.find("[sim] boot 2"));
  EXPECT_NE(readFile(dir + "/board/kernel.log").find("[RTC]: Register RTC driver success"), std::string::npos);
}

TEST_F(PowerCycle, ResetButtonHeldFromPowerOnStaysHeldAcrossBootsUntilReleased) {
  ASSERT_EQ(run("0 hold reset\n5 power off\n7 power on\n10 release reset\n12 press reset\n14 stop\n", "--hold-up 30"), 0);
  std::string console = readFile(dir + "/board/console.log");
  size_t first = console.find("[sim] boot 1");
  size_t second = console.find("[sim] boot 2");
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(console.find("[board] the reset button is held", first), std::string::npos);
  EXPECT_NE(console.find("[board] the reset button is held", second), std::string::npos);
  // Released, a press reaches the program as the reset switch.
  EXPECT_NE(console.find("RECEIVED KVOX_RESET_SWITCH", second), std::string::npos);
  auto lines = timeline(dir + "/board");
  size_t held = find(lines, 0, "button", "\"held\"");
  ASSERT_LT(held, lines.size());
  EXPECT_LT(held, find(lines, 0, "boot"));  // in place before the first power-on
  size_t release = find(lines, 0, "button", "\"released\"");
  ASSERT_LT(release, lines.size());
  EXPECT_NEAR(lines[release].t, 10, 0.5);
}

}  // namespace
