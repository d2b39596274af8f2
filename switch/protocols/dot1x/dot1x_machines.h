// The authenticator of each front port: the port access entity's machines (authenticator PAE, back-end
// authentication, re-authentication timer, key receive, controlled directions), EAPOL in and out, and the
// port's authorisation in the chip. Everything runs on the daemon's one thread: on frames, on server
// replies, on the one-second tick and on configuration changes.
#pragma once

#include "eapol_codec.h"
#include "l2_dot1x.h"
#include "port_services.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace dot1x {

enum PaeState : uint8_t {
  kPaeInitialize,
  kPaeDisconnected,
  kPaeRestart,
  kPaeConnecting,
  kPaeAuthenticating,
  kPaeAuthenticated,
  kPaeAborting,
  kPaeHeld,
  kPaeForceAuth,
  kPaeForceUnauth
};
enum BeState : uint8_t {
  kBeInitialize,
  kBeIdle,
  kBeRequest,
  kBeResponse,
  kBeIgnore,
  kBeSuccess,
  kBeTimeout,
  kBeFail
};
enum ReauthState : uint8_t { kReauthInitialize, kReauthReauthenticate };
enum KeyRxState : uint8_t { kKeyNoReceive, kKeyReceive };
enum CtrlDirState : uint8_t { kDirForceBoth, kDirInOrBoth };
enum Waiting : uint8_t { kWaitSupplicant, kWaitServer, kWaitNothing };

inline constexpr unsigned kReAuthMax = 2;
inline constexpr uint16_t kQuietPeriod = 60;
inline constexpr uint8_t kSuppTimeout = 10;
inline constexpr uint8_t kServerTimeout = 10;          // between retransmissions of a request
inline constexpr uint16_t kServerWait = (3 + 1) * 10;  // retransmissions + 1, times the server timeout
inline constexpr uint8_t kFirstEapTimeout = 10;
inline constexpr size_t kEapBufferSize = 1472;
inline constexpr unsigned kMaxRounds = 64;  // of one run of the machines; a real sequence takes a few

struct PortRecord {
  unsigned port = 0;
  PortStatus status;         // counters, supplicant, authorisation status
  std::vector<uint8_t> eap;  // to the supplicant, or the supplicant's response to the server
  uint8_t last_id = 0;
  Waiting waiting = kWaitNothing;
  uint16_t a_while = 0, quiet_while = 0, reauth_when = 0;
  uint8_t eap_timer = 0, supp_timer = 0, radius_timer = 0;
  uint32_t control = kForceAuthorized, mode = kForceAuthorized;
  unsigned reauth_count = 0;
  PaeState pae = kPaeInitialize;
  BeState be = kBeInitialize;
  ReauthState reauth = kReauthInitialize;
  KeyRxState key_rx = kKeyNoReceive;
  CtrlDirState ctrl_dir = kDirForceBoth;
  bool initialize = false, port_enabled = false, port_valid = true, eapol_start = false, eapol_logoff = false,
       eap_restart = false, reauthenticate = false, reauth_enabled = false, auth_start = false,
       auth_success = false, auth_fail = false, auth_timeout = false, auth_abort = false, eap_req = false,
       eap_no_req = false, eap_resp = false, eapol_eap = false, eap_success = false, eap_fail = false,
       eap_timeout = false, key_run = false, key_done = false, rx_key = false;
  bool identity_received = false, first_eap_timeout = true;
};

// The RADIUS side the back-end machine hands the supplicant's responses to.
class BackEnd {
 public:
  virtual ~BackEnd() = default;
  virtual void open() = 0;           // the socket towards the configured server
  virtual void reload_secret() = 0;  // the shared secret of the configuration
  // False when nothing could be sent: the attempt then fails as a server's reject would end it.
  virtual bool send_response(const PortRecord &port) = 0;
  virtual void forget_state(unsigned port) = 0;  // a new conversation starts
  virtual void retransmit(unsigned port) = 0;    // the outstanding request again, while retries remain
};

class Machines : public Authenticator {
 public:
  Machines(proto::PortServices &services, Host &host, BackEnd &back_end);

  // From the configuration module.
  void init() override;
  void port_control_changed(unsigned port) override;
  void reauth_changed(unsigned port, bool enabled, uint16_t period) override;
  void reinit_port(unsigned port) override;
  void mark_reauth(unsigned port) override;
  void radius_reopen() override { back_end_.open(); }
  void radius_reload_secret() override { back_end_.reload_secret(); }
  PortStatus port_status(unsigned port) override;

  // Link changes, EAPOL frames from the L2 dispatch and the one-second tick.
  void set_port_enabled(unsigned port, bool enabled);
  void frame_received(unsigned port, std::span<const uint8_t> frame);
  void tick();

  // The server's answer to a port's response: a challenge carries the next request, an accept or
  // reject the EAP-Success or Failure (empty when the server sent none).
  enum class Reply { kChallenge, kAccept, kReject };
  void server_reply(unsigned port, Reply reply, std::span<const uint8_t> eap);

  const PortRecord &port(unsigned port) const { return ports_.at(port); }

 private:
  bool enabled() const;
  void port_init(unsigned port);
  void run(PortRecord &p);
  void pulse_initialize(PortRecord &p);
  void set_authorized(PortRecord &p, bool authorized);
  void eap_restart(PortRecord &p);
  void start_eap_timer(PortRecord &p);
  void tx_eap(PortRecord &p);
  void tx_canned(PortRecord &p, uint8_t code);
  void send_eapol(PortRecord &p, std::span<const uint8_t> eap);
  void second_tick(PortRecord &p);
  void handle_eap(PortRecord &p, std::span<const uint8_t> body);
  void handle_eap_response(PortRecord &p, const EapPacket &eap);

  // One place per state for the entry actions, one per machine for the transitions.
  void enter_pae(PortRecord &p, PaeState next);
  bool step_pae(PortRecord &p);
  void enter_be(PortRecord &p, BeState next);
  bool step_be(PortRecord &p);
  void enter_reauth(PortRecord &p, ReauthState next);
  bool step_reauth(PortRecord &p);
  void enter_key_rx(PortRecord &p, KeyRxState next);
  bool step_key_rx(PortRecord &p);
  void enter_ctrl_dir(PortRecord &p, CtrlDirState next);
  bool step_ctrl_dir(PortRecord &p);

  proto::PortServices &services_;
  Host &host_;
  BackEnd &back_end_;
  std::array<PortRecord, kPorts + 1> ports_{};
};

}  // namespace dot1x
