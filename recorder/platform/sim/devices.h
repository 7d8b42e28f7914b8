// Device nodes of the simulated board.
//
// A node (/dev/gpio13, /dev/cam0, ...) is served by whoever registered it: the emulated kernel's
// small VFS for the kernel modules, or a board model for drivers that are not ours (the camera).
// Opening a path that nobody serves fails with ENOENT, as on a board where the module that
// creates the node is not loaded.
//
// The platform layer gives each open device file a descriptor number reserved from the PC (a
// duplicate of /dev/null), so it can never collide with a real file's descriptor, and dispatches
// every call on that number to the DeviceFile below. Results are a count or 0 on success and a
// negative errno on failure; the platform layer turns them into -1 and errno.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <termios.h>

namespace sim {

class DeviceFile {
 public:
  virtual ~DeviceFile() = default;
  virtual ssize_t read(void* buf, size_t count);
  virtual ssize_t write(const void* buf, size_t count);
  virtual long ioctl(unsigned long request, uintptr_t arg);
  virtual off_t lseek(off_t offset, int whence);
  virtual int fsync();
  // A device that can be mapped gives a PC descriptor (for example a shared memory object)
  // and the offset in it; the platform maps that descriptor with the caller's protection.
  // `writable` tells whether the caller asked for write access.
  virtual int mmapSource(size_t length, off_t offset, bool writable, int* hostFd, off_t* hostOffset);
  virtual int tcgetattr(struct termios* t);
  virtual int tcsetattr(int actions, const struct termios* t);
  virtual int tcflush(int queue);
  // Called once when the descriptor is closed.
  virtual int release();
};

class DeviceNode {
 public:
  virtual ~DeviceNode() = default;
  // 0 and a new open file, or a negative errno.
  virtual int open(int flags, std::unique_ptr<DeviceFile>* file) = 0;
};

void addDeviceNode(const std::string& path, std::shared_ptr<DeviceNode> node);
void removeDeviceNode(const std::string& path);
void clearDeviceNodes();
bool hasDeviceNode(const std::string& path);

// Platform-side dispatch, used by the platform layer itself.
namespace devfs {
bool isDevicePath(const char* path);
int open(const char* path, int flags);  // descriptor, or -1 with errno
std::shared_ptr<DeviceFile> file(int fd);
int close(int fd);                       // 1 when fd was a device file (closed), 0 otherwise
}  // namespace devfs

}  // namespace sim
