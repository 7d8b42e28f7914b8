// vdrtool: lists, checks and exports the recordings of a drive recorder's card on a PC.
// The commands are the rows of kCommands (commands.cpp); this only picks the row.
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"

int main(int argc, char** argv) {
  if (argc < 3) return vdr::usageError();
  std::string name = argv[1];
  for (size_t i = 0; i < vdr::kCommandCount; ++i) {
    const vdr::Command& c = vdr::kCommands[i];
    if (name == c.name) return c.run(vdr::parseArgs(std::vector<std::string>(argv + 2, argv + argc), c.flags));
  }
  return vdr::usageError();
}
