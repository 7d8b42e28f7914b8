// What a user's "settings KEY=VALUE ..." will do, told before and during the run with the
// program's own key table and validation (recorder/config/settings.h), so that a value the
// recorder replaces is not a silent surprise.
#pragma once

#include <string>
#include <vector>

namespace sim {

// The scenario action "settings KEY=VALUE ...": false with a message for an unknown key or a
// value that is not a whole number.
bool checkSettingsAction(const std::vector<std::string>& words, std::string* error);

// What the program will make of a settings file's text ([SET] KEY=VALUE lines) when it reads it
// at start: one line per value it replaces, "PRERECINT1=5 becomes 10 (event mode: 1, 10, 15 or
// 30)". Keys the file lacks keep the defaults, as in the program.
std::vector<std::string> settingsReplacements(const std::string& fileText);

}  // namespace sim
