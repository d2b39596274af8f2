// UDP management server on port 28: datagrams of request objects answered in place.
#pragma once

#include "le.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

inline constexpr uint16_t kMgmtPort = 28;
inline constexpr size_t kMgmtBufferSize = 65535;
inline constexpr size_t kMgmtHeaderSize = 16;
inline constexpr size_t kMgmtTableHeaderSize = 20;

enum MgmtCmd : uint32_t { kMgmtCmdGet = 0, kMgmtCmdSet = 1, kMgmtCmdAdd = 2, kMgmtCmdDel = 3 };
enum MgmtResult : uint32_t { kMgmtResOk = 0, kMgmtResFail = 1, kMgmtResNoHandler = 2, kMgmtResBusy = 3 };

// One object inside a datagram: the header {u32 obj_id, u32 cmd, u32 res, u16 id, u16 obj_size} and
// obj_size - 16 bytes of data. The server only hands out objects that lie wholly inside the datagram;
// handlers check with has_data before touching data, so nothing outside the object is read or written.
struct MgmtObject {
  uint8_t *bytes;
  uint16_t size;  // obj_size, at least 16

  uint32_t obj_id() const { return le_load32(bytes); }
  uint32_t cmd() const { return le_load32(bytes + 4); }
  uint32_t res() const { return le_load32(bytes + 8); }
  void set_res(uint32_t res) { le_store32(bytes + 8, res); }
  uint16_t entry_id() const { return le_load16(bytes + 12); }
  // True when `length` data bytes (after the 16-byte header) fit in the object.
  // 64 bits wide so that a length computed from a peer's count cannot wrap on a 32-bit processor.
  bool has_data(uint64_t length) const { return length <= size && kMgmtHeaderSize + length <= size; }
  uint8_t *data() { return bytes + kMgmtHeaderSize; }
  uint32_t data32(size_t offset) const { return le_load32(bytes + kMgmtHeaderSize + offset); }
  void set_data32(size_t offset, uint32_t v) { le_store32(bytes + kMgmtHeaderSize + offset, v); }
  // Table objects: u16 count at 16, u16 entry size at 18, entries from 20 (valid once the table check passed).
  uint16_t table_count() const { return le_load16(bytes + 16); }
  uint16_t table_entry_size() const { return le_load16(bytes + 18); }
  uint8_t *entry(size_t index, size_t entry_size) {
    return bytes + kMgmtTableHeaderSize + index * entry_size;
  }
};

using MgmtHandler = void (*)(MgmtObject &object);

// Module handlers by thousands: 1 packet, 2 conf, 3 port, 4 l2, 5 l3. Ids of a thousand without a
// handler, and ids outside the ranges, are answered with result 2.
inline constexpr unsigned kMgmtModuleCount = 6;
void mgmt_module_reg(unsigned thousand, MgmtHandler handler);
// The management module's own objects 0..13 whose switch API calls are not part of the API yet (chip
// registers 0 and 4, chip id 12, CPU capture 13) are served by handlers registered here; until then:
// result 2.
inline constexpr uint32_t kMgmtObjCount = 14;
void mgmt_object_reg(uint32_t obj_id, MgmtHandler handler);

// 0 when the table object's count, entry size and obj_size agree; otherwise result 1 and -1.
int mgmt_table_check(MgmtObject &object, uint16_t entry_size, uint16_t max_count);

void mgmt_init();
void mgmt_conf(const struct ConfAction &action);
void mgmt_event(int fd, unsigned events);

// Serves one datagram in place; returns the length to send back, or 0 when no reply is due.
size_t mgmt_process(uint8_t *buffer, size_t length);
// Drops the registered handlers and closes the server (tests).
void mgmt_reset();
