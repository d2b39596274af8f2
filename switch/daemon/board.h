// Board platform: the switch I/O driver, CPU GPIO lines, status LED and the board's MAC addresses.
#pragma once

#include <cstdint>

struct SwcContext;

inline constexpr uint32_t kBoardTypeCorvexG5Vantros = 26;
inline constexpr const char *kBoardSwitchDevice = "/dev/swgenio";
inline constexpr unsigned kBoardMacMaxIndex = 6;

// Opens the driver, reports its version and installs the switch API's context; 0, or -1 when the
// driver or "eth0" is missing (traced at emerg; the API then has no context).
int board_init();
// SPI timing of the register interface, sent before the chip is reset.
void board_io_setup();
void board_close();

// MAC address of index 0 (base) .. 6 (front ports 1..6).
void board_mac_addr(unsigned index, uint8_t out[6]);
void swc_os_get_portmac(unsigned port_no, uint8_t out[6]);
void swc_os_get_system_mac(uint8_t out[6]);
// The base address from the hardware address of "eth0".
void board_derive_base_mac(const uint8_t eth0[6]);

// CPU GPIO lines through the driver; gpio 0..31.
int board_platform_cpu_gpio_get(int fd, unsigned gpio);
void board_platform_cpu_gpio_set(int fd, unsigned gpio, int on);
void board_platform_cpu_gpio_direction_set(int fd, unsigned gpio, int output);
int board_cpu_gpio_get(unsigned gpio);
void board_cpu_gpio_set(unsigned gpio, int on);
void board_cpu_gpio_direction_set(unsigned gpio, int output);

// The LED operations have nothing to drive on this board: they accept their arguments and do nothing.
void status_led_set(int on);
void board_led_set(int led, int value);
void board_led_mode_set(int led, int mode);
int board_led_get();

// Waits ms milliseconds without spinning (on the switch layer's clock).
void board_msleep(unsigned ms);
// Sets FD_CLOEXEC; a failure is traced and otherwise ignored.
void close_on_exec_flag(int fd);
