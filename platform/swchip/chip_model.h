// Model of the six-port gigabit switch chip as its registers show it.
//
// Every (block, subblock, register) is a stored 32-bit word that reads back as written; the registers
// that the switch software polls or that start an action have behaviour of their own on top of that
// store (see chip_model.cpp). The model has no notion of time: commands complete when they are
// written, and "busy" only shows when a test makes a bit stuck.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "chip_regs.h"
#include "phy_model.h"

namespace swchip {

inline constexpr uint32_t kChipIdG5RevA = 0x073850E9;  // chip 0x7385, revision A, maker 0x74
inline constexpr unsigned kChipPorts = 7;              // chip ports 0..6
inline constexpr unsigned kMacEntries = 8192;          // 2048 buckets of 4
inline constexpr unsigned kVlans = 4096;
inline constexpr size_t kMaxCpuFrame = 2036;      // the receive window holds 510 words with the FCS
inline constexpr unsigned kCpuQueueUnits = 1023;  // queue space in 8-byte units

// Bits that never report completion while set; for fault injection.
struct StuckBits {
  bool indirect_done = false;  // (7,0,0x30) bit 4 never set after an indirect read start
  bool miim_busy = false;      // (3,c,0) bits 0-3 stay busy
  bool mac_busy = false;       // (2,0,0xB0) command bits never return to 0
  bool vlan_busy = false;      // (2,0,0xD0) command bits never return to 0
  bool arbiter_full = false;   // (5,0,12) never shows an empty port
  bool tx_busy = false;        // port register 0xC8 bit 8 stays set
};

struct MacEntry {
  bool valid = false;
  bool aged = false;
  uint32_t flags = 0;  // chipreg::kMacFlagBits of the command register: PGID and flags
  uint32_t high = 0;   // chipreg::kAnaMacHigh as learned
  uint32_t low = 0;    // chipreg::kAnaMacLow as learned
};

struct VlanEntry {
  uint32_t mask = 0;   // chip-port bit field
  uint32_t flags = 0;  // three flags
};

class ChipModel {
 public:
  ChipModel();

  // Power-on: every register to its default, tables and queues empty.
  void power_on();

  uint32_t read(unsigned block, unsigned subblock, unsigned reg);
  void write(unsigned block, unsigned subblock, unsigned reg, uint32_t value);
  // The stored word without side effects (dumps, tests).
  uint32_t peek(unsigned block, unsigned subblock, unsigned reg) const;

  // Parallel-bus indirect read: latch the register into the data register (7,0,0x2c) and raise the
  // done flag (7,0,0x30 bit 4) once `indirect_done_delay` status reads have passed.
  void start_indirect_read(unsigned block, unsigned subblock, unsigned reg);

  void set_chip_id(uint32_t value) { chip_id_ = value; }
  uint32_t chip_id() const { return chip_id_; }

  StuckBits stuck;
  unsigned indirect_done_delay = 0;
  // Reads of the MAC command register that still show a command busy after it was written (a slow
  // table); 0: commands complete at once.
  unsigned mac_busy_reads = 0;

  // MAC table: the bucket of (VID, MAC) and the entries, indexed 4 * bucket + slot.
  static unsigned mac_bucket(uint32_t vid, const uint8_t mac[6]);
  const MacEntry &mac_entry(unsigned index) const { return mac_table_[index % kMacEntries]; }
  const VlanEntry &vlan_entry(unsigned vid) const { return vlan_table_[vid % kVlans]; }

  // MIIM transfers (PHY register reads and writes) since power-on of the model object; for measurements.
  unsigned miim_transfers() const { return miim_transfers_; }
  // PHY on MIIM controller 0 or 1 at address 0..31.
  PhyModel &phy(unsigned controller, unsigned address) { return phys_[controller & 1][address & 31]; }

  // CPU receive: queue 1 or 2 gets `frame` as received on `chip_port` with tag control `tci`; false
  // (a drop) when the frame is too long for the receive window or the queue is full.
  bool inject_cpu_frame(unsigned queue, unsigned chip_port, const std::vector<uint8_t> &frame, uint16_t tci);
  size_t cpu_queue_length(unsigned queue) const { return cpu_queues_[queue == 2].size(); }
  unsigned cpu_drops() const { return cpu_drops_; }

  // CPU transmit: frames the chip sent out of a chip port, oldest first; taking them empties the list.
  std::vector<std::vector<uint8_t>> take_transmitted(unsigned chip_port);

  // A frame from the wire of a chip port, forwarded as the chip's registers say (forwarding.cpp):
  // VLAN classification, capture of reserved addresses to the CPU, learning, source, destination,
  // VLAN and aggregation masks, egress tagging.
  void receive_frame(unsigned chip_port, const std::vector<uint8_t> &frame);
  // Where frames leaving a chip port go (CPU transmit and forwarding); unset, they are kept for
  // take_transmitted.
  std::function<void(unsigned chip_port, const std::vector<uint8_t> &frame)> egress;
  // Hardware learning of `count` source addresses on a chip port, from `first_mac` on in ascending
  // order, as if frames from them had arrived: an address whose bucket is full is not taken and the
  // next one is tried, so up to `count` entries are added. Stops after 2^20 addresses; returns how many
  // entries were added.
  unsigned learn_addresses(unsigned chip_port, uint32_t vid, uint64_t first_mac, unsigned count);
  // Egress queue 0..3 the port's QoS registers give a frame received on `chip_port` (qos_model.cpp).
  unsigned classify_queue(unsigned chip_port, const std::vector<uint8_t> &frame) const;
  // Frames the forwarding dropped at ingress (port closed, malformed, oversized, filtered).
  unsigned ingress_drops() const { return ingress_drops_; }

  // Lines "block subblock register value" for every non-zero stored word of a block (all blocks when
  // block is above 7); the MAC and VLAN tables as lines of their valid entries.
  std::string dump_registers(unsigned block) const;
  std::string dump_mac_table() const;
  std::string dump_vlan_table() const;

 private:
  struct CpuFrame {
    std::vector<uint8_t> data;
    unsigned chip_port;
    uint16_t tci;
  };
  struct TxAssembly {
    std::vector<uint32_t> words;
  };

  static size_t index(unsigned block, unsigned subblock, unsigned reg);
  uint32_t &stored(unsigned block, unsigned subblock, unsigned reg) {
    return regs_[index(block, subblock, reg)];
  }
  uint32_t &stored(chipreg::Reg r) { return stored(r.block, r.subblock, r.reg); }
  uint32_t stored(chipreg::Reg r) const { return regs_[index(r.block, r.subblock, r.reg)]; }

  uint32_t read_system(unsigned reg);
  void write_system(unsigned reg, uint32_t value);
  void write_analyzer(unsigned reg, uint32_t value);
  uint32_t read_analyzer(unsigned reg);
  void write_miim(unsigned subblock, unsigned reg, uint32_t value);
  uint32_t read_miim(unsigned subblock, unsigned reg);
  void write_port(unsigned chip_port, unsigned reg, uint32_t value);
  uint32_t read_port(unsigned chip_port, unsigned reg);
  void write_cpu_queue(unsigned subblock, unsigned reg, uint32_t value);

  void mac_command(uint32_t command);
  void mac_learn(uint32_t flags);
  void mac_unlearn();
  void mac_age();
  void mac_read();
  int mac_find(uint32_t vid, const uint64_t mac) const;
  void raise_mac_event(uint32_t bit) { stored(chipreg::kAnaMacEvents) |= bit; }
  void vlan_command(uint32_t command);

  void cpu_queue_changed(unsigned queue);
  void cpu_tx_word(unsigned chip_port, uint32_t word);

  void reset_tables();

  void emit(unsigned chip_port, std::vector<uint8_t> frame);
  void hardware_learn(uint32_t vid, uint64_t mac, unsigned chip_port);
  uint32_t destination_mask(uint32_t vid, const std::vector<uint8_t> &frame, bool &copy_to_cpu) const;

  std::vector<uint32_t> regs_;
  uint32_t chip_id_ = kChipIdG5RevA;
  bool indirect_armed_ = false;
  unsigned mac_busy_left_ = 0;
  unsigned indirect_status_reads_ = 0;

  std::vector<MacEntry> mac_table_;
  std::vector<VlanEntry> vlan_table_;
  std::array<std::array<PhyModel, 32>, 2> phys_;
  std::array<std::deque<CpuFrame>, 2> cpu_queues_;
  std::array<unsigned, 2> cpu_queue_units_{};
  unsigned cpu_drops_ = 0;
  std::array<TxAssembly, kChipPorts> tx_assembly_;
  std::array<std::vector<std::vector<uint8_t>>, kChipPorts> transmitted_;
  unsigned ingress_drops_ = 0;
  unsigned miim_transfers_ = 0;
};

}  // namespace swchip
