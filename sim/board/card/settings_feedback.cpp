#include "board/card/settings_feedback.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>
#include <strings.h>

#include "config/settings.h"

namespace sim {

namespace {

bool wholeNumber(const std::string& text, long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  *value = strtol(text.c_str(), &end, 10);
  return *end == '\0' && errno == 0 && *value >= INT32_MIN && *value <= INT32_MAX;
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::string keyList() {
  std::string keys;
  for (size_t i = 0; i < kSettingKeyCount; ++i) keys += (i ? " " : "") + std::string(kSettingKeys[i].name);
  return keys;
}

}  // namespace

bool checkSettingsAction(const std::vector<std::string>& words, std::string* error) {
  if (words.size() < 2) {
    *error = "settings: expected KEY=VALUE after \"settings\" (keys: " + keyList() + ")";
    return false;
  }
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    size_t eq = w.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = "settings: \"" + w + "\" is not KEY=VALUE";
      return false;
    }
    std::string key = w.substr(0, eq), value = w.substr(eq + 1);
    if (FindSettingKey(key.c_str()) == nullptr) {
      *error = "settings: unknown key \"" + key + "\"";
      for (size_t k = 0; k < kSettingKeyCount; ++k) {
        if (strcasecmp(kSettingKeys[k].name, key.c_str()) == 0) {
          *error += " (keys are upper case: " + std::string(kSettingKeys[k].name) + ")";
          return false;
        }
      }
      *error += "; the keys are " + keyList();
      return false;
    }
    long number = 0;
    if (!wholeNumber(value, &number)) {
      *error = "settings: " + key + "=\"" + value + "\": the value must be a whole number";
      return false;
    }
  }
  return true;
}

std::vector<std::string> settingsReplacements(const std::string& fileText) {
  RecorderSettings s;
  SetDefaultParameter(&s);
  std::vector<std::string> lines;
  // As the program reads: the first KEY=VALUE of each key in section SET.
  std::istringstream in(fileText);
  bool inSet = false;
  std::vector<std::string> seen;
  for (std::string line; std::getline(in, line);) {
    line = trimmed(line);
    if (!line.empty() && line[0] == '[') {
      inSet = line == "[SET]";
      continue;
    }
    size_t eq = line.find('=');
    if (!inSet || eq == std::string::npos) continue;
    std::string key = trimmed(line.substr(0, eq));
    const SettingKey* k = FindSettingKey(key.c_str());
    long value = 0;
    if (k == nullptr || !wholeNumber(trimmed(line.substr(eq + 1)), &value)) continue;
    bool again = false;
    for (const std::string& done : seen) again = again || done == key;
    if (again) continue;
    seen.push_back(key);
    k->set(s, static_cast<int32_t>(value));
    if (k->get(s) != value) {
      lines.push_back(key + "=" + std::to_string(value) + " is kept as " + std::to_string(k->get(s)) +
                      " (the field keeps only its low bits)");
    }
  }
  SettingReplacements log;
  ValidateReadSettings(&s, &log);
  for (int i = 0; i < log.count; ++i) {
    const SettingReplacement& r = log.items[i];
    lines.push_back(std::string(r.key) + "=" + std::to_string(r.from) + " becomes " + std::to_string(r.to) + " (" +
                    r.rule + ")");
  }
  return lines;
}

}  // namespace sim
