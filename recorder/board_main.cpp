// The board binary.
#include <cstdio>

#include "core/main.h"

int main() {
  setvbuf(stdout, nullptr, _IOLBF, 0);  // the console is read line by line
  return recorder_main();
}
