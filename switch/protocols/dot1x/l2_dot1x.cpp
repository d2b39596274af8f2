#include "l2_dot1x.h"

#include "conf.h"
#include "le.h"
#include "mgmt.h"
#include "swc_types.h"
#include "trace.h"

#include <cstdio>
#include <cstring>

namespace dot1x {

void encode_system(const SystemConfig &c, uint8_t *out) {
  std::memset(out, 0, kSystemConfigSize);
  out[0] = c.enabled;
  be_store32(out + 4, c.server);
  std::memcpy(out + 8, c.secret.data(), kSecretSize);
  out[8 + kSecretSize - 1] = 0;
  le_store16(out + 38, c.server_port);
}

SystemConfig decode_system(const uint8_t *in) {
  SystemConfig c;
  c.enabled = in[0];
  c.server = be_load32(in + 4);
  std::memcpy(c.secret.data(), in + 8, kSecretSize);
  c.secret[kSecretSize - 1] = 0;  // a stored secret of 30 characters is cut, never read past
  c.server_port = le_load16(in + 38);
  return c;
}

void encode_param(const ParamConfig &c, uint8_t *out) {
  le_store16(out, c.reauth_period);
  out[2] = c.reauth_enabled;
  out[3] = c.eap_timeout;
}

ParamConfig decode_param(const uint8_t *in) {
  ParamConfig c;
  c.reauth_period = le_load16(in);
  c.reauth_enabled = in[2];
  c.eap_timeout = in[3];
  return c;
}

void encode_config(const Config &c, uint8_t *out) {
  std::memset(out, 0, kConfigSize);
  encode_system(c.system, out);
  encode_param(c.param, out + kSystemConfigSize);
  for (unsigned port = 1; port <= kPorts; ++port)
    le_store32(out + kPortControlOffset + 4 * port, c.port_control[port]);
}

Config decode_config(const uint8_t *in) {
  Config c;
  c.system = decode_system(in);
  c.param = decode_param(in + kSystemConfigSize);
  for (unsigned port = 1; port <= kPorts; ++port)
    c.port_control[port] = le_load32(in + kPortControlOffset + 4 * port);
  return c;
}

void encode_status(const PortStatus &s, bool link, uint8_t *out) {
  std::memset(out, 0, kStatusSize);
  le_store32(out, link ? s.auth_status : 0);
  std::memcpy(out + 4, s.pae.data(), s.pae.size());
  std::memcpy(out + 15, s.eapol.data(), s.eapol.size());
  std::memcpy(out + 26, s.backend.data(), s.backend.size());
  if (s.mac_seen)
    std::snprintf(reinterpret_cast<char *>(out + 31), 18, "%02x:%02x:%02x:%02x:%02x:%02x", s.mac[0], s.mac[1],
                  s.mac[2], s.mac[3], s.mac[4], s.mac[5]);
  // 43 bytes from 49: the identity's 39 characters and its NUL always fit.
  std::memcpy(out + 49, s.identity.data(), strnlen(s.identity.data(), s.identity.size() - 1));
}

namespace {

#define DTRACE(level, ...) trace_printf(trace::kDot1x, function, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

Host *g_host = nullptr;
Authenticator *g_auth = nullptr;
Config g_config;
bool g_defaults_loaded = false;

bool control_valid(uint32_t control) {
  return control >= kForceAuthorized && control <= kForceUnauthorized;
}

// Every accessor goes through here, so a cleared flag yields the defaults on the next read or write.
Config &config(const char *function) {
  if (!g_defaults_loaded) {
    DTRACE(trace::kDebug, "Restoring defaults");
    g_config = Config{};
    g_defaults_loaded = true;
  }
  return g_config;
}

void set_all_ports_open() {
  for (unsigned port = 1; port <= kPorts; ++port)
    if (g_host) g_host->auth_state_set(port, SWC_AUTH_STATE_BOTH);
}

// The status a port shows when no machines run it: open unless forced closed under 802.1X.
PortStatus configured_status(unsigned port) {
  PortStatus s;
  const Config &c = config(__func__);
  s.auth_status = c.system.enabled && c.port_control[port] != kForceAuthorized ? kUnauthorized : kAuthorized;
  return s;
}

// What object 4023 shows of a port. With 802.1X off every port is open on the chip, while its machines
// stand still with the status they last set until 802.1X comes back on: the port shows authorised, its
// counters and supplicant as they were recorded.
PortStatus shown_status(unsigned port) {
  if (!g_auth) return configured_status(port);
  PortStatus s = g_auth->port_status(port);
  if (!config(__func__).system.enabled) s.auth_status = kAuthorized;
  return s;
}

void save(const Config &c) {
  uint8_t *block = conf_create(kConfBlock, kConfigSize);
  if (!block) return;
  encode_config(c, block);
  conf_close(kConfBlock);
}

// The configuration of block 22 or object 4022 applied as at start-up.
void dot1x_config_set(const uint8_t *block) {
  const char *function = __func__;
  DTRACE(trace::kDebug, "set configuration");
  swc_dot1x_set_systemconfig(block);
  swc_dot1x_set_paramconfig(block + kSystemConfigSize);
  for (unsigned port = 1; port <= kPorts; ++port) {
    const uint32_t control = le_load32(block + kPortControlOffset + 4 * port);
    DTRACE(trace::kDebug, "port %u control %u", port, control);
    swc_dot1x_set_portconfig(port, control);
  }
}

bool controls_valid(const uint8_t *block) {
  for (unsigned port = 1; port <= kPorts; ++port)
    if (!control_valid(le_load32(block + kPortControlOffset + 4 * port))) return false;
  return true;
}

// A re-authentication period of 0 would have an authorised port re-authenticate on every round of its
// machines, and an EAP timeout of 0 would never end an attempt: neither is a setting.
bool timers_valid(const uint8_t *block) {
  const ParamConfig p = decode_param(block + kSystemConfigSize);
  return p.reauth_period != 0 && p.eap_timeout != 0;
}

// A stored block from before the timers were checked may still hold a 0: it runs with the default.
void read_zero_timers_as_defaults(uint8_t *block) {
  const char *function = __func__;
  ParamConfig p = decode_param(block + kSystemConfigSize);
  if (p.reauth_period == 0) {
    DTRACE(trace::kWarn, "Re-authentication period 0 read as %u", unsigned(ParamConfig{}.reauth_period));
    p.reauth_period = ParamConfig{}.reauth_period;
  }
  if (p.eap_timeout == 0) {
    DTRACE(trace::kWarn, "EAP timeout 0 read as %u", unsigned(ParamConfig{}.eap_timeout));
    p.eap_timeout = ParamConfig{}.eap_timeout;
  }
  encode_param(p, block + kSystemConfigSize);
}

}  // namespace

void l2_dot1x_host_set(Host *host, Authenticator *authenticator) {
  g_host = host;
  g_auth = authenticator;
}

void dot1x_defaults_clear() {
  g_defaults_loaded = false;
}

}  // namespace dot1x

using namespace dot1x;

#define FTRACE(level, ...) trace_printf(trace::kDot1x, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

void swc_dot1x_get_systemconfig(uint8_t *out) {
  encode_system(config(__func__).system, out);
}
void swc_dot1x_get_paramconfig(uint8_t *out) {
  encode_param(config(__func__).param, out);
}

void swc_dot1x_get_portconfig(unsigned port, uint32_t *control) {
  Config &c = config(__func__);
  *control = port >= 1 && port <= kPorts ? c.port_control[port] : 0;
}

void swc_dot1x_set_systemconfig(const uint8_t *in) {
  Config &c = config(__func__);
  FTRACE(trace::kDebug, "set system config");
  const SystemConfig old = c.system;
  c.system = decode_system(in);
  FTRACE(trace::kDebug, "was_enabled = %d", old.enabled);
  FTRACE(trace::kDebug, "new state = %d", c.system.enabled);
  if ((old.enabled != 0) != (c.system.enabled != 0)) {
    if (c.system.enabled) {
      FTRACE(trace::kInfo, "Doing init");
      if (g_auth) g_auth->init();
    } else {
      FTRACE(trace::kInfo, "Disabling");
      set_all_ports_open();
    }
  }
  if (!g_auth) return;
  if (old.server != c.system.server || old.server_port != c.system.server_port) g_auth->radius_reopen();
  g_auth->radius_reload_secret();
}

void swc_dot1x_set_paramconfig(const uint8_t *in) {
  Config &c = config(__func__);
  const ParamConfig old = c.param;
  c.param = decode_param(in);
  if (old.reauth_enabled == c.param.reauth_enabled && old.reauth_period == c.param.reauth_period) return;
  if (!g_auth) return;
  for (unsigned port = 1; port <= kPorts; ++port)
    g_auth->reauth_changed(port, c.param.reauth_enabled != 0, c.param.reauth_period);
}

void swc_dot1x_set_portconfig(unsigned port, uint32_t control) {
  Config &c = config(__func__);
  if (port < 1 || port > kPorts || !control_valid(control)) {
    FTRACE(trace::kError, "Illegal port %u or control %u", port, control);
    return;
  }
  c.port_control[port] = control;
  if (g_auth) g_auth->port_control_changed(port);
}

void l2_dot1x_init() {
  FTRACE(trace::kInfo, "Init");
  if (g_auth) g_auth->init();
}

void l2_dot1x_conf(int create) {
  FTRACE(trace::kDebug, "l2_dot1x_conf\n");
  if (create) {
    FTRACE(trace::kDebug, "Writing config\n");
    uint8_t *block = conf_create(kConfBlock, kConfigSize);
    if (!block) return;
    // Only the block gets the defaults: a restore reads it next, and that read has to find the
    // configuration in force still in memory to see 802.1X go off and the server move.
    encode_config(Config{}, block);
    conf_close(kConfBlock);
    return;
  }
  FTRACE(trace::kDebug, "Reading config\n");
  uint32_t size = 0;
  const uint8_t *block = conf_open(kConfBlock, &size);
  if (!block || size < kConfigSize) {
    FTRACE(trace::kError, "Config block %u missing or short (%u bytes)\n", kConfBlock, unsigned(size));
    return;
  }
  uint8_t applied[kConfigSize];
  std::memcpy(applied, block, kConfigSize);
  read_zero_timers_as_defaults(applied);
  dot1x_config_set(applied);
  conf_close(kConfBlock);
}

void l2_dot1x_config(MgmtObject &object) {
  switch (object.cmd()) {
    case kMgmtCmdGet:
      FTRACE(trace::kInfo, "mgmt Config Get: %d", int(object.cmd()));
      if (!object.has_data(kConfigSize)) break;
      encode_config(config(__func__), object.data());
      object.set_res(kMgmtResOk);
      return;
    case kMgmtCmdSet:
      FTRACE(trace::kInfo, "mgmt Config Set: %d", int(object.cmd()));
      if (!object.has_data(kConfigSize) || !controls_valid(object.data()) || !timers_valid(object.data()))
        break;
      dot1x_config_set(object.data());
      save(config(__func__));
      object.set_res(kMgmtResOk);
      return;
    default:
      FTRACE(trace::kInfo, "mgmt DEFAULT ???Set: %d", int(object.cmd()));
      break;
  }
  object.set_res(kMgmtResFail);
}

void l2_dot1x_status(MgmtObject &object) {
  if (object.cmd() != kMgmtCmdGet || !object.has_data(kStatusObjectSize)) {
    object.set_res(kMgmtResFail);
    return;
  }
  for (unsigned port = 1; port <= kPorts; ++port) {
    encode_status(shown_status(port), g_host && g_host->link_state(port), object.data() + kStatusSize * port);
  }
  object.set_res(kMgmtResOk);
}

void l2_dot1x_reauth(MgmtObject &object) {
  FTRACE(trace::kInfo, "mgmt dot1x reauth");
  if (mgmt_table_check(object, kReauthEntrySize, kPorts) != 0) return;
  object.set_res(kMgmtResOk);
  for (size_t i = 0; i < object.table_count(); ++i) {
    const uint8_t *entry = object.entry(i, kReauthEntrySize);
    const uint32_t port = le_load32(entry);
    const uint32_t now = le_load32(entry + 4);
    if (port < 1 || port > kPorts) continue;
    if (now) {
      FTRACE(trace::kInfo, "dot1x reauth port %d now", int(port));
      if (g_auth) g_auth->reinit_port(port);
    } else {
      FTRACE(trace::kInfo, "dot1x reauth port %d", int(port));
      if (g_auth) g_auth->mark_reauth(port);
    }
  }
}
