#include "l2_mirror.h"

#include "conf.h"
#include "l2_table.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "swc_groups.h"
#include "trace.h"

#include <array>
#include <vector>

namespace {

#define L2_TRACE(level, ...) trace_printf(trace::kL2, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)
#define L2_API_TRACE(rc, text) TRACE_API_RESULT(trace::kL2, rc, trace::kError, text)

inline constexpr uint32_t kObjMirrorMonitor = 4009, kObjMirrorIngress = 4010, kObjMirrorEgress = 4013;
inline constexpr uint32_t kPorts = 6;
static_assert(4 + kPorts * kL2MirrorRecordSize == 52);

using MirrorTable = std::array<L2MirrorEntry, kPorts + 1>;  // indexed by port 1..6

struct MirrorModule {
  uint32_t monitor = kL2MirrorDefaultMonitor;
  MirrorTable ingress{};
  MirrorTable egress{};
};
MirrorModule mirror;

using ChipPortsSet = swc_rc (*)(const uint32_t *ports);

bool legal_port(uint32_t port) {
  return port >= 1 && port <= kPorts;
}

void reset_table(MirrorTable &table) {
  for (uint32_t p = 0; p <= kPorts; ++p) table[p] = L2MirrorEntry{p, 0};
}

int entry_get(const MirrorTable &table, L2MirrorEntry &entry) {
  if (!legal_port(entry.port)) return -1;
  entry = table[entry.port];
  return 1;
}

// The chip always gets the whole set: mirroring port 5 after port 3 leaves port 3 mirrored.
int entry_set(MirrorTable &table, const L2MirrorEntry &entry, ChipPortsSet chip_set, const char *call) {
  if (!legal_port(entry.port)) {
    L2_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(entry.port));
    return -1;
  }
  const L2MirrorEntry before = table[entry.port];
  table[entry.port] = entry;
  uint32_t members[kPorts + 1] = {};
  for (uint32_t p = 1; p <= kPorts; ++p) members[p] = table[p].enabled;
  const swc_rc rc = L2_API_TRACE(chip_set(members), call);
  // What the chip refused (two ports mirrored on egress only) must not show in GET nor reach the file.
  if (rc < 0) table[entry.port] = before;
  return rc;
}

void save_monitor() {
  if (uint8_t *block = conf_create(kL2MirrorConfMonitor, 4)) {
    le_store32(block, mirror.monitor);
    conf_close(kL2MirrorConfMonitor);
  }
}

void save_table(uint32_t id, const MirrorTable &table) {
  conf_table_save(id, kL2MirrorRecordSize, kPorts, std::vector<L2MirrorEntry>(table.begin() + 1, table.end()),
                  l2_mirror_record_store);
}

void create_defaults() {
  MirrorTable off{};
  reset_table(off);
  if (uint8_t *block = conf_create(kL2MirrorConfMonitor, 4)) {
    le_store32(block, kL2MirrorDefaultMonitor);
    conf_close(kL2MirrorConfMonitor);
  }
  save_table(kL2MirrorConfIngress, off);
  save_table(kL2MirrorConfEgress, off);
}

void read_table(uint32_t id, int (*set)(const L2MirrorEntry &)) {
  for (const L2MirrorEntry &entry :
       conf_table_read<L2MirrorEntry>(id, kL2MirrorRecordSize, kPorts, l2_mirror_record_load))
    set(entry);
}

// Ingress before egress: a port mirrored both ways does not count toward the chip's single egress port.
void read_configuration() {
  uint32_t size = 0;
  const uint8_t *monitor = conf_open(kL2MirrorConfMonitor, &size);
  // Without the block the monitor port still goes to the chip: writing it completes the chip's
  // destination masks, without which no learned address is reached.
  mirror_monitor_set(monitor && size >= 4 ? le_load32(monitor) : mirror.monitor);
  read_table(kL2MirrorConfIngress, mirror_ingress_set);
  read_table(kL2MirrorConfEgress, mirror_egress_set);
}

// ---- management objects

void obj_monitor(MgmtObject &object) {
  object.set_res(kMgmtResFail);
  if (!object.has_data(4)) return;
  if (object.cmd() == kMgmtCmdGet) {
    uint32_t port = 0;
    mirror_monitor_get(port);
    object.set_data32(0, port);
    object.set_res(kMgmtResOk);
  } else if (object.cmd() == kMgmtCmdSet && mirror_monitor_set(object.data32(0)) >= 0) {
    save_monitor();
    object.set_res(kMgmtResOk);
  }
}

void obj_table(MgmtObject &object, uint32_t id, const MirrorTable &table, int (*get)(L2MirrorEntry &),
               int (*set)(const L2MirrorEntry &)) {
  if (mgmt_table_check(object, kL2MirrorRecordSize, kPorts) < 0) return;
  object.set_res(kMgmtResOk);
  const uint16_t count = object.table_count();
  if (object.cmd() == kMgmtCmdGet) {
    uint16_t done = 0;
    for (; done < count; ++done) {
      uint8_t *record = object.entry(done, kL2MirrorRecordSize);
      L2MirrorEntry entry{le_load32(record), 0};
      if (get(entry) < 0) break;
      l2_mirror_record_store(record, entry);
    }
    le_store16(object.bytes + 16, done);
  } else if (object.cmd() == kMgmtCmdSet) {
    for (uint16_t i = 0; i < count; ++i) {
      L2MirrorEntry entry{};
      l2_mirror_record_load(object.entry(i, kL2MirrorRecordSize), entry);
      if (set(entry) < 0) object.set_res(kMgmtResFail);
    }
    save_table(id, table);
  } else {
    object.set_res(kMgmtResFail);
  }
}

}  // namespace

void l2_mirror_record_load(const uint8_t *record, L2MirrorEntry &entry) {
  entry = {le_load32(record), le_load32(record + 4)};
}

void l2_mirror_record_store(uint8_t *record, const L2MirrorEntry &entry) {
  le_store32(record, entry.port);
  le_store32(record + 4, entry.enabled);
}

int mirror_monitor_get(uint32_t &port) {
  port = mirror.monitor;
  return 1;
}

int mirror_monitor_set(uint32_t port) {
  L2_TRACE(trace::kDebug, "port_no: %d", static_cast<int>(port));
  if (!legal_port(port)) {
    L2_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(port));
    return -1;
  }
  mirror.monitor = port;
  return L2_API_TRACE(swc_mirror_monitor_port_set(port), "swc_mirror_monitor_port_set(port_no)");
}

int mirror_ingress_get(L2MirrorEntry &entry) {
  return entry_get(mirror.ingress, entry);
}

int mirror_egress_get(L2MirrorEntry &entry) {
  return entry_get(mirror.egress, entry);
}

int mirror_ingress_set(const L2MirrorEntry &entry) {
  return entry_set(mirror.ingress, entry, swc_mirror_ingress_ports_set,
                   "swc_mirror_ingress_ports_set(ports)");
}

int mirror_egress_set(const L2MirrorEntry &entry) {
  return entry_set(mirror.egress, entry, swc_mirror_egress_ports_set, "swc_mirror_egress_ports_set(ports)");
}

void l2_mirror_init() {
  L2_TRACE(trace::kDebug, "Init");
  mirror.monitor = kL2MirrorDefaultMonitor;
  reset_table(mirror.ingress);
  reset_table(mirror.egress);
}

void l2_mirror_conf(bool create) {
  if (process_state().debug_flags[kL2DebugDisableMirror]) {
    L2_TRACE(trace::kDebug, "l2_disable_mirror_init set");
    return;
  }
  if (create)
    create_defaults();
  else
    read_configuration();
}

bool l2_mirror_mgmt(MgmtObject &object) {
  switch (object.obj_id()) {
    case kObjMirrorMonitor:
      obj_monitor(object);
      return true;
    case kObjMirrorIngress:
      obj_table(object, kL2MirrorConfIngress, mirror.ingress, mirror_ingress_get, mirror_ingress_set);
      return true;
    case kObjMirrorEgress:
      obj_table(object, kL2MirrorConfEgress, mirror.egress, mirror_egress_get, mirror_egress_set);
      return true;
    default:
      return false;
  }
}
