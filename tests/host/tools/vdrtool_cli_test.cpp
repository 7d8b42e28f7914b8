// vdrtool as a user meets it: what it says about a wrong path, where its help goes, which
// directories it accepts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pair_writer.h"

namespace {

namespace fs = std::filesystem;
using vdrtest::runTool;

class VdrtoolCli : public vdrtest::PairWriter {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vdrtool-cli-XXXXXX";
    scratch = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(scratch); }
  std::string scratch;
};

TEST_F(VdrtoolCli, AMissingPathIsAnErrorForEveryCommand) {
  std::string missing = scratch + "/nosuch/card.img";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"ls", missing}, {"check", "--decode", missing}, {"export", missing, "--csv", scratch + "/x.csv"}}) {
    vdrtest::ToolRun r = runTool(VDRTOOL_PATH, args);
    EXPECT_EQ(r.code, 1) << args[0];
    EXPECT_NE(r.err.find("no such file or directory"), std::string::npos) << args[0] << ": " << r.err;
    EXPECT_EQ(r.out.find("0 recordings"), std::string::npos) << "nothing is reported as checked";
  }
  EXPECT_FALSE(fs::exists(scratch + "/x.csv"));
}

TEST_F(VdrtoolCli, APathWithNoCardAndNoRecordingsIsAnError) {
  fs::create_directories(scratch + "/photos");
  std::ofstream(scratch + "/notes.txt") << "not a card\n";
  for (const std::string& path : {scratch + "/photos", scratch + "/notes.txt"}) {
    vdrtest::ToolRun r = runTool(VDRTOOL_PATH, {"check", path});
    EXPECT_EQ(r.code, 1) << path;
    EXPECT_FALSE(r.err.empty()) << path;
  }
  // A card that holds no recording yet is still a card.
  fs::create_directories(scratch + "/card/CH1/event");
  vdrtest::ToolRun r = runTool(VDRTOOL_PATH, {"ls", scratch + "/card"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("no recordings"), std::string::npos);
}

TEST_F(VdrtoolCli, ABoardDirectoryIsReadThroughItsCard) {
  writePair(12);
  std::string boardDir = scratch + "/board";
  fs::create_directories(boardDir);
  std::ofstream(boardDir + "/card.ini") << "[card]\n";
  fs::create_directory_symlink(card.dir(), boardDir + "/card.dir");
  vdrtest::ToolRun r = runTool(VDRTOOL_PATH, {"check", boardDir});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("1 recordings, 0 damaged"), std::string::npos) << r.out;
}

TEST_F(VdrtoolCli, HelpGoesToStandardOutputAndSucceeds) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"ls", "--help"}, {"export", "--help"}}) {
    vdrtest::ToolRun r = runTool(VDRTOOL_PATH, args);
    EXPECT_EQ(r.code, 0) << args[0];
    EXPECT_NE(r.out.find("vdrtool export PATH"), std::string::npos) << args[0];
    EXPECT_EQ(r.err, "") << args[0];
  }
  vdrtest::ToolRun wrong = runTool(VDRTOOL_PATH, {"lss", "x"});
  EXPECT_EQ(wrong.code, 2);
  EXPECT_NE(wrong.err.find("unknown command"), std::string::npos);
}

}  // namespace
