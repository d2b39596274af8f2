// Access to the inspection module's control device /dev/vorn. Every command opens the device, takes
// the exclusive flock that serialises the library's callers across processes, issues the ioctl,
// unlocks and closes.
#pragma once

namespace vornagent {

constexpr const char *kDevicePath = "/dev/vorn";

// How the device is reached: through the device client by default; tests may put an in-process
// module behind it.
struct DeviceOps {
  int (*open)(const char *path, int flags);
  int (*ioctl)(int fd, unsigned long request, void *arg);
  int (*close)(int fd);
  void (*pause)();  // between two tries to open a device that may be between two users
};

// Installs other device operations (nullptr restores the default). For tests.
void set_device_ops(const DeviceOps *ops);

// Opens the device for reading and writing; -1 on failure. Never creates anything at the path.
int open_device();
void close_device(int fd);

// flock, ioctl, unlock on an open descriptor; the ioctl's result.
int locked_ioctl(int fd, unsigned long request, void *record);

// True while code of this process holds the device lock in locked_ioctl. A signal handler that
// interrupted it must not wait for the lock: it is not given back until the handler returns.
bool device_locked_here();

// True when the device can be opened now (it is opened and closed again).
bool device_reachable();

// Opens the device, trying `tries` times with a short pause between; -1 when every try failed.
int open_device_with_retries(int tries);

// open_device + locked_ioctl + close_device; -1 when the device cannot be opened.
int device_command(unsigned long request, void *record);

}  // namespace vornagent
