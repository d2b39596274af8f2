// The CPU frame receive path with whatever the chip's queue reports: the input is the queue's two
// system header words (little-endian) followed by the queue's data bytes. The frame is polled, handed
// over and freed; the pools must be full again afterwards.
#include "chip_model.h"
#include "driver.h"
#include "packet.h"
#include "swc_api.h"
#include "swc_phy.h"
#include "swgenio.h"
#include "trace.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct QueueContents {
  uint32_t header[2] = {};
  std::vector<uint8_t> data;
  bool pending = false;
};
QueueContents queue;

// Data word k of queue 1, as the chip lays the bytes out: most significant first.
uint32_t data_word(size_t k) {
  uint32_t word = 0;
  for (size_t i = 0; i < 4; ++i) {
    const size_t at = 4 * k + i;
    word = word << 8 | (at < queue.data.size() ? queue.data[at] : 0);
  }
  return word;
}

// Queue 1's registers from the input; everything else from the chip model.
int handle(swchip::Driver &driver, uint32_t code, std::span<uint8_t> record) {
  if (code != swgenio::kCpldSpiReadWrite || (record[4] & swgenio::kSpiWriteFlag))
    return driver.handle(code, record);
  const unsigned block = record[4] >> 5, subblock = record[4] & 15, reg = record[5];
  uint32_t value;
  if (block == 7 && subblock == 0 && reg == 0x31)
    value = queue.pending ? 1u << 30 : 0;
  else if (block == 4 && subblock <= 1)
    value = subblock == 0 && reg < 2 ? queue.header[reg] : data_word(subblock * 256 + reg - 2);
  else
    return driver.handle(code, record);
  for (int i = 0; i < 4; ++i) record[6 + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  return 0;
}

struct Harness {
  swchip::ChipModel chip;
  swchip::Driver driver{chip};
  SwcApiState state{};
  std::vector<unsigned char> phy_state;
  SwcPhyContext phy{};
  SwcContext context{};

  Harness() {
    trace_option_apply("all", "emerg");  // the rejections are expected here; their lines only slow the runs
    swgenio_attach_in_process([this](uint32_t code, std::span<uint8_t> record) {
      // A write to queue 1's control register releases the frame.
      if (code == swgenio::kCpldSpiReadWrite && (record[4] & swgenio::kSpiWriteFlag) && record[4] >> 5 == 4 &&
          (record[4] & 15) == 4)
        queue.pending = false;
      return handle(driver, code, record);
    });
    swgenio_set_recording(false);
    phy_state.assign(swc_phy_sizeof_al(6), 0);
    phy = SwcPhyContext{0, reinterpret_cast<SwcPhyState *>(phy_state.data())};
    context = SwcContext{swgenio_open("/dev/swgenio", 2), &state, &phy};
    swc_select_context(&context);
    const SwcInitSetup setup{1, 1, 0, -1, 0};
    swc_init_state(&setup);
    packet_buffer_init();
    packet_l2_receiver_set(consume);
    packet_l3_receiver_set(consume);
  }
  // Reads every byte the receiver was given, so a length past the data shows up under ASan.
  static void consume(PacketBuffer *buffer) {
    volatile uint8_t sum = 0;
    for (uint32_t i = 0; i < buffer->length; ++i) sum = static_cast<uint8_t>(sum + buffer->data[i]);
    packet_free(buffer);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Harness h;
  if (size < 8) return 0;
  std::memcpy(queue.header, data, 8);  // little-endian host
  queue.data.assign(data + 8, data + size);
  queue.pending = true;
  for (int pass = 0; pass < 3 && queue.pending; ++pass) packet_poll();
  packet_queue();
  queue.pending = false;
  const PacketStats s = packet_stats_get();
  if (s.free[0] != kPacketSmallCount || s.free[1] != kPacketMediumCount || s.free[2] != kPacketBigCount)
    std::abort();
  return 0;
}
