// Stand-in for the router's flash library. By default the partitions are /dev/mtd0../dev/mtd4 with
// values 0..4. TORVEL_MTD_MAP may name a file of up to five lines "<device path> <value>" (tests point
// them at ordinary files); such a map is the whole table, its lines filling the entries in order, and
// an entry without a usable line holds no partition. A map that gives one value on two lines is
// refused, leaving the default table: erasing by value would reach the wrong partition.
#include "torvel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr size_t kPathCapacity = 256;

// The partitions this library serves: their device paths and table entries, settled once when the
// library loads. Entries point into the paths, so the table stays where it was built.
class PartitionTable {
 public:
  PartitionTable() {
    for (int entry = 0; entry < kFlashMtdEntries; ++entry) {
      std::snprintf(device_paths_[entry], kPathCapacity, "/dev/mtd%d", entry);
      entries_[entry] = {static_cast<uint32_t>(entry), entry, {}, device_paths_[entry]};
    }
    load_override();
  }
  PartitionTable(const PartitionTable &) = delete;
  PartitionTable &operator=(const PartitionTable &) = delete;

  const FlashMtdEntry &entry(int index) const { return entries_[index]; }

 private:
  // One usable line of the map file.
  struct MapLine {
    int number = 0;
    std::string path;
    int32_t partition = -1;
  };

  void load_override() {
    const char *map_file = std::getenv("TORVEL_MTD_MAP");
    if (map_file == nullptr) return;
    std::ifstream in(map_file);
    if (!in) {
      std::fprintf(stderr, "libtorvel: cannot read TORVEL_MTD_MAP file %s\n", map_file);
      return;
    }
    std::vector<MapLine> lines = read_map(in);
    if (refuse_repeated_values(lines, map_file)) return;
    for (FlashMtdEntry &entry : entries_) entry = {entry.reserved0, -1, {}, nullptr};
    for (const MapLine &line : lines) install(line.number - 1, line);
  }

  // The usable lines among the first five; the others are reported and their entries stay empty.
  static std::vector<MapLine> read_map(std::istream &in) {
    std::vector<MapLine> lines;
    std::string text;
    for (int number = 1; number <= kFlashMtdEntries && std::getline(in, text); ++number) {
      std::istringstream fields(text);
      MapLine line{number, {}, 0};
      long value = 0;
      if (!(fields >> line.path >> value) || line.path.size() >= kPathCapacity) {
        std::fprintf(stderr, "libtorvel: ignoring map line %d: %s\n", number, text.c_str());
        continue;
      }
      line.partition = static_cast<int32_t>(value);
      lines.push_back(line);
    }
    return lines;
  }

  static bool refuse_repeated_values(const std::vector<MapLine> &lines, const char *map_file) {
    for (size_t first = 0; first < lines.size(); ++first) {
      for (size_t second = first + 1; second < lines.size(); ++second) {
        if (lines[first].partition != lines[second].partition) continue;
        std::fprintf(stderr,
                     "libtorvel: refusing TORVEL_MTD_MAP file %s: lines %d and %d both give partition %d; "
                     "the default partitions stay\n",
                     map_file, lines[first].number, lines[second].number, lines[first].partition);
        return true;
      }
    }
    return false;
  }

  void install(int entry, const MapLine &line) {
    std::memcpy(device_paths_[entry], line.path.c_str(), line.path.size() + 1);
    entries_[entry].partition = line.partition;
    entries_[entry].device = device_paths_[entry];
  }

  char device_paths_[kFlashMtdEntries][kPathCapacity] = {};
  FlashMtdEntry entries_[kFlashMtdEntries] = {};
};

const PartitionTable &partition_table() {
  static const PartitionTable kTable;
  return kTable;
}

int fill_with_erased_bytes(int fd) {
  off_t size = lseek(fd, 0, SEEK_END);
  if (size < 0 || lseek(fd, 0, SEEK_SET) < 0) return -errno;
  std::array<unsigned char, 8192> erased;
  erased.fill(0xFF);
  for (off_t done = 0; done < size;) {
    size_t chunk = static_cast<size_t>(std::min<off_t>(size - done, static_cast<off_t>(erased.size())));
    ssize_t n = write(fd, erased.data(), chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (n == 0) return -EIO;
    done += n;
  }
  return fsync(fd) == 0 || errno == EINVAL ? 0 : -errno;
}

}  // namespace

extern "C" {

const struct FlashMtdEntry flash_mtd_map[kFlashMtdEntries] = {
    partition_table().entry(0), partition_table().entry(1), partition_table().entry(2),
    partition_table().entry(3), partition_table().entry(4),
};

int flash_erase_mtd(int partition) {
  for (int index = 0; index < kFlashMtdEntries; ++index) {
    const FlashMtdEntry &entry = partition_table().entry(index);
    if (entry.device == nullptr || entry.partition != partition) continue;
    int fd = open(entry.device, O_WRONLY);
    if (fd < 0) return -errno;
    int rc = fill_with_erased_bytes(fd);
    close(fd);
    return rc;
  }
  return -ENODEV;
}

}  // extern "C"
