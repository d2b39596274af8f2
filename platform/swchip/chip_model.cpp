#include "chip_model.h"

#include <algorithm>
#include <cstdio>

namespace swchip {

using namespace chipreg;

namespace {
constexpr uint32_t kQueueNotEmpty[2] = {1u << 30, 1u << 31};  // in the CPU queue status register
constexpr size_t kTransmittedKept = 256;

uint64_t mac48(const uint8_t mac[6]) {
  uint64_t v = 0;
  for (int i = 0; i < 6; ++i) v = v << 8 | mac[i];
  return v;
}

// The (VID, MAC) key an entry was learned with, from its address registers.
void entry_key(uint32_t high, uint32_t low, bool ipmc, uint32_t &vid, uint64_t &mac) {
  vid = (high >> 16) & 0xFFF;
  if (ipmc) {
    mac = uint64_t{0x01005E} << 24 | (low & 0xFFFFFF);
  } else {
    mac = uint64_t{(high >> 8) & 0xFF} << 40 | uint64_t{high & 0xFF} << 32 | low;
  }
}

unsigned bucket_of(uint32_t vid, uint64_t mac) {
  const uint64_t key = uint64_t{vid & 0x3F} << 48 | mac;
  return static_cast<unsigned>((key ^ key >> 11 ^ key >> 22 ^ key >> 33 ^ key >> 44) & 0x7FF);
}
}  // namespace

ChipModel::ChipModel() : regs_(8 * 16 * 256, 0), mac_table_(kMacEntries), vlan_table_(kVlans) {
  // Internal PHYs of ports 1..5 on controller 0 (family 7, revision 1), the external RGMII PHY of
  // port 6 on controller 1 (family 4, revision 1).
  for (unsigned a = 0; a < 5; ++a) phys_[0][a] = PhyModel(0x0007, 0x0451);
  phys_[1][3] = PhyModel(0x000F, 0xC581);
  power_on();
}

size_t ChipModel::index(unsigned block, unsigned subblock, unsigned reg) {
  return (block & 7) << 12 | (subblock & 15) << 8 | (reg & 0xFF);
}

unsigned ChipModel::mac_bucket(uint32_t vid, const uint8_t mac[6]) {
  return bucket_of(vid, mac48(mac));
}

unsigned ChipModel::learn_addresses(unsigned chip_port, uint32_t vid, uint64_t first_mac, unsigned count) {
  constexpr uint64_t kMaxTries = 1u << 20;
  const auto free_slots = static_cast<unsigned>(
      std::count_if(mac_table_.begin(), mac_table_.end(), [](const MacEntry &e) { return !e.valid; }));
  count = std::min(count, free_slots);
  unsigned added = 0;
  for (uint64_t i = 0; i < kMaxTries && added < count; ++i) {
    const uint64_t mac = (first_mac + i) & 0xFFFFFFFFFFFFull;
    if (mac_find(vid, mac) >= 0) continue;
    hardware_learn(vid, mac, chip_port);
    added += mac_find(vid, mac) >= 0 ? 1 : 0;
  }
  return added;
}

void ChipModel::reset_tables() {
  for (auto &e : mac_table_) e = MacEntry{};
  for (auto &e : vlan_table_) e = VlanEntry{};
}

void ChipModel::power_on() {
  std::fill(regs_.begin(), regs_.end(), 0);
  indirect_armed_ = false;
  indirect_status_reads_ = 0;
  mac_busy_left_ = 0;
  reset_tables();
  for (auto &q : cpu_queues_) q.clear();
  cpu_queue_units_ = {};
  for (auto &t : tx_assembly_) t.words.clear();
}

uint32_t ChipModel::peek(unsigned block, unsigned subblock, unsigned reg) const {
  if ((block & 7) == kSysChipId.block && (subblock & 15) == 0 && (reg & 0xFF) == kSysChipId.reg)
    return chip_id_;
  return regs_[index(block, subblock, reg)];
}

uint32_t ChipModel::read(unsigned block, unsigned subblock, unsigned reg) {
  block &= 7;
  subblock &= 15;
  reg &= 0xFF;
  switch (block) {
    case kBlockPort:
      if (subblock < kChipPorts) return read_port(subblock, reg);
      break;
    case kBlockAnalyzer:
      if (subblock == 0) return read_analyzer(reg);
      break;
    case kBlockMiim:
      return read_miim(subblock, reg);
    case kBlockArbiter:
      if (subblock == kArbEmpty.subblock && reg == kArbEmpty.reg)
        return stuck.arbiter_full ? 0 : (1u << kChipPorts) - 1;
      break;
    case kBlockSystem:
      if (subblock == 0) return read_system(reg);
      break;
    default:
      break;
  }
  return stored(block, subblock, reg);
}

void ChipModel::write(unsigned block, unsigned subblock, unsigned reg, uint32_t value) {
  block &= 7;
  subblock &= 15;
  reg &= 0xFF;
  switch (block) {
    case kBlockPort:
      if (subblock < kChipPorts) return write_port(subblock, reg, value);
      break;
    case kBlockAnalyzer:
      if (subblock == 0) return write_analyzer(reg, value);
      break;
    case kBlockMiim:
      return write_miim(subblock, reg, value);
    case kBlockCpuQueue:
      return write_cpu_queue(subblock, reg, value);
    case kBlockSystem:
      if (subblock == 0) return write_system(reg, value);
      break;
    default:
      break;
  }
  stored(block, subblock, reg) = value;
}

// System block: chip id, soft reset, indirect read handshake, CPU queue status.
uint32_t ChipModel::read_system(unsigned reg) {
  const uint32_t value = stored(kBlockSystem, 0, reg);
  switch (reg) {
    case kSysChipId.reg:
      return chip_id_;
    case kSysIndirectStatus.reg: {
      bool done = false;
      if (indirect_armed_ && !stuck.indirect_done) {
        done = indirect_status_reads_ >= indirect_done_delay;
        ++indirect_status_reads_;
      }
      return (value & ~kSysIndirectDone) | (done ? kSysIndirectDone : 0);
    }
    case kSysCpuQueueStatus.reg:
      return (value & ~(kQueueNotEmpty[0] | kQueueNotEmpty[1])) |
             (cpu_queues_[0].empty() ? 0 : kQueueNotEmpty[0]) |
             (cpu_queues_[1].empty() ? 0 : kQueueNotEmpty[1]);
    default:
      return value;
  }
}

void ChipModel::write_system(unsigned reg, uint32_t value) {
  switch (reg) {
    case kSysChipId.reg:
      return;  // read-only
    case kSysIndirectStatus.reg:
      // The done flag is status only; the other bits (hold count, GPIO 4/5 outputs) are stored.
      stored(kSysIndirectStatus) = value & ~kSysIndirectDone;
      return;
    case kSysCpuQueueStatus.reg:
      stored(kSysCpuQueueStatus) = value & ~(kQueueNotEmpty[0] | kQueueNotEmpty[1]);
      return;
    case kSysSoftReset.reg:
      if (value & 1) {
        power_on();
        // The internal PHYs are part of the chip and restart with it.
        for (unsigned a = 0; a < 5; ++a) phys_[0][a].hardware_reset();
      }
      stored(kSysSoftReset) = value;
      return;
    default:
      stored(kBlockSystem, 0, reg) = value;
  }
}

void ChipModel::start_indirect_read(unsigned block, unsigned subblock, unsigned reg) {
  const uint32_t value = read(block, subblock, reg);
  stored(kSysIndirectData) = value;
  indirect_armed_ = true;
  indirect_status_reads_ = 0;
}

// Analyzer: MAC table, VLAN table, event flags.
uint32_t ChipModel::read_analyzer(unsigned reg) {
  const uint32_t value = stored(kBlockAnalyzer, 0, reg);
  if (reg == kAnaMacCommand.reg && mac_busy_left_ > 0 && --mac_busy_left_ == 0 && !stuck.mac_busy) {
    stored(kAnaMacCommand) &= ~kMacCmdBusy;
  }
  return value;
}

void ChipModel::write_analyzer(unsigned reg, uint32_t value) {
  switch (reg) {
    case kAnaMacEvents.reg:
      stored(kAnaMacEvents) &= ~(value & kMacEventBits);  // write one to clear
      return;
    case kAnaMacCommand.reg:
      stored(kAnaMacCommand) = value;
      mac_command(value);
      return;
    case kAnaVlanCommand.reg:
      stored(kAnaVlanCommand) = value;
      vlan_command(value);
      return;
    default:
      stored(kBlockAnalyzer, 0, reg) = value;
  }
}

int ChipModel::mac_find(uint32_t vid, const uint64_t mac) const {
  const unsigned bucket = bucket_of(vid, mac);
  for (unsigned slot = 0; slot < 4; ++slot) {
    const MacEntry &e = mac_table_[bucket * 4 + slot];
    if (!e.valid) continue;
    uint32_t evid;
    uint64_t emac;
    entry_key(e.high, e.low, e.flags & kMacFlagIpmc, evid, emac);
    if (evid == vid && emac == mac) return static_cast<int>(bucket * 4 + slot);
  }
  return -1;
}

void ChipModel::mac_command(uint32_t command) {
  switch (command & kMacCmdBusy) {
    case kMacCmdLearn:
      mac_learn(command & kMacFlagBits);
      break;
    case kMacCmdUnlearn:
      mac_unlearn();
      break;
    case kMacCmdAge:
      mac_age();
      break;
    case kMacCmdClear:
      for (auto &e : mac_table_) e = MacEntry{};
      break;
    case kMacCmdRead:
      mac_read();
      break;
    default:
      break;
  }
  mac_busy_left_ = mac_busy_reads;
  if (!stuck.mac_busy && mac_busy_left_ == 0) stored(kAnaMacCommand) &= ~kMacCmdBusy;
}

void ChipModel::mac_learn(uint32_t flags) {
  const uint32_t high = stored(kAnaMacHigh);
  const uint32_t low = stored(kAnaMacLow);
  uint32_t vid;
  uint64_t mac;
  entry_key(high, low, flags & kMacFlagIpmc, vid, mac);
  const MacEntry learned{true, false, flags | kMacFlagValid, high, low};
  if (const int same = mac_find(vid, mac); same >= 0) {
    if (mac_table_[same].flags != learned.flags || mac_table_[same].high != high ||
        mac_table_[same].low != low) {
      raise_mac_event(kEventChanged);
    }
    mac_table_[same] = learned;
    return;
  }
  const unsigned bucket = bucket_of(vid, mac);
  int victim = -1;
  for (unsigned slot = 0; slot < 4 && victim < 0; ++slot) {
    if (!mac_table_[bucket * 4 + slot].valid) victim = static_cast<int>(bucket * 4 + slot);
  }
  for (unsigned slot = 0; slot < 4 && victim < 0; ++slot) {
    if (!(mac_table_[bucket * 4 + slot].flags & kMacFlagLocked)) victim = static_cast<int>(bucket * 4 + slot);
  }
  if (victim < 0) {
    raise_mac_event(kEventLearnFailed);
    return;
  }
  mac_table_[victim] = learned;
  raise_mac_event(kEventLearned);
}

void ChipModel::mac_unlearn() {
  uint32_t vid;
  uint64_t mac;
  entry_key(stored(kAnaMacHigh), stored(kAnaMacLow), false, vid, mac);
  if (const int found = mac_find(vid, mac); found >= 0) mac_table_[found] = MacEntry{};
}

void ChipModel::mac_age() {
  const uint32_t args = stored(kAnaAgeArguments);
  const bool port_given = args & 0x80000000u;
  const uint32_t chip_port = (args >> 16) & 0x1F;
  const bool vid_given = args & 0x8000u;
  const uint32_t vid = args & 0xFFF;
  for (auto &e : mac_table_) {
    if (!e.valid || (e.flags & kMacFlagLocked)) continue;
    if (port_given && ((e.flags & kMacFlagIpmc) || ((e.flags >> kMacPgidShift) & 0x3F) != chip_port))
      continue;
    if (vid_given && ((e.high >> 16) & 0xFFF) != vid) continue;
    if (e.aged) {
      e = MacEntry{};
      raise_mac_event(kEventAgedOut);
    } else {
      e.aged = true;
    }
  }
}

void ChipModel::mac_read() {
  const uint32_t at = stored(kAnaMacIndex);
  const MacEntry &e = mac_table_[(at & 0x7FF) * 4 + ((at >> 11) & 3)];
  stored(kAnaMacCommand) = (stored(kAnaMacCommand) & kMacCmdBusy) | (e.valid ? e.flags : 0);
  stored(kAnaMacHigh) = e.valid ? e.high : 0;
  stored(kAnaMacLow) = e.valid ? e.low : 0;
}

void ChipModel::vlan_command(uint32_t command) {
  VlanEntry &e = vlan_table_[stored(kAnaVlanAddress) & 0xFFF];
  uint32_t &reg = stored(kAnaVlanCommand);
  switch (command & kVlanCmdBusy) {
    case kVlanCmdRead:
      reg = (reg & kVlanCmdBusy) | (e.mask << 2 & kVlanMaskBits) | (e.flags & 7) << 28;
      break;
    case kVlanCmdWrite:
      e.mask = (command & kVlanMaskBits) >> 2;
      e.flags = (command >> 28) & 7;
      break;
    case kVlanCmdClear:
      for (auto &v : vlan_table_) v = VlanEntry{};
      break;
    default:
      break;
  }
  if (!stuck.vlan_busy) reg &= ~kVlanCmdBusy;
}

// MIIM controllers 0 and 1 (subblocks 0, 1); subblock 2 is memory initialisation, stored only.
uint32_t ChipModel::read_miim(unsigned subblock, unsigned reg) {
  if (subblock < 2 && reg == kMiimStatus) return stuck.miim_busy ? 0x1 : 0;
  return stored(kBlockMiim, subblock, reg);
}

void ChipModel::write_miim(unsigned subblock, unsigned reg, uint32_t value) {
  stored(kBlockMiim, subblock, reg) = value;
  if (subblock >= 2 || reg != kMiimCommand) return;
  PhyModel &p = phys_[subblock][(value >> 21) & 31];
  const unsigned phy_reg = (value >> 16) & 31;
  ++miim_transfers_;
  if (value & kMiimRead) {
    stored(kBlockMiim, subblock, kMiimData) = p.mounted ? p.read(phy_reg) : kMiimInvalid | 0xFFFF;
  } else if (p.mounted) {
    p.write(phy_reg, static_cast<uint16_t>(value));
  }
}

// Per-port registers: CPU transmit word stream and status.
uint32_t ChipModel::read_port(unsigned chip_port, unsigned reg) {
  const uint32_t value = stored(kBlockPort, chip_port, reg);
  if (reg == kPortTxStatus) return (value & ~kPortTxBusy) | (stuck.tx_busy ? kPortTxBusy : 0);
  return value;
}

void ChipModel::write_port(unsigned chip_port, unsigned reg, uint32_t value) {
  stored(kBlockPort, chip_port, reg) = value;
  if (reg == kPortTxData) cpu_tx_word(chip_port, value);
  if (reg == kPortTxControl && (value & kPortTxAbort)) tx_assembly_[chip_port].words.clear();
}

void ChipModel::cpu_tx_word(unsigned chip_port, uint32_t word) {
  auto &words = tx_assembly_[chip_port].words;
  words.push_back(word);
  if (words.size() < 2) return;
  const size_t total = words[0] >> 16;
  const size_t frame_bytes = total > 4 ? total - 4 : 0;
  size_t data_words = (frame_bytes + 3) / 4 + 1;
  if (data_words < 16) data_words = 16;
  if (data_words % 2) ++data_words;
  if (words.size() < 2 + data_words) return;
  std::vector<uint8_t> frame(frame_bytes);
  for (size_t i = 0; i < frame_bytes; ++i) {
    frame[i] = static_cast<uint8_t>(words[2 + i / 4] >> (24 - 8 * (i % 4)));
  }
  words.clear();
  emit(chip_port, std::move(frame));
}

void ChipModel::emit(unsigned chip_port, std::vector<uint8_t> frame) {
  if (egress) return egress(chip_port, frame);
  auto &sent = transmitted_[chip_port];
  if (sent.size() == kTransmittedKept) sent.erase(sent.begin());
  sent.push_back(std::move(frame));
}

std::vector<std::vector<uint8_t>> ChipModel::take_transmitted(unsigned chip_port) {
  std::vector<std::vector<uint8_t>> out;
  out.swap(transmitted_[chip_port % kChipPorts]);
  return out;
}

// CPU receive queues: queue q's header and data live in subblocks 2q-2 and 2q-1; a write to its
// control register (4, 2q+2, 0) releases the head frame.
void ChipModel::write_cpu_queue(unsigned subblock, unsigned reg, uint32_t value) {
  if (subblock < 4) return;  // queue memory is read-only to the CPU
  if ((subblock == cpu_queue_control(1).subblock || subblock == cpu_queue_control(2).subblock) && reg == 0) {
    const unsigned q = subblock == cpu_queue_control(1).subblock ? 0 : 1;
    if (!cpu_queues_[q].empty()) {
      cpu_queue_units_[q] -= static_cast<unsigned>((cpu_queues_[q].front().data.size() + 19) >> 3);
      cpu_queues_[q].pop_front();
      cpu_queue_changed(q);
    }
    return;
  }
  stored(kBlockCpuQueue, subblock, reg) = value;
}

bool ChipModel::inject_cpu_frame(unsigned queue, unsigned chip_port, const std::vector<uint8_t> &frame,
                                 uint16_t tci) {
  const unsigned q = queue == 2 ? 1 : 0;
  const unsigned units = static_cast<unsigned>((frame.size() + 19) >> 3);
  if (frame.empty() || frame.size() > kMaxCpuFrame || cpu_queue_units_[q] + units > kCpuQueueUnits) {
    ++cpu_drops_;
    return false;
  }
  cpu_queues_[q].push_back({frame, chip_port & 7, tci});
  cpu_queue_units_[q] += units;
  if (cpu_queues_[q].size() == 1) cpu_queue_changed(q);
  return true;
}

void ChipModel::cpu_queue_changed(unsigned q) {
  constexpr uint32_t kQueueWords = 512;  // two subblocks
  const uint32_t queue = q + 1;
  for (uint32_t word = 0; word < kQueueWords; ++word) stored(cpu_queue_word(queue, word)) = 0;
  if (cpu_queues_[q].empty()) return;
  const CpuFrame &head = cpu_queues_[q].front();
  const size_t length = head.data.size();
  stored(cpu_queue_word(queue, 0)) = static_cast<uint32_t>((length + 4) << 16) | head.chip_port;
  stored(cpu_queue_word(queue, 1)) = uint32_t{head.tci} << 16 | 0x52u << 4;
  // Frame then four FCS bytes, most significant byte first in each word.
  for (size_t i = 0; i < length; ++i) {
    const auto word = static_cast<uint32_t>(i / 4 + 2);
    stored(cpu_queue_word(queue, word)) |= uint32_t{head.data[i]} << (24 - 8 * (i % 4));
  }
}

std::string ChipModel::dump_registers(unsigned block) const {
  std::string out;
  char line[64];
  for (unsigned b = 0; b < 8; ++b) {
    if (block <= 7 && b != block) continue;
    for (unsigned s = 0; s < 16; ++s) {
      for (unsigned r = 0; r < 256; ++r) {
        const uint32_t v = peek(b, s, r);
        if (v == 0) continue;
        std::snprintf(line, sizeof line, "%u %u 0x%02x 0x%08x\n", b, s, r, static_cast<unsigned>(v));
        out += line;
      }
    }
  }
  return out;
}

std::string ChipModel::dump_mac_table() const {
  std::string out;
  char line[96];
  for (unsigned i = 0; i < kMacEntries; ++i) {
    const MacEntry &e = mac_table_[i];
    if (!e.valid) continue;
    uint32_t vid;
    uint64_t mac;
    entry_key(e.high, e.low, e.flags & kMacFlagIpmc, vid, mac);
    std::snprintf(line, sizeof line, "%u vid %u mac %012llx flags 0x%04x%s\n", i, static_cast<unsigned>(vid),
                  static_cast<unsigned long long>(mac), static_cast<unsigned>(e.flags),
                  e.aged ? " aged" : "");
    out += line;
  }
  return out;
}

std::string ChipModel::dump_vlan_table() const {
  std::string out;
  char line[64];
  for (unsigned vid = 0; vid < kVlans; ++vid) {
    const VlanEntry &e = vlan_table_[vid];
    if (e.mask == 0 && e.flags == 0) continue;
    std::snprintf(line, sizeof line, "%u mask 0x%02x flags %u\n", vid, static_cast<unsigned>(e.mask),
                  static_cast<unsigned>(e.flags));
    out += line;
  }
  return out;
}

}  // namespace swchip
