// Server replies through the whole reply path: port 1 has an outstanding Access-Request, and the input
// (a code byte, then the attributes) is made into a reply to it, signed with the shared secret as the
// server would sign it, so the decoding and the machines behind it are reached, not only the checks.
#include "dot1x_radius.h"

#include "scripted_port_services.h"
#include "swc_types.h"
#include "trace.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using namespace dot1x;

constexpr const char *kSecret = "fuzz-secret";

struct ChipHost : Host {
  explicit ChipHost(proto_test::ScriptedPortServices &s) : services(s) {}
  void auth_state_set(unsigned, uint32_t state) override {
    if (state > SWC_AUTH_STATE_BOTH) std::abort();
  }
  bool link_state(unsigned port) override { return services.link[port]; }
  proto_test::ScriptedPortServices &services;
};

// Signs a reply like a server: the Message-Authenticator (when the attribute walk finds one of the
// right size), then the Response Authenticator.
void sign(std::vector<uint8_t> &p, const Digest &request_auth) {
  std::copy(request_auth.begin(), request_auth.end(), p.begin() + 4);
  for (size_t i = kRadiusHeader; i + 2 <= p.size() && p[i + 1] >= 2 && i + p[i + 1] <= p.size();
       i += p[i + 1])
    if (p[i] == kRadiusAttrMessageAuthenticator && p[i + 1] == 18) {
      std::fill(p.begin() + long(i) + 2, p.begin() + long(i) + 18, 0);
      const Digest ma = HmacMd5(kSecret)(p);
      std::copy(ma.begin(), ma.end(), p.begin() + long(i) + 2);
      break;
    }
  std::vector<uint8_t> input = p;
  input.insert(input.end(), kSecret, kSecret + std::strlen(kSecret));
  const Digest response = md5(input);
  std::copy(response.begin(), response.end(), p.begin() + 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool quiet = (trace_option_apply("all", "emerg"), true);
  (void)quiet;
  if (size < 1 || size > kRadiusMaxPacket - kRadiusHeader + 1) return 0;
  proto_test::ScriptedPortServices services(1);
  services.link[1] = true;
  ChipHost host(services);
  RadiusBackEnd back_end(services, [] { return 0x0A000001u; });
  Machines machines(services, host, back_end);
  back_end.attach(&machines);
  dot1x_defaults_clear();
  l2_dot1x_host_set(&host, &machines);
  swc_dot1x_set_portconfig(1, kAuto);
  SystemConfig system;
  system.enabled = 1;
  system.server = 0x7F000001;
  system.server_port = 9;
  std::strcpy(system.secret.data(), kSecret);
  uint8_t raw[kSystemConfigSize];
  encode_system(system, raw);
  swc_dot1x_set_systemconfig(raw);

  // The supplicant answers the Request/Identity, so port 1 waits for the server.
  const std::vector<uint8_t> &sent = services.sent.back().bytes;
  std::vector<uint8_t> frame(sent.begin(), sent.begin() + 18);
  const std::vector<uint8_t> eap{kEapResponse, sent.at(19), 0, 8, kEapTypeIdentity, 'b', 'o', 'b'};
  frame[17] = uint8_t(eap.size());
  frame.insert(frame.end(), eap.begin(), eap.end());
  machines.frame_received(1, frame);
  const std::vector<uint8_t> &request = back_end.client().last_request(1);
  if (request.size() < kRadiusHeader) std::abort();
  Digest request_auth{};
  std::copy(request.begin() + 4, request.begin() + 20, request_auth.begin());

  std::vector<uint8_t> reply(kRadiusHeader);
  reply[0] = data[0];
  reply[1] = request[1];
  reply.insert(reply.end(), data + 1, data + size);
  reply[2] = uint8_t(reply.size() >> 8);
  reply[3] = uint8_t(reply.size());
  sign(reply, request_auth);
  back_end.datagram_received(reply);
  for (int second = 0; second < 12; ++second) machines.tick();
  if (machines.port(1).eap.size() > kRadiusMaxPacket) std::abort();
  l2_dot1x_host_set(nullptr, nullptr);
  dot1x_defaults_clear();
  return 0;
}
