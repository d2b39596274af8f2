// Module glue of the L3 module: start, configuration blocks 1, 2 and 13, and management objects
// 5000..5003.
#include "l3.h"

#include "conf.h"
#include "l2_table.h"
#include "le.h"
#include "mgmt.h"
#include "packet.h"
#include "trace.h"

#include <algorithm>
#include <vector>

namespace {

#define L3_TRACE(level, ...) trace_printf(trace::kL3, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

inline constexpr uint32_t kObjLegs = 5000, kObjRoutes = 5001, kObjIpEnabled = 5002, kObjInterface = 5003;
inline constexpr uint16_t kMgmtTableMax = 32;
inline constexpr uint32_t kManagementRlid = 1;
static_assert(4 + kL3LegMax * kL3LegRecordSize == 772);
static_assert(4 + kL3RouteMax * kL3RouteRecordSize == 388);

void save_legs(const std::vector<L3Leg> &legs) {
  conf_table_save(kL3ConfLegs, kL3LegRecordSize, kL3LegMax, legs, l3_leg_record_store);
}

void save_routes(const std::vector<L3Route> &routes) {
  conf_table_save(kL3ConfRoutes, kL3RouteRecordSize, kL3RouteMax, routes, l3_route_record_store);
}

void save_general(uint32_t ip_enabled) {
  if (uint8_t *block = conf_create(kL3ConfGeneral, 4)) {
    le_store32(block, ip_enabled);
    conf_close(kL3ConfGeneral);
  }
}

template <class T>
std::vector<T> all_of(int (*get)(T &, bool)) {
  std::vector<T> out;
  T at{};
  for (bool exact = true; get(at, exact) >= 0; exact = false) out.push_back(at);
  return out;
}

void save_current_legs() {
  save_legs(all_of<L3Leg>(rl_config_get));
}

void save_current_routes() {
  save_routes(all_of<L3Route>(sr_config_get));
}

bool leg_exists(uint32_t rlid, L3Leg &leg) {
  leg = L3Leg{};
  leg.rlid = rlid;
  return rl_config_get(leg, true) >= 0 && leg.rlid == rlid;
}

bool default_route(L3Route &route) {
  route = L3Route{};
  return sr_config_get(route, true) >= 0 && route.network == 0 && route.mask == 0;
}

// Defaults, keeping the management interface (leg 1, the default route and the flag) when asked.
void create_defaults(uint32_t keep) {
  std::vector<L3Leg> legs;
  std::vector<L3Route> routes;
  L3Leg leg;
  L3Route route;
  if (keep && leg_exists(kManagementRlid, leg)) legs.push_back(leg);
  if (keep && default_route(route)) routes.push_back(route);
  save_general(keep ? l3_ip_enabled() : 0);
  save_legs(legs);
  save_routes(routes);
}

void read_configuration() {
  uint32_t size = 0;
  const uint8_t *general = conf_open(kL3ConfGeneral, &size);
  l3_ip_enabled_set(general && size >= 4 ? le_load32(general) : 0);

  const auto wanted_legs =
      conf_table_read<L3Leg>(kL3ConfLegs, kL3LegRecordSize, kL3LegMax, l3_leg_record_load);
  for (const L3Leg &have : all_of<L3Leg>(rl_config_get))
    if (std::none_of(wanted_legs.begin(), wanted_legs.end(),
                     [&](const L3Leg &w) { return w.rlid == have.rlid; }))
      rl_config_del(have.rlid);
  for (const L3Leg &leg : wanted_legs) rl_config_add(leg);

  const auto wanted_routes =
      conf_table_read<L3Route>(kL3ConfRoutes, kL3RouteRecordSize, kL3RouteMax, l3_route_record_load);
  for (const L3Route &have : all_of<L3Route>(sr_config_get))
    if (std::none_of(wanted_routes.begin(), wanted_routes.end(),
                     [&](const L3Route &w) { return w.network == have.network && w.mask == have.mask; }))
      sr_config_del(have);
  for (const L3Route &route : wanted_routes) sr_config_add(route);
}

void obj_legs(MgmtObject &object) {
  static const TableObjectOps<L3Leg> kOps{kL3LegRecordSize,
                                          kMgmtTableMax,
                                          l3_leg_record_load,
                                          l3_leg_record_store,
                                          rl_config_get,
                                          rl_config_add,
                                          [](const L3Leg &leg) { return rl_config_del(leg.rlid); },
                                          save_current_legs};
  sorted_table_object(object, kOps);
}

void obj_routes(MgmtObject &object) {
  static const TableObjectOps<L3Route> kOps{kL3RouteRecordSize,    kMgmtTableMax,      l3_route_record_load,
                                            l3_route_record_store, sr_config_get,      sr_config_add,
                                            sr_config_del,         save_current_routes};
  sorted_table_object(object, kOps);
}

void obj_ip_enabled(MgmtObject &object) {
  object.set_res(kMgmtResFail);
  if (!object.has_data(4)) return;
  if (object.cmd() == kMgmtCmdGet) {
    object.set_data32(0, l3_ip_enabled());
  } else if (object.cmd() == kMgmtCmdSet) {
    l3_ip_enabled_set(object.data32(0));
    save_general(l3_ip_enabled());
  } else {
    return;
  }
  object.set_res(kMgmtResOk);
}

// The management interface record: VID, IP, netmask, default gateway, DHCP flag, IP-enabled flag.
struct InterfaceRecord {
  uint32_t vid, ip, mask, gateway, dhcp, ip_enabled;
};
inline constexpr size_t kInterfaceRecordSize = 24;

void interface_get(MgmtObject &object) {
  L3Leg leg;
  L3Route route;
  const bool has_leg = leg_exists(kManagementRlid, leg);
  const bool has_route = default_route(route);
  const uint32_t words[6] = {has_leg ? leg.vid : 0,         has_leg ? leg.ip : 0,   has_leg ? leg.mask : 0,
                             has_route ? route.gateway : 0, has_leg ? leg.dhcp : 0, l3_ip_enabled()};
  for (size_t i = 0; i < 6; ++i) object.set_data32(4 * i, words[i]);
}

// Each step goes through the table operations and saves its block; a failed step makes the answer 1,
// the steps already done stay.
bool interface_set(const InterfaceRecord &r) {
  bool ok = true;
  L3Route route;
  if (r.gateway == 0 && default_route(route)) {
    ok = sr_config_del(route) >= 0 && ok;
    save_current_routes();
  }
  L3Leg leg;
  if (leg_exists(kManagementRlid, leg) &&
      ((r.ip == 0 && r.dhcp == 0) || r.ip != leg.ip || r.mask != leg.mask)) {
    ok = rl_config_del(kManagementRlid) >= 0 && ok;
    save_current_legs();
  }
  if (r.ip != 0 || r.dhcp != 0) {
    L3Leg wanted{};
    wanted.rlid = kManagementRlid;
    wanted.vid = r.vid;
    wanted.ip = r.ip;
    wanted.mask = r.mask;
    wanted.dhcp = r.dhcp;
    ok = rl_config_add(wanted) >= 0 && ok;
    save_current_legs();
    if (r.gateway != 0) {
      ok = sr_config_add(L3Route{0, 0, r.gateway}) >= 0 && ok;
      save_current_routes();
    }
  }
  l3_ip_enabled_set(r.ip_enabled);
  save_general(r.ip_enabled);
  return ok;
}

void obj_interface(MgmtObject &object) {
  object.set_res(kMgmtResFail);
  if (!object.has_data(kInterfaceRecordSize)) return;
  if (object.cmd() == kMgmtCmdGet) {
    interface_get(object);
    object.set_res(kMgmtResOk);
  } else if (object.cmd() == kMgmtCmdSet) {
    const InterfaceRecord r{object.data32(0),  object.data32(4),  object.data32(8),
                            object.data32(12), object.data32(16), object.data32(20)};
    object.set_res(interface_set(r) ? kMgmtResOk : kMgmtResFail);
  }
}

}  // namespace

void l3_init() {
  L3_TRACE(trace::kDebug, "Init");
  l3_rl_init();
  l3_sr_init();
  packet_l3_receiver_set(l3_packet_rx);
  l3_conf(ConfAction{kConfActionRead, 0});
}

void l3_conf(const ConfAction &action) {
  if (action.action == kConfActionCreate) {
    L3_TRACE(trace::kDebug, "Creating default configuration");
    create_defaults(action.keep);
  } else if (action.action == kConfActionRead) {
    L3_TRACE(trace::kDebug, "Reading configuration");
    read_configuration();
  } else {
    L3_TRACE(trace::kError, "Unknown action: %d", static_cast<int>(action.action));
  }
}

void l3_mgmt(MgmtObject &object) {
  switch (object.obj_id()) {
    case kObjLegs:
      obj_legs(object);
      break;
    case kObjRoutes:
      obj_routes(object);
      break;
    case kObjIpEnabled:
      obj_ip_enabled(object);
      break;
    case kObjInterface:
      obj_interface(object);
      break;
    default:
      object.set_res(kMgmtResNoHandler);
  }
}
