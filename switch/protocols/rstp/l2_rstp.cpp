#include "l2_rstp.h"

#include "conf.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace rstp {

void encode_config(const Config &config, uint8_t *out) {
  std::memset(out, 0, kConfigSize);
  le_store16(out, config.bridge.priority);
  le_store16(out + 2, config.bridge.max_age);
  le_store16(out + 4, config.bridge.hello_time);
  le_store16(out + 6, config.bridge.forward_delay);
  out[8] = config.bridge.force_version;
  for (unsigned slot = 0; slot < 7; ++slot) {
    uint8_t *p = out + kBridgeConfigSize + kPortConfigSize * slot;
    const PortConfig &c = config.ports[slot];
    le_store32(p, c.admin_cost);
    p[4] = c.priority;
    p[6] = c.enabled;
    p[7] = c.admin_edge;
    p[8] = c.admin_p2p;
  }
}

Config decode_config(const uint8_t *in) {
  Config config;
  config.bridge.priority = le_load16(in);
  config.bridge.max_age = le_load16(in + 2);
  config.bridge.hello_time = le_load16(in + 4);
  config.bridge.forward_delay = le_load16(in + 6);
  config.bridge.force_version = in[8];
  for (unsigned slot = 0; slot < 7; ++slot) {
    const uint8_t *p = in + kBridgeConfigSize + kPortConfigSize * slot;
    PortConfig &c = config.ports[slot];
    c.admin_cost = le_load32(p);
    c.priority = p[4];
    c.enabled = p[6];
    c.admin_edge = p[7];
    c.admin_p2p = p[8];
  }
  return config;
}

bool config_valid(const Config &config) {
  const BridgeConfig &b = config.bridge;
  if (b.hello_time < kMinHello || b.hello_time > kMaxHello || b.forward_delay < kMinForwardDelay ||
      b.forward_delay > kMaxForwardDelay || b.max_age < kMinMaxAge || b.max_age > kMaxMaxAge)
    return false;
  for (const PortConfig &p : config.ports)
    if (p.admin_p2p > kP2pAuto) return false;
  return true;
}

namespace {

void put_id(uint8_t *p, const BridgeId &id) {
  le_store16(p, id.priority);
  std::memcpy(p + 4, id.mac.data(), 6);
}

uint32_t *counter_fields(PortCounters &c, unsigned i) {
  uint32_t *fields[] = {&c.config_sent, &c.config_received, &c.rst_sent,     &c.rst_received,
                        &c.tcn_sent,    &c.tcn_received,    &c.unrecognised, &c.illegal};
  return fields[i];
}

}  // namespace

void encode_bridge_status(const Engine &engine, unsigned slot, uint8_t *out) {
  std::memset(out, 0, kBridgeStatusSize);
  const Bridge &b = engine.bridge(slot);
  if (!b.in_use || !b.enabled) return;
  put_id(out, b.id);
  put_id(out + 12, b.root_priority.root);
  le_store32(out + 24, b.root_priority.root_path_cost);
  le_store16(out + 28, b.root_port_id & 0xFFF);
  le_store16(out + 30, uint16_t((b.root_port_id & 0xF000) >> 8));
  le_store16(out + 32, b.root_times.max_age);
  le_store16(out + 34, b.root_times.hello_time);
  le_store16(out + 36, b.root_times.forward_delay);
  le_store16(out + 38, uint16_t(b.vid));
  uint16_t running = 0;
  for (unsigned n : b.ports) running += !engine.port(n).boring() && engine.port(n).role != kRoleDisabled;
  le_store16(out + 40, running);
  out[42] = b.enabled;
  out[43] = b.tc;
  le_store16(out + 44, b.tc_count);
  le_store32(out + 48, engine.ticks() - b.sweeps_since_tc);
}

void encode_port_status(const Engine &engine, unsigned poag, uint8_t *out) {
  std::memset(out, 0, kPortStatusSize);
  const Port &p = engine.port(poag);
  le_store16(out, uint16_t(poag));
  if (p.bridge >= 0) le_store16(out + 2, uint16_t(engine.bridge(unsigned(p.bridge)).vid));
  put_id(out + 4, p.port_priority.root);
  le_store32(out + 16, p.port_priority.root_path_cost);
  le_store16(out + 20, p.port_priority.designated_port);
  le_store32(out + 24, p.path_cost);
  unsigned rep = poag <= kFrontPorts ? engine.representative(poag) : poag;
  le_store16(out + 28, uint16_t(rep != poag ? rep : 0));
  bool running = !p.boring() && p.role != kRoleDisabled && p.role != kRoleNonStp;
  if (running) {
    out[30] = p.stp_state <= kStpEnabled ? p.stp_state : 0;
    out[33] = p.oper_p2p;
    out[34] = p.oper_edge;
    out[35] = !p.send_rstp;
  } else {
    out[30] = p.admin_non_stp ? 4 : 0;
    out[33] = p.config.admin_p2p != kP2pOff;
    out[34] = p.config.admin_edge;
  }
  out[31] = !p.boring();
  out[32] = p.boring() && p.admin_non_stp ? uint8_t(kRoleNonStp) : p.role;
  PortCounters counters = p.counters;
  for (unsigned i = 0; i < 8; ++i) le_store32(out + 36 + 4 * i, *counter_fields(counters, i));
}

namespace {

proto::PortServices *g_services = nullptr;
std::unique_ptr<Engine> g_engine;
unsigned g_tick_warnings = 50;
constexpr uint32_t kMsPerTick = 1000;
constexpr uint32_t kMaxCatchUpMs = 20000;

void module_trace(unsigned level, const char *function, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
void module_trace(unsigned level, const char *function, int line, const char *format, ...) {
  char text[trace::kTextSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  g_services->trace(trace::kRstp, level, function, line, text);
}
#define MTRACE(level, ...) module_trace(level, __func__, __LINE__, __VA_ARGS__)

Engine &engine() {
  if (!g_engine) {
    std::fprintf(stderr, "portvisor: rstp entry point called before l2_rstp_init\n");
    std::abort();
  }
  return *g_engine;
}

Config current_config(Engine &e) {
  Config c;
  c.bridge = e.config();
  for (unsigned slot = 0; slot < 7; ++slot) c.ports[slot] = e.port_config(slot);
  return c;
}
Config current_config() {
  return current_config(engine());
}

void apply_config(const Config &c) {
  engine().set_config(c.bridge);
  for (unsigned slot = 0; slot < 7; ++slot) engine().set_port_config(slot, c.ports[slot]);
}

void save_config(const Config &c) {
  uint8_t *block = conf_create(kConfBlock, kConfigSize);
  if (!block) return;
  encode_config(c, block);
  conf_close(kConfBlock);
}
void save_config() {
  save_config(current_config());
}

// A fresh switch runs no spanning tree until a port is configured for it.
Config default_config(Engine &e) {
  Config c = current_config(e);
  for (PortConfig &p : c.ports) p.enabled = 0;
  return c;
}

}  // namespace

void l2_rstp_services_set(proto::PortServices *services) {
  g_engine.reset();
  g_services = services;
}

Engine *l2_rstp_engine() {
  return g_engine.get();
}

}  // namespace rstp

using namespace rstp;

void l2_rstp_init() {
  if (!g_services) {
    std::fprintf(stderr, "portvisor: rstp services not set\n");
    std::abort();
  }
  MTRACE(trace::kInfo, "Init");
  g_engine = std::make_unique<Engine>(*g_services);
  g_tick_warnings = 50;
  timer_reg(rstp_tick, kTickPeriodMs);
  g_engine->start();
  MTRACE(trace::kInfo, "Initializing config\n");
}

void l2_rstp_conf(int create) {
  if (create) {
    // On a first start the store writes every module's defaults before the modules start: an
    // engine that has not started yet writes those of a fresh one. The block is read at l2_init.
    MTRACE(trace::kInfo, "Writing config\n");
    if (!g_engine && g_services) {
      Engine fresh(*g_services);
      save_config(default_config(fresh));
      return;
    }
    Config c = default_config(engine());
    apply_config(c);
    save_config(c);
    return;
  }
  MTRACE(trace::kInfo, "Reading config\n");
  uint32_t size = 0;
  const uint8_t *block = conf_open(kConfBlock, &size);
  if (!block || size < kConfigSize) {
    MTRACE(trace::kError, "Config block %u missing or short (%u bytes)\n", kConfBlock, unsigned(size));
    return;
  }
  // Times out of range are clamped by the engine; the file keeps what it holds.
  apply_config(decode_config(block));
}

uint32_t rstp_tick(uint32_t now, uint32_t last, uint32_t elapsed) {
  if (last == 0) {
    last = now - kMsPerTick;
    elapsed = kMsPerTick;
  }
  if (elapsed >= 2 * kMsPerTick && g_tick_warnings > 0) {
    --g_tick_warnings;
    MTRACE(trace::kWarn, "Timer dropped %lu tick(s)\n", static_cast<unsigned long>(elapsed / kMsPerTick - 1));
  }
  if (elapsed > kMaxCatchUpMs) {
    MTRACE(trace::kWarn, "Timer jumped more than 20 ticks: reset\n");
    swc_rstp_tick();
    return now;
  }
  for (; elapsed >= kMsPerTick; elapsed -= kMsPerTick, last += kMsPerTick) swc_rstp_tick();
  return last;
}

void l2_rstp_config(MgmtObject &object) {
  MTRACE(trace::kInfo, object.cmd() == kMgmtCmdSet ? "mgmt Config Set: %d" : "mgmt Config Get: %d",
         int(object.cmd()));
  if (!object.has_data(kConfigSize) || (object.cmd() != kMgmtCmdGet && object.cmd() != kMgmtCmdSet)) {
    object.set_res(kMgmtResFail);
    return;
  }
  if (object.cmd() == kMgmtCmdGet) {
    encode_config(current_config(), object.data());
  } else {
    Config c = decode_config(object.data());
    if (!config_valid(c)) {
      object.set_res(kMgmtResFail);
      return;
    }
    apply_config(c);
    save_config();
  }
  object.set_res(kMgmtResOk);
}

void l2_rstp_status(MgmtObject &object) {
  MTRACE(trace::kInfo, "mgmt Status Get: %d", int(object.cmd()));
  if (object.cmd() != kMgmtCmdGet || !object.has_data(kStatusSize)) {
    object.set_res(kMgmtResFail);
    return;
  }
  uint8_t *out = object.data();
  std::memset(out, 0, kStatusSize);
  engine().finish_work();
  for (unsigned slot = 0; slot < kInstances; ++slot)
    encode_bridge_status(engine(), slot, out + kBridgeStatusSize * slot);
  for (unsigned p = 1; p <= kLogicalPorts; ++p)
    encode_port_status(engine(), p, out + 312 + kPortStatusSize * p);
  object.set_res(kMgmtResOk);
}

void l2_rstp_mcheck(MgmtObject &object) {
  MTRACE(trace::kInfo, "mgmt mcheck Set: %d", int(object.cmd()));
  if (!object.has_data(kMcheckSize) || (object.cmd() != kMgmtCmdGet && object.cmd() != kMgmtCmdSet)) {
    object.set_res(kMgmtResFail);
    return;
  }
  const uint8_t *in = object.data();
  for (unsigned p = 1; p <= kFrontPorts; ++p)
    if (in[p]) swc_rstp_set_mcheck(p);
  if (in[0])
    for (unsigned p = kFrontPorts + 1; p <= kLogicalPorts; ++p) swc_rstp_set_mcheck(p);
  object.set_res(kMgmtResOk);
}

void swc_rstp_set_config(const uint8_t *config) {
  uint8_t block[kConfigSize] = {};
  std::memcpy(block, config, kBridgeConfigSize);
  engine().set_config(decode_config(block).bridge);
}

void swc_rstp_get_config(uint8_t *config) {
  Config c;
  c.bridge = engine().config();
  uint8_t block[kConfigSize];
  encode_config(c, block);
  std::memcpy(config, block, kBridgeConfigSize);
}

void swc_rstp_set_portconfig(unsigned portno, const uint8_t *config) {
  uint8_t block[kConfigSize] = {};
  std::memcpy(block + kBridgeConfigSize, config, kPortConfigSize);
  engine().set_port_config(portno, decode_config(block).ports[0]);
}

void swc_rstp_get_portconfig(unsigned portno, uint8_t *config) {
  Config c;
  c.ports[0] = engine().port_config(portno);
  uint8_t block[kConfigSize];
  encode_config(c, block);
  std::memcpy(config, block + kBridgeConfigSize, kPortConfigSize);
}

void swc_rstp_set_mcheck(unsigned poag) {
  engine().set_mcheck(poag);
}
void swc_rstp_vlan_add(unsigned vid, const uint8_t *members) {
  engine().vlan_add(vid, members);
}
void swc_rstp_vlan_del(unsigned vid) {
  engine().vlan_del(vid);
}
void swc_rstp_aggr_add(unsigned aid, const uint32_t *members) {
  engine().aggr_add(aid, members);
}
void swc_rstp_aggr_del(unsigned aid) {
  engine().aggr_del(aid);
}
void swc_rstp_linkstate_changed(unsigned portno, int link) {
  engine().linkstate_changed(portno, link != 0);
}
void swc_rstp_receive(unsigned from_port, const uint8_t *frame, uint32_t length) {
  engine().receive(from_port, frame, length);
}
void swc_rstp_tick() {
  engine().tick();
}
void swc_rstp_more_work() {
  if (g_engine) g_engine->more_work();
}
void swc_rstp_get_bridge_status(unsigned vlan_index, uint8_t *status) {
  if (vlan_index >= kInstances) return;
  engine().finish_work();
  encode_bridge_status(engine(), vlan_index, status);
}
void swc_rstp_get_port_status(unsigned poag, uint8_t *status) {
  if (poag < 1 || poag > kLogicalPorts || status == nullptr) return;
  engine().finish_work();
  encode_port_status(engine(), poag, status);
}
