// Rule agent: the shared record of the loaded policy.
#pragma once

#include "records.h"

namespace vornagent {

// The library's 50-byte key material (a build-time constant).
extern const uint8_t kKeyMaterial[kKeySize];

RulAgnt *RulAgntInit();
RulAgnt *RulAgntAttach();
int RulAgntReset(RulAgnt *agent);
void RulAgntRelease(RulAgnt *agent);
void RulAgntExit(RulAgnt *agent);

}  // namespace vornagent
