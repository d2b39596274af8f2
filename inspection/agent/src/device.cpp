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
void short_pause() {
  timespec pause{0, 1000000};
  nanosleep(&pause, nullptr);
}

constexpr DeviceOps kSystemOps{vorndev_open, vorndev_ioctl, vorndev_close, short_pause};
const DeviceOps *current_ops = &kSystemOps;

// Nesting depth of locked_ioctl: a handler's own command nests inside the one it interrupted.
volatile sig_atomic_t lock_depth = 0;

}  // namespace

void set_device_ops(const DeviceOps *ops) {
  current_ops = ops ? ops : &kSystemOps;
}

int open_device() {
  // No O_CREAT: creating a plain file at the device path would hide the real node for good.
  int fd = current_ops->open(kDevicePath, O_RDWR);
  return fd < 0 ? -1 : fd;
}

void close_device(int fd) {
  current_ops->close(fd);
}

bool device_reachable() {
  int fd = open_device();
  if (fd < 0) return false;
  close_device(fd);
  return true;
}

int open_device_with_retries(int tries) {
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) current_ops->pause();
    int fd = open_device();
    if (fd >= 0) return fd;
  }
  return -1;
}

int locked_ioctl(int fd, unsigned long request, void *record) {
  lock_depth = lock_depth + 1;
  int locked;
  while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {}
  int result = -1;
  if (locked == 0) {
    lseek(fd, 0, SEEK_SET);
    result = current_ops->ioctl(fd, request, record);
    flock(fd, LOCK_UN);
  }
  lock_depth = lock_depth - 1;
  return result;
}

bool device_locked_here() {
  return lock_depth > 0;
}

int device_command(unsigned long request, void *record) {
  int fd = open_device();
  if (fd < 0) return -1;
  int result = locked_ioctl(fd, request, record);
  close_device(fd);
  return result;
}

}  // namespace vornagent
