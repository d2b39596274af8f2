// The rapid spanning tree engine: bridge instances (one per VLAN plus the default, VID 4096) over nine
// logical ports (front ports 1..6, aggregation ports 7..9), their state machines, BPDU input and output.
// It touches nothing itself: the chip and the frame path reach it through the port services, so several
// engines (bridges) can run back to back in one process.
#pragma once

#include "rstp_bpdu.h"

#include <array>
#include <cstdint>
#include <vector>

namespace rstp {

inline constexpr unsigned kFrontPorts = 6;
inline constexpr unsigned kLogicalPorts = 9;
inline constexpr unsigned kInstances = 6;
inline constexpr unsigned kDefaultVid = 4096;
inline constexpr uint8_t kTxHoldCount = 3;
inline constexpr uint8_t kMigrateTime = 3;
inline constexpr uint8_t kEdgeDelay = 3;

using proto::kStpDisabled, proto::kStpBlocking, proto::kStpLearning, proto::kStpForwarding,
    proto::kStpEnabled, proto::kStpUnknown;
using proto::StpState;
enum Role : uint8_t { kRoleDisabled, kRoleAlternate, kRoleBackup, kRoleRoot, kRoleDesignated, kRoleNonStp };
enum InfoIs : uint8_t { kInfoMine, kInfoAged, kInfoReceived, kInfoDisabled };

struct BridgeConfig {
  uint16_t priority = 32768;
  uint16_t max_age = 20;
  uint16_t hello_time = 2;
  uint16_t forward_delay = 15;
  uint8_t force_version = 2;
  bool operator==(const BridgeConfig &) const = default;
};

enum P2pAdmin : uint8_t { kP2pOn = 0, kP2pOff = 1, kP2pAuto = 2 };

struct PortConfig {
  uint32_t admin_cost = 0;  // 0: from the link speed
  uint8_t priority = 128;
  uint8_t enabled = 1;
  uint8_t admin_edge = 1;
  uint8_t admin_p2p = kP2pAuto;
  bool operator==(const PortConfig &) const = default;
};

struct PortCounters {
  uint32_t config_sent = 0, config_received = 0;
  uint32_t rst_sent = 0, rst_received = 0;
  uint32_t tcn_sent = 0, tcn_received = 0;
  uint32_t unrecognised = 0, illegal = 0;
};

// Machines, in the order the work loop evaluates them.
enum Machine : uint8_t {
  kTransmit,
  kStTrans,
  kRoleTrns,
  kInfo,
  kPCost,
  kEdge,
  kP2p,
  kMigrate,
  kTopoCh,
  kMachines
};
inline constexpr uint8_t kBegin = 255;

enum InfoState : uint8_t {
  kInfoDisabledSt,
  kInfoEnabled,
  kInfoAgedSt,
  kInfoUpdate,
  kInfoCurrent,
  kInfoReceive,
  kInfoSuperior,
  kInfoRepeat,
  kInfoAgreement
};
enum RoleTrnsState : uint8_t {
  kInitPort,
  kBlockPort,
  kBlockedPort,
  kBackupPort,
  kRootProposed,
  kRootAgreed,
  kReroot,
  kRootPort,
  kRerooted,
  kRootLearn,
  kRootForward,
  kDesignatedPropose,
  kDesignatedSynced,
  kDesignatedRetired,
  kDesignatedPort,
  kDesignatedListen,
  kDesignatedLearn,
  kDesignatedForward
};
enum StTransState : uint8_t { kDiscarding, kLearning, kForwarding };
enum TopoChState : uint8_t {
  kTcInit,
  kTcInactive,
  kTcActive,
  kTcDetected,
  kTcNotifiedTc,
  kTcPropagating,
  kTcAcknowledged,
  kTcNotifiedTcn
};
enum MigrateState : uint8_t { kPmInit, kPmSendRstp, kPmSendingRstp, kPmSendStp, kPmSendingStp };
enum TransmitState : uint8_t { kTxInit, kTxPeriodic, kTxIdle, kTxTcn, kTxConfig, kTxRstp };
enum P2pState : uint8_t { kP2pInit, kP2pRecompute, kP2pStable };
enum EdgeState : uint8_t { kEdgeDisabled, kEdgeDetected, kEdgeDelayed, kEdgeResolved };
enum PCostState : uint8_t { kPcAuto, kPcForced, kPcStable };

const char *machine_name(unsigned machine);
const char *state_name(unsigned machine, uint8_t state);  // machine kMachines: role selection
const char *role_name(unsigned role);

struct Port {
  unsigned number = 0;
  PortConfig config;
  Mac mac{};
  StpState stp_state = kStpUnknown;
  bool active = false;
  bool admin_non_stp = false;
  bool link = false;
  int bridge = -1;  // instance slot, -1 none
  PortCounters counters;

  uint16_t port_id = 0;
  PriorityVector designated_priority, port_priority, msg_priority;
  Times designated_times, port_times, msg_times;
  uint8_t role = kRoleDisabled, selected_role = kRoleDisabled;
  uint8_t msg_version = 0, msg_type = 0, msg_flags = 0;
  InfoIs info_is = kInfoDisabled;
  bool port_enabled = false, oper_edge = false, new_info = false, rcvd_msg = false, rcvd_stp = false,
       rcvd_rstp = false, proposing = false, proposed = false, agreed = false, synced = false, sync = false,
       re_root = false, reselect = false, selected = false, send_rstp = true, mcheck = false, init_pm = false,
       learn = false, learning = false, forward = false, forwarding = false, tc = false, tc_prop = false,
       tc_ack = false, rcvd_tc = false, rcvd_tcn = false, rcvd_tc_ack = false, updt_info = false,
       p2p_recompute = false, oper_p2p = false, bpdu_seen = false;
  // Timers in ticks (seconds).
  uint8_t fd_while = 0, hello_when = 0, mdelay_while = 0, rb_while = 0, rcvd_info_while = 0, rr_while = 0,
          tc_while = 0, tx_count = 0, edge_delay = 0;
  uint32_t path_cost = 0;
  unsigned speed = 0, used_speed = 0;
  std::array<uint8_t, kMachines> state{};

  bool boring() const { return !active || admin_non_stp; }
};

struct Bridge {
  unsigned vid = 0;
  bool in_use = false;
  bool enabled = false;
  std::vector<unsigned> ports;  // ascending port numbers
  uint8_t rolesel = kBegin;
  BridgeId id;
  PriorityVector root_priority;
  Times root_times;
  uint16_t root_port_id = 0;
  bool tc = false;
  uint16_t tc_count = 0;
  uint32_t sweeps_since_tc = 0;
};

class Engine {
 public:
  explicit Engine(proto::PortServices &services);

  void start();
  bool initialised() const { return initialised_; }

  void set_config(const BridgeConfig &config);
  const BridgeConfig &config() const { return config_; }
  void set_port_config(unsigned portno, const PortConfig &config);  // 0: aggregation ports 7..9
  PortConfig port_config(unsigned portno);
  void set_mcheck(unsigned poag);

  void vlan_add(unsigned vid, const uint8_t *members);  // members[1..6]
  void vlan_del(unsigned vid);

  // Aggregation ports 7..9 follow the hardware aggregations; members[1..6] flag the front ports.
  void aggr_add(unsigned aid, const uint32_t *members);
  void aggr_del(unsigned aid);

  void linkstate_changed(unsigned portno, bool link);
  void receive(unsigned from_port, const uint8_t *frame, size_t length);
  void tick();
  void more_work();
  void finish_work();

  const Port &port(unsigned p) const { return ports_[p]; }
  const Bridge &bridge(unsigned slot) const { return bridges_[slot]; }
  int bridge_of_vid(unsigned vid) const;
  unsigned representative(unsigned front_port) const { return rep_[front_port]; }
  uint16_t ticks() const { return ticks_; }

 private:
  friend class Tracer;
  void trace(unsigned level, const char *function, int line, const char *format, ...)
      __attribute__((format(printf, 5, 6)));

  // Instances and ports.
  int bridge_create(unsigned vid);
  void bridge_configure(Bridge &b);
  int bridge_start(unsigned slot);
  void bridge_stop(unsigned slot);
  void bridge_update();  // starts a sweep
  void move_port(unsigned p, int to);
  void port_reinit(Port &p);
  void port_init_in_bridge(Port &p, const Bridge &b);
  void new_port_state(unsigned p, bool link);
  void enable_port(Port &p, bool link);
  void refresh_link(Port &p);
  unsigned port_speed(const Port &p);
  bool aggr_link(unsigned aid);
  bool aggregated(unsigned n) const { return n <= kFrontPorts && rep_[n] != n; }
  void give_back(unsigned front, const Port &aggr);
  Port *first_port(const Bridge &b);

  // The work loop: each port's machines step together until none moves (rstp_engine.cpp).
  void step_port(Port &p);
  uint8_t next_state(Port &p, unsigned machine);  // kBegin: the machine stays where it is
  void enter(Port &p, unsigned machine);          // runs the entry action of the machine's state
  void hop(Port &p, unsigned machine, uint8_t to);
  bool all_synced(const Port &p) const;
  bool re_rooted(const Port &p) const;
  void set_on_others(Port &p, bool Port::*flag, bool all);
  void set_stp_state(Port &p, StpState state);
  void flush(unsigned port, unsigned vid, unsigned type, unsigned reason);
  const Times &times_of(const Port &p) const;
  unsigned force_version() const { return config_.force_version; }

  // Port timers (rstp_port_timers.cpp).
  void count_down_timers(Port &p);

  // Port receive (rstp_port_receive.cpp).
  void rx_bpdu(Port &p, const Bpdu &bpdu);
  void record_bpdu(Port &p, const Bpdu &bpdu);

  // Port protocol migration (rstp_protocol_migration.cpp).
  uint8_t migrate_next(const Port &p) const;
  void migrate_enter(Port &p);

  // Bridge detection: the operational edge (rstp_bridge_detection.cpp).
  uint8_t edge_next(const Port &p);
  void edge_enter(Port &p);

  // Point-to-point and path cost, both following the link (rstp_point_to_point.cpp, rstp_path_cost.cpp).
  uint8_t p2p_next(Port &p) const;
  void p2p_enter(Port &p);
  uint8_t pcost_next(const Port &p) const;
  void pcost_enter(Port &p);

  // Port information (rstp_port_information.cpp).
  uint8_t info_next(const Port &p) const;
  uint8_t info_current_next(const Port &p) const;
  void info_enter(Port &p);
  void info_receive(Port &p);
  void info_superior(Port &p);
  uint8_t classify(const Port &p) const;
  void record_proposed(Port &p);
  void update_rcvd_info_while(Port &p);

  // Port role selection (rstp_role_selection.cpp).
  void role_selection(Bridge &b);
  bool update_roles(Bridge &b);
  void update_root(Bridge &b);
  void select_role(Bridge &b, Port &p);

  // Port role transitions (rstp_role_transitions.cpp).
  uint8_t roletrns_next(const Port &p) const;
  uint8_t roletrns_settled_next(const Port &p) const;
  uint8_t blocked_port_next(const Port &p) const;
  uint8_t root_port_next(const Port &p) const;
  uint8_t designated_port_next(const Port &p) const;
  void roletrns_enter(Port &p);
  void enter_blocking_state(Port &p);
  void enter_root_state(Port &p);
  void enter_designated_state(Port &p);

  // Port state transition (rstp_state_transition.cpp).
  uint8_t sttrans_next(const Port &p) const;
  void sttrans_enter(Port &p);

  // Topology change (rstp_topology_change.cpp).
  uint8_t topoch_next(const Port &p) const;
  void topoch_enter(Port &p);
  uint8_t new_tc_while(const Port &p) const;
  void propagate_tc(Port &p, unsigned reason);

  // Port transmit (rstp_port_transmit.cpp).
  uint8_t transmit_next(const Port &p) const;
  void transmit_enter(Port &p);
  void tx_bpdu(Port &p, uint8_t type);

  proto::PortServices &services_;
  bool initialised_ = false;
  BridgeConfig config_;
  uint16_t ticks_ = 0;
  std::array<Port, kLogicalPorts + 1> ports_{};
  std::array<Bridge, kInstances> bridges_{};
  std::vector<unsigned> active_;  // instance slots, newest first
  int default_ = -1;
  int current_bridge_ = -1;
  unsigned current_port_ = 0;                     // index into the bridge's port list
  std::array<unsigned, kFrontPorts + 1> rep_{};   // logical port that stands for a front port
  std::array<unsigned, kLogicalPorts + 1> tx_{};  // front port a logical port sends on, 0 none
};

uint32_t path_cost_for_speed(unsigned mbits);

}  // namespace rstp
