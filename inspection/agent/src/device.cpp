#include "device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "vorndev.h"

namespace vornagent {

namespace {

// The device client opens a real character device directly and otherwise reaches the process that
// serves the device on this host.
void shortPause() {
  timespec pause{0, 1000000};
  nanosleep(&pause, nullptr);
}

constexpr DeviceOps kSystemOps{vorndev_open, vorndev_ioctl, vorndev_close, shortPause};
const DeviceOps *currentOps = &kSystemOps;

}  // namespace

void setDeviceOps(const DeviceOps *ops) { currentOps = ops ? ops : &kSystemOps; }

int openDevice() {
  // No O_CREAT: creating a plain file at the device path would hide the real node for good.
  int fd = currentOps->open(kDevicePath, O_RDWR);
  return fd < 0 ? -1 : fd;
}

void closeDevice(int fd) { currentOps->close(fd); }

int openDeviceWithRetries(int tries) {
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) currentOps->pause();
    int fd = openDevice();
    if (fd >= 0) return fd;
  }
  return -1;
}

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
