// Router legs: the leg table, the TAP devices and their shell commands, the legs' entries in the chip's
// MAC table, and the frames between the switch and the host's IP stack.
#include "l3.h"

#include "board.h"
#include "l2_mac.h"
#include "l2_table.h"
#include "le.h"
#include "loop.h"
#include "packet.h"
#include "swc_mac.h"
#include "trace.h"

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

#define L3_TRACE(level, ...) trace_printf(trace::kL3, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

inline constexpr unsigned long kTunSetIff = 0x400454ca, kTunSetNocsum = 0x400454c8;
inline constexpr short kTapFlags = 0x1002;  // TAP device, no packet information
static_assert(TUNSETIFF == kTunSetIff && (IFF_TAP | IFF_NO_PI) == kTapFlags);
inline constexpr uint32_t kMaxVid = 4095;
inline constexpr uint32_t kMaxRlid = 0x7FFFFFFF;  // "tap%d" of a larger id would read as a negative number
inline constexpr const char *kDhcpScript = "/mnt/userflash/startup/07rc_dhcpc_inband.sh";
inline constexpr size_t kCommandSize = 256;
inline constexpr uint8_t kBroadcastMac[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

struct LegModule {
  std::vector<L3Leg> table;  // sorted by rlid
  uint32_t ip_enabled = 0;
  L3Stats stats{};
  L3CommandRunner runner = nullptr;
  L3TapOpener opener = nullptr;
};
LegModule legs;

bool rlid_less(const L3Leg &a, const L3Leg &b) {
  return a.rlid < b.rlid;
}

L3Leg *find_leg(uint32_t rlid) {
  auto at =
      std::lower_bound(legs.table.begin(), legs.table.end(), L3Leg{rlid, 0, 0, 0, 0, 0, {}, -1}, rlid_less);
  return at != legs.table.end() && at->rlid == rlid ? &*at : nullptr;
}

int run_command(const char *caller, const char *format, ...) __attribute__((format(printf, 2, 3)));
int run_command(const char *caller, const char *format, ...) {
  char command[kCommandSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(command, sizeof command, format, args);
  va_end(args);
  return l3_system(caller, command);
}

void dhcp_client(const char *caller, const char *verb) {
  run_command(caller, "%s %s", l3_dhcp_script(), verb);
}

// The routing daemon's side of a leg: lines for a local routing daemon, handed to a sender that has no
// daemon to talk to on this router and only traces them.
void rip_send_line(const char *line) {
  L3_TRACE(trace::kNoise, "rip: %s", line);
}

void rip_configure(const L3Leg &leg) {
  const std::string tap = l3_tap_txt(leg.rlid);
  rip_send_line("router rip");
  if (leg.rip == 0) {
    rip_send_line(("no network " + tap).c_str());
    rip_send_line("exit");
    return;
  }
  const char *version = leg.rip == 1 ? "1" : "2";
  rip_send_line(("network " + tap).c_str());
  rip_send_line("exit");
  rip_send_line(("interface " + tap).c_str());
  rip_send_line((std::string("ip rip receive version ") + version).c_str());
  rip_send_line((std::string("ip rip send version ") + version).c_str());
  rip_send_line("exit");
}

// Another leg with a device shares the VID and with it the leg MAC and broadcast entries.
bool vid_shared(const L3Leg &leg) {
  return std::any_of(legs.table.begin(), legs.table.end(),
                     [&](const L3Leg &o) { return o.rlid != leg.rlid && o.fd >= 0 && o.vid == leg.vid; });
}

SwcMacEntry mac_entry(uint32_t vid, const uint8_t *mac) {
  SwcMacEntry entry{};
  entry.vid_mac.vid = vid;
  std::memcpy(entry.vid_mac.mac, mac, 6);
  entry.copy_to_cpu = 1;
  entry.locked = 1;
  return entry;
}

// A static entry of the same address keeps its ports in the shared chip entry.
int rl_api_add(const L3Leg &leg) {
  L3_TRACE(trace::kDebug, "rlid %d", static_cast<int>(leg.rlid));
  SwcMacEntry own = mac_entry(leg.vid, leg.mac);
  mac_config_merge(own);
  if (TRACE_API_RESULT(trace::kL3, swc_mac_table_learn(&own), trace::kDebug, "swc_mac_table_learn(leg mac)") <
      0)
    return -1;
  SwcMacEntry broadcast = mac_entry(leg.vid, kBroadcastMac);
  std::fill(std::begin(broadcast.destination), std::end(broadcast.destination), 1u);
  mac_config_merge(broadcast);
  if (TRACE_API_RESULT(trace::kL3, swc_mac_table_learn(&broadcast), trace::kDebug,
                       "swc_mac_table_learn(broadcast)") < 0)
    return -1;
  return 0;
}

// The entries stay while another leg of the same VID still needs them; one that a static entry also
// owns goes back to what that entry configured.
void rl_api_del(const L3Leg &leg) {
  L3_TRACE(trace::kDebug, "rlid %d", static_cast<int>(leg.rlid));
  if (vid_shared(leg)) {
    L3_TRACE(trace::kDebug, "VID %d still used by another leg", static_cast<int>(leg.vid));
    return;
  }
  for (const uint8_t *mac : {static_cast<const uint8_t *>(leg.mac), kBroadcastMac}) {
    SwcVidMac key{};
    key.vid = leg.vid;
    std::memcpy(key.mac, mac, 6);
    SwcMacEntry configured{};
    configured.vid_mac = key;
    if (mac_config_merge(configured))
      TRACE_API_RESULT(trace::kL3, swc_mac_table_learn(&configured), trace::kDebug,
                       "swc_mac_table_learn(static entry)");
    else
      TRACE_API_RESULT(trace::kL3, swc_mac_table_forget_vid_mac(&key), trace::kDebug,
                       "swc_mac_table_forget_vid_mac");
  }
}

// Step 1 of an add on an existing leg with a device: the DHCP client and the old MAC entries.
void update_existing(const L3Leg &old, const L3Leg &leg) {
  if (old.fd < 0) return;
  // A changed address needs no removal step of its own: the ifconfig lines that follow replace it.
  if (leg.dhcp == 0) {
    dhcp_client("rl_config_add", "stop");
  } else {
    dhcp_client("rl_config_add", old.dhcp ? "restart" : "start");
  }
  if (old.vid != leg.vid) rl_api_del(old);
}

// Step 4: a new leg's TAP device, its MAC address and its descriptor in the main loop.
void create_device(L3Leg &leg) {
  const char *tap = l3_tap_txt(leg.rlid);
  leg.fd = legs.opener ? legs.opener(tap) : l3_tap_create(tap);
  if (leg.fd < 0) {
    leg.fd = -1;
    return;
  }
  run_command("rl_config_add", "/sbin/ifconfig %s hw ether %02x:%02x:%02x:%02x:%02x:%02x", tap, leg.mac[0],
              leg.mac[1], leg.mac[2], leg.mac[3], leg.mac[4], leg.mac[5]);
  if (leg.dhcp) dhcp_client("rl_config_add", "start");
  if (fd_reg(l3_packet_event, kFdEventRead, leg.fd) < 0) L3_TRACE(trace::kError, "fd_reg failed");
}

// Step 5: the address, the routing daemon's lines and the MAC entries of a leg with a device.
int configure_device(const L3Leg &leg) {
  if (leg.fd < 0) return 0;
  if (!leg.dhcp) {
    const char *tap = l3_tap_txt(leg.rlid);
    run_command("rl_config_add", "/sbin/ifconfig %s %s", tap, l3_ip_txt(leg.ip));
    run_command("rl_config_add", "/sbin/ifconfig %s %s netmask %s", tap, l3_ip_txt(leg.ip),
                l3_ip_txt(leg.mask));
    rip_configure(leg);
    run_command("rl_config_add", "/sbin/ifconfig %s up", tap);
  }
  return rl_api_add(leg);
}

void close_device(const L3Leg &leg) {
  if (fd_reg(nullptr, kFdEventRead, leg.fd) < 0) L3_TRACE(trace::kError, "fd_reg failed");
  if (close(leg.fd) != 0) L3_TRACE(trace::kError, "close failed");
}

const L3Leg *rl_lookup_vid(uint32_t vid) {
  if (!legs.ip_enabled) {
    L3_TRACE(trace::kNote, "IP is disabled");
    return nullptr;
  }
  for (const L3Leg &leg : legs.table)
    if (leg.vid == vid) return &leg;
  L3_TRACE(trace::kNote, "Router Leg for VID %d not found", static_cast<int>(vid));
  return nullptr;
}

const L3Leg *rl_lookup_fd(int fd) {
  if (!legs.ip_enabled) {
    L3_TRACE(trace::kNote, "IP is disabled");
    return nullptr;
  }
  for (const L3Leg &leg : legs.table)
    if (leg.fd == fd) return &leg;
  L3_TRACE(trace::kNote, "Router Leg for fd %d not found", fd);
  return nullptr;
}

}  // namespace

void l3_leg_record_load(const uint8_t *record, L3Leg &leg) {
  leg.rlid = le_load32(record);
  leg.vid = le_load32(record + 4);
  leg.ip = le_load32(record + 8);
  leg.mask = le_load32(record + 12);
  leg.rip = le_load32(record + 16);
  leg.dhcp = le_load32(record + 20);
}

void l3_leg_record_store(uint8_t *record, const L3Leg &leg) {
  le_store32(record, leg.rlid);
  le_store32(record + 4, leg.vid);
  le_store32(record + 8, leg.ip);
  le_store32(record + 12, leg.mask);
  le_store32(record + 16, leg.rip);
  le_store32(record + 20, leg.dhcp);
}

const char *l3_ip_txt(uint32_t ip) {
  static char text[8][16];
  static unsigned next = 0;
  char *out = text[next++ % 8];
  std::snprintf(out, sizeof text[0], "%ld.%ld.%ld.%ld", static_cast<long>(ip >> 24),
                static_cast<long>(ip >> 16 & 0xFF), static_cast<long>(ip >> 8 & 0xFF),
                static_cast<long>(ip & 0xFF));
  return out;
}

const char *l3_tap_txt(uint32_t rlid) {
  static char text[8][16];
  static unsigned next = 0;
  char *out = text[next++ % 8];
  std::snprintf(out, sizeof text[0], "tap%d", static_cast<int>(rlid));
  return out;
}

int l3_mask_prefix(uint32_t mask) {
  int ones = 0;
  while (ones < 32 && (mask >> (31 - ones) & 1)) ++ones;
  const uint32_t rest = ones == 32 ? 0 : mask << ones;
  return rest == 0 ? ones : -1;
}

int l3_system(const char *caller, const char *command) {
  L3_TRACE(trace::kDebug, "%s: system('%s')", caller, command);
  const int rc = legs.runner ? legs.runner(command) : std::system(command);
  L3_TRACE(trace::kDebug, "%s: returns %d", caller, rc);
  return rc;
}

const char *l3_dhcp_script() {
  const char *path = std::getenv("PORTVISOR_DHCP_SCRIPT");
  return path && *path ? path : kDhcpScript;
}

int l3_tap_create(const char *name) {
  // Non-blocking: a readable mark left over from a closed device of the same number must never block
  // the main loop in read().
  const int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    L3_TRACE(trace::kError, "open /dev/net/tun for %s failed: %s", name, std::strerror(errno));
    return -1;
  }
  ifreq request{};
  std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
  request.ifr_flags = kTapFlags;
  const int rc = ioctl(fd, kTunSetIff, &request);
  if (rc < 0) {
    const int error = errno;
    close(fd);
    L3_TRACE(trace::kError, "ioctl TUNSETIFF for %s failed: %s", name, std::strerror(error));
    return rc;
  }
  if (ioctl(fd, kTunSetNocsum, 1) < 0)
    L3_TRACE(trace::kError, "ioctl TUNSETNOCSUM for %s failed: %s", name, std::strerror(errno));
  return fd;
}

void l3_test_hooks_set(L3CommandRunner runner, L3TapOpener opener) {
  legs.runner = runner;
  legs.opener = opener;
}

void l3_rl_init() {
  L3_TRACE(trace::kDebug, "Init");
  // A restart inside one process (tests) leaves no device behind.
  for (const L3Leg &leg : legs.table)
    if (leg.fd >= 0) close_device(leg);
  legs.table.clear();
  legs.table.reserve(kL3LegMax);
  legs.ip_enabled = 0;
  legs.stats = L3Stats{};
  if (l3_system("l3_rl_init", "/bin/echo \"0\" > /proc/sys/net/ipv4/conf/all/rp_filter") != 0)
    L3_TRACE(trace::kError, "system(...) failed (rp_filter): %s", std::strerror(errno));
}

int rl_config_add(const L3Leg &request) {
  L3_TRACE(trace::kDebug, "rlid: %d", static_cast<int>(request.rlid));
  // Both numbers reach a device name, the chip's tables and shell commands.
  if (request.rlid > kMaxRlid) {
    L3_TRACE(trace::kError, "illegal rlid: %lu", static_cast<unsigned long>(request.rlid));
    return -1;
  }
  if (request.vid > kMaxVid) {
    L3_TRACE(trace::kError, "illegal vid: %lu", static_cast<unsigned long>(request.vid));
    return -1;
  }
  L3Leg leg = request;
  leg.fd = -1;
  const L3Leg *existing = find_leg(request.rlid);
  const bool is_new = existing == nullptr;
  if (existing) {
    leg.fd = existing->fd;
    update_existing(*existing, leg);
  }
  board_mac_addr(1, leg.mac);
  TablePut how{};
  const int index = sorted_table_put(legs.table, leg, kL3LegMax, rlid_less, trace::kL3, __func__, &how);
  if (index < 0) return -1;
  L3Leg &stored = legs.table[static_cast<size_t>(index)];
  if (is_new) create_device(stored);
  return configure_device(stored) < 0 ? -1 : index;
}

int rl_config_del(uint32_t rlid) {
  L3_TRACE(trace::kDebug, "rlid: %d", static_cast<int>(rlid));
  const L3Leg *found = find_leg(rlid);
  if (!found) {
    L3_TRACE(trace::kDebug, "Delete failed, not found");
    return -1;
  }
  const int index = static_cast<int>(found - legs.table.data());
  L3_TRACE(trace::kDebug, "Deleting at index %d", index);
  const L3Leg leg = *found;
  legs.table.erase(legs.table.begin() + index);
  if (leg.fd >= 0) {
    if (!leg.dhcp) {
      run_command("rl_config_del", "/sbin/ifconfig %s down", l3_tap_txt(leg.rlid));
    } else {
      dhcp_client("rl_config_del", "stop");
    }
    close_device(leg);
    rl_api_del(leg);
  }
  return index;
}

int rl_config_get(L3Leg &leg, bool exact) {
  return sorted_table_get(legs.table, leg, exact, rlid_less);
}

size_t rl_config_count() {
  return legs.table.size();
}

bool rl_mac_merge(SwcMacEntry &entry) {
  const bool broadcast = std::equal(kBroadcastMac, kBroadcastMac + 6, entry.vid_mac.mac);
  const bool owned = std::any_of(legs.table.begin(), legs.table.end(), [&](const L3Leg &leg) {
    return leg.fd >= 0 && leg.vid == entry.vid_mac.vid &&
           (broadcast || std::equal(leg.mac, leg.mac + 6, entry.vid_mac.mac));
  });
  if (!owned) return false;
  if (broadcast) std::fill(std::begin(entry.destination), std::end(entry.destination), 1u);
  entry.copy_to_cpu = 1;
  entry.locked = 1;
  return true;
}

uint32_t l3_ip_enabled() {
  return legs.ip_enabled;
}

void l3_ip_enabled_set(uint32_t enabled) {
  legs.ip_enabled = enabled;
}

L3Stats l3_stats_get() {
  return legs.stats;
}

void l3_packet_rx(PacketBuffer *buffer) {
  const L3Leg *leg = rl_lookup_vid(buffer->vid);
  if (!leg) {
    L3_TRACE(trace::kDebug, "Ignored packed from vid %u", static_cast<unsigned>(buffer->vid));
  } else if (leg->fd >= 0) {
    const ssize_t n = write(leg->fd, buffer->data, buffer->length);
    if (n != static_cast<ssize_t>(buffer->length))
      L3_TRACE(trace::kError, "Not all %ld bytes written", static_cast<long>(buffer->length));
  }
  packet_free(buffer);
}

void l3_packet_event(int fd, unsigned events) {
  if (!(events & kFdEventRead)) {
    L3_TRACE(trace::kError, "Not read event, fd: %d", fd);
    return;
  }
  // One byte more than any frame sent on, so a longer one shows as such instead of arriving cut.
  static uint8_t frame[kL3FrameMax + 1];
  const ssize_t n = read(fd, frame, sizeof frame);
  if (n <= static_cast<ssize_t>(kL3FrameMinExclusive)) {
    L3_TRACE(trace::kError, "read failed, n: %d, fd: %d", static_cast<int>(n), fd);
    if (n >= 0) ++legs.stats.tap_short;
    return;
  }
  if (n > static_cast<ssize_t>(kL3FrameMax)) {
    L3_TRACE(trace::kError, "Frame too long, n: %d, fd: %d", static_cast<int>(n), fd);
    ++legs.stats.tap_long;
    return;
  }
  const L3Leg *leg = rl_lookup_fd(fd);
  if (!leg) {
    L3_TRACE(trace::kError, "No rlid for fd: %d", fd);
    ++legs.stats.tap_no_leg;
    return;
  }
  // The buffer fits the frame: a queue of small host frames must not use up the big pool.
  PacketBuffer *buffer = packet_alloc(static_cast<uint32_t>(n));
  if (!buffer) {
    L3_TRACE(trace::kError, "packet_alloc failed, fd: %d", fd);
    ++legs.stats.tap_no_buffer;
    return;
  }
  std::memcpy(buffer->data, frame, static_cast<size_t>(n));
  buffer->length = static_cast<uint32_t>(n);
  buffer->poag_no = 0;
  buffer->vid = leg->vid;
  packet_tx(buffer);
}
