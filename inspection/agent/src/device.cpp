#include "device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

// Nesting depth of lockedIoctl: a handler's own command nests inside the one it interrupted.
volatile sig_atomic_t lock_depth = 0;

}  // namespace

void setDeviceOps(const DeviceOps *ops) {
  currentOps = ops ? ops : &kSystemOps;
}

int openDevice() {
  // No O_CREAT: creating a plain file at the device path would hide the real node for good.
  int fd = currentOps->open(kDevicePath, O_RDWR);
  return fd < 0 ? -1 : fd;
}

void closeDevice(int fd) {
  currentOps->close(fd);
}

int openDeviceWithRetries(int tries) {
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) currentOps->pause();
    int fd = openDevice();
    if (fd >= 0) return fd;
  }
  return -1;
}

int lockedIoctl(int fd, unsigned long request, void *record) {
  lock_depth = lock_depth + 1;
  int locked;
  while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {}
  int result = -1;
  if (locked == 0) {
    lseek(fd, 0, SEEK_SET);
    result = currentOps->ioctl(fd, request, record);
    flock(fd, LOCK_UN);
  }
  lock_depth = lock_depth - 1;
  return result;
}

bool deviceLockedHere() {
  return lock_depth > 0;
}

int deviceCommand(unsigned long request, void *record) {
  int fd = openDevice();
  if (fd < 0) return -1;
  int result = lockedIoctl(fd, request, record);
  closeDevice(fd);
  return result;
}

}  // namespace vornagent
