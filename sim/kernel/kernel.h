// The emulated kernel as the simulated board and the tests see it.
//
// The kernel modules in drivers/ are compiled as C against sim/kernel/include (the 2.6.25
// interfaces they use, nothing else) and linked into this process. This header is the other
// side: what the board does to the kernel (boot it, put register blocks and I2C chips in
// place, load modules, make device nodes, raise interrupt lines) and what tests need to drive it
// (deliver a signal to a sleeping caller, hand a bad user pointer, fail allocations). It does
// not include any kernel header, so C++ code never sees the kernel's types.
//
// Threads: a thread that calls into the kernel (through a device file) is a task; model threads
// raise interrupt lines, and the handler runs on the raising thread with the interrupt context
// held, which excludes every other handler. Time is sim::Clock: jiffies = elapsed / 10 ms.
//
// Register blocks. A model implements RegisterBlock and maps it at its physical address;
// ioremap of that address gives the modules an address whose every readb/w/l and writeb/w/l
// comes to read()/write() with the offset in the block. The SoC's I/O window (physical
// 0xFFF00000.. at virtual 0xFA000000..) is mapped statically, so a module may also use those
// fixed virtual addresses.
//
// I2C bus models. The board makes an adapter (addI2cAdapter(nr, name)); a chip model
// implements I2cDevice and is put at a 7-bit address with attachI2cDevice(nr, address, model).
// i2c_transfer(adapter, msgs, n) hands each message to the chip at its address, in order:
// write messages to write(), read messages to read() (fill exactly `length` bytes); after the
// last message (or the first failure) every chip that took part gets stop(). A chip that
// answers a message with a negative errno fails the whole transfer with it; an address where
// no chip sits fails with -EREMOTEIO (no acknowledge). i2c_probe finds a chip where one is
// attached. So a chip model sees the bus as a real chip does: START, bytes in or out, STOP.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct module;

namespace sim::kernel {

// ---- boot --------------------------------------------------------------------------------
// Forgets every registration (modules, devices, interrupts, mappings, I2C, RTC layer) and
// starts a fresh kernel. Loaded modules are unloaded first.
void reset();

// Where printk goes: every line (level prefix removed) as it is printed.
void setLogSink(std::function<void(const std::string& line)> sink);
// Everything printed since the last reset, one line each (tests).
std::string logText();

// ---- modules -----------------------------------------------------------------------------
struct ModuleEntry {
  const char* name;
  int (*init)();
  void (*exit)();
  struct module* record;
};
// Makes a module known by name (the board's module table).
void defineModule(const ModuleEntry& entry);
// 0 or the init function's error; -ENOENT for an unknown module, -EEXIST when loaded.
int insmod(const std::string& name);
// -EBUSY while the module is in use (its reference count is not 0), -ENOENT when not loaded.
int rmmod(const std::string& name);
bool isLoaded(const std::string& name);
// Unloads every module, the last loaded first.
void rmmodAll();

// Declares the entry points of a module built from drivers/ (the build names them after it).
#define SIMK_DECLARE_MODULE(name)                 \
  extern "C" {                                    \
  extern struct module simk_module_##name;        \
  int simk_init_##name(void);                     \
  void simk_exit_##name(void);                    \
  }
#define SIMK_MODULE_ENTRY(name) \
  ::sim::kernel::ModuleEntry { #name, simk_init_##name, simk_exit_##name, &simk_module_##name }

// ---- device nodes ------------------------------------------------------------------------
// Makes a character device node (as mknod would): opening the path reaches the driver that
// holds the device number at that moment (ENXIO when none does).
void makeNode(const std::string& path, unsigned major, unsigned minor);
// Called after every request on the device number, with the request, its argument and result.
using IoctlObserver = std::function<void(unsigned cmd, uintptr_t arg, long result)>;
void observeIoctl(unsigned major, unsigned minor, IoctlObserver observer);

// ---- registers ---------------------------------------------------------------------------
class RegisterBlock {
 public:
  virtual ~RegisterBlock() = default;
  // width 1, 2 or 4 bytes; offset + width lies inside the block.
  virtual uint32_t read(uint32_t offset, int width) = 0;
  virtual void write(uint32_t offset, int width, uint32_t value) = 0;
};
void mapRegisters(uint32_t phys, uint32_t size, std::shared_ptr<RegisterBlock> block);
// Accesses that reached no register block (a module bug); tests expect 0.
int ioFaults();

// ---- interrupts --------------------------------------------------------------------------
// The level of an interrupt line as its device drives it. The interrupt controller runs the
// handler on the edge or level that set_irq_type chose (rising edge until it is set).
void setIrqLine(unsigned irq, bool level);
bool irqRequested(unsigned irq);
// Holds off interrupt handlers, as a CPU does with interrupts disabled. A model takes it around
// an update that changes its lines (before its own lock), so that the lines reach the
// controller in the order the device changed them. Nestable; handlers run with it held.
class IrqGuard {
 public:
  IrqGuard();
  ~IrqGuard();
  IrqGuard(const IrqGuard&) = delete;
  IrqGuard& operator=(const IrqGuard&) = delete;
};

// ---- I2C ---------------------------------------------------------------------------------
class I2cDevice {
 public:
  virtual ~I2cDevice() = default;
  virtual int write(const uint8_t* data, size_t length) = 0;
  virtual int read(uint8_t* data, size_t length) = 0;
  virtual void stop() {}
};
// Makes adapter `nr` and announces it to the I2C drivers already registered.
void addI2cAdapter(int nr, const std::string& name);
void attachI2cDevice(int nr, uint16_t address, std::shared_ptr<I2cDevice> device);
void detachI2cDevice(int nr, uint16_t address);

// ---- tests -------------------------------------------------------------------------------
// Waits (real time, a few seconds at most) until `thread` sleeps interruptibly in the kernel,
// then delivers a signal to it: its sleep ends with -ERESTARTSYS. The signal is handled when
// the thread's call returns (user space then sees EINTR). False when the thread never slept.
bool interruptSleeper(pthread_t thread);
// A user address that access_ok refuses, as an unmapped page would be.
void* badUserPointer();
// Copies from a caller's memory as copy_from_user would; false when the range is refused.
bool copyFromUser(void* to, uintptr_t from, size_t length);
// The next `count` kmalloc/kzalloc calls after `skip` successful ones return null.
void failAllocations(int skip, int count);
// The next `count` ioremap calls after `skip` successful ones return null.
void failIoremaps(int skip, int count);
// Tasks sleeping in the kernel now (in a wait queue, on a semaphore or in a delay) whose sleep
// does not end by itself before the clock moves on.
int sleepingTasks();

}  // namespace sim::kernel
