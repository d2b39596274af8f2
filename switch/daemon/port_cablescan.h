// CableScan requests of port management: management object 3018 starts a cable test on each port it
// names and waits in the main loop, at most 20 seconds, for the results.
#pragma once

#include <cstdint>

struct MgmtObject;

inline constexpr uint32_t kCablescanObj = 3018;
inline constexpr uint32_t kCablescanEntrySize = 28;
inline constexpr uint32_t kCablescanWaitMs = 20000;

// Start state: no test pending on any port.
void port_cablescan_init();
// Starts a test on a port 1..6 and marks it pending.
void cablescan_start(unsigned port);
// Steps every pending test until the entry's port is done or 20 s have passed, then fills the
// entry {u32 port, u32 valid, u32 result valid, u16 status[4], u16 length[4]} from the port's result.
void port_cablescan_get(uint8_t *entry);
// A test a timed-out request left running goes on one step per call (the status poll's, every 198 ms
// per port), so the PHY gets its settings back even when no one asks for the result again.
void port_cablescan_step(unsigned port);
bool port_cablescan_pending(unsigned port);
// Object 3018.
void mgmt_port_cablescan_table(MgmtObject &object);
