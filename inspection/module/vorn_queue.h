// Queuing a packet to the matching engine: the descriptor at the ring's write index filled from the
// packet and handed over, the packet held until the engine's interrupt finishes it.
#pragma once

#include <cstdint>

#include "vorn_module.h"
#include "vorn_packet.h"

namespace vorn {

// The code the hook reports for a packet: 0 when it was queued (or decided at once), else why it
// went on uninspected or was held without the engine being started.
enum InspectCode : int {
  kInspectQueued = 0,
  kRingFull = -2,          // no descriptor free after this one, or its held-packet slot is taken
  kDescriptorBusy = -3,    // the engine still owns the descriptor, or the packet has no bus address
  kNoRuleSet = -5,         // no policy loaded
  kEngineNotStarted = -6,  // queued, but the driver is not ready, so the fetch was not started
  kNotIpv4 = -8,           // neither IPv4 nor a PPPoE session
  kInspectionOff = -9,     // the policy's enable word is not 1
  kNoPrivateBuffer = -11,  // the buffer could not be made private, or its IP header pulled
};

// 0 queued, non-zero not queued. `mark` goes into the descriptor: 0 from the hook, kPrivateCopyMark
// for a private copy, freed after evaluation. *code := one of the queuing codes above.
int kkSignatureMatch_NonBlocking(sk_buff *skb, const PacketView &packet, uint8_t mark, int *code);

}  // namespace vorn
