#include "dot1x_radius.h"

#include "trace.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <openssl/rand.h>

#include <cstring>
#include <string>

namespace dot1x {

namespace {

RadiusClient::Host client_host(std::function<uint32_t()> nas_ip) {
  return RadiusClient::Host{[](unsigned level, const char *function, const std::string &text) {
                              trace_printf(trace::kDot1x, function, nullptr, __LINE__, 0, 0, level, "%s",
                                           text.c_str());
                            },
                            [](Digest &d) {
                              // Request authenticators must be unpredictable: a guessed one lets an outsider forge replies.
                              if (RAND_bytes(d.data(), int(d.size())) != 1)
                                trace_printf(trace::kDot1x, __func__, nullptr, __LINE__, 0, 0, trace::kEmerg,
                                             "No random bytes for the RADIUS authenticator");
                            },
                            std::move(nas_ip)};
}

SystemConfig system_config() {
  uint8_t raw[kSystemConfigSize];
  swc_dot1x_get_systemconfig(raw);
  return decode_system(raw);
}

}  // namespace

uint32_t interface_ipv4(const char *name) {
  ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0) return 0;
  uint32_t address = 0;
  for (ifaddrs *a = list; a; a = a->ifa_next)
    if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET && std::strcmp(a->ifa_name, name) == 0) {
      address = ntohl(reinterpret_cast<const sockaddr_in *>(a->ifa_addr)->sin_addr.s_addr);
      break;
    }
  freeifaddrs(list);
  return address;
}

RadiusBackEnd::RadiusBackEnd(proto::PortServices &services, std::function<uint32_t()> nas_ip)
    : services_(services), client_(client_host(std::move(nas_ip))) {}

void RadiusBackEnd::open() {
  const SystemConfig c = system_config();
  client_.open(c.server, c.server_port);
}

void RadiusBackEnd::reload_secret() {
  client_.set_secret(system_config().secret.data());
}

bool RadiusBackEnd::send_response(const PortRecord &p) {
  AccessRequestInput input;
  input.eap = p.eap;
  input.user_name = p.status.identity.data();
  input.port = p.port;
  input.supplicant = p.status.mac;
  input.system = services_.system_mac();
  return client_.send_request(p.port, input);
}

void RadiusBackEnd::check_rx() {
  if (auto delivery = client_.check_rx()) deliver(*delivery);
}

void RadiusBackEnd::datagram_received(std::span<const uint8_t> datagram) {
  if (auto delivery = client_.datagram_received(datagram)) deliver(*delivery);
}

void RadiusBackEnd::deliver(const RadiusClient::Delivery &d) {
  if (!machines_ || !system_config().enabled) return;
  switch (d.reply.code) {
    case kRadiusAccessChallenge:
      machines_->server_reply(d.port, Machines::Reply::kChallenge, d.reply.eap);
      break;
    case kRadiusAccessAccept:
      machines_->server_reply(d.port, Machines::Reply::kAccept, d.reply.eap);
      break;
    case kRadiusAccessReject:
      machines_->server_reply(d.port, Machines::Reply::kReject, d.reply.eap);
      break;
    default:
      break;  // answers nothing the machines wait for
  }
}

}  // namespace dot1x
