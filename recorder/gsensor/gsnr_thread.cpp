#include "core/threads.h"

// Scaffolding: the G-sensor worker is not built yet. It takes part in the start and the orderly
// stop like a real worker and does nothing else.
int gsnr_thread(THREAD_INFO* info) { return idle_worker(info, "gsnr_thread"); }
