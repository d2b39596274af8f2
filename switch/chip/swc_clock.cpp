#include "swc_clock.h"

#include <sys/time.h>

#include <cerrno>
#include <ctime>

namespace {

class SystemClock final : public SwcClock {
 public:
  uint64_t now_us() override {
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<uint64_t>(tv.tv_sec) * 1'000'000u + static_cast<uint64_t>(tv.tv_usec);
  }
  void busy_wait_us(uint64_t us) override {
    const uint64_t until = now_us() + us;
    while (now_us() < until) {}
  }
  void sleep_ms(uint64_t ms) override {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {}
  }
};

SystemClock g_system_clock;
SwcClock *g_clock = &g_system_clock;

}  // namespace

SwcClock &swc_clock_get() {
  return *g_clock;
}
void swc_clock_set(SwcClock *clock) {
  g_clock = clock ? clock : &g_system_clock;
}
