// The program entry. The board binary's main() and recorder-sim both call recorder_main().
#pragma once

// The board program's command line. Without options the recorder runs its eight workers, as a
// unit without a controller; "--controller" (given by the unit's start-up script where an
// external controller is fitted on serial port 1) also starts the controller's command thread.
struct RecorderOptions {
  bool controller = false;
};
extern RecorderOptions gRecorderOptions;
// Reads the options into gRecorderOptions; -1 (with a usage line) for one it does not know.
int RecorderParseOptions(int argc, const char* const argv[]);

int recorder_main();
int InitRecorder();
int terminate();
