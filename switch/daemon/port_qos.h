// Port QoS: the number of priority queues, two global rate limits, and per front port the
// classification mode, default priority and the maps from the tag's user priority and from DSCP to a
// priority. Kept in configuration blocks 15 and 4, applied through the switch API's QoS calls and
// served as management objects 3003..3017.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct MgmtObject;

inline constexpr uint32_t kQosGenConfBlock = 15;
inline constexpr uint32_t kQosPortConfBlock = 4;
// Debug flag word that keeps the QoS configuration from being read or created.
inline constexpr int kQosDebugNoInit = 6;

// General record, block 15: five little-endian u32.
struct QosGenRecord {
  uint32_t prios;
  uint32_t limit_a_enabled;
  uint32_t limit_a;
  uint32_t limit_b_enabled;
  uint32_t limit_b;
};
inline constexpr size_t kQosGenRecordSize = 20;
inline constexpr QosGenRecord kQosGenDefault{4, 0, 0, 0, 0};

// Port record, 84 u32 words; block 4 holds u16 count, u16 size and one record per port.
inline constexpr size_t kQosPortWords = 84;
inline constexpr size_t kQosPortRecordSize = kQosPortWords * 4;
inline constexpr size_t kQosPortBlockSize = 4 + 6 * kQosPortRecordSize;
static_assert(kQosPortRecordSize == 336 && kQosPortBlockSize == 2020);

// Word offsets inside a port record.
inline constexpr size_t kQosWPort = 0, kQosWMode = 1, kQosWDefault = 2, kQosWTag = 3, kQosWGroup = 11,
                        kQosWDscp = 19, kQosWField = 83;
// Classification modes.
inline constexpr uint32_t kQosModeTag = 0, kQosModeDscpGroups = 1, kQosModeDscpMap = 2;

using QosPortRecord = std::array<uint32_t, kQosPortWords>;

// The defaults of a port 1..6.
QosPortRecord qos_port_default(uint32_t port);
// Why a record (or general record) cannot go to the chip, or nullptr when every field is in range.
const char *qos_port_refusal(const QosPortRecord &record);
const char *qos_gen_refusal(const QosGenRecord &record);

void port_qos_init();
// create 1: write the defaults into blocks 15 and 4; create 0: load both blocks and apply them.
void port_qos_config(int create);
void qos_gen_setup_commit();
// 1 when the chip took the record (a per-port soft failure counts as done), -1 otherwise.
int port_qos_table_commit(uint32_t port);
// Objects 3003..3017 (3012 excepted).
void port_qos_mgmt(MgmtObject &object);
bool port_qos_handles(uint32_t obj_id);

// The records in use (tests).
const QosGenRecord &port_qos_general();
const QosPortRecord &port_qos_record(uint32_t port);
