// swchipctl: command-line client of the simulator's control socket.
//
//   swchipctl --control SOCKET COMMAND [ARGUMENT...]
// Prints the simulator's answer; exits 1 when the simulator rejects the command, 2 on a usage or
// connection error. The commands are listed in control.h.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {
int usage() {
  std::fprintf(stderr, "usage: swchipctl --control SOCKET COMMAND [ARGUMENT...]\n");
  return 2;
}
}  // namespace

int main(int argc, char **argv) {
  if (argc < 4 || std::strcmp(argv[1], "--control") != 0) return usage();
  const std::string path = argv[2];
  std::string line;
  for (int i = 3; i < argc; ++i) {
    if (i > 3) line += ' ';
    line += argv[i];
  }
  line += '\n';

  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return usage();
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
    std::fprintf(stderr, "swchipctl: %s: %s\n", path.c_str(), std::strerror(errno));
    return 2;
  }
  if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    std::fprintf(stderr, "swchipctl: send: %s\n", std::strerror(errno));
    return 2;
  }
  std::string reply;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    reply.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  std::fwrite(reply.data(), 1, reply.size(), stdout);
  return reply.rfind("error: ", 0) == 0 ? 1 : 0;
}
