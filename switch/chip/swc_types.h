// Types, return codes and records shared by the switch API, its low-level layer and its callers.
#pragma once

#include <cstddef>
#include <cstdint>

// Result of every switch API call: 0 success, negative failure; callers pass the first negative code up.
using swc_rc = int32_t;

inline constexpr swc_rc kSwcRcOk = 0;
inline constexpr swc_rc kSwcRcSoftFailure = -1;        // a per-port step failed, the others went on
inline constexpr swc_rc kSwcRcRunning = -2;            // CableScan test still running
inline constexpr swc_rc kSwcRcNotNow = -3;             // not possible now
inline constexpr swc_rc kSwcRcUnsupported = -4;        // unsupported PHY revision, start-up without reset
inline constexpr swc_rc kSwcRcIllegal = -5;            // illegal parameter
inline constexpr swc_rc kSwcRcBadChip = -6;            // chip id reads 0 or all ones; bad CPU frame header
inline constexpr swc_rc kSwcRcNotFound = -7;           // no free PGID, MAC entry absent, end of a walk
inline constexpr swc_rc kSwcRcTxStalled = -8;          // CPU transmit did not complete
inline constexpr swc_rc kSwcRcArbiter = -9;            // arbiter did not empty (fatal for the daemon)
inline constexpr swc_rc kSwcRcPhyNotMounted = -17;     // MIIM read flagged invalid
inline constexpr swc_rc kSwcRcPhyResetTimeout = -19;   // PHY reset did not complete
inline constexpr swc_rc kSwcRcRxBuffer = -48;          // CPU receive buffer missing or too small
inline constexpr swc_rc kSwcRcAggrInconsistent = -64;  // aggregation member set inconsistent
inline constexpr swc_rc kSwcRcReadFailed = -96;        // register read failed
inline constexpr swc_rc kSwcRcWriteFailed = -97;       // register write failed

// Returns a failed code (negative) from the calling function.
#define SWC_TRY(expression)                  \
  do {                                       \
    const swc_rc swc_try_rc_ = (expression); \
    if (swc_try_rc_ < 0) return swc_try_rc_; \
  } while (0)

// Front port 1..6; per-port tables are indexed 0..6 and use 1..6.
using swc_port_no_t = uint32_t;
// A port 1..6 or an aggregation 7..9.
using SwcPoagNo = uint32_t;

inline constexpr unsigned kSwcPorts = 6;
inline constexpr unsigned kSwcPortSlots = 7;   // port tables indexed 0..6
inline constexpr unsigned kSwcPoagSlots = 10;  // poag tables indexed 0..9
inline constexpr unsigned kSwcChipPorts = 7;   // chip ports 0..6 (5 unused on this board)
inline constexpr unsigned kSwcVlans = 4096;
inline constexpr unsigned kSwcPgids = 64;
inline constexpr unsigned kSwcMacTableSize = 8192;
inline constexpr unsigned kSwcMacIndexSize = 64;
inline constexpr unsigned kSwcQosDscp = 64;
inline constexpr unsigned kSwcQosTags = 8;
inline constexpr unsigned kSwcCounterWords = 12;
inline constexpr unsigned kSwcRegistrationFlags = 19;
inline constexpr uint32_t kSwcMaxStandardFrame = 1522;

// STP states of a chip port.
inline constexpr uint32_t SWC_STP_STATE_DISABLED = 0;
inline constexpr uint32_t SWC_STP_STATE_BLOCKING = 1;
inline constexpr uint32_t SWC_STP_STATE_LISTENING = 2;
inline constexpr uint32_t SWC_STP_STATE_LEARNING = 3;
inline constexpr uint32_t SWC_STP_STATE_FORWARDING = 4;
inline constexpr uint32_t SWC_STP_STATE_ENABLED = 5;

// Port authorisation states.
inline constexpr uint32_t SWC_AUTH_STATE_NONE = 0;
inline constexpr uint32_t SWC_AUTH_STATE_EGRESS = 1;
inline constexpr uint32_t SWC_AUTH_STATE_BOTH = 2;

// Interface types of the port setup and the PHY reset setup.
enum SwcInterface : uint32_t {
  kSwcIfNoConnection = 0,
  kSwcIfLoopback = 1,
  kSwcIfInternal = 2,
  kSwcIfMii = 3,
  kSwcIfGmii = 4,
  kSwcIfRgmii = 5,
  kSwcIfTbi = 6,
  kSwcIfRtbi = 7,
  kSwcIfSgmii = 8,
  kSwcIfSerdes = 9,
  kSwcIfXgmii = 10,
};

// Speed codes.
inline constexpr uint32_t kSwcSpeed10M = 1;
inline constexpr uint32_t kSwcSpeed100M = 2;
inline constexpr uint32_t kSwcSpeed1G = 3;

// Start-up record handed to swc_init.
struct SwcInitSetup {
  uint32_t reset;        // must be 1: reset and fully initialise the chip
  uint32_t serial;       // nonzero: registers over the SPI path; 0: over the parallel bus
  uint32_t bus_mode;     // parallel bus mode (0 or 1)
  int32_t hold_time_ns;  // bus hold time in nanoseconds, -1 for the longest
  uint32_t further;      // nonzero leaves bit 5 of the CPU interface register clear
};
static_assert(sizeof(SwcInitSetup) == 20);

// Port set-up of swc_port_setup, kept per port in the API state.
struct SwcPortSetup {
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
static_assert(sizeof(SwcPortSetup) == 48);
static_assert(offsetof(SwcPortSetup, pause_mac) == 24);
static_assert(offsetof(SwcPortSetup, max_length) == 32);

// Counter words as the low-level layer reads them (eight of twelve filled).
struct SwcRawCounters {
  uint32_t word[kSwcCounterWords];
};
static_assert(sizeof(SwcRawCounters) == 48);

struct SwcPortQos {
  uint32_t dscp_enable;
  uint32_t second_enable;
  uint32_t dscp_prio[kSwcQosDscp];
  uint32_t tag_prio[kSwcQosTags];
  uint32_t default_prio;
  uint32_t field;  // 2-bit field for port register 0x7A bits 12-13
};
static_assert(sizeof(SwcPortQos) == 76 * 4);

// Words 0 and 1 are rates, -1 off; word 2 the buffer mode of the flow-control set-up; word 3 unused.
struct SwcQosSetup {
  int32_t word[4];
};
static_assert(sizeof(SwcQosSetup) == 16);

struct SwcCpuRxRegistration {
  uint32_t flag[kSwcRegistrationFlags];
};
static_assert(sizeof(SwcCpuRxRegistration) == 76);

struct SwcVlanEntry {
  uint32_t in_use;
  uint32_t member[kSwcPortSlots];
};

struct SwcVlanPortMode {
  uint32_t aware;
  uint32_t port_vid;
  uint32_t untagged_vid;  // 0: all tagged, 0x1000: all untagged
  uint32_t frame_type;
  uint32_t ingress_filter;
};
static_assert(sizeof(SwcVlanPortMode) == 20);

// One element of the MAC table shadow; `next` is an element index, kSwcMacNone for the end of a list.
inline constexpr uint32_t kSwcMacNone = 0xFFFFFFFFu;
struct SwcMacShadowEntry {
  uint32_t next;
  uint32_t key_high;  // VID << 16 | MAC byte 0 << 8 | MAC byte 1
  uint32_t key_low;   // MAC bytes 2..5, byte 2 most significant
  uint32_t block;     // pass block 0..7 that read it
};

struct SwcMacEvents {
  uint32_t flag[4];
};

struct SwcPgidEntry {
  uint32_t member[kSwcPoagSlots];
  uint32_t exclusive;
  uint32_t references;
};

struct SwcVidMac {
  uint32_t vid;
  uint8_t mac[6];
  uint8_t pad[2];
};
static_assert(sizeof(SwcVidMac) == 12);

struct SwcMacEntry {
  SwcVidMac vid_mac;
  uint32_t destination[kSwcPoagSlots];
  uint32_t copy_to_cpu;
  uint32_t locked;
  uint32_t aged;  // filled by the low-level decode from the IP multicast bit
};
static_assert(sizeof(SwcMacEntry) == 64);

// Header of a frame fetched from a CPU receive queue.
struct SwcCpuRxHeader {
  uint32_t length;  // without FCS
  uint32_t port_no;
  uint32_t flag;
  uint32_t vid;
  uint32_t cfi;
  uint32_t user_priority;
};
static_assert(sizeof(SwcCpuRxHeader) == 24);

struct SwcChipId {
  uint16_t part;
  uint16_t pad;
  uint32_t revision;
};
static_assert(sizeof(SwcChipId) == 8);
static_assert(offsetof(SwcChipId, revision) == 4);

// Port map entry of swc_port_map_set, indexed by port 0..6.
struct SwcPortMap {
  int32_t chip_port;  // negative: the port has no chip port
  uint32_t miim_controller;
  uint32_t miim_address;
};
