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

// The stamp `key` ("time": the true time, "board_time": the board's clock) of a timeline line, as
// seconds of its calendar time read as UTC; -1 for a line without it.
double timelineStamp(const std::string& timelineLine, const std::string& key);

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

// Like runSim, but the run is stopped in order (as a scenario's "stop") only once the board's
// console holds `text` `count` times: the program's own signal that it got that far, however
// slowly the machine runs it. Fails the test when that does not happen within `seconds` of real
// time.
SimRun runSimUntil(const std::string& recorderSim, const std::string& boardDir, const std::vector<std::string>& args,
                   const std::string& scenario, const std::string& text, int count = 1, double seconds = 100);

// recorder-sim running in the background while a test acts on the board from outside (a PC
// program on a pseudo-terminal); its output goes to DIR.output.
class SimProcess {
 public:
  SimProcess(const std::string& recorderSim, const std::string& boardDir, const std::vector<std::string>& args,
             const std::string& scenario = "");
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // Waits (real time, at most `seconds`) until the board's console holds the text `count` times.
  bool waitForConsole(const std::string& text, double seconds = 60, int count = 1);
  // Stops the run in order (SIGINT, as Ctrl-C) and gives what it left.
  SimRun stop();

 private:
  SimRun run_;
  int pid_ = -1;
};

}  // namespace testing_board
