// Switch API: port groups (PGIDs), the destination sets that MAC entries point to.
#pragma once

#include <cstdint>

#include "swc_types.h"

// Finds or takes a PGID for the member flags [10] (poag 1..9). A shared request (exclusive 0) reuses
// the lowest PGID in use with the same members; otherwise the lowest free one is taken and written to
// the chip. -7 when none is free; the chip's code when the write fails (the PGID is then not kept).
swc_rc swc_pgid_alloc(uint32_t* pgid_no, uint32_t exclusive, const uint32_t* members);
// Drops one reference; -5 for a PGID that is already free or reserved.
swc_rc swc_pgid_free(uint32_t pgid_no);
