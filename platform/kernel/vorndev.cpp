#include "vorndev.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>

#include "vornkd_protocol.h"

// On the router these three calls are plain system calls on the device node, and the agent library
// makes them from its caller's SIGALRM handler, possibly while the caller itself is inside one of
// them. So everything here is async-signal-safe: system calls only, no allocation, no lock, no
// stdio, and a descriptor table that is consistent at every instant.

namespace {

// Entry fd holds the connection behind the lock-file descriptor fd, plus one (0: fd is not a served
// descriptor). One word per entry, written once the connection is complete: a handler that
// interrupts an open or close sees either no entry or a whole one. Descriptors are unique within the
// process, so a handler never touches the entry of a descriptor the interrupted code is using.
constexpr int kMaxDescriptors = 4096;
std::atomic<int> connections[kMaxDescriptors];
static_assert(std::atomic<int>::is_always_lock_free, "the table must be safe to use in a signal handler");

int connection_of(int fd) {
  return fd >= 0 && fd < kMaxDescriptors ? connections[fd].load() - 1 : -1;
}

// Closes a descriptor on a failure path, keeping the errno of the failure.
void close_quietly(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
}

// Appends `text` to the string of `length` characters in `buffer`; false with ENAMETOOLONG when it
// does not fit with its terminator.
bool append(char *buffer, std::size_t capacity, std::size_t &length, const char *text) {
  for (; *text != '\0'; ++text) {
    if (length + 1 >= capacity) {
      errno = ENAMETOOLONG;
      return false;
    }
    buffer[length++] = *text;
  }
  buffer[length] = '\0';
  return true;
}

int connect_socket(const char *path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::size_t length = 0;
  if (!append(address.sun_path, sizeof address.sun_path, length, path)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (!vornkd::send_credentials(fd)) {
    close_quietly(fd);
    return -1;
  }
  int connected;
  // The device node's open is not cut short by a signal; neither is this.
  while ((connected = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address)) != 0 &&
         errno == EINTR) {}
  if (connected != 0) {
    close_quietly(fd);
    return -1;
  }
  return fd;
}

int open_served(const char *path) {
  char lock_path[PATH_MAX];
  std::size_t length = 0;
  if (!append(lock_path, sizeof lock_path, length, path) ||
      !append(lock_path, sizeof lock_path, length, vornkd::kLockSuffix))
    return -1;
  int lock_fd = open(lock_path, O_RDWR | O_CLOEXEC);
  if (lock_fd < 0) return -1;
  if (lock_fd >= kMaxDescriptors) {
    close(lock_fd);
    errno = EMFILE;
    return -1;
  }
  int socket_fd = connect_socket(path);
  if (socket_fd < 0) {
    close_quietly(lock_fd);
    return -1;
  }
  connections[lock_fd].store(socket_fd + 1);
  return lock_fd;
}

}  // namespace

extern "C" int vorndev_open(const char *path, int flags) {
  const char *device = vornkd::device_path(path);
  if (!device) {
    errno = EFAULT;
    return -1;
  }
  struct stat info {};
  if (stat(device, &info) != 0) return -1;
  if (S_ISCHR(info.st_mode)) {
    int fd = open(device, flags & ~(O_CREAT | O_TRUNC | O_EXCL));
    // A descriptor closed without vorndev_close may have left its entry; this one has no connection.
    if (fd >= 0 && fd < kMaxDescriptors) connections[fd].store(0);
    return fd;
  }
  if (S_ISSOCK(info.st_mode)) return open_served(device);
  errno = ENXIO;
  return -1;
}

extern "C" int vorndev_ioctl(int fd, unsigned long request, void *arg) {
  int socket_fd = connection_of(fd);
  if (socket_fd < 0) return ioctl(fd, request, arg);
  vornkd::Request message{vornkd::kIoctl, static_cast<uint32_t>(request), reinterpret_cast<uint64_t>(arg)};
  int32_t result = 0;
  if (!vornkd::write_fully(socket_fd, &message, sizeof message) ||
      !vornkd::read_fully(socket_fd, &result, sizeof result)) {
    errno = EIO;
    return -1;
  }
  if (result < 0) {
    errno = -result;
    return -1;
  }
  return result;
}

extern "C" int vorndev_close(int fd) {
  // The entry goes before either descriptor: once a number is closed it may be handed out again at
  // once, to a signal handler too, and must not come with this connection.
  int socket_fd = fd >= 0 && fd < kMaxDescriptors ? connections[fd].exchange(0) - 1 : -1;
  if (socket_fd >= 0) close(socket_fd);
  return close(fd);
}
