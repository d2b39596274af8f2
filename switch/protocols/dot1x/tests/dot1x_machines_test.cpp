// The port machines driven by scripted supplicant frames, a scripted back end and the one-second tick.
#include "dot1x_machines.h"

#include "conf.h"
#include "scripted_port_services.h"
#include "swc_types.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dot1x::test {
namespace {

constexpr MacAddress kSupplicant{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

struct ChipHost : Host {
  explicit ChipHost(proto_test::ScriptedPortServices &s) : services(s) {}
  void auth_state_set(unsigned port, uint32_t state) override { auth[port] = state; }
  bool link_state(unsigned port) override { return services.link[port]; }
  proto_test::ScriptedPortServices &services;
  std::array<uint32_t, kPorts + 1> auth{2, 2, 2, 2, 2, 2, 2};
};

struct ScriptedBackEnd : BackEnd {
  void open() override { ++opens; }
  void reload_secret() override { ++reloads; }
  bool send_response(const PortRecord &p) override {
    responses.push_back({p.port, p.eap});
    return sendable;
  }
  bool sendable = true;
  void forget_state(unsigned) override { ++forgets; }
  void retransmit(unsigned port) override { retransmits.push_back(port); }
  int opens = 0, reloads = 0, forgets = 0;
  std::vector<unsigned> retransmits;
  std::vector<std::pair<unsigned, std::vector<uint8_t>>> responses;
};

class Machine : public ::testing::Test {
 protected:
  void SetUp() override {
    dot1x_defaults_clear();
    l2_dot1x_host_set(&host, &machines);
    services.link[1] = services.link[2] = true;
  }
  void TearDown() override {
    l2_dot1x_host_set(nullptr, nullptr);
    dot1x_defaults_clear();
  }
  // 802.1X on with the given controls of ports 1 and 2.
  void enable(uint32_t control1 = kAuto, uint32_t control2 = kForceAuthorized) {
    swc_dot1x_set_portconfig(1, control1);
    swc_dot1x_set_portconfig(2, control2);
    SystemConfig c;
    c.enabled = 1;
    uint8_t raw[kSystemConfigSize];
    encode_system(c, raw);
    swc_dot1x_set_systemconfig(raw);
  }
  static std::vector<uint8_t> eapol(uint8_t type, std::vector<uint8_t> body = {}) {
    std::vector<uint8_t> f{0x01, 0x80, 0xc2, 0x00, 0x00, 0x03};
    f.insert(f.end(), kSupplicant.begin(), kSupplicant.end());
    f.insert(f.end(), {0x88, 0x8e, 2, type, uint8_t(body.size() >> 8), uint8_t(body.size())});
    f.insert(f.end(), body.begin(), body.end());
    return f;
  }
  static std::vector<uint8_t> response(uint8_t id, uint8_t type, const std::string &data) {
    std::vector<uint8_t> eap{kEapResponse, id, 0, uint8_t(5 + data.size()), type};
    eap.insert(eap.end(), data.begin(), data.end());
    return eapol(kEapolEapPacket, eap);
  }
  // The EAP packet of the last frame sent on a port.
  std::vector<uint8_t> last_eap(unsigned port) {
    for (auto it = services.sent.rbegin(); it != services.sent.rend(); ++it)
      if (it->port == port) return std::vector<uint8_t>(it->bytes.begin() + kEapolHeader, it->bytes.end());
    return {};
  }
  void receive(unsigned port, const std::vector<uint8_t> &frame) { machines.frame_received(port, frame); }
  void ticks(unsigned n) {
    for (unsigned i = 0; i < n; ++i) machines.tick();
  }
  // Identity, one challenge and an accept on port 1.
  void authenticate() {
    const uint8_t id = last_eap(1).at(1);
    receive(1, response(id, kEapTypeIdentity, "alice"));
    const std::vector<uint8_t> challenge{kEapRequest, uint8_t(id + 1), 0, 6, 4, 0x10};
    machines.server_reply(1, Machines::Reply::kChallenge, challenge);
    receive(1, response(uint8_t(id + 1), 4, "md5"));
    const std::vector<uint8_t> success{kEapSuccess, uint8_t(id + 1), 0, 4};
    machines.server_reply(1, Machines::Reply::kAccept, success);
  }

  proto_test::ScriptedPortServices services{1};
  ChipHost host{services};
  ScriptedBackEnd back_end;
  Machines machines{services, host, back_end};
};

TEST_F(Machine, EnablingSendsRequestIdentityAndClosesAutomaticPorts) {
  enable();
  EXPECT_EQ(back_end.opens, 1);
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating);
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_NONE);
  const auto eap = last_eap(1);
  ASSERT_EQ(eap.size(), 5u);
  EXPECT_EQ(eap[0], kEapRequest);
  EXPECT_EQ(eap[4], kEapTypeIdentity);
  EXPECT_EQ(services.sent[0].bytes[6], 0x02) << "sent from the port's own address";
  EXPECT_EQ(machines.port(2).pae, kPaeForceAuth);
  EXPECT_EQ(host.auth[2], SWC_AUTH_STATE_BOTH);
  EXPECT_EQ(last_eap(2).at(0), kEapSuccess) << "canned success";
  EXPECT_EQ(machines.port(3).pae, kPaeInitialize) << "no link";
  EXPECT_EQ(machines.port_status(1).eapol[6], 1) << "Request/Identity sent";
}

TEST_F(Machine, SuccessfulExchangeAuthorisesAndCounts) {
  enable();
  authenticate();
  const PortRecord &p = machines.port(1);
  EXPECT_EQ(p.pae, kPaeAuthenticated);
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_BOTH);
  ASSERT_EQ(back_end.responses.size(), 2u);
  EXPECT_EQ(back_end.responses[0].second[4], kEapTypeIdentity);
  EXPECT_EQ(last_eap(1).at(0), kEapSuccess);
  EXPECT_STREQ(p.status.identity.data(), "alice");
  EXPECT_TRUE(p.status.mac_seen);
  EXPECT_EQ(p.status.mac, kSupplicant);
  EXPECT_EQ(p.status.pae[0], 1) << "entered connecting once";
  EXPECT_EQ(p.status.pae[2], 1) << "entered authenticating";
  EXPECT_EQ(p.status.pae[3], 1) << "success";
  EXPECT_EQ(p.status.backend[0], 2) << "responses";
  EXPECT_EQ(p.status.backend[1], 1) << "challenge";
  EXPECT_EQ(p.status.backend[3], 1) << "back-end success";
  EXPECT_EQ(p.status.eapol[0], 2) << "frames received";
  EXPECT_EQ(p.status.eapol[10], 2) << "last version";
}

TEST_F(Machine, RejectHoldsThePortClosedForTheQuietPeriod) {
  enable();
  const uint8_t id = last_eap(1).at(1);
  receive(1, response(id, kEapTypeIdentity, "alice"));
  const std::vector<uint8_t> failure{kEapFailure, id, 0, 4};
  machines.server_reply(1, Machines::Reply::kReject, failure);
  EXPECT_EQ(machines.port(1).pae, kPaeHeld);
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_NONE);
  EXPECT_EQ(last_eap(1).at(0), kEapFailure);
  EXPECT_EQ(machines.port(1).status.pae[5], 1);
  ticks(kQuietPeriod - 1);
  EXPECT_EQ(machines.port(1).pae, kPaeHeld);
  ticks(1);
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating) << "a new attempt after the quiet period";
}

TEST_F(Machine, LogoffAndLinkDownCloseThePortAndLinkUpRestarts) {
  enable();
  authenticate();
  receive(1, eapol(kEapolLogoff));
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_NONE);
  EXPECT_EQ(machines.port(1).status.pae[10], 1) << "logoff while authenticated";
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating);
  authenticate();
  ASSERT_EQ(host.auth[1], SWC_AUTH_STATE_BOTH);
  const size_t sent = services.sent.size();
  services.link[1] = false;
  machines.set_port_enabled(1, false);
  EXPECT_EQ(machines.port(1).pae, kPaeInitialize);
  services.link[1] = true;
  machines.set_port_enabled(1, true);
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_NONE);
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating);
  EXPECT_GT(services.sent.size(), sent) << "a new Request/Identity";
  EXPECT_EQ(machines.port(1).eap_timer, kFirstEapTimeout) << "first timeout after a port change";
}

TEST_F(Machine, StartOnAnAuthenticatedPortReauthenticatesWithoutClosing) {
  enable();
  authenticate();
  receive(1, eapol(kEapolStart));
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating);
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_BOTH);
  EXPECT_EQ(machines.port(1).status.pae[9], 1);
}

TEST_F(Machine, PeriodicReauthenticationKeepsThePortOpen) {
  ParamConfig param{5, 1, 30};
  uint8_t raw[kParamConfigSize];
  encode_param(param, raw);
  swc_dot1x_set_paramconfig(raw);
  enable();
  authenticate();
  ticks(4);
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticated);
  ticks(1);
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating);
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_BOTH);
  EXPECT_EQ(machines.port(1).status.pae[8], 1);
}

// The configuration refuses a period of 0; should one reach the machines anyway, the re-authentication
// timer flips between its states on every round, and a call must still return.
TEST_F(Machine, MachinesThatNeverSettleStillReturnAndSayWhy) {
  ParamConfig param{0, 1, 30};
  uint8_t raw[kParamConfigSize];
  encode_param(param, raw);
  swc_dot1x_set_paramconfig(raw);
  enable();
  testing::internal::CaptureStdout();
  authenticate();
  ticks(2);
  const std::string traced = testing::internal::GetCapturedStdout();
  EXPECT_NE(traced.find("Port #1 - machines still changing after"), std::string::npos) << traced;
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_BOTH) << "the port stays authorised";
  EXPECT_EQ(machines.port(2).pae, kPaeForceAuth) << "the other ports are served";
}

TEST_F(Machine, ReauthNowAndLaterFromTheManagementObject) {
  enable();
  authenticate();
  machines.mark_reauth(1);
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticated) << "later: at the next run";
  ticks(1);
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating);
  authenticate();
  machines.reinit_port(1);
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating);
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_NONE) << "now: the port starts over";
}

TEST_F(Machine, ThirdConnectingPassesThroughDisconnected) {
  enable();
  for (unsigned i = 0; i < 2; ++i) receive(1, eapol(kEapolStart));  // restarts without authenticating
  const PortRecord &p = machines.port(1);
  EXPECT_EQ(p.pae, kPaeAuthenticating);
  EXPECT_EQ(p.reauth_count, 1u) << "count back to 0 through DISCONNECTED, then 1";
  EXPECT_EQ(p.status.pae[0], 4u) << "enable, first start, third entry, fresh attempt";
  EXPECT_EQ(p.status.pae[6], 2u) << "starts while authenticating";
}

TEST_F(Machine, SupplicantSilenceResendsThenTimesOut) {
  enable();
  const uint8_t id = last_eap(1).at(1);
  receive(1, response(id, kEapTypeIdentity, "alice"));
  const std::vector<uint8_t> challenge{kEapRequest, uint8_t(id + 1), 0, 6, 4, 0x10};
  machines.server_reply(1, Machines::Reply::kChallenge, challenge);
  const size_t sent = services.sent.size();
  ticks(kSuppTimeout);
  EXPECT_EQ(services.sent.size(), sent + 1) << "the request again";
  EXPECT_EQ(last_eap(1), challenge);
}

TEST_F(Machine, AResponseTheBackEndCannotSendFailsTheAttemptAtOnce) {
  enable();
  back_end.sendable = false;
  receive(1, response(last_eap(1).at(1), kEapTypeIdentity, ""));
  const PortRecord &p = machines.port(1);
  EXPECT_EQ(p.pae, kPaeHeld);
  EXPECT_EQ(p.status.backend[4], 1) << "a back-end failure";
  EXPECT_EQ(last_eap(1).at(0), kEapFailure) << "canned failure";
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_NONE);
  ticks(kServerTimeout);
  EXPECT_TRUE(back_end.retransmits.empty()) << "nothing waits for the server";
}

TEST_F(Machine, ServerSilenceEndsTheAttemptAfterAWhile) {
  enable();
  receive(1, response(last_eap(1).at(1), kEapTypeIdentity, "alice"));
  ticks(kServerTimeout - 1);
  EXPECT_TRUE(back_end.retransmits.empty());
  ticks(1);
  EXPECT_EQ(back_end.retransmits, std::vector<unsigned>{1}) << "the request again after 10 s";
  ticks(kServerWait - kServerTimeout - 1);
  EXPECT_EQ(back_end.retransmits.size(), 3u) << "every 10 s while waiting";
  EXPECT_EQ(machines.port(1).be, kBeResponse);
  ticks(1);
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating) << "aborted and restarted";
  EXPECT_EQ(machines.port(1).status.pae[4], 1) << "time-out while authenticating";
}

TEST_F(Machine, BadFramesAreCountedAndChangeNothing) {
  enable();
  const PaeState before = machines.port(1).pae;
  receive(1, response(uint8_t(last_eap(1).at(1) + 7), kEapTypeIdentity, "bob"));
  EXPECT_TRUE(back_end.responses.empty()) << "wrong identifier";
  auto truncated = eapol(kEapolEapPacket, {kEapResponse, 1, 0, 9, 1});
  truncated[17] = 200;  // body length past the frame
  receive(1, truncated);
  const auto start = eapol(kEapolStart);
  receive(1, std::vector<uint8_t>(start.begin(), start.begin() + 17));
  receive(1, eapol(9));
  auto long_eap = eapol(kEapolEapPacket, {kEapResponse, 1, 0, 40, 1});
  receive(1, long_eap);  // EAP length beyond the body
  receive(7, eapol(kEapolStart));
  const PortRecord &p = machines.port(1);
  EXPECT_EQ(p.pae, before);
  EXPECT_EQ(p.status.eapol[9], 2) << "length errors";
  EXPECT_EQ(p.status.eapol[8], 1) << "invalid type";
  EXPECT_TRUE(back_end.responses.empty());
}

TEST_F(Machine, LongIdentityIsReplacedByTheSupplicantAddress) {
  enable();
  receive(1, response(last_eap(1).at(1), kEapTypeIdentity, std::string(40, 'a')));
  EXPECT_STREQ(machines.port(1).status.identity.data(), "02:11:22:33:44:55");
}

TEST_F(Machine, ForcedControlsAnswerStartsAndDisableStopsFrames) {
  enable(kForceUnauthorized, kForceAuthorized);
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_NONE);
  EXPECT_EQ(last_eap(1).at(0), kEapFailure);
  const size_t sent = services.sent.size();
  receive(2, eapol(kEapolStart));
  ASSERT_EQ(services.sent.size(), sent + 1);
  EXPECT_EQ(last_eap(2).at(0), kEapSuccess);
  swc_dot1x_set_portconfig(1, kAuto);
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating);

  SystemConfig off;
  uint8_t raw[kSystemConfigSize];
  encode_system(off, raw);
  swc_dot1x_set_systemconfig(raw);
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_BOTH);
  const size_t before = services.sent.size();
  receive(1, eapol(kEapolStart));
  ticks(100);
  EXPECT_EQ(services.sent.size(), before) << "disabled: frames dropped, timers stopped";
}

// With 802.1X off nothing runs the machines, a re-authentication at once included: it would close an
// automatic port that 802.1X no longer guards.
TEST_F(Machine, ReauthNowWhileSwitchedOffLeavesThePortOpenAndSilent) {
  enable();
  const uint8_t connecting = machines.port(1).status.pae[0];
  SystemConfig off;
  uint8_t raw[kSystemConfigSize];
  encode_system(off, raw);
  swc_dot1x_set_systemconfig(raw);
  ASSERT_EQ(host.auth[1], SWC_AUTH_STATE_BOTH);
  const size_t sent = services.sent.size();
  machines.reinit_port(1);
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_BOTH);
  EXPECT_EQ(services.sent.size(), sent) << "no Request/Identity";
  EXPECT_EQ(machines.port(1).status.pae[0], connecting);

  enable();
  EXPECT_EQ(host.auth[1], SWC_AUTH_STATE_NONE) << "switched on again, the port is guarded";
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating);
}

TEST_F(Machine, NoBufferLosesTheFrameQuietly) {
  services.alloc_ok = false;
  enable();
  EXPECT_TRUE(services.sent.empty());
  EXPECT_EQ(machines.port(1).pae, kPaeAuthenticating);
}

}  // namespace
}  // namespace dot1x::test
