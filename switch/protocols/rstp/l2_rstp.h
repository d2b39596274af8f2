// The spanning tree module of portvisor: one engine on the daemon's services, its one-second tick
// driver, configuration block 21 and management objects 4019 (configuration), 4020 (status) and 4021
// (migration check), and the swc_rstp_* entry points the rest of the daemon calls.
#pragma once

#include "rstp_engine.h"

#include <cstddef>
#include <cstdint>

struct MgmtObject;

namespace rstp {

inline constexpr uint32_t kConfBlock = 21;
inline constexpr size_t kBridgeConfigSize = 12;
inline constexpr size_t kPortConfigSize = 12;
inline constexpr size_t kConfigSize = kBridgeConfigSize + 7 * kPortConfigSize;  // 96
inline constexpr size_t kBridgeStatusSize = 52;
inline constexpr size_t kPortStatusSize = 68;
inline constexpr size_t kStatusSize = 312 + 10 * kPortStatusSize;  // 992
inline constexpr size_t kMcheckSize = 7;
inline constexpr uint32_t kTickPeriodMs = 500;
inline constexpr uint32_t kObjConfig = 4019, kObjStatus = 4020, kObjMcheck = 4021;

// The whole configuration: bridge, then slot 0 (aggregation ports 7..9) and front ports 1..6.
struct Config {
  BridgeConfig bridge;
  std::array<PortConfig, 7> ports{};
};
void encode_config(const Config &config, uint8_t *out);  // kConfigSize bytes, little-endian
Config decode_config(const uint8_t *in);
// Times a bridge may be configured with (the ranges it accepts from peers); port fields in range.
bool config_valid(const Config &config);

void encode_bridge_status(const Engine &engine, unsigned slot, uint8_t *out);
void encode_port_status(const Engine &engine, unsigned poag, uint8_t *out);

// The daemon's services; set before l2_rstp_init.
void l2_rstp_services_set(proto::PortServices *services);
Engine *l2_rstp_engine();

}  // namespace rstp

void l2_rstp_init();
void l2_rstp_conf(int create);
uint32_t rstp_tick(uint32_t now, uint32_t last, uint32_t elapsed);
void l2_rstp_config(MgmtObject &object);
void l2_rstp_status(MgmtObject &object);
void l2_rstp_mcheck(MgmtObject &object);

void swc_rstp_set_config(const uint8_t *config);
void swc_rstp_get_config(uint8_t *config);
void swc_rstp_set_portconfig(unsigned portno, const uint8_t *config);
void swc_rstp_get_portconfig(unsigned portno, uint8_t *config);
void swc_rstp_set_mcheck(unsigned poag);
void swc_rstp_vlan_add(unsigned vid, const uint8_t *members);
void swc_rstp_vlan_del(unsigned vid);
void swc_rstp_aggr_add(unsigned aid, const uint32_t *members);  // members[7], index 0 unused
void swc_rstp_aggr_del(unsigned aid);
void swc_rstp_linkstate_changed(unsigned portno, int link);
void swc_rstp_receive(unsigned from_port, const uint8_t *frame, uint32_t length);
void swc_rstp_tick();
void swc_rstp_more_work();
void swc_rstp_get_bridge_status(unsigned vlan_index, uint8_t *status);
void swc_rstp_get_port_status(unsigned poag, uint8_t *status);
