#include "dot1x_machines.h"

#include "swc_types.h"
#include "trace.h"

#include <cstdio>
#include <cstring>

namespace dot1x {

namespace {

#define DTRACE(level, ...) trace_printf(trace::kDot1x, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

// Status counter slots.
enum PaeCounter {
  kEntersConnecting,
  kLogoffsConnecting,
  kEntersAuthenticating,
  kSuccessesAuthenticating,
  kTimeoutsAuthenticating,
  kFailsAuthenticating,
  kStartsAuthenticating,
  kLogoffsAuthenticating,
  kReauthsAuthenticated,
  kStartsAuthenticated,
  kLogoffsAuthenticated
};
enum EapolCounter {
  kFramesRx,
  kFramesTx,
  kStartRx,
  kLogoffRx,
  kRespIdRx,
  kRespRx,
  kReqIdTx,
  kReqTx,
  kInvalidRx,
  kLengthErrorRx,
  kLastVersion
};
enum BackendCounter { kBeResponses, kBeChallenges, kBeOtherRequests, kBeSuccesses, kBeFails };

const char *const kPaeNames[] = {"INITIALIZE",    "DISCONNECTED", "RESTART", "CONNECTING", "AUTHENTICATING",
                                 "AUTHENTICATED", "ABORTING",     "HELD",    "FORCE_AUTH", "FORCE_UNAUTH"};
const char *const kBeNames[] = {"INITIALIZE", "IDLE",    "REQUEST", "RESPONSE",
                                "IGNORE",     "SUCCESS", "TIMEOUT", "FAIL"};
const char *const kReauthNames[] = {"INITIALIZE", "REAUTHENTICATE"};
const char *const kKeyRxNames[] = {"NO_KEY_RECEIVE", "KEY_RECEIVE"};
const char *const kCtrlDirNames[] = {"FORCE_BOTH", "IN_OR_BOTH"};

void trace_entry(const PortRecord &p, bool changed, const char *machine, const char *state) {
  if (changed)
    trace_printf(trace::kDot1x, machine, nullptr, __LINE__, 0, 0, trace::kNoise, "Port #%d - %s -> %s",
                 int(p.port), machine, state);
}

void count(uint8_t &counter) {
  ++counter;
}  // 8 bits, wrapping

bool is_request(const std::vector<uint8_t> &eap) {
  return eap.size() >= kEapHeader && eap[0] == kEapRequest;
}
bool is_identity_request(const std::vector<uint8_t> &eap) {
  return is_request(eap) && eap.size() > kEapHeader && eap[4] == kEapTypeIdentity;
}

}  // namespace

Machines::Machines(proto::PortServices &services, Host &host, BackEnd &back_end)
    : services_(services), host_(host), back_end_(back_end) {
  for (unsigned port = 1; port <= kPorts; ++port) ports_[port].port = port;
}

bool Machines::enabled() const {
  uint8_t system[kSystemConfigSize];
  swc_dot1x_get_systemconfig(system);
  return system[0] != 0;
}

void Machines::init() {
  DTRACE(trace::kInfo, "Initializing");
  back_end_.reload_secret();
  back_end_.open();
  for (unsigned port = 1; port <= kPorts; ++port) port_init(port);
}

void Machines::port_init(unsigned port) {
  PortRecord &p = ports_[port];
  p.port = port;
  p.first_eap_timeout = true;
  p.last_id = 0;
  p.pae = kPaeInitialize;
  p.key_rx = kKeyNoReceive;
  p.reauth = kReauthInitialize;
  p.be = kBeInitialize;
  uint8_t param[kParamConfigSize];
  swc_dot1x_get_paramconfig(param);
  p.reauth_enabled = decode_param(param).reauth_enabled != 0;
  p.port_enabled = host_.link_state(port);
  swc_dot1x_get_portconfig(port, &p.control);
  p.port_valid = true;
  p.a_while = p.quiet_while = p.reauth_when = 0;
  if (enabled()) {
    DTRACE(trace::kDebug, "Resetting 802.1x SM for port %d", int(port));
    pulse_initialize(p);
  }
}

void Machines::pulse_initialize(PortRecord &p) {
  p.initialize = true;
  run(p);
  p.initialize = false;
  run(p);
}

void Machines::set_port_enabled(unsigned port, bool up) {
  if (port < 1 || port > kPorts) return;
  PortRecord &p = ports_[port];
  p.port_enabled = up;
  if (!up) p.first_eap_timeout = true;
  if (!enabled()) return;
  DTRACE(trace::kInfo, "Port #%d - %s", int(port), up ? "New state: enabled" : "New state: disabled");
  run(p);
}

void Machines::port_control_changed(unsigned port) {
  PortRecord &p = ports_.at(port);
  swc_dot1x_get_portconfig(port, &p.control);
  if (enabled()) run(p);
}

void Machines::reauth_changed(unsigned port, bool on, uint16_t period) {
  PortRecord &p = ports_.at(port);
  p.reauth_enabled = on;
  p.reauth_when = on ? period : 0;
}

// With 802.1X off the port is open and nothing runs its machines: starting them over would close it.
void Machines::reinit_port(unsigned port) {
  if (enabled()) pulse_initialize(ports_.at(port));
}
void Machines::mark_reauth(unsigned port) {
  ports_.at(port).reauthenticate = true;
}

PortStatus Machines::port_status(unsigned port) {
  return ports_.at(port).status;
}

void Machines::set_authorized(PortRecord &p, bool authorized) {
  p.status.auth_status = authorized ? kAuthorized : kUnauthorized;
  host_.auth_state_set(p.port, authorized ? SWC_AUTH_STATE_BOTH : SWC_AUTH_STATE_NONE);
}

// Each round lets every machine take at most one transition; the machines settle when a round changes
// no state. Machines that never settle (two states that keep handing over to each other) must not hold
// the daemon's one thread: the rounds stop at a bound far above any real sequence, and the next event
// or tick goes on from there.
void Machines::run(PortRecord &p) {
  for (unsigned round = 0; round < kMaxRounds; ++round) {
    bool changed = step_pae(p);
    changed |= step_be(p);
    changed |= step_reauth(p);
    changed |= step_key_rx(p);
    changed |= step_ctrl_dir(p);
    if (!changed) return;
  }
  DTRACE(trace::kError, "Port #%d - machines still changing after %u rounds", int(p.port), kMaxRounds);
}

// ---- Authenticator PAE ----

void Machines::enter_pae(PortRecord &p, PaeState next) {
  const PaeState from = p.pae;
  const bool changed = from != next;
  p.pae = next;
  trace_entry(p, changed, "AUTH_PAE", kPaeNames[next]);
  switch (next) {
    case kPaeInitialize:
      p.mode = kAuto;
      p.eap_timer = p.supp_timer = 0;
      p.eap_timeout = false;
      break;
    case kPaeDisconnected:
      if (p.eapol_logoff && from == kPaeConnecting) count(p.status.pae[kLogoffsConnecting]);
      if (p.eapol_logoff && from == kPaeAuthenticated) count(p.status.pae[kLogoffsAuthenticated]);
      set_authorized(p, false);
      p.reauth_count = 0;
      p.eapol_logoff = false;
      break;
    case kPaeRestart:
      if (from == kPaeAuthenticated && p.reauthenticate) count(p.status.pae[kReauthsAuthenticated]);
      if (from == kPaeAuthenticated && p.eapol_start) count(p.status.pae[kStartsAuthenticated]);
      p.eap_restart = true;
      eap_restart(p);
      break;
    case kPaeConnecting:
      if (changed) count(p.status.pae[kEntersConnecting]);
      p.reauthenticate = false;
      ++p.reauth_count;
      break;
    case kPaeAuthenticating:
      // Every entry from CONNECTING counts: the Request/Identity leads here before the supplicant
      // can answer it, so a count waiting for the Response/Identity would never move.
      if (from == kPaeConnecting) {
        count(p.status.pae[kEntersAuthenticating]);
        p.identity_received = false;
      }
      p.eapol_start = p.auth_success = p.auth_timeout = p.auth_fail = false;
      p.auth_start = true;
      p.key_run = p.key_done = false;
      break;
    case kPaeAuthenticated:
      if (from == kPaeAuthenticating && p.auth_success) count(p.status.pae[kSuccessesAuthenticating]);
      set_authorized(p, true);
      p.reauth_count = 0;
      break;
    case kPaeAborting:
      if (from == kPaeAuthenticating) {
        if (p.auth_timeout) count(p.status.pae[kTimeoutsAuthenticating]);
        if (p.eapol_start) count(p.status.pae[kStartsAuthenticating]);
        if (p.eapol_logoff) count(p.status.pae[kLogoffsAuthenticating]);
      }
      p.auth_abort = true;
      p.key_run = p.key_done = false;
      break;
    case kPaeHeld:
      if (from == kPaeAuthenticating && p.auth_fail) count(p.status.pae[kFailsAuthenticating]);
      set_authorized(p, false);
      p.quiet_while = kQuietPeriod;
      p.eapol_logoff = false;
      break;
    case kPaeForceAuth:
      p.mode = kForceAuthorized;
      set_authorized(p, true);
      p.eapol_start = false;
      DTRACE(trace::kNoise, "action txCannedSuccess() ");
      tx_canned(p, kEapSuccess);
      break;
    case kPaeForceUnauth:
      p.mode = kForceUnauthorized;
      set_authorized(p, false);
      p.eapol_start = false;
      DTRACE(trace::kNoise, "action txCannedFail() ");
      tx_canned(p, kEapFailure);
      break;
  }
}

bool Machines::step_pae(PortRecord &p) {
  const PaeState before = p.pae;
  const bool mode_wrong = p.control == kAuto && p.mode != kAuto;
  if (mode_wrong || p.initialize || !p.port_enabled) {
    // INITIALIZE holds while its condition lasts. initialize enters it even from INITIALIZE (a port
    // record starts there without its entry actions); the round settles once the mode is right.
    const bool was_initialize = p.pae == kPaeInitialize;
    if (was_initialize && !mode_wrong && !p.initialize) return false;
    enter_pae(p, kPaeInitialize);
    return !was_initialize || mode_wrong;
  }
  if (p.control == kForceAuthorized && p.mode != kForceAuthorized) {
    enter_pae(p, kPaeForceAuth);
    return true;
  }
  if (p.control == kForceUnauthorized && p.mode != kForceUnauthorized) {
    enter_pae(p, kPaeForceUnauth);
    return true;
  }
  switch (p.pae) {
    case kPaeInitialize:
      enter_pae(p, kPaeDisconnected);
      break;
    case kPaeDisconnected:
      enter_pae(p, kPaeRestart);
      break;
    case kPaeRestart:
      if (!p.eap_restart) enter_pae(p, kPaeConnecting);
      break;
    case kPaeConnecting:
      if (p.eapol_logoff || p.reauth_count > kReAuthMax)
        enter_pae(p, kPaeDisconnected);
      else if ((p.eap_req && p.reauth_count <= kReAuthMax) || p.eap_success || p.eap_fail)
        enter_pae(p, kPaeAuthenticating);
      break;
    case kPaeAuthenticating:
      if (p.auth_success && p.port_valid)
        enter_pae(p, kPaeAuthenticated);
      else if (p.eapol_start || p.eapol_logoff || p.auth_timeout)
        enter_pae(p, kPaeAborting);
      else if (p.auth_fail || (p.key_done && !p.port_valid))
        enter_pae(p, kPaeHeld);
      break;
    case kPaeAuthenticated:
      if (p.eapol_start || p.reauthenticate)
        enter_pae(p, kPaeRestart);
      else if (p.eapol_logoff || !p.port_valid)
        enter_pae(p, kPaeDisconnected);
      break;
    case kPaeAborting:
      if (p.eapol_logoff && !p.auth_abort)
        enter_pae(p, kPaeDisconnected);
      else if (!p.eapol_logoff && !p.auth_abort)
        enter_pae(p, kPaeRestart);
      break;
    case kPaeHeld:
      if (p.quiet_while == 0) enter_pae(p, kPaeRestart);
      break;
    case kPaeForceAuth:
      if (p.eapol_start) {
        enter_pae(p, kPaeForceAuth);
        return true;
      }
      break;
    case kPaeForceUnauth:
      if (p.eapol_start) {
        enter_pae(p, kPaeForceUnauth);
        return true;
      }
      break;
  }
  return p.pae != before;
}

// ---- Back-end authentication ----

void Machines::enter_be(PortRecord &p, BeState next) {
  const bool changed = p.be != next;
  p.be = next;
  trace_entry(p, changed, "BE_AUTH", kBeNames[next]);
  switch (next) {
    case kBeInitialize:
      p.eap_no_req = false;
      p.auth_abort = false;
      break;
    case kBeIdle:
      p.auth_start = false;
      break;
    case kBeRequest:
      tx_eap(p);
      p.eap_req = false;
      count(p.status.backend[kBeOtherRequests]);
      break;
    case kBeResponse:
      p.auth_timeout = p.eapol_eap = p.eap_no_req = false;
      p.a_while = kServerWait;
      p.eap_resp = true;
      DTRACE(trace::kNoise, "action sendRespToServer() ");
      if (back_end_.send_response(p)) {
        p.waiting = kWaitServer;
        p.radius_timer = kServerTimeout;
      } else {
        // No server will answer a response that could not be sent: the attempt fails at once, with
        // a canned failure to the supplicant, rather than after the back end's whole wait.
        p.waiting = kWaitNothing;
        p.eap.clear();
        p.eap_fail = true;
      }
      p.eap_resp = false;
      count(p.status.backend[kBeResponses]);
      break;
    case kBeIgnore:
      p.eap_no_req = false;
      break;
    case kBeSuccess:
      tx_eap(p);
      p.auth_success = true;
      p.key_run = true;
      break;
    case kBeTimeout:
      p.auth_timeout = true;
      break;
    case kBeFail:
      if (p.eap.empty()) {
        DTRACE(trace::kNoise, "action txCannedFail() ");
        tx_canned(p, kEapFailure);
      } else {
        tx_eap(p);
      }
      p.auth_fail = true;
      break;
  }
}

bool Machines::step_be(PortRecord &p) {
  const BeState before = p.be;
  if (p.control != kAuto || p.initialize || p.auth_abort) {
    if (p.be != kBeInitialize || p.auth_abort) enter_be(p, kBeInitialize);
    return p.be != before;
  }
  switch (p.be) {
    case kBeInitialize:
      enter_be(p, kBeIdle);
      break;
    case kBeIdle:
      if (p.eap_fail && p.auth_start)
        enter_be(p, kBeFail);
      else if (p.eap_req && p.auth_start)
        enter_be(p, kBeRequest);
      else if (p.eap_success && p.auth_start)
        enter_be(p, kBeSuccess);
      break;
    case kBeRequest:
      if (p.eapol_eap)
        enter_be(p, kBeResponse);
      else if (p.eap_req) {
        enter_be(p, kBeRequest);
        return true;
      } else if (p.eap_timeout)
        enter_be(p, kBeTimeout);
      else if (!p.port_enabled)
        enter_be(p, kBeIdle);
      break;
    case kBeResponse:
      if (p.eap_no_req)
        enter_be(p, kBeIgnore);
      else if (p.eap_req) {
        count(p.status.backend[kBeChallenges]);
        enter_be(p, kBeRequest);
      } else if (p.a_while == 0)
        enter_be(p, kBeTimeout);
      else if (p.eap_fail) {
        count(p.status.backend[kBeFails]);
        enter_be(p, kBeFail);
      } else if (p.eap_success) {
        count(p.status.backend[kBeSuccesses]);
        enter_be(p, kBeSuccess);
      }
      break;
    case kBeIgnore:
      if (p.eapol_eap)
        enter_be(p, kBeResponse);
      else if (p.eap_req)
        enter_be(p, kBeRequest);
      else if (p.eap_timeout)
        enter_be(p, kBeTimeout);
      break;
    case kBeSuccess:
    case kBeTimeout:
    case kBeFail:
      enter_be(p, kBeIdle);
      break;
  }
  return p.be != before;
}

// ---- Re-authentication timer ----

void Machines::enter_reauth(PortRecord &p, ReauthState next) {
  const bool changed = p.reauth != next;
  p.reauth = next;
  trace_entry(p, changed, "REAUTH_TIMER", kReauthNames[next]);
  if (next == kReauthInitialize) {
    uint8_t param[kParamConfigSize];
    swc_dot1x_get_paramconfig(param);
    p.reauth_when = decode_param(param).reauth_period;
  } else {
    p.reauthenticate = true;
  }
}

bool Machines::step_reauth(PortRecord &p) {
  const ReauthState before = p.reauth;
  if (p.control != kAuto || p.initialize || p.status.auth_status == kUnauthorized || !p.reauth_enabled) {
    // Held in INITIALIZE, its timer kept at the period, while the condition lasts.
    enter_reauth(p, kReauthInitialize);
    return p.reauth != before;
  }
  if (p.reauth == kReauthInitialize && p.reauth_when == 0)
    enter_reauth(p, kReauthReauthenticate);
  else if (p.reauth == kReauthReauthenticate)
    enter_reauth(p, kReauthInitialize);
  return p.reauth != before;
}

// ---- Key receive: EAPOL-Key frames are not processed, so rxKey stays false ----

void Machines::enter_key_rx(PortRecord &p, KeyRxState next) {
  const bool changed = p.key_rx != next;
  p.key_rx = next;
  trace_entry(p, changed, "KEY_RX", kKeyRxNames[next]);
  if (next == kKeyReceive) p.rx_key = false;
}

bool Machines::step_key_rx(PortRecord &p) {
  const KeyRxState before = p.key_rx;
  if ((p.initialize || !p.port_enabled) && p.key_rx != kKeyNoReceive)
    enter_key_rx(p, kKeyNoReceive);
  else if (p.rx_key)
    enter_key_rx(p, kKeyReceive);
  return p.key_rx != before;
}

// ---- Controlled directions: kept in the record; the chip follows the authorisation status alone ----

void Machines::enter_ctrl_dir(PortRecord &p, CtrlDirState next) {
  const bool changed = p.ctrl_dir != next;
  p.ctrl_dir = next;
  trace_entry(p, changed, "CTRL_DIR", kCtrlDirNames[next]);
}

bool Machines::step_ctrl_dir(PortRecord &p) {
  const CtrlDirState before = p.ctrl_dir;
  // The front ports are never operational edge ports of the controlled directions.
  if (p.initialize && p.ctrl_dir != kDirInOrBoth)
    enter_ctrl_dir(p, kDirInOrBoth);
  else if (!p.initialize && p.ctrl_dir == kDirInOrBoth)
    enter_ctrl_dir(p, kDirForceBoth);
  return p.ctrl_dir != before;
}

// ---- EAP to the supplicant ----

void Machines::eap_restart(PortRecord &p) {
  p.identity_received = false;
  p.eap_success = p.eap_fail = false;
  back_end_.forget_state(p.port);
  p.eap = {kEapRequest, uint8_t(p.last_id + 1), 0, 5, kEapTypeIdentity};
  p.eap_req = true;
  p.eap_restart = false;
  p.waiting = kWaitSupplicant;
  start_eap_timer(p);
}

void Machines::start_eap_timer(PortRecord &p) {
  p.eap_timeout = false;
  if (p.first_eap_timeout) {
    p.eap_timer = kFirstEapTimeout;
    p.first_eap_timeout = false;
    return;
  }
  uint8_t param[kParamConfigSize];
  swc_dot1x_get_paramconfig(param);
  p.eap_timer = decode_param(param).eap_timeout;
}

void Machines::send_eapol(PortRecord &p, std::span<const uint8_t> eap) {
  const std::vector<uint8_t> frame = build_eapol_eap(services_.port_mac(p.port), eap);
  DTRACE(trace::kDebug, "Port #%d - %s %u", int(p.port), "Transmitting EAPOL L2 frame, len",
         unsigned(frame.size()));
  void *ref = nullptr;
  uint8_t *buffer = services_.frame_alloc(p.port, frame.size(), &ref);
  if (!buffer) return;  // lost; the timers cover it
  std::memcpy(buffer, frame.data(), frame.size());
  services_.frame_send(p.port, buffer, frame.size(), ref);
  count(p.status.eapol[kFramesTx]);
}

void Machines::tx_eap(PortRecord &p) {
  if (p.eap.size() < kEapHeader) return;
  p.last_id = p.eap[1];
  send_eapol(p, p.eap);
  if (is_identity_request(p.eap)) {
    p.waiting = kWaitSupplicant;
    count(p.status.eapol[kReqIdTx]);
  } else if (is_request(p.eap)) {
    p.waiting = kWaitSupplicant;
    count(p.status.eapol[kReqTx]);
    p.supp_timer = kSuppTimeout;
  } else {
    p.waiting = kWaitNothing;
  }
}

void Machines::tx_canned(PortRecord &p, uint8_t code) {
  const uint8_t eap[] = {code, uint8_t(p.last_id + 1), 0, 4};
  p.last_id = eap[1];
  p.waiting = kWaitNothing;
  send_eapol(p, eap);
}

// ---- Time ----

void Machines::tick() {
  DTRACE(trace::kNoise, "1 sec tick");
  if (!enabled()) return;
  for (unsigned port = 1; port <= kPorts; ++port) second_tick(ports_[port]);
}

void Machines::second_tick(PortRecord &p) {
  for (uint16_t *timer : {&p.a_while, &p.quiet_while, &p.reauth_when})
    if (*timer) --*timer;
  if (p.eap_timer && --p.eap_timer == 0) {
    DTRACE(trace::kDebug, "eapTimeout occured");
    p.eap_timeout = true;
  }
  // An unanswered request goes out again every 10 s; after three the back end's 40 s wait ends it.
  if (p.radius_timer && --p.radius_timer == 0 && p.waiting == kWaitServer) {
    DTRACE(trace::kDebug, "No RADIUS response");
    back_end_.retransmit(p.port);
    p.radius_timer = kServerTimeout;
  }
  if (p.supp_timer && --p.supp_timer == 0) {
    DTRACE(trace::kDebug, "No response from supplicant");
    if (p.waiting == kWaitSupplicant) tx_eap(p);
  }
  run(p);
}

// ---- Server replies ----

void Machines::server_reply(unsigned port, Reply reply, std::span<const uint8_t> eap) {
  PortRecord &p = ports_.at(port);
  if (p.waiting != kWaitServer || p.be != kBeResponse)
    return;  // a late answer to a conversation that has moved on
  p.eap.assign(eap.begin(), eap.end());
  p.waiting = kWaitSupplicant;
  p.radius_timer = 0;
  switch (reply) {
    case Reply::kChallenge:
      start_eap_timer(p);
      p.eap_req = !p.eap.empty();
      p.eap_no_req = p.eap.empty();
      break;
    case Reply::kAccept:
      p.eap_success = true;
      p.eap_timer = 0;
      break;
    case Reply::kReject:
      p.eap_fail = true;
      p.eap_timer = 0;
      break;
  }
  run(p);
}

// ---- EAPOL from the supplicant ----

void Machines::frame_received(unsigned port, std::span<const uint8_t> frame) {
  if (port < 1 || port > kPorts) return;
  if (!enabled()) {
    DTRACE(trace::kDebug, "Dropping 802.1X MAC frame on port %d with len %d as 802.1X is not enabled",
           int(port), int(frame.size()));
    return;
  }
  PortRecord &p = ports_[port];
  if (frame.size() < kEapolHeader) {
    count(p.status.eapol[kLengthErrorRx]);
    return;
  }
  const EapolParse parsed = parse_eapol(frame);
  if (!parsed.frame) {
    // The body length runs past the frame: nothing of it is used.
    count(p.status.eapol[kLengthErrorRx]);
    return;
  }
  const EapolFrame &f = *parsed.frame;
  count(p.status.eapol[kFramesRx]);
  p.status.mac = f.source;
  p.status.mac_seen = true;
  p.status.eapol[kLastVersion] = f.version;
  DTRACE(trace::kDebug, "Port %d: EAPOL Frame, len %d src=%02x:%02x:%02x:%02x:%02x:%02x", int(port),
         int(frame.size()), f.source[0], f.source[1], f.source[2], f.source[3], f.source[4], f.source[5]);
  const char *name = eapol_type_name(f.type);
  switch (f.type) {
    case kEapolEapPacket:
      DTRACE(trace::kDebug, "Packet type: %s, body length: %d", name, int(f.body.size()));
      handle_eap(p, f.body);
      run(p);
      break;
    case kEapolStart:
      DTRACE(trace::kDebug, "Packet type: %s", name);
      DTRACE(trace::kInfo, "EAPOL Start received");
      count(p.status.eapol[kStartRx]);
      p.eapol_start = true;
      run(p);
      break;
    case kEapolLogoff:
      DTRACE(trace::kDebug, "Packet type: %s", name);
      DTRACE(trace::kInfo, "EAPOL Logoff received");
      count(p.status.eapol[kLogoffRx]);
      p.eapol_logoff = true;
      run(p);
      break;
    case kEapolKey:
    case kEapolAsfAlert:
      DTRACE(trace::kDebug, "Packet type: %s, body length: %d", name, int(f.body.size()));
      break;
    default:
      count(p.status.eapol[kInvalidRx]);
      DTRACE(trace::kInfo, "Invalid EAPOL packet received");
      break;
  }
}

void Machines::handle_eap(PortRecord &p, std::span<const uint8_t> body) {
  if (body.size() < kEapHeader) return;
  const EapParse parsed = parse_eap(body);
  if (!parsed.eap) {
    DTRACE(trace::kDebug, parsed.error == EapError::kShorterThanHeader
                              ? "Too short frame"
                              : "   Too short frame to contain this EAP packet");
    return;
  }
  const EapPacket &eap = *parsed.eap;
  if (eap.extra_bytes) DTRACE(trace::kDebug, "   Ignoring extra bytes after EAP packet");
  DTRACE(trace::kDebug, "EAP packet ID %d", int(eap.identifier));
  switch (eap.code) {
    case kEapResponse:
      DTRACE(trace::kDebug, "EAP Response");
      handle_eap_response(p, eap);
      break;
    case kEapRequest:
      DTRACE(trace::kDebug, "EAP Request");
      break;
    case kEapSuccess:
      DTRACE(trace::kDebug, "EAP Success");
      break;
    case kEapFailure:
      DTRACE(trace::kDebug, "EAP Failure");
      break;
    default:
      DTRACE(trace::kDebug, "(unknown code)");
      break;
  }
}

void Machines::handle_eap_response(PortRecord &p, const EapPacket &eap) {
  if (eap.identifier != p.last_id) {
    DTRACE(trace::kDebug, "Discarding packet due to incorrect EAP identifier");
    return;
  }
  if (eap.packet.size() > kEapBufferSize) return;  // cannot be relayed whole
  p.eap_timer = 0;
  p.supp_timer = 0;
  const bool identity = eap.packet.size() > kEapHeader && eap.packet[4] == kEapTypeIdentity;
  if (identity) {
    count(p.status.eapol[kRespIdRx]);
    p.identity_received = true;
    const auto name = eap.packet.subspan(kEapHeader + 1);
    p.status.identity.fill(0);
    if (name.size() < p.status.identity.size())
      std::memcpy(p.status.identity.data(), name.data(), name.size());
    else
      std::snprintf(p.status.identity.data(), p.status.identity.size(), "%02x:%02x:%02x:%02x:%02x:%02x",
                    p.status.mac[0], p.status.mac[1], p.status.mac[2], p.status.mac[3], p.status.mac[4],
                    p.status.mac[5]);
  } else {
    count(p.status.eapol[kRespRx]);
  }
  p.eap.assign(eap.packet.begin(), eap.packet.end());
  p.waiting = kWaitNothing;
  p.eapol_eap = true;
}

}  // namespace dot1x
