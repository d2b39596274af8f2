// The PGID allocator: reference-counted destination sets, shared whenever the members are equal.
#include "swc_groups.h"

#include "swc_api.h"
#include "swc_trace.h"

namespace {

// PGIDs 1..8 (single ports, no port, flood) are held by the API itself from start-up.
constexpr uint32_t kLastReservedPgid = 8;

bool same_members(const SwcPgidEntry &entry, const uint32_t *members) {
  for (uint32_t poag = 1; poag < kSwcPoagSlots; ++poag) {
    if ((entry.member[poag] != 0) != (members[poag] != 0)) return false;
  }
  return true;
}

}  // namespace

swc_rc swc_pgid_alloc(uint32_t *pgid_no, uint32_t exclusive, const uint32_t *members) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  SwcApiState &s = *swc_state();
  uint32_t free_pgid = 0;
  for (uint32_t n = 1; n < kSwcPgids; ++n) {
    SwcPgidEntry &entry = s.pgid[n];
    if (entry.references == 0) {
      if (free_pgid == 0) free_pgid = n;
      continue;
    }
    if (!exclusive && same_members(entry, members)) {
      ++entry.references;
      SWC_HL_TRACE(trace::kDebug, "reusing pgid: %d", static_cast<int>(n));
      *pgid_no = n;
      return kSwcRcOk;
    }
  }
  if (free_pgid == 0) return kSwcRcNotFound;
  SWC_HL_TRACE(trace::kDebug, "using pgid_no: %d", static_cast<int>(free_pgid));
  SwcPgidEntry &entry = s.pgid[free_pgid];
  entry.exclusive = exclusive;
  entry.references = 1;
  for (uint32_t poag = 0; poag < kSwcPoagSlots; ++poag)
    entry.member[poag] = poag == 0 ? 0 : members[poag] != 0;
  const swc_rc rc = swc_pgid_table_write(free_pgid);
  if (rc < 0) {
    // The caller gets no PGID to free, so it must not stay taken.
    entry.references = 0;
    entry.exclusive = 0;
    return rc;
  }
  *pgid_no = free_pgid;
  return kSwcRcOk;
}

swc_rc swc_pgid_free(uint32_t pgid_no) {
  SWC_HL_TRACE(trace::kDebug, "pgid_no: %d", static_cast<int>(pgid_no));
  if (pgid_no == 0 || pgid_no >= kSwcPgids) {
    SWC_HL_TRACE(trace::kError, "illegal pgid_no: %d", static_cast<int>(pgid_no));
    return kSwcRcIllegal;
  }
  SwcPgidEntry &entry = swc_state()->pgid[pgid_no];
  if (entry.references == 0) {
    SWC_HL_TRACE(trace::kError, "pgid_no: %d already free", static_cast<int>(pgid_no));
    return kSwcRcIllegal;
  }
  // A locked entry written around the API (raw registers) may name a reserved PGID it never counted;
  // releasing the reservation would let another set take over a single-port or flood PGID.
  if (pgid_no <= kLastReservedPgid && entry.references == 1) {
    SWC_HL_TRACE(trace::kError, "pgid_no: %d is reserved", static_cast<int>(pgid_no));
    return kSwcRcIllegal;
  }
  --entry.references;
  entry.exclusive = 0;
  return kSwcRcOk;
}
