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

#define L3_TRACE(level, ...) trace_printf(TRACE_MOD_L3, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

inline constexpr uint32_t OBJ_LEGS = 5000, OBJ_ROUTES = 5001, OBJ_IP_ENABLED = 5002, OBJ_INTERFACE = 5003;
inline constexpr uint16_t MGMT_TABLE_MAX = 32;
inline constexpr uint32_t MANAGEMENT_RLID = 1;
static_assert(4 + L3_LEG_MAX * L3_LEG_RECORD_SIZE == 772);
static_assert(4 + L3_ROUTE_MAX * L3_ROUTE_RECORD_SIZE == 388);

void save_legs(const std::vector<l3_leg> &legs) {
  conf_table_save(L3_CONF_LEGS, L3_LEG_RECORD_SIZE, L3_LEG_MAX, legs, l3_leg_record_store);
}

void save_routes(const std::vector<l3_route> &routes) {
  conf_table_save(L3_CONF_ROUTES, L3_ROUTE_RECORD_SIZE, L3_ROUTE_MAX, routes, l3_route_record_store);
}

void save_general(uint32_t ip_enabled) {
  if (uint8_t *block = conf_create(L3_CONF_GENERAL, 4)) {
    le_store32(block, ip_enabled);
    conf_close(L3_CONF_GENERAL);
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
  save_legs(all_of<l3_leg>(rl_config_get));
}

void save_current_routes() {
  save_routes(all_of<l3_route>(sr_config_get));
}

bool leg_exists(uint32_t rlid, l3_leg &leg) {
  leg = l3_leg{};
  leg.rlid = rlid;
  return rl_config_get(leg, true) >= 0 && leg.rlid == rlid;
}

bool default_route(l3_route &route) {
  route = l3_route{};
  return sr_config_get(route, true) >= 0 && route.network == 0 && route.mask == 0;
}

// Defaults, keeping the management interface (leg 1, the default route and the flag) when asked.
void create_defaults(uint32_t keep) {
  std::vector<l3_leg> legs;
  std::vector<l3_route> routes;
  l3_leg leg;
  l3_route route;
  if (keep && leg_exists(MANAGEMENT_RLID, leg)) legs.push_back(leg);
  if (keep && default_route(route)) routes.push_back(route);
  save_general(keep ? l3_ip_enabled() : 0);
  save_legs(legs);
  save_routes(routes);
}

void read_configuration() {
  uint32_t size = 0;
  const uint8_t *general = conf_open(L3_CONF_GENERAL, &size);
  l3_ip_enabled_set(general && size >= 4 ? le_load32(general) : 0);

  const auto wanted_legs =
      conf_table_read<l3_leg>(L3_CONF_LEGS, L3_LEG_RECORD_SIZE, L3_LEG_MAX, l3_leg_record_load);
  for (const l3_leg &have : all_of<l3_leg>(rl_config_get))
    if (std::none_of(wanted_legs.begin(), wanted_legs.end(),
                     [&](const l3_leg &w) { return w.rlid == have.rlid; }))
      rl_config_del(have.rlid);
  for (const l3_leg &leg : wanted_legs) rl_config_add(leg);

  const auto wanted_routes =
      conf_table_read<l3_route>(L3_CONF_ROUTES, L3_ROUTE_RECORD_SIZE, L3_ROUTE_MAX, l3_route_record_load);
  for (const l3_route &have : all_of<l3_route>(sr_config_get))
    if (std::none_of(wanted_routes.begin(), wanted_routes.end(),
                     [&](const l3_route &w) { return w.network == have.network && w.mask == have.mask; }))
      sr_config_del(have);
  for (const l3_route &route : wanted_routes) sr_config_add(route);
}

void obj_legs(mgmt_object &object) {
  static const table_object_ops<l3_leg> ops{L3_LEG_RECORD_SIZE,
                                            MGMT_TABLE_MAX,
                                            l3_leg_record_load,
                                            l3_leg_record_store,
                                            rl_config_get,
                                            rl_config_add,
                                            [](const l3_leg &leg) { return rl_config_del(leg.rlid); },
                                            save_current_legs};
  sorted_table_object(object, ops);
}

void obj_routes(mgmt_object &object) {
  static const table_object_ops<l3_route> ops{L3_ROUTE_RECORD_SIZE,  MGMT_TABLE_MAX,     l3_route_record_load,
                                              l3_route_record_store, sr_config_get,      sr_config_add,
                                              sr_config_del,         save_current_routes};
  sorted_table_object(object, ops);
}

void obj_ip_enabled(mgmt_object &object) {
  object.set_res(MGMT_RES_FAIL);
  if (!object.has_data(4)) return;
  if (object.cmd() == MGMT_CMD_GET) {
    object.set_data32(0, l3_ip_enabled());
  } else if (object.cmd() == MGMT_CMD_SET) {
    l3_ip_enabled_set(object.data32(0));
    save_general(l3_ip_enabled());
  } else {
    return;
  }
  object.set_res(MGMT_RES_OK);
}

// The management interface record: VID, IP, netmask, default gateway, DHCP flag, IP-enabled flag.
struct interface_record {
  uint32_t vid, ip, mask, gateway, dhcp, ip_enabled;
};
inline constexpr size_t INTERFACE_RECORD_SIZE = 24;

void interface_get(mgmt_object &object) {
  l3_leg leg;
  l3_route route;
  const bool has_leg = leg_exists(MANAGEMENT_RLID, leg);
  const bool has_route = default_route(route);
  const uint32_t words[6] = {has_leg ? leg.vid : 0,         has_leg ? leg.ip : 0,   has_leg ? leg.mask : 0,
                             has_route ? route.gateway : 0, has_leg ? leg.dhcp : 0, l3_ip_enabled()};
  for (size_t i = 0; i < 6; ++i) object.set_data32(4 * i, words[i]);
}

// Each step goes through the table operations and saves its block; a failed step makes the answer 1,
// the steps already done stay.
bool interface_set(const interface_record &r) {
  bool ok = true;
  l3_route route;
  if (r.gateway == 0 && default_route(route)) {
    ok = sr_config_del(route) >= 0 && ok;
    save_current_routes();
  }
  l3_leg leg;
  if (leg_exists(MANAGEMENT_RLID, leg) &&
      ((r.ip == 0 && r.dhcp == 0) || r.ip != leg.ip || r.mask != leg.mask)) {
    ok = rl_config_del(MANAGEMENT_RLID) >= 0 && ok;
    save_current_legs();
  }
  if (r.ip != 0 || r.dhcp != 0) {
    l3_leg wanted{};
    wanted.rlid = MANAGEMENT_RLID;
    wanted.vid = r.vid;
    wanted.ip = r.ip;
    wanted.mask = r.mask;
    wanted.dhcp = r.dhcp;
    ok = rl_config_add(wanted) >= 0 && ok;
    save_current_legs();
    if (r.gateway != 0) {
      ok = sr_config_add(l3_route{0, 0, r.gateway}) >= 0 && ok;
      save_current_routes();
    }
  }
  l3_ip_enabled_set(r.ip_enabled);
  save_general(r.ip_enabled);
  return ok;
}

void obj_interface(mgmt_object &object) {
  object.set_res(MGMT_RES_FAIL);
  if (!object.has_data(INTERFACE_RECORD_SIZE)) return;
  if (object.cmd() == MGMT_CMD_GET) {
    interface_get(object);
    object.set_res(MGMT_RES_OK);
  } else if (object.cmd() == MGMT_CMD_SET) {
    const interface_record r{object.data32(0),  object.data32(4),  object.data32(8),
                             object.data32(12), object.data32(16), object.data32(20)};
    object.set_res(interface_set(r) ? MGMT_RES_OK : MGMT_RES_FAIL);
  }
}

}  // namespace

void l3_init() {
  L3_TRACE(TRACE_DEBUG, "Init");
  l3_rl_init();
  l3_sr_init();
  packet_l3_receiver_set(l3_packet_rx);
  l3_conf(conf_action{CONF_ACTION_READ, 0});
}

void l3_conf(const conf_action &action) {
  if (action.action == CONF_ACTION_CREATE) {
    L3_TRACE(TRACE_DEBUG, "Creating default configuration");
    create_defaults(action.keep);
  } else if (action.action == CONF_ACTION_READ) {
    L3_TRACE(TRACE_DEBUG, "Reading configuration");
    read_configuration();
  } else {
    L3_TRACE(TRACE_ERROR, "Unknown action: %d", static_cast<int>(action.action));
  }
}

void l3_mgmt(mgmt_object &object) {
  switch (object.obj_id()) {
    case OBJ_LEGS:
      obj_legs(object);
      break;
    case OBJ_ROUTES:
      obj_routes(object);
      break;
    case OBJ_IP_ENABLED:
      obj_ip_enabled(object);
      break;
    case OBJ_INTERFACE:
      obj_interface(object);
      break;
    default:
      object.set_res(MGMT_RES_NO_HANDLER);
  }
}
