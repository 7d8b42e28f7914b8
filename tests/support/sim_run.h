// Runs recorder-sim for end-to-end tests and reads what the board left behind.
#pragma once

#include <string>
#include <vector>

namespace testing_board {

struct SimRun {
  int exitCode = -1;
  std::string output;  // everything recorder-sim printed
  std::string boardDir;

  std::string console() const;                  // DIR/console.log
  std::vector<std::string> timeline() const;    // DIR/timeline.jsonl, one entry a line
  // Timeline lines with "event":"<event>" (and, when given, containing `with`).
  std::vector<std::string> events(const std::string& event, const std::string& with = "") const;
};

// A fresh board directory under /tmp, removed by the caller with removeBoardDir.
std::string makeBoardDir(const std::string& name);
void removeBoardDir(const std::string& dir);

// Fails the current test when the output of a run holds a sanitizer's report (the board process
// ends with _exit, so a report never reaches its exit code).
void reportSanitizerFindings(const std::string& output);

// recorder-sim --board DIR [extra arguments...]; a scenario text, when given, is written to
// DIR.scenario and passed with --scenario.
SimRun runSim(const std::string& recorderSim, const std::string& boardDir, const std::vector<std::string>& args,
              const std::string& scenario = "");

}  // namespace testing_board
