// Text commands of the simulator's control socket: register access, dumps and fault injection.
//
//   read B S R                 -> "0x%08x"
//   write B S R V              -> "ok"
//   dump [B]                   -> one line per non-zero register: "B S 0xRR 0xVVVVVVVV"
//   fail KIND [block B] [count N]   KIND: any, spi-read, spi-write, bus-read, bus-write
//   fail off                   -> clears every failure rule
//   stick BIT on|off           BIT: done, miim, mac, vlan, arbiter, txbusy
//   phy C A absent|present     -> whether a PHY answers on MIIM controller C at address A
//   cable C A plug [ABILITIES] | cable C A unplug
//                              -> the PHY's cable, plugged to a partner with the abilities of
//                                 register 5 (bit 16: 1000 full; default all and both pauses)
//   cable C A describe METRES [PAIR=KIND[@M]]... [silent] [disturbed]
//                              -> the cable the PHY's echo canceller sees in a cable test: its length
//                                 and per pair A-D good (default), open@M or short@M metres away;
//                                 "silent": no noise on the taps (the test waits long for it);
//                                 "disturbed": every coarse search reports a disturbance
//   inject Q CHIPPORT HEX [TCI] -> queues a frame for the CPU on receive queue Q (1 or 2)
//   classify CHIPPORT HEX      -> "queue N": the egress queue the port's QoS settings give the frame
//   transmitted CHIPPORT       -> the frames the CPU sent out of a chip port, one hex line each
//   dump mac | dump vlan       -> the valid MAC table entries / the non-empty VLAN entries
//   learn CHIPPORT VID MAC COUNT -> hardware learning of COUNT new source addresses on a chip port,
//                                 from MAC (aa:bb:cc:dd:ee:ff) up, skipping full buckets: "ok N"
//   done-delay N               -> the indirect-read done flag shows after N status reads
//   mac-busy N                 -> a MAC table command shows busy for N reads of its register
//   chipid V                   -> the chip id register reads V
//   gpio-input V               -> levels of the CPU GPIO inputs
//   driver                     -> "spi-timing A B C cpu-gpio-direction 0x.. cpu-gpio-output 0x.."
//   exchanges                  -> driver requests and batches served so far, in decimal
//   power-on                   -> every register to its default
// A reply that starts with "error: " reports a rejected command.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chip_model.h"
#include "driver.h"

namespace swchip {

class Control {
 public:
  Control(ChipModel &chip, Driver &driver) : chip_(chip), driver_(driver) {}
  std::string execute(std::string_view line);

 private:
  // One handler per command (or family of commands); words[0] is the command.
  std::string registers(const std::vector<std::string> &words);  // read, write
  std::string dump(const std::vector<std::string> &words);
  std::string phy_presence(const std::vector<std::string> &words);
  std::string cable(const std::vector<std::string> &words);
  std::string describe_cable(const std::vector<std::string> &words);
  std::string inject(const std::vector<std::string> &words);
  std::string learn(const std::vector<std::string> &words);
  std::string classify(const std::vector<std::string> &words);
  std::string transmitted(const std::vector<std::string> &words);
  std::string fail(const std::vector<std::string> &words);
  std::string stick(const std::vector<std::string> &words);
  // done-delay, mac-busy, chipid, gpio-input: one number set on the chip or the driver.
  std::string set_value(const std::vector<std::string> &words);
  std::string driver_state(const std::vector<std::string> &words);
  std::string exchanges(const std::vector<std::string> &words);
  std::string power_on(const std::vector<std::string> &words);
  // The PHY named by words 1 and 2 (controller, address), or nullptr.
  PhyModel *parse_phy(const std::vector<std::string> &words);

  ChipModel &chip_;
  Driver &driver_;
};

}  // namespace swchip
