// The interrupt controller. Devices drive their lines (setIrqLine); the controller runs the
// requested handler on the chosen trigger, in interrupt context: one handler at a time. An
// interrupt that arrives while a handler runs (on the same thread, from a register write of
// the handler) is run right after that handler, as a CPU with interrupts disabled would.
#include "kernel/internal.h"

#include <deque>
#include <map>

#include "kernel/include/linux/interrupt.h"
#include "kernel/include/linux/irq.h"
#include "kernel/include/linux/irqflags.h"
#include "kernel/include/linux/kernel.h"

namespace sim::kernel {
namespace {

struct Line {
  irq_handler_t handler = nullptr;
  void* devId = nullptr;
  const char* name = nullptr;
  unsigned type = IRQ_TYPE_EDGE_RISING;
  bool level = false;
  int disabled = 0;
};

struct IrqState {
  std::recursive_mutex context;  // held while a handler runs: the interrupt context
  std::map<unsigned, Line> lines;
  std::deque<unsigned> pending;
};

IrqState& irqs() {
  static IrqState s;
  return s;
}

thread_local int gInInterrupt = 0;

bool triggers(const Line& line, bool before, bool after) {
  if ((line.type & IRQ_TYPE_EDGE_RISING) && !before && after) return true;
  if ((line.type & IRQ_TYPE_EDGE_FALLING) && before && !after) return true;
  if ((line.type & IRQ_TYPE_LEVEL_HIGH) && after && !before) return true;
  if ((line.type & IRQ_TYPE_LEVEL_LOW) && !after && before) return true;
  return false;
}

void runHandler(IrqState& s, unsigned irq) {
  auto it = s.lines.find(irq);
  if (it == s.lines.end() || it->second.handler == nullptr || it->second.disabled > 0) return;
  ++gInInterrupt;
  it->second.handler(static_cast<int>(irq), it->second.devId);
  --gInInterrupt;
}

}  // namespace

void setIrqLine(unsigned irq, bool level) {
  IrqState& s = irqs();
  std::lock_guard<std::recursive_mutex> lock(s.context);
  Line& line = s.lines[irq];
  bool before = line.level;
  line.level = level;
  if (!triggers(line, before, level)) return;
  s.pending.push_back(irq);
  if (gInInterrupt > 0) return;  // runs when the current handler has returned
  while (!s.pending.empty()) {
    unsigned next = s.pending.front();
    s.pending.pop_front();
    runHandler(s, next);
  }
}

IrqGuard::IrqGuard() { irqs().context.lock(); }
IrqGuard::~IrqGuard() { irqs().context.unlock(); }

bool irqRequested(unsigned irq) {
  std::lock_guard<std::recursive_mutex> lock(irqs().context);
  auto it = irqs().lines.find(irq);
  return it != irqs().lines.end() && it->second.handler != nullptr;
}

void resetIrq() {
  std::lock_guard<std::recursive_mutex> lock(irqs().context);
  irqs().lines.clear();
  irqs().pending.clear();
}

}  // namespace sim::kernel

using namespace sim::kernel;

extern "C" {

int request_irq(unsigned int irq, irq_handler_t handler, unsigned long flags, const char* name, void* dev_id) {
  (void)flags;  // every handler runs with the others excluded, which is what IRQF_DISABLED asks
  if (handler == nullptr) return -EINVAL;
  std::lock_guard<std::recursive_mutex> lock(irqs().context);
  Line& line = irqs().lines[irq];
  if (line.handler != nullptr) return -EBUSY;  // no sharing on this board
  line.handler = handler;
  line.devId = dev_id;
  line.name = name;
  line.disabled = 0;
  return 0;
}

void free_irq(unsigned int irq, void* dev_id) {
  std::lock_guard<std::recursive_mutex> lock(irqs().context);
  auto it = irqs().lines.find(irq);
  if (it == irqs().lines.end() || it->second.handler == nullptr || it->second.devId != dev_id) {
    printk(KERN_ERR "Trying to free already-free IRQ %u\n", irq);
    return;
  }
  it->second.handler = nullptr;
  it->second.devId = nullptr;
  it->second.name = nullptr;
}

int set_irq_type(unsigned int irq, unsigned int type) {
  std::lock_guard<std::recursive_mutex> lock(irqs().context);
  irqs().lines[irq].type = type;
  return 0;
}

void disable_irq(unsigned int irq) {
  std::lock_guard<std::recursive_mutex> lock(irqs().context);
  ++irqs().lines[irq].disabled;
}

void enable_irq(unsigned int irq) {
  std::lock_guard<std::recursive_mutex> lock(irqs().context);
  Line& line = irqs().lines[irq];
  if (line.disabled > 0) --line.disabled;
}

int in_interrupt(void) { return gInInterrupt > 0 ? 1 : 0; }

unsigned long simk_local_irq_save(void) {
  irqs().context.lock();
  return 1;
}

void simk_local_irq_restore(unsigned long flags) {
  if (flags) irqs().context.unlock();
}

}  // extern "C"
