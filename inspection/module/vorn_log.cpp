#include "vorn_log.h"

namespace vorn {

namespace {

// Messages caused by traffic are limited to a burst of 10 every 5 seconds, so a flood cannot turn
// into a flood of console output.
struct MessageWindow {
  unsigned long start = 0;
  int printed = 0;
  bool fresh = true;
};
MessageWindow traffic_messages;

}  // namespace

void reset_traffic_messages() {
  traffic_messages = MessageWindow{};
}

bool traffic_message_allowed() {
  unsigned long now = jiffies_now();
  if (traffic_messages.fresh || now - traffic_messages.start >= 5 * HZ)
    traffic_messages = MessageWindow{now, 0, false};
  return traffic_messages.printed++ < 10;
}

uint16_t event_base() {
  return load16(module().pVornRuleSetInfo + kRuleSetEventBase);
}

int kkAddVornLog(const PacketView &packet, uint16_t attack_id, uint8_t category) {
  return kkAddVornLog(packet.source(), attack_id, category);
}

int kkAddVornLog(uint32_t source, uint16_t attack_id, uint8_t category) {
  unsigned long flags;
  local_irq_save(flags);
  VornKernLogQueue *ring = module().pVornKernLogQueue;
  uint32_t write = ring->write_index & kKernLogMask;
  if (((write + 1) & kKernLogMask) == (ring->read_index & kKernLogMask)) {
    local_irq_restore(flags);
    TRAFFIC_PRINTK("Kernel Result Queue is FULL\n");
    return 1;
  }
  ring->records[write] = VornLogRecord{source, attack_id, category, xtime_seconds()};
  ring->write_index = (write + 1) & kKernLogMask;
  local_irq_restore(flags);
  return 0;
}

}  // namespace vorn
