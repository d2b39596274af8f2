// The small seams through which the upgrade engine reaches the adapter, time and the wizard dialog,
// so the same engine runs on Windows and natively against an in-process router on a virtual clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "upgrade_frame.h"

namespace upgrade {

class FramePort {
 public:
  virtual ~FramePort() = default;
  // The adapter's own address, asked for before every frame sent; false when it cannot be read.
  virtual bool own_mac(Mac &out) = 0;
  // 0 once the frame was handed to the adapter, non-zero when it could not be.
  virtual int send(std::span<const std::uint8_t> frame) = 0;
  // Waits a short while (at most about 100 ms) for one frame; its length, or 0 when none came.
  virtual std::size_t receive(FrameBuffer &buffer) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t now_ms() = 0;  // a wrapping millisecond tick count
};

// The wizard dialog's side: progress reports (message 1781 on Windows), the reboot wait, and the
// worker thread's own message queue.
class EngineHost {
 public:
  virtual ~EngineHost() = default;
  virtual void post_progress(std::intptr_t wParam, std::intptr_t lParam) = 0;
  virtual void start_reboot_wait() = 0;
  virtual void pump_one_message() {}
};

}  // namespace upgrade
