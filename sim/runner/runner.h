#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

struct RunnerOptions {
  std::string self;  // this program, to start board processes
  std::string boardDir;
  std::string scenarioPath;
  double speed = 1;
  double durationSeconds = 0;  // 0: until the scenario stops it or the user interrupts
  bool hasStart = false;
  int64_t startWorldNs = 0;
  std::string tz = "UTC";
  double holdUpSeconds = 15;
  std::map<std::string, std::string> extra;  // options of the board's models and extensions
};

int runRecorderSim(const RunnerOptions& options);
bool knownAction(const std::string& name);
// Every action of a scenario read from `path` is known and its arguments make sense; else false
// with "PATH:LINE: "ACTION": why".
struct ScenarioAction;
bool checkScenario(const std::string& path, const std::vector<ScenarioAction>& scenario, std::string* error);
// "YYYY-MM-DD hh:mm:ss" in the current time zone.
int64_t parseWorldTime(const std::string& text, bool* ok);

}  // namespace sim
