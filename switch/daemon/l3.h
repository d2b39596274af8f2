// The L3 module of portvisor: router legs join the host's IP stack to VLANs of the switch through TAP
// devices "tap<rlid>", static routes are kept and applied to the host, and the management objects
// 5000..5003 serve both tables and the IP-enabled flag.
#pragma once

#include <cstddef>
#include <cstdint>

struct ConfAction;
struct MgmtObject;
struct PacketBuffer;
struct SwcMacEntry;

// Configuration blocks.
inline constexpr uint32_t kL3ConfLegs = 1;      // u16 count, u16 entry size 24, up to 32 legs
inline constexpr uint32_t kL3ConfRoutes = 2;    // u16 count, u16 entry size 12, up to 32 routes
inline constexpr uint32_t kL3ConfGeneral = 13;  // u32 IP-enabled flag
inline constexpr size_t kL3LegMax = 32;
inline constexpr size_t kL3RouteMax = 32;
inline constexpr size_t kL3LegRecordSize = 24;
inline constexpr size_t kL3RouteRecordSize = 12;
// The largest frame passed from a TAP device into the switch.
inline constexpr uint32_t kL3FrameMax = 9600;
// A frame from a TAP device must be longer than this to be sent.
inline constexpr uint32_t kL3FrameMinExclusive = 13;

// A router leg. The first six words are the 24-byte record of object 5000 and block 1; mac and fd
// live in memory only (fd < 0: no TAP device).
struct L3Leg {
  uint32_t rlid;  // also the TAP number
  uint32_t vid;
  uint32_t ip;    // host order
  uint32_t mask;  // host order
  uint32_t rip;   // routing-protocol mode: 0 off, 1 version 1, other version 2
  uint32_t dhcp;  // 1: the address comes from the in-band DHCP client
  uint8_t mac[6];
  int fd = -1;
};

// A static route (host order), the 12-byte record of object 5001 and block 2.
struct L3Route {
  uint32_t network;
  uint32_t mask;
  uint32_t gateway;
};

void l3_leg_record_load(const uint8_t *record, L3Leg &leg);
void l3_leg_record_store(uint8_t *record, const L3Leg &leg);
void l3_route_record_load(const uint8_t *record, L3Route &route);
void l3_route_record_store(uint8_t *record, const L3Route &route);

// Module glue.
void l3_init();
void l3_conf(const ConfAction &action);
void l3_mgmt(MgmtObject &object);

// Router legs: the entry's index, or -1.
void l3_rl_init();
int rl_config_add(const L3Leg &leg);
int rl_config_del(uint32_t rlid);
// The first leg with a greater rlid, or with `exact` a greater or equal one (mac and fd included).
int rl_config_get(L3Leg &leg, bool exact);
size_t rl_config_count();
// A static MAC entry can own the VLAN and address of a leg's entry: the chip holds one entry for both.
// Adds the leg's view (copy to the CPU, its ports) to `entry` when a leg with a device owns its key.
bool rl_mac_merge(SwcMacEntry &entry);
uint32_t l3_ip_enabled();
void l3_ip_enabled_set(uint32_t enabled);

// Static routes: the entry's index, or -1.
void l3_sr_init();
int sr_config_add(const L3Route &route);
int sr_config_del(const L3Route &route);
int sr_config_get(L3Route &route, bool exact);
size_t sr_config_count();

// Frames of EtherType 0x0800 and 0x0806 from the CPU path; frees the buffer.
void l3_packet_rx(PacketBuffer *buffer);
// Descriptor callback of the TAP devices: one frame from the host into the leg's VLAN.
void l3_packet_event(int fd, unsigned events);

// Frames from the TAP devices that were not sent, by reason.
struct L3Stats {
  uint32_t tap_short;      // 13 bytes or fewer
  uint32_t tap_long;       // more than kL3FrameMax bytes
  uint32_t tap_no_leg;     // no leg for the descriptor (or IP disabled)
  uint32_t tap_no_buffer;  // no packet buffer free
};
L3Stats l3_stats_get();

// Text forms, each with eight rotating result buffers so up to eight can be used in one expression:
// "a.b.c.d" from the most significant byte, and "tap<rlid>".
const char *l3_ip_txt(uint32_t ip);
const char *l3_tap_txt(uint32_t rlid);
// Number of leading one bits of a mask; -1 when a one follows a zero.
int l3_mask_prefix(uint32_t mask);

// Runs one shell command, traced before and after; its status.
int l3_system(const char *caller, const char *command);
// Opens "/dev/net/tun" as the TAP device `name` without packet information; the descriptor, or -1 (or
// the failed request's result).
int l3_tap_create(const char *name);
// The in-band DHCP client script; PORTVISOR_DHCP_SCRIPT replaces the board's path for tests.
const char *l3_dhcp_script();

// Test seams: without them commands go to system() and TAP devices are opened on /dev/net/tun.
using L3CommandRunner = int (*)(const char *command);
using L3TapOpener = int (*)(const char *name);
void l3_test_hooks_set(L3CommandRunner runner, L3TapOpener opener);
