// Model of an Ethernet PHY as its MII management registers show it: identity, soft reset,
// autonegotiation or a forced mode against a link partner, power down, the latched-low link bit,
// register pages and the token-ring (TR) register file. Link changes take effect at once.
#pragma once

#include <array>
#include <cstdint>
#include <map>

#include "phy_echo.h"

namespace swchip {

// Partner abilities in the layout of register 5, plus one bit for 1000 Mbit/s full duplex.
inline constexpr uint32_t kAbility10Half = 0x20;
inline constexpr uint32_t kAbility10Full = 0x40;
inline constexpr uint32_t kAbility100Half = 0x80;
inline constexpr uint32_t kAbility100Full = 0x100;
inline constexpr uint32_t kAbilityPause = 0x400;
inline constexpr uint32_t kAbilityAsymPause = 0x800;
inline constexpr uint32_t kAbility1000Full = 0x10000;
inline constexpr uint32_t kAbilityAll = 0x10DE0;

inline constexpr uint16_t kPageTest = 0x2A30;
inline constexpr uint16_t kPageTr = 0x52B5;

class PhyModel {
 public:
  PhyModel() = default;
  PhyModel(uint16_t id2, uint16_t id3);

  bool mounted = false;
  // Status reads that still show the reset bit after a soft reset (a slow or stuck reset).
  unsigned reset_reads = 0;
  // Reads of register 28 after a cable test starts before the PHY shows the gigabit mode the test runs in.
  unsigned cable_test_settle_reads = 2;
  // Reads of the TR command register that still show a command busy after it was written.
  unsigned tr_busy_reads = 0;

  // The reset of the chip the PHY is part of: everything to its power-on state, the page included.
  void hardware_reset();

  uint16_t read(unsigned reg);
  void write(unsigned reg, uint16_t value);

  // The cable: plugged to a partner with the given abilities, or pulled.
  void plug(uint32_t partner_abilities);
  void unplug();

  bool link() const { return link_; }
  // Speed code of the link (1 10M, 2 100M, 3 1G) and duplex; 0 without link.
  unsigned speed() const { return link_ ? speed_ : 0; }
  bool full_duplex() const { return link_ && full_duplex_; }

  // The cable as the echo canceller sees it during a cable test (phy_echo.cpp).
  void describe_cable(const CableDescription &cable) { cable_description_ = cable; }
  const CableDescription &cable_description() const { return cable_description_; }
  // A cable test runs from the write of extended register 24 bit 15 until the test ends.
  bool cable_test_running() const;

  // Register of a page without side effects.
  uint16_t peek(uint16_t page, unsigned reg) const;
  uint32_t tr(uint16_t address) const;

 private:
  void power_on_defaults();
  void resolve();
  void set_link(bool up);
  uint16_t &at(uint16_t page, unsigned reg) { return pages_[page][reg & 31]; }
  uint16_t page() const { return page_; }
  // Families 1 and 2 reach the TR registers through page registers 0, 1, 2; the others through 16-18.
  unsigned tr_command_register() const;
  uint32_t tr_read_value(uint16_t address);
  // Family 1: an echo canceller command, answered in the packed read-back registers 20 down to 4.
  void echo_command(uint16_t value);
  void cable_test_write(uint16_t page, unsigned reg, uint16_t value);

  uint16_t id2_ = 0;
  uint16_t id3_ = 0;
  uint16_t page_ = 0;
  std::map<uint16_t, std::array<uint16_t, 32>> pages_;
  std::map<uint16_t, uint32_t> tr_;
  bool cable_ = true;
  uint32_t partner_ = kAbilityAll | kAbilityPause | kAbilityAsymPause;
  bool link_ = false;
  bool latched_down_ = true;
  unsigned speed_ = 0;
  bool full_duplex_ = false;
  bool aneg_complete_ = false;
  unsigned reset_reads_left_ = 0;
  CableDescription cable_description_;
  uint32_t echo_reads_ = 0;
  unsigned settle_left_ = 0;
  unsigned tr_busy_left_ = 0;
};

}  // namespace swchip
