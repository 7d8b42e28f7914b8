// The program entry. The board binary's main() and recorder-sim both call recorder_main().
#pragma once

int recorder_main();
int InitRecorder();
int terminate();
