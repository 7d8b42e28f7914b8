#include "scenario.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

std::string ScenarioAction::text() const {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

bool parseScenario(const std::string& text, std::vector<ScenarioAction>* actions, std::string* error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string first;
    if (!(words >> first)) continue;  // blank or comment only
    char* end = nullptr;
    double seconds = strtod(first.c_str(), &end);
    if (end == first.c_str() || *end != '\0' || seconds < 0) {
      *error = std::to_string(number) + ": expected a time in seconds (0 or more), found \"" + first + "\"";
      return false;
    }
    ScenarioAction action;
    action.seconds = seconds;
    action.line = number;
    for (std::string w; words >> w;) action.words.push_back(w);
    if (action.words.empty()) {
      *error = std::to_string(number) + ": an action is missing after the time";
      return false;
    }
    actions->push_back(action);
  }
  // Actions run in time order; lines of the same second keep their order.
  std::stable_sort(actions->begin(), actions->end(),
                   [](const ScenarioAction& a, const ScenarioAction& b) { return a.seconds < b.seconds; });
  return true;
}

bool loadScenario(const std::string& path, std::vector<ScenarioAction>* actions, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = " cannot be read";
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  return parseScenario(text.str(), actions, error);
}

}  // namespace sim
