#include "board.h"

#include "trace.h"

#include <fcntl.h>
#include <sys/select.h>

#include <cerrno>
#include <cstring>

void status_led_set(int) {}
void board_led_set(int, int) {}
void board_led_mode_set(int, int) {}
int board_led_get() {
    return 0;
}

void board_msleep(unsigned ms) {
    timeval timeout{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000) * 1000};
    while (select(0, nullptr, nullptr, nullptr, &timeout) < 0 && errno == EINTR) {
        // Linux leaves the remaining time in the timeout: keep waiting for it.
    }
}

void close_on_exec_flag(int fd) {
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) < 0)
        trace_printf(TRACE_MOD_BOARD, "close_on_exec_flag", nullptr, __LINE__, 0, 0, TRACE_EMERG,
                     "fcntl(%d, FD_CLOEXEC): %s", fd, std::strerror(errno));
}
