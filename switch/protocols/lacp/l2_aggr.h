// The aggregation module of portvisor: the table of hardware link aggregations, the operating-system side of the LACP engine, the
// configuration blocks 9, 10 and 20 and the management objects 4007, 4008, 4017 and 4018.
#pragma once

#include "lacp_engine.h"

#include <array>
#include <cstddef>
#include <cstdint>

struct MgmtObject;

namespace lacp {

inline constexpr unsigned kAggrTableMax = 3;
inline constexpr uint32_t kFirstPoag = 7;
inline constexpr uint32_t kLastPoag = 9;
inline constexpr size_t kAggrEntrySize = 36;
inline constexpr size_t kAggrModeSize = 20;
inline constexpr size_t kLacpConfigSize = 68;
inline constexpr size_t kLacpStatusSize = 424;
inline constexpr uint32_t kConfBlockMode = 9, kConfBlockTable = 10, kConfBlockLacp = 20;
inline constexpr size_t kTableBlockSize = 4 + kAggrTableMax * kAggrEntrySize;
static_assert(kTableBlockSize == 112);
inline constexpr uint32_t kObjTable = 4007, kObjMode = 4008, kObjLacpConfig = 4017, kObjLacpStatus = 4018;
inline constexpr uint32_t kLacpTickPeriodMs = 500;

struct AggrEntry {
  uint32_t poag_no = 0;
  std::array<uint32_t, 7> members{};  // index 1..6: front port is a member; index 0 unused
  uint16_t aid = 0;                   // LACP aggregator that made the entry, 0 configured
  bool operator==(const AggrEntry &) const = default;
};
void encode_aggr_entry(const AggrEntry &entry, uint8_t *out);
AggrEntry decode_aggr_entry(const uint8_t *in);

// What only the aggregation module needs besides the port services: the chip's aggregation members and
// mode (swc_rc results, 0 success), and the spanning tree, which follows the hardware aggregations.
class AggrChip {
 public:
  virtual ~AggrChip() = default;
  virtual int aggr_port_members_set(uint32_t poag_no, const std::array<uint32_t, 7> &members) = 0;
  virtual int aggr_mode_set(const std::array<uint32_t, 5> &mode) = 0;
  virtual void rstp_aggr_add(uint32_t poag_no, const std::array<uint32_t, 7> &members) = 0;
  virtual void rstp_aggr_del(uint32_t poag_no) = 0;
};

class AggrModule {
 public:
  AggrModule(proto::PortServices &services, AggrChip &chip);
  AggrModule(const AggrModule &) = delete;
  AggrModule &operator=(const AggrModule &) = delete;

  void init();
  void conf(bool create);
  uint32_t tick(uint32_t now, uint32_t last, uint32_t elapsed);

  int config_add(const AggrEntry &entry);
  int config_del(uint32_t poag_no);
  int config_get(AggrEntry &entry, bool exact) const;

  int set_hwaggr(unsigned aid, unsigned new_port);
  void clear_hwaggr(unsigned aid, unsigned old_port);

  void lacp_config_set(const uint8_t *record);
  void lacp_config_get(uint8_t *record);
  void lacp_config_save();

  void mgmt_table(MgmtObject &object);
  void mgmt_gen_conf(MgmtObject &object);
  void mgmt_lacp_config(MgmtObject &object);
  void mgmt_lacp_status(MgmtObject &object);

  Engine &engine() { return engine_; }
  unsigned table_count() const { return count_; }
  const AggrEntry &table_entry(unsigned index) const { return table_[index]; }
  const std::array<uint32_t, 5> &mode() const { return mode_; }
  uint32_t aid_poag(unsigned aid) const { return aid_poag_[aid]; }
  uint16_t aid_portmap(unsigned port) const { return aid_portmap_[port]; }

 private:
  // The engine's aggregation events reach the module's hardware aggregations.
  class Events : public AggregatorEvents {
   public:
    explicit Events(AggrModule &module) : module_(module) {}
    void set_hwaggr(unsigned aggregator, unsigned port) override { module_.set_hwaggr(aggregator, port); }
    void clear_hwaggr(unsigned aggregator, unsigned port) override { module_.clear_hwaggr(aggregator, port); }

   private:
    AggrModule &module_;
  };

  int find(uint32_t poag_no) const;
  bool add_allowed(const AggrEntry &entry);
  uint32_t free_poag() const;
  AggrEntry aggregator_entry(unsigned aid, unsigned *count) const;
  void save_table();
  void save_mode();
  size_t block_entries(const uint8_t *block, size_t stored, std::array<AggrEntry, kAggrTableMax> &wanted);
  void read_table_block();
  // Front ports 1..6 whose LACP machines start over once a walk of the table is done.
  using PortSet = std::array<bool, kPortCount + 1>;
  void forget_lacp_aggregation(const AggrEntry &entry, PortSet &restarts);
  void release_lacp_number(uint32_t poag_no, PortSet &restarts);
  void restart_lacp_ports(const PortSet &restarts);
  void trace(unsigned level, const char *function, int line, const char *format, ...)
      __attribute__((format(printf, 5, 6)));

  proto::PortServices &services_;
  AggrChip &chip_;
  Events events_;
  Engine engine_;
  std::array<AggrEntry, kAggrTableMax> table_{};
  unsigned count_ = 0;
  std::array<uint32_t, 5> mode_{};
  std::array<uint16_t, kPortCount + 1> aid_portmap_{};
  std::array<uint32_t, kAggregatorCount + 1> aid_poag_{};
  Mac own_mac_{};
  unsigned dropped_tick_warnings_ = 50;
};

// The module the daemon runs, on the services it was given. The daemon sets its services before
// l2_aggr_init; until then every entry point below but swc_lacp_more_work is an assertion failure.
// Module debug flag word 9 leaves the aggregation configuration alone.
inline constexpr int kDebugDisableAggr = 9;
void l2_aggr_services_set(proto::PortServices *services, AggrChip *chip);
AggrModule *l2_aggr_module();

}  // namespace lacp

// The daemon's entry points. l2_aggr_init registers the one-second tick driver with the timer registry;
// the L2 module runs swc_lacp_more_work on every pass of the main loop.
void l2_aggr_init();
void l2_aggr_conf(int create);
uint32_t lacp_tick(uint32_t now, uint32_t last, uint32_t elapsed);
void l2_aggr_table(MgmtObject &object);
void l2_aggr_gen_conf(MgmtObject &object);
void l2_lacp_config(MgmtObject &object);
void l2_lacp_status(MgmtObject &object);

int swc_os_set_hwaggr(unsigned aid, unsigned new_port);
void swc_os_clear_hwaggr(unsigned aid, unsigned old_port);

void swc_lacp_init();
void swc_lacp_set_config(const uint8_t *system);
void swc_lacp_get_config(uint8_t *system);
void swc_lacp_set_portconfig(unsigned port, const uint8_t *config);
void swc_lacp_get_portconfig(unsigned port, uint8_t *config);
void swc_lacp_linkstate_changed(unsigned port, int link);
// The shape of the L2 dispatch's frame receivers.
void swc_lacp_receive(uint32_t port, const uint8_t *frame, uint32_t length);
void swc_lacp_tick();
void swc_lacp_more_work();
bool swc_lacp_get_aggr_status(unsigned aggrid, uint8_t *status);
void swc_lacp_get_port_status(unsigned port, uint8_t *status);
