// Report agent: the report segment, the tick that fills it from the module's event log, and the
// chart of its last 24 hours.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vornagent {

using RptAgnt = uint32_t;  // the segment is addressed as 84668 little-endian words

// Creates and fills the report segment and creates the raw policy segment (daemon start).
RptAgnt *RptAgntInit();
void RptAgntExit(RptAgnt *agent);
RptAgnt *RptBuildCatgMap(RptAgnt *agent);
// Clears everything but word 0 and sets the starting values; the WAN counter starts at `wan`.
void reset_report(RptAgnt *agent, uint64_t wan);

// Tick interval from the shared word, kept to a sane range because any process may write it.
unsigned tick_interval(const RptAgnt *agent);

// One tick: pulls the module's new events into the ring, expiring the oldest when it is full,
// counts them, and closes the current 5-second slot with its events and WAN traffic; `late` ticks
// skipped before it first close their slots empty. False, with nothing done, when the device cannot
// be opened. Async-signal-safe: it runs in the daemon's SIGALRM handler.
bool RptRawEventRetrive(RptAgnt *agent, unsigned late = 0);
// Forgets every source (the daemon's tree); the ring's records stay.
void empty_source_tree();
// Number of sources the daemon now tracks.
std::size_t source_count();
// Events of one source in the daemon's tree; 0 when it has none.
uint32_t source_events(uint32_t source);

// WAN bytes (received + sent) of "eth1" in /proc/net/dev (VORNAGENT_NET_DEV names another file);
// 0 when there is no such line.
uint64_t RptGetWan();

// Sums the slots since start or reset into 24 hour buckets, the most recent hour first: WAN in MiB,
// events as counted. False when the slot indices are out of range.
bool sum_hours(const RptAgnt *agent, int wan[24], int events[24]);
// Draws the chart of the hour buckets: 0, or 1 on failure.
int RptPaintChart(const RptAgnt *agent, std::FILE *file);

}  // namespace vornagent
