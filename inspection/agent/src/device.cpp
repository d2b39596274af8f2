#include "device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace vornagent {

namespace {

int systemOpen(const char *path, int flags) { return ::open(path, flags); }
int systemIoctl(int fd, unsigned long request, void *arg) { return ::ioctl(fd, request, arg); }
int systemClose(int fd) { return ::close(fd); }

constexpr DeviceOps kSystemOps{systemOpen, systemIoctl, systemClose};
const DeviceOps *currentOps = &kSystemOps;

}  // namespace

void setDeviceOps(const DeviceOps *ops) { currentOps = ops ? ops : &kSystemOps; }

int openDevice() {
  // No O_CREAT: creating a plain file at the device path would hide the real node for good.
  int fd = currentOps->open(kDevicePath, O_RDWR);
  return fd < 0 ? -1 : fd;
}

void closeDevice(int fd) { currentOps->close(fd); }

int lockedIoctl(int fd, unsigned long request, void *record) {
  int locked;
  while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (locked != 0) return -1;
  lseek(fd, 0, SEEK_SET);
  int result = currentOps->ioctl(fd, request, record);
  flock(fd, LOCK_UN);
  return result;
}

int deviceCommand(unsigned long request, void *record) {
  int fd = openDevice();
  if (fd < 0) return -1;
  int result = lockedIoctl(fd, request, record);
  closeDevice(fd);
  return result;
}

}  // namespace vornagent
