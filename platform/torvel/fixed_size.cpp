// A flash partition is a device of fixed size, but here the partitions are ordinary files, which a
// write past their end would simply make longer. The flash library stands in for the partition
// devices' driver as well: a write to one of the table's partition files stops at the file's end as
// it would at the device's end. What fits is written, and a write that starts at the end fails with
// ENOSPC, so a program sees a short write and then the failure, as on the router.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "torvel.h"

namespace {

bool is_partition_file(const struct stat &file) {
  for (const FlashMtdEntry &entry : flash_mtd_map) {
    struct stat partition {};
    if (entry.device != nullptr && stat(entry.device, &partition) == 0 && partition.st_dev == file.st_dev &&
        partition.st_ino == file.st_ino)
      return true;
  }
  return false;
}

// Bytes between the descriptor's write position and the end of the partition file it refers to;
// nothing when it refers to anything else.
std::optional<size_t> room_in_partition(int fd) {
  struct stat file {};
  if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || !is_partition_file(file)) return std::nullopt;
  const int flags = fcntl(fd, F_GETFL);
  const off_t position = flags >= 0 && (flags & O_APPEND) != 0 ? file.st_size : lseek(fd, 0, SEEK_CUR);
  if (position < 0) return std::nullopt;
  return position >= file.st_size ? 0 : static_cast<size_t>(file.st_size - position);
}

}  // namespace

extern "C" ssize_t write(int fd, const void *data, size_t size) {
  if (size > 0) {
    if (const std::optional<size_t> room = room_in_partition(fd)) {
      if (*room == 0) {
        errno = ENOSPC;
        return -1;
      }
      size = std::min(size, *room);
    }
  }
  return static_cast<ssize_t>(syscall(SYS_write, fd, data, size));
}
