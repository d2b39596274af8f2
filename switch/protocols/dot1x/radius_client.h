// The 802.1X back end's RADIUS client: one UDP socket for all ports, requests numbered by an 8-bit
// identifier that skips 0, and replies handed to the port whose outstanding request they answer.
// The socket is polled by its owner; nothing here waits.
#pragma once

#include "radius_codec.h"

#include <functional>

namespace dot1x {

inline constexpr unsigned kRadiusPorts = 6;

class RadiusClient {
 public:
  struct Host {
    // One trace line at a trace level (emerg 0 .. noise 8) under a function name.
    std::function<void(unsigned level, const char *function, const std::string &text)> trace;
    // Fills the request authenticator; it must be unpredictable to outsiders.
    std::function<void(Digest &)> random;
    // IPv4 address reported as NAS-IP-Address, asked for each request.
    std::function<std::uint32_t()> nas_ip;
  };
  struct Delivery {
    unsigned port;
    RadiusReply reply;
  };

  explicit RadiusClient(Host host);
  ~RadiusClient();
  RadiusClient(const RadiusClient &) = delete;
  RadiusClient &operator=(const RadiusClient &) = delete;

  // Closes any open socket, then opens and binds a new one towards the server; false on failure,
  // the socket staying closed.
  bool open(std::uint32_t server_ip, std::uint16_t server_port);
  void close();
  int fd() const { return fd_; }
  void set_secret(std::string_view secret);

  // Encapsulates the port's EAP response with the port's kept State and sends it. Ports 1..6. False
  // when no request can be made of it (an empty user name): nothing is sent, and the port then has no
  // request outstanding.
  bool send_request(unsigned port, AccessRequestInput input);
  // Sends the port's kept request again while retries remain.
  void retransmit(unsigned port);
  // Reads one datagram when the socket is readable; the reply it carries, if it is a valid answer.
  std::optional<Delivery> check_rx();
  // Matches and verifies one datagram; the outstanding request it answers is then closed.
  std::optional<Delivery> datagram_received(std::span<const std::uint8_t> datagram);

  // A restart of the conversation forgets the server's State.
  void forget_state(unsigned port);
  std::uint8_t outstanding_identifier(unsigned port) const { return ports_.at(port).identifier; }
  const std::vector<std::uint8_t> &last_request(unsigned port) const { return ports_.at(port).last_request; }

 private:
  struct Port {
    std::uint8_t identifier = 0;  // of the outstanding request, 0 = none
    Digest authenticator{};
    std::vector<std::uint8_t> state;
    std::vector<std::uint8_t> last_request;
    std::uint8_t retries = 0;
  };
  void transmit(unsigned port);
  void trace(unsigned level, const char *function, const char *format, ...)
      __attribute__((format(printf, 4, 5)));

  Host host_;
  int fd_ = -1;
  std::uint32_t server_ip_ = 0;
  std::uint16_t server_port_ = 0;
  std::string secret_;
  HmacMd5 key_;
  std::uint8_t last_identifier_ = 0;
  std::array<Port, kRadiusPorts + 1> ports_{};
};

}  // namespace dot1x
