#include "swc_phy.h"

#include "swc_trace.h"

namespace {
swc_phy_context* g_phy_context = nullptr;
swc_phy_state* g_phy_state = nullptr;
// The caller's PHY state holds whatever its allocation left until swc_phy_init fills it in.
bool g_phy_ready = false;

#define PHY_TRACE(level, ...) SWC_TRACE(TRACE_MOD_API_HL, level, __VA_ARGS__)

constexpr size_t records_offset() {
  return (sizeof(swc_phy_state) + alignof(swc_phy_port_t) - 1) / alignof(swc_phy_port_t) * alignof(swc_phy_port_t);
}
}  // namespace

swc_rc swc_phy_io_select_context(swc_phy_context* context) {
  g_phy_context = context;
  return SWC_RC_OK;
}

swc_rc swc_phy_select_context(swc_phy_context* context) {
  PHY_TRACE(TRACE_DEBUG, "enter");
  g_phy_state = context ? context->state : nullptr;
  g_phy_ready = false;
  return swc_phy_io_select_context(context);
}

size_t swc_phy_sizeof_al(uint32_t ports) {
  PHY_TRACE(TRACE_DEBUG, "enter");
  return records_offset() + (size_t{ports} + 1) * sizeof(swc_phy_port_t);
}

swc_rc swc_phy_init(uint32_t ports) {
  PHY_TRACE(TRACE_DEBUG, "enter");
  if (!g_phy_state) return SWC_RC_ILLEGAL;
  g_phy_state->count = ports + 1;
  g_phy_state->ports =
      reinterpret_cast<swc_phy_port_t*>(reinterpret_cast<unsigned char*>(g_phy_state) + records_offset());
  for (uint32_t i = 0; i < g_phy_state->count; ++i) {
    swc_phy_port_t& record = g_phy_state->ports[i];
    record = swc_phy_port_t{};
    record.bus = -1;
    record.address = -1;
    record.link = 0;
  }
  g_phy_ready = true;
  return SWC_RC_OK;
}

swc_phy_port_t* swc_phy_port(uint32_t port_no) {
  if (!g_phy_ready || port_no >= g_phy_state->count) return nullptr;
  return &g_phy_state->ports[port_no];
}

swc_rc swc_phy_map_port(uint32_t port_no, int32_t bus, int32_t address) {
  PHY_TRACE(TRACE_DEBUG, "port_no: %d, bus: 0x%04x, addr: 0x%02x", static_cast<int>(port_no),
            static_cast<unsigned>(bus), static_cast<unsigned>(address));
  swc_phy_port_t* record = swc_phy_port(port_no);
  if (!record) {
    PHY_TRACE(TRACE_ERROR, "illegal port_no: %d", static_cast<int>(port_no));
    return SWC_RC_ILLEGAL;
  }
  record->bus = bus;
  record->address = address;
  return SWC_RC_OK;
}
