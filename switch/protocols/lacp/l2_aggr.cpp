#include "l2_aggr.h"

#include "conf.h"
#include "lacp_support.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "trace.h"

#include <cstdarg>
#include <algorithm>
#include <cstring>
#include <memory>
#include <span>

namespace lacp {
namespace {

constexpr std::array<uint32_t, 5> kDefaultMode{1, 1, 0, 0, 0};
constexpr size_t kLacpPortConfigOffset = 20;
constexpr size_t kStatusPortOffset = 136;
constexpr uint32_t kMsPerTick = 1000;
constexpr uint32_t kMaxCatchUpMs = 20000;

#define AGGR_ASSERT(cond) LACP_ASSERT_IN(trace::kL2, cond)
#define TRACE LACP_TRACE

bool valid_port(unsigned port) {
  return port > 0 && port <= kPortCount;
}
bool valid_aid(unsigned aid) {
  return aid > 0 && aid <= kAggregatorCount;
}

size_t port_config_offset(unsigned port) {
  return kLacpPortConfigOffset + kPortConfigSize * (port - 1);
}

bool valid_poag(uint32_t poag_no) {
  return poag_no >= kFirstPoag && poag_no <= kLastPoag;
}

bool has_member(const AggrEntry &entry) {
  return std::any_of(entry.members.begin() + 1, entry.members.end(), [](uint32_t m) { return m != 0; });
}

// The first front port that both entries hold; 0 when they share none.
unsigned shared_port(const AggrEntry &a, const AggrEntry &b) {
  for (unsigned port = 1; port <= kPortCount; ++port)
    if (a.members[port] && b.members[port]) return port;
  return 0;
}

// The first of `others` under another aggregation number that holds a port of `entry`, and that port;
// null when none does. An entry of its own number is the one it replaces; an illegal number is never
// added, so it holds nothing.
const AggrEntry *port_holder(const AggrEntry &entry, std::span<const AggrEntry> others, unsigned *port) {
  for (const AggrEntry &other : others) {
    if (other.poag_no == entry.poag_no || !valid_poag(other.poag_no)) continue;
    *port = shared_port(entry, other);
    if (*port != 0) return &other;
  }
  return nullptr;
}

}  // namespace

void encode_aggr_entry(const AggrEntry &entry, uint8_t *out) {
  le_store32(out, entry.poag_no);
  for (unsigned i = 0; i < 7; ++i) le_store32(out + 4 + 4 * i, entry.members[i]);
  le_store16(out + 32, entry.aid);
  le_store16(out + 34, 0);
}

AggrEntry decode_aggr_entry(const uint8_t *in) {
  AggrEntry entry;
  entry.poag_no = le_load32(in);
  for (unsigned i = 0; i < 7; ++i) entry.members[i] = le_load32(in + 4 + 4 * i);
  entry.aid = le_load16(in + 32);
  return entry;
}

// ---- module ----

AggrModule::AggrModule(proto::PortServices &services, AggrChip &chip)
    : services_(services), chip_(chip), events_(*this), engine_(services, events_) {}

void AggrModule::trace(unsigned level, const char *function, int line, const char *format, ...) {
  char text[trace::kTextSize];
  va_list args;
  va_start(args, format);
  bool shown = format_trace_line(trace::kL2, level, text, sizeof text, format, args);
  va_end(args);
  if (shown) services_.trace(trace::kL2, level, function, line, text);
}

void AggrModule::init() {
  TRACE(trace::kDebug, "Init");
  count_ = 0;
  table_ = {};
  mode_ = kDefaultMode;
  for (unsigned port = 1; port <= kPortCount; ++port) services_.set_fwdstate(port, 1);
  engine_.init();
  own_mac_ = services_.system_mac();
  TRACE(trace::kDebug, "Initializing config\n");
}

// ---- static table ----

int AggrModule::find(uint32_t poag_no) const {
  for (unsigned i = 0; i < count_; ++i)
    if (table_[i].poag_no == poag_no) return static_cast<int>(i);
  return -1;
}

int AggrModule::config_add(const AggrEntry &entry) {
  TRACE(trace::kDebug, "poag_no: %d", static_cast<int>(entry.poag_no));
  // Numbers above the three aggregations would index past the spanning tree's logical ports.
  if (!valid_poag(entry.poag_no)) {
    TRACE(trace::kError, "Illegal poag_no: %d", static_cast<int>(entry.poag_no));
    return -1;
  }
  const auto before = table_;
  const unsigned count_before = count_;
  unsigned index = 0;
  while (index < count_ && table_[index].poag_no < entry.poag_no) ++index;
  if (index < count_ && table_[index].poag_no == entry.poag_no) {
    TRACE(trace::kDebug, "Updating at index %d", static_cast<int>(index));
    table_[index] = entry;
  } else if (index < count_) {
    if (count_ == kAggrTableMax) {
      TRACE(trace::kError, "Insert failed, table full");
      return -1;
    }
    TRACE(trace::kDebug, "Inserting at index %d", static_cast<int>(index));
    for (unsigned i = count_; i > index; --i) table_[i] = table_[i - 1];
    table_[index] = entry;
    ++count_;
  } else {
    if (count_ == kAggrTableMax) {
      TRACE(trace::kError, "Add failed, table full");
      return -1;
    }
    TRACE(trace::kDebug, "Adding at index %d", static_cast<int>(index));
    table_[index] = entry;
    ++count_;
  }
  if (chip_.aggr_port_members_set(entry.poag_no, entry.members) != 0) {
    TRACE(trace::kError, "swc_aggr_port_members_set failed");
    // The table mirrors the chip: an entry the chip refused must not be kept, nor saved.
    table_ = before;
    count_ = count_before;
    return -1;
  }
  chip_.rstp_aggr_add(entry.poag_no, entry.members);
  return static_cast<int>(index);
}

int AggrModule::config_del(uint32_t poag_no) {
  int index = find(poag_no);
  if (index < 0) {
    TRACE(trace::kDebug, "Delete failed, not found");
    return -1;
  }
  TRACE(trace::kDebug, "Deleting at index %d", index);
  chip_.rstp_aggr_del(poag_no);
  int result = index;
  if (chip_.aggr_port_members_set(poag_no, std::array<uint32_t, 7>{}) != 0) {
    TRACE(trace::kDebug, "swc_aggr_port_members_set failed");
    result = -1;
  }
  for (unsigned i = static_cast<unsigned>(index); i + 1 < count_; ++i) table_[i] = table_[i + 1];
  --count_;
  table_[count_] = AggrEntry{};
  return result;
}

// The chip holds a port in one aggregation only: an entry that took a port of another would leave that
// one listing a port it no longer has, and its later delete would make the port standalone. A new entry
// without a member would only hold a number and a table slot; emptying an existing one stays possible.
bool AggrModule::add_allowed(const AggrEntry &entry) {
  if (!has_member(entry) && find(entry.poag_no) < 0) {
    TRACE(trace::kError, "No member in poag_no: %u", entry.poag_no);
    return false;
  }
  unsigned port = 0;
  const AggrEntry *holder = port_holder(entry, std::span(table_.data(), count_), &port);
  if (holder) {
    TRACE(trace::kError, "Port %u already in poag_no: %u", port, holder->poag_no);
    return false;
  }
  return true;
}

int AggrModule::config_get(AggrEntry &entry, bool exact) const {
  for (unsigned i = 0; i < count_; ++i) {
    if (table_[i].poag_no > entry.poag_no || (exact && table_[i].poag_no == entry.poag_no)) {
      entry = table_[i];
      return static_cast<int>(i);
    }
  }
  return -1;
}

// ---- hardware aggregations made by LACP ----

uint32_t AggrModule::free_poag() const {
  for (uint32_t poag = kFirstPoag; poag <= kLastPoag; ++poag)
    if (find(poag) < 0) return poag;
  return 0;
}

AggrEntry AggrModule::aggregator_entry(unsigned aid, unsigned *count) const {
  AggrEntry entry;
  entry.aid = static_cast<uint16_t>(aid);
  *count = 0;
  for (unsigned port = 1; port <= kPortCount; ++port) {
    if (aid_portmap_[port] == aid) {
      entry.members[port] = 1;
      ++*count;
    }
  }
  return entry;
}

int AggrModule::set_hwaggr(unsigned aid, unsigned new_port) {
  AGGR_ASSERT(valid_aid(aid));
  AGGR_ASSERT(valid_port(new_port));
  aid_portmap_[new_port] = static_cast<uint16_t>(aid);
  unsigned count = 0;
  AggrEntry entry = aggregator_entry(aid, &count);
  if (count == 1) {
    TRACE(trace::kDebug, "Starting port %u aid %u", new_port, aid);
    return 0;
  }
  // A first attempt that the chip refused leaves no number behind: a later member tries afresh.
  if (count == 2 || aid_poag_[aid] == 0) {
    entry.poag_no = free_poag();
    TRACE(trace::kDebug, "creating port %u aid %u -> poag_no: %u", new_port, aid, entry.poag_no);
  } else {
    entry.poag_no = aid_poag_[aid];
    TRACE(trace::kDebug, "adding port %u to aid %u -> poag_no: %u", new_port, aid, entry.poag_no);
  }
  int result = config_add(entry);
  aid_poag_[aid] = result < 0 ? 0 : entry.poag_no;
  if (result < 0) TRACE(trace::kError, "No hardware aggregation for aid %u: ports stay individual", aid);
  return result;
}

void AggrModule::clear_hwaggr(unsigned aid, unsigned old_port) {
  AGGR_ASSERT(valid_port(old_port));
  if (aid_portmap_[old_port] == 0) return;
  AGGR_ASSERT(aid_portmap_[old_port] == aid);
  aid_portmap_[old_port] = 0;
  unsigned count = 0;
  AggrEntry entry = aggregator_entry(aid, &count);
  if (count == 0) return;
  if (count == 1) {
    TRACE(trace::kDebug, "Deleting port %u aid %u -> poag_no: %u", old_port, aid, aid_poag_[aid]);
    config_del(aid_poag_[aid]);
    aid_poag_[aid] = 0;
    return;
  }
  entry.poag_no = aid_poag_[aid];
  TRACE(trace::kDebug, "Clearing port %u from aid %u -> poag_no: %u", old_port, aid, entry.poag_no);
  config_add(entry);
}

// A configuration read removed an aggregation that LACP made: the glue forgets it and the ports
// negotiate again, so the hardware aggregation is rebuilt instead of silently missing. The ports are
// only noted here: a restart first finishes the engine's sweep, whose events add and remove table
// entries, so it must not run in the middle of a walk over the table.
void AggrModule::forget_lacp_aggregation(const AggrEntry &entry, PortSet &restarts) {
  if (!valid_aid(entry.aid) || aid_poag_[entry.aid] != entry.poag_no) return;
  aid_poag_[entry.aid] = 0;
  for (unsigned port = 1; port <= kPortCount; ++port) {
    if (aid_portmap_[port] != entry.aid) continue;
    aid_portmap_[port] = 0;
    restarts[port] = true;
  }
}

// A configured entry that takes or removes the number of an LACP aggregation would otherwise be changed
// or deleted later by that aggregation's members leaving.
void AggrModule::release_lacp_number(uint32_t poag_no, PortSet &restarts) {
  int index = find(poag_no);
  if (index >= 0) forget_lacp_aggregation(table_[static_cast<unsigned>(index)], restarts);
}

void AggrModule::restart_lacp_ports(const PortSet &restarts) {
  for (unsigned port = 1; port <= kPortCount; ++port)
    if (restarts[port]) engine_.restart_port(port);
}

// ---- LACP configuration ----

void AggrModule::lacp_config_set(const uint8_t *record) {
  engine_.set_config(record);
  for (unsigned port = 1; port <= kPortCount; ++port)
    engine_.set_portconfig(port, record + port_config_offset(port));
}

void AggrModule::lacp_config_get(uint8_t *record) {
  std::memset(record, 0, kLacpConfigSize);
  engine_.get_config(record);
  for (unsigned port = 1; port <= kPortCount; ++port)
    engine_.get_portconfig(port, record + port_config_offset(port));
}

void AggrModule::lacp_config_save() {
  uint8_t *block = conf_create(kConfBlockLacp, kLacpConfigSize);
  if (!block) return;
  lacp_config_get(block);
  // The box's own address is stored as "own" so that the file still fits after a board change.
  if (std::memcmp(block + 4, own_mac_.data(), 6) == 0) std::memset(block + 4, 0, 6);
  conf_close(kConfBlockLacp);
}

// ---- configuration blocks ----

void AggrModule::save_table() {
  uint8_t *block = conf_create(kConfBlockTable, kTableBlockSize);
  if (!block) return;
  std::memset(block, 0, kTableBlockSize);
  uint16_t stored = 0;
  for (unsigned i = 0; i < count_; ++i)
    if (table_[i].aid == 0) encode_aggr_entry(table_[i], block + 4 + kAggrEntrySize * stored++);
  le_store16(block, stored);
  le_store16(block + 2, kAggrEntrySize);
  conf_close(kConfBlockTable);
}

void AggrModule::save_mode() {
  uint8_t *block = conf_create(kConfBlockMode, kAggrModeSize);
  if (!block) return;
  for (unsigned i = 0; i < 5; ++i) le_store32(block + 4 * i, mode_[i]);
  conf_close(kConfBlockMode);
}

// The configured entries of a block 10 holding `stored` of them. A file written by hand or by an older
// system may give a port to two entries; the chip would keep it in the later one only, while the earlier
// still listed it, so the later entry is left out.
size_t AggrModule::block_entries(const uint8_t *block, size_t stored,
                                 std::array<AggrEntry, kAggrTableMax> &wanted) {
  size_t taken = 0;
  for (size_t i = 0; i < stored; ++i) {
    AggrEntry entry = decode_aggr_entry(block + 4 + kAggrEntrySize * i);
    entry.aid = 0;
    unsigned port = 0;
    const AggrEntry *holder = port_holder(entry, std::span(wanted.data(), taken), &port);
    if (holder) {
      TRACE(trace::kError, "Skipping poag_no: %u, port %u already in poag_no: %u", entry.poag_no, port,
            holder->poag_no);
      continue;
    }
    wanted[taken++] = entry;
  }
  return taken;
}

void AggrModule::read_table_block() {
  uint32_t size = 0;
  const uint8_t *block = conf_open(kConfBlockTable, &size);
  if (!block || size < 4) return;
  if (le_load16(block + 2) != kAggrEntrySize) {
    TRACE(trace::kError, "Ignoring aggregation block with entry size %u", le_load16(block + 2));
    return;
  }
  // The count comes from the file: only entries that lie inside the block and the table are taken.
  const size_t stored = std::min<size_t>({le_load16(block), kAggrTableMax, (size - 4) / kAggrEntrySize});
  std::array<AggrEntry, kAggrTableMax> wanted{};
  const size_t entries = block_entries(block, stored, wanted);
  PortSet restarts{};
  for (unsigned i = count_; i-- > 0;) {
    AggrEntry current = table_[i];
    bool kept = false;
    for (size_t w = 0; w < entries; ++w) kept = kept || wanted[w].poag_no == current.poag_no;
    if (kept) continue;
    config_del(current.poag_no);
    forget_lacp_aggregation(current, restarts);
  }
  for (size_t i = 0; i < entries; ++i) {
    release_lacp_number(wanted[i].poag_no, restarts);
    config_add(wanted[i]);
  }
  restart_lacp_ports(restarts);
}

void AggrModule::conf(bool create) {
  if (process_state().debug_flags[kDebugDisableAggr]) {
    TRACE(trace::kDebug, "l2_disable_aggr_init set");
    return;
  }
  if (create) {
    uint8_t *mode = conf_create(kConfBlockMode, kAggrModeSize);
    if (mode) {
      for (unsigned i = 0; i < 5; ++i) le_store32(mode + 4 * i, kDefaultMode[i]);
      conf_close(kConfBlockMode);
    }
    uint8_t *table = conf_create(kConfBlockTable, kTableBlockSize);
    if (table) {
      std::memset(table, 0, kTableBlockSize);
      le_store16(table + 2, kAggrEntrySize);
      conf_close(kConfBlockTable);
    }
    TRACE(trace::kDebug, "Writing config\n");
    lacp_config_save();
    return;
  }
  uint32_t size = 0;
  if (const uint8_t *mode = conf_open(kConfBlockMode, &size); mode && size >= kAggrModeSize) {
    for (unsigned i = 0; i < 5; ++i) mode_[i] = le_load32(mode + 4 * i);
    chip_.aggr_mode_set(mode_);
  }
  read_table_block();
  if (const uint8_t *lacp = conf_open(kConfBlockLacp, &size); lacp && size >= kLacpConfigSize) {
    TRACE(trace::kDebug, "Reading config\n");
    uint8_t record[kLacpConfigSize];
    std::memcpy(record, lacp, sizeof record);
    lacp_config_set(record);
  }
}

// ---- one-second engine ticks from the 500-ms timer ----

uint32_t AggrModule::tick(uint32_t now, uint32_t last, uint32_t elapsed) {
  if (last == 0) {
    last = now - kMsPerTick;
    elapsed = kMsPerTick;
  }
  if (elapsed >= 2 * kMsPerTick && dropped_tick_warnings_ > 0) {
    --dropped_tick_warnings_;
    TRACE(trace::kWarn, "Timer dropped %lu tick(s)\n", static_cast<unsigned long>(elapsed / kMsPerTick - 1));
  }
  if (elapsed > kMaxCatchUpMs) {
    TRACE(trace::kWarn, "Timer jumped more than 20 ticks: reset\n");
    engine_.tick();
    return now;
  }
  for (; elapsed >= kMsPerTick; elapsed -= kMsPerTick, last += kMsPerTick) engine_.tick();
  return last;
}

// ---- management objects ----

void AggrModule::mgmt_table(MgmtObject &object) {
  if (mgmt_table_check(object, kAggrEntrySize, kAggrTableMax) != 0) return;
  uint32_t res = kMgmtResOk;
  unsigned count = object.table_count();
  switch (object.cmd()) {
    case kMgmtCmdGet: {
      AggrEntry key;
      key.poag_no = count ? le_load32(object.entry(0, kAggrEntrySize)) : 0;
      unsigned found = 0;
      for (; found < count; ++found) {
        if (config_get(key, found == 0) < 0) break;
        encode_aggr_entry(key, object.entry(found, kAggrEntrySize));
      }
      le_store16(object.bytes + 16, static_cast<uint16_t>(found));
      break;
    }
    case kMgmtCmdAdd:
    case kMgmtCmdDel: {
      PortSet restarts{};
      for (unsigned i = 0; i < count; ++i) {
        AggrEntry entry = decode_aggr_entry(object.entry(i, kAggrEntrySize));
        entry.aid = 0;
        // Checked before LACP gives up the number: a refused entry leaves its aggregation alone.
        if (object.cmd() == kMgmtCmdAdd && !add_allowed(entry)) {
          res = kMgmtResFail;
          continue;
        }
        release_lacp_number(entry.poag_no, restarts);
        int result = object.cmd() == kMgmtCmdAdd ? config_add(entry) : config_del(entry.poag_no);
        if (result < 0) res = kMgmtResFail;
      }
      save_table();
      restart_lacp_ports(restarts);
      break;
    }
    default:
      res = kMgmtResFail;
      break;
  }
  object.set_res(res);
}

void AggrModule::mgmt_gen_conf(MgmtObject &object) {
  if (!object.has_data(kAggrModeSize)) {
    object.set_res(kMgmtResFail);
    return;
  }
  switch (object.cmd()) {
    case kMgmtCmdGet:
      for (unsigned i = 0; i < 5; ++i) object.set_data32(4 * i, mode_[i]);
      object.set_res(kMgmtResOk);
      break;
    case kMgmtCmdSet:
      for (unsigned i = 0; i < 5; ++i) mode_[i] = object.data32(4 * i);
      chip_.aggr_mode_set(mode_);
      save_mode();
      object.set_res(kMgmtResOk);
      break;
    default:
      object.set_res(kMgmtResFail);
      break;
  }
}

void AggrModule::mgmt_lacp_config(MgmtObject &object) {
  if (!object.has_data(kLacpConfigSize)) {
    object.set_res(kMgmtResFail);
    return;
  }
  switch (object.cmd()) {
    case kMgmtCmdGet:
      TRACE(trace::kDebug, "mgmt Config Get: %d", static_cast<int>(object.obj_id()));
      lacp_config_get(object.data());
      object.set_res(kMgmtResOk);
      break;
    case kMgmtCmdSet:
      TRACE(trace::kDebug, "mgmt Config Set: %d", static_cast<int>(object.obj_id()));
      lacp_config_set(object.data());
      lacp_config_save();
      object.set_res(kMgmtResOk);
      break;
    default:
      object.set_res(kMgmtResFail);
      break;
  }
}

void AggrModule::mgmt_lacp_status(MgmtObject &object) {
  if (object.cmd() != kMgmtCmdGet || !object.has_data(kLacpStatusSize)) {
    object.set_res(kMgmtResFail);
    return;
  }
  TRACE(trace::kDebug, "mgmt Status Get: %d", static_cast<int>(object.obj_id()));
  uint8_t *status = object.data();
  std::memset(status, 0, kLacpStatusSize);
  uint32_t records = 0;
  // Aggregator 6 can hold two ports too (a port that re-selects while 1..5 are taken): ask all six.
  // At most three of them have two or more of the six ports, so the records end before the ports.
  for (unsigned aid = 1; aid <= kAggregatorCount; ++aid)
    if (engine_.get_aggr_status(aid, nullptr))
      engine_.get_aggr_status(aid, status + 4 + kAggrStatusSize * records++);
  le_store32(status, records);
  for (unsigned port = 1; port <= kPortCount; ++port)
    engine_.get_port_status(port, status + kStatusPortOffset + kPortStatusSize * (port - 1));
  object.set_res(kMgmtResOk);
}

// ---- the daemon's module ----

namespace {
proto::PortServices *g_services = nullptr;
AggrChip *g_chip = nullptr;
std::unique_ptr<AggrModule> g_module;
}  // namespace

void l2_aggr_services_set(proto::PortServices *services, AggrChip *chip) {
  g_module.reset();
  g_services = services;
  g_chip = chip;
}

AggrModule *l2_aggr_module() {
  return g_module.get();
}

}  // namespace lacp

using lacp::g_module;

namespace {
lacp::AggrModule &module() {
  LACP_ASSERT_IN(trace::kL2, g_module != nullptr);
  return *g_module;
}
}  // namespace

void l2_aggr_init() {
  LACP_ASSERT_IN(trace::kL2, lacp::g_services != nullptr && lacp::g_chip != nullptr);
  g_module = std::make_unique<lacp::AggrModule>(*lacp::g_services, *lacp::g_chip);
  g_module->init();
  timer_reg(lacp_tick, lacp::kLacpTickPeriodMs);
}

void l2_aggr_conf(int create) {
  // On a first start the store writes every module's defaults before the modules start: a module
  // that has not started yet writes those of a fresh one. Its configuration is read at l2_init.
  if (!g_module && create && lacp::g_services && lacp::g_chip) {
    lacp::AggrModule fresh(*lacp::g_services, *lacp::g_chip);
    fresh.conf(true);
    return;
  }
  module().conf(create != 0);
}
uint32_t lacp_tick(uint32_t now, uint32_t last, uint32_t elapsed) {
  return module().tick(now, last, elapsed);
}
void l2_aggr_table(MgmtObject &object) {
  module().mgmt_table(object);
}
void l2_aggr_gen_conf(MgmtObject &object) {
  module().mgmt_gen_conf(object);
}
void l2_lacp_config(MgmtObject &object) {
  module().mgmt_lacp_config(object);
}
void l2_lacp_status(MgmtObject &object) {
  module().mgmt_lacp_status(object);
}

int swc_os_set_hwaggr(unsigned aid, unsigned new_port) {
  return module().set_hwaggr(aid, new_port);
}
void swc_os_clear_hwaggr(unsigned aid, unsigned old_port) {
  module().clear_hwaggr(aid, old_port);
}

void swc_lacp_init() {
  module().engine().init();
}
void swc_lacp_set_config(const uint8_t *system) {
  module().engine().set_config(system);
}
void swc_lacp_get_config(uint8_t *system) {
  module().engine().get_config(system);
}
void swc_lacp_set_portconfig(unsigned port, const uint8_t *config) {
  module().engine().set_portconfig(port, config);
}
void swc_lacp_get_portconfig(unsigned port, uint8_t *config) {
  module().engine().get_portconfig(port, config);
}
void swc_lacp_linkstate_changed(unsigned port, int link) {
  module().engine().linkstate_changed(port, link);
}
void swc_lacp_receive(uint32_t port, const uint8_t *frame, uint32_t length) {
  module().engine().receive(port, frame, length);
}
void swc_lacp_tick() {
  module().engine().tick();
}
void swc_lacp_more_work() {
  if (g_module) g_module->engine().more_work();
}
bool swc_lacp_get_aggr_status(unsigned aggrid, uint8_t *status) {
  return module().engine().get_aggr_status(aggrid, status);
}
void swc_lacp_get_port_status(unsigned port, uint8_t *status) {
  module().engine().get_port_status(port, status);
}
