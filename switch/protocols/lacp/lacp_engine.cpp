#include "lacp_engine.h"

#include "lacp_support.h"
#include "le.h"
#include "trace.h"

#include <cstdarg>
#include <cstring>

namespace lacp {
namespace {

constexpr uint8_t kShortTimeoutTicks = 3;
constexpr uint8_t kLongTimeoutTicks = 90;
constexpr uint8_t kFastPeriodicTicks = 1;
constexpr uint8_t kSlowPeriodicTicks = 30;
constexpr uint8_t kChurnDetectionTicks = 60;
constexpr uint8_t kAggregateWaitTicks = 2;
constexpr uint8_t kTxPerTick = 3;
constexpr uint8_t kInitialActorState = kStateActivity | kStateTimeout | kStateAggregation;

#define LACP_ASSERT(cond) LACP_ASSERT_IN(trace::kLacp, cond)
#define TRACE LACP_TRACE

bool same_partner_identity(const PortInfo &a, const PortInfo &b) {
  return a.port == b.port && a.port_priority == b.port_priority && a.system == b.system &&
         a.system_priority == b.system_priority && a.key == b.key &&
         (a.state & kStateAggregation) == (b.state & kStateAggregation);
}

bool short_timeout(uint8_t state) {
  return state & kStateTimeout;
}

FlagText sm_vars_text(uint16_t vars) {
  static constexpr const char *kNames[10] = {"begin ",    "lacp_enabled ", "actor_churn ", "partner_churn ",
                                             "ready ",    "ready_n ",      "matched ",     "standby ",
                                             "selected ", "moved "};
  return flag_text(vars, kNames, 10);
}

}  // namespace

void encode_system_config(const SystemConfig &config, uint8_t *out) {
  std::memset(out, 0, kSystemConfigSize);
  le_store16(out, config.priority);
  std::memcpy(out + 4, config.mac.data(), 6);
}

SystemConfig decode_system_config(const uint8_t *in) {
  SystemConfig config;
  config.priority = le_load16(in);
  std::memcpy(config.mac.data(), in + 4, 6);
  return config;
}

void encode_port_config(const PortConfig &config, uint8_t *out) {
  le_store16(out, config.port_priority);
  le_store16(out + 2, config.admin_key);
  out[4] = config.enabled;
  out[5] = config.fast_timeout;
  out[6] = config.active;
  out[7] = 0;
}

PortConfig decode_port_config(const uint8_t *in) {
  return PortConfig{le_load16(in), le_load16(in + 2), in[4], in[5], in[6]};
}

Engine::Engine(proto::PortServices &services, AggregatorEvents &events)
    : services_(services), events_(events) {}

void Engine::trace(unsigned level, const char *function, int line, const char *format, ...) {
  char text[trace::kTextSize];
  va_list args;
  va_start(args, format);
  bool shown = format_trace_line(trace::kLacp, level, text, sizeof text, format, args);
  va_end(args);
  if (shown) services_.trace(trace::kLacp, level, function, line, text);
}

Port &Engine::port_ref(unsigned number) {
  LACP_ASSERT(number > 0 && number <= kPortCount);
  return ports_[number - 1];
}

void Engine::ensure_initialised() {
  if (initialised_) return;
  initialised_ = true;
  system_ = SystemConfig{};
  ticks_ = 0;
  for (unsigned i = 0; i < kAggregatorCount; ++i) aggregators_[i] = Aggregator{.id = i + 1};
  for (unsigned i = 0; i < kPortCount; ++i) {
    Port &p = ports_[i];
    p = Port{};
    p.number = static_cast<uint16_t>(i + 1);
    p.actor_state = kInitialActorState;
    p.sm_vars = kBegin;
    p.tx_budget = kTxPerTick;
  }
  sweep_next_ = kPortCount;
}

void Engine::init() {
  ensure_initialised();
  finish_sweep();
  if (is_zero(system_.mac)) system_.mac = services_.system_mac();
  for (Port &p : ports_) {
    p.mac = services_.port_mac(p.number);
    apply_link(p);
  }
}

void Engine::apply_link(Port &p) {
  p.enabled = services_.link_state(p.number) ? 1 : 0;
  p.full_duplex = services_.link_duplex(p.number) ? 1 : 0;
  p.actor_oper_key = services_.make_key(p.number, p.config.admin_key);
  restart(p);
}

void Engine::restart(Port &p) {
  p.sm_vars = static_cast<uint16_t>((p.sm_vars | kBegin) & ~kPartnerChurn);
  p.churn_state = kNoChurn;
  p.churn_timer = 0;
}

void Engine::finish_sweep() {
  while (sweep_next_ < kPortCount) step_port(ports_[sweep_next_++]);
}

void Engine::step_port(Port &p) {
  rx_machine(p, nullptr);
  periodic_machine(p);
  selection_logic(p);
  mux_machine(p);
  tx_machine(p);
  churn_machine(p);
  p.sm_vars &= static_cast<uint16_t>(~kBegin);
}

void Engine::tick() {
  ensure_initialised();
  ++ticks_;
  for (Port &p : ports_) p.tx_budget = kTxPerTick;
  finish_sweep();
  sweep_next_ = 0;
  step_port(ports_[sweep_next_++]);
}

void Engine::restart_port(unsigned port) {
  ensure_initialised();
  Port &p = port_ref(port);
  finish_sweep();
  restart(p);
}

void Engine::more_work() {
  if (sweep_next_ < kPortCount) step_port(ports_[sweep_next_++]);
}

// ---- configuration ----

void Engine::set_config(const uint8_t *system) {
  ensure_initialised();
  finish_sweep();
  SystemConfig wanted = decode_system_config(system);
  if (is_zero(wanted.mac)) wanted.mac = system_.mac;
  if (wanted == system_) return;
  system_ = wanted;
  for (Port &p : ports_) restart(p);
}

void Engine::get_config(uint8_t *system) {
  ensure_initialised();
  encode_system_config(system_, system);
}

void Engine::set_portconfig(unsigned port, const uint8_t *config) {
  ensure_initialised();
  Port &p = port_ref(port);
  finish_sweep();
  PortConfig wanted = decode_port_config(config);
  if (wanted == p.config) return;
  p.config = wanted;
  p.actor_oper_key = services_.make_key(port, wanted.admin_key);
  if (wanted.fast_timeout == 1)
    p.actor_state |= kStateTimeout;
  else
    p.actor_state &= static_cast<uint8_t>(~kStateTimeout);
  // Passive LACP must be configurable too: the activity bit follows the setting both ways.
  if (wanted.active)
    p.actor_state |= kStateActivity;
  else
    p.actor_state &= static_cast<uint8_t>(~kStateActivity);
  restart(p);
}

void Engine::get_portconfig(unsigned port, uint8_t *config) {
  ensure_initialised();
  encode_port_config(port_ref(port).config, config);
}

void Engine::linkstate_changed(unsigned port, int link) {
  Port &p = port_ref(port);
  uint8_t up = link ? 1 : 0;
  if (!initialised_ || up == p.enabled) return;
  TRACE(trace::kInfo, "Port %u changed state from %u to %s (duplex %s)\n", port, p.enabled,
        up ? "up" : "down", services_.link_duplex(port) ? "full" : "half");
  finish_sweep();
  apply_link(p);
}

// ---- receive ----

void Engine::receive(unsigned port, const uint8_t *frame, size_t length) {
  LACP_ASSERT(frame != nullptr);
  Port &p = port_ref(port);
  ensure_initialised();  // counters of an engine that starts later would be wiped
  if (length < kPduLength) {
    ++p.counters.illegal;
    TRACE(trace::kDebug, "Ignoring xxPDU frame from port %u with short length (%u)\n", port,
          static_cast<unsigned>(length));
    return;
  }
  finish_sweep();
  switch (frame[kOffSubtype]) {
    case kSubtypeLacp: {
      TRACE(trace::kDebug, "Received LACPDU on port %u\n", port);
      if (const char *defect = lacpdu_defect(frame)) {
        ++p.counters.illegal;
        TRACE(trace::kDebug, "Ignoring LACPDU frame from port %u with %s\n", port, defect);
        return;
      }
      ++p.counters.lacpdus_received;
      auto pdu = decode_lacpdu(frame, length);
      rx_machine(p, &*pdu);
      tx_machine(p);
      break;
    }
    case kSubtypeMarker:
      TRACE(trace::kDebug, "Received MARKERPDU on port %u\n", port);
      handle_markerframe(p, frame);
      break;
    default:
      ++p.counters.unknown_subtype;
      TRACE(trace::kDebug, "Ignoring xxPDU frame from port %u with unknown subtype (0x%x)\n", port,
            frame[kOffSubtype]);
      break;
  }
}

void Engine::handle_markerframe(Port &p, const uint8_t *frame) {
  uint8_t tlv = frame[kOffMarkerTlv];
  if (tlv == kMarkerResponse) {
    ++p.counters.marker_responses_received;
    return;
  }
  if (tlv != kMarkerInformation) {
    ++p.counters.illegal;
    TRACE(trace::kDebug, "Ignored bad marker resp from port %u tvl type 0x%x\n", p.number, tlv);
    return;
  }
  ++p.counters.markers_received;
  void *buffer = nullptr;
  uint8_t *out = services_.frame_alloc(p.number, kPduLength, &buffer);
  if (!out) return;
  make_marker_response(frame, p.mac, out);
  TRACE(trace::kDebug, "Sent MARKERPDU (resp 0x%x) on port %u\n", kMarkerResponse, p.number);
  ++p.counters.marker_responses_sent;
  services_.frame_send(p.number, out, kPduLength, buffer);
}

// ---- receive machine ----

void Engine::rx_machine(Port &p, const Lacpdu *pdu) {
  uint16_t last = p.rx_state;
  if (p.has(kBegin)) {
    p.rx_state = kRxInitialize;
  } else if (!p.enabled && !p.has(kMoved)) {
    p.rx_state = kRxPortDisabled;
  } else if (pdu && (p.rx_state == kRxExpired || p.rx_state == kRxDefaulted || p.rx_state == kRxCurrent)) {
    p.current_while = 0;
    p.rx_state = kRxCurrent;
  } else if (p.current_while) {
    if (--p.current_while == 0) {
      if (p.rx_state == kRxExpired)
        p.rx_state = kRxDefaulted;
      else if (p.rx_state == kRxCurrent)
        p.rx_state = kRxExpired;
    }
  } else if (p.rx_state == kRxPortDisabled) {
    if (p.has(kMoved))
      p.rx_state = kRxInitialize;
    else if (p.enabled && p.has(kLacpEnabled))
      p.rx_state = kRxExpired;
    else if (p.enabled)
      p.rx_state = kRxLacpDisabled;
  }
  if (p.rx_state == last && !pdu) return;
  TRACE(trace::kDebug, "Rx Machine: Port=%u, Last State=%u, Curr State=%u smvars 0x%x %s\n", p.number, last,
        p.rx_state, p.sm_vars, sm_vars_text(p.sm_vars).data());
  rx_enter(p, pdu);
}

void Engine::rx_enter(Port &p, const Lacpdu *pdu) {
  switch (p.rx_state) {
    case kRxInitialize:
      if (p.config.enabled && p.full_duplex) {
        p.sm_vars |= kLacpEnabled;
        p.churn_state = kChurnMonitoring;
        p.churn_timer = kChurnDetectionTicks;
      } else {
        p.sm_vars &= static_cast<uint16_t>(~kLacpEnabled);
      }
      p.sm_vars &= static_cast<uint16_t>(~kSelected);
      record_default(p);
      p.actor_state &= static_cast<uint8_t>(~kStateExpired);
      p.sm_vars &= static_cast<uint16_t>(~kMoved);
      p.rx_state = kRxPortDisabled;
      p.sm_vars &= static_cast<uint16_t>(~kMatched);
      break;
    case kRxPortDisabled:
      p.sm_vars &= static_cast<uint16_t>(~kMatched);
      break;
    case kRxLacpDisabled:
      p.sm_vars &= static_cast<uint16_t>(~kSelected);
      record_default(p);
      p.partner_oper.state &= static_cast<uint8_t>(~kStateAggregation);
      p.sm_vars |= kMatched;
      p.actor_state &= static_cast<uint8_t>(~kStateExpired);
      break;
    case kRxExpired:
      p.partner_oper.state &= static_cast<uint8_t>(~kStateSync);
      p.sm_vars &= static_cast<uint16_t>(~kMatched);
      p.partner_oper.state |= kStateTimeout;
      p.current_while = kShortTimeoutTicks;
      p.actor_state |= kStateExpired;
      break;
    case kRxDefaulted:
      update_default_selected(p);
      record_default(p);
      p.sm_vars |= kMatched;
      p.actor_state &= static_cast<uint8_t>(~kStateExpired);
      break;
    case kRxCurrent:
      if (!pdu) break;
      if (pdu->actor.system == system_.mac) {
        TRACE(trace::kWarn, "An illegal loopback occurred on port %u\n", p.number);
        break;
      }
      rx_update(p, *pdu);
      p.current_while = short_timeout(p.actor_state) ? kShortTimeoutTicks : kLongTimeoutTicks;
      p.actor_state &= static_cast<uint8_t>(~kStateExpired);
      break;
  }
}

void Engine::record_default(Port &p) {
  p.partner_oper = p.partner_admin;
  p.actor_state |= kStateDefaulted;
}

void Engine::update_default_selected(Port &p) {
  if (!same_partner_identity(p.partner_admin, p.partner_oper)) p.sm_vars &= static_cast<uint16_t>(~kSelected);
}

void Engine::rx_update(Port &p, const Lacpdu &pdu) {
  if (!same_partner_identity(pdu.actor, p.partner_oper)) {
    p.sm_vars &= static_cast<uint16_t>(~kSelected);
    p.partner_oper.port = pdu.actor.port;
    p.partner_oper.port_priority = pdu.actor.port_priority;
    p.partner_oper.system = pdu.actor.system;
    p.partner_oper.system_priority = pdu.actor.system_priority;
    p.partner_oper.key = pdu.actor.key;
  }

  constexpr uint8_t kCompared = kStateActivity | kStateTimeout | kStateAggregation | kStateSync;
  const PortInfo &seen = pdu.partner;
  bool partner_knows_us = seen.port == p.number && seen.port_priority == p.config.port_priority &&
                          seen.system == system_.mac && seen.system_priority == system_.priority &&
                          seen.key == p.actor_oper_key &&
                          (seen.state & kCompared) == (p.actor_state & kCompared);
  if (!partner_knows_us) p.ntt = true;

  p.partner_oper.state = pdu.actor.state;
  p.actor_state &= static_cast<uint8_t>(~kStateDefaulted);

  if (p.has(kMatched) && (pdu.actor.state & kStateSync)) {
    p.partner_oper.state |= kStateSync;
    p.churn_state = kNoChurn;
    p.churn_timer = 0;
  } else {
    p.partner_oper.state &= static_cast<uint8_t>(~kStateSync);
  }

  bool matches_us = seen.port == p.number && seen.port_priority == p.config.port_priority &&
                    seen.system == system_.mac && seen.system_priority == system_.priority &&
                    seen.key == p.actor_oper_key &&
                    (seen.state & kStateAggregation) == (p.actor_state & kStateAggregation);
  if (matches_us || !(pdu.actor.state & kStateAggregation))
    p.sm_vars |= kMatched;
  else
    p.sm_vars &= static_cast<uint16_t>(~kMatched);

  p.collector_max_delay = pdu.collector_max_delay;
  if (p.collector_max_delay)
    TRACE(trace::kNoise, "port %u: coll max delay = %u\n", p.number, p.collector_max_delay);
}

// ---- periodic machine ----

void Engine::periodic_machine(Port &p) {
  uint16_t last = p.periodic_state;
  bool both_passive = !(p.actor_state & kStateActivity) && !(p.partner_oper.state & kStateActivity);
  bool partner_short = short_timeout(p.partner_oper.state);
  if (p.has(kBegin) || !p.has(kLacpEnabled) || !p.enabled || both_passive) {
    p.periodic_state = kNoPeriodic;
  } else if (p.periodic_timer) {
    if (--p.periodic_timer == 0) {
      p.periodic_state = kPeriodicTx;
    } else if (p.periodic_state == kFastPeriodic && !partner_short) {
      p.periodic_state = kSlowPeriodic;
    } else if (p.periodic_state == kSlowPeriodic && partner_short) {
      p.periodic_timer = 0;
      p.periodic_state = kPeriodicTx;
    }
  } else if (p.periodic_state == kNoPeriodic) {
    p.periodic_state = kFastPeriodic;
  } else if (p.periodic_state == kFastPeriodic) {
    p.periodic_state = kPeriodicTx;
  } else if (p.periodic_state == kPeriodicTx) {
    p.periodic_state = partner_short ? kFastPeriodic : kSlowPeriodic;
  }
  if (p.periodic_state == last) return;
  TRACE(trace::kDebug, "Periodic Machine: Port=%u, Last State=%u, Curr State=%u\n", p.number, last,
        p.periodic_state);
  switch (p.periodic_state) {
    case kNoPeriodic:
      p.periodic_timer = 0;
      break;
    case kFastPeriodic:
      // The tick spent in PERIODIC_TX completes the period.
      p.periodic_timer = kFastPeriodicTicks - 1;
      break;
    case kSlowPeriodic:
      p.periodic_timer = kSlowPeriodicTicks - 1;
      break;
    case kPeriodicTx:
      p.ntt = true;
      break;
  }
}

// ---- selection logic ----

void Engine::leave_aggregator(Port &p) {
  Aggregator &a = aggregators_[p.selected_aggregator - 1];
  unsigned *link = &a.first_port;
  while (*link && *link != p.number) link = &ports_[*link - 1].next_in_aggregator;
  if (*link) {
    *link = p.next_in_aggregator;
    --a.port_count;
    TRACE(trace::kDebug, "Port %u left LAG %u\n", p.number, a.id);
  } else {
    TRACE(trace::kWarn, "Port %u was related to aggregator %u but was not on its port list\n", p.number,
          a.id);
  }
  p.next_in_aggregator = 0;
  p.selected_aggregator = 0;
  if (a.port_count == 0) {
    // The identifier is what makes the aggregator one of the six: it survives the clearing.
    a = Aggregator{.id = a.id};
    TRACE(trace::kDebug, "LAG %d was cleared\n", static_cast<int>(a.id));
  }
}

void Engine::selection_logic(Port &p) {
  if (p.has(kSelected)) return;
  if (p.selected_aggregator) leave_aggregator(p);

  Aggregator *free_aggregator = nullptr;
  for (Aggregator &a : aggregators_) {
    if (a.port_count == 0) {
      if (!free_aggregator) free_aggregator = &a;
      continue;
    }
    bool fits = a.actor_oper_key == p.actor_oper_key && a.partner_system == p.partner_oper.system &&
                a.partner_system_priority == p.partner_oper.system_priority &&
                a.partner_key == p.partner_oper.key && !a.individual && !is_zero(p.partner_oper.system);
    if (!fits) continue;
    p.next_in_aggregator = a.first_port;
    a.first_port = p.number;
    ++a.port_count;
    p.selected_aggregator = a.id;
    p.sm_vars |= kSelected;
    TRACE(trace::kDebug, "Port %u joined LAG %u (existing LAG)\n", p.number, a.id);
    update_ready(a.id);
    return;
  }
  if (!free_aggregator) {
    TRACE(trace::kWarn, "Port %u did not find a suitable aggregator\n", p.number);
    return;
  }
  Aggregator &a = *free_aggregator;
  a.individual = p.full_duplex ? 0 : 1;
  a.admin_key = p.config.admin_key;
  a.actor_oper_key = p.actor_oper_key;
  a.partner_system = p.partner_oper.system;
  a.partner_system_priority = p.partner_oper.system_priority;
  a.partner_key = p.partner_oper.key;
  a.first_port = p.number;
  p.next_in_aggregator = 0;
  a.port_count = 1;
  p.selected_aggregator = a.id;
  p.sm_vars |= kSelected;
  TRACE(trace::kDebug, "Port %u joined LAG %u (new LAG)\n", p.number, a.id);
  update_ready(a.id);
}

void Engine::update_ready(unsigned aggregator) {
  if (!aggregator) return;
  const Aggregator &a = aggregators_[aggregator - 1];
  bool all_ready = true;
  for (unsigned n = a.first_port; n; n = ports_[n - 1].next_in_aggregator)
    all_ready = all_ready && ports_[n - 1].has(kReadyN);
  for (unsigned n = a.first_port; n; n = ports_[n - 1].next_in_aggregator) {
    Port &member = ports_[n - 1];
    if (all_ready)
      member.sm_vars |= kReady;
    else
      member.sm_vars &= static_cast<uint16_t>(~kReady);
  }
}

// ---- mux machine ----

void Engine::mux_machine(Port &p) {
  uint16_t last = p.mux_state;
  bool selected = p.has(kSelected);
  bool partner_sync = p.partner_oper.state & kStateSync;
  auto unselect = [&] {
    p.sm_vars &= static_cast<uint16_t>(~(kReadyN | kReady));
    update_ready(p.selected_aggregator);
    p.mux_state = kMuxDetached;
  };
  if (p.has(kBegin)) {
    p.mux_state = kMuxDetached;
  } else if (p.mux_state == kMuxDetached) {
    if (selected) p.mux_state = kMuxWaiting;
  } else if (p.mux_state == kMuxWaiting) {
    if (selected) {
      if (p.wait_while && --p.wait_while == 0) p.sm_vars |= kReadyN;
      update_ready(p.selected_aggregator);
      if (p.has(kReady) && p.wait_while == 0) p.mux_state = kMuxAttached;
    } else {
      unselect();
    }
  } else if (p.mux_state == kMuxAttached) {
    if (!selected)
      unselect();
    else if (partner_sync)
      p.mux_state = kMuxCollectingDistributing;
  } else if (p.mux_state == kMuxCollectingDistributing) {
    if (!selected || !partner_sync) p.mux_state = kMuxAttached;
  }
  if (p.mux_state == last) return;
  TRACE(trace::kDebug, "Mux Machine: Port=%u, Last State=%u, Curr State=%u\n", p.number, last, p.mux_state);
  mux_enter(p);
}

void Engine::mux_enter(Port &p) {
  constexpr uint8_t kCollDist = kStateCollecting | kStateDistributing;
  switch (p.mux_state) {
    case kMuxDetached:
      p.actor_state &= static_cast<uint8_t>(~kStateSync);
      disable_collecting_distributing(p);
      p.actor_state &= static_cast<uint8_t>(~kCollDist);
      p.ntt = true;
      break;
    case kMuxWaiting:
      p.wait_while = kAggregateWaitTicks;
      break;
    case kMuxAttached:
      p.actor_state |= kStateSync;
      p.actor_state &= static_cast<uint8_t>(~kCollDist);
      disable_collecting_distributing(p);
      p.ntt = true;
      break;
    case kMuxCollectingDistributing:
      p.actor_state |= kCollDist;
      enable_collecting_distributing(p);
      p.ntt = true;
      break;
  }
}

void Engine::disable_collecting_distributing(Port &p) {
  if (!p.hw_aggregator) return;
  TRACE(trace::kDebug, "Disable hwaggr %u port %u\n", p.hw_aggregator, p.number);
  aggregators_[p.hw_aggregator - 1].change_tick = ticks_;
  unsigned id = p.hw_aggregator;
  p.hw_aggregator = 0;
  events_.clear_hwaggr(id, p.number);
}

void Engine::enable_collecting_distributing(Port &p) {
  LACP_ASSERT(p.hw_aggregator == 0);
  LACP_ASSERT(p.selected_aggregator != 0);
  p.hw_aggregator = p.selected_aggregator;
  aggregators_[p.hw_aggregator - 1].change_tick = ticks_;
  events_.set_hwaggr(p.hw_aggregator, p.number);
}

// ---- transmit ----

void Engine::tx_machine(Port &p) {
  if (!p.ntt || !p.has(kLacpEnabled)) return;
  if (p.tx_budget == 0) {
    TRACE(trace::kDebug, "tx_stev: Port=%u dropped xmit for timelimit\n", p.number);
    return;
  }
  if (lacpdu_send(p)) {
    p.ntt = false;
    --p.tx_budget;
  }
}

bool Engine::lacpdu_send(Port &p) {
  void *buffer = nullptr;
  uint8_t *frame = services_.frame_alloc(p.number, kPduLength, &buffer);
  if (!frame) return false;
  PortInfo actor{system_.priority,       system_.mac, p.actor_oper_key,
                 p.config.port_priority, p.number,    p.actor_state};
  encode_lacpdu(p.mac, actor, p.partner_oper, frame);
  TRACE(trace::kDebug, "Sent LACPDU on port %d\n", p.number);
  TRACE(trace::kDebug, "actor system %s key 0x%x port state = 0x%x %s\n", mac_text(system_.mac).data(),
        frame[kOffActorTlv + 10] << 8 | frame[kOffActorTlv + 11], p.actor_state,
        state_text(p.actor_state).data());
  TRACE(trace::kDebug, "partner system %s key 0x%x port state = 0x%x %s\n",
        mac_text(p.partner_oper.system).data(), frame[kOffPartnerTlv + 10] << 8 | frame[kOffPartnerTlv + 11],
        p.partner_oper.state, state_text(p.partner_oper.state).data());
  ++p.counters.lacpdus_sent;
  return services_.frame_send(p.number, frame, kPduLength, buffer);
}

// ---- partner churn ----

void Engine::churn_machine(Port &p) {
  if (!p.churn_timer || --p.churn_timer) return;
  if (p.churn_state == kChurnMonitoring && !is_zero(p.partner_oper.system)) {
    TRACE(trace::kWarn, "Port %u to partner %s (port %u) is churning\n", p.number,
          mac_text(p.partner_oper.system).data(), p.partner_oper.port);
    p.sm_vars |= kPartnerChurn;
  }
  p.churn_state = kNoChurn;
}

// ---- status ----

bool Engine::get_aggr_status(unsigned aggregator, uint8_t *status) {
  ensure_initialised();
  LACP_ASSERT(aggregator > 0 && aggregator <= kAggregatorCount);
  finish_sweep();
  const Aggregator &a = aggregators_[aggregator - 1];
  LACP_ASSERT(aggregator == a.id);
  if (status) {
    std::memset(status, 0, kAggrStatusSize);
    le_store16(status, static_cast<uint16_t>(a.id));
    std::memcpy(status + 4, a.partner_system.data(), 6);
    le_store16(status + 12, a.partner_system_priority);
    le_store16(status + 14, a.partner_key);
    le_store32(status + 16, ticks_ - a.change_tick);
    for (unsigned n = a.first_port; n; n = ports_[n - 1].next_in_aggregator) status[20 + n - 1] = 1;
  }
  return a.port_count >= 2;
}

void Engine::get_port_status(unsigned port, uint8_t *status) {
  LACP_ASSERT(status != nullptr);
  ensure_initialised();
  const Port &p = port_ref(port);
  finish_sweep();
  std::memset(status, 0, kPortStatusSize);
  le_store16(status, p.number);
  status[2] = p.has(kLacpEnabled) ? 1 : 0;
  status[3] = static_cast<uint8_t>(services_.fwdstate(port));
  le_store16(status + 4, p.actor_oper_key);
  le_store16(status + 6, p.config.admin_key);
  le_store16(status + 8, static_cast<uint16_t>(p.selected_aggregator));
  le_store16(status + 10, p.partner_oper.port_priority);
  le_store16(status + 12, p.partner_oper.port);
  const uint32_t counters[8] = {p.counters.lacpdus_sent,
                                p.counters.lacpdus_received,
                                p.counters.reserved,
                                p.counters.markers_received,
                                p.counters.marker_responses_sent,
                                p.counters.marker_responses_received,
                                p.counters.unknown_subtype,
                                p.counters.illegal};
  for (unsigned i = 0; i < 8; ++i) le_store32(status + 16 + 4 * i, counters[i]);
}

}  // namespace lacp
