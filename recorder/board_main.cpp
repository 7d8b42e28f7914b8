// The board binary.
#include <cstdio>

#include "core/main.h"

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);  // the console is read line by line
  if (RecorderParseOptions(argc, argv) != 0) return 2;
  return recorder_main();
}
