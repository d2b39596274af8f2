// The router's flash library, as this machine provides it: a five-entry partition table and an erase
// call. Programs use only each entry's partition value and device path. The table is settled when the
// library loads and only read afterwards, so it is exported read-only.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { kFlashMtdEntries = 5 };

// One partition. On the router this record is 28 bytes with the device path pointer at bytes 24-27;
// the field order is kept here and the pointer takes the host's width.
struct FlashMtdEntry {
  uint32_t reserved0;
  int32_t partition;  // handed to flash_erase_mtd
  uint32_t reserved1[4];
  const char *device;  // character device of the partition, e.g. "/dev/mtd2"; null in an unused entry
};

extern const struct FlashMtdEntry flash_mtd_map[kFlashMtdEntries];

// Erases the partition with the given value: every byte of its device becomes 0xFF.
// Returns 0, or a negative errno value.
int flash_erase_mtd(int partition);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(offsetof(FlashMtdEntry, partition) == 4, "partition value at bytes 4-7");
static_assert(offsetof(FlashMtdEntry, device) == 24, "device path pointer at byte 24");
#endif
