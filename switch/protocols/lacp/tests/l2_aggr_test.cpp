#include "aggr_test_services.h"
#include "conf.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "process_util.h"
#include "trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace lacp;
using namespace lacp_test;

namespace {

class AggrTable : public ::testing::Test {
 protected:
  void SetUp() override {
    module.init();
    services.calls.clear();
  }
  std::vector<uint32_t> numbers() const {
    std::vector<uint32_t> out;
    for (unsigned i = 0; i < module.table_count(); ++i) out.push_back(module.table_entry(i).poag_no);
    return out;
  }
  // A management request of one object: header, then the data bytes.
  static std::vector<uint8_t> request(uint32_t obj, uint32_t cmd, size_t data_size) {
    std::vector<uint8_t> bytes(kMgmtHeaderSize + data_size, 0);
    le_store32(bytes.data(), obj);
    le_store32(bytes.data() + 4, cmd);
    le_store32(bytes.data() + 8, 0xFF);
    le_store16(bytes.data() + 14, static_cast<uint16_t>(bytes.size()));
    return bytes;
  }
  static std::vector<uint8_t> table_request(uint32_t cmd, const std::vector<AggrEntry> &entries,
                                            size_t count) {
    auto bytes = request(kObjTable, cmd, 4 + count * kAggrEntrySize);
    le_store16(bytes.data() + 16, static_cast<uint16_t>(count));
    le_store16(bytes.data() + 18, kAggrEntrySize);
    for (size_t i = 0; i < entries.size(); ++i)
      encode_aggr_entry(entries[i], bytes.data() + 20 + i * kAggrEntrySize);
    return bytes;
  }
  static uint32_t res(const std::vector<uint8_t> &bytes) { return le_load32(bytes.data() + 8); }
  // Object 4007 with `cmd` over `entries`: its result.
  uint32_t table_object(uint32_t cmd, const std::vector<AggrEntry> &entries) {
    auto bytes = table_request(cmd, entries, entries.size());
    MgmtObject obj{bytes.data(), static_cast<uint16_t>(bytes.size())};
    module.mgmt_table(obj);
    return res(bytes);
  }
  // The entries block 10 holds; none without the block.
  static std::vector<AggrEntry> saved_entries() {
    uint32_t size = 0;
    const uint8_t *block = conf_open(kConfBlockTable, &size);
    std::vector<AggrEntry> out;
    for (unsigned i = 0; block && i < le_load16(block); ++i)
      out.push_back(decode_aggr_entry(block + 4 + kAggrEntrySize * i));
    return out;
  }
  static void write_table_block(const std::vector<AggrEntry> &entries) {
    uint8_t *block = conf_create(kConfBlockTable, kTableBlockSize);
    std::memset(block, 0, kTableBlockSize);
    le_store16(block, static_cast<uint16_t>(entries.size()));
    le_store16(block + 2, kAggrEntrySize);
    for (size_t i = 0; i < entries.size(); ++i) encode_aggr_entry(entries[i], block + 4 + kAggrEntrySize * i);
    conf_close(kConfBlockTable);
  }

  DaemonStore store;
  RecordingServices services{0xA};
  AggrModule module{services, services};
};

TEST_F(AggrTable, AcceptsOnlyAggregationNumbers) {
  EXPECT_EQ(module.config_add(entry(6, {1, 2})), -1);
  EXPECT_EQ(services.traces_containing("Illegal poag_no: 6"), 1u);
  EXPECT_EQ(module.config_add(entry(10, {1, 2})), -1) << "only three aggregations exist: 7..9";
  EXPECT_EQ(module.config_add(entry(7, {1, 2})), 0);
  EXPECT_EQ(services.calls, (std::vector<std::string>{"members 7 12----", "rstp add 7"}));
}

TEST_F(AggrTable, KeepsSortedUpdatesInPlaceAndReportsWhichWayItIsFull) {
  EXPECT_EQ(module.config_add(entry(9, {5, 6})), 0);
  EXPECT_EQ(module.config_add(entry(7, {1, 2})), 0);
  EXPECT_EQ(services.traces_containing("Inserting at index 0"), 1u);
  EXPECT_EQ(module.config_add(entry(8, {3, 4})), 1);
  EXPECT_EQ(numbers(), (std::vector<uint32_t>{7, 8, 9}));
  EXPECT_EQ(module.config_add(entry(8, {3})), 1);
  EXPECT_EQ(services.traces_containing("Updating at index 1"), 1u);
  EXPECT_EQ(module.table_count(), 3u);
  EXPECT_EQ(module.table_entry(1), entry(8, {3}));
}

TEST_F(AggrTable, DeleteMovesTheRestDownAndClearsTheChip) {
  module.config_add(entry(7, {1, 2}));
  module.config_add(entry(8, {3, 4}));
  services.calls.clear();
  EXPECT_EQ(module.config_del(7), 0);
  EXPECT_EQ(services.calls, (std::vector<std::string>{"rstp del 7", "members 7 ------"}));
  EXPECT_EQ(numbers(), (std::vector<uint32_t>{8}));
  EXPECT_EQ(module.config_del(7), -1);
  EXPECT_EQ(services.traces_containing("Delete failed, not found"), 1u);
}

TEST_F(AggrTable, GetWalksByNextGreaterNumber) {
  module.config_add(entry(7, {1, 2}));
  module.config_add(entry(9, {5, 6}));
  AggrEntry key;
  key.poag_no = 7;
  EXPECT_EQ(module.config_get(key, true), 0);
  EXPECT_EQ(key.poag_no, 7u);
  EXPECT_EQ(module.config_get(key, false), 1);
  EXPECT_EQ(key.poag_no, 9u);
  EXPECT_EQ(module.config_get(key, false), -1);
}

TEST_F(AggrTable, ChipRefusalLeavesTheTableAsItWas) {
  module.config_add(entry(7, {1, 2}));
  services.chip_rc = -64;
  EXPECT_EQ(module.config_add(entry(8, {3, 4})), -1);
  EXPECT_EQ(module.config_add(entry(7, {1, 2, 3})), -1);
  EXPECT_EQ(services.traces_containing("swc_aggr_port_members_set failed"), 2u);
  EXPECT_EQ(numbers(), (std::vector<uint32_t>{7}));
  EXPECT_EQ(module.table_entry(0), entry(7, {1, 2}));
}

TEST_F(AggrTable, LacpAggregationTakesTheLowestFreeNumberAndFollowsItsMembers) {
  module.config_add(entry(7, {5, 6}));
  services.calls.clear();
  EXPECT_EQ(module.set_hwaggr(2, 1), 0);
  EXPECT_TRUE(services.calls.empty()) << "a single port gets no hardware aggregation";
  EXPECT_EQ(services.traces_containing("Starting port 1 aid 2"), 1u);
  EXPECT_EQ(module.set_hwaggr(2, 2), 1);
  EXPECT_EQ(module.aid_poag(2), 8u);
  EXPECT_EQ(services.traces_containing("creating port 2 aid 2 -> poag_no: 8"), 1u);
  module.set_hwaggr(2, 3);
  EXPECT_EQ(services.traces_containing("adding port 3 to aid 2 -> poag_no: 8"), 1u);
  EXPECT_EQ(module.table_entry(1), entry(8, {1, 2, 3}, 2));

  module.clear_hwaggr(2, 1);
  EXPECT_EQ(services.traces_containing("Clearing port 1 from aid 2 -> poag_no: 8"), 1u);
  EXPECT_EQ(module.table_entry(1), entry(8, {2, 3}, 2));
  module.clear_hwaggr(2, 2);
  EXPECT_EQ(services.traces_containing("Deleting port 2 aid 2 -> poag_no: 8"), 1u);
  EXPECT_EQ(numbers(), (std::vector<uint32_t>{7}));
  EXPECT_EQ(module.aid_poag(2), 0u);
  services.calls.clear();
  module.clear_hwaggr(2, 3);
  module.clear_hwaggr(2, 3);
  EXPECT_TRUE(services.calls.empty()) << "the last port of an aggregator changes nothing";
}

TEST_F(AggrTable, RefusedLacpAggregationIsRetriedByTheNextMember) {
  module.config_add(entry(7, {}));
  module.config_add(entry(8, {}));
  module.config_add(entry(9, {}));
  module.set_hwaggr(1, 1);
  EXPECT_EQ(module.set_hwaggr(1, 2), -1);
  EXPECT_EQ(services.traces_containing("Illegal poag_no: 0"), 1u);
  EXPECT_EQ(module.aid_poag(1), 0u);
  module.config_del(9);
  EXPECT_EQ(module.set_hwaggr(1, 3), 2);
  EXPECT_EQ(module.table_entry(2), entry(9, {1, 2, 3}, 1));
}

TEST_F(AggrTable, InitLetsTheSpanningTreeStateReachTheChipOnEveryPort) {
  for (unsigned port = 1; port <= kPortCount; ++port) EXPECT_EQ(services.apply[port], 1) << port;
}

TEST_F(AggrTable, TickTurnsMillisecondsIntoWholeSeconds) {
  uint32_t t = module.engine().ticks();
  EXPECT_EQ(module.tick(50000, 0, 50000), 50000u) << "first call: one second";
  EXPECT_EQ(module.engine().ticks(), t + 1);
  EXPECT_EQ(module.tick(53600, 50000, 3600), 53000u);
  EXPECT_EQ(module.engine().ticks(), t + 4);
  EXPECT_EQ(services.traces_containing("Timer dropped 2 tick(s)"), 1u);
  EXPECT_EQ(module.tick(78600, 53600, 25000), 78600u);
  EXPECT_EQ(module.engine().ticks(), t + 5);
  EXPECT_EQ(services.traces_containing("Timer jumped more than 20 ticks: reset"), 1u);
  EXPECT_EQ(module.tick(79100, 78600, 500), 78600u) << "below a second nothing runs";
  EXPECT_EQ(module.engine().ticks(), t + 5);
}

TEST_F(AggrTable, DroppedTickWarningsStopAfterFifty) {
  uint32_t last = 1000;
  for (int i = 0; i < 60; ++i) last = module.tick(last + 2000, last, 2000);
  EXPECT_EQ(services.traces_containing("Timer dropped 1 tick(s)"), 50u);
}

TEST_F(AggrTable, SavedTableHoldsOnlyConfiguredEntries) {
  module.config_add(entry(8, {3, 4}));
  module.set_hwaggr(1, 1);
  module.set_hwaggr(1, 2);  // takes 7
  auto add = table_request(kMgmtCmdAdd, {entry(9, {5, 6}, 3)}, 1);
  MgmtObject obj{add.data(), static_cast<uint16_t>(add.size())};
  module.mgmt_table(obj);
  EXPECT_EQ(res(add), 0u);
  EXPECT_EQ(module.table_entry(2), entry(9, {5, 6})) << "aid forced to 0";
  uint32_t size = 0;
  const uint8_t *block = conf_open(kConfBlockTable, &size);
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(size, kTableBlockSize);
  EXPECT_EQ(le_load16(block), 2);
  EXPECT_EQ(le_load16(block + 2), kAggrEntrySize);
  EXPECT_EQ(decode_aggr_entry(block + 4), entry(8, {3, 4}));
  EXPECT_EQ(decode_aggr_entry(block + 40), entry(9, {5, 6}));
}

TEST_F(AggrTable, AddRefusesPortsThatAnotherEntryHolds) {
  ASSERT_EQ(table_object(kMgmtCmdAdd, {entry(7, {1, 2})}), 0u);
  module.set_hwaggr(1, 4);
  module.set_hwaggr(1, 5);  // LACP's 8
  services.calls.clear();
  EXPECT_EQ(table_object(kMgmtCmdAdd, {entry(9, {2, 3})}), 1u);
  EXPECT_EQ(services.traces_containing("Port 2 already in poag_no: 7"), 1u);
  EXPECT_EQ(table_object(kMgmtCmdAdd, {entry(9, {5, 6})}), 1u) << "port 5 is in LACP's 8";
  // Taking LACP's number would free its ports, but port 1 is in 7: LACP keeps its aggregation.
  EXPECT_EQ(table_object(kMgmtCmdAdd, {entry(8, {1, 6})}), 1u);
  EXPECT_EQ(module.aid_poag(1), 8u);
  EXPECT_EQ(module.aid_portmap(4), 1);
  EXPECT_TRUE(services.calls.empty()) << "nothing reached the chip";
  EXPECT_EQ(numbers(), (std::vector<uint32_t>{7, 8}));
  EXPECT_EQ(saved_entries(), (std::vector<AggrEntry>{entry(7, {1, 2})}));
  // The refused number was never made: deleting it leaves port 2 in 7.
  EXPECT_EQ(table_object(kMgmtCmdDel, {entry(9, {})}), 1u);
  EXPECT_TRUE(services.calls.empty());
}

TEST_F(AggrTable, AddOfANewEntryNeedsAMemberButAnEntryMayBeEmptied) {
  EXPECT_EQ(table_object(kMgmtCmdAdd, {entry(9, {})}), 1u);
  EXPECT_EQ(services.traces_containing("No member in poag_no: 9"), 1u);
  EXPECT_EQ(module.table_count(), 0u);
  EXPECT_TRUE(saved_entries().empty());
  ASSERT_EQ(table_object(kMgmtCmdAdd, {entry(9, {6})}), 0u) << "one member is enough";
  EXPECT_EQ(table_object(kMgmtCmdAdd, {entry(9, {})}), 0u);
  EXPECT_EQ(saved_entries(), (std::vector<AggrEntry>{entry(9, {})}));
}

TEST_F(AggrTable, AnAddMovesTheEntrysOwnPortsAndFreesTheRest) {
  ASSERT_EQ(table_object(kMgmtCmdAdd, {entry(7, {1, 2, 3, 4, 5, 6})}), 0u);
  EXPECT_EQ(table_object(kMgmtCmdAdd, {entry(8, {6})}), 1u);
  EXPECT_EQ(table_object(kMgmtCmdAdd, {entry(7, {2, 3})}), 0u);
  // The entries of one request are taken in turn: the first takes port 4, so the second may not.
  EXPECT_EQ(table_object(kMgmtCmdAdd, {entry(8, {1, 4}), entry(9, {4, 5})}), 1u);
  EXPECT_EQ(numbers(), (std::vector<uint32_t>{7, 8}));
  EXPECT_EQ(saved_entries(), (std::vector<AggrEntry>{entry(7, {2, 3}), entry(8, {1, 4})}));
}

// Only the block's own entries count: an LACP-made aggregation is replaced by the read, and an entry
// that was skipped holds no port.
TEST_F(AggrTable, ReadingSkipsABlockEntryThatOverlapsAnEarlierOne) {
  module.set_hwaggr(1, 5);
  module.set_hwaggr(1, 6);  // LACP's 7
  write_table_block({entry(7, {1, 2}), entry(8, {2, 3}), entry(9, {3, 4, 5, 6})});
  services.calls.clear();
  module.conf(false);
  EXPECT_EQ(numbers(), (std::vector<uint32_t>{7, 9}));
  EXPECT_EQ(services.traces_containing("Skipping poag_no: 8, port 2 already in poag_no: 7"), 1u);
  EXPECT_EQ(std::count(services.calls.begin(), services.calls.end(), "members 8 -23---"), 0);
  EXPECT_EQ(module.table_entry(1), entry(9, {3, 4, 5, 6}));
}

TEST_F(AggrTable, ConfiguredEntryTakingAnLacpNumberIsLeftAloneByLacp) {
  module.set_hwaggr(1, 1);
  module.set_hwaggr(1, 2);  // LACP's 7
  auto add = table_request(kMgmtCmdAdd, {entry(7, {5, 6})}, 1);
  MgmtObject obj{add.data(), static_cast<uint16_t>(add.size())};
  module.mgmt_table(obj);
  EXPECT_EQ(res(add), 0u);
  EXPECT_EQ(module.aid_poag(1), 0u);
  // The LACP ports detach later: the configured aggregation stays as it was set.
  module.clear_hwaggr(1, 1);
  module.clear_hwaggr(1, 2);
  ASSERT_EQ(module.table_count(), 1u);
  EXPECT_EQ(module.table_entry(0), entry(7, {5, 6}));
}

TEST_F(AggrTable, ReadingTheBlockDropsOtherEntriesAndLacpForgetsThem) {
  module.set_hwaggr(1, 1);
  module.set_hwaggr(1, 2);  // LACP's 7
  module.config_add(entry(9, {5, 6}));
  uint8_t *block = conf_create(kConfBlockTable, kTableBlockSize);
  std::memset(block, 0, kTableBlockSize);
  le_store16(block, 1);
  le_store16(block + 2, kAggrEntrySize);
  encode_aggr_entry(entry(8, {3, 4}, 5), block + 4);
  conf_close(kConfBlockTable);

  module.conf(false);
  EXPECT_EQ(numbers(), (std::vector<uint32_t>{8}));
  EXPECT_EQ(module.table_entry(0).aid, 0);
  EXPECT_EQ(module.aid_poag(1), 0u);
  EXPECT_EQ(module.aid_portmap(1), 0);
  EXPECT_EQ(module.aid_portmap(2), 0);
}

TEST_F(AggrTable, ABlockWithABadCountOrEntrySizeReadsNothingOutside) {
  uint8_t *block = conf_create(kConfBlockTable, 40);
  std::memset(block, 0, 40);
  le_store16(block, 500);
  le_store16(block + 2, kAggrEntrySize);
  encode_aggr_entry(entry(7, {1, 2}), block + 4);
  conf_close(kConfBlockTable);
  module.conf(false);
  EXPECT_EQ(numbers(), (std::vector<uint32_t>{7}));

  block = conf_create(kConfBlockTable, kTableBlockSize);
  le_store16(block, 1);
  le_store16(block + 2, 30);
  conf_close(kConfBlockTable);
  module.conf(false);
  EXPECT_EQ(services.traces_containing("Ignoring aggregation block with entry size 30"), 1u);
  EXPECT_EQ(numbers(), (std::vector<uint32_t>{7}));
}

TEST_F(AggrTable, CreateWritesDefaultsAndReadAppliesTheMode) {
  module.conf(true);
  uint32_t size = 0;
  const uint8_t *mode = conf_open(kConfBlockMode, &size);
  ASSERT_EQ(size, kAggrModeSize);
  EXPECT_EQ(le_load32(mode), 1u);
  EXPECT_EQ(le_load32(mode + 4), 1u);
  EXPECT_EQ(le_load32(mode + 8), 0u);
  const uint8_t *lacp = conf_open(kConfBlockLacp, &size);
  ASSERT_EQ(size, kLacpConfigSize);
  EXPECT_EQ(le_load16(lacp), 32768);
  for (unsigned i = 4; i < 10; ++i) EXPECT_EQ(lacp[i], 0) << "the own system MAC is saved as zero";
  EXPECT_EQ(le_load16(lacp + 20), 32768);
  EXPECT_EQ(lacp[25], 1);
  EXPECT_EQ(lacp[26], 1);

  uint8_t *m = conf_create(kConfBlockMode, kAggrModeSize);
  le_store32(m + 8, 1);
  conf_close(kConfBlockMode);
  services.calls.clear();
  module.conf(false);
  EXPECT_EQ(services.calls.front(), "mode 1 1 1 0 0");
}

TEST_F(AggrTable, LacpConfigObjectRoundTripsAndSavesAForeignMac) {
  auto set = request(kObjLacpConfig, kMgmtCmdSet, kLacpConfigSize);
  uint8_t *rec = set.data() + kMgmtHeaderSize;
  le_store16(rec, 7);
  const uint8_t foreign[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  std::memcpy(rec + 4, foreign, 6);
  encode_port_config(PortConfig{100, 5, 1, 0, 0}, rec + 20 + 8 * 2);
  MgmtObject obj{set.data(), static_cast<uint16_t>(set.size())};
  module.mgmt_lacp_config(obj);
  EXPECT_EQ(res(set), 0u);
  EXPECT_EQ(module.engine().port(3).config, (PortConfig{100, 5, 1, 0, 0}));
  EXPECT_EQ(module.engine().port(3).actor_oper_key, 0x0500) << "key 5, speed code 0 without link";

  uint32_t size = 0;
  const uint8_t *saved = conf_open(kConfBlockLacp, &size);
  ASSERT_EQ(size, kLacpConfigSize);
  EXPECT_EQ(std::memcmp(saved + 4, foreign, 6), 0);
  EXPECT_EQ(le_load16(saved), 7);

  auto get = request(kObjLacpConfig, kMgmtCmdGet, kLacpConfigSize);
  MgmtObject gobj{get.data(), static_cast<uint16_t>(get.size())};
  module.mgmt_lacp_config(gobj);
  EXPECT_EQ(std::vector<uint8_t>(get.begin() + 16, get.end()),
            std::vector<uint8_t>(saved, saved + kLacpConfigSize));
}

TEST_F(AggrTable, ObjectsTooShortForTheirRecordFailUntouched) {
  for (uint32_t cmd : {kMgmtCmdGet, kMgmtCmdSet}) {
    auto cfg = request(kObjLacpConfig, cmd, kLacpConfigSize - 1);
    MgmtObject o1{cfg.data(), static_cast<uint16_t>(cfg.size())};
    module.mgmt_lacp_config(o1);
    EXPECT_EQ(res(cfg), 1u);
    auto mode = request(kObjMode, cmd, kAggrModeSize - 1);
    MgmtObject o2{mode.data(), static_cast<uint16_t>(mode.size())};
    module.mgmt_gen_conf(o2);
    EXPECT_EQ(res(mode), 1u);
  }
  auto status = request(kObjLacpStatus, kMgmtCmdGet, kLacpStatusSize - 1);
  MgmtObject o3{status.data(), static_cast<uint16_t>(status.size())};
  module.mgmt_lacp_status(o3);
  EXPECT_EQ(res(status), 1u);
  for (size_t i = kMgmtHeaderSize; i < status.size(); ++i) ASSERT_EQ(status[i], 0);
}

TEST_F(AggrTable, ModeObjectSetsTheChipAndSavesTheBlock) {
  auto set = request(kObjMode, kMgmtCmdSet, kAggrModeSize);
  le_store32(set.data() + 16 + 16, 1);
  MgmtObject obj{set.data(), static_cast<uint16_t>(set.size())};
  module.mgmt_gen_conf(obj);
  EXPECT_EQ(res(set), 0u);
  EXPECT_EQ(services.calls.back(), "mode 0 0 0 0 1");
  uint32_t size = 0;
  EXPECT_EQ(le_load32(conf_open(kConfBlockMode, &size) + 16), 1u);
  auto del = request(kObjMode, kMgmtCmdDel, kAggrModeSize);
  MgmtObject dobj{del.data(), static_cast<uint16_t>(del.size())};
  module.mgmt_gen_conf(dobj);
  EXPECT_EQ(res(del), 1u);
}

TEST_F(AggrTable, TableObjectGetNextWalkAndFailures) {
  module.config_add(entry(7, {1, 2}));
  module.config_add(entry(9, {5, 6}));
  auto get = table_request(kMgmtCmdGet, {entry(0, {})}, 3);
  MgmtObject obj{get.data(), static_cast<uint16_t>(get.size())};
  module.mgmt_table(obj);
  EXPECT_EQ(res(get), 0u);
  EXPECT_EQ(le_load16(get.data() + 16), 2);
  EXPECT_EQ(decode_aggr_entry(get.data() + 20), entry(7, {1, 2}));
  EXPECT_EQ(decode_aggr_entry(get.data() + 56), entry(9, {5, 6}));

  auto exact = table_request(kMgmtCmdGet, {entry(9, {})}, 1);
  MgmtObject eobj{exact.data(), static_cast<uint16_t>(exact.size())};
  module.mgmt_table(eobj);
  EXPECT_EQ(decode_aggr_entry(exact.data() + 20).poag_no, 9u);

  auto del = table_request(kMgmtCmdDel, {entry(8, {})}, 1);
  MgmtObject dobj{del.data(), static_cast<uint16_t>(del.size())};
  module.mgmt_table(dobj);
  EXPECT_EQ(res(del), 1u);
  auto set = table_request(kMgmtCmdSet, {entry(7, {})}, 1);
  MgmtObject sobj{set.data(), static_cast<uint16_t>(set.size())};
  module.mgmt_table(sobj);
  EXPECT_EQ(res(set), 1u);
  auto four = table_request(kMgmtCmdAdd, {}, 4);
  MgmtObject fobj{four.data(), static_cast<uint16_t>(four.size())};
  module.mgmt_table(fobj);
  EXPECT_EQ(res(four), 1u);
  EXPECT_EQ(module.table_count(), 2u);
}

// The module's engine cabled to a partner system on ports 1..4: ports 1 and 2 form one aggregation, 3 and
// 4 another. The walk over the table meets an engine sweep still in progress.
class AggrTableWithPartner : public AggrTable {
 protected:
  void SetUp() override {
    AggrTable::SetUp();
    partner.init();
    for (unsigned p = 1; p <= 4; ++p) {
      const auto config = port_config(p <= 2 ? 1 : 2);
      module.engine().set_portconfig(p, config.data());
      partner.set_portconfig(p, config.data());
    }
  }
  void link_up(unsigned port) {
    services.link[port] = partner_host.link[port] = 1;
    module.engine().linkstate_changed(port, 1);
    partner.linkstate_changed(port, 1);
  }
  // Frames across the cables; true when the module's engine took some.
  bool deliver() {
    bool to_module = false;
    while (to_partner_ < services.sent.size() || to_module_ < partner_host.sent.size()) {
      for (; to_partner_ < services.sent.size(); ++to_partner_) {
        const auto &f = services.sent[to_partner_];
        partner.receive(f.port, f.bytes.data(), f.bytes.size());
      }
      for (; to_module_ < partner_host.sent.size(); ++to_module_, to_module = true) {
        const auto &f = partner_host.sent[to_module_];
        module.engine().receive(f.port, f.bytes.data(), f.bytes.size());
      }
    }
    return to_module;
  }
  // Port 4 waits attached for a partner in sync: its next step starts collecting, which joins port 3's
  // hardware aggregation.
  bool port_4_about_to_collect() {
    const Port &p = module.engine().port(4);
    return p.mux_state == kMuxAttached && p.has(kSelected) && (p.partner_oper.state & kStateSync);
  }
  // Runs both systems, one port step at a time, until `done`; false if it never comes.
  template <class Done>
  bool run_until(Done done) {
    for (unsigned second = 0; second < 60; ++second) {
      module.engine().tick();
      partner.tick();
      for (unsigned pass = 0; pass <= kPortCount; ++pass) {
        if (done()) return true;
        deliver();
        if (done()) return true;
        module.engine().more_work();
        partner.more_work();
      }
    }
    return false;
  }
  // Aggregation 7 made by LACP of ports 1 and 2, port 3 collecting alone on its aggregator, and a new
  // sweep of the engine that has stepped port 1 only, with port 4's step about to make the second
  // LACP aggregation.
  void sweep_with_port_4_joining() {
    for (unsigned p = 1; p <= 3; ++p) link_up(p);
    ASSERT_TRUE(
        run_until([&] { return module.aid_poag(module.aid_portmap(1)) == 7 && module.aid_portmap(3) != 0; }));
    link_up(4);
    ASSERT_TRUE(run_until([&] { return port_4_about_to_collect(); }));
    // Port 4 has had its step of this sweep (or no sweep is running): the rest of the sweep is ports 5
    // and 6; the next tick's sweep steps port 1 and leaves port 4 pending.
    for (unsigned pass = 0; pass < kPortCount; ++pass) module.engine().more_work();
    ASSERT_TRUE(port_4_about_to_collect());
    module.engine().tick();
    ASSERT_EQ(module.table_count(), 1u);
  }
  // What the configured entries 7 and 8 leave LACP: ports 3 and 4 aggregated on the free number 9.
  void expect_configured_7_and_8_and_lacp_9() {
    EXPECT_EQ(numbers(), (std::vector<uint32_t>{7, 8, 9}));
    EXPECT_EQ(module.table_entry(0), entry(7, {5}));
    EXPECT_EQ(module.table_entry(1), entry(8, {6}));
    const unsigned aid = module.aid_portmap(3);
    ASSERT_NE(aid, 0u) << "ports 3 and 4 kept their aggregation";
    EXPECT_EQ(module.aid_portmap(4), aid);
    EXPECT_EQ(module.aid_poag(aid), 9u);
    EXPECT_EQ(module.table_entry(2), entry(9, {3, 4}, static_cast<uint16_t>(aid)));
  }

  RecordingHost partner_host{0xB};
  Engine partner{partner_host, partner_host};

 private:
  size_t to_partner_ = 0, to_module_ = 0;
};

TEST_F(AggrTableWithPartner, TableObjectRestartsLacpPortsOnlyAfterItsEntries) {
  sweep_with_port_4_joining();
  auto add = table_request(kMgmtCmdAdd, {entry(7, {5}), entry(8, {6})}, 2);
  MgmtObject obj{add.data(), static_cast<uint16_t>(add.size())};
  module.mgmt_table(obj);
  EXPECT_EQ(res(add), 0u);
  expect_configured_7_and_8_and_lacp_9();
}

TEST_F(AggrTableWithPartner, ReadingTheBlockRestartsLacpPortsOnlyAfterItsEntries) {
  sweep_with_port_4_joining();
  uint8_t *block = conf_create(kConfBlockTable, kTableBlockSize);
  std::memset(block, 0, kTableBlockSize);
  le_store16(block, 2);
  le_store16(block + 2, kAggrEntrySize);
  encode_aggr_entry(entry(7, {5}), block + 4);
  encode_aggr_entry(entry(8, {6}), block + 4 + kAggrEntrySize);
  conf_close(kConfBlockTable);
  module.conf(false);
  expect_configured_7_and_8_and_lacp_9();
}

}  // namespace
