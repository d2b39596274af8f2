// What the module reports: events into the log ring the agent reads, and messages caused by traffic,
// rate-limited, into the kernel log. Every stage of the packet path writes through these.
#pragma once

#include <cstdint>

#include "vorn_module.h"
#include "vorn_packet.h"

namespace vorn {

// Adds an event with the packet's source; 1 when the ring is full and the event is lost, else 0.
int kkAddVornLog(const PacketView &packet, uint16_t attack_id, uint8_t category);
// The same for a packet whose header may not be readable as a whole: the source as stored.
int kkAddVornLog(uint32_t source, uint16_t attack_id, uint8_t category);
// The base of the module's own attack ids (rule-set byte 40).
uint16_t event_base();

// Messages caused by traffic come in bursts of at most 10 every 5 seconds; a new module starts afresh.
void reset_traffic_messages();
bool traffic_message_allowed();

#define TRAFFIC_PRINTK(...)                                     \
  do {                                                          \
    if (::vorn::traffic_message_allowed()) printk(__VA_ARGS__); \
  } while (0)

}  // namespace vorn
