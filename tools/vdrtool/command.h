// vdrtool's commands. Each command is one row of the table in commands.cpp: its name, its usage
// line and its handler. To add a command, write `int runXxx(const Args&)` in its own file
// (cmd_xxx.cpp), declare it below, add a row to kCommands and the file to tools/CMakeLists.txt.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "card_image.h"

namespace vdr {

// The words after the command name. Options that take a value (`--csv FILE`) land in `options`,
// options without one (listed in `flagNames` when parsing, e.g. `--decode`) in `flags`, the rest
// in `positional` in their order.
struct Args {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;  // in command-line order
  std::set<std::string> flags;

  bool has(const std::string& flag) const { return flags.count(flag) != 0; }
  // The value of the last `name VALUE`, or `fallback`.
  std::string option(const std::string& name, const std::string& fallback = "") const;
};
Args parseArgs(const std::vector<std::string>& words, const std::set<std::string>& flagNames);

struct Command {
  const char* name;   // first word after `vdrtool`
  const char* usage;  // the rest of the usage line
  const char* help;   // one sentence
  std::set<std::string> flags;  // options of this command that take no value
  int (*run)(const Args& args);
};
extern const Command kCommands[];
extern const size_t kCommandCount;

// The recordings under a PATH given on the command line: a card image (copied out to a temporary
// directory for reading, removed with this object), a card directory, a channel directory or one
// .vdd/.vdx file.
class CardInput {
 public:
  // Returns false with a message in *error when the path cannot be read.
  bool open(const std::string& path, std::string* error);
  // open(), printing "vdrtool: PATH: why" on stderr when it fails.
  bool openOrReport(const std::string& path);
  const std::string& root() const { return root_; }  // the directory (or file) read
  // The card image the recordings were copied out of (empty when PATH was no image).
  const std::string& imagePath() const { return imagePath_; }
  const std::vector<std::string>& bases() const { return bases_; }

 private:
  CardImage image_;
  std::string root_;
  std::string imagePath_;
  std::vector<std::string> bases_;
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Prints the usage of every command (to stdout for --help, stderr for a wrong command line).
void printUsage(FILE* out);
int usageError();

const char* triggerName(unsigned trigger);

// Handlers, one file each.
int runLs(const Args& args);
int runCheck(const Args& args);
int runExport(const Args& args);
int runReport(const Args& args);
int runLog(const Args& args);
int runRepair(const Args& args);

}  // namespace vdr
