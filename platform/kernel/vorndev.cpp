#include "vorndev.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include "vornkd_protocol.h"

namespace {

// Served descriptors: the lock-file descriptor handed out, and the connection behind it.
std::mutex table_mutex;
std::map<int, int> connections;

int connection_of(int fd) {
  std::lock_guard lock(table_mutex);
  auto it = connections.find(fd);
  return it == connections.end() ? -1 : it->second;
}

int connect_socket(const std::string &path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

int open_served(const std::string &path) {
  int lock_fd = open(vornkd::lock_path(path).c_str(), O_RDWR | O_CLOEXEC);
  if (lock_fd < 0) return -1;
  int socket_fd = connect_socket(path);
  if (socket_fd < 0) {
    int saved = errno;
    close(lock_fd);
    errno = saved;
    return -1;
  }
  std::lock_guard lock(table_mutex);
  connections[lock_fd] = socket_fd;
  return lock_fd;
}

}  // namespace

extern "C" int vorndev_open(const char *path, int flags) {
  std::string device = vornkd::device_path(path);
  struct stat info {};
  if (stat(device.c_str(), &info) != 0) return -1;
  if (S_ISCHR(info.st_mode)) return open(device.c_str(), flags & ~(O_CREAT | O_TRUNC | O_EXCL));
  if (S_ISSOCK(info.st_mode)) return open_served(device);
  errno = ENXIO;
  return -1;
}

extern "C" int vorndev_ioctl(int fd, unsigned long request, void *arg) {
  int socket_fd = connection_of(fd);
  if (socket_fd < 0) return ioctl(fd, request, arg);
  vornkd::Request message{vornkd::kIoctl, static_cast<uint32_t>(request), reinterpret_cast<uint64_t>(arg)};
  int32_t result = 0;
  if (!vornkd::write_fully(socket_fd, &message, sizeof message) || !vornkd::read_fully(socket_fd, &result, sizeof result)) {
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
  int socket_fd = -1;
  {
    std::lock_guard lock(table_mutex);
    auto it = connections.find(fd);
    if (it != connections.end()) {
      socket_fd = it->second;
      connections.erase(it);
    }
  }
  if (socket_fd >= 0) close(socket_fd);
  return close(fd);
}
