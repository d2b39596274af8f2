// Types, return codes and records shared by the switch API, its low-level layer and its callers.
#pragma once

#include <cstddef>
#include <cstdint>

// Result of every switch API call: 0 success, negative failure; callers pass the first negative code up.
using swc_rc = int32_t;

inline constexpr swc_rc SWC_RC_OK = 0;
inline constexpr swc_rc SWC_RC_SOFT_FAILURE = -1;        // a per-port step failed, the others went on
inline constexpr swc_rc SWC_RC_RUNNING = -2;             // CableScan test still running
inline constexpr swc_rc SWC_RC_NOT_NOW = -3;             // not possible now
inline constexpr swc_rc SWC_RC_UNSUPPORTED = -4;         // unsupported PHY revision, start-up without reset
inline constexpr swc_rc SWC_RC_ILLEGAL = -5;             // illegal parameter
inline constexpr swc_rc SWC_RC_BAD_CHIP = -6;            // chip id reads 0 or all ones; bad CPU frame header
inline constexpr swc_rc SWC_RC_NOT_FOUND = -7;           // no free PGID, MAC entry absent, end of a walk
inline constexpr swc_rc SWC_RC_TX_STALLED = -8;          // CPU transmit did not complete
inline constexpr swc_rc SWC_RC_ARBITER = -9;             // arbiter did not empty (fatal for the daemon)
inline constexpr swc_rc SWC_RC_PHY_NOT_MOUNTED = -17;    // MIIM read flagged invalid
inline constexpr swc_rc SWC_RC_PHY_RESET_TIMEOUT = -19;  // PHY reset did not complete
inline constexpr swc_rc SWC_RC_RX_BUFFER = -48;          // CPU receive buffer missing or too small
inline constexpr swc_rc SWC_RC_AGGR_INCONSISTENT = -64;  // aggregation member set inconsistent
inline constexpr swc_rc SWC_RC_READ_FAILED = -96;        // register read failed
inline constexpr swc_rc SWC_RC_WRITE_FAILED = -97;       // register write failed

// Returns a failed code (negative) from the calling function.
#define SWC_TRY(expression)                  \
  do {                                       \
    const swc_rc swc_try_rc_ = (expression); \
    if (swc_try_rc_ < 0) return swc_try_rc_; \
  } while (0)

// Front port 1..6; per-port tables are indexed 0..6 and use 1..6.
using swc_port_no_t = uint32_t;
// A port 1..6 or an aggregation 7..9.
using swc_poag_no_t = uint32_t;

inline constexpr unsigned SWC_PORTS = 6;
inline constexpr unsigned SWC_PORT_SLOTS = 7;   // port tables indexed 0..6
inline constexpr unsigned SWC_POAG_SLOTS = 10;  // poag tables indexed 0..9
inline constexpr unsigned SWC_CHIP_PORTS = 7;   // chip ports 0..6 (5 unused on this board)
inline constexpr unsigned SWC_VLANS = 4096;
inline constexpr unsigned SWC_PGIDS = 64;
inline constexpr unsigned SWC_MAC_TABLE_SIZE = 8192;
inline constexpr unsigned SWC_MAC_INDEX_SIZE = 64;
inline constexpr unsigned SWC_QOS_DSCP = 64;
inline constexpr unsigned SWC_QOS_TAGS = 8;
inline constexpr unsigned SWC_COUNTER_WORDS = 12;
inline constexpr unsigned SWC_REGISTRATION_FLAGS = 19;
inline constexpr uint32_t SWC_MAX_STANDARD_FRAME = 1522;

// STP states of a chip port.
inline constexpr uint32_t SWC_STP_DISABLED = 0;
inline constexpr uint32_t SWC_STP_BLOCKING = 1;
inline constexpr uint32_t SWC_STP_LISTENING = 2;
inline constexpr uint32_t SWC_STP_LEARNING = 3;
inline constexpr uint32_t SWC_STP_FORWARDING = 4;
inline constexpr uint32_t SWC_STP_ENABLED = 5;

// Port authorisation states.
inline constexpr uint32_t SWC_AUTH_NONE = 0;
inline constexpr uint32_t SWC_AUTH_EGRESS = 1;
inline constexpr uint32_t SWC_AUTH_BOTH = 2;

// Interface types of the port setup and the PHY reset setup.
enum swc_interface : uint32_t {
  SWC_IF_NO_CONNECTION = 0,
  SWC_IF_LOOPBACK = 1,
  SWC_IF_INTERNAL = 2,
  SWC_IF_MII = 3,
  SWC_IF_GMII = 4,
  SWC_IF_RGMII = 5,
  SWC_IF_TBI = 6,
  SWC_IF_RTBI = 7,
  SWC_IF_SGMII = 8,
  SWC_IF_SERDES = 9,
  SWC_IF_XGMII = 10,
};

// Speed codes.
inline constexpr uint32_t SWC_SPEED_10M = 1;
inline constexpr uint32_t SWC_SPEED_100M = 2;
inline constexpr uint32_t SWC_SPEED_1G = 3;

// Start-up record handed to swc_init.
struct swc_init_setup {
  uint32_t reset;        // must be 1: reset and fully initialise the chip
  uint32_t serial;       // nonzero: registers over the SPI path; 0: over the parallel bus
  uint32_t bus_mode;     // parallel bus mode (0 or 1)
  int32_t hold_time_ns;  // bus hold time in nanoseconds, -1 for the longest
  uint32_t further;      // nonzero leaves bit 5 of the CPU interface register clear
};
static_assert(sizeof(swc_init_setup) == 20);

// Port set-up of swc_port_setup, kept per port in the API state.
struct swc_port_setup_t {
  uint32_t interface_type;
  uint32_t speed;
  uint32_t power_down;
  uint32_t full_duplex;
  uint32_t flow_obey;
  uint32_t flow_generate;
  uint8_t pause_mac[6];
  uint8_t pad[2];
  uint32_t max_length;
  uint32_t gap[3];  // frame-gap overrides, 0 keeps the default
};
static_assert(sizeof(swc_port_setup_t) == 48);
static_assert(offsetof(swc_port_setup_t, pause_mac) == 24);
static_assert(offsetof(swc_port_setup_t, max_length) == 32);

// Counter words as the low-level layer reads them (eight of twelve filled).
struct swc_raw_counters_t {
  uint32_t word[SWC_COUNTER_WORDS];
};
static_assert(sizeof(swc_raw_counters_t) == 48);

struct swc_port_qos_t {
  uint32_t dscp_enable;
  uint32_t second_enable;
  uint32_t dscp_prio[SWC_QOS_DSCP];
  uint32_t tag_prio[SWC_QOS_TAGS];
  uint32_t default_prio;
  uint32_t field;  // 2-bit field for port register 0x7A bits 12-13
};
static_assert(sizeof(swc_port_qos_t) == 76 * 4);

// Words 0 and 1 are rates, -1 off; word 2 the buffer mode of the flow-control set-up; word 3 unused.
struct swc_qos_setup_t {
  int32_t word[4];
};
static_assert(sizeof(swc_qos_setup_t) == 16);

struct swc_cpu_rx_registration_t {
  uint32_t flag[SWC_REGISTRATION_FLAGS];
};
static_assert(sizeof(swc_cpu_rx_registration_t) == 76);

struct swc_vlan_entry_t {
  uint32_t in_use;
  uint32_t member[SWC_PORT_SLOTS];
};

struct swc_vlan_port_mode_t {
  uint32_t aware;
  uint32_t port_vid;
  uint32_t untagged_vid;  // 0: all tagged, 0x1000: all untagged
  uint32_t frame_type;
  uint32_t ingress_filter;
};
static_assert(sizeof(swc_vlan_port_mode_t) == 20);

// One element of the MAC table shadow; `next` is an element index, SWC_MAC_NONE for the end of a list.
inline constexpr uint32_t SWC_MAC_NONE = 0xFFFFFFFFu;
struct swc_mac_shadow_entry_t {
  uint32_t next;
  uint32_t key_high;  // VID << 16 | MAC byte 0 << 8 | MAC byte 1
  uint32_t key_low;   // MAC bytes 2..5, byte 2 most significant
  uint32_t block;     // pass block 0..7 that read it
};

struct swc_mac_events_t {
  uint32_t flag[4];
};

struct swc_pgid_entry_t {
  uint32_t member[SWC_POAG_SLOTS];
  uint32_t exclusive;
  uint32_t references;
};

struct swc_vid_mac_t {
  uint32_t vid;
  uint8_t mac[6];
  uint8_t pad[2];
};
static_assert(sizeof(swc_vid_mac_t) == 12);

struct swc_mac_entry_t {
  swc_vid_mac_t vid_mac;
  uint32_t destination[SWC_POAG_SLOTS];
  uint32_t copy_to_cpu;
  uint32_t locked;
  uint32_t aged;  // filled by the low-level decode from the IP multicast bit
};
static_assert(sizeof(swc_mac_entry_t) == 64);

// Header of a frame fetched from a CPU receive queue.
struct swc_cpu_rx_header_t {
  uint32_t length;  // without FCS
  uint32_t port_no;
  uint32_t flag;
  uint32_t vid;
  uint32_t cfi;
  uint32_t user_priority;
};
static_assert(sizeof(swc_cpu_rx_header_t) == 24);

struct swc_chipid_t {
  uint16_t part;
  uint16_t pad;
  uint32_t revision;
};
static_assert(sizeof(swc_chipid_t) == 8);
static_assert(offsetof(swc_chipid_t, revision) == 4);

// Port map entry of swc_port_map_set, indexed by port 0..6.
struct swc_port_map_t {
  int32_t chip_port;  // negative: the port has no chip port
  uint32_t miim_controller;
  uint32_t miim_address;
};
