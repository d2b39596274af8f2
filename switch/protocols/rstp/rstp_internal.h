// Shared by the engine's units (the engine and one unit per state machine), never by its users.
#pragma once

#include "rstp_engine.h"
#include "trace.h"

namespace rstp {

// Safety net: a port's machines, and a bridge's role selection, settle in a handful of rounds; a cycle
// between states would otherwise hang the daemon's main loop.
inline constexpr unsigned kMaxRounds = 64;

}  // namespace rstp

#define RTRACE(level, ...) trace(level, __func__, __LINE__, __VA_ARGS__)
