#include "radius_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dot1x {
namespace {
constexpr unsigned kLevelEmerg = 0;
constexpr unsigned kLevelError = 3;
constexpr unsigned kLevelDebug = 7;
}  // namespace

RadiusClient::RadiusClient(Host host) : host_(std::move(host)) {}

RadiusClient::~RadiusClient() {
  close();
}

void RadiusClient::trace(unsigned level, const char *function, const char *format, ...) {
  if (!host_.trace) return;
  char text[200];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  host_.trace(level, function, text);
}

void RadiusClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool RadiusClient::open(std::uint32_t server_ip, std::uint16_t server_port) {
  close();
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    trace(kLevelEmerg, "ieee8021x_os_radius_network_init", "Error opening socket for RADIUS communication");
    return false;
  }
  char address[16];
  std::snprintf(address, sizeof address, "%u.%u.%u.%u", server_ip >> 24, (server_ip >> 16) & 255,
                (server_ip >> 8) & 255, server_ip & 255);
  trace(kLevelDebug, "ieee8021x_os_radius_network_init", "Configured RADIUS IP Addr %s, port %d", address,
        server_port);
  server_ip_ = server_ip;
  server_port_ = server_port;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
    trace(kLevelEmerg, "ieee8021x_os_radius_network_init", "Error binding socket for RADIUS communication");
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void RadiusClient::set_secret(std::string_view secret) {
  secret_ = secret;
  key_ = HmacMd5(secret);
}

void RadiusClient::forget_state(unsigned port) {
  ports_.at(port).state.clear();
}

bool RadiusClient::send_request(unsigned port, AccessRequestInput input) {
  Port &p = ports_.at(port);
  const auto identifier = static_cast<std::uint8_t>(last_identifier_ == 255 ? 1 : last_identifier_ + 1);
  Digest authenticator{};
  host_.random(authenticator);
  input.state = p.state;
  input.port = port;
  input.nas_ip = host_.nas_ip ? host_.nas_ip() : 0;
  auto packet = encode_access_request(input, identifier, authenticator, key_);
  if (!packet) {
    // A late reply to an earlier request must not be taken for an answer to this one.
    p.identifier = 0;
    p.last_request.clear();
    p.retries = 0;
    trace(kLevelError, "encapsulate_radius", "Port #%u - no request for an empty identity", port);
    return false;
  }
  last_identifier_ = identifier;
  p.identifier = identifier;
  p.authenticator = authenticator;
  p.last_request = std::move(*packet);
  trace(kLevelDebug, "encapsulate_radius", "encapsulate_radius, length %zu", p.last_request.size());
  trace(kLevelDebug, "encapsulate_radius", "---------------- radius id %d", p.identifier);
  p.retries = 3;
  transmit(port);
  return true;
}

void RadiusClient::retransmit(unsigned port) {
  Port &p = ports_.at(port);
  if (p.retries == 0 || p.last_request.empty()) return;
  --p.retries;
  trace(kLevelDebug, "ieee8021x_os_radius_retransmit", "Port #%u - %s", port,
        "Retransmission of RADIUS data");
  transmit(port);
}

void RadiusClient::transmit(unsigned port) {
  const auto &packet = ports_.at(port).last_request;
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_addr.s_addr = htonl(server_ip_);
  server.sin_port = htons(server_port_);
  ssize_t sent = fd_ < 0 ? -1
                         : ::sendto(fd_, packet.data(), packet.size(), 0,
                                    reinterpret_cast<sockaddr *>(&server), sizeof server);
  if (sent < 0)
    trace(kLevelEmerg, "ieee8021x_os_radius_network_send", "Error transmitting RADIUS frame, errno = %d",
          fd_ < 0 ? EBADF : errno);
  else
    trace(kLevelDebug, "ieee8021x_os_radius_network_send", "Transmitted %d bytes of RADIUS data",
          static_cast<int>(sent));
}

std::optional<RadiusClient::Delivery> RadiusClient::check_rx() {
  if (fd_ < 0) return std::nullopt;
  pollfd pfd{fd_, POLLIN, 0};
  if (::poll(&pfd, 1, 0) <= 0 || !(pfd.revents & POLLIN)) return std::nullopt;
  std::array<std::uint8_t, kRadiusMaxPacket> buffer;
  sockaddr_in source{};
  socklen_t source_length = sizeof source;
  ssize_t n =
      ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&source), &source_length);
  if (n < 1) {
    trace(kLevelEmerg, "ieee8021x_os_check_rx", "Error receiving RADIUS data, errno=%d", n < 0 ? errno : 0);
    return std::nullopt;
  }
  // Only the configured server answers: anyone else on the network could otherwise close a port's
  // request with a reply of its own.
  if (source_length < sizeof source || source.sin_family != AF_INET ||
      ntohl(source.sin_addr.s_addr) != server_ip_ || ntohs(source.sin_port) != server_port_) {
    trace(kLevelDebug, "ieee8021x_os_check_rx", "Dropping RADIUS data from a host other than the server");
    return std::nullopt;
  }
  trace(kLevelDebug, "ieee8021x_os_check_rx", "Incoming radius data, len %d", static_cast<int>(n));
  return datagram_received(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
}

std::optional<RadiusClient::Delivery> RadiusClient::datagram_received(
    std::span<const std::uint8_t> datagram) {
  auto identifier = reply_identifier(datagram);
  if (!identifier || *identifier == 0) return std::nullopt;
  unsigned port = 1;
  while (port <= kRadiusPorts && ports_[port].identifier != *identifier) ++port;
  if (port > kRadiusPorts) return std::nullopt;
  Port &p = ports_[port];
  // A forged datagram must not close the request it pretends to answer, so the request is closed
  // only once the reply proves to come from the server.
  auto reply = decode_reply(datagram, p.authenticator, key_, secret_);
  if (!reply) return std::nullopt;
  p.identifier = 0;
  p.retries = 0;
  trace(kLevelDebug, "ieee8021x_radius_data_received", "Incoming RADIUS data for this port, len %zu, %s",
        datagram.size(), radius_code_name(reply->code));
  if (reply->code == kRadiusAccessChallenge || reply->code == kRadiusAccessAccept ||
      reply->code == kRadiusAccessReject)
    p.state = reply->state;
  return Delivery{port, std::move(*reply)};
}

}  // namespace dot1x
