#include "core/threads.h"

// Scaffolding: the GPS worker is not built yet. It takes part in the start and the orderly
// stop like a real worker and does nothing else.
int gps_thread(THREAD_INFO* info) { return idle_worker(info, "gps_thread"); }
