// The eight worker threads and their records.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <pthread.h>
#include <semaphore.h>

#include "config/settings.h"

constexpr int WORK_THREAD_COUNT = 8;

// One worker's record, passed to the worker as its only argument.
struct THREAD_INFO {
  pthread_t thread;
  bool started;                  // the handle is valid (cleared after the join)
  int32_t number;                // 0..7; trig_wait chooses its input by it
  sem_t* wake;                   // g_thread_to_main: posted after each message to pipe 10
  std::atomic<int32_t> run;      // 1 while the worker shall run
  RecorderSettings* config;      // gConfig
};

using ThreadEntry = int (*)(THREAD_INFO*);

extern sem_t g_thread_to_main;
extern THREAD_INFO gThreadInfo[WORK_THREAD_COUNT];
extern const ThreadEntry gThreadFunc[WORK_THREAD_COUNT];

// The controller's command thread: not one of the workers and not in gThreadFunc; started
// beside them only when a controller is fitted, stopped and joined with them.
constexpr int RD_COM_THREAD_NUMBER = WORK_THREAD_COUNT;
extern THREAD_INFO gRdComThreadInfo;
int create_rd_com_thread();

int create_work_thread(int n);
int create_all_work_thread();
void cancel_work_thread(int n);
void join_work_thread(int n);
// Lets a worker go without waiting for it: it ends by itself once its run flag is cleared.
void detach_work_thread(int n);
void cancel_all_work_thread();
// Posts a worker's wake semaphore. A worker that may outlive the stop (the GPS thread is let go
// rather than joined) posts through this: once the stop has destroyed g_thread_to_main, the post
// is refused with -1 instead of touching a destroyed semaphore.
int post_wake(sem_t* wake);

// Worker entries, each in its subsystem.
int trig_wait(THREAD_INFO* info);
int PowerCheckThread(THREAD_INFO* info);
int gsnr_thread(THREAD_INFO* info);
int log_thread(THREAD_INFO* info);
int gps_thread(THREAD_INFO* info);
int OverwriteThread(THREAD_INFO* info);
int RecordThread(THREAD_INFO* info);
int rd_com_thread(THREAD_INFO* info);

// A worker whose subsystem is not built yet: registers with the pipes, waits for its run flag
// to clear and ends. It drops what others send to its pipes, so they do not fill up meanwhile.
int idle_worker(THREAD_INFO* info, const char* name, std::initializer_list<int> pipes = {});
