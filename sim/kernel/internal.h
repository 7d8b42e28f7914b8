// Shared parts of the emulated kernel's implementation. Only the kernel's own sources include
// this: it brings the kernel headers (in their host form) next to the C++ library.
#pragma once

#define SIMK_HOST 1

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "kernel/include/linux/types.h"
#include "kernel/include/linux/errno.h"

#include "kernel/kernel.h"

// A thread that entered the kernel.
struct task_struct {
  pthread_t thread;
  std::atomic<bool> sigpending{false};
  std::atomic<int> sleeping{0};       // in a kernel sleep now
  std::atomic<int> interruptible{0};  // ... one that a signal ends
  std::atomic<int64_t> wakeAt{0};     // elapsed time at which the current sleep ends by itself
};

namespace sim::kernel {

// Every kernel sleep waits on this lock and condition (wait queues, semaphores, signals).
std::mutex& sleepLock();
std::condition_variable& sleepCondition();

task_struct* currentTask();
// A system call returns to user space: a pending signal is handled now. Turns the kernel's
// restart code into the EINTR that user space sees.
long finishSyscall(long result);

int64_t jiffiesToElapsed(unsigned long j);

// Resets of the parts, called by reset().
void resetIo();
void resetIrq();
void resetChrdev();
void resetI2c();
void resetRtc();

}  // namespace sim::kernel
