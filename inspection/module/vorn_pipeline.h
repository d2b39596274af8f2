// The packet inspection pipeline: the receive hook, which decides a packet at once or queues it to
// the engine after the integrity checks, the detectors and the service checks.
#pragma once

#include "vorn_module.h"
#include "vorn_queue.h"

namespace vorn {

// The hook: always finishes the packet (verdict, queued, or back into the stack). *code: InspectCode.
int kkPacketInspect(sk_buff *skb, int *code);

}  // namespace vorn
