// The LACP engine: receive, periodic, selection, mux, transmit and partner churn machines for the six
// front ports. It touches nothing itself; everything it needs from the system comes through the port
// services, so several engines can run side by side (two systems back to back in one test).
#pragma once

#include "lacp_pdu.h"
#include "port_services.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace lacp {

inline constexpr unsigned kPortCount = 6;
inline constexpr unsigned kAggregatorCount = 6;
inline constexpr size_t kSystemConfigSize = 12;
inline constexpr size_t kPortConfigSize = 8;
inline constexpr size_t kAggrStatusSize = 28;
inline constexpr size_t kPortStatusSize = 48;

// The engine's events towards the aggregation module: a port starts or stops collecting and
// distributing on an aggregator (ids 1..6, ports 1..6).
class AggregatorEvents {
 public:
  virtual ~AggregatorEvents() = default;
  virtual void set_hwaggr(unsigned aggregator, unsigned port) = 0;
  virtual void clear_hwaggr(unsigned aggregator, unsigned port) = 0;
};

struct SystemConfig {
  uint16_t priority = 32768;
  Mac mac{};
  bool operator==(const SystemConfig &) const = default;
};

struct PortConfig {
  uint16_t port_priority = 32768;
  uint16_t admin_key = 0;
  uint8_t enabled = 0;
  uint8_t fast_timeout = 1;
  uint8_t active = 1;
  bool operator==(const PortConfig &) const = default;
};

// The stored records (little-endian, reserved bytes zero).
void encode_system_config(const SystemConfig &config, uint8_t *out);
SystemConfig decode_system_config(const uint8_t *in);
void encode_port_config(const PortConfig &config, uint8_t *out);
PortConfig decode_port_config(const uint8_t *in);

// Machine variables of a port.
enum SmVar : uint16_t {
  kBegin = 0x001,
  kLacpEnabled = 0x002,
  kActorChurn = 0x004,
  kPartnerChurn = 0x008,
  kReady = 0x010,
  kReadyN = 0x020,
  kMatched = 0x040,
  kStandby = 0x080,
  kSelected = 0x100,
  kMoved = 0x200,
};

enum RxState : uint16_t {
  kRxInitialize = 1,
  kRxPortDisabled,
  kRxLacpDisabled,
  kRxExpired,
  kRxDefaulted,
  kRxCurrent
};
enum PeriodicState : uint16_t { kNoPeriodic = 1, kFastPeriodic, kSlowPeriodic, kPeriodicTx };
enum MuxState : uint16_t { kMuxDetached = 1, kMuxWaiting, kMuxAttached, kMuxCollectingDistributing };
enum ChurnState : uint16_t { kNoChurn = 1, kChurnMonitoring };

struct PortCounters {
  uint32_t lacpdus_sent = 0;
  uint32_t lacpdus_received = 0;
  uint32_t reserved = 0;
  uint32_t markers_received = 0;
  uint32_t marker_responses_sent = 0;
  uint32_t marker_responses_received = 0;
  uint32_t unknown_subtype = 0;
  uint32_t illegal = 0;
};

struct Port {
  PortConfig config;
  uint16_t number = 0;
  Mac mac{};
  bool ntt = false;
  uint16_t actor_oper_key = 0;
  uint8_t actor_state = 0;
  PortInfo partner_admin;
  PortInfo partner_oper;
  uint8_t enabled = 0;
  uint8_t full_duplex = 0;
  unsigned selected_aggregator = 0;  // id, 0 none
  unsigned hw_aggregator = 0;        // id of the aggregator the port collects and distributes on, 0 none
  unsigned next_in_aggregator = 0;   // port number, 0 end of list
  uint16_t collector_max_delay = 0;
  uint16_t sm_vars = 0;
  uint16_t rx_state = 0, mux_state = 0, periodic_state = 0, churn_state = 0;
  uint8_t current_while = 0, wait_while = 0, periodic_timer = 0, churn_timer = 0;
  uint8_t tx_budget = 0;
  PortCounters counters;

  bool has(uint16_t var) const { return sm_vars & var; }
};

struct Aggregator {
  unsigned id = 0;
  uint16_t admin_key = 0;
  uint16_t actor_oper_key = 0;
  Mac partner_system{};
  uint16_t partner_system_priority = 0;
  uint16_t partner_key = 0;
  unsigned first_port = 0;  // port number, 0 empty
  uint8_t port_count = 0;
  uint8_t individual = 0;
  uint32_t change_tick = 0;
};

class Engine {
 public:
  Engine(proto::PortServices &services, AggregatorEvents &events);

  void init();
  void set_config(const uint8_t *system);
  void get_config(uint8_t *system);
  void set_portconfig(unsigned port, const uint8_t *config);
  void get_portconfig(unsigned port, uint8_t *config);
  void linkstate_changed(unsigned port, int link);
  void receive(unsigned port, const uint8_t *frame, size_t length);
  void tick();
  void more_work();
  // All machines of the port back to their begin states at its next step.
  void restart_port(unsigned port);
  bool get_aggr_status(unsigned aggregator, uint8_t *status);
  void get_port_status(unsigned port, uint8_t *status);

  // Read-only views for the module's status and for tests.
  const Port &port(unsigned number) const { return ports_[number - 1]; }
  const Aggregator &aggregator(unsigned id) const { return aggregators_[id - 1]; }
  uint32_t ticks() const { return ticks_; }
  const SystemConfig &system() const { return system_; }

 private:
  Port &port_ref(unsigned number);
  void ensure_initialised();
  void finish_sweep();
  void step_port(Port &p);
  void restart(Port &p);
  void apply_link(Port &p);

  void rx_machine(Port &p, const Lacpdu *pdu);
  void rx_enter(Port &p, const Lacpdu *pdu);
  void record_default(Port &p);
  void update_default_selected(Port &p);
  void rx_update(Port &p, const Lacpdu &pdu);
  void periodic_machine(Port &p);
  void selection_logic(Port &p);
  void leave_aggregator(Port &p);
  void update_ready(unsigned aggregator);
  void mux_machine(Port &p);
  void mux_enter(Port &p);
  void disable_collecting_distributing(Port &p);
  void enable_collecting_distributing(Port &p);
  void tx_machine(Port &p);
  bool lacpdu_send(Port &p);
  void churn_machine(Port &p);
  void handle_markerframe(Port &p, const uint8_t *frame);

  void trace(unsigned level, const char *function, int line, const char *format, ...)
      __attribute__((format(printf, 5, 6)));

  proto::PortServices &services_;
  AggregatorEvents &events_;
  bool initialised_ = false;
  SystemConfig system_;
  uint32_t ticks_ = 0;
  std::array<Aggregator, kAggregatorCount> aggregators_{};
  std::array<Port, kPortCount> ports_{};
  unsigned sweep_next_ = kPortCount;  // index of the next port to step; kPortCount: no sweep in progress
};

}  // namespace lacp
