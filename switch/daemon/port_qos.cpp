#include "port_qos.h"

#include "conf.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "trace.h"

#include "swc_qos_state.h"

#include <algorithm>
#include <cstring>

namespace {

#define QOS_TRACE(level, ...) \
  trace_printf(trace::kPort, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)
// Traces a failed API call with its text (nothing for a success) and yields the call's result.
#define QOS_API(call) TRACE_API_RESULT(trace::kPort, call, trace::kDebug, #call)

constexpr uint32_t kPorts = 6;
constexpr uint32_t kMaxPriority = 4;  // priorities are 1-based; the chip has four queues
constexpr uint32_t kDefaultTagMap[8] = {2, 1, 1, 2, 3, 3, 4, 4};

struct QosModule {
  QosGenRecord general{};
  std::array<QosPortRecord, kPorts + 1> port{};  // indexed by port 1..6
};
QosModule qos;

bool valid_port(uint32_t port) {
  return port >= 1 && port <= kPorts;
}

bool valid_priority(uint32_t priority) {
  return priority >= 1 && priority <= kMaxPriority;
}

bool all_priorities(const QosPortRecord &record, size_t first, size_t count) {
  return std::all_of(record.begin() + first, record.begin() + first + count, valid_priority);
}

void gen_encode(const QosGenRecord &g, uint8_t *out) {
  const uint32_t words[5] = {g.prios, g.limit_a_enabled, g.limit_a, g.limit_b_enabled, g.limit_b};
  for (size_t i = 0; i < 5; ++i) le_store32(out + 4 * i, words[i]);
}

QosGenRecord gen_decode(const uint8_t *in) {
  return QosGenRecord{le_load32(in), le_load32(in + 4), le_load32(in + 8), le_load32(in + 12),
                      le_load32(in + 16)};
}

void port_encode(const QosPortRecord &record, uint8_t *out) {
  for (size_t w = 0; w < kQosPortWords; ++w) le_store32(out + 4 * w, record[w]);
}

QosPortRecord port_decode(const uint8_t *in) {
  QosPortRecord record{};
  for (size_t w = 0; w < kQosPortWords; ++w) record[w] = le_load32(in + 4 * w);
  return record;
}

void save_general(const QosGenRecord &general) {
  uint8_t *block = conf_create(kQosGenConfBlock, kQosGenRecordSize);
  if (!block) {
    QOS_TRACE(trace::kWarn, "conf_create() failed. Can not save QoS configuration.");
    return;
  }
  gen_encode(general, block);
  conf_close(kQosGenConfBlock);
}

template <typename RecordOf>
void save_ports(RecordOf record_of) {
  uint8_t *block = conf_create(kQosPortConfBlock, kQosPortBlockSize);
  if (!block) {
    QOS_TRACE(trace::kWarn, "conf_create() failed. Can not save QoS configuration.");
    return;
  }
  le_store16(block, kPorts);
  le_store16(block + 2, kQosPortRecordSize);
  for (uint32_t port = 1; port <= kPorts; ++port)
    port_encode(record_of(port), block + 4 + (port - 1) * kQosPortRecordSize);
  conf_close(kQosPortConfBlock);
}

void save_port_block() {
  save_ports([](uint32_t port) { return qos.port[port]; });
}

void create_defaults() {
  QOS_TRACE(trace::kDebug, "Create default configuration file.");
  save_general(kQosGenDefault);
  save_ports(qos_port_default);
}

// Block 15 as stored, or the defaults (written back, so the file holds the block) when it is missing
// or holds something the chip must not get.
QosGenRecord load_general() {
  uint32_t size = 0;
  const uint8_t *block = conf_open(kQosGenConfBlock, &size);
  if (block && size == kQosGenRecordSize) {
    QosGenRecord general = gen_decode(block);
    conf_close(kQosGenConfBlock);
    const char *refusal = qos_gen_refusal(general);
    if (!refusal) return general;
    QOS_TRACE(trace::kWarn, "Stored QoS general record refused: %s. Defaults used.", refusal);
  } else if (block) {
    conf_close(kQosGenConfBlock);
    QOS_TRACE(trace::kWarn, "QoS general block has size %u, expected %u. Defaults used.", size,
              static_cast<unsigned>(kQosGenRecordSize));
  } else {
    QOS_TRACE(trace::kNote, "No QoS general block. Defaults used.");
  }
  save_general(kQosGenDefault);
  return kQosGenDefault;
}

// The six port records of block 4: record i belongs to port i + 1. A record that names another port,
// lies outside the block or holds values the chip cannot take is replaced by that port's defaults.
std::array<QosPortRecord, kPorts + 1> load_ports(bool &replaced) {
  std::array<QosPortRecord, kPorts + 1> loaded{};
  for (uint32_t port = 1; port <= kPorts; ++port) loaded[port] = qos_port_default(port);
  replaced = true;
  uint32_t size = 0;
  const uint8_t *block = conf_open(kQosPortConfBlock, &size);
  if (!block) {
    QOS_TRACE(trace::kNote, "No QoS port block. Defaults used.");
    return loaded;
  }
  uint32_t count = size >= 4 ? le_load16(block) : 0;
  uint32_t entry_size = size >= 4 ? le_load16(block + 2) : 0;
  if (size < 4 || entry_size != kQosPortRecordSize) {
    QOS_TRACE(trace::kWarn, "QoS port block with entry size %u refused. Defaults used.", entry_size);
    conf_close(kQosPortConfBlock);
    return loaded;
  }
  uint32_t fitting = (size - 4) / kQosPortRecordSize;
  count = std::min({count, fitting, kPorts});
  replaced = count != kPorts;
  for (uint32_t i = 0; i < count; ++i) {
    QosPortRecord record = port_decode(block + 4 + i * kQosPortRecordSize);
    uint32_t port = i + 1;
    const char *refusal = record[kQosWPort] != port ? "record of another port" : qos_port_refusal(record);
    if (refusal) {
      QOS_TRACE(trace::kWarn, "Stored QoS record %u refused: %s. Defaults used for port %u.", i, refusal,
                port);
      replaced = true;
      continue;
    }
    loaded[port] = record;
  }
  conf_close(kQosPortConfBlock);
  return loaded;
}

void load_and_activate() {
  QOS_TRACE(trace::kDebug, "Load configuration file and activate.");
  qos.general = load_general();
  qos_gen_setup_commit();
  bool replaced = false;
  std::array<QosPortRecord, kPorts + 1> loaded = load_ports(replaced);
  for (uint32_t port = 1; port <= kPorts; ++port) {
    qos.port[port] = loaded[port];
    port_qos_table_commit(port);
  }
  if (replaced) save_port_block();
}

// ---- management objects ----

enum : uint32_t {
  kObjPortSetup = 3003,
  kObjTagMap = 3004,
  kObjGroupMap = 3005,
  kObjDscpMap = 3006,
  kObjPrios = 3011,
  kObjLimits = 3013,
  kObjMode = 3014,
  kObjDefault = 3015,
  kObjUnused = 3016,
  kObjField = 3017
};

// The record words a table object carries after its port word: {record word, entry word} pairs.
struct WordRun {
  size_t record_word;
  size_t entry_word;
  size_t count;
};

struct TableLayout {
  uint16_t entry_size;
  WordRun runs[3];
  size_t run_count;
};

bool table_layout_of(uint32_t obj_id, TableLayout &layout) {
  switch (obj_id) {
    case kObjPortSetup:  // port, mode, default priority, (not used), last field
      layout = {20, {{kQosWMode, 1, 2}, {kQosWField, 4, 1}, {}}, 2};
      return true;
    case kObjTagMap:
      layout = {36, {{kQosWTag, 1, 8}, {}, {}}, 1};
      return true;
    case kObjGroupMap:
      layout = {36, {{kQosWGroup, 1, 8}, {}, {}}, 1};
      return true;
    case kObjDscpMap:
      layout = {260, {{kQosWDscp, 1, 64}, {}, {}}, 1};
      return true;
    case kObjMode:
      layout = {8, {{kQosWMode, 1, 1}, {}, {}}, 1};
      return true;
    case kObjDefault:
      layout = {8, {{kQosWDefault, 1, 1}, {}, {}}, 1};
      return true;
    case kObjField:
      layout = {8, {{kQosWField, 1, 1}, {}, {}}, 1};
      return true;
    default:
      return false;
  }
}

bool refuse_port(MgmtObject &object, uint32_t port) {
  if (valid_port(port)) return false;
  QOS_TRACE(trace::kError, "Illegal port_no: %d", static_cast<int>(port));
  object.set_res(kMgmtResFail);
  return true;
}

void serve_table(MgmtObject &object, const TableLayout &layout) {
  if (mgmt_table_check(object, layout.entry_size, kPorts) < 0) return;
  bool is_set = object.cmd() == kMgmtCmdSet;
  for (unsigned i = 0; i < object.table_count(); ++i) {
    uint8_t *entry = object.entry(i, layout.entry_size);
    uint32_t port = le_load32(entry);
    if (refuse_port(object, port)) break;
    QosPortRecord &record = qos.port[port];
    if (!is_set) {
      for (size_t r = 0; r < layout.run_count; ++r)
        for (size_t k = 0; k < layout.runs[r].count; ++k)
          le_store32(entry + 4 * (layout.runs[r].entry_word + k), record[layout.runs[r].record_word + k]);
      continue;
    }
    QosPortRecord changed = record;
    for (size_t r = 0; r < layout.run_count; ++r)
      for (size_t k = 0; k < layout.runs[r].count; ++k)
        changed[layout.runs[r].record_word + k] = le_load32(entry + 4 * (layout.runs[r].entry_word + k));
    if (const char *refusal = qos_port_refusal(changed)) {
      QOS_TRACE(trace::kError, "Port %d: %s", static_cast<int>(port), refusal);
      object.set_res(kMgmtResFail);
      break;
    }
    record = changed;
    port_qos_table_commit(port);
  }
  if (is_set) save_port_block();
}

// The general objects carry fixed data: `words` u32 right after the header.
void serve_general(MgmtObject &object, size_t words) {
  if (!object.has_data(4 * words)) {
    QOS_TRACE(trace::kError, "Invalid obj_size: %d", object.size);
    object.set_res(kMgmtResFail);
    return;
  }
  QosGenRecord &g = qos.general;
  uint32_t *fields[4] = {&g.limit_a_enabled, &g.limit_a, &g.limit_b_enabled, &g.limit_b};
  if (words == 1) fields[0] = &g.prios;
  if (object.cmd() == kMgmtCmdGet) {
    for (size_t i = 0; i < words; ++i) object.set_data32(4 * i, *fields[i]);
    return;
  }
  QosGenRecord changed = g;
  uint32_t *changed_fields[4] = {&changed.limit_a_enabled, &changed.limit_a, &changed.limit_b_enabled,
                                 &changed.limit_b};
  if (words == 1) changed_fields[0] = &changed.prios;
  for (size_t i = 0; i < words; ++i) *changed_fields[i] = object.data32(4 * i);
  if (const char *refusal = qos_gen_refusal(changed)) {
    QOS_TRACE(trace::kError, "%s", refusal);
    object.set_res(kMgmtResFail);
    return;
  }
  g = changed;
  qos_gen_setup_commit();
  save_general(g);
}

}  // namespace

QosPortRecord qos_port_default(uint32_t port) {
  QosPortRecord record{};
  record[kQosWPort] = port;
  record[kQosWMode] = kQosModeDscpGroups;
  record[kQosWDefault] = 4;
  std::copy(std::begin(kDefaultTagMap), std::end(kDefaultTagMap), record.begin() + kQosWTag);
  std::fill_n(record.begin() + kQosWGroup, 8, 4u);
  std::fill_n(record.begin() + kQosWDscp, 64, 1u);
  record[kQosWField] = 0;
  return record;
}

const char *qos_port_refusal(const QosPortRecord &record) {
  if (record[kQosWMode] > kQosModeDscpMap) return "mode must be 0, 1 or 2";
  if (!valid_priority(record[kQosWDefault])) return "default priority must be 1..4";
  if (!all_priorities(record, kQosWTag, 8)) return "user priority map entries must be 1..4";
  if (!all_priorities(record, kQosWGroup, 8)) return "DSCP group map entries must be 1..4";
  if (!all_priorities(record, kQosWDscp, 64)) return "DSCP map entries must be 1..4";
  if (record[kQosWField] > 3) return "last field must be 0..3";
  return nullptr;
}

const char *qos_gen_refusal(const QosGenRecord &g) {
  if (g.prios != 1 && g.prios != 2 && g.prios != 4) return "prios must be 1, 2 or 4";
  if (g.limit_a_enabled > 1 || g.limit_b_enabled > 1) return "limit enable must be 0 or 1";
  // The chip takes a rate as a signed word in which -1 means no limit.
  if (g.limit_a > 0x7FFFFFFFu || g.limit_b > 0x7FFFFFFFu) return "limit value above 2147483647";
  return nullptr;
}

void port_qos_init() {
  QOS_TRACE(trace::kDebug, "Init");
  qos.general = QosGenRecord{};
  for (uint32_t port = 0; port <= kPorts; ++port) {
    qos.port[port] = QosPortRecord{};
    qos.port[port][kQosWPort] = port;
  }
}

void port_qos_config(int create) {
  if (process_state().debug_flags[kQosDebugNoInit]) {
    QOS_TRACE(trace::kDebug, "Debug option port_disable_qos_init is active. Do nothing.");
    return;
  }
  if (create)
    create_defaults();
  else
    load_and_activate();
}

void qos_gen_setup_commit() {
  const QosGenRecord &g = qos.general;
  QOS_API(swc_qos_prios_set(g.prios));
  SwcQosSetup setup{};
  QOS_API(swc_qos_setup_get(&setup));
  setup.word[0] = g.limit_a_enabled ? static_cast<int32_t>(g.limit_a) : -1;
  setup.word[1] = g.limit_b_enabled ? static_cast<int32_t>(g.limit_b) : -1;
  QOS_API(swc_qos_setup_set(&setup));
}

int port_qos_table_commit(uint32_t port) {
  if (!valid_port(port)) return -1;
  const QosPortRecord &record = qos.port[port];
  SwcPortQos setup{};
  if (QOS_API(swc_port_qos_get(port, &setup)) < 0) {
    QOS_TRACE(trace::kError, "swc_port_qos_get failed");
    return -1;
  }
  uint32_t mode = record[kQosWMode];
  setup.dscp_enable = mode == kQosModeDscpGroups || mode == kQosModeDscpMap;
  setup.second_enable = mode == kQosModeTag;
  for (uint32_t dscp = 0; dscp < kSwcQosDscp; ++dscp)
    setup.dscp_prio[dscp] =
        mode == kQosModeDscpMap ? record[kQosWDscp + dscp] : record[kQosWGroup + dscp / 8];
  for (uint32_t i = 0; i < kSwcQosTags; ++i) setup.tag_prio[i] = record[kQosWTag + i];
  setup.default_prio = record[kQosWDefault];
  setup.field = record[kQosWField];
  if (QOS_API(swc_port_qos_set(port, &setup)) < -1) {
    QOS_TRACE(trace::kError, "swc_port_qos_set failed");
    return -1;
  }
  return 1;
}

bool port_qos_handles(uint32_t obj_id) {
  return obj_id >= kObjPortSetup && obj_id <= kObjField && obj_id != 3012;
}

void port_qos_mgmt(MgmtObject &object) {
  object.set_res(kMgmtResOk);
  uint32_t id = object.obj_id();
  uint32_t cmd = object.cmd();
  if ((id >= 3007 && id <= 3010) || id == kObjUnused || (cmd != kMgmtCmdGet && cmd != kMgmtCmdSet)) {
    object.set_res(kMgmtResFail);
    return;
  }
  TableLayout layout{};
  if (table_layout_of(id, layout))
    serve_table(object, layout);
  else if (id == kObjPrios)
    serve_general(object, 1);
  else if (id == kObjLimits)
    serve_general(object, 4);
  else
    object.set_res(kMgmtResNoHandler);
}

const QosGenRecord &port_qos_general() {
  return qos.general;
}

const QosPortRecord &port_qos_record(uint32_t port) {
  return qos.port[valid_port(port) ? port : 0];
}
