#include "core/threads.h"

#include <csignal>
#include <cstring>
#include <mutex>

#include "core/msg_pipe.h"
#include "core/sd_card.h"
#include "core/supervisor.h"
#include "core/trace.h"
#include "platform/platform.h"

#define TAG "MAIN____"

sem_t g_thread_to_main;
THREAD_INFO gThreadInfo[WORK_THREAD_COUNT];
THREAD_INFO gRdComThreadInfo;

const ThreadEntry gThreadFunc[WORK_THREAD_COUNT] = {
    trig_wait,         // 0: REC push-button, /dev/gpio13, sender 70
    trig_wait,         // 1: reset push-button, /dev/gpio14, sender 80
    PowerCheckThread,  // 2: power-fail line, /dev/gpio15, sender 90
    gsnr_thread,       // 3: G-sensor sampling and shock detection
    log_thread,        // 4: travel log
    gps_thread,        // 5: GPS receiver on serial port 2: fixes to recording and log, the clock
    OverwriteThread,   // 6: disk space, overwrite and the capacitor announcement
    RecordThread,      // 7: recording
};

namespace {

// g_thread_to_main exists between its sem_init and its sem_destroy; posts from workers that
// may outlive the stop are ordered against the destruction by this lock.
std::mutex gWakeLock;
bool gWakeAlive = false;

void* threadMain(void* arg) {
  THREAD_INFO* info = static_cast<THREAD_INFO*>(arg);
  gThreadFunc[info->number](info);
  return nullptr;
}

void* rdComMain(void* arg) {
  rd_com_thread(static_cast<THREAD_INFO*>(arg));
  return nullptr;
}

void stopAndJoin(THREAD_INFO& info) {
  if (!info.started) return;
  info.run.store(0);
  pthread_join(info.thread, nullptr);
  info.started = false;
}

}  // namespace

int create_work_thread(int n) {
  if (n < 0 || n >= WORK_THREAD_COUNT) return -10000;
  THREAD_INFO& info = gThreadInfo[n];
  info.started = false;
  info.number = n;
  info.wake = &g_thread_to_main;
  info.run.store(1);
  info.config = &gConfig;
  if (pthread_create(&info.thread, nullptr, threadMain, &info) != 0) {
    TRACE(TAG, "Fail to create thread.");
    return -2;
  }
  info.started = true;
  return 0;
}

int create_all_work_thread() {
  TRACE(TAG, "create_all_work_thread()");
  if (sem_init(&g_thread_to_main, 0, 0) != 0) {
    TRACE(TAG, "Fail to sem init.");
    return -10000;
  }
  {
    std::lock_guard<std::mutex> lock(gWakeLock);
    gWakeAlive = true;
  }
  // A stop requested during start-up posted the semaphore before it was initialised here, which
  // cleared that post; post it again so the supervisor still sees the request.
  if (gTerminateRequest.load() != 0) sem_post(&g_thread_to_main);
  // Workers inherit this mask: only the supervisor ever takes SIGINT.
  sigset_t only, previous;
  sigemptyset(&only);
  sigaddset(&only, SIGINT);
  pthread_sigmask(SIG_SETMASK, &only, &previous);
  int result = 0;
  for (int n = 0; n < WORK_THREAD_COUNT; ++n) {
    result = create_work_thread(n);
    if (result != 0) break;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  TRACE(TAG, "~create_all_work_thread()");
  return result;
}

int create_rd_com_thread() {
  THREAD_INFO& info = gRdComThreadInfo;
  info.started = false;
  info.number = RD_COM_THREAD_NUMBER;
  info.wake = &g_thread_to_main;
  info.run.store(1);
  info.config = &gConfig;
  // Like the workers, it never takes SIGINT.
  sigset_t only, previous;
  sigemptyset(&only);
  sigaddset(&only, SIGINT);
  pthread_sigmask(SIG_SETMASK, &only, &previous);
  int created = pthread_create(&info.thread, nullptr, rdComMain, &info);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (created != 0) {
    TRACE(TAG, "Fail to create thread.");
    return -2;
  }
  info.started = true;
  return 0;
}

void cancel_work_thread(int n) {
  if (n >= 0 && n < WORK_THREAD_COUNT && gThreadInfo[n].started) gThreadInfo[n].run.store(0);
}

void join_work_thread(int n) {
  if (n < 0 || n >= WORK_THREAD_COUNT || !gThreadInfo[n].started) return;
  pthread_join(gThreadInfo[n].thread, nullptr);
  gThreadInfo[n].started = false;
}

void detach_work_thread(int n) {
  if (n < 0 || n >= WORK_THREAD_COUNT || !gThreadInfo[n].started) return;
  pthread_detach(gThreadInfo[n].thread);
  gThreadInfo[n].started = false;
}

void cancel_all_work_thread() {
  if (gRdComThreadInfo.started) gRdComThreadInfo.run.store(0);
  for (int n = WORK_THREAD_COUNT - 1; n >= 0; --n) cancel_work_thread(n);
  join_work_thread(7);
  join_work_thread(6);
  // The GPS thread may sit in a long serial wait; it is waited for only when the board is not
  // going to wait for power and reboot anyway. Otherwise it is let go: it ends by itself when
  // it sees its run flag, and its resources go back to the system then, not never.
  struct stat st;
  if (plat::stat(SD_MOUNT_POINT "/no_power_check", &st) == 0) {
    join_work_thread(5);
  } else {
    detach_work_thread(5);
  }
  for (int n = 4; n >= 0; --n) join_work_thread(n);
  stopAndJoin(gRdComThreadInfo);  // it posts g_thread_to_main too
  std::lock_guard<std::mutex> lock(gWakeLock);
  gWakeAlive = false;
  sem_destroy(&g_thread_to_main);
}

int post_wake(sem_t* wake) {
  std::lock_guard<std::mutex> lock(gWakeLock);
  if (wake == &g_thread_to_main && !gWakeAlive) return -1;
  return sem_post(wake);
}

int idle_worker(THREAD_INFO* info, const char* name, std::initializer_list<int> pipes) {
  recorder_trace("%s: not built yet, idle until stop\n", name);
  MsgOpen();
  while (info->run.load()) {
    for (int pipe : pipes) MsgClear(pipe);
    plat::usleep(100000);
  }
  MsgClose();
  recorder_trace("~%s()\n", name);
  return 0;
}
