// What the protocol engines (LACP, RSTP) and the aggregation module need of the system they run in,
// for the front ports 1..6: addresses, link, speed and duplex, frames out, the spanning-tree state,
// the MAC table and the trace. portvisor implements it once over its swc_os_* callbacks; tests and
// fuzzers script it, so several engines can run back to back in one process.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace proto {

inline constexpr unsigned kFrontPorts = 6;

using Mac = std::array<uint8_t, 6>;

// The engines' spanning-tree states (dis, blk, lrn, fwd, enb).
enum StpState : uint8_t {
  kStpDisabled = 0,
  kStpBlocking = 1,
  kStpLearning = 2,
  kStpForwarding = 3,
  kStpEnabled = 4,
  kStpUnknown = 255  // an engine's port before it first sets a state
};

class PortServices {
 public:
  virtual ~PortServices() = default;

  virtual Mac port_mac(unsigned port) = 0;
  virtual Mac system_mac() = 0;
  virtual bool link_state(unsigned port) = 0;
  virtual unsigned link_speed(unsigned port) = 0;  // Mbit/s; 0 while the link is down
  virtual bool link_duplex(unsigned port) = 0;     // full duplex on a link that is up
  // The LACP operational key of a port: the configured key with the port's speed.
  virtual uint16_t make_key(unsigned port, uint16_t admin_key) = 0;

  // A buffer of `length` bytes to fill and hand to frame_send, or null when none is free.
  virtual uint8_t *frame_alloc(unsigned port, size_t length, void **buffer_ref) = 0;
  // Takes the buffer in every case; true when the frame was queued.
  virtual bool frame_send(unsigned port, uint8_t *frame, size_t length, void *buffer_ref) = 0;

  virtual void set_stpstate(unsigned port, StpState state) = 0;
  // The apply flag: whether the port's spanning-tree state reaches the chip.
  virtual int fwdstate(unsigned port) = 0;
  virtual void set_fwdstate(unsigned port, int flag) = 0;

  // Forgets learned addresses: of one port (flush_port) or all, in one VLAN (flush_vlan) or all.
  virtual void flush_fdb(int flush_port, unsigned port, int flush_vlan, unsigned vid) = 0;

  // One finished trace line of a module; the default prints it through the trace facility.
  virtual void trace(unsigned module, unsigned level, const char *function, int line, const char *text);
};

}  // namespace proto
