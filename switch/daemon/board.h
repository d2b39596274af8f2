// Board platform: the switch I/O driver, CPU GPIO lines, status LED and the board's MAC addresses.
#pragma once

#include <cstdint>

// The LED operations have nothing to drive on this board: they accept their arguments and do nothing.
void status_led_set(int on);
void board_led_set(int led, int value);
void board_led_mode_set(int led, int mode);
int board_led_get();

// Waits ms milliseconds without spinning.
void board_msleep(unsigned ms);
// Sets FD_CLOEXEC; a failure is traced and otherwise ignored.
void close_on_exec_flag(int fd);
