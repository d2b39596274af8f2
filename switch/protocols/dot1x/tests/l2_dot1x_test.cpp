// The module glue: the records and their defaults, block 22, objects 4022-4024 and what the accessors
// hand to the chip and to the authenticator.
#include "l2_dot1x.h"

#include "conf.h"
#include "le.h"
#include "mgmt.h"
#include "process_util.h"
#include "swc_types.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace dot1x::test {
namespace {

struct RecordingHost : Host {
  void auth_state_set(unsigned port, uint32_t state) override { auth.push_back({port, state}); }
  bool link_state(unsigned port) override { return link[port]; }
  std::vector<std::pair<unsigned, uint32_t>> auth;
  bool link[kPorts + 1] = {};
};

struct RecordingAuthenticator : Authenticator {
  void init() override { ++inits; }
  void port_control_changed(unsigned port) override { controls.push_back(port); }
  void reauth_changed(unsigned port, bool enabled, uint16_t period) override {
    reauths.push_back({port, enabled ? period : 0});
  }
  void reinit_port(unsigned port) override { reinit.push_back(port); }
  void mark_reauth(unsigned port) override { marked.push_back(port); }
  void radius_reopen() override { ++reopens; }
  void radius_reload_secret() override { ++reloads; }
  PortStatus port_status(unsigned port) override { return status[port]; }
  int inits = 0, reopens = 0, reloads = 0;
  std::vector<unsigned> controls, reinit, marked;
  std::vector<std::pair<unsigned, unsigned>> reauths;
  PortStatus status[kPorts + 1];
};

class Glue : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("PORTVISOR_WORKDIR", dir.path().c_str(), 1);
    conf_reset();
    dot1x_defaults_clear();
    l2_dot1x_host_set(&host, &auth);
  }
  void TearDown() override {
    l2_dot1x_host_set(nullptr, nullptr);
    dot1x_defaults_clear();
    conf_reset();
    unsetenv("PORTVISOR_WORKDIR");
  }
  static std::vector<uint8_t> object(uint32_t id, uint32_t cmd, size_t data) {
    std::vector<uint8_t> o(kMgmtHeaderSize + data, 0);
    le_store32(o.data(), id);
    le_store32(o.data() + 4, cmd);
    le_store32(o.data() + 8, 0xFF);
    le_store16(o.data() + 14, uint16_t(o.size()));
    return o;
  }
  static std::vector<uint8_t> reauth_table(const std::vector<std::pair<uint32_t, uint32_t>> &entries) {
    auto o = object(kObjReauth, kMgmtCmdSet, 4 + kReauthEntrySize * entries.size());
    le_store16(o.data() + 16, uint16_t(entries.size()));
    le_store16(o.data() + 18, uint16_t(kReauthEntrySize));
    for (size_t i = 0; i < entries.size(); ++i) {
      le_store32(o.data() + 20 + 8 * i, entries[i].first);
      le_store32(o.data() + 24 + 8 * i, entries[i].second);
    }
    return o;
  }
  static uint32_t run(void (*handler)(MgmtObject &), std::vector<uint8_t> &o) {
    MgmtObject obj{o.data(), uint16_t(o.size())};
    handler(obj);
    return obj.res();
  }
  static Config stored() {
    uint32_t size = 0;
    const uint8_t *block = conf_open(kConfBlock, &size);
    EXPECT_NE(block, nullptr);
    EXPECT_EQ(size, kConfigSize);
    Config c = block ? decode_config(block) : Config{};
    conf_close(kConfBlock);
    return c;
  }
  static void set_system(const SystemConfig &c) {
    uint8_t raw[kSystemConfigSize];
    encode_system(c, raw);
    swc_dot1x_set_systemconfig(raw);
  }
  static void set_param(const ParamConfig &c) {
    uint8_t raw[kParamConfigSize];
    encode_param(c, raw);
    swc_dot1x_set_paramconfig(raw);
  }
  TempDir dir;
  RecordingHost host;
  RecordingAuthenticator auth;
};

TEST(Records, LayoutOfBlock22) {
  Config c;
  c.system.enabled = 1;
  c.system.server = 0xC0A80001;  // 192.168.0.1
  std::strcpy(c.system.secret.data(), "testing123");
  c.system.server_port = 1645;
  c.param = ParamConfig{600, 1, 7};
  c.port_control[3] = kAuto;
  c.port_control[6] = kForceUnauthorized;
  uint8_t raw[kConfigSize];
  encode_config(c, raw);
  EXPECT_EQ(raw[0], 1);
  EXPECT_EQ(raw[4], 192);
  EXPECT_EQ(raw[7], 1);
  EXPECT_STREQ(reinterpret_cast<const char *>(raw + 8), "testing123");
  EXPECT_EQ(le_load16(raw + 38), 1645);
  EXPECT_EQ(le_load16(raw + 40), 600);
  EXPECT_EQ(raw[42], 1);
  EXPECT_EQ(raw[43], 7);
  EXPECT_EQ(le_load32(raw + 44), 0u);
  EXPECT_EQ(le_load32(raw + 48), 1u);
  EXPECT_EQ(le_load32(raw + 56), uint32_t(kAuto));
  EXPECT_EQ(le_load32(raw + 68), uint32_t(kForceUnauthorized));
  EXPECT_EQ(decode_config(raw), c);
}

TEST(Records, SecretWithoutTerminatorIsCut) {
  uint8_t raw[kSystemConfigSize];
  std::memset(raw, 'x', sizeof raw);
  const SystemConfig c = decode_system(raw);
  EXPECT_EQ(std::string(c.secret.data()), std::string(kSecretSize - 1, 'x'));
}

TEST(Records, StatusRecord) {
  PortStatus s;
  s.auth_status = kAuthorized;
  s.pae[0] = 3;
  s.eapol[10] = 2;
  s.backend[4] = 9;
  s.mac_seen = true;
  s.mac = {0x02, 0x00, 0x5e, 0x10, 0xab, 0xcd};
  std::strcpy(s.identity.data(), "alice");
  uint8_t raw[kStatusSize];
  encode_status(s, true, raw);
  EXPECT_EQ(le_load32(raw), uint32_t(kAuthorized));
  EXPECT_EQ(raw[4], 3);
  EXPECT_EQ(raw[25], 2);
  EXPECT_EQ(raw[30], 9);
  EXPECT_STREQ(reinterpret_cast<const char *>(raw + 31), "02:00:5e:10:ab:cd");
  EXPECT_STREQ(reinterpret_cast<const char *>(raw + 49), "alice");

  s.mac_seen = false;
  encode_status(s, false, raw);
  EXPECT_EQ(le_load32(raw), 0u) << "a port without link shows no authorisation";
  EXPECT_EQ(raw[31], 0);
}

TEST_F(Glue, FreshBlockHoldsTheDefaults) {
  l2_dot1x_conf(1);
  const Config c = stored();
  EXPECT_EQ(c, Config{});
  EXPECT_EQ(c.system.enabled, 0);
  EXPECT_EQ(c.system.server_port, 1812);
  EXPECT_EQ(c.param.reauth_enabled, 0);
  EXPECT_EQ(c.param.reauth_period, 3600);
  EXPECT_EQ(c.param.eap_timeout, 30);
  for (unsigned port = 1; port <= kPorts; ++port) EXPECT_EQ(c.port_control[port], uint32_t(kForceAuthorized));
}

TEST_F(Glue, ReadingTheBlockAppliesEveryRecord) {
  Config c;
  c.system.enabled = 1;
  c.system.server = 0x0A000001;
  c.param.reauth_enabled = 1;
  c.param.reauth_period = 90;
  c.port_control[2] = kAuto;
  uint8_t *block = conf_create(kConfBlock, kConfigSize);
  ASSERT_NE(block, nullptr);
  encode_config(c, block);
  conf_close(kConfBlock);

  l2_dot1x_conf(0);
  uint8_t raw[kSystemConfigSize];
  swc_dot1x_get_systemconfig(raw);
  EXPECT_EQ(decode_system(raw), c.system);
  uint32_t control = 0;
  swc_dot1x_get_portconfig(2, &control);
  EXPECT_EQ(control, uint32_t(kAuto));
  EXPECT_EQ(auth.inits, 1) << "switched on";
  EXPECT_EQ(auth.reopens, 1) << "the server moved";
  EXPECT_EQ(auth.reauths.size(), kPorts);
  EXPECT_EQ(auth.reauths[0].second, 90u);
  EXPECT_EQ(auth.controls.size(), kPorts);
}

// A restore writes the default block, then every module reads it: the read must see 802.1X go off.
TEST_F(Glue, RestoringDefaultsSwitchesOffOpensEveryPortAndMovesTheClient) {
  Config on;
  on.system.enabled = 1;
  on.system.server = 0x0A000001;
  on.port_control[2] = kAuto;
  auto set = object(kObjConfig, kMgmtCmdSet, kConfigSize);
  encode_config(on, set.data() + kMgmtHeaderSize);
  ASSERT_EQ(run(l2_dot1x_config, set), kMgmtResOk);
  host.auth.clear();
  const int reopens = auth.reopens;

  l2_dot1x_conf(1);
  EXPECT_EQ(stored(), Config{}) << "the default block";
  l2_dot1x_conf(0);
  ASSERT_EQ(host.auth.size(), kPorts) << "802.1X went off";
  for (unsigned port = 1; port <= kPorts; ++port)
    EXPECT_EQ(host.auth[port - 1], std::make_pair(port, SWC_AUTH_STATE_BOTH));
  EXPECT_EQ(auth.reopens, reopens + 1) << "the client follows the default server";
  auto get = object(kObjConfig, kMgmtCmdGet, kConfigSize);
  ASSERT_EQ(run(l2_dot1x_config, get), kMgmtResOk);
  EXPECT_EQ(decode_config(get.data() + kMgmtHeaderSize), Config{});
}

TEST_F(Glue, SwitchingOffOpensEveryPortBothWays) {
  set_system(SystemConfig{.enabled = 1});
  EXPECT_EQ(auth.inits, 1);
  EXPECT_TRUE(host.auth.empty());
  set_system(SystemConfig{.enabled = 0});
  ASSERT_EQ(host.auth.size(), kPorts);
  for (unsigned port = 1; port <= kPorts; ++port)
    EXPECT_EQ(host.auth[port - 1], std::make_pair(port, SWC_AUTH_STATE_BOTH));
  EXPECT_EQ(auth.inits, 1);
}

TEST_F(Glue, ServerChangesReopenTheSocketAndAlwaysReloadTheSecret) {
  SystemConfig c;
  set_system(c);
  EXPECT_EQ(auth.reopens, 0);
  EXPECT_EQ(auth.reloads, 1);
  c.server_port = 1645;
  set_system(c);
  EXPECT_EQ(auth.reopens, 1);
  c.server = 0x7F000001;
  set_system(c);
  EXPECT_EQ(auth.reopens, 2);
  std::strcpy(c.secret.data(), "other");
  set_system(c);
  EXPECT_EQ(auth.reopens, 2);
  EXPECT_EQ(auth.reloads, 4);
}

TEST_F(Glue, SameParametersTwiceLeaveTheTimersAlone) {
  ParamConfig p{120, 1, 30};
  set_param(p);
  ASSERT_EQ(auth.reauths.size(), kPorts);
  set_param(p);
  EXPECT_EQ(auth.reauths.size(), kPorts) << "unchanged parameters restart nothing";
  p.eap_timeout = 5;
  set_param(p);
  EXPECT_EQ(auth.reauths.size(), kPorts) << "the EAP timeout is read when used";
  p.reauth_enabled = 0;
  set_param(p);
  ASSERT_EQ(auth.reauths.size(), 2 * kPorts);
  EXPECT_EQ(auth.reauths.back().second, 0u) << "disabled: timer 0";
}

TEST_F(Glue, PortControlOutOfRangeIsRefused) {
  swc_dot1x_set_portconfig(4, kForceUnauthorized);
  swc_dot1x_set_portconfig(4, 0);
  swc_dot1x_set_portconfig(4, 4);
  swc_dot1x_set_portconfig(7, kAuto);
  uint32_t control = 0;
  swc_dot1x_get_portconfig(4, &control);
  EXPECT_EQ(control, uint32_t(kForceUnauthorized));
  EXPECT_EQ(auth.controls, std::vector<unsigned>{4});
}

TEST_F(Glue, ConfigObject) {
  auto get = object(kObjConfig, kMgmtCmdGet, kConfigSize);
  EXPECT_EQ(run(l2_dot1x_config, get), kMgmtResOk);
  EXPECT_EQ(decode_config(get.data() + kMgmtHeaderSize), Config{});

  Config c;
  c.system.enabled = 1;
  c.port_control[5] = kAuto;
  auto set = object(kObjConfig, kMgmtCmdSet, kConfigSize);
  encode_config(c, set.data() + kMgmtHeaderSize);
  EXPECT_EQ(run(l2_dot1x_config, set), kMgmtResOk);
  EXPECT_EQ(stored(), c) << "saved to block 22";
  EXPECT_EQ(auth.inits, 1);

  auto bad = object(kObjConfig, kMgmtCmdSet, kConfigSize);
  encode_config(Config{}, bad.data() + kMgmtHeaderSize);
  le_store32(bad.data() + kMgmtHeaderSize + kPortControlOffset + 4 * 3, 9);
  EXPECT_EQ(run(l2_dot1x_config, bad), kMgmtResFail);
  EXPECT_EQ(stored(), c) << "a refused configuration changes nothing";

  auto shortened = object(kObjConfig, kMgmtCmdSet, kConfigSize - 1);
  EXPECT_EQ(run(l2_dot1x_config, shortened), kMgmtResFail);
  auto other = object(kObjConfig, kMgmtCmdAdd, kConfigSize);
  EXPECT_EQ(run(l2_dot1x_config, other), kMgmtResFail);
}

// A period or EAP timeout of 0 would have the machines re-authenticate or time out without end.
TEST_F(Glue, ZeroPeriodOrEapTimeoutIsRefusedByTheObjectAndReadFromTheBlockAsTheDefault) {
  Config kept;
  kept.system.enabled = 1;
  kept.param = ParamConfig{120, 1, 20};
  auto set = object(kObjConfig, kMgmtCmdSet, kConfigSize);
  encode_config(kept, set.data() + kMgmtHeaderSize);
  ASSERT_EQ(run(l2_dot1x_config, set), kMgmtResOk);
  const size_t reauths = auth.reauths.size();
  for (const ParamConfig &zero : {ParamConfig{0, 1, 30}, ParamConfig{0, 0, 30}, ParamConfig{3600, 0, 0}}) {
    Config c = kept;
    c.param = zero;
    encode_config(c, set.data() + kMgmtHeaderSize);
    EXPECT_EQ(run(l2_dot1x_config, set), kMgmtResFail) << zero.reauth_period << "/" << int(zero.eap_timeout);
    auto get = object(kObjConfig, kMgmtCmdGet, kConfigSize);
    ASSERT_EQ(run(l2_dot1x_config, get), kMgmtResOk);
    EXPECT_EQ(decode_config(get.data() + kMgmtHeaderSize), kept) << "the old configuration is kept";
    EXPECT_EQ(stored(), kept);
  }
  EXPECT_EQ(auth.reauths.size(), reauths) << "no port was handed the period";

  Config zeros = kept;
  zeros.param = ParamConfig{0, 1, 0};
  uint8_t *block = conf_create(kConfBlock, kConfigSize);
  ASSERT_NE(block, nullptr);
  encode_config(zeros, block);
  conf_close(kConfBlock);
  l2_dot1x_conf(0);
  uint8_t raw[kParamConfigSize];
  swc_dot1x_get_paramconfig(raw);
  EXPECT_EQ(decode_param(raw), (ParamConfig{ParamConfig{}.reauth_period, 1, ParamConfig{}.eap_timeout}));
  ASSERT_FALSE(auth.reauths.empty());
  EXPECT_EQ(auth.reauths.back().second, ParamConfig{}.reauth_period) << "the ports run the default period";
}

TEST_F(Glue, StatusObjectFillsRecordsOneToSix) {
  set_system(SystemConfig{.enabled = 1});
  host.link[2] = true;
  auth.status[2].auth_status = kUnauthorized;
  auth.status[2].eapol[0] = 4;
  auth.status[3].auth_status = kAuthorized;
  auto get = object(kObjStatus, kMgmtCmdGet, kStatusObjectSize);
  std::memset(get.data() + kMgmtHeaderSize, 0xEE, kStatusSize);
  EXPECT_EQ(run(l2_dot1x_status, get), kMgmtResOk);
  const uint8_t *data = get.data() + kMgmtHeaderSize;
  EXPECT_EQ(data[0], 0xEE) << "record 0 is not filled";
  EXPECT_EQ(le_load32(data + 2 * kStatusSize), uint32_t(kUnauthorized));
  EXPECT_EQ(data[2 * kStatusSize + 15], 4);
  EXPECT_EQ(le_load32(data + 3 * kStatusSize), 0u) << "no link";

  auto shortened = object(kObjStatus, kMgmtCmdGet, kStatusObjectSize - 1);
  EXPECT_EQ(run(l2_dot1x_status, shortened), kMgmtResFail);
  auto set = object(kObjStatus, kMgmtCmdSet, kStatusObjectSize);
  EXPECT_EQ(run(l2_dot1x_status, set), kMgmtResFail);
}

// Switched off by the object or by a restore, 802.1X leaves every port open: the machines stand still
// with the unauthorised status they last set, but a linked port is shown authorised.
TEST_F(Glue, SwitchedOffLinkedPortsShowAuthorisedWithWhatWasRecorded) {
  PortStatus recorded;
  recorded.auth_status = kUnauthorized;
  recorded.pae[0] = 3;
  recorded.eapol[2] = 1;
  recorded.backend[1] = 2;
  recorded.mac_seen = true;
  recorded.mac = {0x02, 0x00, 0x00, 0x00, 0x0b, 0x02};
  std::strcpy(recorded.identity.data(), "carol");
  host.link[2] = host.link[3] = true;
  auth.status[2] = auth.status[4] = recorded;
  uint8_t recorded_raw[kStatusSize];
  encode_status(recorded, true, recorded_raw);

  for (const bool by_restore : {false, true}) {
    SCOPED_TRACE(by_restore ? "defaults restore" : "configuration object");
    set_system(SystemConfig{.enabled = 1});
    auto get = object(kObjStatus, kMgmtCmdGet, kStatusObjectSize);
    ASSERT_EQ(run(l2_dot1x_status, get), kMgmtResOk);
    ASSERT_EQ(le_load32(get.data() + kMgmtHeaderSize + 2 * kStatusSize), uint32_t(kUnauthorized));

    if (by_restore) {
      l2_dot1x_conf(1);
      l2_dot1x_conf(0);
    } else {
      auto set = object(kObjConfig, kMgmtCmdSet, kConfigSize);
      encode_config(Config{}, set.data() + kMgmtHeaderSize);
      ASSERT_EQ(run(l2_dot1x_config, set), kMgmtResOk);
    }
    ASSERT_EQ(run(l2_dot1x_status, get), kMgmtResOk);
    const uint8_t *port2 = get.data() + kMgmtHeaderSize + 2 * kStatusSize;
    EXPECT_EQ(le_load32(port2), uint32_t(kAuthorized));
    EXPECT_EQ(std::memcmp(port2 + 4, recorded_raw + 4, kStatusSize - 4), 0) << "counters, MAC and identity";
    EXPECT_EQ(le_load32(get.data() + kMgmtHeaderSize + 3 * kStatusSize), uint32_t(kAuthorized));
    EXPECT_EQ(le_load32(get.data() + kMgmtHeaderSize + 4 * kStatusSize), 0u) << "no link";
  }
}

TEST_F(Glue, ReauthObject) {
  auto req = reauth_table({{1, 1}, {3, 0}, {0, 1}, {7, 0}});
  EXPECT_EQ(run(l2_dot1x_reauth, req), kMgmtResOk);
  EXPECT_EQ(auth.reinit, std::vector<unsigned>{1});
  EXPECT_EQ(auth.marked, std::vector<unsigned>{3});

  auto only7 = reauth_table({{7, 1}});
  EXPECT_EQ(run(l2_dot1x_reauth, only7), kMgmtResOk) << "port 7 changes nothing, answered 0";
  EXPECT_EQ(auth.reinit.size(), 1u);

  auto too_many = reauth_table({{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {1, 1}});
  EXPECT_EQ(run(l2_dot1x_reauth, too_many), kMgmtResFail);
  EXPECT_EQ(auth.marked.size(), 1u);
  auto wrong_size = reauth_table({{2, 0}});
  le_store16(wrong_size.data() + 18, 4);
  EXPECT_EQ(run(l2_dot1x_reauth, wrong_size), kMgmtResFail);
  EXPECT_EQ(auth.marked.size(), 1u);
}

TEST_F(Glue, WithoutMachinesStatusShowsTheConfiguredControl) {
  l2_dot1x_host_set(&host, nullptr);
  for (bool &l : host.link) l = true;
  set_system(SystemConfig{.enabled = 1});
  swc_dot1x_set_portconfig(2, kAuto);
  auto get = object(kObjStatus, kMgmtCmdGet, kStatusObjectSize);
  EXPECT_EQ(run(l2_dot1x_status, get), kMgmtResOk);
  const uint8_t *data = get.data() + kMgmtHeaderSize;
  EXPECT_EQ(le_load32(data + kStatusSize), uint32_t(kAuthorized));
  EXPECT_EQ(le_load32(data + 2 * kStatusSize), uint32_t(kUnauthorized));
}

}  // namespace
}  // namespace dot1x::test
