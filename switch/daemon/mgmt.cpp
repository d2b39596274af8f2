#include "mgmt.h"

#include "board.h"
#include "conf.h"
#include "loop.h"
#include "swc_phy.h"
#include "swc_port.h"
#include "trace.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

#define MGMT_TRACE(level, ...) \
  trace_printf(trace::kMgmt, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

inline constexpr uint32_t kConfBlockDataA = 14, kConfBlockDataB = 16;
inline constexpr size_t kDataASize = 100, kDataBSize = 64;
inline constexpr uint32_t kDataBDefaultWord = 9999;

struct MgmtServer {
  std::vector<uint8_t> buffer;
  int socket = -1;
  std::array<uint8_t, kDataASize> data_a{};
  std::array<uint8_t, kDataBSize> data_b{};
  std::array<MgmtHandler, kMgmtModuleCount> modules{};
  std::array<MgmtHandler, kMgmtObjCount> objects{};
  uint64_t foreign_drops = 0;
};

MgmtServer server;

const char *cmd_name(uint32_t cmd) {
  static const char *const kNames[] = {"MGMT_CMD_GET", "MGMT_CMD_SET", "MGMT_CMD_ADD", "MGMT_CMD_DEL"};
  return cmd < 4 ? kNames[cmd] : "??";
}

// Traced as the receive callback's lines, where the request and reply dumps belong.
void trace_hex(const char *title, const uint8_t *bytes, size_t length) {
  if (trace_module_level(trace::kMgmt) < trace::kDebug)
    return;  // the hex lines are costly to build and only shown at debug
  trace_printf(trace::kMgmt, "mgmt_event", nullptr, __LINE__, 0, 0, trace::kDebug, "%s", title);
  for (size_t line = 0; line < length; line += 16) {
    char text[16 * 3 + 1];
    size_t pos = 0;
    for (size_t i = line; i < length && i < line + 16; ++i)
      pos += static_cast<size_t>(
          std::snprintf(text + pos, sizeof text - pos, "%02x%c", bytes[i], i - line == 7 ? '-' : ' '));
    text[pos] = '\0';
    trace_printf(trace::kMgmt, "mgmt_event", nullptr, __LINE__, 0, 0, trace::kDebug, "%s", text);
  }
}

void data_b_defaults() {
  server.data_b.fill(0);
  le_store32(server.data_b.data() + 8, kDataBDefaultWord);
  le_store32(server.data_b.data() + 12, kDataBDefaultWord);
}

// Copies a data block into its configuration block and saves it.
void save_block(uint32_t id, const uint8_t *data, size_t size) {
  uint8_t *block = conf_create(id, static_cast<uint32_t>(size));
  if (!block) return;
  std::memcpy(block, data, size);
  conf_close(id);
}

void create_zeroed_block(uint32_t id, size_t size) {
  if (uint8_t *block = conf_create(id, static_cast<uint32_t>(size))) {
    std::memset(block, 0, size);
    conf_close(id);
  }
}

// A block of another size than expected is read as far as both reach; the rest stays zero.
template <size_t N>
bool read_block(uint32_t id, std::array<uint8_t, N> &out) {
  uint32_t size = 0;
  const uint8_t *block = conf_open(id, &size);
  if (!block) return false;
  out.fill(0);
  std::memcpy(out.data(), block, std::min<size_t>(size, N));
  return true;
}

// GET copies the block out, SET copies it in and saves it.
template <size_t N>
void data_block_object(MgmtObject &object, std::array<uint8_t, N> &block, uint32_t conf_id) {
  if (!object.has_data(N)) return;
  if (object.cmd() == kMgmtCmdGet) {
    std::memcpy(object.data(), block.data(), N);
  } else {
    std::memcpy(block.data(), object.data(), N);
    save_block(conf_id, block.data(), N);
  }
  object.set_res(kMgmtResOk);
}

void set_api_result(MgmtObject &object, swc_rc rc) {
  object.set_res(rc < 0 ? kMgmtResFail : kMgmtResOk);
}

// {u32 port, u32 register, u16 value, u16 mask}
void obj_phy_register(MgmtObject &object) {
  if (!object.has_data(12)) return;
  uint32_t port = object.data32(0);
  uint32_t reg = object.data32(4);
  // The peer's port indexes the API's PHY records: only front ports are served here.
  if (port < 1 || port > 6) {
    MGMT_TRACE(trace::kError, "Illegal port_no: %d", static_cast<int>(port));
    return;
  }
  uint8_t *value = object.data() + 8;
  if (object.cmd() == kMgmtCmdGet) {
    uint16_t read = 0;
    swc_rc rc = swc_phy_read(port, reg, &read);
    le_store16(value, read);
    set_api_result(object, rc);
  } else {
    set_api_result(object, swc_phy_writemasked(port, reg, le_load16(value), le_load16(value + 2)));
  }
}

// {u32 MIIM controller, u32 PHY address, u32 register, u16 value, u16 mask}
void obj_phy_addr_register(MgmtObject &object) {
  if (!object.has_data(16)) return;
  uint32_t controller = object.data32(0);
  uint32_t address = object.data32(4);
  uint32_t reg = object.data32(8);
  uint8_t *value = object.data() + 12;
  if (object.cmd() == kMgmtCmdGet) {
    uint16_t read = 0;
    swc_rc rc = swc_phy_addr_read(controller, address, reg, &read);
    le_store16(value, read);
    set_api_result(object, rc);
  } else {
    set_api_result(
        object, swc_phy_addr_writemasked(controller, address, reg, le_load16(value), le_load16(value + 2)));
  }
}

void obj_debug_flags(MgmtObject &object) {
  if (!object.has_data(kDebugFlagWords * 4)) return;
  for (int i = 0; i < kDebugFlagWords; ++i) {
    if (object.cmd() == kMgmtCmdGet)
      object.set_data32(static_cast<size_t>(i) * 4, process_state().debug_flags[i]);
    else
      process_state().debug_flags[i] = object.data32(static_cast<size_t>(i) * 4);
  }
  object.set_res(kMgmtResOk);
}

void obj_terminate(MgmtObject &object) {
  if (object.cmd() == kMgmtCmdSet) {
    MGMT_TRACE(trace::kNote, "Termination requested");
    process_state().terminate = 1;
  }
  object.set_res(kMgmtResOk);
}

void obj_data_a(MgmtObject &object) {
  data_block_object(object, server.data_a, kConfBlockDataA);
}

void obj_data_b(MgmtObject &object) {
  data_block_object(object, server.data_b, kConfBlockDataB);
}

// Object 7 is reserved: every command fails (the result was preset to 1).
void obj_reserved(MgmtObject &) {}

void obj_port_count(MgmtObject &object) {
  if (object.cmd() != kMgmtCmdGet || !object.has_data(8)) return;
  object.set_data32(0, 6);
  object.set_data32(4, 0);
  object.set_res(kMgmtResOk);
}

void obj_suspend(MgmtObject &object) {
  if (!object.has_data(4)) return;
  if (object.cmd() == kMgmtCmdGet) {
    object.set_data32(0, static_cast<uint32_t>(process_state().pause));
  } else {
    uint32_t pause = object.data32(0);
    MGMT_TRACE(trace::kNote, pause ? "Pause execution" : "Resume execution");
    process_state().pause = pause ? 1 : 0;
  }
  object.set_res(kMgmtResOk);
}

void obj_base_mac(MgmtObject &object) {
  if (object.cmd() != kMgmtCmdGet || !object.has_data(6)) return;
  board_mac_addr(0, object.data());
  object.set_res(kMgmtResOk);
}

void own_object(MgmtObject &object) {
  uint32_t id = object.obj_id();
  if (id >= kMgmtObjCount) {
    MGMT_TRACE(trace::kError, "Unknown obj_id: %d", static_cast<int>(id));
    object.set_res(kMgmtResNoHandler);
    return;
  }
  MgmtHandler handler = server.objects[id];
  if (!handler) {
    object.set_res(kMgmtResNoHandler);
    return;
  }
  object.set_res(kMgmtResFail);
  if (object.cmd() == kMgmtCmdGet || object.cmd() == kMgmtCmdSet) handler(object);
}

void dispatch(MgmtObject &object) {
  uint32_t thousand = object.obj_id() / 1000;
  MgmtHandler handler = thousand < kMgmtModuleCount ? server.modules[thousand] : nullptr;
  if (!handler) {
    MGMT_TRACE(trace::kError, "obj_id out of range: %d", static_cast<int>(object.obj_id()));
    object.set_res(kMgmtResNoHandler);
    return;
  }
  handler(object);
}

// While paused no timer runs, so a pending default restore cannot finish; terminate and resume must
// still get through or the daemon could never be woken by management again.
bool served_while_busy(const MgmtObject &object) {
  return process_state().pause && (object.obj_id() == 5 || object.obj_id() == 10);
}

void mgmt_server_init() {
  server.buffer.assign(kMgmtBufferSize, 0);
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    MGMT_TRACE(trace::kError, "open socket failed");
    return;
  }
  const char *port_env = std::getenv("PORTVISOR_MGMT_PORT");
  uint16_t port = port_env && *port_env ? static_cast<uint16_t>(std::atoi(port_env)) : kMgmtPort;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  // The protocol carries no authentication and reaches chip registers, the daemon's life and every
  // setting: only programs on the box itself may talk to it.
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
    MGMT_TRACE(trace::kError, "bind socket failed");
    close(fd);
    return;
  }
  if (fd_reg(mgmt_event, kFdEventRead, fd) < 0) {
    MGMT_TRACE(trace::kError, "fd_reg failed");
    close(fd);
    return;
  }
  server.socket = fd;
  process_state().mgmt_socket = fd;
}

}  // namespace

void mgmt_module_reg(unsigned thousand, MgmtHandler handler) {
  if (thousand > 0 && thousand < kMgmtModuleCount) server.modules[thousand] = handler;
}

void mgmt_object_reg(uint32_t obj_id, MgmtHandler handler) {
  if (obj_id < kMgmtObjCount) server.objects[obj_id] = handler;
}

int mgmt_table_check(MgmtObject &object, uint16_t entry_size, uint16_t max_count) {
  if (object.size < kMgmtTableHeaderSize) {
    MGMT_TRACE(trace::kError, "Size mismatch, obj_size: %d, no table header", object.size);
    object.set_res(kMgmtResFail);
    return -1;
  }
  uint16_t count = object.table_count();
  uint16_t size = object.table_entry_size();
  if (count > max_count) {
    MGMT_TRACE(trace::kError, "Illegal count: %d, max: %d", count, max_count);
  } else if (size != entry_size) {
    MGMT_TRACE(trace::kError, "Illegal size: %d, expected: %d", size, entry_size);
  } else if (object.size != static_cast<size_t>(count) * size + kMgmtTableHeaderSize) {
    MGMT_TRACE(trace::kError, "Size mismatch, obj_size: %d, count: %d, size %d", object.size, count, size);
  } else {
    return 0;
  }
  object.set_res(kMgmtResFail);
  return -1;
}

size_t mgmt_process(uint8_t *buffer, size_t length) {
  size_t offset = 0;
  for (;;) {
    size_t left = length - offset;
    if (left < kMgmtHeaderSize) {
      MGMT_TRACE(trace::kError, "Invalid request");
      return 0;
    }
    MgmtObject object{buffer + offset, le_load16(buffer + offset + 14)};
    MGMT_TRACE(trace::kDebug, "obj_id: %d, cmd: %d (%s), res: %d, id: %d, size: %d",
               static_cast<int>(object.obj_id()), static_cast<int>(object.cmd()), cmd_name(object.cmd()),
               static_cast<int>(object.res()), object.entry_id(), object.size);
    trace_hex("Request:", object.bytes, std::min<size_t>(object.size, left));
    if (object.size < kMgmtHeaderSize || object.size > left) {
      MGMT_TRACE(trace::kError, "Invalid obj_size: %d", object.size);
      return 0;
    }
    if (conf_busy() && !served_while_busy(object)) {
      MGMT_TRACE(trace::kDebug, "busy");
      object.set_res(kMgmtResBusy);
    } else if (object.obj_id() < 1000) {
      own_object(object);
    } else {
      dispatch(object);
    }
    trace_hex("Reply:", object.bytes, object.size);
    offset += object.size;
    if (offset == length) return length;
  }
}

// 127.0.0.0/8 only; a datagram from any other source gets no answer.
bool from_the_box_itself(const sockaddr_storage &peer, socklen_t peer_len) {
  if (peer.ss_family != AF_INET || peer_len < static_cast<socklen_t>(sizeof(sockaddr_in))) return false;
  const auto &address = reinterpret_cast<const sockaddr_in &>(peer);
  return (ntohl(address.sin_addr.s_addr) >> 24) == IN_LOOPBACKNET;
}

void mgmt_event(int fd, unsigned events) {
  if (!(events & kFdEventRead)) return;
  sockaddr_storage peer{};
  socklen_t peer_len = sizeof peer;
  ssize_t n = recvfrom(fd, server.buffer.data(), server.buffer.size(), 0, reinterpret_cast<sockaddr *>(&peer),
                       &peer_len);
  if (n < 1) return;
  if (!from_the_box_itself(peer, peer_len)) {
    ++server.foreign_drops;
    MGMT_TRACE(trace::kWarn, "Dropping message from a non-local sender (%llu dropped)",
               static_cast<unsigned long long>(server.foreign_drops));
    return;
  }
  MGMT_TRACE(trace::kDebug, "Received message, size: %d", static_cast<int>(n));
  size_t reply = mgmt_process(server.buffer.data(), static_cast<size_t>(n));
  if (reply == 0) return;
  ssize_t sent = sendto(fd, server.buffer.data(), reply, 0, reinterpret_cast<sockaddr *>(&peer), peer_len);
  if (sent < static_cast<ssize_t>(reply)) MGMT_TRACE(trace::kError, "Sendto failed");
}

void mgmt_conf(const ConfAction &action) {
  switch (action.action) {
    case kConfActionCreate:
      MGMT_TRACE(trace::kDebug, "Creating default configuration");
      create_zeroed_block(kConfBlockDataA, kDataASize);
      // Only the memory copy gets the 9999 words; the saved block stays zero.
      le_store32(server.data_b.data() + 8, kDataBDefaultWord);
      le_store32(server.data_b.data() + 12, kDataBDefaultWord);
      create_zeroed_block(kConfBlockDataB, kDataBSize);
      break;
    case kConfActionRead:
      MGMT_TRACE(trace::kDebug, "Reading configuration");
      if (!read_block(kConfBlockDataA, server.data_a)) server.data_a.fill(0);
      if (!read_block(kConfBlockDataB, server.data_b)) {
        if (conf_create(kConfBlockDataB, kDataBSize))
          conf_close(kConfBlockDataB);
        else
          data_b_defaults();
      }
      break;
    default:
      MGMT_TRACE(trace::kError, "Unknown action: %d", static_cast<int>(action.action));
      break;
  }
}

void mgmt_init() {
  MGMT_TRACE(trace::kDebug, "Init");
  server.objects[1] = obj_phy_register;
  server.objects[2] = obj_phy_addr_register;
  server.objects[3] = obj_debug_flags;
  server.objects[5] = obj_terminate;
  server.objects[6] = obj_data_a;
  server.objects[7] = obj_reserved;
  server.objects[8] = obj_port_count;
  server.objects[9] = obj_data_b;
  server.objects[10] = obj_suspend;
  server.objects[11] = obj_base_mac;
  mgmt_conf(ConfAction{kConfActionRead, 0});
  mgmt_server_init();
}

void mgmt_reset() {
  if (server.socket >= 0) {
    fd_reg(nullptr, kFdEventRead, server.socket);
    close(server.socket);
  }
  server = MgmtServer{};
  process_state().mgmt_socket = -1;
}
