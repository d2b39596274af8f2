#include "ar.h"

#include <algorithm>

#include "chip_regs.h"
#include "swc_context.h"
#include "swc_clock.h"
#include "swc_io.h"
#include "swc_reg.h"
#include "swc_trace.h"

using namespace chipreg;

namespace {

// Flow-control buffer tables: eight rows of 22 values; rows 3 and 7 are not used.
using BufferRow = uint16_t[22];
constexpr BufferRow kBufferTableG5[8] = {
    {0, 20, 20, 0, 0, 0, 0, 21, 22, 23, 24, 0, 0, 0, 0, 24, 24, 24, 24, 0, 0, 0},
    {0, 12, 12, 2, 2, 2, 2, 14, 14, 14, 14, 2, 2, 2, 2, 18, 18, 18, 18, 0, 0, 0},
    {0, 12, 8, 0, 0, 0, 0, 6, 7, 8, 9, 0, 0, 0, 0, 20, 20, 20, 20, 1, 255, 0},
    {},
    {0, 18, 18, 0, 0, 0, 0, 21, 22, 23, 24, 0, 0, 0, 0, 21, 21, 21, 21, 0, 0, 0},
    {0, 12, 12, 4, 4, 4, 4, 15, 15, 15, 15, 4, 4, 4, 4, 15, 15, 15, 15, 0, 0, 0},
    {0, 6, 2, 0, 0, 0, 0, 14, 15, 16, 17, 0, 0, 0, 0, 26, 26, 26, 26, 1, 255, 0},
    {},
};
constexpr BufferRow kBufferTableG5e[8] = {
    {0, 16, 16, 0, 0, 0, 0, 14, 16, 18, 20, 0, 0, 0, 0, 21, 21, 21, 21, 0, 0, 0},
    {0, 16, 16, 6, 6, 6, 6, 18, 18, 18, 18, 6, 6, 6, 6, 22, 22, 22, 22, 0, 0, 0},
    {0, 16, 12, 0, 0, 0, 0, 10, 11, 12, 13, 0, 0, 0, 0, 24, 24, 24, 24, 1, 255, 0},
    {},
    {4, 16, 16, 0, 0, 0, 0, 14, 16, 18, 20, 0, 0, 0, 0, 21, 21, 21, 21, 0, 0, 0},
    {4, 16, 16, 8, 8, 8, 8, 19, 19, 19, 19, 8, 8, 8, 8, 21, 21, 21, 21, 0, 0, 0},
    {0, 8, 4, 0, 0, 0, 0, 18, 19, 20, 21, 0, 0, 0, 0, 30, 30, 30, 30, 1, 255, 0},
    {},
};

// Buffer mode 0..5 to its table row.
constexpr unsigned kBufferRow[6] = {0, 1, 4, 5, 2, 6};

swc_rc wait_idle(Reg reg, uint32_t busy_bits, const char *function, const char *what) {
  for (uint32_t poll = 0; poll < kSwcIdlePolls; ++poll) {
    uint32_t value;
    SWC_TRY(swc_reg_rd(reg, &value));
    if ((value & busy_bits) == 0) return kSwcRcOk;
  }
  SWC_TRACE_AS(trace::kApiLl, trace::kError, function, "%s command did not complete after %u polls", what,
               static_cast<unsigned>(kSwcIdlePolls));
  return kSwcRcReadFailed;
}

uint32_t mac_mode(uint32_t speed) {
  switch (speed) {
    case kSwcSpeed1G:
      return 1;
    case kSwcSpeed100M:
      return 2;
    case kSwcSpeed10M:
      return 3;
    default:
      return 0;
  }
}

// MAC mode bits of port register 0, or -5 for an interface the port cannot take.
int32_t port_mac_mode(uint32_t port_no, const SwcPortSetup &setup) {
  switch (setup.interface_type) {
    case kSwcIfNoConnection:
      return 0;
    case kSwcIfInternal:
      return port_no >= 1 && port_no <= 5 ? 4 : kSwcRcIllegal;
    case kSwcIfGmii:
    case kSwcIfRgmii:
      if (port_no < 6) return kSwcRcIllegal;
      [[fallthrough]];
    case kSwcIfLoopback:
      return mac_mode(setup.speed) != 0 ? static_cast<int32_t>(mac_mode(setup.speed)) : kSwcRcIllegal;
    default:
      return kSwcRcIllegal;
  }
}

uint32_t interface_code(uint32_t interface_type) {
  switch (interface_type) {
    case kSwcIfLoopback:
      return 0x21;
    case kSwcIfRgmii:
      return 0x2C;
    case kSwcIfInternal:
      return 0x00;
    default:  // GMII and no connection
      return 0x20;
  }
}

// The words of a CPU transmit, each written to the port's transmit data register and followed by status
// polls until the chip took it. They go out as scripts of many words, so that over the simulator's socket
// a frame costs a few exchanges instead of two per word; the register accesses are the same as word by
// word. A word the chip never takes aborts the transmit.
class TxWords {
 public:
  explicit TxWords(uint32_t chip_port) : chip_port_(chip_port) {}

  // Queues one word; the words queued before may have gone out and failed, which ends the transmit.
  swc_rc put(uint32_t word) {
    if (rc_ < 0) return rc_;
    const chipreg::Reg data = swc_port_reg(chip_port_, kPortTxData);
    const chipreg::Reg status = swc_port_reg(chip_port_, kPortTxStatus);
    ops_[count_++] = SwcIoOp{SwcIoOp::Kind::kWrite, false, data.block, data.subblock, data.reg, word};
    ops_[count_++] = SwcIoOp{SwcIoOp::Kind::kPoll, false,       status.block,  status.subblock,
                             status.reg,           kPortTxBusy, kArTxBusyPolls};
    return count_ == kOps ? flush() : kSwcRcOk;
  }

  // Sends the words queued; 0, the failed access's code, or -43 after an abort.
  swc_rc flush() {
    if (rc_ < 0 || count_ == 0) return rc_;
    ops_[count_ - 1].group_end = true;  // one group: a failure skips every later word
    swc_reg_run(ops_, count_);
    for (size_t i = 0; i < count_ && rc_ == kSwcRcOk; ++i) {
      if (!ops_[i].ran || ops_[i].rc >= 0) continue;
      rc_ = ops_[i].rc;
      if (ops_[i].timed_out) {
        const swc_rc abort = swc_port_wrm(chip_port_, kPortTxControl, kPortTxAbort, kPortTxAbort);
        rc_ = abort < 0 ? abort : kSwcRcTxStalled;
      }
    }
    count_ = 0;
    return rc_;
  }

 private:
  static constexpr size_t kOps = 256;  // 128 words
  uint32_t chip_port_;
  SwcIoOp ops_[kOps];
  size_t count_ = 0;
  swc_rc rc_ = kSwcRcOk;
};

// Plain writes to one chip port's registers, sent as one script so that over the simulator's socket they
// cost one exchange; the first failed write ends them with its code, as writing one by one would.
class PortWrites {
 public:
  explicit PortWrites(uint32_t chip_port) : chip_port_(chip_port) {}

  void put(uint32_t reg, uint32_t value) {
    const chipreg::Reg r = swc_port_reg(chip_port_, reg);
    ops_[count_++] = SwcIoOp{SwcIoOp::Kind::kWrite, false, r.block, r.subblock, r.reg, value};
  }

  swc_rc flush() {
    const size_t sent = count_;
    count_ = 0;
    return swc_reg_run_group(ops_, sent);
  }

 private:
  uint32_t chip_port_;
  SwcIoOp ops_[16];
  size_t count_ = 0;
};

}  // namespace

int32_t ar_phy_readwrite(bool write, uint32_t controller, uint32_t phy_addr, uint32_t phy_reg,
                         uint32_t value) {
  if (controller > 1) {
    SWC_LL_TRACE(trace::kError, "illegal miim_controller: %d", static_cast<int>(controller));
    return kSwcRcIllegal;
  }
  if (phy_addr >= 32 || phy_reg >= 32) {
    SWC_LL_TRACE(trace::kError, "illegal phy_addr/phy_reg: %d/%d", static_cast<int>(phy_addr),
                 static_cast<int>(phy_reg));
    return kSwcRcIllegal;
  }
  // The command, the status polls until the controller is idle and the data read as one script: over
  // the simulator's socket a PHY access costs one exchange instead of three.
  using Kind = SwcIoOp::Kind;
  SwcIoOp ops[3] = {
      {Kind::kWrite, false, kBlockMiim, controller, kMiimCommand,
       (write ? 0 : kMiimRead) | phy_reg << 16 | phy_addr << 21 | (write ? value & 0xFFFF : 0)},
      {Kind::kPoll, write, kBlockMiim, controller, kMiimStatus, kMiimBusy, kSwcIdlePolls},
      {Kind::kRead, true, kBlockMiim, controller, kMiimData},
  };
  swc_reg_run(ops, write ? 2 : 3);
  if (ops[0].rc < 0) return ops[0].rc;
  if (ops[1].timed_out) {
    SWC_LL_TRACE(trace::kError, "miim_controller: %d busy after %u polls", static_cast<int>(controller),
                 static_cast<unsigned>(kSwcIdlePolls));
    return kSwcRcReadFailed;
  }
  if (ops[1].rc < 0) return ops[1].rc;
  if (write) return kSwcRcOk;
  if (ops[2].rc < 0) return ops[2].rc;
  const uint32_t data = ops[2].result;
  if (data & kMiimInvalid) return kSwcRcPhyNotMounted;
  return static_cast<int32_t>(data & 0xFFFF);
}

swc_rc ar_port_setup(uint32_t port_no, const SwcPortSetup *setup) {
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  const int32_t mode = port_mac_mode(port_no, *setup);
  if (mode < 0) {
    SWC_LL_TRACE(trace::kError, "illegal interface: %d, speed: %d on port_no: %d",
                 static_cast<int>(setup->interface_type), static_cast<int>(setup->speed),
                 static_cast<int>(port_no));
    return kSwcRcIllegal;
  }
  const bool gigabit = setup->speed == kSwcSpeed1G;
  uint32_t gap[3] = {6, 8, gigabit ? 6u : 17u};
  for (int i = 0; i < 3; ++i) {
    if (setup->gap[i] != 0) gap[i] = setup->gap[i];
  }
  const SwcApiState &s = *swc_state();
  const uint32_t v = static_cast<uint32_t>(mode) | (gap[2] & 0x1F) << 6 |
                     (s.vlan_port_mode[port_no].aware ? 1u << 14 : 0) | (gigabit ? 1u << 17 : 0) |
                     (setup->full_duplex ? 1u << 18 : 0) | uint32_t{setup->pause_mac[5]} << 19;
  SWC_TRY(swc_port_wr(c, kPortConfig, v | 0x28000030));
  SWC_TRY(swc_reg_bit(kArbDiscard, c, false));
  SWC_TRY(swc_port_wr(c, kPortConfig, v | 0x08000000));
  swc_clock_get().busy_wait_us(1);
  SWC_TRY(swc_port_wr(c, kPortConfig, v));
  SWC_TRY(swc_port_wrm(c, kPortGaps, (gap[0] & 0xF) | (gap[1] & 0xF) << 4 | 0x200 | 0x8000, 0xFFFF));
  SWC_TRY(swc_port_wrm(c, kPortInterface, interface_code(setup->interface_type), 0xFF));
  if (setup->power_down) SWC_TRY(swc_port_wrm(c, kPortConfig, 0x20000030, 0x20000030));
  SWC_TRY(swc_port_wrm(c, kPortMaxLength, setup->max_length & 0xFFFF, 0x1FFFF));
  return ar_setup_flowcontrol(port_no, &s.port_setup[port_no]);
}

swc_rc ar_setup_flowcontrol(uint32_t port_no, const SwcPortSetup *setup) {
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  const SwcApiState &s = *swc_state();
  const bool jumbo = setup->max_length > kSwcMaxStandardFrame;
  const bool buffer_mode = s.qos_setup.word[2] != 0;
  unsigned mode;
  if (!setup->flow_obey && !setup->flow_generate) {
    mode = jumbo ? (buffer_mode ? 3 : 2) : (buffer_mode ? 1 : 0);
  } else {
    mode = jumbo ? 5 : 4;
  }
  const uint8_t *mac = setup->pause_mac;
  PortWrites writes(c);
  writes.put(kPortPauseMacHigh, uint32_t{mac[0]} << 16 | uint32_t{mac[1]} << 8 | mac[2]);
  writes.put(kPortPauseMacLow, uint32_t{mac[3]} << 16 | uint32_t{mac[4]} << 8 | mac[5]);
  writes.put(kPortPause, (setup->flow_obey ? 0x10000u : 0) | (mode >= 4 ? 0x20000u | 0xFF : 0));
  const BufferRow &r = (s.g5e ? kBufferTableG5e : kBufferTableG5)[kBufferRow[mode]];
  writes.put(kPortFlowControl, uint32_t{r[0]} << 1 | (setup->flow_generate ? 1 : 0));
  if (s.g5e) {
    SWC_TRY(writes.flush());
    SWC_TRY(swc_port_bit(c, kPortFlowControl, 31, true));
  }
  writes.put(kPortFlowBuffers, uint32_t{r[1]} << 8 | r[2]);
  for (uint32_t q = 0; q < 4; ++q) {
    writes.put(kPortQueueBuffers + q,
               uint32_t{r[3 + q]} << 24 | uint32_t{r[7 + q]} << 16 | uint32_t{r[11 + q]} << 8 | r[15 + q]);
  }
  return writes.flush();
}

swc_rc ar_cpurx_systemheader(uint32_t queue, SwcCpuRxHeader *header) {
  // Both header words as one script: one exchange with the simulator instead of two.
  const Reg word0 = cpu_queue_word(queue, 0);
  const Reg word1 = cpu_queue_word(queue, 1);
  SwcIoOp ops[2] = {{SwcIoOp::Kind::kRead, false, word0.block, word0.subblock, word0.reg},
                    {SwcIoOp::Kind::kRead, false, word1.block, word1.subblock, word1.reg}};
  SWC_TRY(swc_reg_run_group(ops, 2));
  const uint32_t first = ops[0].result;
  const uint32_t second = ops[1].result;
  const uint32_t length_field = (first >> 16) & 0x3FFF;
  const uint32_t chip_port = first & 7;
  header->length = length_field - 4;
  header->flag = first >> 31;
  header->vid = (second >> 16) & 0xFFF;
  header->cfi = (second >> 28) & 1;
  header->user_priority = second >> 29;
  if (((second >> 4) & 0x1FF) != 0x52) {
    SWC_LL_TRACE(trace::kError, "illegal cookie, msw: 0x%08lx, lsw: 0x%08lx",
                 static_cast<unsigned long>(first), static_cast<unsigned long>(second));
    ar_cpurx_discard_frame(queue);
    return kSwcRcBadChip;
  }
  // Chip port 7 does not exist: it must not index the port map.
  header->port_no = chip_port < kSwcChipPorts ? swc_state()->chip_port_to_port[chip_port] : 0;
  if (header->port_no < 1 || header->port_no > kSwcPorts) {
    SWC_LL_TRACE(trace::kError, "illegal portno %u msw: 0x%08lx, lsw: 0x%08lx",
                 static_cast<unsigned>(header->port_no), static_cast<unsigned long>(first),
                 static_cast<unsigned long>(second));
    ar_cpurx_discard_frame(queue);
    return kSwcRcBadChip;
  }
  // A length below the FCS, or beyond the receive window, would make the copy read past the frame.
  if (length_field < 4 || header->length > kArRxMaxFrame) {
    SWC_LL_TRACE(trace::kError, "illegal length %u msw: 0x%08lx, lsw: 0x%08lx",
                 static_cast<unsigned>(length_field), static_cast<unsigned long>(first),
                 static_cast<unsigned long>(second));
    header->length = 0;
    ar_cpurx_discard_frame(queue);
    return kSwcRcBadChip;
  }
  return kSwcRcOk;
}

swc_rc ar_cpurx_discard_frame(uint32_t queue) {
  return swc_reg_wr(cpu_queue_control(queue), 0);
}

swc_rc ar_cpu_tx_frame(uint32_t port_no, const uint8_t *frame, size_t length, uint32_t vid) {
  uint32_t c;
  SWC_TRY(swc_chip_port_of(__func__, port_no, &c));
  const bool tagged = vid != 0;
  size_t total = length + 4 + (tagged ? 4 : 0);
  if (total < 64) total = 64;
  if (!frame || length == 0 || total > kArTxMaxTotal) {
    SWC_LL_TRACE(trace::kError, "illegal length: %lu", static_cast<unsigned long>(length));
    return kSwcRcIllegal;
  }
  TxWords words(c);
  SWC_TRY(words.put(static_cast<uint32_t>(total) << 16));
  SWC_TRY(words.put(0x520));
  const size_t frame_words = (length + 3) / 4;
  uint32_t count = 1;  // the closing zero word
  for (size_t k = 0; k < frame_words; ++k) {
    if (tagged && k == 3) {
      SWC_TRY(words.put(0x81000000u | (vid & 0xFFF)));
      ++count;
    }
    uint32_t word = 0;
    for (size_t i = 0; i < 4; ++i) {
      const size_t at = 4 * k + i;
      word = word << 8 | (at < length ? frame[at] : 0);
    }
    SWC_TRY(words.put(word));
    ++count;
  }
  // A frame too short to reach the tag position still carries its tag right after its last word.
  if (tagged && frame_words <= 3) {
    SWC_TRY(words.put(0x81000000u | (vid & 0xFFF)));
    ++count;
  }
  SWC_TRY(words.put(0));
  for (; count < 16; ++count) SWC_TRY(words.put(0));
  if (count % 2) SWC_TRY(words.put(0));
  return words.flush();
}

swc_rc ar_vlan_table_idle() {
  return wait_idle(kAnaVlanCommand, kVlanCmdBusy, __func__, "VLAN");
}
swc_rc ar_mac_table_idle() {
  return wait_idle(kAnaMacCommand, kMacCmdBusy, __func__, "MAC");
}

swc_rc ar_vlan_entry_write(uint32_t vid, const ArVlanEntry *entry) {
  SWC_TRY(swc_reg_wr(kAnaVlanAddress, vid & 0xFFF));
  SWC_TRY(swc_reg_wr(kAnaVlanCommand,
                     kVlanCmdWrite | (entry->mask << 2 & kVlanMaskBits) | (entry->flags & 7) << 28));
  return ar_vlan_table_idle();
}

swc_rc ar_vlan_entry_read(uint32_t vid, ArVlanEntry *entry) {
  SWC_TRY(swc_reg_wr(kAnaVlanAddress, vid & 0xFFF));
  SWC_TRY(swc_reg_wr(kAnaVlanCommand, kVlanCmdRead));
  SWC_TRY(ar_vlan_table_idle());
  uint32_t value;
  SWC_TRY(swc_reg_rd(kAnaVlanCommand, &value));
  entry->mask = (value & kVlanMaskBits) >> 2;
  entry->flags = (value >> 28) & 7;
  return kSwcRcOk;
}

swc_rc ar_vlan_table_clear() {
  SWC_LL_TRACE(trace::kDebug, "enter");
  const ArVlanEntry empty{0, 0};
  for (uint32_t vid = 0; vid < kSwcVlans; ++vid) SWC_TRY(ar_vlan_entry_write(vid, &empty));
  return kSwcRcOk;
}

namespace {
// Entry and PGID from the command and address registers of a valid entry.
void mac_entry_from_registers(uint32_t s, uint32_t h, uint32_t l, SwcMacEntry *entry, uint32_t *pgid) {
  entry->copy_to_cpu = s & kMacFlagCpu ? 1 : 0;
  entry->locked = s & kMacFlagLocked ? 1 : 0;
  entry->aged = s & kMacFlagIpmc ? 1 : 0;
  uint32_t group = (s >> kMacPgidShift) & 0x3F;
  SwcApiState &state = *swc_state();
  uint8_t *mac = entry->vid_mac.mac;
  if (entry->locked && entry->aged) {
    // IPv4 multicast: the port mask sits in the address registers, the address is 01-00-5E-xx-xx-xx.
    const uint32_t mask = (h & 0xFFFF) << 8 | group << 24 | l >> 24;
    for (uint32_t p = 1; p <= kSwcPorts; ++p) {
      const int32_t c = state.port_to_chip_port[p];
      state.pgid[0].member[p] = c >= 0 && (mask >> c & 1) ? 1 : 0;
    }
    for (uint32_t poag = kSwcPorts + 1; poag < kSwcPoagSlots; ++poag) state.pgid[0].member[poag] = 0;
    group = 0;
    mac[0] = 0x01;
    mac[1] = 0x00;
    mac[2] = 0x5E;
    mac[3] = static_cast<uint8_t>(l >> 16);
    mac[4] = static_cast<uint8_t>(l >> 8);
    mac[5] = static_cast<uint8_t>(l);
  } else {
    if (group < 7) group = state.chip_port_to_port[group];
    mac[0] = static_cast<uint8_t>(h >> 8);
    mac[1] = static_cast<uint8_t>(h);
    mac[2] = static_cast<uint8_t>(l >> 24);
    mac[3] = static_cast<uint8_t>(l >> 16);
    mac[4] = static_cast<uint8_t>(l >> 8);
    mac[5] = static_cast<uint8_t>(l);
  }
  entry->vid_mac.vid = (h >> 16) & 0xFFF;
  *pgid = group;
}

// Fills entry and PGID from the command register after a read by index.
swc_rc mac_entry_decode(SwcMacEntry *entry, uint32_t *pgid) {
  uint32_t s, h, l;
  SWC_TRY(swc_reg_rd(kAnaMacCommand, &s));
  if ((s & kMacFlagValid) == 0) return kSwcRcNotFound;
  SWC_TRY(swc_reg_rd(kAnaMacHigh, &h));
  SWC_TRY(swc_reg_rd(kAnaMacLow, &l));
  mac_entry_from_registers(s, h, l, entry, pgid);
  return kSwcRcOk;
}

uint32_t mac_index_word(uint32_t index, uint32_t lookup) {
  return (index & 3) << 11 | (lookup ? kMacIndexLookup : 0) | (index >> 2 & 0x7FF);
}

// The accesses of ar_mac_table_read_index as one script group of six ops.
constexpr size_t kMacReadOps = 6;
void mac_read_script(uint32_t index, SwcIoOp *ops) {
  using Kind = SwcIoOp::Kind;
  const auto op = [](Kind k, bool group_end, Reg r, uint32_t value, uint32_t polls = 1) {
    return SwcIoOp{k, group_end, r.block, r.subblock, r.reg, value, polls};
  };
  ops[0] = op(Kind::kWrite, false, kAnaMacIndex, mac_index_word(index, 0));
  ops[1] = op(Kind::kWrite, false, kAnaMacCommand, kMacCmdRead);
  ops[2] = op(Kind::kPoll, false, kAnaMacCommand, kMacCmdBusy, kSwcIdlePolls);
  ops[3] = op(Kind::kTest, false, kAnaMacCommand, kMacFlagValid);
  ops[4] = op(Kind::kRead, false, kAnaMacHigh, 0);
  ops[5] = op(Kind::kRead, true, kAnaMacLow, 0);
}

// The outcome of one index's group, as ar_mac_table_read_index would have returned it.
swc_rc mac_read_outcome(const SwcIoOp *ops, SwcMacEntry *entry, uint32_t *pgid) {
  for (size_t i = 0; i < kMacReadOps; ++i) {
    if (ops[i].timed_out) {
      SWC_TRACE_AS(trace::kApiLl, trace::kError, "ar_mac_table_idle",
                   "MAC command did not complete after %u polls", static_cast<unsigned>(kSwcIdlePolls));
    }
    if (ops[i].ran && ops[i].rc < 0) return ops[i].rc;
  }
  if (!ops[4].ran) return kSwcRcNotFound;  // the entry's valid bit was clear
  mac_entry_from_registers(ops[3].result, ops[4].result, ops[5].result, entry, pgid);
  return kSwcRcOk;
}
}  // namespace

swc_rc ar_mac_table_read_index(uint32_t index, SwcMacEntry *entry, uint32_t *pgid, uint32_t lookup) {
  SWC_TRY(swc_reg_wr(kAnaMacIndex, mac_index_word(index, lookup)));
  SWC_TRY(swc_reg_wr(kAnaMacCommand, kMacCmdRead));
  SWC_TRY(ar_mac_table_idle());
  return mac_entry_decode(entry, pgid);
}

swc_rc ar_mac_table_read_indexes(uint32_t first, uint32_t count, SwcMacEntry *entries, uint32_t *pgids,
                                 swc_rc *results) {
  constexpr uint32_t kIndexesPerScript = 64;
  SwcIoOp ops[kIndexesPerScript * kMacReadOps];
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(count - done, kIndexesPerScript);
    for (uint32_t i = 0; i < n; ++i) mac_read_script(first + done + i, ops + i * kMacReadOps);
    swc_reg_run(ops, n * kMacReadOps);
    for (uint32_t i = 0; i < n; ++i) {
      results[done + i] = mac_read_outcome(ops + i * kMacReadOps, &entries[done + i], &pgids[done + i]);
    }
    done += n;
  }
  return kSwcRcOk;
}

swc_rc ar_reset_memories() {
  SWC_LL_TRACE(trace::kDebug, "enter");
  SwcClock &clock = swc_clock_get();
  for (uint32_t id = 0; id < 16; ++id) {
    if (id == 6 || id == 7) continue;
    SWC_TRY(swc_reg_wr(kMemoryInit, 0x1010400 | id));
    clock.sleep_ms(1);
  }
  clock.sleep_ms(30);
  SWC_TRY(swc_reg_wr(kAnaMacCommand, kMacCmdClear));
  SWC_TRY(swc_reg_wr(kAnaVlanCommand, kVlanCmdClear));
  clock.sleep_ms(40);
  return kSwcRcOk;
}

swc_rc ar_setup_cpu_if(const SwcInitSetup *setup) {
  SWC_LL_TRACE(trace::kDebug, "enter");
  if (!setup->serial) {
    if (setup->bus_mode == 0) SWC_TRY(swc_reg_wr(kSysBusTiming, 0x0E0E0E0E));
    if (setup->bus_mode == 1) SWC_TRY(swc_reg_wr(kSysBusTiming, 0x0D0D0D0D));
    SWC_TRY(swc_reg_wr(kSysCpuInterface, 0x81818181));
  } else {
    SWC_TRY(swc_reg_wr(kSysCpuInterface, 0x99999999));
  }
  // Ceiling of the hold time over 11.2 ns, in 64 bits so that an absurd time cannot wrap into range.
  const int64_t hold =
      setup->hold_time_ns == -1 ? -1 : static_cast<int64_t>(static_cast<uint32_t>(setup->hold_time_ns));
  const uint64_t count = hold == -1 ? 15 : (10 * static_cast<uint64_t>(hold) + 111) / 112;
  if (count > 15) {
    SWC_LL_TRACE(trace::kError, "illegal hold time: %d", static_cast<int>(setup->hold_time_ns));
    return kSwcRcIllegal;
  }
  SWC_TRY(swc_reg_wr(kSysIndirectStatus, static_cast<uint32_t>(count) << 8 | (setup->further ? 0 : 0x20)));
  if (setup->serial) SWC_TRY(swc_reg_wr(kSysSerialInterface, 0));
  return kSwcRcOk;
}
