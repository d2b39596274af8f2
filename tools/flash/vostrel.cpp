// vostrel: erases one flash partition or programs an image file onto it.
//   vostrel <erase|program> <mtdx> [filename]
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "torvel.h"

namespace {

constexpr size_t kBlockSize = 8192;
constexpr size_t kProcMtdShown = 2048;

[[noreturn]] void usage() {
  std::printf("This function will erase or program mtd.\n");
  std::printf("Usage: vostrel <erase|program> <mtdx> [filename]\n");
  std::printf("Note: filename only required when program.\n");
  std::printf("System mtd map:\n");
  std::printf("%s\n", std::string(60, '=').c_str());
  if (FILE *proc = std::fopen("/proc/mtd", "r")) {
    char text[kProcMtdShown];
    size_t n = std::fread(text, 1, sizeof text, proc);
    std::fwrite(text, 1, n, stdout);
    std::fclose(proc);
  }
  std::fflush(stdout);
  std::exit(0);
}

using PartitionTable = std::span<const FlashMtdEntry>;

// Partition value of the first table entry whose device path is exactly `device`, or -1.
int find_mtd_index(PartitionTable table, const std::string &device) {
  for (const auto &entry : table) {
    if (entry.device != nullptr && device == entry.device) return entry.partition;
  }
  return -1;
}

int lookup_or_usage(PartitionTable table, const std::string &device, const char *name) {
  int index = find_mtd_index(table, device);
  if (index < 0) {
    std::printf("%s is an invalid mtd name!\n", name);
    usage();
  }
  return index;
}

int erase(PartitionTable table, const char *name) {
  std::string device = std::string("/dev/") + name;
  int index = lookup_or_usage(table, device, name);
  std::printf("Erasing %s...\n", device.c_str());
  std::fflush(stdout);
  int ret = flash_erase_mtd(index);
  if (ret != 0) {
    std::printf("Fail to erase %s, ret is %d\n", device.c_str(), ret);
    return 1;
  }
  std::printf("Erase %s successful!\n", device.c_str());
  return 0;
}

// Writes all of `data`, going on after short writes; false when the device refuses.
bool write_fully(int fd, const char *data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads up to a whole block; stops early only at the end of the file. -1 on a read error.
ssize_t read_block(int fd, char *block) {
  size_t filled = 0;
  while (filled < kBlockSize) {
    ssize_t n = read(fd, block + filled, kBlockSize - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(filled);
}

int program(PartitionTable table, const char *name, const char *file_name) {
  std::string device = std::string("/dev/") + name;
  lookup_or_usage(table, device, name);
  int dev = open(device.c_str(), O_RDWR);
  if (dev < 0) {
    std::printf("Can not open <%s>.\n", device.c_str());
    usage();
  }
  std::printf("Open %s successful.\n", device.c_str());
  std::fflush(stdout);
  sleep(1);
  int image = open(file_name, O_RDONLY);
  if (image < 0) {
    std::printf("Can not open file %ss\n", file_name);
    usage();
  }
  std::printf("Open %s successful\n", file_name);
  std::printf("Programing %s...\n", device.c_str());
  std::fflush(stdout);

  static char block[kBlockSize];
  for (;;) {
    ssize_t got = read_block(image, block);
    if (got < 0) {
      std::printf("\nFail to read file %s\n", file_name);
      return 1;
    }
    if (got == 0) break;
    if (!write_fully(dev, block, static_cast<size_t>(got))) {
      std::printf("Fail to write %d bytes to <%s>\n", static_cast<int>(got), device.c_str());
      return 1;
    }
    std::printf(".");
    std::fflush(stdout);
    if (static_cast<size_t>(got) < kBlockSize) break;
  }
  std::printf("\nProgram %s successful!\n", device.c_str());
  close(image);
  close(dev);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) usage();
  PartitionTable table = flash_mtd_map;
  std::string command = argv[1];
  if (command == "erase") return erase(table, argv[2]);
  if (command == "program") {
    if (argc < 4) usage();
    return program(table, argv[2], argv[3]);
  }
  usage();
}
