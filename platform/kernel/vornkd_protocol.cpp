#include "vornkd_protocol.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vornkd {

std::string device_path(const char *default_path) {
  const char *overridden = std::getenv("VORN_DEVICE");
  return overridden && *overridden ? overridden : default_path;
}

bool read_fully(int fd, void *buffer, size_t size) {
  auto *p = static_cast<char *>(buffer);
  while (size > 0) {
    ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool write_fully(int fd, const void *buffer, size_t size) {
  const auto *p = static_cast<const char *>(buffer);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace vornkd
