// Memory-mapped registers and claims on physical ranges.
#include "kernel/internal.h"

#include <map>
#include <vector>

#include "kernel/include/asm/io.h"
#include "kernel/include/linux/ioport.h"
#include "kernel/include/linux/kernel.h"

namespace sim::kernel {
namespace {

// The SoC's I/O window, mapped by the board's kernel at boot.
constexpr uint32_t kIoPhysBase = 0xFFF00000u;
constexpr uintptr_t kIoVirtBase = 0xFA000000u;
constexpr uint32_t kIoSize = 0x00100000u;
// Other ranges are mapped from here on, like the kernel's vmalloc area.
constexpr uintptr_t kVmallocBase = 0xC8000000u;

struct Block {
  uint32_t phys;
  uint32_t size;
  std::shared_ptr<RegisterBlock> model;
};

struct Mapping {
  uintptr_t virt;
  uint32_t phys;
  uint32_t size;
};

struct IoState {
  std::mutex mutex;
  std::vector<Block> blocks;
  std::vector<Mapping> mappings;
  uintptr_t nextVirt = kVmallocBase;
  std::vector<resource*> claims;
  int faults = 0;
  int remapSkip = 0, remapFail = 0;
};

IoState& io() {
  static IoState s;
  return s;
}

// The physical address behind a kernel virtual address, or false.
bool toPhys(IoState& s, uintptr_t virt, uint32_t* phys) {
  if (virt >= kIoVirtBase && virt < kIoVirtBase + kIoSize) {
    *phys = kIoPhysBase + static_cast<uint32_t>(virt - kIoVirtBase);
    return true;
  }
  for (const Mapping& m : s.mappings) {
    if (virt >= m.virt && virt < m.virt + m.size) {
      *phys = m.phys + static_cast<uint32_t>(virt - m.virt);
      return true;
    }
  }
  return false;
}

// The register block and offset of an access, or null (counted as a fault).
std::shared_ptr<RegisterBlock> target(const volatile void* addr, int width, uint32_t* offset) {
  IoState& s = io();
  std::lock_guard<std::mutex> lock(s.mutex);
  uint32_t phys = 0;
  if (toPhys(s, reinterpret_cast<uintptr_t>(addr), &phys)) {
    for (const Block& b : s.blocks) {
      if (phys >= b.phys && phys - b.phys + static_cast<uint32_t>(width) <= b.size) {
        *offset = phys - b.phys;
        return b.model;
      }
    }
  }
  ++s.faults;
  return nullptr;
}

}  // namespace

void mapRegisters(uint32_t phys, uint32_t size, std::shared_ptr<RegisterBlock> block) {
  std::lock_guard<std::mutex> lock(io().mutex);
  io().blocks.push_back(Block{phys, size, std::move(block)});
}

int ioFaults() {
  std::lock_guard<std::mutex> lock(io().mutex);
  return io().faults;
}

void failIoremaps(int skip, int count) {
  std::lock_guard<std::mutex> lock(io().mutex);
  io().remapSkip = skip;
  io().remapFail = count;
}

void resetIo() {
  IoState& s = io();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.blocks.clear();
  s.mappings.clear();
  s.nextVirt = kVmallocBase;
  for (resource* r : s.claims) delete r;
  s.claims.clear();
  s.faults = 0;
  s.remapSkip = s.remapFail = 0;
}

}  // namespace sim::kernel

using namespace sim::kernel;

extern "C" {

void* ioremap(unsigned long phys, size_t size) {
  IoState& s = io();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.remapFail > 0) {
    if (s.remapSkip > 0) {
      --s.remapSkip;
    } else {
      --s.remapFail;
      return nullptr;
    }
  }
  if (phys >= kIoPhysBase && phys - kIoPhysBase + size <= kIoSize) {
    return reinterpret_cast<void*>(kIoVirtBase + (phys - kIoPhysBase));
  }
  uintptr_t virt = s.nextVirt;
  s.nextVirt += (size + 0xFFFu) & ~static_cast<uintptr_t>(0xFFFu);
  s.mappings.push_back(Mapping{virt, static_cast<uint32_t>(phys), static_cast<uint32_t>(size)});
  return reinterpret_cast<void*>(virt);
}

void iounmap(volatile void* addr) {
  IoState& s = io();
  std::lock_guard<std::mutex> lock(s.mutex);
  uintptr_t virt = reinterpret_cast<uintptr_t>(addr);
  for (auto it = s.mappings.begin(); it != s.mappings.end(); ++it) {
    if (it->virt == virt) {
      s.mappings.erase(it);
      return;
    }
  }
}

unsigned int simk_io_read(const volatile void* addr, int width) {
  uint32_t offset = 0;
  std::shared_ptr<RegisterBlock> block = target(addr, width, &offset);
  if (!block) {
    printk(KERN_ERR "unhandled %d-byte read at %p\n", width * 8, const_cast<void*>(addr));
    return 0xffffffffu;
  }
  return block->read(offset, width);
}

void simk_io_write(unsigned int value, volatile void* addr, int width) {
  uint32_t offset = 0;
  std::shared_ptr<RegisterBlock> block = target(addr, width, &offset);
  if (!block) {
    printk(KERN_ERR "unhandled %d-byte write of 0x%x at %p\n", width * 8, value, const_cast<void*>(addr));
    return;
  }
  block->write(offset, width, value);
}

struct resource* request_mem_region(unsigned long start, unsigned long n, const char* name) {
  IoState& s = io();
  std::lock_guard<std::mutex> lock(s.mutex);
  unsigned long end = start + n - 1;
  for (resource* r : s.claims) {
    if (start <= r->end && end >= r->start) return nullptr;
  }
  resource* r = new resource{start, end, name};
  s.claims.push_back(r);
  return r;
}

void release_mem_region(unsigned long start, unsigned long n) {
  IoState& s = io();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (auto it = s.claims.begin(); it != s.claims.end(); ++it) {
    if ((*it)->start == start && (*it)->end == start + n - 1) {
      delete *it;
      s.claims.erase(it);
      return;
    }
  }
}

}  // extern "C"
