#include "core/msg_pipe.h"
#include "core/threads.h"

// Scaffolding: the travel log worker is not built yet. It takes part in the start and the orderly
// stop like a real worker and drops the G values and fixes sent to it.
int log_thread(THREAD_INFO* info) {
  return idle_worker(info, "log_thread", {PIPE_LOG, PIPE_LOG_GPS, PIPE_LOG_GSNR});
}
