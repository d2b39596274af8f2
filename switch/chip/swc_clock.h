// Time seam of the switch chip layer: its busy-waits, sleeps and time-of-day reads go through the
// installed clock, so tests advance time instead of waiting.
#pragma once

#include <cstdint>

class SwcClock {
 public:
  virtual ~SwcClock() = default;
  // Microseconds since the epoch.
  virtual uint64_t now_us() = 0;
  // Spins until `us` microseconds have passed.
  virtual void busy_wait_us(uint64_t us) = 0;
  // Sleeps `ms` milliseconds; a signal does not cut the sleep short.
  virtual void sleep_ms(uint64_t ms) = 0;
};

// The installed clock (the system clock unless a test installed another).
SwcClock &swc_clock_get();
// Installs `clock` (nullptr: the system clock again). The caller keeps it alive while installed.
void swc_clock_set(SwcClock *clock);

// A clock that only moves when it is waited on; for tests.
class SwcManualClock : public SwcClock {
 public:
  uint64_t now_us() override { return now_; }
  void busy_wait_us(uint64_t us) override { now_ += us; }
  void sleep_ms(uint64_t ms) override {
    now_ += ms * 1000;
    slept_ms_ += ms;
  }
  void advance_us(uint64_t us) { now_ += us; }
  uint64_t slept_ms() const { return slept_ms_; }

 private:
  uint64_t now_ = 1'000'000'000'000ull;
  uint64_t slept_ms_ = 0;
};
