#include "platform/sim/devices.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace sim {

ssize_t DeviceFile::read(void*, size_t) { return -EINVAL; }
ssize_t DeviceFile::write(const void*, size_t) { return -EINVAL; }
long DeviceFile::ioctl(unsigned long, uintptr_t) { return -ENOTTY; }
off_t DeviceFile::lseek(off_t, int) { return -ESPIPE; }
int DeviceFile::fsync() { return -EINVAL; }
int DeviceFile::mmapSource(size_t, off_t, bool, int*, off_t*) { return -ENODEV; }
int DeviceFile::tcgetattr(struct termios*) { return -ENOTTY; }
int DeviceFile::tcsetattr(int, const struct termios*) { return -ENOTTY; }
int DeviceFile::tcflush(int) { return -ENOTTY; }
int DeviceFile::release() { return 0; }

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<DeviceNode>> nodes;
  std::map<int, std::shared_ptr<DeviceFile>> files;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

void addDeviceNode(const std::string& path, std::shared_ptr<DeviceNode> node) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.nodes[path] = std::move(node);
}

void removeDeviceNode(const std::string& path) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.nodes.erase(path);
}

void clearDeviceNodes() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.nodes.clear();
}

bool hasDeviceNode(const std::string& path) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.nodes.count(path) != 0;
}

namespace devfs {

bool isDevicePath(const char* path) { return path != nullptr && std::string(path).rfind("/dev/", 0) == 0; }

int open(const char* path, int flags) {
  Registry& r = registry();
  std::shared_ptr<DeviceNode> node;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.nodes.find(path);
    if (it != r.nodes.end()) node = it->second;
  }
  if (!node) {
    errno = ENOENT;
    return -1;
  }
  std::unique_ptr<DeviceFile> opened;
  int result = node->open(flags, &opened);  // outside the registry lock: an open may sleep
  if (result < 0 || !opened) {
    errno = result < 0 ? -result : ENODEV;
    return -1;
  }
  int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    int saved = errno;
    opened->release();
    errno = saved;
    return -1;
  }
  std::lock_guard<std::mutex> lock(r.mutex);
  r.files[fd] = std::shared_ptr<DeviceFile>(std::move(opened));
  return fd;
}

std::shared_ptr<DeviceFile> file(int fd) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.files.find(fd);
  return it == r.files.end() ? nullptr : it->second;
}

int close(int fd) {
  Registry& r = registry();
  std::shared_ptr<DeviceFile> f;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.files.find(fd);
    if (it == r.files.end()) return 0;
    f = std::move(it->second);
    r.files.erase(it);
  }
  f->release();
  ::close(fd);
  return 1;
}

}  // namespace devfs
}  // namespace sim
