// What vornkd and the device client library exchange over the device socket (host byte order: both
// ends run on the same machine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vornkd {

enum Operation : uint32_t { kIoctl = 1, kReport = 2, kFrame = 3 };

struct Request {
  uint32_t operation;
  uint32_t command;
  uint64_t argument;  // an address in the caller's memory
};
static_assert(sizeof(Request) == 16);

// An ioctl is answered by one int32 (0 or a negative errno value); a report by a uint32 length and
// the text. A frame (command: EtherType, argument: length up to kMaxFrame) is followed by the
// receiving device's name (16 bytes) and the frame after its link header; it is answered by its fate.
constexpr uint32_t kMaxFrame = 65535;
enum FrameFate : int32_t { kDelivered = 0, kDropped = 1, kHeld = 2 };

// The lock file kept beside the socket: flock on it stands for flock on the device node.
constexpr char kLockSuffix[] = ".lock";
inline std::string lock_path(const std::string &device_path) {
  return device_path + kLockSuffix;
}

// The device path: VORN_DEVICE when set, else the given default. Async-signal-safe (the device
// client may run in a signal handler): it reads the environment itself instead of calling getenv.
const char *device_path(const char *default_path);

// Has the kernel attach the sender's credentials to every message sent on the socket `fd`: vornkd
// serves each request for the process that sent it, and a request that arrives before vornkd has
// accepted the connection would otherwise come without them and be refused. Call before connecting;
// async-signal-safe.
bool send_credentials(int fd);

// Whole transfers, resumed after EINTR; async-signal-safe.
bool read_fully(int fd, void *buffer, size_t size);
bool write_fully(int fd, const void *buffer, size_t size);

}  // namespace vornkd
