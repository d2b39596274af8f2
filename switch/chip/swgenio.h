// Access layer of the switch I/O driver: use these calls in place of open/ioctl/close on the device.
//
// Three back ends sit behind the same descriptors:
//  - the real device: a plain open and ioctl;
//  - the chip simulator: when the environment variable PORTVISOR_SWITCH_DEVICE is set, its value
//    replaces every path given to swgenio_open; a path that names a Unix socket is reached as the
//    simulator (one connection per open, one datagram per request, see platform/swchip/wire.h);
//  - in process (tests): after swgenio_attach_in_process every open is served by the given handler,
//    and each request is recorded so tests can compare exact register sequences.
// Every descriptor is a real file descriptor (fcntl works on it); close it with swgenio_close.
// A simulator that does not answer a request within 30 s (PORTVISOR_SWITCH_REPLY_TIMEOUT_MS, for
// tests) fails it with EIO, and every later request on that descriptor fails too.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "swgenio_abi.h"
#include "wire.h"

// Opens the device (or the simulator) with open(2) flags; a descriptor, or -1 with errno set.
int swgenio_open(const char *path, int flags);

// Issues one driver request with its record (as many bytes as the request code says). 0, or -1 with
// errno set to the driver's error.
int swgenio_ioctl(int fd, uint32_t request, void *record);

int swgenio_close(int fd);

// True when the descriptor is served by the chip simulator, which takes batches of SPI register
// accesses (platform/swchip/wire.h). The real device and the in-process back end do not: their
// callers issue the accesses one by one.
bool swgenio_takes_batches(int fd);

// Sends one batch (at most swgenio::wire::kMaxBatchOps ops) and returns the results of the ops the
// simulator handled, or std::nullopt with errno set when the descriptor takes no batches (EOPNOTSUPP)
// or the exchange failed (EIO; the connection is closed as after a failed single request).
std::optional<std::vector<swgenio::wire::BatchOpResult>> swgenio_batch(
    int fd, std::span<const swgenio::wire::BatchOp> ops);

// In-process back end. The handler answers a request with 0 or a negative errno and may change the
// record in place.
using SwgenioHandler = std::function<int(uint32_t request, std::span<uint8_t> record)>;
void swgenio_attach_in_process(SwgenioHandler handler);
void swgenio_detach_in_process();

// One request as the in-process back end saw it. Register accesses are decoded; for the 32-bit
// requests block/subblock/reg come from the offset. `value` is the value written or returned.
struct SwgenioAccess {
  enum class Kind { kSpiRead, kSpiWrite, kBusRead, kBusWrite, kOther };
  Kind kind;
  unsigned block;
  unsigned subblock;
  unsigned reg;
  uint32_t value;
  uint32_t request;
  int result;  // 0 or the negative errno the handler gave

  bool operator==(const SwgenioAccess &) const = default;
};

const std::vector<SwgenioAccess> &swgenio_recorded();
void swgenio_clear_recorded();
// Recording is on after attaching; long polls in tests switch it off.
void swgenio_set_recording(bool on);
