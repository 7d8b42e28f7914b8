// Other programs vdrtool hands work to (mcopy, ffmpeg), run to their end.
#pragma once

#include <string>
#include <vector>

namespace vdr {

struct RunOptions {
  bool quietStdout = false;  // its standard output goes to /dev/null
  bool noStdin = false;      // it reads /dev/null, never the user's terminal
};

// The program's exit status, or -1 when it could not be started or did not exit by itself.
int runProgram(const std::vector<std::string>& args, RunOptions options);

}  // namespace vdr
