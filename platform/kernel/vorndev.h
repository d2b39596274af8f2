/* Access to /dev/vorn: the real character device when the path names one, otherwise the vornkd
 * process serving the device at that path (VORN_DEVICE overrides the path, as it does for vornkd).
 *
 * vorndev_open returns a descriptor on which flock() serialises exactly as on the device node: on
 * the served device it is a descriptor of the lock file vornkd keeps beside its socket. Open never
 * creates anything. vorndev_ioctl returns what ioctl(2) would: the result, or -1 with errno set (25
 * for a refusal, 14 for a bad address). A served path too long for a socket address fails with
 * ENAMETOOLONG.
 *
 * The three calls are async-signal-safe, as the system calls on the real node are: a signal handler
 * may use the device while the code it interrupted is inside one of them. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

int vorndev_open(const char *path, int flags);
int vorndev_ioctl(int fd, unsigned long request, void *arg);
int vorndev_close(int fd);

#ifdef __cplusplus
}
#endif
