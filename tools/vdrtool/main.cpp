// vdrtool: lists, checks and exports the recordings of a drive recorder's card on a PC.
// The commands are the rows of kCommands (commands.cpp); this only picks the row.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"

int main(int argc, char** argv) {
  if (argc < 2) return vdr::usageError();
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    vdr::printUsage(stdout);
    return vdr::kExitOk;
  }
  for (size_t i = 0; i < vdr::kCommandCount; ++i) {
    const vdr::Command& c = vdr::kCommands[i];
    if (name != c.name) continue;
    for (int a = 2; a < argc; ++a) {
      if (strcmp(argv[a], "--help") == 0 || strcmp(argv[a], "-h") == 0) {
        vdr::printUsage(stdout);
        return vdr::kExitOk;
      }
    }
    return c.run(vdr::parseArgs(std::vector<std::string>(argv + 2, argv + argc), c.flags));
  }
  fprintf(stderr, "vdrtool: unknown command \"%s\"\n", name.c_str());
  return vdr::usageError();
}
