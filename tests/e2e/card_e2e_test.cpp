// The card and the firmware upgrade end to end: recorder-sim boots the board on a card image and
// the outcome is read back from the image with independent tools (fsck.fat, mtools).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "board/card/card_image.h"
#include "board/card/card_store.h"
#include "board/host_tools.h"
#include "support/host_files.h"
#include "support/sim_run.h"

namespace {

namespace fs = std::filesystem;

const char kDefaultSetDat[] =
    "[SET]\nPOSTFIELD1=4\nPOSTRECINT1=10\nPOSTSIZE1=64\nRECMOD=2\nTRGSET=3\nACCSEN=9\nACCSENX=4\nACCSENY=4\n"
    "ACCSENZ=4\nRECINGMODE1=2\nPRERECTIME1=15\nPOSTRECTIME1=5\nPRERECINT1=10\nPRESIZE1=64\nPREFIELD1=4\n"
    "BEEPRECORD=1\n";

std::string simPath() {
  const char* env = getenv("RECORDER_SIM_PATH");
  return env ? env : RECORDER_SIM_PATH;
}

struct SimRun {
  int status = -1;
  std::string output;
};

SimRun runSim(const std::string& board, const std::string& scenario, std::vector<std::string> options) {
  std::string scenarioPath = board + ".scenario";
  std::ofstream(scenarioPath, std::ios::trunc) << scenario;
  std::vector<std::string> argv = {simPath(), "--board", board, "--scenario", scenarioPath, "--speed", "20"};
  argv.insert(argv.end(), options.begin(), options.end());
  SimRun run;
  run.status = sim::runTool(argv, &run.output);
  testing_board::reportSanitizerFindings(run.output);
  fs::remove(scenarioPath);
  return run;
}

// Runs until the board's console holds the text (the program's own signal that it got that far),
// then stops the run in order: no fixed duration that a slow machine could cut short.
SimRun runSimUntil(const std::string& board, const std::string& scenario, std::vector<std::string> options,
                   const std::string& text) {
  std::vector<std::string> args = {"--speed", "20"};
  args.insert(args.end(), options.begin(), options.end());
  testing_board::SimRun r = testing_board::runSimUntil(simPath(), board, args, scenario, text);
  SimRun run;
  run.status = r.exitCode;
  run.output = r.output;
  return run;
}

int countOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The reset button and the buzzer/LED timer come with the GPIO and timer drivers; until they are
// on the board, recorder-sim does not know the button's actions and the start-up cannot run.
bool boardHasResetButton(std::string* why) {
  static int known = -1;
  static std::string reason;
  if (known < 0) {
    std::string board = fs::temp_directory_path() / ("card-e2e-probe-" + std::to_string(getpid()));
    // The supply off at power-on: the scenario is checked, and no board boots.
    SimRun run = runSim(board, "0 power off\n0 hold reset\n0 release reset\n", {"--no-card"});
    fs::remove_all(board);
    known = !(run.status == 2 && run.output.find("unknown action") != std::string::npos);
    reason = "recorder-sim does not know the reset button yet (" + run.output.substr(0, run.output.find('\n')) +
             "): the GPIO and timer drivers are not on this branch";
  }
  *why = reason;
  return known == 1;
}

class CardEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!boardHasResetButton(&why)) GTEST_SKIP() << why;
    char pattern[] = "/tmp/card-e2e-XXXXXX";
    board_ = mkdtemp(pattern);
  }
  void TearDown() override {
    if (board_.empty()) return;
    sim::cleanUpCardMount(board_);
    std::error_code ec;
    fs::remove_all(board_, ec);
  }

  sim::CardState state() const {
    sim::CardState s;
    EXPECT_TRUE(sim::loadCardState(board_, &s));
    return s;
  }
  std::string cardFile(const std::string& path) const {
    std::string text;
    EXPECT_TRUE(sim::openCardStore(board_, state())->readFile(path, &text)) << path;
    return text;
  }
  // fsck.fat -n on the image; only meaningful when the image holds the files.
  void expectCleanImage() const {
    if (state().backend != sim::CardBackend::Fuse) return;
    std::string report;
    EXPECT_EQ(sim::runTool({"fsck.fat", "-n", sim::cardImagePath(board_)}, &report), 0) << report;
  }
  void expectFormattedTree(int fatBits, const SimRun& run) const {
    sim::FatInfo fat = sim::readFatInfo(sim::cardImagePath(board_));
    EXPECT_EQ(fat.fatBits, fatBits);
    EXPECT_EQ(fat.label, "ZIDADORI1");
    for (const char* dir : {"CH1/", "CH1/event/", "CH1/normal/", "config/", "log/"}) {
      EXPECT_NE(run.output.find(std::string("[sim]   ") + dir + "\n"), std::string::npos) << dir << run.output;
    }
    EXPECT_NE(run.output.find("@@ END FORMAT SD"), std::string::npos) << run.output;
    expectCleanImage();
  }

  std::string board_;
};

TEST_F(CardEndToEnd, ABlankCardWithResetHeldIsFormattedFat16WithTheDefaults) {
  SimRun run = runSimUntil(board_, "0 hold reset\n", {"--card-size", "2000", "--blank-card"},
                           "@@ END FORMAT SD");
  EXPECT_EQ(run.status, 0) << run.output;
  expectFormattedTree(16, run);
  EXPECT_EQ(cardFile("config/set.dat"), kDefaultSetDat);
}

TEST_F(CardEndToEnd, FourThousandMiBIsFormattedFat32) {
  SimRun run = runSimUntil(board_, "0 hold reset\n", {"--card-size", "4000", "--blank-card"},
                           "@@ END FORMAT SD");
  EXPECT_EQ(run.status, 0) << run.output;
  expectFormattedTree(32, run);
}

TEST_F(CardEndToEnd, OneMillionSixHundredThousandKiBIsRefusedOneMoreStarts) {
  SimRun small = runSimUntil(board_, "", {"--card-size", "1600000K"}, "failed to init()");
  EXPECT_NE(small.output.find("ERROR : SD Size is under 2GB : 1600000"), std::string::npos) << small.output;
  EXPECT_NE(small.output.find("failed to init()"), std::string::npos);

  SimRun enough = runSimUntil(board_, "", {"--card-size", "1600001K"}, "Start RECORD Loop");
  EXPECT_EQ(enough.output.find("SD Size is under 2GB"), std::string::npos) << enough.output;
  EXPECT_EQ(enough.output.find("failed to init()"), std::string::npos) << enough.output;
  expectCleanImage();
}

TEST_F(CardEndToEnd, TheSettingsOnTheCardAreReadAtStart) {
  // The card's set.ini is read before the format and written back as set.dat after it. The
  // button stays held: the program looks at it once it has started, which takes longer than a
  // few simulated seconds on a loaded machine, and it acts on a press, not on a held button.
  SimRun run = runSimUntil(board_, "0 settings RECMOD=1 TRGSET=1 PRERECTIME1=10 POSTRECTIME1=10\n0 hold reset\n",
                           {"--card-size", "2000"}, "@@ END FORMAT SD");
  EXPECT_EQ(run.status, 0) << run.output;
  std::string setDat = cardFile("config/set.dat");
  EXPECT_NE(setDat.find("RECMOD=1\nTRGSET=1\n"), std::string::npos) << setDat;
  EXPECT_NE(setDat.find("PRERECTIME1=10\nPOSTRECTIME1=10\n"), std::string::npos) << setDat;
}

TEST_F(CardEndToEnd, APackageIsFlashedTheBoardRebootsOnceAndThenItIsAlreadyUpgraded) {
  // A card as the unit leaves it, with a package in program/ whose root file system carries the
  // new version.
  sim::CardState s;
  s.present = true;
  s.sizeK = 2000 * 1024;
  s.backend = sim::fuseAvailable() ? sim::CardBackend::Fuse : sim::CardBackend::Directory;
  std::string error;
  ASSERT_TRUE(sim::prepareCardAsUnit(board_, s, &error)) << error;
  sim::saveCardState(board_, s);
  fs::path work = fs::path(board_) / "package";
  fs::create_directories(work / "root");
  std::ofstream(work / "root/version") << "VERSION=KVOX_2.0.1.RC2\n";
  ASSERT_EQ(sim::runTool({"tar", "-cf", (work / "fs").string(), "-C", (work / "root").string(), "version"}), 0);
  std::ofstream(work / "Image") << "new kernel";
  ASSERT_EQ(sim::runTool({"tar", "-cf", (work / "KVOX_2.0.1.RC2.bin").string(), "-C", work.string(), "fs", "Image"}), 0);
  {
    std::string package = testing_board::hostFileText(work / "KVOX_2.0.1.RC2.bin");
    auto store = sim::openCardStore(board_, s);
    ASSERT_TRUE(store->makeDir("program", &error)) << error;
    ASSERT_TRUE(store->writeFile("program/KVOX_2.0.1.RC2.bin", package, &error)) << error;
  }
  fs::remove_all(work);

  SimRun run = runSimUntil(board_, "", {}, "Already Upgraded");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(countOf(run.output, "[sim] the board reboots"), 1) << run.output;
  EXPECT_EQ(countOf(run.output, "records out"), 2) << run.output;  // Image and fs, once each
  EXPECT_NE(run.output.find("Already Upgraded"), std::string::npos) << run.output;
  std::ifstream version(board_ + "/rootfs/version");
  std::string line;
  std::getline(version, line);
  EXPECT_EQ(line, "VERSION=KVOX_2.0.1.RC2");
  expectCleanImage();
}

}  // namespace
