// portvisor's modules with the protocol engines in their slots, in-process on the chip model: the
// start-up order, the objects and blocks of the aggregation and spanning-tree modules, frames from the
// CPU queues to the engines and from the engines to the front ports, link changes and bad frames.
#include "board.h"
#include "conf.h"
#include "l2.h"
#include "l2_aggr.h"
#include "l2_dot1x.h"
#include "l2_rstp.h"
#include "loop.h"
#include "mgmt.h"
#include "packet.h"
#include "packet_checks.h"
#include "port.h"
#include "port_stp.h"
#include "process_util.h"
#include "protocols.h"
#include "trace.h"

#include "daemon_on_chip.h"
#include "eapol_codec.h"
#include "radius_test_util.h"
#include "swc_api.h"
#include "swc_groups.h"
#include "swc_qos_state.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint8_t kEth0[6] = {0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
// Chip port of each front port 1..6.
constexpr unsigned kChipPort[7] = {0, 0, 1, 2, 3, 4, 6};

class Portvisor : public DaemonOnChip {
 protected:
  void SetUp() override {
    DaemonOnChip::SetUp();
    board_derive_base_mac(kEth0);
    // No cable yet: links come when a test plugs one.
    for (unsigned port = 1; port <= kPortCount; ++port) phy(port).unplug();
  }
  void TearDown() override {
    chip.egress = nullptr;
    stop();
    DaemonOnChip::TearDown();
  }
  // The modules as main starts them: slots filled, then board (already there), conf, port, packet, l2.
  void start() {
    timer_reg_init();
    loop_hooks_init();
    conf_reset();
    mgmt_reset();
    conf_module_reg(kConfModulePort, port_conf);
    conf_module_reg(kConfModuleL2, l2_conf);
    mgmt_module_reg(3, port_mgmt);
    mgmt_module_reg(4, l2_mgmt);
    protocols_install();
    conf_init();
    port_init();
    packet_init();
    l2_init();
  }
  void stop() {
    for (int id = 0; id < kL2Protos; ++id) l2_protocol_set(static_cast<L2ProtocolId>(id), L2Protocol{});
    lacp::l2_aggr_services_set(nullptr, nullptr);
    rstp::l2_rstp_services_set(nullptr);
    dot1x::l2_dot1x_host_set(nullptr, nullptr);
    dot1x::dot1x_defaults_clear();
    mgmt_reset();
    conf_reset();
    for (int c : {kConfModulePort, kConfModuleL2}) conf_module_reg(static_cast<ConfModuleSlot>(c), nullptr);
    timer_reg_init();
    loop_hooks_init();
  }
  swchip::PhyModel &phy(unsigned port) { return port == 6 ? chip.phy(1, 3) : chip.phy(0, port - 1); }
  void plug(unsigned port) {
    phy(port).plug(swchip::kAbilityAll);
    port_status_update(port);
  }
  void unplug(unsigned port) {
    phy(port).unplug();
    port_status_update(port);
  }
  // The main loop over `ms` milliseconds: timers and one transmit each millisecond, then a pass;
  // frames on a looped cable come back in between.
  void run(uint32_t ms) {
    for (uint32_t i = 0; i < ms; ++i) {
      ++now;
      timer_dispatch(now);
      packet_queue();
      deliver_looped();
      packet_poll();
      l2_protocols_more_work();
    }
  }
  // A cable from front port a to front port b of the same switch.
  void loop_cable(unsigned a, unsigned b) {
    chip.egress = [this, a, b](unsigned chip_port, const std::vector<uint8_t> &frame) {
      if (chip_port == kChipPort[a])
        looped.push_back({kChipPort[b], frame});
      else if (chip_port == kChipPort[b])
        looped.push_back({kChipPort[a], frame});
    };
  }
  void deliver_looped() {
    auto frames = std::move(looped);
    looped.clear();
    for (const auto &[chip_port, frame] : frames) chip.receive_frame(chip_port, frame);
  }
  // A CPU frame from the chip's queue through the frame path.
  void from_cpu(unsigned port, const std::vector<uint8_t> &frame) {
    ASSERT_TRUE(chip.inject_cpu_frame(1, kChipPort[port], frame, 1));
    packet_poll();
    packet_queue();
  }
  static std::vector<uint8_t> object(uint32_t id, uint32_t cmd, size_t data_size) {
    std::vector<uint8_t> o(kMgmtHeaderSize + data_size, 0);
    le_store32(o.data(), id);
    le_store32(o.data() + 4, cmd);
    le_store32(o.data() + 8, 0xFF);
    le_store16(o.data() + 14, static_cast<uint16_t>(o.size()));
    return o;
  }
  static std::vector<uint8_t> table(uint32_t id, uint32_t cmd, uint16_t count, uint16_t entry_size) {
    auto o = object(id, cmd, 4 + count * entry_size);
    le_store16(o.data() + 16, count);
    le_store16(o.data() + 18, entry_size);
    return o;
  }
  static uint32_t process(std::vector<uint8_t> &o) {
    EXPECT_EQ(mgmt_process(o.data(), o.size()), o.size());
    return le_load32(o.data() + 8);
  }
  // Spanning tree configuration with the protocol on the given front ports.
  static rstp::Config rstp_on(std::initializer_list<unsigned> ports, uint16_t priority = 32768) {
    rstp::Config c;
    c.bridge.priority = priority;
    for (auto &p : c.ports) p.enabled = 0;
    for (unsigned p : ports) c.ports[p].enabled = 1;
    return c;
  }
  uint32_t set_rstp(const rstp::Config &c) {
    auto o = object(rstp::kObjConfig, kMgmtCmdSet, rstp::kConfigSize);
    rstp::encode_config(c, o.data() + kMgmtHeaderSize);
    return process(o);
  }
  uint32_t set_lacp(unsigned port, uint16_t key) {
    auto o = object(lacp::kObjLacpConfig, kMgmtCmdGet, lacp::kLacpConfigSize);
    EXPECT_EQ(process(o), kMgmtResOk);
    le_store32(o.data() + 4, kMgmtCmdSet);
    lacp::encode_port_config(lacp::PortConfig{32768, key, 1, 1, 1},
                             o.data() + kMgmtHeaderSize + 20 + 8 * (port - 1));
    return process(o);
  }
  static std::vector<uint8_t> bpdu(uint8_t version, uint8_t type, rstp::Mac source) {
    rstp::Bpdu b;
    b.version = version;
    b.type = type;
    b.vector.root = rstp::BridgeId{0x1000, source};
    b.vector.designated_bridge = b.vector.root;
    b.vector.designated_port = 0x8001;
    b.times = rstp::Times{0, 20, 15, 2};
    std::vector<uint8_t> f(60, 0);
    rstp::encode_bpdu(b, source, f.data());
    return f;
  }
  static std::vector<uint8_t> lacpdu(uint16_t partner_port) {
    lacp::PortInfo actor{32768, lacp::Mac{0x02, 0xAA, 0, 0, 0, 1}, 7, 32768, partner_port, 0x3D};
    std::vector<uint8_t> f(lacp::kPduLength, 0);
    lacp::encode_lacpdu(actor.system, actor, lacp::PortInfo{}, f.data());
    return f;
  }
  // An aggregation of the given front ports through object 4007 (none: the aggregation is emptied).
  uint32_t set_aggregation(uint32_t poag_no, std::initializer_list<unsigned> ports) {
    auto add = table(lacp::kObjTable, kMgmtCmdAdd, 1, lacp::kAggrEntrySize);
    lacp::AggrEntry entry;
    entry.poag_no = poag_no;
    for (unsigned p : ports) entry.members[p] = 1;
    lacp::encode_aggr_entry(entry, add.data() + kMgmtTableHeaderSize);
    return process(add);
  }
  static uint32_t chip_state(unsigned port) {
    uint32_t state = 0;
    EXPECT_EQ(swc_port_stp_state_get(port, &state), 0);
    return state;
  }
  // The port identifiers of the BPDUs that left on a front port since the last look.
  std::vector<uint16_t> bpdu_port_ids(unsigned port) {
    std::vector<uint16_t> ids;
    for (const auto &f : chip.take_transmitted(kChipPort[port])) {
      rstp::Bpdu b;
      if (f.size() > 14 && f[14] == 0x42 && rstp::decode_bpdu(f.data(), f.size(), b) == rstp::Decode::kOk)
        ids.push_back(b.vector.designated_port);
    }
    return ids;
  }
  const rstp::Port &rstp_port(unsigned p) { return rstp::l2_rstp_engine()->port(p); }
  const lacp::Port &lacp_port(unsigned p) { return lacp::l2_aggr_module()->engine().port(p); }

  uint32_t now = 5000000;
  std::vector<std::pair<unsigned, std::vector<uint8_t>>> looped;
};

TEST_F(Portvisor, SpanningTreeStartsBeforeTheAggregationModuleAndEveryPortForwardsWithoutIt) {
  start();
  ASSERT_NE(rstp::l2_rstp_engine(), nullptr);
  ASSERT_NE(lacp::l2_aggr_module(), nullptr);
  for (unsigned port = 1; port <= kPortCount; ++port) {
    EXPECT_EQ(swc_os_get_fwdstate(port), 1) << port;
    // The defaults switch the protocol off: the port is held in enb.
    EXPECT_EQ(swc_os_get_stpstate(port), kStpEnb) << port;
    EXPECT_EQ(port_get_stp_state(port), SWC_STP_STATE_ENABLED) << port;
  }
  plug(2);
  uint32_t chip_state = 0;
  ASSERT_EQ(swc_port_stp_state_get(2, &chip_state), 0);
  EXPECT_EQ(chip_state, SWC_STP_STATE_ENABLED);
}

TEST_F(Portvisor, ProtocolStateReachesTheChipOnlyWithTheApplyFlagAndALink) {
  start();
  plug(3);
  auto chip_state = [] {
    uint32_t state = 99;
    EXPECT_EQ(swc_port_stp_state_get(3, &state), 0);
    return state;
  };
  swc_os_set_stpstate(3, kStpLrn);
  EXPECT_EQ(chip_state(), SWC_STP_STATE_LEARNING);
  swc_os_set_stpstate(3, kStpFwd);
  EXPECT_EQ(chip_state(), SWC_STP_STATE_FORWARDING);
  swc_os_set_fwdstate(3, 0);
  EXPECT_EQ(chip_state(), SWC_STP_STATE_BLOCKING);
  swc_os_set_stpstate(3, kStpDis);
  EXPECT_EQ(swc_os_get_stpstate(3), kStpDis);
  EXPECT_EQ(chip_state(), SWC_STP_STATE_BLOCKING) << "kept, not applied";
  swc_os_set_fwdstate(3, 1);
  EXPECT_EQ(chip_state(), SWC_STP_STATE_DISABLED);
  unplug(3);
  swc_os_set_stpstate(3, kStpBlk);
  EXPECT_EQ(port_get_stp_state(3), SWC_STP_STATE_BLOCKING);
  EXPECT_EQ(chip_state(), SWC_STP_STATE_DISABLED) << "a port without link waits for its link";
  plug(3);
  EXPECT_EQ(chip_state(), SWC_STP_STATE_BLOCKING);
  EXPECT_DEATH(swc_os_set_stpstate(7, kStpFwd), "");
  EXPECT_DEATH(swc_os_set_stpstate(2, kStpEnb + 1), "") << "the engines' programming errors stop the daemon";
}

TEST_F(Portvisor, SpanningTreeTickDriverRunsBeforeTheLacpOne) {
  start();
  run(2000);
  trace_option_apply("all", "warn");
  testing::internal::CaptureStdout();
  timer_dispatch(now + 30000);  // every 500-ms timer jumps: each tick driver warns in its turn
  const std::string out = testing::internal::GetCapturedStdout();
  const size_t rstp_line = out.find("/rstp/");
  const size_t lacp_line = out.find("/l2/tick(");  // the aggregation module's tick driver
  ASSERT_NE(rstp_line, std::string::npos) << out;
  ASSERT_NE(lacp_line, std::string::npos) << out;
  EXPECT_LT(rstp_line, lacp_line) << out;
  EXPECT_NE(out.find("Timer jumped more than 20 ticks: reset", lacp_line), std::string::npos) << out;
}

TEST_F(Portvisor, ProtocolObjectsAnswer) {
  start();
  struct Probe {
    uint32_t id;
    size_t size;
  };
  for (const Probe &p :
       {Probe{lacp::kObjMode, lacp::kAggrModeSize}, Probe{lacp::kObjLacpConfig, lacp::kLacpConfigSize},
        Probe{lacp::kObjLacpStatus, lacp::kLacpStatusSize}, Probe{rstp::kObjConfig, rstp::kConfigSize},
        Probe{rstp::kObjStatus, rstp::kStatusSize}, Probe{rstp::kObjMcheck, rstp::kMcheckSize}}) {
    auto o = object(p.id, kMgmtCmdGet, p.size);
    EXPECT_EQ(process(o), kMgmtResOk) << p.id;
  }
  auto t = table(lacp::kObjTable, kMgmtCmdGet, 1, lacp::kAggrEntrySize);
  EXPECT_EQ(process(t), kMgmtResOk);
  EXPECT_EQ(le_load16(t.data() + 16), 0u) << "no aggregation yet";
  auto status = object(rstp::kObjStatus, kMgmtCmdGet, rstp::kStatusSize);
  process(status);
  // VLANs 1, 2 and 6 of the defaults have instances besides the default one.
  unsigned enabled = 0;
  for (unsigned slot = 0; slot < rstp::kInstances; ++slot)
    enabled += status[kMgmtHeaderSize + rstp::kBridgeStatusSize * slot + 42];
  EXPECT_EQ(enabled, 4u);
}

TEST_F(Portvisor, BlocksAreWrittenAtTheFirstStartAndChangesComeBackAfterARestart) {
  start();
  for (auto [id, size] : {std::pair{9u, 20u}, {10u, 112u}, {20u, 68u}, {21u, 96u}}) {
    uint32_t got = 0;
    EXPECT_NE(conf_open(id, &got), nullptr) << id;
    EXPECT_EQ(got, size) << id;
  }
  EXPECT_EQ(set_rstp(rstp_on({1, 2}, 4096)), kMgmtResOk);
  EXPECT_EQ(set_lacp(3, 5), kMgmtResOk);
  auto mode = object(lacp::kObjMode, kMgmtCmdSet, lacp::kAggrModeSize);
  le_store32(mode.data() + kMgmtHeaderSize + 8, 1);
  EXPECT_EQ(process(mode), kMgmtResOk);
  auto add = table(lacp::kObjTable, kMgmtCmdAdd, 1, lacp::kAggrEntrySize);
  lacp::AggrEntry entry;
  entry.poag_no = 8;
  entry.members[4] = entry.members[5] = 1;
  lacp::encode_aggr_entry(entry, add.data() + kMgmtTableHeaderSize);
  EXPECT_EQ(process(add), kMgmtResOk);
  EXPECT_EQ(swc_aggr_port_member_get(4), 8) << "the chip holds the aggregation";

  stop();
  start();  // reads switch.conf from the work directory
  EXPECT_EQ(rstp::l2_rstp_engine()->config().priority, 4096);
  EXPECT_EQ(rstp::l2_rstp_engine()->port_config(2).enabled, 1);
  EXPECT_EQ(rstp::l2_rstp_engine()->port_config(3).enabled, 0);
  EXPECT_EQ(lacp_port(3).config.enabled, 1);
  EXPECT_EQ(lacp_port(3).config.admin_key, 5);
  EXPECT_EQ(lacp::l2_aggr_module()->mode()[2], 1u);
  ASSERT_EQ(lacp::l2_aggr_module()->table_count(), 1u);
  EXPECT_EQ(lacp::l2_aggr_module()->table_entry(0), entry);
  EXPECT_EQ(swc_aggr_port_member_get(5), 8);
  EXPECT_NE(swc_os_get_stpstate(1), kStpEnb) << "the protocol runs on port 1 again";
  EXPECT_EQ(swc_os_get_stpstate(3), kStpEnb);
}

TEST_F(Portvisor, Dot1xBlockObjectsAndSwitchingOffOpenEveryPort) {
  start();
  uint32_t size = 0;
  ASSERT_NE(conf_open(dot1x::kConfBlock, &size), nullptr);
  EXPECT_EQ(size, dot1x::kConfigSize);
  auto status = object(dot1x::kObjStatus, kMgmtCmdGet, dot1x::kStatusObjectSize);
  EXPECT_EQ(process(status), kMgmtResOk);

  dot1x::Config c;
  c.system.enabled = 1;
  c.port_control[2] = dot1x::kForceUnauthorized;
  auto set = object(dot1x::kObjConfig, kMgmtCmdSet, dot1x::kConfigSize);
  dot1x::encode_config(c, set.data() + kMgmtHeaderSize);
  EXPECT_EQ(process(set), kMgmtResOk);
  for (unsigned port = 1; port <= kPortCount; ++port)
    ASSERT_EQ(swc_port_auth_state_set(port, SWC_AUTH_STATE_NONE), kSwcRcOk);
  c.system.enabled = 0;
  dot1x::encode_config(c, set.data() + kMgmtHeaderSize);
  EXPECT_EQ(process(set), kMgmtResOk);
  for (unsigned port = 1; port <= kPortCount; ++port)
    EXPECT_EQ(swc_state()->auth_state[port], SWC_AUTH_STATE_BOTH) << port;

  stop();
  start();
  auto get = object(dot1x::kObjConfig, kMgmtCmdGet, dot1x::kConfigSize);
  EXPECT_EQ(process(get), kMgmtResOk);
  EXPECT_EQ(dot1x::decode_config(get.data() + kMgmtHeaderSize), c) << "block 22 kept the change";
}

// A RADIUS server on a loopback UDP port whose replies the test writes by hand.
class LoopbackRadius {
 public:
  LoopbackRadius() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    address_.sin_family = AF_INET;
    address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address_;
    if (fd_ >= 0 && (bind(fd_, reinterpret_cast<sockaddr *>(&address_), sizeof address_) != 0 ||
                     getsockname(fd_, reinterpret_cast<sockaddr *>(&address_), &length) != 0)) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~LoopbackRadius() {
    if (fd_ >= 0) close(fd_);
  }
  LoopbackRadius(const LoopbackRadius &) = delete;
  LoopbackRadius &operator=(const LoopbackRadius &) = delete;
  bool ok() const { return fd_ >= 0; }
  uint16_t port() const { return ntohs(address_.sin_port); }
  // The next request within two seconds, empty when none came; its sender gets the replies.
  std::vector<uint8_t> receive() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 2000) != 1) return {};
    std::vector<uint8_t> request(4096);
    socklen_t length = sizeof client_;
    const ssize_t n =
        recvfrom(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr *>(&client_), &length);
    request.resize(n > 0 ? size_t(n) : 0);
    return request;
  }
  void reply(const std::vector<uint8_t> &packet) {
    sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&client_), sizeof client_);
  }

 private:
  int fd_ = -1;
  sockaddr_in address_{};
  sockaddr_in client_{};
};

// A supplicant on front port 1 and a RADIUS server on loopback: the frames go through the CPU queue and
// the L2 dispatch, the Access-Request through the socket polled on each pass.
class Dot1xLogin : public Portvisor {
 protected:
  // An ordinary broadcast from the supplicant's side: whether it reaches port 6 (the trunk of the
  // default VLANs) shows port 1 open.
  bool passes_port_1() {
    std::vector<uint8_t> ordinary(60, 0);
    std::fill(ordinary.begin(), ordinary.begin() + 6, 0xFF);
    ordinary[6] = 0x02;
    ordinary[11] = 0x09;
    ordinary[12] = 0x08;
    ordinary[13] = 0x06;
    chip.take_transmitted(kChipPort[6]);
    chip.receive_frame(kChipPort[1], ordinary);
    run(2);
    return !chip.take_transmitted(kChipPort[6]).empty();
  }
  // 802.1X on, port 1 under automatic control with the loopback server; the others stay authorised.
  void enable_on_port_1() {
    dot1x::Config c;
    c.system.enabled = 1;
    c.system.server = INADDR_LOOPBACK;
    c.system.server_port = server.port();
    std::strcpy(c.system.secret.data(), "s3cret");
    c.port_control[1] = dot1x::kAuto;
    auto set = object(dot1x::kObjConfig, kMgmtCmdSet, dot1x::kConfigSize);
    dot1x::encode_config(c, set.data() + kMgmtHeaderSize);
    ASSERT_EQ(process(set), kMgmtResOk);
    EXPECT_EQ(swc_state()->auth_state[1], SWC_AUTH_STATE_NONE);
    EXPECT_EQ(swc_state()->auth_state[2], SWC_AUTH_STATE_BOTH) << "force authorised";
  }
  // The last EAPOL frame the authenticator sends on port 1 (a Request/Identity at first), empty when none.
  std::vector<uint8_t> request_identity() {
    std::vector<uint8_t> found;
    for (const auto &f : chip.take_transmitted(kChipPort[1]))
      if (f.size() >= 23 && f[12] == 0x88 && f[13] == 0x8e) found = f;
    return found;
  }
  void respond_identity(uint8_t eap_id, const std::string &name = "alice") {
    response = {dot1x::kEapResponse, eap_id, 0, uint8_t(5 + name.size()), 1};
    response.insert(response.end(), name.begin(), name.end());
    std::vector<uint8_t> frame{0x01, 0x80, 0xc2, 0x00, 0x00, 0x03};
    frame.insert(frame.end(), supplicant.begin(), supplicant.end());
    frame.insert(frame.end(), {0x88, 0x8e, 2, 0, 0, uint8_t(response.size())});
    frame.insert(frame.end(), response.begin(), response.end());
    frame.resize(60, 0);
    from_cpu(1, frame);
  }
  // A forged reject (wrong secret, it changes nothing) and then the server's accept.
  void answer_access_request(const std::vector<uint8_t> &request) {
    dot1x::Digest authenticator{};
    std::copy(request.begin() + 4, request.begin() + 20, authenticator.begin());
    const std::vector<uint8_t> failure{dot1x::kEapFailure, response[1], 0, 4};
    server.reply(dot1x::test::server_reply(dot1x::kRadiusAccessReject, request[1], authenticator, "guess",
                                           {{dot1x::kRadiusAttrEapMessage, failure}}, true));
    const std::vector<uint8_t> success{dot1x::kEapSuccess, response[1], 0, 4};
    server.reply(dot1x::test::server_reply(dot1x::kRadiusAccessAccept, request[1], authenticator, "s3cret",
                                           {{dot1x::kRadiusAttrEapMessage, success}}, true));
    for (int i = 0; i < 200 && swc_state()->auth_state[1] != SWC_AUTH_STATE_BOTH; ++i) {
      usleep(1000);
      run(1);
    }
  }
  // The whole exchange up to the accept.
  void log_in() {
    ASSERT_TRUE(server.ok());
    start();
    plug(1);
    plug(6);
    ASSERT_TRUE(passes_port_1()) << "802.1X off: the port is open";
    ASSERT_NO_FATAL_FAILURE(enable_on_port_1());
    run(5);
    const auto identity = request_identity();
    ASSERT_FALSE(identity.empty()) << "Request/Identity on port 1";
    EXPECT_EQ(identity[18], dot1x::kEapRequest);
    EXPECT_FALSE(passes_port_1()) << "unauthorised: only EAPOL passes";
    respond_identity(identity[19]);
    const auto request = server.receive();
    ASSERT_GT(request.size(), 20u);
    EXPECT_EQ(request[0], dot1x::kRadiusAccessRequest);
    answer_access_request(request);
    EXPECT_EQ(swc_state()->auth_state[1], SWC_AUTH_STATE_BOTH) << "authorised by the accept";
    EXPECT_TRUE(passes_port_1()) << "authorised: ordinary frames pass";
  }
  LoopbackRadius server;
  const dot1x::MacAddress supplicant{0x02, 0x5A, 0, 0, 0, 9};
  std::vector<uint8_t> response;
};

TEST_F(Dot1xLogin, ThroughTheDispatchAndTheRadiusSocket) {
  ASSERT_NO_FATAL_FAILURE(log_in());
  auto status = object(dot1x::kObjStatus, kMgmtCmdGet, dot1x::kStatusObjectSize);
  ASSERT_EQ(process(status), kMgmtResOk);
  const uint8_t *record = status.data() + kMgmtHeaderSize + dot1x::kStatusSize;
  EXPECT_EQ(le_load32(record), uint32_t(dot1x::kAuthorized));
  EXPECT_STREQ(reinterpret_cast<const char *>(record + 31), "02:5a:00:00:00:09");
  EXPECT_STREQ(reinterpret_cast<const char *>(record + 49), "alice");
  EXPECT_EQ(record[26 + 3], 1) << "one back-end success";
}

TEST_F(Dot1xLogin, LinkUpStartsOver) {
  ASSERT_NO_FATAL_FAILURE(log_in());
  unplug(1);
  EXPECT_EQ(swc_state()->auth_state[1], SWC_AUTH_STATE_BOTH)
      << "without link the machines wait in INITIALIZE and leave the chip alone";
  plug(1);
  EXPECT_EQ(swc_state()->auth_state[1], SWC_AUTH_STATE_NONE) << "link up starts over";
}

TEST_F(Dot1xLogin, RestoringDefaultsOpensAnUnauthorisedAutomaticPort) {
  ASSERT_TRUE(server.ok());
  start();
  mgmt_module_reg(2, conf_mgmt);
  plug(1);
  plug(6);
  ASSERT_TRUE(passes_port_1()) << "802.1X off: the port is open";
  ASSERT_NO_FATAL_FAILURE(enable_on_port_1());
  run(5);
  ASSERT_FALSE(passes_port_1()) << "unauthorised: only EAPOL passes";
  auto restore = object(2001, kMgmtCmdSet, 4);
  ASSERT_EQ(process(restore), kMgmtResOk);
  run(600);  // the configuration timer carries the restore out
  auto get = object(dot1x::kObjConfig, kMgmtCmdGet, dot1x::kConfigSize);
  ASSERT_EQ(process(get), kMgmtResOk);
  EXPECT_EQ(dot1x::decode_config(get.data() + kMgmtHeaderSize), dot1x::Config{}) << "802.1X off";
  EXPECT_EQ(swc_state()->auth_state[1], SWC_AUTH_STATE_BOTH);
  EXPECT_TRUE(passes_port_1()) << "the port forwards as with 802.1X off";
}

// A User-Name holds at least one character, so an empty identity cannot go to the server.
TEST_F(Dot1xLogin, EmptyIdentityFailsTheAttemptWithoutARequestToTheServer) {
  ASSERT_TRUE(server.ok());
  start();
  plug(1);
  ASSERT_NO_FATAL_FAILURE(enable_on_port_1());
  run(5);
  const auto identity = request_identity();
  ASSERT_FALSE(identity.empty()) << "Request/Identity on port 1";
  respond_identity(identity[19], "");
  run(5);
  EXPECT_TRUE(server.receive().empty()) << "no Access-Request";
  const auto failure = request_identity();
  ASSERT_FALSE(failure.empty());
  EXPECT_EQ(failure[18], dot1x::kEapFailure) << "the supplicant is told";
  auto status = object(dot1x::kObjStatus, kMgmtCmdGet, dot1x::kStatusObjectSize);
  ASSERT_EQ(process(status), kMgmtResOk);
  const uint8_t *record = status.data() + kMgmtHeaderSize + dot1x::kStatusSize;
  EXPECT_EQ(record[26 + 4], 1) << "a back-end failure";
  EXPECT_EQ(record[4 + 5], 1) << "a failure while authenticating";
  EXPECT_EQ(swc_state()->auth_state[1], SWC_AUTH_STATE_NONE);
}

TEST_F(Dot1xLogin, HeaderOnlyEapolFrameIsCountedAsALengthError) {
  ASSERT_TRUE(server.ok());
  start();
  plug(1);
  ASSERT_NO_FATAL_FAILURE(enable_on_port_1());
  // Port 1's status record: byte 15 counts EAPOL frames received, byte 24 EAP length errors.
  const auto port_1_status = [this] {
    auto status = object(dot1x::kObjStatus, kMgmtCmdGet, dot1x::kStatusObjectSize);
    EXPECT_EQ(process(status), kMgmtResOk);
    const auto record = status.begin() + kMgmtHeaderSize + dot1x::kStatusSize;
    return std::vector<uint8_t>(record, record + dot1x::kStatusSize);
  };
  const auto before = port_1_status();
  std::vector<uint8_t> header{0x01, 0x80, 0xc2, 0x00, 0x00, 0x03};
  header.insert(header.end(), supplicant.begin(), supplicant.end());
  header.insert(header.end(), {0x88, 0x8e});
  from_cpu(1, header);
  const auto after = port_1_status();
  EXPECT_EQ(after[24], before[24] + 1) << "one EAP length error";
  EXPECT_EQ(after[15], before[15]) << "not counted as an EAPOL frame received";
  EXPECT_EQ(swc_state()->auth_state[1], SWC_AUTH_STATE_NONE) << "the port stays closed";
  run(10);
  expect_pools_full();
}

TEST_F(Portvisor, AggregationDebugWordLeavesItsBlocksAlone) {
  process_state().debug_flags[lacp::kDebugDisableAggr] = 1;
  start();
  uint32_t size = 0;
  EXPECT_EQ(conf_open(9, &size), nullptr);
  EXPECT_EQ(conf_open(10, &size), nullptr);
  EXPECT_EQ(conf_open(20, &size), nullptr);
  EXPECT_NE(conf_open(21, &size), nullptr) << "the spanning tree has no debug word";
}

TEST_F(Portvisor, BpdusAndLacpdusFromTheCpuQueueReachTheEngines) {
  start();
  ASSERT_EQ(set_rstp(rstp_on({1})), kMgmtResOk);
  plug(1);
  plug(3);
  from_cpu(1, bpdu(2, rstp::kBpduRst, rstp::Mac{0x02, 0xBB, 0, 0, 0, 1}));
  EXPECT_EQ(rstp_port(1).counters.rst_received, 1u);
  from_cpu(1, bpdu(0, rstp::kBpduConfig, rstp::Mac{0x02, 0xBB, 0, 0, 0, 1}));
  EXPECT_EQ(rstp_port(1).counters.config_received, 1u);
  from_cpu(3, lacpdu(4));
  EXPECT_EQ(lacp_port(3).counters.lacpdus_received, 1u);
  run(10);  // the engines' answers leave
  expect_pools_full();
}

TEST_F(Portvisor, ChipCapturesBpdusFromTheWireToTheCpu) {
  start();
  ASSERT_EQ(set_rstp(rstp_on({4})), kMgmtResOk);
  plug(4);
  chip.receive_frame(kChipPort[4], bpdu(2, rstp::kBpduRst, rstp::Mac{0x02, 0xBB, 0, 0, 0, 4}));
  chip.receive_frame(kChipPort[4], lacpdu(1));
  run(5);
  EXPECT_EQ(rstp_port(4).counters.rst_received, 1u);
  EXPECT_EQ(lacp_port(4).counters.lacpdus_received, 1u);
  for (unsigned port = 1; port <= kPortCount; ++port) {
    if (port == 4) continue;
    for (const auto &f : chip.take_transmitted(kChipPort[port]))
      EXPECT_NE(f[0], 0x01) << "not flooded: port " << port;
  }
}

TEST_F(Portvisor, LinkChangesReachBothEngines) {
  start();
  ASSERT_EQ(set_rstp(rstp_on({2})), kMgmtResOk);
  ASSERT_EQ(set_lacp(2, 1), kMgmtResOk);
  plug(2);
  EXPECT_EQ(lacp_port(2).enabled, 1);
  EXPECT_TRUE(rstp_port(2).link);
  EXPECT_EQ(swc_os_get_stpstate(2), kStpBlk) << "a new link starts discarding";
  unplug(2);
  EXPECT_EQ(lacp_port(2).enabled, 0);
  EXPECT_FALSE(rstp_port(2).link);
  EXPECT_LE(swc_os_get_stpstate(2), kStpBlk);
}

TEST_F(Portvisor, FramesTheEnginesSendLeaveOnTheirFrontPort) {
  start();
  ASSERT_EQ(set_rstp(rstp_on({2})), kMgmtResOk);
  ASSERT_EQ(set_lacp(5, 1), kMgmtResOk);
  plug(2);
  plug(5);
  run(4000);
  uint8_t mac2[6], mac5[6];
  swc_os_get_portmac(2, mac2);
  swc_os_get_portmac(5, mac5);
  size_t bpdus = 0, lacpdus = 0;
  for (unsigned port = 1; port <= kPortCount; ++port) {
    for (const auto &f : chip.take_transmitted(kChipPort[port])) {
      ASSERT_GE(f.size(), 60u);
      const bool is_bpdu = f[5] == 0x00 && f[14] == 0x42;
      const bool is_lacpdu = f[5] == 0x02 && f[12] == 0x88 && f[13] == 0x09;
      ASSERT_TRUE(is_bpdu || is_lacpdu) << "port " << port;
      EXPECT_EQ(port, is_bpdu ? 2u : 5u);
      EXPECT_TRUE(std::equal(f.begin() + 6, f.begin() + 12, is_bpdu ? mac2 : mac5));
      bpdus += is_bpdu;
      lacpdus += is_lacpdu;
    }
  }
  EXPECT_GE(bpdus, 2u) << "hello every 2 s";
  EXPECT_GE(lacpdus, 3u) << "fast periodic: every second";
  expect_pools_full();
}

TEST_F(Portvisor, ACableLoopingTwoPortsLeavesOneOfThemDiscarding) {
  start();
  loop_cable(1, 2);
  ASSERT_EQ(set_rstp(rstp_on({1, 2})), kMgmtResOk);
  // Both ports in one VLAN, so one instance sees the loop.
  auto vlan = table(4004, kMgmtCmdAdd, 1, 32);
  le_store32(vlan.data() + kMgmtTableHeaderSize, 1);
  for (unsigned port : {1u, 2u, 6u}) le_store32(vlan.data() + kMgmtTableHeaderSize + 4 + 4 * port, 1);
  ASSERT_EQ(process(vlan), kMgmtResOk);
  plug(1);
  plug(2);
  // Its own backup port never agrees to a proposal: the designated port forwards after twice the
  // forward delay (15 s).
  run(32000);
  auto status = object(rstp::kObjStatus, kMgmtCmdGet, rstp::kStatusSize);
  ASSERT_EQ(process(status), kMgmtResOk);
  auto role = [&](unsigned port) {
    return status[kMgmtHeaderSize + 312 + rstp::kPortStatusSize * port + 32];
  };
  auto state = [&](unsigned port) {
    return status[kMgmtHeaderSize + 312 + rstp::kPortStatusSize * port + 30];
  };
  EXPECT_EQ(role(1), rstp::kRoleDesignated);
  EXPECT_EQ(state(1), 3) << "forwarding";
  EXPECT_EQ(role(2), rstp::kRoleBackup);
  EXPECT_EQ(state(2), 1) << "discarding";
  uint32_t chip1 = 0, chip2 = 0;
  ASSERT_EQ(swc_port_stp_state_get(1, &chip1), 0);
  ASSERT_EQ(swc_port_stp_state_get(2, &chip2), 0);
  EXPECT_EQ(chip1, SWC_STP_STATE_FORWARDING);
  EXPECT_EQ(chip2, SWC_STP_STATE_BLOCKING) << "the chip blocks the loop";
}

TEST_F(Portvisor, MalformedBpdusAndLacpdusAreDroppedAndCounted) {
  start();
  ASSERT_EQ(set_rstp(rstp_on({1})), kMgmtResOk);
  plug(1);
  plug(2);
  const rstp::Mac peer{0x02, 0xBB, 0, 0, 0, 1};
  auto truncated = bpdu(2, rstp::kBpduRst, peer);
  truncated.resize(40);
  from_cpu(1, truncated);
  EXPECT_EQ(rstp_port(1).counters.illegal, 1u);
  auto claims_more = bpdu(2, rstp::kBpduRst, peer);
  le_store16(claims_more.data() + 12, 0);  // big-endian length field 0x0100 ... beyond the frame
  claims_more[12] = 0x01;
  from_cpu(1, claims_more);
  EXPECT_EQ(rstp_port(1).counters.illegal, 2u);
  from_cpu(1, bpdu(0, rstp::kBpduRst, peer));  // an RST BPDU must say version 2 or more
  EXPECT_EQ(rstp_port(1).counters.unrecognised, 1u);
  auto oversized = bpdu(2, rstp::kBpduRst, peer);
  oversized.resize(1514, 0xEE);
  from_cpu(1, oversized);
  EXPECT_EQ(rstp_port(1).counters.rst_received, 1u) << "bytes after the BPDU are padding";
  EXPECT_EQ(rstp_port(1).counters.illegal, 2u);

  auto short_lacpdu = lacpdu(1);
  short_lacpdu.resize(60);
  from_cpu(2, short_lacpdu);
  auto bad_tlv = lacpdu(1);
  bad_tlv[lacp::kOffActorTlv + 1] = 0x30;
  from_cpu(2, bad_tlv);
  auto big = lacpdu(1);
  big.resize(1514, 0);
  from_cpu(2, big);
  EXPECT_EQ(lacp_port(2).counters.illegal, 2u);
  EXPECT_EQ(lacp_port(2).counters.lacpdus_received, 1u);
  auto header_only = lacpdu(1);
  header_only.resize(14);
  from_cpu(2, header_only);
  EXPECT_EQ(lacp_port(2).counters.illegal, 3u) << "a header without a body is counted too";
  run(10);
  expect_pools_full();
  auto status = object(rstp::kObjStatus, kMgmtCmdGet, rstp::kStatusSize);
  EXPECT_EQ(process(status), kMgmtResOk) << "still serving";
}

// Spanning tree on ports 3 and 4 as non-edge ports, so a new designated port discards for a while.
rstp::Config rstp_on_3_and_4() {
  rstp::Config c;
  for (auto &p : c.ports) p.enabled = 0;
  for (unsigned p : {0u, 3u, 4u}) {
    c.ports[p].enabled = 1;
    c.ports[p].admin_edge = 0;
  }
  return c;
}

// A member's own configuration changes nothing of its state: it follows the aggregation's port, which
// is still discarding, so neither member may start forwarding.
TEST_F(Portvisor, ConfiguringAMemberOfAnAggregationLeavesItInTheAggregationsState) {
  start();
  rstp::Config c = rstp_on_3_and_4();
  ASSERT_EQ(set_rstp(c), kMgmtResOk);
  plug(3);
  plug(4);
  ASSERT_EQ(set_aggregation(7, {3, 4}), kMgmtResOk);
  run(2000);
  ASSERT_EQ(rstp::l2_rstp_engine()->representative(3), 7u);
  ASSERT_EQ(rstp_port(7).stp_state, rstp::kStpBlocking) << "within the forward delay";
  ASSERT_EQ(chip_state(3), SWC_STP_STATE_BLOCKING);
  ASSERT_EQ(chip_state(4), SWC_STP_STATE_BLOCKING);

  c.ports[3].priority = 64;
  c.ports[3].admin_cost = 20000;
  ASSERT_EQ(set_rstp(c), kMgmtResOk);
  run(1000);
  EXPECT_EQ(chip_state(3), SWC_STP_STATE_BLOCKING);
  EXPECT_EQ(chip_state(4), SWC_STP_STATE_BLOCKING);
  EXPECT_EQ(swc_os_get_stpstate(3), kStpBlk);
}

// Emptying an aggregation through its table entry ends its spanning-tree port as a delete does: the old
// first member sends only its own BPDUs.
TEST_F(Portvisor, AnAggregationUpdatedToNoMembersStopsItsSpanningTreePort) {
  start();
  ASSERT_EQ(set_rstp(rstp_on_3_and_4()), kMgmtResOk);
  plug(3);
  plug(4);
  ASSERT_EQ(set_aggregation(7, {3, 4}), kMgmtResOk);
  run(5000);
  const auto before = bpdu_port_ids(3);
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(before.back() & 0xFFF, 7u) << "the aggregation's port sends on its first member";

  ASSERT_EQ(set_aggregation(7, {}), kMgmtResOk);
  EXPECT_EQ(swc_aggr_port_member_get(3), 3) << "the chip no longer aggregates port 3";
  bpdu_port_ids(3);
  run(6000);
  const auto after = bpdu_port_ids(3);
  ASSERT_FALSE(after.empty()) << "port 3 runs the protocol as itself";
  for (uint16_t id : after) EXPECT_EQ(id & 0xFFF, 3u);
  EXPECT_FALSE(rstp_port(7).active);
}

}  // namespace
