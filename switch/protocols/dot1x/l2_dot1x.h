// The 802.1X module of portvisor: the authenticator's configuration (system, timer parameters, per-port
// control) held once in memory with its defaults, the swc_dot1x_* accessors, configuration block 22 and
// management objects 4022 (configuration), 4023 (status) and 4024 (re-authentication).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct MgmtObject;

namespace dot1x {

inline constexpr unsigned kPorts = 6;
inline constexpr uint32_t kConfBlock = 22;
inline constexpr size_t kSystemConfigSize = 40;
inline constexpr size_t kParamConfigSize = 4;
inline constexpr size_t kConfigSize = 72;
inline constexpr size_t kPortControlOffset = 44;  // port n at 44 + 4n
inline constexpr size_t kStatusSize = 92;
inline constexpr size_t kStatusObjectSize = kStatusSize * (kPorts + 1);  // record n at 92 × n
inline constexpr size_t kReauthEntrySize = 8;
inline constexpr uint32_t kObjConfig = 4022, kObjStatus = 4023, kObjReauth = 4024;
inline constexpr size_t kSecretSize = 30;  // at most 29 characters and the NUL

enum PortControl : uint32_t { kForceAuthorized = 1, kAuto = 2, kForceUnauthorized = 3 };
enum AuthStatus : uint32_t { kAuthorized = 1, kUnauthorized = 2 };

struct SystemConfig {
  uint8_t enabled = 0;
  uint32_t server = 0;  // IPv4, host order; written out most significant byte first
  std::array<char, kSecretSize> secret{};
  uint16_t server_port = 1812;
  bool operator==(const SystemConfig &) const = default;
};

struct ParamConfig {
  uint16_t reauth_period = 3600;  // seconds
  uint8_t reauth_enabled = 0;
  uint8_t eap_timeout = 30;  // seconds
  bool operator==(const ParamConfig &) const = default;
};

struct Config {
  SystemConfig system;
  ParamConfig param;
  std::array<uint32_t, kPorts + 1> port_control{0, 1, 1, 1, 1, 1, 1};  // index 1..6
  bool operator==(const Config &) const = default;
};

void encode_system(const SystemConfig &c, uint8_t *out);  // kSystemConfigSize bytes
SystemConfig decode_system(const uint8_t *in);            // the secret always ends in a NUL
void encode_param(const ParamConfig &c, uint8_t *out);    // kParamConfigSize bytes
ParamConfig decode_param(const uint8_t *in);
void encode_config(const Config &c, uint8_t *out);  // kConfigSize bytes, the layout of block 22
Config decode_config(const uint8_t *in);

// What the status record shows of a port: its counters (8-bit, wrapping) and its supplicant.
struct PortStatus {
  // Enters connecting, logoffs while connecting, enters authenticating, successes, time-outs, failures,
  // starts and logoffs while authenticating, re-authentications, starts and logoffs while authenticated.
  std::array<uint8_t, 11> pae{};
  // EAPOL frames received and sent, starts, logoffs, Response/Identity and other Responses received,
  // Request/Identity and other Requests sent, invalid frames, EAP length errors, last version.
  std::array<uint8_t, 11> eapol{};
  // Back-end responses, access challenges, other requests to the supplicant, successes, failures.
  std::array<uint8_t, 5> backend{};
  bool mac_seen = false;
  std::array<uint8_t, 6> mac{};
  std::array<char, 40> identity{};  // at most 39 characters
  uint32_t auth_status = kAuthorized;
};
// The 92-byte record; link false gives status 0.
void encode_status(const PortStatus &s, bool link, uint8_t *out);

// What the module needs of the system: the chip's authorisation states and the ports' link.
class Host {
 public:
  virtual ~Host() = default;
  virtual void auth_state_set(unsigned port, uint32_t state) = 0;  // SWC_AUTH_STATE_NONE / EGRESS / BOTH
  virtual bool link_state(unsigned port) = 0;
};

// The authenticator the configuration drives: the port machines and the RADIUS client.
class Authenticator {
 public:
  virtual ~Authenticator() = default;
  virtual void init() = 0;                               // ieee8021x_init
  virtual void port_control_changed(unsigned port) = 0;  // runs the port's machines when enabled
  virtual void reauth_changed(unsigned port, bool enabled, uint16_t period) = 0;
  virtual void reinit_port(unsigned port) = 0;  // re-authentication at once
  virtual void mark_reauth(unsigned port) = 0;  // re-authentication at the next pass
  virtual void radius_reopen() = 0;             // new server address or port
  virtual void radius_reload_secret() = 0;
  virtual PortStatus port_status(unsigned port) = 0;
};

// Set before l2_dot1x_init; the authenticator may be left null while no machines are installed, and
// then the status records show the configured control alone.
void l2_dot1x_host_set(Host *host, Authenticator *authenticator);
// Clears the defaults-loaded flag, so the next accessor starts from the defaults (tests).
void dot1x_defaults_clear();

}  // namespace dot1x

void swc_dot1x_get_systemconfig(uint8_t *config);
void swc_dot1x_get_paramconfig(uint8_t *config);
void swc_dot1x_get_portconfig(unsigned port, uint32_t *control);
void swc_dot1x_set_systemconfig(const uint8_t *config);
void swc_dot1x_set_paramconfig(const uint8_t *config);
void swc_dot1x_set_portconfig(unsigned port, uint32_t control);

void l2_dot1x_init();
void l2_dot1x_conf(int create);
void l2_dot1x_config(MgmtObject &object);
void l2_dot1x_status(MgmtObject &object);
void l2_dot1x_reauth(MgmtObject &object);
