// The chip's forwarding masks: source masks per port, destination masks per PGID and the sixteen
// aggregation masks, recomputed from the inputs the API state keeps whenever one of them changes.
#pragma once

#include <cstdint>

#include "swc_types.h"

// Recomputes the selected masks; the first failing chip write ends the update with its code.
swc_rc swc_update_masks(uint32_t src_update, uint32_t dest_update, uint32_t aggr_update);
