#include "board.h"

#include "swc_api.h"
#include "swc_clock.h"
#include "swc_phy.h"
#include "swgenio.h"
#include "trace.h"

#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace {

#define BOARD_TRACE(level, ...) \
  trace_printf(trace::kBoard, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

// The API context with the API state right behind it, in one allocation that lives as long as the
// process (the API keeps pointers into it).
struct ApiBlock {
  SwcContext context;
  alignas(std::max_align_t) std::byte state[1];
};

struct BoardState {
  int fd = -1;
  uint32_t board_type = kBoardTypeCorvexG5Vantros;
  std::array<uint8_t, 6> base_mac{};
  std::unique_ptr<std::max_align_t[]> api_memory;
  std::unique_ptr<SwcPhyContext> phy_context;
  std::unique_ptr<std::max_align_t[]> phy_memory;
  SwcContext *context = nullptr;
};

BoardState board;

std::unique_ptr<std::max_align_t[]> zeroed_words(size_t bytes) {
  size_t words = (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
  return std::unique_ptr<std::max_align_t[]>(new (std::nothrow) std::max_align_t[words]());
}

void board_platform_init(int fd) {
  BOARD_TRACE(trace::kDebug, "Target board: Corvex-G5 with ARM9 CPU.");
  swgenio::VersionRecord version{};
  if (swgenio_ioctl(fd, swgenio::kDriverVersion, &version) < 0) {
    BOARD_TRACE(trace::kEmerg, "SwGenIO driver version request failed: %s", std::strerror(errno));
    return;
  }
  // The driver may fill all 256 bytes without a terminator.
  version.text[sizeof version.text - 1] = '\0';
  BOARD_TRACE(trace::kDebug, "SwGenIO driver version: %s.", version.text);
}

bool allocate_api_records() {
  board.api_memory = zeroed_words(offsetof(ApiBlock, state) + swc_sizeof_al());
  if (!board.api_memory) {
    BOARD_TRACE(trace::kEmerg, "malloc api_state failed");
    return false;
  }
  auto *block = reinterpret_cast<ApiBlock *>(board.api_memory.get());
  board.context = &block->context;
  board.context->fd = -1;
  board.context->state = reinterpret_cast<SwcApiState *>(block->state);
  board.phy_context.reset(new (std::nothrow) SwcPhyContext{});
  board.phy_memory = zeroed_words(swc_phy_sizeof_al(6));
  if (!board.phy_context || !board.phy_memory) {
    BOARD_TRACE(trace::kEmerg, "malloc phy_api_state failed");
    return false;
  }
  board.phy_context->state = reinterpret_cast<SwcPhyState *>(board.phy_memory.get());
  board.context->phy = board.phy_context.get();
  return true;
}

bool read_eth0_address(uint8_t out[6]) {
  int sock = socket(PF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) {
    BOARD_TRACE(trace::kEmerg, "socket(PF_INET): %s\n", std::strerror(errno));
    return false;
  }
  ifreq request{};
  std::strncpy(request.ifr_name, "eth0", sizeof request.ifr_name - 1);
  bool ok = ioctl(sock, SIOCGIFHWADDR, &request) == 0;
  if (ok)
    std::memcpy(out, request.ifr_hwaddr.sa_data, 6);
  else
    BOARD_TRACE(trace::kEmerg, "SIOCGIFHWADDR(eth0): %s\n", std::strerror(errno));
  close(sock);
  return ok;
}

int prepare_for_api() {
  BOARD_TRACE(trace::kDebug, "Open the switch API.");
  if (!allocate_api_records()) return -1;
  int fd = swgenio_open(kBoardSwitchDevice, O_RDWR);
  if (fd < 0) {
    BOARD_TRACE(trace::kEmerg, "open(\"/dev/swgenio\"): %s", std::strerror(errno));
    return -1;
  }
  board.context->fd = fd;
  close_on_exec_flag(fd);
  uint8_t eth0[6];
  if (!read_eth0_address(eth0)) return -1;
  board_derive_base_mac(eth0);
  swc_select_context(board.context);
  return 0;
}

void board_platform_io_setup(int, SwcContext *context) {
  BOARD_TRACE(trace::kDebug, "IO Setup?.");
  if (board.board_type != kBoardTypeCorvexG5Vantros) {
    BOARD_TRACE(trace::kDebug, "Use already chosen CSx on CPU");
    return;
  }
  BOARD_TRACE(trace::kDebug, "BOARD_TYPE_CORVEX_G5_VANTROS");
  BOARD_TRACE(trace::kDebug, "Setting up SPI timing");
  swgenio::SpiTimingRecord timing{{511, 1, 400}};
  if (!context || swgenio_ioctl(context->fd, swgenio::kSpiTiming, &timing) < 0)
    BOARD_TRACE(trace::kEmerg, "SPI timing set-up failed: %s", context ? std::strerror(errno) : "no device");
  BOARD_TRACE(trace::kDebug, "Use SI on CPU");
}

bool gpio_request(int fd, uint32_t code, swgenio::GpioRecord &record) {
  return swgenio_ioctl(fd, code, &record) == 0;
}

}  // namespace

int board_init() {
  BOARD_TRACE(trace::kDebug, "board_init");
  board.fd = swgenio_open(kBoardSwitchDevice, O_RDONLY);
  if (board.fd < 0) {
    BOARD_TRACE(trace::kEmerg, "open(\"/dev/swgenio\"): %s", std::strerror(errno));
    return -1;
  }
  close_on_exec_flag(board.fd);
  board_platform_init(board.fd);
  return prepare_for_api();
}

void board_io_setup() {
  board_platform_io_setup(board.fd, board.context);
}

void board_close() {
  if (board.fd >= 0) swgenio_close(board.fd);
  board.fd = -1;
}

void board_derive_base_mac(const uint8_t eth0[6]) {
  board.base_mac = {static_cast<uint8_t>(eth0[0] | 2), eth0[1], eth0[2], eth0[4], eth0[5], 0};
}

void board_mac_addr(unsigned index, uint8_t out[6]) {
  if (index > kBoardMacMaxIndex)
    BOARD_TRACE(trace::kError, "Attempt to get board MAC address at too high index %d.",
                static_cast<int>(index));
  const std::array<uint8_t, 6> &base = board.base_mac;
  // The index is added to the last three bytes as one 24-bit number; a carry never leaves them.
  uint32_t low =
      (static_cast<uint32_t>(base[3]) << 16 | static_cast<uint32_t>(base[4]) << 8 | base[5]) + index;
  out[0] = base[0];
  out[1] = base[1];
  out[2] = base[2];
  out[3] = static_cast<uint8_t>(low >> 16);
  out[4] = static_cast<uint8_t>(low >> 8);
  out[5] = static_cast<uint8_t>(low);
  BOARD_TRACE(trace::kDebug, "Board MAC address index %d: %02X-%02X-%02X-%02X-%02X-%02X.",
              static_cast<int>(index), out[0], out[1], out[2], out[3], out[4], out[5]);
}

void swc_os_get_portmac(unsigned port_no, uint8_t out[6]) {
  if (port_no < 1 || port_no > 6)
    BOARD_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(port_no));
  board_mac_addr(port_no, out);
}

void swc_os_get_system_mac(uint8_t out[6]) {
  swc_os_get_portmac(1, out);
}

int board_platform_cpu_gpio_get(int fd, unsigned gpio) {
  if (gpio > 31) {
    BOARD_TRACE(trace::kEmerg, "Get invalid CPU_GPIO%d", static_cast<int>(gpio));
    return 0;
  }
  swgenio::GpioRecord record{1u << gpio, 0};
  if (!gpio_request(fd, swgenio::kCpuGpioGet, record)) {
    BOARD_TRACE(trace::kEmerg, "GPIO get failed for CPU_GPIO%d", static_cast<int>(gpio));
    return 0;
  }
  return (record.value & (1u << gpio)) ? 1 : 0;
}

void board_platform_cpu_gpio_set(int fd, unsigned gpio, int on) {
  if (gpio > 31) {
    BOARD_TRACE(trace::kEmerg, "Set invalid CPU_GPIO%d", static_cast<int>(gpio));
    return;
  }
  swgenio::GpioRecord record{1u << gpio, on ? 1u << gpio : 0};
  if (!gpio_request(fd, swgenio::kCpuGpioSet, record))
    BOARD_TRACE(trace::kEmerg, "GPIO set failed for CPU_GPIO%d", static_cast<int>(gpio));
}

void board_platform_cpu_gpio_direction_set(int fd, unsigned gpio, int output) {
  if (gpio > 31) {
    BOARD_TRACE(trace::kEmerg, "Set direction invalid CPU_GPIO%d", static_cast<int>(gpio));
    return;
  }
  swgenio::GpioRecord record{1u << gpio, output ? 1u << gpio : 0};
  if (!gpio_request(fd, swgenio::kCpuGpioDirection, record))
    BOARD_TRACE(trace::kEmerg, "GPIO direction set failed for CPU_GPIO%d", static_cast<int>(gpio));
}

int board_cpu_gpio_get(unsigned gpio) {
  return board_platform_cpu_gpio_get(board.fd, gpio);
}

void board_cpu_gpio_set(unsigned gpio, int on) {
  board_platform_cpu_gpio_set(board.fd, gpio, on);
}

void board_cpu_gpio_direction_set(unsigned gpio, int output) {
  board_platform_cpu_gpio_direction_set(board.fd, gpio, output);
}

void status_led_set(int) {}
void board_led_set(int, int) {}
void board_led_mode_set(int, int) {}
int board_led_get() {
  return 0;
}

// Through the switch layer's clock, so tests of the modules that wait here advance time instead.
void board_msleep(unsigned ms) {
  swc_clock_get().sleep_ms(ms);
}

void close_on_exec_flag(int fd) {
  int flags = fcntl(fd, F_GETFD);
  if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) < 0)
    BOARD_TRACE(trace::kEmerg, "fcntl(%d, FD_CLOEXEC): %s", fd, std::strerror(errno));
}
