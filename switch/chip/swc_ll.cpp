#include "swc_ll.h"

#include <algorithm>
#include <cstdlib>

#include "ar.h"
#include "chip_regs.h"
#include "swc_context.h"
#include "swc_clock.h"
#include "swc_io.h"
#include "swc_reg.h"
#include "swc_trace.h"

using namespace chipreg;

namespace {

bool forwarding(uint32_t stp) {
  return stp == SWC_STP_STATE_FORWARDING || stp == SWC_STP_STATE_ENABLED;
}
bool learning(uint32_t stp) {
  return stp == SWC_STP_STATE_LEARNING || forwarding(stp);
}

// Copies the first `copy` bytes of the head frame of a CPU queue (data word k at queue word k + 2, most
// significant byte first). The reads go as scripts of many words, so that over the simulator's socket a
// frame costs a few exchanges instead of one per word; the accesses are the same as word by word, and the
// first failed read ends the copy with its code. With `pointer`, the queue's control register is read
// after the last word, in the same script, into *pointer.
swc_rc read_frame_words(uint32_t queue, uint8_t *buffer, size_t copy, uint32_t *pointer) {
  constexpr size_t kWordsPerScript = 128;
  SwcIoOp ops[kWordsPerScript + 1];
  const size_t words = (copy + 3) / 4;
  size_t first = 0;
  do {
    const size_t n = std::min(words - first, kWordsPerScript);
    const bool last = first + n == words;
    size_t count = 0;
    for (size_t i = 0; i < n; ++i) {
      const Reg word = cpu_queue_word(queue, static_cast<uint32_t>(first + i + 2));
      ops[count++] = SwcIoOp{SwcIoOp::Kind::kRead, false, word.block, word.subblock, word.reg};
    }
    if (last && pointer) {
      const Reg control = cpu_queue_control(queue);
      ops[count++] = SwcIoOp{SwcIoOp::Kind::kRead, false, control.block, control.subblock, control.reg};
    }
    SWC_TRY(swc_reg_run_group(ops, count));
    for (size_t i = 0; i < n; ++i) {
      for (size_t b = 0; b < 4 && 4 * (first + i) + b < copy; ++b)
        buffer[4 * (first + i) + b] = static_cast<uint8_t>(ops[i].result >> (24 - 8 * b));
    }
    if (last && pointer) *pointer = ops[n].result;
    first += n;
  } while (first < words);
  return kSwcRcOk;
}

uint32_t all_ports_mask() {
  uint32_t flags[kSwcPortSlots] = {0, 1, 1, 1, 1, 1, 1};
  return swc_chip_port_bitfield(flags);
}

// Members plus the mirror monitor port when one of them is egress-mirrored.
void add_egress_monitor(const uint32_t *members, uint32_t *out) {
  const SwcApiState &s = *swc_state();
  bool mirrored = false;
  for (uint32_t p = 0; p < kSwcPortSlots; ++p) {
    out[p] = p == 0 ? 0 : members[p];
    if (p != 0 && members[p] && s.mirror_egress[p]) mirrored = true;
  }
  if (mirrored && s.mirror_monitor_port >= 1 && s.mirror_monitor_port <= kSwcPorts)
    out[s.mirror_monitor_port] = 1;
}

swc_rc check_queue(const char *function, uint32_t queue) {
  if (queue == 1 || queue == 2) return kSwcRcOk;
  SWC_TRACE_AS(trace::kApiLl, trace::kError, function, "illegal queue_no: %d", static_cast<int>(queue));
  return kSwcRcIllegal;
}

swc_rc mac_address_write(uint32_t vid, const uint8_t *mac) {
  SWC_TRY(swc_reg_wr(kAnaMacHigh, (vid & 0xFFF) << 16 | uint32_t{mac[0]} << 8 | mac[1]));
  return swc_reg_wr(kAnaMacLow,
                    uint32_t{mac[2]} << 24 | uint32_t{mac[3]} << 16 | uint32_t{mac[4]} << 8 | mac[5]);
}

swc_rc mac_command(uint32_t command) {
  SWC_TRY(swc_reg_wr(kAnaMacCommand, command));
  return ar_mac_table_idle();
}

// 11-bit hash bucket of (VID, MAC): the five 11-bit pieces of the 54-bit key folded together.
uint32_t mac_hash(uint32_t vid, const uint8_t *mac) {
  uint64_t key = uint64_t{vid & 0x3F} << 48;
  for (int i = 0; i < 6; ++i) key |= uint64_t{mac[i]} << (40 - 8 * i);
  uint32_t hash = 0;
  for (int piece = 0; piece < 5; ++piece) hash ^= static_cast<uint32_t>(key >> (11 * piece)) & 0x7FF;
  return hash;
}

swc_rc wait_arbiter_empty(uint32_t mask) {
  const uint32_t polls = swc_arbiter_polls();
  for (uint32_t poll = 0; poll < polls; ++poll) {
    uint32_t empty;
    SWC_TRY(swc_reg_rd(kArbEmpty, &empty));
    if ((empty & mask) == mask) return kSwcRcOk;
  }
  return kSwcRcArbiter;
}

}  // namespace

uint32_t swc_arbiter_polls() {
  static const uint32_t kPolls = [] {
    const char *text = std::getenv("PORTVISOR_ARBITER_POLLS");
    const unsigned long value = text ? std::strtoul(text, nullptr, 10) : 0;
    return value > 0 && value < kSwcArbiterPolls ? static_cast<uint32_t>(value) : kSwcArbiterPolls;
  }();
  return kPolls;
}

uint32_t swc_chip_port_bitfield(const uint32_t *flags) {
  const SwcApiState &s = *swc_state();
  uint32_t mask = 0;
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (!flags[p]) continue;
    if (s.unmapped[p]) {
      SWC_LL_TRACE(trace::kError, "Unmapped port enabled: %d", static_cast<int>(p));
      continue;
    }
    mask |= 1u << (static_cast<uint32_t>(s.port_to_chip_port[p]) & 0x1F);
  }
  return mask;
}

swc_rc swc_ll_chipid_get(SwcChipId *id) {
  uint32_t v;
  SWC_TRY(swc_reg_rd(kSysChipId, &v));
  SwcChipId decoded{};
  if (v >= 1 && v <= 7) {
    decoded.part = 0x7301;
    decoded.revision = v;
  } else if (((v >> 1) & 0x7FF) != 0x74) {
    SWC_LL_TRACE(trace::kError, "CPU interface error. Chipid: 0x%08lx", static_cast<unsigned long>(v));
    return v == 0 || v == 0xFFFFFFFFu ? kSwcRcBadChip : kSwcRcNotNow;
  } else {
    decoded.part = static_cast<uint16_t>(v >> 12);
    decoded.revision = (v >> 28) + 1;
  }
  if (id) *id = decoded;
  return kSwcRcOk;
}

swc_rc swc_ll_init(const SwcInitSetup *setup) {
  SWC_LL_TRACE(trace::kDebug, "enter");
  swc_io_init();
  if (!setup || setup->reset != 1) {
    SWC_LL_TRACE(trace::kError, "start-up without chip reset is not supported");
    return kSwcRcUnsupported;
  }
  SwcClock &clock = swc_clock_get();
  SWC_TRY(ar_setup_cpu_if(setup));
  SWC_TRY(swc_reg_wr(kSysSoftReset, 1));
  clock.busy_wait_us(125);
  SWC_TRY(ar_setup_cpu_if(setup));
  SWC_TRY(swc_reg_wr(kSysSoftReset, 2));
  clock.busy_wait_us(125);

  SwcChipId id;
  SWC_TRY(swc_ll_chipid_get(&id));
  SWC_LL_TRACE(trace::kDebug, "found NVC%04x_%d", static_cast<unsigned>(id.part),
               static_cast<int>(id.revision));
  SwcApiState &s = *swc_state();
  s.g5e = id.part == 0x7395 ? 1 : 0;

  SWC_TRY(ar_reset_memories());
  uint32_t c;
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    SWC_TRY(swc_chip_port_of(__func__, p, &c));
    SWC_TRY(swc_port_bit(c, kPortEgressTag, 1, true));
  }
  SWC_TRY(ar_vlan_table_clear());
  SWC_TRY(swc_reg_bit(kSysSoftReset, 1, true));
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    SWC_TRY(swc_chip_port_of(__func__, p, &c));
    SWC_TRY(swc_port_wrm(c, kPortAcceptance, 0, 0x41));
    SWC_TRY(swc_port_bit(c, kPortAcceptance, 6, true));
    SWC_TRY(swc_port_wr(c, kPortStartup, kPortStartupValue));
  }
  SWC_TRY(swc_reg_wrm(kSysCpuQueueStatus, (s.g5e ? 10u : 8u) << 7, 0x1F << 7));
  SWC_TRY(swc_reg_wr(kCpuQueueStartup, 0));
  const uint32_t all = all_ports_mask();
  SWC_TRY(swc_reg_wr(kAnaIpmcFlood, all));
  SWC_TRY(swc_reg_wr(kAnaFlood, all));
  return swc_reg_wrm(kAnaControl, 0x20000000, 0x20000000);
}

swc_rc swc_ll_port_queue_enable(uint32_t port_no, uint32_t enable) {
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  const uint32_t stp = swc_state()->stp_state[port_no];
  SWC_LL_TRACE(trace::kDebug, "port_on_chip: %d, enable: %d", static_cast<int>(c), static_cast<int>(enable));
  SWC_TRY(swc_reg_bit(kArbDiscard, c, !enable));
  SWC_TRY(swc_port_bit(c, kPortConfig, 16, enable));
  SWC_LL_TRACE(trace::kDebug, "port_on_chip: %d, enable: %d, ingress_forwarding: %d", static_cast<int>(c),
               static_cast<int>(enable), forwarding(stp) ? 1 : 0);
  SWC_TRY(swc_reg_bit(kAnaLearn, c, learning(stp)));
  return swc_port_bit(c, kPortConfig, kPortQueueEnableBit, enable);
}

swc_rc swc_ll_port_speed_mode_tbi_gmii(uint32_t port_no, const SwcPortSetup *setup) {
  SWC_LL_TRACE(trace::kDebug, "port_no: %d", static_cast<int>(port_no));
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  SWC_TRY(swc_ll_port_queue_enable(port_no, 0));
  const swc_rc own = wait_arbiter_empty(1u << c);
  if (own == kSwcRcOk) {
    SWC_TRY(ar_port_setup(port_no, setup));
    return swc_ll_port_queue_enable(port_no, 1);
  }
  if (own != kSwcRcArbiter) return own;
  SWC_LL_TRACE(trace::kDebug, "Timeout: Arbiter does not empty port %d. Reset and setup all ports.",
               static_cast<int>(port_no));
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (p != port_no) SWC_TRY(swc_ll_port_queue_enable(p, 0));
  }
  const swc_rc all = wait_arbiter_empty(all_ports_mask());
  if (all == kSwcRcArbiter) {
    SWC_LL_TRACE(trace::kError, "Timeout: Arbiter does not empty all ports.");
    return kSwcRcArbiter;
  }
  SWC_TRY(all);
  const SwcApiState &s = *swc_state();
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (p == port_no) continue;
    SWC_TRY(ar_port_setup(p, &s.port_setup[p]));
    SWC_TRY(swc_ll_port_queue_enable(p, 1));
  }
  SWC_TRY(ar_port_setup(port_no, setup));
  return swc_ll_port_queue_enable(port_no, 1);
}

uint32_t swc_ll_prio_to_queue(uint32_t prio) {
  switch (swc_state()->qos_priorities) {
    case 4:
      // Priorities outside 1..4 take the nearest one rather than a queue the chip does not have.
      return prio < 1 ? 0 : prio > 4 ? 3 : prio - 1;
    case 2:
      return prio == 1 ? 1 : 3;
    case 1:
      return 3;
    default:
      return 0;
  }
}

swc_rc swc_ll_port_qos_setup_set(uint32_t port_no, const SwcPortQos *qos) {
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  SWC_TRY(swc_port_bit(c, kPortDscpEnable, 21, qos->dscp_enable));
  SWC_TRY(swc_port_bit(c, kPortQosEnable, 28, qos->second_enable));
  uint32_t histogram[4] = {};
  for (uint32_t prio : qos->dscp_prio) ++histogram[swc_ll_prio_to_queue(prio)];
  SWC_LL_TRACE(trace::kDebug, "Port %u: phist = %u %u %u %u\n", static_cast<unsigned>(port_no),
               static_cast<unsigned>(histogram[0]), static_cast<unsigned>(histogram[1]),
               static_cast<unsigned>(histogram[2]), static_cast<unsigned>(histogram[3]));
  uint32_t default_queue = 0;
  for (uint32_t q = 1; q < 4; ++q) {
    if (histogram[q] > histogram[default_queue]) default_queue = q;
  }
  SWC_LL_TRACE(trace::kDebug, "Port %u: Default DSCP prio = %u\n", static_cast<unsigned>(port_no),
               static_cast<unsigned>(default_queue));
  uint32_t fields = 0;
  for (uint32_t n = 0; n < 8; ++n) fields |= default_queue << (4 * n);
  uint32_t slots_low = 0, slots_high = 0;
  uint32_t slot = 0;
  for (uint32_t dscp = 0; dscp < kSwcQosDscp && slot < 7; ++dscp) {
    const uint32_t queue = swc_ll_prio_to_queue(qos->dscp_prio[dscp]);
    if (queue == default_queue) continue;
    SWC_LL_TRACE(trace::kDebug, "Port %u: DSCP %u prio = %u\n", static_cast<unsigned>(port_no),
                 static_cast<unsigned>(dscp), static_cast<unsigned>(queue));
    fields = (fields & ~(0xFu << (4 * slot))) | queue << (4 * slot);
    if (slot < 4) {
      slots_low |= dscp << (8 * slot);
    } else {
      slots_high |= dscp << (8 * (slot - 4));
    }
    ++slot;
  }
  SWC_TRY(swc_port_wr(c, kPortDscpQueues, fields));
  SWC_TRY(swc_port_wr(c, kPortDscpSlotsLow, slots_low));
  SWC_TRY(swc_port_wr(c, kPortDscpSlotsHigh, slots_high));
  for (uint32_t i = 0; i < kSwcQosTags; ++i) {
    SWC_TRY(
        swc_port_wrm(c, kPortTagQueues, swc_ll_prio_to_queue(qos->tag_prio[i]) << (4 * i), 3u << (4 * i)));
  }
  SWC_TRY(swc_port_wrm(c, kPortVid, (qos->field & 3) << 12, 3u << 12));
  return swc_port_wrm(c, kPortQosEnable, swc_ll_prio_to_queue(qos->default_prio) << 16, 3u << 16);
}

swc_rc swc_ll_port_flowcontrol_set(uint32_t port_no) {
  if (port_no < 1 || port_no > kSwcPorts) {
    SWC_LL_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(port_no));
    return kSwcRcIllegal;
  }
  return ar_setup_flowcontrol(port_no, &swc_state()->port_setup[port_no]);
}

namespace {
// Rate in the chip's units: r x 1000 / 981, at least 1 and at most 255.
uint32_t scaled_rate(int32_t rate) {
  const uint64_t scaled = uint64_t{static_cast<uint32_t>(rate)} * 1000 / 981;
  return scaled == 0 ? 1 : scaled > 254 ? 255 : static_cast<uint32_t>(scaled);
}
}  // namespace

swc_rc swc_ll_qos_setup_set(const SwcQosSetup *qos) {
  const SwcApiState &s = *swc_state();
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (!s.unmapped[p]) SWC_TRY(ar_setup_flowcontrol(p, &s.port_setup[p]));
  }
  const int32_t rate0 = qos->word[0];
  const int32_t rate1 = qos->word[1];
  return swc_reg_wr(kAnaRates, (rate1 != -1 ? 1u << 31 : 0) | scaled_rate(rate1) << 16 |
                                   scaled_rate(rate0) << 8 | (rate0 != -1 ? 1u << 30 : 0));
}

swc_rc swc_ll_port_counters_read(uint32_t port_no, SwcRawCounters *counters) {
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  static constexpr uint32_t kWordOf[8] = {0, 1, 3, 2, 6, 8, 7, 11};
  // The eight reads as one script (one exchange over the simulator's socket); the first failed read ends
  // it with its code, the counters it left unread keep their values.
  SwcIoOp ops[8];
  for (uint32_t i = 0; i < 8; ++i) {
    const Reg r = swc_port_reg(c, kPortCounters + i);
    ops[i] = SwcIoOp{SwcIoOp::Kind::kRead, false, r.block, r.subblock, r.reg};
  }
  const swc_rc rc = swc_reg_run_group(ops, 8);
  for (uint32_t i = 0; i < 8 && ops[i].ran; ++i) counters->word[kWordOf[i]] = ops[i].result;
  return rc;
}

swc_rc swc_ll_aggr_mode_set(const uint32_t *m) {
  uint32_t selector;
  if (!m[2] && !m[3]) {
    selector = (m[0] ? 1u : 0) | (m[1] ? 2u : 0);
    if (selector == 0) selector = 5;
  } else {
    selector = !m[0] && !m[1] ? 5 : 0;
  }
  if (m[4]) selector = 4;
  SWC_TRY(swc_reg_wrm(kAnaAggrMode, selector, 7));
  uint32_t c;
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    SWC_TRY(swc_chip_port_of(__func__, p, &c));
    SWC_TRY(swc_port_wrm(c, kPortAggrHash, (m[2] ? 2u : 0) | (m[3] ? 1u : 0), 3));
  }
  return kSwcRcOk;
}

swc_rc swc_ll_cpu_rx_registration_set(const SwcCpuRxRegistration *reg) {
  uint32_t bits = 0;
  for (uint32_t f = 1; f <= 16; ++f) bits |= (reg->flag[f] ? 1u : 0) << (f - 1);
  bits |= (reg->flag[0] ? 1u : 0) << 16;
  bits |= (reg->flag[18] ? 1u : 0) << 18;
  bits |= (reg->flag[17] ? 1u : 0) << 19;
  return swc_reg_wrm(kAnaCapture, bits, ~(3u << 20));
}

swc_rc swc_ll_cpu_rx_frameready(uint32_t queue) {
  SWC_TRY(check_queue(__func__, queue));
  uint32_t status;
  SWC_TRY(swc_reg_rd(kSysCpuQueueStatus, &status));
  return (status >> (29 + queue)) & 1;
}

swc_rc swc_ll_cpu_rx_frame(uint32_t queue, SwcCpuRxHeader *header, uint8_t *buffer, size_t length) {
  SWC_TRY(check_queue(__func__, queue));
  SWC_TRY(ar_cpurx_systemheader(queue, header));
  if (!buffer) return kSwcRcRxBuffer;
  const bool whole = header->length <= length;
  // The queue's read pointer of the G5 is read only after a whole frame, behind its words.
  const bool check_pointer = whole && !swc_state()->g5e;
  uint32_t pointer = 0;
  SWC_TRY(
      read_frame_words(queue, buffer, whole ? header->length : length, check_pointer ? &pointer : nullptr));
  if (!whole) return kSwcRcRxBuffer;
  if (check_pointer) {
    if ((pointer & 0x3FF) + ((header->length + 19) >> 3) > 1023) {
      SWC_TRY(swc_reg_wr(cpu_queue_word(queue, 0), (header->length + 0x2004) << 16));
    }
  }
  return swc_ll_cpu_rx_discard_frame(queue);
}

swc_rc swc_ll_cpu_rx_discard_frame(uint32_t queue) {
  SWC_TRY(check_queue(__func__, queue));
  return ar_cpurx_discard_frame(queue);
}

swc_rc swc_ll_cpu_tx_frame(uint32_t port_no, const uint8_t *frame, size_t length, uint32_t vid) {
  return ar_cpu_tx_frame(port_no, frame, length, vid);
}

swc_rc swc_ll_vlan_port_mode_set(uint32_t port_no, const SwcVlanPortMode *mode) {
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  const bool aware = mode->aware != 0;
  SWC_TRY(swc_port_bit(c, kPortConfig, 14, aware));
  SWC_TRY(swc_port_bit(c, kPortConfig, 15, false));
  SWC_TRY(swc_port_wrm(c, kPortVid, mode->port_vid & 0xFFF, 0xFFF));
  SWC_TRY(swc_port_bit(c, kPortVlanIngress, 8, !aware));
  SWC_TRY(swc_port_bit(c, kPortVlanIngress, 7, !aware));
  SWC_TRY(swc_port_bit(c, kPortAcceptance, 2, mode->frame_type == 1));
  SWC_TRY(swc_port_bit(c, kPortAcceptance, 1, mode->frame_type == 2));
  SWC_TRY(swc_reg_bit(kAnaIngressFilter, c, mode->ingress_filter != 0));
  const uint32_t untagged = mode->untagged_vid;
  const bool tag = aware && untagged != 0x1000;
  const bool untag_one = tag && untagged != 0;
  // Bits 4-15 carry the VID only; "untag all" (0x1000) is expressed by bits 0 and 3.
  return swc_port_wrm(c, kPortEgressTag, (untagged & 0xFFF) << 4 | (tag ? 1u : 0) | (untag_one ? 8u : 0),
                      0xFFF9);
}

swc_rc swc_ll_vlan_port_members_set(uint32_t vid, const uint32_t *members) {
  uint32_t flags[kSwcPortSlots];
  add_egress_monitor(members, flags);
  ArVlanEntry entry;
  SWC_TRY(ar_vlan_entry_read(vid, &entry));
  entry.mask = swc_chip_port_bitfield(flags);
  return ar_vlan_entry_write(vid, &entry);
}

swc_rc swc_ll_mac_table_learn(const SwcMacEntry *entry, uint32_t pgid) {
  const uint8_t *mac = entry->vid_mac.mac;
  const uint32_t vid = entry->vid_mac.vid & 0xFFF;
  const uint32_t cpu = entry->copy_to_cpu ? kMacFlagCpu : 0;
  if (pgid == 0) {
    // IPv4 multicast: the destination ports travel in place of MAC bytes 0-2.
    const uint32_t m = swc_chip_port_bitfield(swc_state()->pgid[0].member);
    SWC_TRY(swc_reg_wr(kAnaMacHigh, vid << 16 | ((m >> 8) & 0xFFFF)));
    SWC_TRY(
        swc_reg_wr(kAnaMacLow, (m & 0xFF) << 24 | uint32_t{mac[3]} << 16 | uint32_t{mac[4]} << 8 | mac[5]));
    return mac_command(kMacCmdLearn | kMacFlagValid | kMacFlagIpmc | kMacFlagLocked | cpu);
  }
  uint32_t group = pgid;
  if (pgid < 7) SWC_TRY(swc_chip_port_of(__func__, pgid, &group));
  SWC_TRY(mac_address_write(vid, mac));
  return mac_command(kMacCmdLearn | (group & 0x3F) << kMacPgidShift | kMacFlagValid |
                     (entry->locked ? kMacFlagLocked : 0) | cpu);
}

swc_rc swc_ll_mac_table_forget_vid_mac(const SwcVidMac *vid_mac) {
  SWC_TRY(mac_address_write(vid_mac->vid, vid_mac->mac));
  return mac_command(kMacCmdUnlearn);
}

swc_rc swc_ll_mac_table_lookup(SwcMacEntry *entry, uint32_t *pgid) {
  const uint32_t bucket = mac_hash(entry->vid_mac.vid, entry->vid_mac.mac);
  for (uint32_t slot = 0; slot < 4; ++slot) {
    SwcMacEntry found{};
    uint32_t found_pgid = 0;
    const swc_rc rc = ar_mac_table_read_index(bucket * 4 + slot, &found, &found_pgid, 1);
    if (rc == kSwcRcNotFound) continue;
    SWC_TRY(rc);
    const bool same = found.vid_mac.vid == (entry->vid_mac.vid & 0xFFF) &&
                      std::equal(found.vid_mac.mac, found.vid_mac.mac + 6, entry->vid_mac.mac);
    if (same) {
      *entry = found;
      *pgid = found_pgid;
      return kSwcRcOk;
    }
  }
  return kSwcRcNotFound;
}

swc_rc swc_ll_mac_table_read(uint32_t index, SwcMacEntry *entry, uint32_t *pgid) {
  if (index < 1 || index > kSwcMacTableSize) {
    SWC_LL_TRACE(trace::kError, "illegal index: %d", static_cast<int>(index));
    return kSwcRcIllegal;
  }
  return ar_mac_table_read_index(index - 1, entry, pgid, 0);
}

swc_rc swc_ll_mac_table_read_range(uint32_t first, uint32_t count, SwcMacEntry *entries, uint32_t *pgids,
                                   swc_rc *results) {
  if (first < 1 || count > kSwcMacTableSize || first > kSwcMacTableSize - count + 1) {
    SWC_LL_TRACE(trace::kError, "illegal index: %d, count: %d", static_cast<int>(first),
                 static_cast<int>(count));
    return kSwcRcIllegal;
  }
  return ar_mac_table_read_indexes(first - 1, count, entries, pgids, results);
}

swc_rc swc_ll_mac_table_age(uint32_t port_given, uint32_t port_no, uint32_t vid_given, uint32_t vid) {
  uint32_t args = 0;
  if (port_given) {
    uint32_t c;
    SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
    args |= 0x80000000u | c << 16;
  }
  if (vid_given) args |= 0x8000u | (vid & 0xFFF);
  SWC_TRY(swc_reg_wr(kAnaAgeArguments, args));
  return mac_command(kMacCmdAge);
}

swc_rc swc_ll_mac_table_forget(uint32_t port_given, uint32_t port_no, uint32_t vid_given, uint32_t vid) {
  SWC_TRY(swc_ll_mac_table_age(port_given, port_no, vid_given, vid));
  return swc_ll_mac_table_age(port_given, port_no, vid_given, vid);
}

swc_rc swc_ll_mac_table_status_get(uint32_t *status) {
  uint32_t events;
  SWC_TRY(swc_reg_rd(kAnaMacEvents, &events));
  SWC_TRY(swc_reg_wr(kAnaMacEvents, events & kMacEventBits));
  status[0] = events & kEventLearned ? 1 : 0;
  status[1] = events & kEventChanged ? 1 : 0;
  status[2] = events & kEventLearnFailed ? 1 : 0;
  status[3] = events & kEventAgedOut ? 1 : 0;
  return kSwcRcOk;
}

swc_rc swc_ll_pgid_table_write(uint32_t pgid, const uint32_t *members) {
  if (pgid >= kSwcPgids) {
    SWC_LL_TRACE(trace::kError, "illegal pgid_no: %d", static_cast<int>(pgid));
    return kSwcRcIllegal;
  }
  uint32_t flags[kSwcPortSlots];
  add_egress_monitor(members, flags);
  uint32_t index = pgid;
  if (pgid >= 1 && pgid < 7) SWC_TRY(swc_chip_port_of(__func__, pgid, &index));
  return swc_reg_wr(ana_dest_mask(index), swc_chip_port_bitfield(flags));
}

swc_rc swc_ll_src_table_write(uint32_t port_no, const uint32_t *members) {
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  const SwcApiState &s = *swc_state();
  uint32_t flags[kSwcPortSlots];
  for (uint32_t p = 0; p < kSwcPortSlots; ++p) flags[p] = p == 0 ? 0 : members[p];
  if (s.mirror_egress[port_no] && !s.mirror_ingress[port_no] && s.mirror_monitor_port >= 1 &&
      s.mirror_monitor_port <= kSwcPorts) {
    flags[s.mirror_monitor_port] = 0;
  }
  return swc_reg_wrm(ana_source_mask(c), swc_chip_port_bitfield(flags), 0x5F);
}

swc_rc swc_ll_aggr_table_write(uint32_t index, const uint32_t *members) {
  if (index < 1 || index > 16) {
    SWC_LL_TRACE(trace::kError, "illegal index: %d", static_cast<int>(index));
    return kSwcRcIllegal;
  }
  return swc_reg_wr(ana_aggr_mask(index), swc_chip_port_bitfield(members));
}

swc_rc swc_ll_aggr_tables_write(const SwcPortFlags *members) {
  constexpr uint32_t kIndexes = 16;
  SwcIoOp ops[kIndexes];
  for (uint32_t index = 1; index <= kIndexes; ++index) {
    const Reg mask = ana_aggr_mask(index);
    ops[index - 1] = SwcIoOp{SwcIoOp::Kind::kWrite, false,    mask.block,
                             mask.subblock,         mask.reg, swc_chip_port_bitfield(members[index - 1])};
  }
  return swc_reg_run_group(ops, kIndexes);
}

swc_rc swc_ll_ipmc_flood_mask_set(const uint32_t *members) {
  return swc_reg_wr(kAnaIpmcFlood, swc_chip_port_bitfield(members));
}

swc_rc swc_ll_mirror_monitor_port_set(uint32_t port_no) {
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  return swc_reg_wrm(kAnaMirrorMonitor, c, 0x1F);
}

swc_rc swc_ll_mirror_ingress_port_set(uint32_t port_no, uint32_t enable) {
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  return swc_reg_bit(ana_source_mask(c), kAnaIngressMirrorBit, enable != 0);
}

swc_rc swc_ll_register_read(uint32_t address, uint32_t *value) {
  return swc_reg_rd((address >> 12) & 7, (address >> 8) & 15, address & 0xFF, value);
}

swc_rc swc_ll_register_write(uint32_t address, uint32_t value) {
  return swc_reg_wr((address >> 12) & 7, (address >> 8) & 15, address & 0xFF, value);
}

int32_t swc_ll_miim_read(uint32_t controller, uint32_t phy_addr, uint32_t phy_reg) {
  return ar_phy_readwrite(false, controller, phy_addr, phy_reg, 0);
}

swc_rc swc_ll_miim_write(uint32_t controller, uint32_t phy_addr, uint32_t phy_reg, uint32_t value) {
  return ar_phy_readwrite(true, controller, phy_addr, phy_reg, value & 0xFFFF);
}

namespace {
swc_rc check_gpio(const char *function, uint32_t gpio_no, uint32_t last) {
  if (gpio_no <= last) return kSwcRcOk;
  SWC_TRACE_AS(trace::kApiLl, trace::kError, function, "illegal gpio_no: %d", static_cast<int>(gpio_no));
  return kSwcRcIllegal;
}
}  // namespace

swc_rc swc_ll_gpio_direction_set(uint32_t gpio_no, uint32_t output) {
  SWC_TRY(check_gpio(__func__, gpio_no, 5));
  return swc_reg_bit(kSysGpio, gpio_no + 4, output != 0);
}

swc_rc swc_ll_gpio_input_read(uint32_t gpio_no, uint32_t *value) {
  // GPIOs 4 and 5 are outputs only; their register bits would be other pins' directions.
  SWC_TRY(check_gpio(__func__, gpio_no, 3));
  uint32_t v;
  SWC_TRY(swc_reg_rd(kSysGpio, &v));
  *value = (v >> gpio_no) & 1;
  return kSwcRcOk;
}

swc_rc swc_ll_gpio_output_write(uint32_t gpio_no, uint32_t value) {
  SWC_TRY(check_gpio(__func__, gpio_no, 5));
  if (gpio_no <= 3) return swc_reg_bit(kSysGpio, gpio_no, value != 0);
  return swc_reg_bit(kSysIndirectStatus, gpio_no - 2, value != 0);
}

swc_rc swc_ll_cpu_rx_frameready_int_enable(uint32_t, uint32_t) {
  return kSwcRcOk;
}
swc_rc swc_ll_cpu_rx_queue_map_set(const uint32_t *) {
  return kSwcRcOk;
}
swc_rc swc_ll_optimize_1sec() {
  return kSwcRcOk;
}
swc_rc swc_ll_optimize_100msec() {
  return kSwcRcOk;
}
