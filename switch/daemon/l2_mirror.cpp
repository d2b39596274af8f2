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

#define L2_TRACE(level, ...) trace_printf(TRACE_MOD_L2, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)
#define L2_API_TRACE(rc, text) \
  trace_printf(TRACE_MOD_L2, __func__, nullptr, __LINE__, 1, (rc), TRACE_ERROR, "%s", text)

inline constexpr uint32_t OBJ_MIRROR_MONITOR = 4009, OBJ_MIRROR_INGRESS = 4010, OBJ_MIRROR_EGRESS = 4013;
inline constexpr uint32_t PORTS = 6;
static_assert(4 + PORTS * L2_MIRROR_RECORD_SIZE == 52);

using mirror_table = std::array<l2_mirror_entry, PORTS + 1>;  // indexed by port 1..6

struct mirror_module {
  uint32_t monitor = L2_MIRROR_DEFAULT_MONITOR;
  mirror_table ingress{};
  mirror_table egress{};
};
mirror_module mirror;

using chip_ports_set = swc_rc (*)(const uint32_t *ports);

bool legal_port(uint32_t port) {
  return port >= 1 && port <= PORTS;
}

void reset_table(mirror_table &table) {
  for (uint32_t p = 0; p <= PORTS; ++p) table[p] = l2_mirror_entry{p, 0};
}

int entry_get(const mirror_table &table, l2_mirror_entry &entry) {
  if (!legal_port(entry.port)) return -1;
  entry = table[entry.port];
  return 1;
}

// The chip always gets the whole set: mirroring port 5 after port 3 leaves port 3 mirrored.
int entry_set(mirror_table &table, const l2_mirror_entry &entry, chip_ports_set chip_set, const char *call) {
  if (!legal_port(entry.port)) {
    L2_TRACE(TRACE_ERROR, "illegal port_no: %d", static_cast<int>(entry.port));
    return -1;
  }
  const l2_mirror_entry before = table[entry.port];
  table[entry.port] = entry;
  uint32_t members[PORTS + 1] = {};
  for (uint32_t p = 1; p <= PORTS; ++p) members[p] = table[p].enabled;
  const swc_rc rc = L2_API_TRACE(chip_set(members), call);
  // What the chip refused (two ports mirrored on egress only) must not show in GET nor reach the file.
  if (rc < 0) table[entry.port] = before;
  return rc;
}

void save_monitor() {
  if (uint8_t *block = conf_create(L2_MIRROR_CONF_MONITOR, 4)) {
    le_store32(block, mirror.monitor);
    conf_close(L2_MIRROR_CONF_MONITOR);
  }
}

void save_table(uint32_t id, const mirror_table &table) {
  conf_table_save(id, L2_MIRROR_RECORD_SIZE, PORTS,
                  std::vector<l2_mirror_entry>(table.begin() + 1, table.end()), l2_mirror_record_store);
}

void create_defaults() {
  mirror_table off{};
  reset_table(off);
  if (uint8_t *block = conf_create(L2_MIRROR_CONF_MONITOR, 4)) {
    le_store32(block, L2_MIRROR_DEFAULT_MONITOR);
    conf_close(L2_MIRROR_CONF_MONITOR);
  }
  save_table(L2_MIRROR_CONF_INGRESS, off);
  save_table(L2_MIRROR_CONF_EGRESS, off);
}

void read_table(uint32_t id, int (*set)(const l2_mirror_entry &)) {
  for (const l2_mirror_entry &entry :
       conf_table_read<l2_mirror_entry>(id, L2_MIRROR_RECORD_SIZE, PORTS, l2_mirror_record_load))
    set(entry);
}

// Ingress before egress: a port mirrored both ways does not count toward the chip's single egress port.
void read_configuration() {
  uint32_t size = 0;
  const uint8_t *monitor = conf_open(L2_MIRROR_CONF_MONITOR, &size);
  // Without the block the monitor port still goes to the chip: writing it completes the chip's
  // destination masks, without which no learned address is reached.
  mirror_monitor_set(monitor && size >= 4 ? le_load32(monitor) : mirror.monitor);
  read_table(L2_MIRROR_CONF_INGRESS, mirror_ingress_set);
  read_table(L2_MIRROR_CONF_EGRESS, mirror_egress_set);
}

// ---- management objects

void obj_monitor(mgmt_object &object) {
  object.set_res(MGMT_RES_FAIL);
  if (!object.has_data(4)) return;
  if (object.cmd() == MGMT_CMD_GET) {
    uint32_t port = 0;
    mirror_monitor_get(port);
    object.set_data32(0, port);
    object.set_res(MGMT_RES_OK);
  } else if (object.cmd() == MGMT_CMD_SET && mirror_monitor_set(object.data32(0)) >= 0) {
    save_monitor();
    object.set_res(MGMT_RES_OK);
  }
}

void obj_table(mgmt_object &object, uint32_t id, const mirror_table &table, int (*get)(l2_mirror_entry &),
               int (*set)(const l2_mirror_entry &)) {
  if (mgmt_table_check(object, L2_MIRROR_RECORD_SIZE, PORTS) < 0) return;
  object.set_res(MGMT_RES_OK);
  const uint16_t count = object.table_count();
  if (object.cmd() == MGMT_CMD_GET) {
    uint16_t done = 0;
    for (; done < count; ++done) {
      uint8_t *record = object.entry(done, L2_MIRROR_RECORD_SIZE);
      l2_mirror_entry entry{le_load32(record), 0};
      if (get(entry) < 0) break;
      l2_mirror_record_store(record, entry);
    }
    le_store16(object.bytes + 16, done);
  } else if (object.cmd() == MGMT_CMD_SET) {
    for (uint16_t i = 0; i < count; ++i) {
      l2_mirror_entry entry{};
      l2_mirror_record_load(object.entry(i, L2_MIRROR_RECORD_SIZE), entry);
      if (set(entry) < 0) object.set_res(MGMT_RES_FAIL);
    }
    save_table(id, table);
  } else {
    object.set_res(MGMT_RES_FAIL);
  }
}

}  // namespace

void l2_mirror_record_load(const uint8_t *record, l2_mirror_entry &entry) {
  entry = {le_load32(record), le_load32(record + 4)};
}

void l2_mirror_record_store(uint8_t *record, const l2_mirror_entry &entry) {
  le_store32(record, entry.port);
  le_store32(record + 4, entry.enabled);
}

int mirror_monitor_get(uint32_t &port) {
  port = mirror.monitor;
  return 1;
}

int mirror_monitor_set(uint32_t port) {
  L2_TRACE(TRACE_DEBUG, "port_no: %d", static_cast<int>(port));
  if (!legal_port(port)) {
    L2_TRACE(TRACE_ERROR, "illegal port_no: %d", static_cast<int>(port));
    return -1;
  }
  mirror.monitor = port;
  return L2_API_TRACE(swc_mirror_monitor_port_set(port), "swc_mirror_monitor_port_set(port_no)");
}

int mirror_ingress_get(l2_mirror_entry &entry) {
  return entry_get(mirror.ingress, entry);
}

int mirror_egress_get(l2_mirror_entry &entry) {
  return entry_get(mirror.egress, entry);
}

int mirror_ingress_set(const l2_mirror_entry &entry) {
  return entry_set(mirror.ingress, entry, swc_mirror_ingress_ports_set,
                   "swc_mirror_ingress_ports_set(ports)");
}

int mirror_egress_set(const l2_mirror_entry &entry) {
  return entry_set(mirror.egress, entry, swc_mirror_egress_ports_set, "swc_mirror_egress_ports_set(ports)");
}

void l2_mirror_init() {
  L2_TRACE(TRACE_DEBUG, "Init");
  mirror.monitor = L2_MIRROR_DEFAULT_MONITOR;
  reset_table(mirror.ingress);
  reset_table(mirror.egress);
}

void l2_mirror_conf(bool create) {
  if (process_state().debug_flags[L2_DEBUG_DISABLE_MIRROR]) {
    L2_TRACE(TRACE_DEBUG, "l2_disable_mirror_init set");
    return;
  }
  if (create)
    create_defaults();
  else
    read_configuration();
}

bool l2_mirror_mgmt(mgmt_object &object) {
  switch (object.obj_id()) {
    case OBJ_MIRROR_MONITOR:
      obj_monitor(object);
      return true;
    case OBJ_MIRROR_INGRESS:
      obj_table(object, L2_MIRROR_CONF_INGRESS, mirror.ingress, mirror_ingress_get, mirror_ingress_set);
      return true;
    case OBJ_MIRROR_EGRESS:
      obj_table(object, L2_MIRROR_CONF_EGRESS, mirror.egress, mirror_egress_get, mirror_egress_set);
      return true;
    default:
      return false;
  }
}
