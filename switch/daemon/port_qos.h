// Port QoS: the number of priority queues, two global rate limits, and per front port the
// classification mode, default priority and the maps from the tag's user priority and from DSCP to a
// priority. Kept in configuration blocks 15 and 4, applied through the switch API's QoS calls and
// served as management objects 3003..3017.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct mgmt_object;

inline constexpr uint32_t QOS_GEN_CONF_BLOCK = 15;
inline constexpr uint32_t QOS_PORT_CONF_BLOCK = 4;
// Debug flag word that keeps the QoS configuration from being read or created.
inline constexpr int QOS_DEBUG_NO_INIT = 6;

// General record, block 15: five little-endian u32.
struct qos_gen_record {
  uint32_t prios;
  uint32_t limit_a_enabled;
  uint32_t limit_a;
  uint32_t limit_b_enabled;
  uint32_t limit_b;
};
inline constexpr size_t QOS_GEN_RECORD_SIZE = 20;
inline constexpr qos_gen_record QOS_GEN_DEFAULT{4, 0, 0, 0, 0};

// Port record, 84 u32 words; block 4 holds u16 count, u16 size and one record per port.
inline constexpr size_t QOS_PORT_WORDS = 84;
inline constexpr size_t QOS_PORT_RECORD_SIZE = QOS_PORT_WORDS * 4;
inline constexpr size_t QOS_PORT_BLOCK_SIZE = 4 + 6 * QOS_PORT_RECORD_SIZE;
static_assert(QOS_PORT_RECORD_SIZE == 336 && QOS_PORT_BLOCK_SIZE == 2020);

// Word offsets inside a port record.
inline constexpr size_t QOS_W_PORT = 0, QOS_W_MODE = 1, QOS_W_DEFAULT = 2, QOS_W_TAG = 3, QOS_W_GROUP = 11,
                        QOS_W_DSCP = 19, QOS_W_FIELD = 83;
// Classification modes.
inline constexpr uint32_t QOS_MODE_TAG = 0, QOS_MODE_DSCP_GROUPS = 1, QOS_MODE_DSCP_MAP = 2;

using qos_port_record = std::array<uint32_t, QOS_PORT_WORDS>;

// The defaults of a port 1..6.
qos_port_record qos_port_default(uint32_t port);
// Why a record (or general record) cannot go to the chip, or nullptr when every field is in range.
const char *qos_port_refusal(const qos_port_record &record);
const char *qos_gen_refusal(const qos_gen_record &record);

void port_qos_init();
// create 1: write the defaults into blocks 15 and 4; create 0: load both blocks and apply them.
void port_qos_config(int create);
void qos_gen_setup_commit();
// 1 when the chip took the record (a per-port soft failure counts as done), -1 otherwise.
int port_qos_table_commit(uint32_t port);
// Objects 3003..3017 (3012 excepted).
void port_qos_mgmt(mgmt_object &object);
bool port_qos_handles(uint32_t obj_id);

// The records in use (tests).
const qos_gen_record &port_qos_general();
const qos_port_record &port_qos_record(uint32_t port);
