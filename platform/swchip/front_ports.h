// The simulator's six front ports on TAP devices: frames written into a TAP by the network stack on
// its other side enter the chip on that port; frames the chip sends out of the port are written into
// the TAP, padded to the 60 bytes of a minimal wire frame.
#pragma once

#include <array>
#include <string>

#include "chip_model.h"

namespace swchip {

// Chip port of front port n (1..6): 0..4 for ports 1..5, 6 for port 6.
unsigned front_port_chip_port(unsigned port_no);

class FrontPorts {
 public:
  static constexpr unsigned kPorts = 6;

  explicit FrontPorts(ChipModel& chip) : chip_(chip) {}
  ~FrontPorts();
  FrontPorts(const FrontPorts&) = delete;
  FrontPorts& operator=(const FrontPorts&) = delete;

  // Creates (or attaches to) TAP devices prefix1..prefix6, brings them up and routes the chip's
  // egress to them. False with a message on failure (creating TAP devices needs CAP_NET_ADMIN).
  bool open(const std::string& prefix, std::string& error);

  int fd(unsigned index) const { return fds_[index]; }
  // Reads every frame waiting on port index 0..5 and hands it to the chip.
  void receive(unsigned index);

 private:
  void transmit(unsigned chip_port, const std::vector<uint8_t>& frame);

  ChipModel& chip_;
  std::array<int, kPorts> fds_{-1, -1, -1, -1, -1, -1};
};

}  // namespace swchip
