// Report agent segment: created by the daemon, read by the report clients.
#pragma once

#include <cstdint>

namespace vornagent {

using RptAgnt = uint32_t;  // the segment is addressed as 84668 little-endian words

// Creates and fills the report segment and creates the raw policy segment (daemon start).
RptAgnt *RptAgntInit();
void RptAgntExit(RptAgnt *agent);
RptAgnt *RptBuildCatgMap(RptAgnt *agent);

// Tick interval from the shared word, kept to a sane range because any process may write it.
unsigned tickInterval(const RptAgnt *agent);

}  // namespace vornagent
