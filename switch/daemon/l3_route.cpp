// Static routes: the table sorted by network and mask, applied to the host with route commands.
#include "l3.h"

#include "l2_table.h"
#include "le.h"
#include "trace.h"

#include <cstdio>
#include <vector>

namespace {

#define L3_TRACE(level, ...) trace_printf(trace::kL3, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

inline constexpr size_t kCommandSize = 128;

std::vector<L3Route> routes;  // sorted by (network, mask)

bool route_less(const L3Route &a, const L3Route &b) {
  if (a.network != b.network) return a.network < b.network;
  return a.mask < b.mask;
}

void route_command(const char *caller, const char *verb, const L3Route &route, bool with_gateway) {
  char command[kCommandSize];
  if (with_gateway)
    std::snprintf(command, sizeof command, "/sbin/route %s -net %s/%d gw %s", verb, l3_ip_txt(route.network),
                  l3_mask_prefix(route.mask), l3_ip_txt(route.gateway));
  else
    std::snprintf(command, sizeof command, "/sbin/route %s -net %s/%d", verb, l3_ip_txt(route.network),
                  l3_mask_prefix(route.mask));
  l3_system(caller, command);
}

}  // namespace

void l3_route_record_load(const uint8_t *record, L3Route &route) {
  route.network = le_load32(record);
  route.mask = le_load32(record + 4);
  route.gateway = le_load32(record + 8);
}

void l3_route_record_store(uint8_t *record, const L3Route &route) {
  le_store32(record, route.network);
  le_store32(record + 4, route.mask);
  le_store32(record + 8, route.gateway);
}

void l3_sr_init() {
  routes.clear();
  routes.reserve(kL3RouteMax);
}

int sr_config_add(const L3Route &route) {
  L3_TRACE(trace::kDebug, "net/mask: %s/%s", l3_ip_txt(route.network), l3_ip_txt(route.mask));
  // A mask with a gap has no prefix length; the host could not be given such a route.
  if (l3_mask_prefix(route.mask) < 0) {
    L3_TRACE(trace::kError, "illegal mask: %s", l3_ip_txt(route.mask));
    return -1;
  }
  L3Route old{route.network, route.mask, 0};
  const bool existed = sorted_table_get(routes, old, true, route_less) >= 0 && !route_less(route, old);
  if (existed && old.gateway != route.gateway) route_command(__func__, "del", old, false);
  TablePut how{};
  const int index = sorted_table_put(routes, route, kL3RouteMax, route_less, trace::kL3, __func__, &how);
  if (index < 0) return -1;
  route_command(__func__, "add", route, true);
  return index;
}

int sr_config_del(const L3Route &route) {
  const int index = sorted_table_remove(routes, route, route_less, trace::kL3, __func__);
  if (index < 0) return -1;
  route_command(__func__, "del", route, false);
  return index;
}

int sr_config_get(L3Route &route, bool exact) {
  return sorted_table_get(routes, route, exact, route_less);
}

size_t sr_config_count() {
  return routes.size();
}
