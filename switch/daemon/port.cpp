#include "port.h"

#include "board.h"
#include "conf.h"
#include "l2.h"
#include "loop.h"
#include "mgmt.h"
#include "port_cablescan.h"
#include "port_qos.h"
#include "port_stp.h"
#include "trace.h"

#include "swc_api.h"
#include "swc_mac.h"
#include "swc_phy.h"
#include "swc_port.h"
#include "swc_qos_state.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace {

#define PORT_TRACE(level, ...) \
  trace_printf(trace::kPort, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)
// Traces a failed API call with its text (nothing for a success) and yields the call's result.
#define PORT_API(call) TRACE_API_RESULT(trace::kPort, call, trace::kDebug, #call)

// Front port -> {chip port, MIIM controller, PHY address} of this board; entry 0 is a placeholder.
constexpr SwcPortMap kBoardPortMap[kPortCount + 1] = {
    {-1, static_cast<uint32_t>(-1), static_cast<uint32_t>(-1)},
    {0, 0, 0},
    {1, 0, 1},
    {2, 0, 2},
    {3, 0, 3},
    {4, 0, 4},
    {6, 1, 3},
};

constexpr bool port_has_phy(unsigned port) {
  return kBoardPortMap[port].miim_controller != static_cast<uint32_t>(-1);
}

constexpr uint32_t port_mac_interface(unsigned port) {
  return port == 6 ? kSwcIfRgmii : kSwcIfInternal;
}

struct PortRuntime {
  SwcPortStatus status{};
  bool link = false;  // set once a link-up has been handled
  uint32_t stp_state = SWC_STP_STATE_FORWARDING;
  bool phy_mounted = false;
};

struct PortModule {
  std::array<PortConfig, kPortCount + 1> config{};
  std::array<PortRuntime, kPortCount + 1> runtime{};
  unsigned status_pointer = 1;
  unsigned counters_pointer = 1;
};

PortModule ports;

uint64_t le_load64(const uint8_t *p) {
  return static_cast<uint64_t>(le_load32(p + 4)) << 32 | le_load32(p);
}

void le_store64(uint8_t *p, uint64_t v) {
  le_store32(p, static_cast<uint32_t>(v));
  le_store32(p + 4, static_cast<uint32_t>(v >> 32));
}

bool valid_port(unsigned port) {
  return port >= 1 && port <= kPortCount;
}

unsigned next_port(unsigned port) {
  return port >= kPortCount ? 1 : port + 1;
}

// A failure the chip cannot recover from: the supervisor starts a fresh worker on exit status 2.
[[noreturn]] void fatal_chip_error() {
  std::exit(2);
}

void set_all_configs(const PortConfig &config) {
  for (unsigned port = 1; port <= kPortCount; ++port) ports.config[port] = config;
}

void reset_target() {
  PORT_TRACE(trace::kDebug, "Initialize the switch API.");
  PORT_TRACE(trace::kDebug, "Reset target chip.");
  SwcInitSetup init_setup{1, 1, 0, 0, 0};
  PORT_API(swc_init(&init_setup));
}

void getchipid() {
  SwcChipId chipid{};
  if (PORT_API(swc_chipid_get(&chipid)) < 0) return;  // the record holds nothing worth naming
  const char revision = static_cast<char>(chipid.revision + 64);
  if (const char *name = port_chip_name(chipid.part))
    PORT_TRACE(trace::kInfo, "Detected Chip: NVC%04X \"%s\" revision %c.", chipid.part, name, revision);
  else
    PORT_TRACE(trace::kInfo, "Detected Chip Unknown: NVC%04X revision %c.", chipid.part, revision);
  if (chipid.part != 0x7385 && chipid.part != 0x7395)
    PORT_TRACE(trace::kEmerg, "Detected part is not Corvex-G5/G5e, but NVC%04X.", chipid.part);
}

void port_link_init() {
  PORT_TRACE(trace::kDebug, "Initialize port module state variables");
  for (unsigned port = 1; port <= kPortCount; ++port) {
    ports.runtime[port] = PortRuntime{};
    ports.config[port] = kPortConfigUnloaded;
  }
  port_stp_reset();
  ports.status_pointer = ports.counters_pointer = 1;
}

void port_reset_ports() {
  PORT_TRACE(trace::kDebug, "Resetting ports");
  for (unsigned port = 1; port <= kPortCount; ++port) {
    if (!port_has_phy(port)) continue;
    PortRuntime &runtime = ports.runtime[port];
    runtime.phy_mounted = true;
    SwcPhyResetSetup reset_setup{port_mac_interface(port), 0, 1800, 1800, 0};
    swc_rc rc = swc_phy_reset(port, &reset_setup);
    if (rc >= 0) continue;
    runtime.phy_mounted = false;
    if (rc == kSwcRcPhyNotMounted)
      PORT_TRACE(trace::kWarn, "PHY on port %d is not mounted", port);
    else
      PORT_TRACE(trace::kError, "swc_phy_reset failed for port %d", port);
  }
}

void port_conf_create_default() {
  uint8_t *block = conf_create(kPortConfBlock, kPortConfBlockSize);
  if (!block) {
    PORT_TRACE(trace::kWarn, "conf_create() failed. Can not create default configuration file.");
    return;
  }
  std::memset(block, 0, kPortConfBlockSize);
  for (unsigned port = 1; port <= kPortCount; ++port)
    port_config_encode(kPortConfigDefault, block + port * kPortConfigRecordSize);
  conf_close(kPortConfBlock);
}

// Takes the stored block when it has the expected size. A port whose settings are out of range must
// not reach the chip: that port alone takes the defaults, the others keep what they stored (and the
// next save keeps it for them).
bool load_block(const uint8_t *block, uint32_t size) {
  if (size != kPortConfBlockSize) {
    PORT_TRACE(trace::kWarn, "Configuration block has size %u, expected %u. Ignored.", size,
               static_cast<unsigned>(kPortConfBlockSize));
    return false;
  }
  for (unsigned port = 1; port <= kPortCount; ++port) {
    const PortConfig stored = port_config_decode(block + port * kPortConfigRecordSize);
    if (const char *refusal = port_config_refusal(stored)) {
      PORT_TRACE(trace::kWarn, "Stored configuration of port %d refused: %s. Ignored.", port, refusal);
      ports.config[port] = kPortConfigDefault;
    } else {
      ports.config[port] = stored;
    }
  }
  return true;
}

void port_conf_load() {
  uint32_t size = 0;
  const uint8_t *block = conf_open(kPortConfBlock, &size);
  if (!block) {
    PORT_TRACE(trace::kNote, "conf_open() failed. No existing configuration file.");
    port_conf(ConfAction{kConfActionCreate, 0});
    block = conf_open(kPortConfBlock, &size);
  }
  bool loaded = false;
  if (block) {
    PORT_TRACE(trace::kDebug, "Setting current configuration from loaded configuration file.");
    loaded = load_block(block, size);
    conf_close(kPortConfBlock);
  } else {
    PORT_TRACE(trace::kWarn, "conf_open() failed again. Still no configuration file.");
  }
  if (!loaded) {
    PORT_TRACE(trace::kDebug, "Setting current configuration from default values.");
    set_all_configs(kPortConfigDefault);
  }
  if (process_state().debug_flags[kPortDebugNoCommit]) {
    PORT_TRACE(trace::kDebug,
               "Debug option port_disable_target_reset is active. Do not activate configuration.");
    return;
  }
  PORT_TRACE(trace::kDebug, "Activate current configuration.");
  for (unsigned port = 1; port <= kPortCount; ++port) port_config_commit(port);
}

SwcPhySetup phy_setup_of(const PortConfig &config) {
  SwcPhySetup setup{};
  if (!config.enabled) {
    setup.mode = kSwcPhyModePowerDown;
  } else if (!config.aneg && config.speed != kSwcSpeed1G) {
    setup.mode = kSwcPhyModeForced;
    setup.forced_speed = config.speed;
    setup.forced_full_duplex = config.fdx;
  } else {
    // 1G cannot be forced on copper: it is negotiated, advertised alone when aneg is off.
    const uint32_t low_speeds = config.aneg != 0;
    setup.mode = kSwcPhyModeAneg;
    setup.adv_10_half = setup.adv_10_full = setup.adv_100_half = setup.adv_100_full = low_speeds;
    setup.adv_1000_full = 1;
    setup.adv_symmetric_pause = config.flow_control == 2 || config.flow_control == 3;
    setup.adv_asymmetric_pause = config.flow_control == 1 || config.flow_control == 3;
  }
  return setup;
}

const char *true_false(bool value) {
  return value ? "(true)" : "(false)";
}

// The status a port reads as while its PHY is missing: down, except the RGMII port, which has no
// link to watch and runs at 1G full duplex.
SwcPortStatus status_without_phy(unsigned port) {
  if (port == 6) return SwcPortStatus{0, 1, kSwcSpeed1G, 1, 1, 1};
  return SwcPortStatus{};
}

void encode_words(uint8_t *out, const uint32_t *words, size_t count) {
  for (size_t i = 0; i < count; ++i) le_store32(out + 4 * i, words[i]);
}

// Table objects of the port module: u16 count at 16, entries of `entry_size` bytes from 20. The
// count must fit in the object, or nothing is served.
bool table_fits(MgmtObject &object, size_t entry_size) {
  if (object.size >= kMgmtTableHeaderSize &&
      kMgmtTableHeaderSize + static_cast<size_t>(object.table_count()) * entry_size <= object.size)
    return true;
  PORT_TRACE(trace::kError, "Size mismatch, obj_size: %d", object.size);
  object.set_res(kMgmtResFail);
  return false;
}

bool refuse_illegal_port(MgmtObject &object, uint32_t port) {
  if (valid_port(port)) return false;
  PORT_TRACE(trace::kError, "Illegal port_no: %d", static_cast<int>(port));
  object.set_res(kMgmtResFail);
  return true;
}

// Commands a table object serves: GET, and SET when `set_served`; the entries must fit in the object.
bool served_table(MgmtObject &object, size_t entry_size, bool set_served) {
  uint32_t cmd = object.cmd();
  if (cmd != kMgmtCmdGet && !(set_served && cmd == kMgmtCmdSet)) {
    PORT_TRACE(trace::kError, set_served ? "Only GET/SET supported" : "Only GET supported");
    object.set_res(kMgmtResFail);
    return false;
  }
  return table_fits(object, entry_size);
}

constexpr size_t kConfigEntrySize = 28, kStatusEntrySize = 64, kCountersEntrySize = 108, kMapEntrySize = 16,
                 kStpEntrySize = 8;

void mgmt_port_config(MgmtObject &object) {
  if (!served_table(object, kConfigEntrySize, true)) return;
  bool is_set = object.cmd() == kMgmtCmdSet;
  for (unsigned i = 0; i < object.table_count(); ++i) {
    uint8_t *entry = object.entry(i, kConfigEntrySize);
    uint32_t port = le_load32(entry);
    if (refuse_illegal_port(object, port)) break;
    if (!is_set) {
      port_config_encode(ports.config[port], entry + 4);
      continue;
    }
    PortConfig config = port_config_decode(entry + 4);
    if (config.max_length > kPortMaxLengthLimit) config.max_length = kPortMaxLengthLimit;
    if (const char *refusal = port_config_refusal(config)) {
      PORT_TRACE(trace::kError, "Port %d: %s", port, refusal);
      object.set_res(kMgmtResFail);
      break;
    }
    ports.config[port] = config;
    port_config_commit(port);
  }
  if (is_set) port_conf_save();
}

void mgmt_port_status(MgmtObject &object) {
  if (!table_fits(object, kStatusEntrySize) || object.cmd() != kMgmtCmdGet) return;
  for (unsigned i = 0; i < object.table_count(); ++i) {
    uint8_t *entry = object.entry(i, kStatusEntrySize);
    uint32_t port = le_load32(entry);
    if (refuse_illegal_port(object, port)) break;
    port_status_update(port);
    const SwcPortStatus &s = ports.runtime[port].status;
    uint32_t capability = port_has_phy(port) ? 1 : 0;
    const uint32_t words[16] = {port,          s.link_down_event, s.link,           s.speed,
                                s.full_duplex, s.pause_obey,      s.pause_generate, capability,
                                capability,    capability,        capability,       capability,
                                capability,    capability,        capability,       0};
    encode_words(entry, words, 16);
  }
}

// {u32 poag, 13 x u64}: the counters follow the port word directly, at entry offset 4.
void mgmt_port_counters(MgmtObject &object) {
  if (!served_table(object, kCountersEntrySize, true)) return;
  for (unsigned i = 0; i < object.table_count(); ++i) {
    uint8_t *entry = object.entry(i, kCountersEntrySize);
    uint32_t poag = le_load32(entry);
    if (object.cmd() != kMgmtCmdGet) {
      if (PORT_API(swc_poag_counters_clear(poag)) < 0) {
        object.set_res(kMgmtResFail);
        break;
      }
      continue;
    }
    SwcPoagCounters counters{};
    // The API leaves field 6 as the caller had it: here, as the request carried it.
    counters.field[6] = le_load64(entry + 4 + 6 * 8);
    if (PORT_API(swc_poag_counters_get(poag, &counters)) < 0) {
      object.set_res(kMgmtResFail);
      break;
    }
    for (size_t f = 0; f < 13; ++f) le_store64(entry + 4 + f * 8, counters.field[f]);
  }
}

void mgmt_port_map(MgmtObject &object) {
  if (!served_table(object, kMapEntrySize, false)) return;
  for (unsigned i = 0; i < object.table_count(); ++i) {
    uint8_t *entry = object.entry(i, kMapEntrySize);
    uint32_t port = le_load32(entry);
    if (refuse_illegal_port(object, port)) break;
    const SwcPortMap &map = kBoardPortMap[port];
    const uint32_t words[4] = {port, static_cast<uint32_t>(map.chip_port), map.miim_controller,
                               map.miim_address};
    encode_words(entry, words, 4);
  }
}

void mgmt_port_stp(MgmtObject &object) {
  if (!served_table(object, kStpEntrySize, true)) return;
  bool is_set = object.cmd() == kMgmtCmdSet;
  for (unsigned i = 0; i < object.table_count(); ++i) {
    uint8_t *entry = object.entry(i, kStpEntrySize);
    uint32_t port = le_load32(entry);
    if (refuse_illegal_port(object, port)) break;
    if (!is_set) {
      le_store32(entry + 4, port_get_stp_state(port));
    } else if (port_set_stp_state(port, le_load32(entry + 4)) < 0) {
      object.set_res(kMgmtResFail);
      break;
    }
  }
}

}  // namespace

void port_config_encode(const PortConfig &config, uint8_t *out) {
  const uint32_t words[kPortConfigWords] = {config.enabled, config.flow_control, config.aneg,
                                            config.speed,   config.fdx,          config.max_length};
  encode_words(out, words, kPortConfigWords);
}

PortConfig port_config_decode(const uint8_t *in) {
  return PortConfig{le_load32(in),      le_load32(in + 4),  le_load32(in + 8),
                    le_load32(in + 12), le_load32(in + 16), le_load32(in + 20)};
}

const char *port_config_refusal(const PortConfig &config) {
  if (config.enabled > 1) return "enabled must be 0 or 1";
  if (config.flow_control > 3) return "flow control must be 0..3";
  if (config.aneg > 1) return "aneg must be 0 or 1";
  if (config.speed < kSwcSpeed10M || config.speed > kSwcSpeed1G)
    return "speed must be 1 (10M), 2 (100M) or 3 (1G)";
  if (config.fdx > 1) return "fdx must be 0 or 1";
  if (config.max_length > kPortMaxLengthLimit) return "max length above 9600";
  return nullptr;
}

const char *port_interface_name(uint32_t interface_type) {
  static const char *const kNames[] = {"N/C", "LOOPBACK", "INTERNAL", "MII",    "GMII", "RGMII",
                                       "TBI", "RTBI",     "SGMII",    "SERDES", "XGMII"};
  return interface_type < sizeof kNames / sizeof kNames[0] ? kNames[interface_type] : "????";
}

const char *port_speed_text(bool link, uint32_t speed, uint32_t fdx) {
  if (!link) return "----";
  switch (speed) {
    case 4:
      return fdx ? "10Gf" : "10Gh";
    case kSwcSpeed1G:
      return fdx ? "1G-f" : "1G-h";
    case kSwcSpeed100M:
      return fdx ? "100f" : "100h";
    case kSwcSpeed10M:
      return fdx ? " 10f" : " 10h";
    default:
      return "????";
  }
}

const char *port_stp_state_name(uint32_t stp_state) {
  static const char *const kNames[] = {"disabled", "blocking",   "listing",
                                       "learning", "forwarding", "enabled"};
  return stp_state < sizeof kNames / sizeof kNames[0] ? kNames[stp_state] : "??";
}

const char *port_chip_name(uint16_t part) {
  struct ChipName {
    uint16_t part;
    const char *name;
  };
  static const ChipName kNames[] = {
      {0x7301, "Arden-II"},   {0x7303, "Brockley"},   {0x7306, "Colwyn"},     {0x7310, "Dunmore"},
      {0x7372, "Ferrix-G16"}, {0x7374, "Ferrix-G24"}, {0x7376, "Ferrix-G26"}, {0x7380, "Glenrock"},
      {0x7382, "Glenrock"},   {0x7384, "Hollin"},     {0x7386, "Hollin"},     {0x7385, "Corvex-G5"},
      {0x7388, "Corvex-G8"},  {0x7389, "Corvex-G16"}, {0x7390, "Corvex-G24"}, {0x7395, "Corvex-G5e"},
      {0x7398, "Corvex-G8e"},
  };
  for (const ChipName &entry : kNames)
    if (entry.part == part) return entry.name;
  return nullptr;
}

const PortConfig &port_current_config(unsigned port) {
  return ports.config[valid_port(port) ? port : 0];
}

void port_init() {
  PORT_TRACE(trace::kDebug, "Init");
  board_io_setup();
  reset_target();
  PORT_TRACE(trace::kInfo, "Compiled for board: Corvex-G5 VANTROS.");
  PORT_API(swc_port_map_set(kBoardPortMap));
  board_msleep(1000);
  getchipid();
  port_link_init();
  port_qos_init();
  port_reset_ports();
  port_conf(ConfAction{kConfActionRead, 0});
  timer_reg(port_status_poll, kPortStatusPollMs);
  timer_reg(port_counters_poll, kPortCountersPollMs);
  timer_reg(port_optimize_1sec, 1000);
  timer_reg(port_optimize_100msec, 100);
  port_cablescan_init();
  timer_reg(dot1x_1sec, 1000);
}

void port_conf(const ConfAction &action) {
  switch (action.action) {
    case kConfActionCreate:
      port_conf_create_default();
      port_qos_config(1);
      break;
    case kConfActionRead:
      port_conf_load();
      port_qos_config(0);
      break;
    default:
      PORT_TRACE(trace::kError, "Unknown action: %d", static_cast<int>(action.action));
      break;
  }
}

void port_conf_save() {
  uint8_t *block = conf_create(kPortConfBlock, kPortConfBlockSize);
  if (!block) {
    PORT_TRACE(trace::kWarn, "conf_create() failed. Can not save current configuration.");
    return;
  }
  for (unsigned port = 0; port <= kPortCount; ++port)
    port_config_encode(ports.config[port], block + port * kPortConfigRecordSize);
  PORT_TRACE(trace::kDebug, "Saving current configuration into configuration file.");
  conf_close(kPortConfBlock);
}

int port_config_commit(unsigned port) {
  PORT_TRACE(trace::kDebug, "Commit Config on port %d.", port);
  if (ports.runtime[port].link)
    link_down(port);  // the status poll brings the link up again with the new settings
  else
    port_setup_commit(port, true);
  if (!port_has_phy(port) || !ports.runtime[port].phy_mounted) return 0;
  SwcPhySetup setup = phy_setup_of(ports.config[port]);
  swc_rc rc = PORT_API(swc_phy_setup(port, &setup));
  return rc < 0 ? rc : 0;
}

int port_setup_commit(unsigned port, bool ignore_status) {
  PORT_TRACE(trace::kDebug, "Commit Setup on port %d.", port);
  const PortConfig &config = ports.config[port];
  const SwcPortStatus &status = ports.runtime[port].status;
  SwcPortSetup setup{};
  setup.interface_type = port_mac_interface(port);
  if ((config.aneg || config.speed == kSwcSpeed1G) && status.link && !ignore_status) {
    PORT_TRACE(trace::kDebug, "Autoneg completed on port %d", port);
    setup.speed = status.speed;
    setup.full_duplex = status.full_duplex;
    setup.flow_obey = status.pause_obey;
    setup.flow_generate = status.pause_generate;
  } else {
    PORT_TRACE(trace::kDebug, "Forced mode or link down %s or ignore status %s on port %d",
               true_false(!status.link), true_false(ignore_status), port);
    setup.speed = config.speed;
    setup.full_duplex = config.fdx;
    setup.flow_obey = setup.flow_generate = config.flow_control != 0;
  }
  setup.power_down = !config.enabled;
  board_mac_addr(port, setup.pause_mac);
  setup.max_length = config.max_length;
  bool obey = setup.flow_obey, generate = setup.flow_generate;
  PORT_TRACE(trace::kDebug, "Port %d %s, aneg %s, max_len: %d, %s%s%sflow control%s, %s %s", port,
             config.enabled ? "enabled" : "disabled", config.aneg ? "enabled" : "disabled",
             static_cast<int>(config.max_length), obey ? "obey " : "", obey && generate ? "and " : "",
             generate ? "generate " : "", !obey && !generate ? " disabled" : "",
             port_interface_name(setup.interface_type),
             port_speed_text(status.link, setup.speed, setup.full_duplex));
  swc_rc rc = PORT_API(swc_port_setup(port, &setup));
  if (rc == kSwcRcArbiter) {
    PORT_TRACE(trace::kError, "Fatal error in swc_port_setup(port %d).", port);
    fatal_chip_error();
  }
  return rc;
}

void link_down(unsigned port) {
  PORT_TRACE(trace::kDebug, "Link down on port %d", port);
  PORT_API(swc_port_stp_state_set(port, SWC_STP_STATE_DISABLED));
  port_setup_commit(port, true);
  // Forgets the port's learned addresses.
  PORT_API(swc_mac_table_forget_port(port));
  ports.runtime[port].link = false;
  l2_link_changed(port, 0);
}

void link_up(unsigned port) {
  const SwcPortStatus &status = ports.runtime[port].status;
  PORT_TRACE(trace::kDebug, "Link up on port %d: %s", port,
             port_speed_text(true, status.speed, status.full_duplex));
  port_setup_commit(port, false);
  PORT_API(swc_port_stp_state_set(port, ports.runtime[port].stp_state));
  ports.runtime[port].link = true;
  l2_link_changed(port, 1);
}

void port_status_update(unsigned port) {
  PortRuntime &runtime = ports.runtime[port];
  if (port_has_phy(port) && !runtime.phy_mounted) {
    PORT_TRACE(trace::kNoise, "PHY on port %d not mounted, assume link is down", port);
    runtime.status = status_without_phy(port);
  } else {
    PORT_API(swc_port_status_get(port, &runtime.status));
  }
  if (runtime.status.link && !runtime.status.link_down_event) {
    if (!runtime.link) link_up(port);
    return;
  }
  // Down now, or down and back again since the last poll: the engines see the loss either way.
  if (runtime.link) link_down(port);
  if (runtime.status.link) link_up(port);
}

void port_get_link_state(unsigned port, int *link, uint32_t *speed, uint32_t *fdx) {
  const PortRuntime &runtime = ports.runtime[valid_port(port) ? port : 0];
  if (link) *link = runtime.link ? 1 : 0;
  if (speed) *speed = runtime.link ? runtime.status.speed : 0;
  if (fdx) *fdx = runtime.link ? runtime.status.full_duplex : 0;
}

int port_set_stp_state(unsigned port, uint32_t stp_state) {
  // A state the chip refuses would otherwise be retried, and refused, at every link-up.
  if (!valid_port(port) || stp_state > SWC_STP_STATE_ENABLED) {
    PORT_TRACE(trace::kError, "port %d: illegal STP state %d", static_cast<int>(port),
               static_cast<int>(stp_state));
    return -1;
  }
  PORT_TRACE(trace::kDebug, "port %d: new STP state %s", port, port_stp_state_name(stp_state));
  ports.runtime[port].stp_state = stp_state;
  if (ports.runtime[port].link) PORT_API(swc_port_stp_state_set(port, stp_state));
  return 0;
}

uint32_t port_get_stp_state(unsigned port) {
  return ports.runtime[valid_port(port) ? port : 0].stp_state;
}

uint32_t swc_os_get_linkspeed(unsigned port) {
  assert(valid_port(port));
  uint32_t speed = 0;
  port_get_link_state(port, nullptr, &speed, nullptr);
  switch (speed) {
    case 0:
      return 0;
    case kSwcSpeed10M:
      return 10;
    case kSwcSpeed100M:
      return 100;
    case kSwcSpeed1G:
      return 1000;
    case 4:
      return 10000;
    default:
      return 1;
  }
}

int swc_os_get_linkstate(unsigned port) {
  assert(valid_port(port));
  int link = 0;
  port_get_link_state(port, &link, nullptr, nullptr);
  return link;
}

int swc_os_get_linkduplex(unsigned port) {
  assert(valid_port(port));
  int link = 0;
  uint32_t fdx = 0;
  port_get_link_state(port, &link, nullptr, &fdx);
  return link && fdx ? 1 : 0;
}

uint32_t swc_os_make_key(unsigned port, uint32_t configured_key) {
  assert(valid_port(port));
  uint32_t speed = 0;
  port_get_link_state(port, nullptr, &speed, nullptr);
  return (configured_key << 8 | (speed & 15)) & 0xffff;
}

uint32_t port_status_poll(uint32_t now, uint32_t, uint32_t) {
  port_cablescan_step(ports.status_pointer);
  port_status_update(ports.status_pointer);
  ports.status_pointer = next_port(ports.status_pointer);
  return now;
}

uint32_t port_counters_poll(uint32_t now, uint32_t, uint32_t) {
  unsigned port = ports.counters_pointer;
  PORT_API(swc_port_counters_update(port));
  PORT_API(swc_phy_reset_and_setup(port));
  ports.counters_pointer = next_port(port);
  return now;
}

uint32_t port_optimize_1sec(uint32_t now, uint32_t, uint32_t) {
  if (PORT_API(swc_optimize_1sec()) == kSwcRcArbiter) {
    PORT_TRACE(trace::kError, "Fatal error in swc_optimize_1sec().");
    fatal_chip_error();
  }
  return now;
}

uint32_t port_optimize_100msec(uint32_t now, uint32_t, uint32_t) {
  if (PORT_API(swc_optimize_100msec()) == kSwcRcArbiter) {
    PORT_TRACE(trace::kError, "Fatal error in swc_optimize_100msec().");
    fatal_chip_error();
  }
  return now;
}

void port_mgmt(MgmtObject &object) {
  if (port_qos_handles(object.obj_id())) {
    port_qos_mgmt(object);
    return;
  }
  object.set_res(kMgmtResOk);
  switch (object.obj_id()) {
    case 3000:
      mgmt_port_config(object);
      break;
    case 3001:
      mgmt_port_status(object);
      break;
    case 3002:
      mgmt_port_counters(object);
      break;
    case kCablescanObj:
      mgmt_port_cablescan_table(object);
      break;
    case 3019:
      mgmt_port_map(object);
      break;
    case 3020:
      mgmt_port_stp(object);
      break;
    default:
      object.set_res(kMgmtResNoHandler);
      break;
  }
}
