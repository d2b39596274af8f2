#include "vornkd_protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vornkd {

const char *device_path(const char *default_path) {
  constexpr char kVariable[] = "VORN_DEVICE";
  constexpr std::size_t kLength = sizeof kVariable - 1;
  for (char **entry = environ; entry && *entry; ++entry) {
    const char *text = *entry;
    if (std::strncmp(text, kVariable, kLength) == 0 && text[kLength] == '=')
      return text[kLength + 1] != '\0' ? text + kLength + 1 : default_path;
  }
  return default_path;
}

bool send_credentials(int fd) {
  int on = 1;
  return setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0;
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
