// A scenario: text, one timed action a line, "<seconds> <action> <arguments>", "#" comments.
//   20 press rec
//   40 power off
//   60 power on
//   90 stop
#pragma once

#include <string>
#include <vector>

namespace sim {

struct ScenarioAction {
  double seconds = 0;
  std::vector<std::string> words;  // words[0] is the action
  int line = 0;
  std::string text() const;
};

// Parses a scenario. On an error gives false and a message that starts with the line number
// ("12: ..."), to follow "FILE:".
bool parseScenario(const std::string& text, std::vector<ScenarioAction>* actions, std::string* error);
bool loadScenario(const std::string& path, std::vector<ScenarioAction>* actions, std::string* error);

}  // namespace sim
