#include "swgenio.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

#include "wire.h"

namespace {

enum class Backend { kSimulator, kInProcess };

constexpr uint64_t kReplyTimeoutMs = 30000;

// The reply timeout; tests shorten it with PORTVISOR_SWITCH_REPLY_TIMEOUT_MS.
uint64_t reply_timeout_ms() {
  const char *text = std::getenv("PORTVISOR_SWITCH_REPLY_TIMEOUT_MS");
  if (!text || !*text) return kReplyTimeoutMs;
  char *end = nullptr;
  const unsigned long long ms = std::strtoull(text, &end, 10);
  return *end == '\0' && ms > 0 ? ms : kReplyTimeoutMs;
}

struct Layer {
  std::map<int, Backend> descriptors;  // descriptors not listed are real devices
  SwgenioHandler handler;
  std::vector<SwgenioAccess> recorded;
  bool recording = true;
};

Layer &layer() {
  static Layer instance;
  return instance;
}

int connect_simulator(const char *path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t length = std::strlen(path);
  if (length >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(addr.sun_path, path, length);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  if (fd < 0) return -1;
  // A simulator that stopped answering must not hang the daemon for ever.
  const uint64_t ms = reply_timeout_ms();
  const timeval limit{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool names_socket(const char *path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
}

// Sends one datagram and receives the answer into `answer`; its length, or std::nullopt when the
// connection failed.
std::optional<size_t> simulator_round_trip(int fd, const std::vector<uint8_t> &datagram,
                                           std::span<uint8_t> answer) {
  ssize_t n;
  do {
    n = ::send(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(datagram.size())) return std::nullopt;
  // Wait for the reply asleep, never polling for it: the kernel tends to wake the simulator on this
  // caller's processor, where a caller that polls keeps it from running until the scheduler's next
  // tick, which turns a round trip of tens of microseconds into milliseconds on a busy machine.
  do {
    n = ::recv(fd, answer.data(), answer.size(), MSG_TRUNC);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return std::nullopt;
  // A reply larger than any the simulator sends is not one of its answers.
  if (static_cast<size_t>(n) > answer.size()) return std::nullopt;
  return static_cast<size_t>(n);
}

// One request and its reply: the driver's result, or std::nullopt when the connection failed.
std::optional<int> simulator_exchange(int fd, uint32_t request, uint8_t *record, size_t size) {
  uint8_t answer[swgenio::wire::kMaxDatagram];
  const auto n = simulator_round_trip(fd, swgenio::wire::encode_request(request, {record, size}), answer);
  if (!n) return std::nullopt;
  const auto reply = swgenio::wire::decode_reply({answer, *n});
  if (!reply) return std::nullopt;
  if (reply->result != 0) return reply->result < 0 ? reply->result : -EIO;
  if (!reply->record.empty()) {
    if (reply->record.size() != size) return std::nullopt;
    std::memcpy(record, reply->record.data(), size);
  }
  return 0;
}

// After a failed exchange the connection is shut down: a reply that came late must never be taken
// for the answer to a later request.
int simulator_request(int fd, uint32_t request, uint8_t *record, size_t size) {
  const auto result = simulator_exchange(fd, request, record, size);
  if (result) return *result;
  ::shutdown(fd, SHUT_RDWR);
  return -EIO;
}

SwgenioAccess decode_access(uint32_t request, const uint8_t *record, int result) {
  SwgenioAccess a{SwgenioAccess::Kind::kOther, 0, 0, 0, 0, request, result};
  if (request == swgenio::kCpldSpiReadWrite) {
    const uint8_t *buf = record + 4;
    a.kind =
        (buf[0] & swgenio::kSpiWriteFlag) ? SwgenioAccess::Kind::kSpiWrite : SwgenioAccess::Kind::kSpiRead;
    a.block = buf[0] >> 5;
    a.subblock = buf[0] & 0x0F;
    a.reg = buf[1];
    a.value = uint32_t{buf[2]} << 24 | uint32_t{buf[3]} << 16 | uint32_t{buf[4]} << 8 | buf[5];
  } else if (request == swgenio::k32BitRead || request == swgenio::k32BitWrite) {
    const uint32_t offset = swgenio::wire::get_u32(record);
    a.kind = request == swgenio::k32BitRead ? SwgenioAccess::Kind::kBusRead : SwgenioAccess::Kind::kBusWrite;
    a.block = (offset >> 12) & 7;
    a.subblock = (offset >> 8) & 15;
    a.reg = offset & 0xFF;
    a.value = swgenio::wire::get_u32(record + 4);
  }
  return a;
}

int in_process_request(uint32_t request, uint8_t *record, size_t size) {
  Layer &l = layer();
  if (!l.handler) return -ENODEV;
  const int result = l.handler(request, {record, size});
  if (l.recording) l.recorded.push_back(decode_access(request, record, result));
  return result;
}

}  // namespace

int swgenio_open(const char *path, int flags) {
  Layer &l = layer();
  if (l.handler) {
    const int fd = ::eventfd(0, 0);
    if (fd >= 0) l.descriptors[fd] = Backend::kInProcess;
    return fd;
  }
  if (const char *override_path = std::getenv("PORTVISOR_SWITCH_DEVICE"); override_path && *override_path) {
    path = override_path;
  }
  if (names_socket(path)) {
    const int fd = connect_simulator(path);
    if (fd >= 0) l.descriptors[fd] = Backend::kSimulator;
    return fd;
  }
  return ::open(path, flags);
}

int swgenio_ioctl(int fd, uint32_t request, void *record) {
  Layer &l = layer();
  const auto it = l.descriptors.find(fd);
  if (it == l.descriptors.end()) return ::ioctl(fd, static_cast<unsigned long>(request), record);
  const size_t size = swgenio::request_size(request);
  auto *bytes = static_cast<uint8_t *>(record);
  const int result = it->second == Backend::kSimulator ? simulator_request(fd, request, bytes, size)
                                                       : in_process_request(request, bytes, size);
  if (result != 0) {
    errno = -result;
    return -1;
  }
  return 0;
}

bool swgenio_takes_batches(int fd) {
  const auto it = layer().descriptors.find(fd);
  return it != layer().descriptors.end() && it->second == Backend::kSimulator;
}

std::optional<std::vector<swgenio::wire::BatchOpResult>> swgenio_batch(
    int fd, std::span<const swgenio::wire::BatchOp> ops) {
  if (!swgenio_takes_batches(fd)) {
    errno = EOPNOTSUPP;
    return std::nullopt;
  }
  if (ops.empty() || ops.size() > swgenio::wire::kMaxBatchOps) {
    errno = EINVAL;
    return std::nullopt;
  }
  std::vector<uint8_t> answer(swgenio::wire::kMaxBatchDatagram);
  const auto n = simulator_round_trip(fd, swgenio::wire::encode_batch_request(ops), answer);
  auto reply = n ? swgenio::wire::decode_batch_reply({answer.data(), *n}, ops.size()) : std::nullopt;
  if (!reply) {
    // As after a failed single request: a late answer must never be taken for a later one.
    ::shutdown(fd, SHUT_RDWR);
    errno = EIO;
    return std::nullopt;
  }
  if (reply->result != 0) {
    errno = reply->result < 0 ? -reply->result : EIO;
    return std::nullopt;
  }
  return std::move(reply->ops);
}

int swgenio_close(int fd) {
  layer().descriptors.erase(fd);
  return ::close(fd);
}

void swgenio_attach_in_process(SwgenioHandler handler) {
  layer().handler = std::move(handler);
  layer().recorded.clear();
  layer().recording = true;
}

void swgenio_detach_in_process() {
  Layer &l = layer();
  l.handler = nullptr;
  for (auto it = l.descriptors.begin(); it != l.descriptors.end();) {
    it = it->second == Backend::kInProcess ? l.descriptors.erase(it) : std::next(it);
  }
}

const std::vector<SwgenioAccess> &swgenio_recorded() {
  return layer().recorded;
}
void swgenio_clear_recorded() {
  layer().recorded.clear();
}
void swgenio_set_recording(bool on) {
  layer().recording = on;
}
