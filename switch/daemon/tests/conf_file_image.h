// The blocks of switch.conf as a test crafts them: read from the work directory's file, changed, and
// written back for the daemon's next start.
#pragma once

#include "conf.h"
#include "le.h"
#include "process_util.h"

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

struct ConfFileImage {
  std::map<uint32_t, std::vector<uint8_t>> blocks;  // by id; 0 is the header

  static ConfFileImage read() {
    const std::string text = read_text_file(conf_file_path());
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    ConfFileImage image;
    for (size_t at = 0; at + 8 <= bytes.size();) {
      const uint32_t id = le_load32(&bytes[at]);
      const size_t size = le_load32(&bytes[at + 4]);
      if (size > bytes.size() - at - 8) break;
      image.blocks[id].assign(bytes.begin() + static_cast<long>(at + 8),
                              bytes.begin() + static_cast<long>(at + 8 + size));
      at += 8 + size;
    }
    return image;
  }

  // The file with its header's length made right for the blocks it now holds.
  void write() {
    size_t total = 0;
    for (const auto &[id, data] : blocks) total += 8 + data.size();
    if (blocks.count(0) && blocks[0].size() >= 8)
      le_store32(blocks[0].data() + 4, static_cast<uint32_t>(total));
    std::vector<uint8_t> bytes;
    for (const auto &[id, data] : blocks) {
      uint8_t head[8];
      le_store32(head, id);
      le_store32(head + 4, static_cast<uint32_t>(data.size()));
      bytes.insert(bytes.end(), head, head + 8);
      bytes.insert(bytes.end(), data.begin(), data.end());
    }
    std::ofstream(conf_file_path(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
};
