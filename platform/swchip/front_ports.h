// The simulator's six front ports on TAP devices: frames written into a TAP by the network stack on
// its other side enter the chip on that port; frames the chip sends out of the port are written into
// the TAP, padded to the 60 bytes of a minimal wire frame.
//
// Each TAP is the wire of its port's PHY: while the PHY has no link (cable pulled, powered down, no
// partner it agrees with) or is not mounted, the TAP has no carrier and no frame passes either way,
// so a peer sees the link go down as it would on the board.
#pragma once

#include <array>
#include <string>

#include "chip_model.h"

namespace swchip {

// Chip port of front port n (1..6): 0..4 for ports 1..5, 6 for port 6.
unsigned front_port_chip_port(unsigned port_no);
// PHY of front port n (1..6) as {MIIM controller, address}: {0, n - 1} for ports 1..5, {1, 3} for port 6.
struct PhyAddress {
  unsigned controller;
  unsigned address;
};
PhyAddress front_port_phy(unsigned port_no);

class FrontPorts {
 public:
  static constexpr unsigned kPorts = 6;

  explicit FrontPorts(ChipModel &chip) : chip_(chip) {}
  ~FrontPorts();
  FrontPorts(const FrontPorts &) = delete;
  FrontPorts &operator=(const FrontPorts &) = delete;

  // Creates (or attaches to) TAP devices prefix1..prefix6, brings them up and routes the chip's
  // egress to them. False with a message on failure (creating TAP devices needs CAP_NET_ADMIN).
  bool open(const std::string &prefix, std::string &error);

  int fd(unsigned index) const { return fds_[index]; }
  // Reads every frame waiting on port index 0..5 and hands it to the chip while the wire is up (and
  // drops it otherwise).
  void receive(unsigned index);
  // Gives each TAP the carrier of its PHY's link; call after anything that may have changed a PHY.
  void sync_carriers();
  // Whether port index 0..5 has a link on its PHY.
  bool wire_up(unsigned index);

 private:
  void transmit(unsigned chip_port, const std::vector<uint8_t> &frame);

  ChipModel &chip_;
  std::array<int, kPorts> fds_{-1, -1, -1, -1, -1, -1};
  // The carrier each TAP was given last; -1 before the first.
  std::array<int, kPorts> carriers_{-1, -1, -1, -1, -1, -1};
};

}  // namespace swchip
