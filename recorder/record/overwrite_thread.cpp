#include "core/threads.h"

// Scaffolding: the disk space worker is not built yet. It takes part in the start and the orderly
// stop like a real worker and does nothing else.
int OverwriteThread(THREAD_INFO* info) { return idle_worker(info, "OverwriteThread"); }
