// Rule agent: the shared record of the loaded policy.
#pragma once

#include "records.h"

namespace vornagent {

// The library's 50-byte key material (a build-time constant).
extern const uint8_t kKeyMaterial[kKeySize];

RulAgnt *RulAgntInit();
RulAgnt *rul_agnt_attach();
int RulAgntReset(RulAgnt *agent);
void RulAgntRelease(RulAgnt *agent);
void RulAgntExit(RulAgnt *agent);

// Checks, unpacks and downloads the policy in the raw segment: 0 success, 1 failure.
int RulRetrvPlcy(RulAgnt *agent);

}  // namespace vornagent
