// swchipctl: command-line client of the simulator's control socket.
//
//   swchipctl --control SOCKET COMMAND [ARGUMENT...]
// Prints the simulator's answer; exits 1 when the simulator rejects the command, 2 on a usage or
// connection error, or when the simulator has not answered within 5 seconds. The commands are listed
// in control.h.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Every command is a few register operations for the simulator; a simulator that takes longer than
// this is wedged, and a caller is better told so than left waiting.
constexpr std::chrono::seconds kAnswerLimit{5};

int usage() {
  std::fprintf(stderr, "usage: swchipctl --control SOCKET COMMAND [ARGUMENT...]\n");
  return 2;
}

int no_answer(const std::string &path) {
  std::fprintf(stderr, "swchipctl: no answer from %s within %lld s\n", path.c_str(),
               static_cast<long long>(kAnswerLimit.count()));
  return 2;
}

// Reads the answer, the whole stream up to the simulator's end of it, by the deadline.
bool read_answer(int fd, std::chrono::steady_clock::time_point deadline, std::string &reply) {
  char buf[4096];
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    const int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    reply.append(buf, static_cast<size_t>(n));
  }
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
  const auto deadline = std::chrono::steady_clock::now() + kAnswerLimit;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    std::fprintf(stderr, "swchipctl: socket: %s\n", std::strerror(errno));
    return 2;
  }
  // Bounds the connect, which waits while a simulator that does not accept has no room for one more.
  const timeval send_limit{static_cast<time_t>(kAnswerLimit.count()), 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
    if (errno == EAGAIN) return no_answer(path);
    std::fprintf(stderr, "swchipctl: %s: %s\n", path.c_str(), std::strerror(errno));
    return 2;
  }
  if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    if (errno == EAGAIN) return no_answer(path);
    std::fprintf(stderr, "swchipctl: send: %s\n", std::strerror(errno));
    return 2;
  }
  std::string reply;
  const bool answered = read_answer(fd, deadline, reply);
  ::close(fd);
  if (!answered) return no_answer(path);
  std::fwrite(reply.data(), 1, reply.size(), stdout);
  return reply.rfind("error: ", 0) == 0 ? 1 : 0;
}
