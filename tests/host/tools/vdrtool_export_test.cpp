// vdrtool's exports read back by other programs: CSV by Python's csv module.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pair_writer.h"

namespace {

namespace fs = std::filesystem;
using vdrtest::runTool;

class VdrtoolExport : public vdrtest::PairWriter {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vdrtool-export-XXXXXX";
    scratch = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(scratch); }
  std::string scratch;
};

TEST_F(VdrtoolExport, CsvReadsBackColumnForColumnInPythonsCsvModule) {
  vdrtest::PairOptions o;
  o.frames = 12;
  o.positions = true;
  std::string first = fs::path(writePair(o)).filename();
  o.frames = 7;
  o.startOffset = 60;
  o.positions = false;
  std::string second = fs::path(writePair(o)).filename();
  ASSERT_NE(first.find(','), std::string::npos) << "recording names hold commas: the case worth testing";

  std::string csv = scratch + "/frames.csv";
  vdrtest::ToolRun r = runTool(VDRTOOL_PATH, {"export", card.dir(), "--csv", csv});
  ASSERT_EQ(r.code, 0) << r.err;
  std::string script = scratch + "/read.py";
  std::ofstream(script) << R"(import csv, sys
with open(sys.argv[1], newline='') as f:
    rows = list(csv.reader(f))
header, body = rows[0], rows[1:]
assert all(len(row) == len(header) for row in body), [len(row) for row in body]
col = {name: i for i, name in enumerate(header)}
names = sorted(set(row[col['recording']] for row in body))
print(len(body), '|'.join(names), body[5][col['latitude']], body[5][col['frame']], body[5][col['time']])
)";
  vdrtest::ToolRun py = runTool("python3", {script, csv});
  ASSERT_EQ(py.code, 0) << py.err;
  // 35 deg 40.005 min = 35.66675 deg; frame 5 of the first recording, half a second in.
  EXPECT_EQ(py.out, "19 " + first + "|" + second + " 35.6667500 5 2026-01-01 00:00:00.500\n");
}

}  // namespace
