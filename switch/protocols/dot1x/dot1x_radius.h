// The back end of the port machines on the RADIUS client: the supplicant's responses go to the
// configured server, and the server's replies, polled once per pass of the main loop, become the
// machines' variables.
#pragma once

#include "dot1x_machines.h"
#include "radius_client.h"

#include <functional>

namespace dot1x {

class RadiusBackEnd : public BackEnd {
 public:
  // `nas_ip`: the address reported as NAS-IP-Address, asked for each request.
  RadiusBackEnd(proto::PortServices &services, std::function<uint32_t()> nas_ip);
  void attach(Machines *machines) { machines_ = machines; }

  void open() override;
  void reload_secret() override;
  bool send_response(const PortRecord &port) override;
  void forget_state(unsigned port) override { client_.forget_state(port); }
  void retransmit(unsigned port) override { client_.retransmit(port); }

  // One pass: reads at most one datagram when the socket is readable, never waits.
  void check_rx();
  // A datagram as if it had come from the server (fuzzing and tests of the reply path).
  void datagram_received(std::span<const uint8_t> datagram);
  RadiusClient &client() { return client_; }

 private:
  void deliver(const RadiusClient::Delivery &delivery);

  proto::PortServices &services_;
  RadiusClient client_;
  Machines *machines_ = nullptr;
};

// The IPv4 address of a network interface in host order, 0 when it has none.
uint32_t interface_ipv4(const char *name);

}  // namespace dot1x
