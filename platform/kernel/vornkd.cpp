// vornkd: loads the vorn module on the stand-in kernel, with the engine device model and its
// software matcher behind it, and serves /dev/vorn to other processes of its own user (root, as the
// device node is root's alone) over a Unix socket at the device path. Each caller's ioctl runs on the
// module's CPU with that caller's memory reached through process_vm_readv/writev, as the kernel's
// user copies would reach it.
//
//   vornkd                                 serve until SIGTERM or SIGINT
//   vornkd --report                        print the /proc/driver/vorn report of the running module
//   vornkd --inject FILE [--device NAME]   feed the Ethernet frames of a pcap capture to the running
//                                          module's receive path, as received on NAME (default eth1)
//
// VORN_DEVICE overrides the device path "/dev/vorn". One vornkd serves a path: a second one started
// on it says so and exits with status 1.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kservices.h"
#include "pcap_file.h"
#include "quorix_device.h"
#include "vorn_matcher.h"
#include "vorn_module.h"
#include "vornkd_protocol.h"

namespace {

constexpr const char *kDefaultDevice = "/dev/vorn";

sockaddr_un socket_address(const std::string &path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

// A connection to the running vornkd, or -1 (with the reason printed).
int connect_to_daemon(const std::string &path) {
  if (path.size() >= sizeof(sockaddr_un::sun_path)) {
    std::fprintf(stderr, "vornkd: device path too long: %s\n", path.c_str());
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address = socket_address(path);
  if (fd < 0 || !vornkd::send_credentials(fd) ||
      connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    std::fprintf(stderr, "vornkd: no module serves %s: %s\n", path.c_str(), std::strerror(errno));
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

int print_report(const std::string &path) {
  int fd = connect_to_daemon(path);
  if (fd < 0) return 1;
  vornkd::Request request{vornkd::kReport, 0, 0};
  uint32_t length = 0;
  std::string text;
  bool ok = vornkd::write_fully(fd, &request, sizeof request) &&
            vornkd::read_fully(fd, &length, sizeof length) && length <= 65536;
  if (ok) {
    text.resize(length);
    ok = vornkd::read_fully(fd, text.data(), length);
  }
  close(fd);
  if (!ok) {
    std::fprintf(stderr, "vornkd: no report from %s\n", path.c_str());
    return 1;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

// Sends one frame to the module's receive path; its fate, or -1 when the module did not take it.
int32_t send_frame(int fd, const char (&device)[16], const pcap::CapturedFrame &frame) {
  vornkd::Request request{vornkd::kFrame, frame.ethertype, frame.payload.size()};
  int32_t fate = -1;
  if (!vornkd::write_fully(fd, &request, sizeof request) || !vornkd::write_fully(fd, device, sizeof device) ||
      !vornkd::write_fully(fd, frame.payload.data(), frame.payload.size()) ||
      !vornkd::read_fully(fd, &fate, sizeof fate) || fate < vornkd::kDelivered || fate > vornkd::kHeld)
    return -1;
  return fate;
}

int inject(const std::string &path, const std::string &capture_path, const std::string &device) {
  pcap::Capture capture;
  try {
    capture = pcap::read_capture(capture_path);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "vornkd: %s\n", e.what());
    return 1;
  }
  int fd = connect_to_daemon(path);
  if (fd < 0) return 1;
  char name[16] = {};
  std::snprintf(name, sizeof name, "%s", device.c_str());
  size_t fates[3] = {};
  size_t too_long = 0;
  for (size_t i = 0; i < capture.frames.size(); ++i) {
    if (capture.frames[i].payload.size() > vornkd::kMaxFrame) {
      ++too_long;
      continue;
    }
    int32_t fate = send_frame(fd, name, capture.frames[i]);
    if (fate < 0) {
      std::fprintf(stderr, "vornkd: the module did not take frame %zu\n", i);
      close(fd);
      return 1;
    }
    ++fates[fate];
  }
  close(fd);
  std::printf("%zu frames: %zu delivered, %zu dropped, %zu held", capture.frames.size() + capture.too_short,
              fates[vornkd::kDelivered], fates[vornkd::kDropped], fates[vornkd::kHeld]);
  if (capture.too_short + too_long > 0)
    std::printf(", %zu skipped (%zu shorter than an Ethernet header, %zu with more than %u bytes behind it)",
                capture.too_short + too_long, capture.too_short, too_long, vornkd::kMaxFrame);
  std::printf("\n");
  return 0;
}

// The fate of the frame being received, as the delivery sink learns it (on the CPU).
int32_t current_frame_fate = vornkd::kHeld;

// The credentials the kernel attached to a received message; nullopt when it carries none or was cut.
std::optional<ucred> sender_of(msghdr &message) {
  if (message.msg_flags & MSG_CTRUNC) return std::nullopt;
  for (cmsghdr *part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
    if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_CREDENTIALS &&
        part->cmsg_len == CMSG_LEN(sizeof(ucred))) {
      ucred sender{};
      std::memcpy(&sender, CMSG_DATA(part), sizeof sender);
      return sender;
    }
  }
  return std::nullopt;
}

bool same_sender(const ucred &a, const ucred &b) {
  return a.pid == b.pid && a.uid == b.uid && a.gid == b.gid;
}

// Reads exactly `size` bytes that one process sent, and its credentials. The kernel never joins the
// bytes of two senders in one read, so each part is checked; false at the end of the connection, on
// an error, or for bytes without credentials or from more than one sender.
bool read_from_one_sender(int fd, void *buffer, size_t size, ucred &sender) {
  auto *p = static_cast<char *>(buffer);
  bool first = true;
  while (size > 0) {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec part{p, size};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    std::optional<ucred> from = sender_of(message);
    if (!from || (!first && !same_sender(*from, sender))) return false;
    sender = *from;
    first = false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The rest of a request, which must come from the process that sent its start. An empty rest (a
// frame with nothing behind its link header) is no message: nobody sent it, and it needs no check.
bool read_rest_of_request(int fd, void *buffer, size_t size, const ucred &caller) {
  if (size == 0) return true;
  ucred sender{};
  return read_from_one_sender(fd, buffer, size, sender) && same_sender(sender, caller);
}

int32_t receive_frame(int fd, const vornkd::Request &request, const ucred &caller) {
  if (request.argument > vornkd::kMaxFrame) return -1;
  char name[17] = {};
  std::vector<unsigned char> bytes(static_cast<size_t>(request.argument));
  if (!read_rest_of_request(fd, name, 16, caller) ||
      !read_rest_of_request(fd, bytes.data(), bytes.size(), caller))
    return -1;
  sk_buff *skb = kern::make_frame(name, static_cast<uint16_t>(request.command), bytes.data(), bytes.size());
  if (!skb) return -1;
  kern::CpuSection cpu;
  current_frame_fate = vornkd::kHeld;
  kern::receive(skb);
  return current_frame_fate;
}

// One connection: a caller process's open device. A connection may be handed to other processes
// (an inherited or passed descriptor), so every request is checked and served for the process that
// sent it: only the user vornkd runs as (root on the router, where /dev/vorn is root's alone) is
// served, and user copies reach the sender's memory. Any other sender ends the connection.
void serve_device(int fd) {
  kern::chrdev_open(vorn::kVornMajor);
  vornkd::Request request{};
  ucred caller{};
  // A sender whose process this one cannot see comes with process id 0, which must not stand for
  // vornkd's own memory.
  while (read_from_one_sender(fd, &request, sizeof request, caller) && caller.uid == geteuid() &&
         caller.pid > 0) {
    kern::set_user_process(caller.pid);
    if (request.operation == vornkd::kIoctl) {
      int32_t result =
          kern::chrdev_ioctl(vorn::kVornMajor, request.command, static_cast<unsigned long>(request.argument));
      if (!vornkd::write_fully(fd, &result, sizeof result)) break;
    } else if (request.operation == vornkd::kFrame) {
      int32_t fate = receive_frame(fd, request, caller);
      if (fate < 0 || !vornkd::write_fully(fd, &fate, sizeof fate)) break;
    } else if (request.operation == vornkd::kReport) {
      std::string text;
      kern::proc_read(vorn::kProcName, &text);
      auto length = static_cast<uint32_t>(text.size());
      if (!vornkd::write_fully(fd, &length, sizeof length) ||
          !vornkd::write_fully(fd, text.data(), text.size()))
        break;
    } else {
      break;
    }
  }
  kern::chrdev_release(vorn::kVornMajor);
}

// Callers open the device for every command, so connections come and go all day: each thread says
// when it is done and the server joins it, keeping only live ones.
struct Connection {
  int fd;
  std::atomic<bool> finished{false};
  std::thread thread;
};

void serve_connection(Connection *connection) {
  serve_device(connection->fd);
  // A caller waiting for an answer learns at once that none comes; the descriptor itself is closed
  // when the server reaps the thread.
  shutdown(connection->fd, SHUT_RDWR);
  connection->finished = true;
}

// Why the opened lock file must not be used; empty when it is vornkd's own.
std::string lock_file_fault(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return std::string("cannot be examined: ") + std::strerror(errno);
  if (info.st_uid != geteuid()) return "is owned by another user (uid " + std::to_string(info.st_uid) + ")";
  if (!S_ISREG(info.st_mode) || info.st_nlink != 1) return "is not a regular file with a single name";
  // One made by hand, or under an older vornkd, may be open to others.
  if ((info.st_mode & 07777) != 0600 && fchmod(fd, 0600) != 0)
    return std::string("cannot be made private: ") + std::strerror(errno);
  return "";
}

// Opens vornkd's lock file, creating it when missing. It stands for the device node and must be as
// private: a file another user made there (a path under /tmp is open to all) could have its lock
// held to stall every caller, and a link in its place would have vornkd change the mode of the file
// it names. Such a file is refused. An existing file is looked for without O_CREAT first, so that
// one in a sticky directory gets that refusal and not the kernel's EACCES.
int open_lock_file(const std::string &path) {
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT) fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_CREAT, 0600);
  if (fd < 0) {
    struct stat info {};
    if (errno == ELOOP && lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
      std::fprintf(stderr, "vornkd: %s is a symbolic link\n", path.c_str());
    else
      std::fprintf(stderr, "vornkd: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return -1;
  }
  std::string fault = lock_file_fault(fd);
  if (!fault.empty()) {
    std::fprintf(stderr, "vornkd: %s %s\n", path.c_str(), fault.c_str());
    close(fd);
    return -1;
  }
  return fd;
}

// Claims the path for this vornkd through its lock file; false (said why) while another holds it.
// Callers flock the lock file as they would the device node, so the claim is a record lock, which
// flock does not see; one of the open file, so that no other descriptor's close can drop it.
bool claim_path(int lock_fd, const std::string &path) {
  struct flock whole_file {};
  whole_file.l_type = F_WRLCK;
  whole_file.l_whence = SEEK_SET;
  if (fcntl(lock_fd, F_OFD_SETLK, &whole_file) == 0) return true;
  if (errno == EAGAIN || errno == EACCES)
    std::fprintf(stderr, "vornkd: another vornkd is already running at %s\n", path.c_str());
  else
    std::fprintf(stderr, "vornkd: cannot lock %s: %s\n", vornkd::lock_path(path).c_str(),
                 std::strerror(errno));
  return false;
}

class Server {
 public:
  explicit Server(std::string path) : path_(std::move(path)) {}
  // The socket goes before the lock: once the lock is free, the path may be another vornkd's.
  ~Server() {
    if (listen_fd_ >= 0) {
      close(listen_fd_);
      unlink(path_.c_str());
    }
    if (lock_fd_ >= 0) close(lock_fd_);
  }

  bool start() {
    if (path_.size() >= sizeof(sockaddr_un::sun_path)) {
      std::fprintf(stderr, "vornkd: device path too long: %s\n", path_.c_str());
      return false;
    }
    lock_fd_ = open_lock_file(vornkd::lock_path(path_));
    if (lock_fd_ < 0 || !claim_path(lock_fd_, path_)) return false;
    struct stat info {};
    if (lstat(path_.c_str(), &info) == 0) {
      if (!S_ISSOCK(info.st_mode)) {
        std::fprintf(stderr, "vornkd: %s exists and is not a socket\n", path_.c_str());
        return false;
      }
      unlink(path_.c_str());  // left by a vornkd that did not stop cleanly: none holds the claim
    }
    // Connecting needs write permission on the socket; the umask serve() set makes it 0600 from its
    // creation on, so only the user vornkd runs as can reach the module.
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = socket_address(path_);
    if (fd < 0 || !vornkd::send_credentials(fd) ||
        bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
      std::fprintf(stderr, "vornkd: cannot listen at %s: %s\n", path_.c_str(), std::strerror(errno));
      if (fd >= 0) close(fd);
      return false;
    }
    listen_fd_ = fd;
    return true;
  }

  // Serves until a signal arrives on `signal_fd`; every connection has ended when it returns.
  void run(int signal_fd) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {signal_fd, POLLIN, 0}};
    while (true) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[1].revents) break;
      if (fds[0].revents & POLLIN) {
        reap_finished();
        accept_connection();
      }
    }
    for (auto &c : connections_) shutdown(c->fd, SHUT_RDWR);
    for (auto &c : connections_) finish(*c);
    connections_.clear();
  }

 private:
  void accept_connection() {
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (!vornkd::send_credentials(fd)) {  // without credentials no request could be served
      close(fd);
      return;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connection->thread = std::thread(serve_connection, connection.get());
    connections_.push_back(std::move(connection));
  }
  static void finish(Connection &c) {
    c.thread.join();
    close(c.fd);
  }
  void reap_finished() {
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->finished) {
        finish(**it);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::string path_;
  int listen_fd_ = -1;
  int lock_fd_ = -1;
  std::vector<std::unique_ptr<Connection>> connections_;
};

int serve(const std::string &path) {
  // The umask is the whole process's: set once, before any thread could be creating files, it makes
  // everything vornkd creates (its socket, its lock file) its user's alone from creation on.
  umask(0177);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Another vornkd may serve the path already: that is known before a module is loaded.
  Server server(path);
  if (!server.start()) return 1;
  int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC);

  kern::clock_use_real(true);
  kern::printk_echo(true);
  kern::set_delivery_sink([](const sk_buff &, kern::Fate fate, bool) {
    current_frame_fate = fate == kern::Fate::kDropped ? vornkd::kDropped : vornkd::kDelivered;
  });
  quorix::Device device;
  vorn::SoftwareMatcher matcher;
  device.set_matcher(&matcher);
  int rc = 0;
  {
    kern::CpuSection cpu;
    rc = vorn::init_module();
  }
  if (rc != 0) {
    std::fprintf(stderr, "vornkd: the module did not start (%d)\n", rc);
    close(signal_fd);
    return 1;
  }
  server.run(signal_fd);
  {
    kern::CpuSection cpu;
    vorn::cleanup_module();
  }
  close(signal_fd);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::string path = vornkd::device_path(kDefaultDevice);
  if (argc == 2 && std::strcmp(argv[1], "--report") == 0) return print_report(path);
  if ((argc == 3 || argc == 5) && std::strcmp(argv[1], "--inject") == 0 &&
      (argc == 3 || std::strcmp(argv[3], "--device") == 0))
    return inject(path, argv[2], argc == 5 ? argv[4] : "eth1");
  if (argc != 1) {
    std::fprintf(stderr, "usage: vornkd [--report | --inject FILE [--device NAME]]\n");
    return 2;
  }
  return serve(path);
}
