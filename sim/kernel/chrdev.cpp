// Character devices: device number regions, cdevs, and the small VFS that serves device nodes
// to the platform layer (sim::DeviceNode / sim::DeviceFile).
#include "kernel/internal.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "kernel/include/asm/uaccess.h"
#include "kernel/include/linux/cdev.h"
#include "kernel/include/linux/fs.h"
#include "kernel/include/linux/module.h"
#include "kernel/include/linux/slab.h"

#include "platform/sim/devices.h"

namespace sim::kernel {
namespace {

struct Region {
  __kernel_dev_t first;
  unsigned count;
  std::string name;
};

struct ChrdevState {
  std::mutex mutex;
  std::vector<Region> regions;
  std::vector<cdev*> cdevs;
  std::map<__kernel_dev_t, IoctlObserver> observers;
  std::vector<std::string> nodes;
  unsigned nextDynamicMajor = 254;
};

ChrdevState& chrdevs() {
  static ChrdevState s;
  return s;
}

bool overlaps(__kernel_dev_t a, unsigned na, __kernel_dev_t b, unsigned nb) { return a < b + nb && b < a + na; }

cdev* findCdev(__kernel_dev_t dev) {
  for (cdev* c : chrdevs().cdevs) {
    if (dev >= c->dev && dev < c->dev + c->count) return c;
  }
  return nullptr;
}

// One open device file: the kernel's struct file and inode behind a platform descriptor.
class KernelFile : public sim::DeviceFile {
 public:
  KernelFile(file* f, inode* i, dentry* d, module* owner) : file_(f), inode_(i), dentry_(d), owner_(owner) {}
  ~KernelFile() override { releaseOnce(); }

  ssize_t read(void* buf, size_t count) override {
    if (!(file_->f_mode & FMODE_READ)) return -EBADF;
    if (file_->f_op->read == nullptr) return -EINVAL;
    if (!simk_access_ok(buf, count)) return finishSyscall(-EFAULT);
    __kernel_loff_t pos = file_->f_pos;
    ssize_t result = file_->f_op->read(file_, static_cast<char*>(buf), count, &pos);
    file_->f_pos = pos;
    return finishSyscall(result);
  }

  ssize_t write(const void* buf, size_t count) override {
    if (!(file_->f_mode & FMODE_WRITE)) return -EBADF;
    if (file_->f_op->write == nullptr) return -EINVAL;
    if (!simk_access_ok(buf, count)) return finishSyscall(-EFAULT);
    __kernel_loff_t pos = file_->f_pos;
    ssize_t result = file_->f_op->write(file_, static_cast<const char*>(buf), count, &pos);
    file_->f_pos = pos;
    return finishSyscall(result);
  }

  long ioctl(unsigned long request, uintptr_t arg) override {
    unsigned cmd = static_cast<unsigned>(request);
    long result;
    if (file_->f_op->ioctl != nullptr) {
      result = file_->f_op->ioctl(inode_, file_, cmd, arg);
    } else if (file_->f_op->unlocked_ioctl != nullptr) {
      result = file_->f_op->unlocked_ioctl(file_, cmd, arg);
    } else {
      result = -ENOTTY;
    }
    if (result == -ENOIOCTLCMD) result = -ENOTTY;
    IoctlObserver observer;
    {
      std::lock_guard<std::mutex> lock(chrdevs().mutex);
      auto it = chrdevs().observers.find(inode_->i_rdev);
      if (it != chrdevs().observers.end()) observer = it->second;
    }
    if (observer) observer(cmd, arg, result);
    return finishSyscall(result);
  }

  off_t lseek(off_t offset, int whence) override {
    __kernel_loff_t result = file_->f_op->llseek != nullptr ? file_->f_op->llseek(file_, offset, whence)
                                                            : default_llseek(file_, offset, whence);
    return static_cast<off_t>(finishSyscall(static_cast<long>(result)));
  }

  int release() override { return releaseOnce(); }

 private:
  int releaseOnce() {
    if (file_ == nullptr) return 0;
    int result = file_->f_op->release != nullptr ? file_->f_op->release(inode_, file_) : 0;
    module_put(owner_);
    free(file_);
    free(dentry_);
    free(inode_);
    file_ = nullptr;
    inode_ = nullptr;
    return finishSyscall(result);
  }

  file* file_;
  inode* inode_;
  dentry* dentry_;
  module* owner_;
};

class KernelNode : public sim::DeviceNode {
 public:
  explicit KernelNode(__kernel_dev_t dev) : dev_(dev) {}

  int open(int flags, std::unique_ptr<sim::DeviceFile>* out) override {
    const file_operations* fops = nullptr;
    module* owner = nullptr;
    cdev* c = nullptr;
    {
      std::lock_guard<std::mutex> lock(chrdevs().mutex);
      c = findCdev(dev_);
      if (c == nullptr) return -ENXIO;
      fops = c->ops;
      owner = fops->owner;
    }
    if (!try_module_get(owner)) return -ENXIO;
    auto* i = static_cast<inode*>(calloc(1, sizeof(inode)));
    auto* d = static_cast<dentry*>(calloc(1, sizeof(dentry)));
    auto* f = static_cast<file*>(calloc(1, sizeof(file)));
    d->d_inode = i;
    i->i_rdev = dev_;
    i->i_cdev = c;
    f->f_op = fops;
    f->f_flags = static_cast<unsigned>(flags);
    int acc = flags & O_ACCMODE;
    f->f_mode = (acc == O_RDONLY || acc == O_RDWR ? FMODE_READ : 0) | (acc == O_WRONLY || acc == O_RDWR ? FMODE_WRITE : 0);
    f->f_path.dentry = d;
    int result = fops->open != nullptr ? fops->open(i, f) : 0;
    if (result != 0) {
      module_put(owner);
      free(f);
      free(d);
      free(i);
      return static_cast<int>(finishSyscall(result));
    }
    finishSyscall(0);
    *out = std::make_unique<KernelFile>(f, i, d, owner);
    return 0;
  }

 private:
  __kernel_dev_t dev_;
};

}  // namespace

void makeNode(const std::string& path, unsigned major, unsigned minor) {
  sim::addDeviceNode(path, std::make_shared<KernelNode>(MKDEV(major, minor)));
  std::lock_guard<std::mutex> lock(chrdevs().mutex);
  chrdevs().nodes.push_back(path);
}

void observeIoctl(unsigned major, unsigned minor, IoctlObserver observer) {
  std::lock_guard<std::mutex> lock(chrdevs().mutex);
  chrdevs().observers[MKDEV(major, minor)] = std::move(observer);
}

void resetChrdev() {
  ChrdevState& s = chrdevs();
  std::vector<std::string> nodes;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    nodes.swap(s.nodes);
    s.regions.clear();
    s.cdevs.clear();  // those of unloaded modules are gone already
    s.observers.clear();
    s.nextDynamicMajor = 254;
  }
  for (const std::string& n : nodes) sim::removeDeviceNode(n);
}

}  // namespace sim::kernel

using namespace sim::kernel;

extern "C" {

int register_chrdev_region(__kernel_dev_t first, unsigned count, const char* name) {
  ChrdevState& s = chrdevs();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (const Region& r : s.regions) {
    if (overlaps(first, count, r.first, r.count)) return -EBUSY;
  }
  s.regions.push_back(Region{first, count, name ? name : ""});
  return 0;
}

int alloc_chrdev_region(__kernel_dev_t* first, unsigned baseminor, unsigned count, const char* name) {
  unsigned major;
  {
    std::lock_guard<std::mutex> lock(chrdevs().mutex);
    major = chrdevs().nextDynamicMajor--;
  }
  int result = register_chrdev_region(MKDEV(major, baseminor), count, name);
  if (result == 0) *first = MKDEV(major, baseminor);
  return result;
}

void unregister_chrdev_region(__kernel_dev_t first, unsigned count) {
  ChrdevState& s = chrdevs();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (auto it = s.regions.begin(); it != s.regions.end(); ++it) {
    if (it->first == first && it->count == count) {
      s.regions.erase(it);
      return;
    }
  }
}

struct cdev* cdev_alloc(void) {
  auto* c = static_cast<cdev*>(kzalloc(sizeof(cdev), GFP_KERNEL));
  if (c != nullptr) c->dynamic = 1;
  return c;
}

void cdev_init(struct cdev* c, const struct file_operations* fops) {
  int dynamic = c->dynamic;  // a record from cdev_alloc stays the kernel's to free
  memset(c, 0, sizeof *c);
  c->dynamic = dynamic;
  c->ops = fops;
}

int cdev_add(struct cdev* c, __kernel_dev_t dev, unsigned count) {
  ChrdevState& s = chrdevs();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (cdev* other : s.cdevs) {
    if (overlaps(dev, count, other->dev, other->count)) return -EBUSY;
  }
  c->dev = dev;
  c->count = count;
  s.cdevs.push_back(c);
  return 0;
}

void cdev_del(struct cdev* c) {
  {
    ChrdevState& s = chrdevs();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.cdevs.begin(); it != s.cdevs.end(); ++it) {
      if (*it == c) {
        s.cdevs.erase(it);
        break;
      }
    }
  }
  if (c->dynamic) kfree(c);
}

__kernel_loff_t default_llseek(struct file* f, __kernel_loff_t offset, int origin) {
  switch (origin) {
    case SEEK_END:
      offset += f->f_dentry->d_inode->i_size;
      break;
    case SEEK_CUR:
      offset += f->f_pos;
      break;
    case SEEK_SET:
      break;
    default:
      return -EINVAL;
  }
  if (offset < 0) return -EINVAL;
  f->f_pos = offset;
  return offset;
}

__kernel_loff_t no_llseek(struct file*, __kernel_loff_t, int) { return -ESPIPE; }

int nonseekable_open(struct inode*, struct file*) { return 0; }

}  // extern "C"
