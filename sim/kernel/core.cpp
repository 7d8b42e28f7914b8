// The emulated kernel's core: modules, printk, memory, preemption, tasks and signals, time,
// wait queues, semaphores and user copies.
#include "kernel/internal.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "kernel/include/asm/semaphore.h"
#include "kernel/include/asm/uaccess.h"
#include "kernel/include/linux/delay.h"
#include "kernel/include/linux/kernel.h"
#include "kernel/include/linux/module.h"
#include "kernel/include/linux/preempt.h"
#include "kernel/include/linux/slab.h"
#include "kernel/include/linux/wait.h"

#include "platform/sim/clock.h"

namespace sim::kernel {
namespace {

constexpr int64_t kTickNs = sim::kNsPerSec / HZ;
constexpr size_t kLogLimit = 1 << 20;

struct ModuleSlot {
  ModuleEntry entry;
  bool loaded = false;
};

struct CoreState {
  std::mutex mutex;  // modules, log, fault injection, task registry
  std::map<std::string, ModuleSlot> modules;
  std::vector<std::string> loadOrder;
  std::string log;
  std::function<void(const std::string&)> sink;
  int allocSkip = 0, allocFail = 0;
  std::vector<task_struct*> tasks;
};

CoreState& core() {
  static CoreState s;
  return s;
}

std::recursive_mutex gPreempt;

// A task record per thread, registered while the thread lives.
struct TaskHolder {
  task_struct task;
  TaskHolder() {
    task.thread = pthread_self();
    std::lock_guard<std::mutex> lock(core().mutex);
    core().tasks.push_back(&task);
  }
  ~TaskHolder() {
    std::lock_guard<std::mutex> lock(core().mutex);
    auto& t = core().tasks;
    t.erase(std::remove(t.begin(), t.end(), &task), t.end());
  }
};

void defaultSink(const std::string& line) {
  std::string text = "[kernel] " + line + "\n";
  fputs(text.c_str(), stdout);
  fflush(stdout);
}

}  // namespace

std::mutex& sleepLock() {
  static std::mutex m;
  return m;
}

std::condition_variable& sleepCondition() {
  static std::condition_variable c;
  return c;
}

task_struct* currentTask() {
  thread_local TaskHolder holder;
  return &holder.task;
}

long finishSyscall(long result) {
  task_struct* task = currentTask();
  task->sigpending.store(false);
  return result == -ERESTARTSYS ? -EINTR : result;
}

int64_t jiffiesToElapsed(unsigned long j) { return static_cast<int64_t>(j) * kTickNs; }

void reset() {
  rmmodAll();
  resetRtc();
  resetI2c();
  resetChrdev();
  resetIrq();
  resetIo();
  std::lock_guard<std::mutex> lock(core().mutex);
  core().log.clear();
  core().allocSkip = core().allocFail = 0;
}

void setLogSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> lock(core().mutex);
  core().sink = std::move(sink);
}

std::string logText() {
  std::lock_guard<std::mutex> lock(core().mutex);
  return core().log;
}

void defineModule(const ModuleEntry& entry) {
  std::lock_guard<std::mutex> lock(core().mutex);
  ModuleSlot& slot = core().modules[entry.name];
  if (!slot.loaded) slot.entry = entry;
}

int insmod(const std::string& name) {
  ModuleEntry entry;
  {
    std::lock_guard<std::mutex> lock(core().mutex);
    auto it = core().modules.find(name);
    if (it == core().modules.end()) return -ENOENT;
    if (it->second.loaded) return -EEXIST;
    entry = it->second.entry;
  }
  entry.record->state = MODULE_STATE_COMING;
  entry.record->refcount = 0;
  int result = entry.init();  // outside the lock: an init may register, probe and print
  std::lock_guard<std::mutex> lock(core().mutex);
  if (result != 0) {
    entry.record->state = MODULE_STATE_GOING;
    return result;
  }
  entry.record->state = MODULE_STATE_LIVE;
  core().modules[name].loaded = true;
  core().loadOrder.push_back(name);
  return 0;
}

int rmmod(const std::string& name) {
  ModuleEntry entry;
  {
    std::lock_guard<std::mutex> lock(core().mutex);
    auto it = core().modules.find(name);
    if (it == core().modules.end() || !it->second.loaded) return -ENOENT;
    entry = it->second.entry;
    if (entry.record->refcount > 0) return -EBUSY;
    entry.record->state = MODULE_STATE_GOING;
  }
  entry.exit();
  std::lock_guard<std::mutex> lock(core().mutex);
  core().modules[name].loaded = false;
  auto& order = core().loadOrder;
  order.erase(std::remove(order.begin(), order.end(), name), order.end());
  return 0;
}

bool isLoaded(const std::string& name) {
  std::lock_guard<std::mutex> lock(core().mutex);
  auto it = core().modules.find(name);
  return it != core().modules.end() && it->second.loaded;
}

void rmmodAll() {
  for (;;) {
    std::string name;
    {
      std::lock_guard<std::mutex> lock(core().mutex);
      if (core().loadOrder.empty()) return;
      name = core().loadOrder.back();
      // Whoever still holds a reference is gone with the board: unload regardless.
      core().modules[name].entry.record->refcount = 0;
    }
    rmmod(name);
  }
}

bool interruptSleeper(pthread_t thread) {
  int64_t limit = sim::Clock::monoNow() + 5 * sim::kNsPerSec;
  while (sim::Clock::monoNow() < limit) {
    bool found = false;
    {
      std::lock_guard<std::mutex> lock(core().mutex);
      for (task_struct* t : core().tasks) {
        if (pthread_equal(t->thread, thread) && t->interruptible.load() > 0) {
          t->sigpending.store(true);
          found = true;
        }
      }
    }
    if (found) {
      // Through the sleep lock, so the sleeper is either before its test of the signal or
      // waiting on the condition, never in between.
      std::lock_guard<std::mutex> sleep(sleepLock());
      sleepCondition().notify_all();
      return true;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return false;
}

void* badUserPointer() {
  static void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return page;
}

bool copyFromUser(void* to, uintptr_t from, size_t length) {
  return copy_from_user(to, reinterpret_cast<const void*>(from), length) == 0;
}

void failAllocations(int skip, int count) {
  std::lock_guard<std::mutex> lock(core().mutex);
  core().allocSkip = skip;
  core().allocFail = count;
}

int sleepingTasks() {
  int64_t now = sim::Clock::elapsed();
  std::lock_guard<std::mutex> lock(core().mutex);
  int n = 0;
  for (task_struct* t : core().tasks) n += t->sleeping.load() > 0 && t->wakeAt.load() > now ? 1 : 0;
  return n;
}

}  // namespace sim::kernel

using namespace sim::kernel;

namespace {

bool allocationFails() {
  CoreState& s = core();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.allocFail == 0) return false;
  if (s.allocSkip > 0) {
    --s.allocSkip;
    return false;
  }
  --s.allocFail;
  return true;
}

// Sleeps on the kernel's sleep condition until `woken` holds or elapsed reaches the deadline.
// The caller looks up its task before it takes the sleep lock (the task registry's lock is
// never taken inside the sleep lock).
template <class Pred>
void sleepUntil(task_struct* task, std::unique_lock<std::mutex>& lock, int64_t deadline, bool interruptible,
                Pred woken) {
  task->wakeAt.store(deadline);
  task->sleeping.fetch_add(1);
  if (interruptible) task->interruptible.fetch_add(1);
  sim::Clock::waitUntil(lock, sleepCondition(), deadline, [&] {
    return woken() || (interruptible && task->sigpending.load());
  });
  if (interruptible) task->interruptible.fetch_sub(1);
  task->sleeping.fetch_sub(1);
}

}  // namespace

extern "C" {

int printk(const char* fmt, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  const char* body = text;
  if (body[0] == '<' && body[1] >= '0' && body[1] <= '7' && body[2] == '>') body += 3;
  std::string line = body;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard<std::mutex> lock(core().mutex);
    if (core().log.size() < kLogLimit) core().log += line + "\n";
    sink = core().sink;
  }
  if (sink) {
    sink(line);
  } else {
    defaultSink(line);
  }
  return n;
}

void simk_bug(const char* file, int line) {
  fprintf(stderr, "kernel BUG at %s:%d\n", file, line);
  abort();
}

int try_module_get(struct module* module) {
  if (module == nullptr) return 1;
  std::lock_guard<std::mutex> lock(core().mutex);
  if (module->state == MODULE_STATE_GOING) return 0;
  ++module->refcount;
  return 1;
}

void module_put(struct module* module) {
  if (module == nullptr) return;
  std::lock_guard<std::mutex> lock(core().mutex);
  if (module->refcount > 0) --module->refcount;
}

int module_refcount(struct module* module) {
  if (module == nullptr) return 0;
  std::lock_guard<std::mutex> lock(core().mutex);
  return module->refcount;
}

void* kmalloc(size_t size, gfp_t) { return allocationFails() ? nullptr : malloc(size ? size : 1); }
void* kzalloc(size_t size, gfp_t) { return allocationFails() ? nullptr : calloc(1, size ? size : 1); }
void kfree(const void* block) { free(const_cast<void*>(block)); }

void preempt_disable(void) { gPreempt.lock(); }
void preempt_enable(void) { gPreempt.unlock(); }

struct task_struct* simk_current(void) { return currentTask(); }
int signal_pending(struct task_struct* task) { return task->sigpending.load() ? 1 : 0; }

unsigned long simk_jiffies(void) { return static_cast<unsigned long>(sim::Clock::elapsed() / kTickNs); }
unsigned long msecs_to_jiffies(const unsigned int m) { return (m + (1000 / HZ) - 1) / (1000 / HZ); }
unsigned int jiffies_to_msecs(const unsigned long j) { return static_cast<unsigned>(j * (1000 / HZ)); }

long simk_schedule_timeout(long timeout, int interruptible) {
  task_struct* task = currentTask();
  unsigned long expires = simk_jiffies() + static_cast<unsigned long>(timeout);
  std::unique_lock<std::mutex> lock(sleepLock());
  sleepUntil(task, lock, jiffiesToElapsed(expires), interruptible != 0, [] { return false; });
  long left = static_cast<long>(expires - simk_jiffies());
  return left > 0 ? left : 0;
}

void init_waitqueue_head(wait_queue_head_t* q) {
  std::lock_guard<std::mutex> lock(sleepLock());
  q->wakeups = 0;
  q->woken_at = 0;
}

void simk_wake_up(wait_queue_head_t* q) {
  std::lock_guard<std::mutex> lock(sleepLock());
  ++q->wakeups;
  q->woken_at = simk_jiffies();
  sleepCondition().notify_all();
}

void simk_prepare_wait(wait_queue_head_t* q, struct simk_waiter* w, long timeout) {
  std::lock_guard<std::mutex> lock(sleepLock());
  w->queue = q;
  w->seen = q->wakeups;
  w->timed = timeout < MAX_SCHEDULE_TIMEOUT;
  w->expires = simk_jiffies() + static_cast<unsigned long>(w->timed ? timeout : 0);
}

long simk_wait_sleep(struct simk_waiter* w) {
  task_struct* task = currentTask();
  std::unique_lock<std::mutex> lock(sleepLock());
  int64_t deadline = w->timed ? jiffiesToElapsed(w->expires) : INT64_MAX;
  sleepUntil(task, lock, deadline, true, [w] { return w->queue->wakeups != w->seen; });
  bool woken = w->queue->wakeups != w->seen;
  w->seen = w->queue->wakeups;
  if (!w->timed) return MAX_SCHEDULE_TIMEOUT;
  unsigned long now = woken ? w->queue->woken_at : simk_jiffies();
  long left = static_cast<long>(w->expires - now);
  return left > 0 ? left : 0;
}

void simk_finish_wait(struct simk_waiter* w) { (void)w; }

void sema_init(struct semaphore* sem, int val) {
  std::lock_guard<std::mutex> lock(sleepLock());
  sem->count = val;
}

namespace {
int semDown(struct semaphore* sem, bool interruptible) {
  task_struct* task = currentTask();
  std::unique_lock<std::mutex> lock(sleepLock());
  while (sem->count <= 0) {
    if (interruptible && task->sigpending.load()) return -EINTR;
    sleepUntil(task, lock, INT64_MAX, interruptible, [sem] { return sem->count > 0; });
  }
  --sem->count;
  return 0;
}
}  // namespace

void down(struct semaphore* sem) { semDown(sem, false); }
int down_interruptible(struct semaphore* sem) { return semDown(sem, true); }

int down_trylock(struct semaphore* sem) {
  std::lock_guard<std::mutex> lock(sleepLock());
  if (sem->count <= 0) return 1;
  --sem->count;
  return 0;
}

void up(struct semaphore* sem) {
  std::lock_guard<std::mutex> lock(sleepLock());
  ++sem->count;
  sleepCondition().notify_all();
}

void mdelay(unsigned long ms) { sim::Clock::sleepFor(static_cast<int64_t>(ms) * sim::kNsPerMs); }
void udelay(unsigned long us) { sim::Clock::sleepFor(static_cast<int64_t>(us) * sim::kNsPerUs); }
void msleep(unsigned int ms) { simk_schedule_timeout(static_cast<long>(msecs_to_jiffies(ms)) + 1, 0); }
unsigned long msleep_interruptible(unsigned int ms) {
  long left = simk_schedule_timeout(static_cast<long>(msecs_to_jiffies(ms)) + 1, 1);
  return jiffies_to_msecs(static_cast<unsigned long>(left));
}

int simk_access_ok(const void* addr, unsigned long size) {
  uintptr_t a = reinterpret_cast<uintptr_t>(addr);
  uintptr_t bad = reinterpret_cast<uintptr_t>(badUserPointer());
  if (size == 0) return 1;  // nothing will be touched
  if (a < 4096 || a + size < a) return 0;  // the null page, or a range that wraps
  if (a < bad + 4096 && a + size > bad) return 0;
  return 1;
}

unsigned long copy_to_user(void* to, const void* from, unsigned long n) {
  if (!simk_access_ok(to, n)) return n;
  memcpy(to, from, n);
  return 0;
}

unsigned long copy_from_user(void* to, const void* from, unsigned long n) {
  if (!simk_access_ok(from, n)) {
    memset(to, 0, n);
    return n;
  }
  memcpy(to, from, n);
  return 0;
}

}  // extern "C"
