#include "phy_model.h"

namespace swchip {

namespace {
constexpr uint16_t kControlReset = 0x8000;
constexpr uint16_t kControlSpeed100 = 0x2000;
constexpr uint16_t kControlAneg = 0x1000;
constexpr uint16_t kControlPowerDown = 0x0800;
constexpr uint16_t kControlRestart = 0x0200;
constexpr uint16_t kControlFullDuplex = 0x0100;
constexpr uint16_t kControlSpeed1000 = 0x0040;
constexpr uint16_t kStatusAbilities = 0x7949;
constexpr uint16_t kStatusLink = 0x0004;
constexpr uint16_t kStatusAnegComplete = 0x0020;
}  // namespace

PhyModel::PhyModel(uint16_t id2, uint16_t id3) : mounted(true), id2_(id2), id3_(id3) {
  power_on_defaults();
}

void PhyModel::power_on_defaults() {
  pages_.clear();
  tr_.clear();
  page_ = 0;
  at(0, 0) = kControlAneg | kControlFullDuplex | kControlSpeed1000;
  at(0, 4) = 0x01E1 | 0x0C00;  // every 10/100 mode and both pause bits
  at(0, 9) = 0x0200;           // 1000 full
  at(0, 28) = 2 << 12;         // no crossover swap
  resolve();
}

uint16_t PhyModel::peek(uint16_t page, unsigned reg) const {
  const auto it = pages_.find(page);
  return it == pages_.end() ? 0 : it->second[reg & 31];
}

uint32_t PhyModel::tr(uint16_t address) const {
  const auto it = tr_.find(address);
  return it == tr_.end() ? 0 : it->second;
}

uint16_t PhyModel::read(unsigned reg) {
  reg &= 31;
  if (reg == 31) return page_;
  if (page_ == kPageTr && reg == tr_command_register() && tr_busy_left_ > 0) {
    --tr_busy_left_;
    return static_cast<uint16_t>(at(page_, reg) & ~0x8000u);
  }
  if (page_ != 0) return at(page_, reg);
  switch (reg) {
    case 0:
      if (reset_reads_left_ > 0) {
        --reset_reads_left_;
        return at(0, 0) | kControlReset;
      }
      return at(0, 0);
    case 1: {
      // Latched low: a link loss shows once, then the current state.
      const bool shown = link_ && !latched_down_;
      latched_down_ = false;
      return kStatusAbilities | (shown ? kStatusLink : 0) |
             (aneg_complete_ && link_ ? kStatusAnegComplete : 0);
    }
    case 2:
      return id2_;
    case 3:
      return id3_;
    case 5:
      return link_ && aneg_complete_ ? static_cast<uint16_t>(0x0001 | (partner_ & 0x0DE0)) : 0;
    case 10:
      return link_ && speed_ == 3 && aneg_complete_ ? 0x0800 : 0;
    case 28: {
      // During a cable test the PHY reports the gigabit mode the test runs in.
      uint16_t speed_bits = link_ ? static_cast<uint16_t>((speed_ - 1) << 3) : 0;
      if (cable_test_running()) {
        speed_bits = settle_left_ > 0 ? 0 : 2 << 3;
        if (settle_left_ > 0) --settle_left_;
      }
      return static_cast<uint16_t>((at(0, 28) & ~0x38u) | speed_bits | (full_duplex() ? 0x20 : 0));
    }
    default:
      return at(0, reg);
  }
}

void PhyModel::write(unsigned reg, uint16_t value) {
  reg &= 31;
  if (reg == 31) {
    page_ = value;
    return;
  }
  const unsigned command = tr_command_register();
  if (page_ == kPageTr && reg == command) {
    const uint16_t address = value & 0x1FFF;
    if ((value & 0xE000) == 0x8000) {
      tr_[address] = uint32_t{at(kPageTr, command + 2)} << 16 | at(kPageTr, command + 1);
    }
    if ((value & 0xE000) == 0xA000) {
      const uint32_t word = tr_read_value(address);
      at(kPageTr, command + 1) = static_cast<uint16_t>(word);
      at(kPageTr, command + 2) = static_cast<uint16_t>(word >> 16);
    }
    if ((value & 0xE000) == 0xE000 && command == 0) echo_command(value);
    at(kPageTr, reg) = value | 0x8000;  // done once tr_busy_reads reads have passed
    tr_busy_left_ = tr_busy_reads;
    cable_test_write(page_, reg, value);
    return;
  }
  if (page_ != 0) {
    at(page_, reg) = value;
    cable_test_write(page_, reg, value);
    return;
  }
  if (reg == 0 && (value & kControlReset)) {
    power_on_defaults();
    reset_reads_left_ = reset_reads;
    set_link(false);
    resolve();
    return;
  }
  at(0, reg) = value;
  if (reg == 0) {
    if (value & (kControlRestart | kControlAneg)) set_link(false);  // a restart renegotiates
    at(0, 0) &= static_cast<uint16_t>(~kControlRestart);
    resolve();
  }
}

void PhyModel::hardware_reset() {
  if (!mounted) return;
  power_on_defaults();
  reset_reads_left_ = reset_reads;
  set_link(false);
  resolve();
}

void PhyModel::plug(uint32_t partner_abilities) {
  cable_ = true;
  partner_ = partner_abilities;
  set_link(false);
  resolve();
}

void PhyModel::unplug() {
  cable_ = false;
  resolve();
}

void PhyModel::set_link(bool up) {
  if (link_ && !up) latched_down_ = true;
  link_ = up;
}

// The link the PHY and its partner agree on, from the control and advertisement registers.
void PhyModel::resolve() {
  const uint16_t control = at(0, 0);
  aneg_complete_ = false;
  if (!cable_ || (control & kControlPowerDown)) {
    set_link(false);
    return;
  }
  if (control & kControlAneg) {
    const uint32_t common = at(0, 4) & partner_ & 0x01E0;
    const bool gigabit = (at(0, 9) & 0x0200) && (partner_ & kAbility1000Full);
    if (gigabit) {
      speed_ = 3, full_duplex_ = true;
    } else if (common & kAbility100Full) {
      speed_ = 2, full_duplex_ = true;
    } else if (common & kAbility100Half) {
      speed_ = 2, full_duplex_ = false;
    } else if (common & kAbility10Full) {
      speed_ = 1, full_duplex_ = true;
    } else if (common & kAbility10Half) {
      speed_ = 1, full_duplex_ = false;
    } else {
      set_link(false);
      return;
    }
    aneg_complete_ = true;
    set_link(true);
    return;
  }
  speed_ = (control & kControlSpeed1000) ? 3 : (control & kControlSpeed100) ? 2 : 1;
  full_duplex_ = (control & kControlFullDuplex) != 0;
  static constexpr uint32_t kNeeded[2][4] = {{0, kAbility10Half, kAbility100Half, kAbility1000Full},
                                             {0, kAbility10Full, kAbility100Full, kAbility1000Full}};
  set_link((partner_ & kNeeded[full_duplex_][speed_]) != 0);
}

}  // namespace swchip
