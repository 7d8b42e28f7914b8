#include "core/threads.h"

// Scaffolding: the recording worker is not built yet. It takes part in the start and the orderly
// stop like a real worker and does nothing else.
int RecordThread(THREAD_INFO* info) { return idle_worker(info, "RecordThread"); }
