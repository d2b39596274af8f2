// The L2 module: static MAC table, its configuration blocks, ageing, management objects and the
// frame dispatch, on the in-process chip model.
#include "conf_file_image.h"
#include "l2_fixture.h"
#include "l2_mac.h"
#include "packet.h"
#include "swc_ll.h"
#include "swc_mac.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

L2MacEntry entry(uint32_t vid, std::initializer_list<uint8_t> mac, std::initializer_list<uint32_t> ports) {
  L2MacEntry e{};
  e.vid = vid;
  std::copy(mac.begin(), mac.end(), e.mac);
  for (uint32_t p : ports) e.member[p - 1] = 1;
  return e;
}

std::vector<uint8_t> record(const L2MacEntry &e) {
  std::vector<uint8_t> r(kL2MacRecordSize);
  l2_mac_record_store(r.data(), e);
  return r;
}

// An entry as the chip learns it from traffic: not locked, to one port.
void learn_from_traffic(uint32_t vid, std::initializer_list<uint8_t> mac, uint32_t port) {
  SwcMacEntry e{};
  e.vid_mac.vid = vid;
  std::copy(mac.begin(), mac.end(), e.vid_mac.mac);
  ASSERT_EQ(swc_ll_mac_table_learn(&e, port), 0);
}

bool in_chip(uint32_t vid, std::initializer_list<uint8_t> mac, SwcMacEntry *out = nullptr) {
  SwcVidMac key{};
  key.vid = vid;
  std::copy(mac.begin(), mac.end(), key.mac);
  SwcMacEntry e{};
  const bool found = swc_mac_table_lookup(&key, &e) == 0;
  if (out) *out = e;
  return found;
}

class L2Mac : public L2Fixture {};

TEST_F(L2Mac, DefaultsAreAgeTime300AndAnEmptyTable) {
  EXPECT_EQ(mac_age_time(), 300u);
  EXPECT_EQ(mac_config_count(), 0u);
  uint32_t size = 0;
  const uint8_t *block = conf_open(kL2MacConfTable, &size);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(size, 1284u);
  EXPECT_EQ(le_load16(block), 0u);
  EXPECT_EQ(le_load16(block + 2), 40u);
}

TEST_F(L2Mac, AddingTheSameKeyTwiceKeepsOneEntryWithTheSecondDestination) {
  ASSERT_EQ(mac_config_add(entry(1, {0, 1, 2, 3, 4, 5}, {2})), 0);
  ASSERT_EQ(mac_config_add(entry(1, {0, 1, 2, 3, 4, 7}, {2})), 1);
  EXPECT_EQ(mac_config_add(entry(1, {0, 1, 2, 3, 4, 5}, {4})), 0);
  EXPECT_EQ(mac_config_count(), 2u);
  SwcMacEntry chip{};
  ASSERT_TRUE(in_chip(1, {0, 1, 2, 3, 4, 5}, &chip));
  EXPECT_EQ(chip.destination[4], 1u);
  EXPECT_EQ(chip.destination[2], 0u);
  // The replaced entry gave its PGID reference back.
  EXPECT_EQ(state->pgid[2].references, 2u);
  EXPECT_EQ(state->pgid[4].references, 2u);
}

TEST_F(L2Mac, EntriesAreOrderedByVidFirst) {
  ASSERT_EQ(mac_config_add(entry(2, {0, 0, 0, 0, 0, 1}, {1})), 0);
  EXPECT_EQ(mac_config_add(entry(1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {1})), 0);
  L2MacEntry at{};
  ASSERT_EQ(mac_config_get(at, true), 0);
  EXPECT_EQ(at.vid, 1u);
  ASSERT_EQ(mac_config_get(at, false), 1);
  EXPECT_EQ(at.vid, 2u);
  EXPECT_EQ(mac_config_get(at, false), -1);
}

TEST_F(L2Mac, DeleteForgetsTheChipEntryAndUnknownKeysFail) {
  ASSERT_EQ(mac_config_add(entry(3, {0, 0, 0, 0, 3, 3}, {5})), 0);
  EXPECT_EQ(mac_config_del(entry(3, {0, 0, 0, 0, 3, 3}, {})), 0);
  EXPECT_FALSE(in_chip(3, {0, 0, 0, 0, 3, 3}));
  EXPECT_EQ(mac_config_del(entry(3, {0, 0, 0, 0, 3, 3}, {})), -1);
}

TEST_F(L2Mac, IllegalVidIsRefused) {
  EXPECT_EQ(mac_config_add(entry(4096, {0, 0, 0, 0, 0, 1}, {1})), -1);
  EXPECT_EQ(mac_config_count(), 0u);
}

TEST_F(L2Mac, FullTableRefusesInsertAndAdd) {
  // Keys in VLANs 2.. so that one below and one above all of them remain.
  for (uint32_t i = 0; i < kL2MacTableMax; ++i)
    mac_config_add(entry(2 + i / 256, {0x02, 0, 0, 0, 0, static_cast<uint8_t>(i)}, {1}));
  ASSERT_EQ(mac_config_count(), kL2MacTableMax);
  EXPECT_EQ(mac_config_add(entry(1, {0x02, 0, 0, 0, 0, 1}, {1})), -1);
  EXPECT_EQ(mac_config_add(entry(4000, {0x02, 0, 0, 0, 0, 1}, {1})), -1);
  EXPECT_EQ(mac_config_count(), kL2MacTableMax);
  // An existing key still updates.
  EXPECT_EQ(mac_config_add(entry(2, {0x02, 0, 0, 0, 0, 0}, {2})), 0);
}

TEST_F(L2Mac, OnlyTheFirst32EntriesSurviveARestart) {
  for (uint8_t i = 0; i < 40; ++i)
    request(4000, kMgmtCmdAdd, table(40, {record(entry(1, {0, 0, 0, 0, 9, i}, {3}))}));
  EXPECT_EQ(mac_config_count(), 40u);
  ASSERT_EQ(swc_mac_table_flush(), 0);
  l2_mac_init();
  restart();
  EXPECT_EQ(mac_config_count(), 32u);
  L2MacEntry last{};
  last.vid = 1;
  std::memcpy(last.mac, "\0\0\0\0\x09\xff", 6);
  L2MacEntry probe = last;
  probe.mac[5] = 31;
  EXPECT_EQ(mac_config_get(probe, true), 31);
  probe.mac[5] = 32;
  EXPECT_EQ(mac_config_get(probe, true), -1);
  EXPECT_TRUE(in_chip(1, {0, 0, 0, 0, 9, 31}));
}

TEST_F(L2Mac, ReadingTheBlockRemovesEntriesItLacks) {
  ASSERT_EQ(mac_config_add(entry(1, {0, 0, 0, 0, 1, 1}, {1})), 0);
  // Block 6 still holds no entry: reading it again drops the table's entry from the chip too.
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(mac_config_count(), 0u);
  EXPECT_FALSE(in_chip(1, {0, 0, 0, 0, 1, 1}));
}

TEST_F(L2Mac, ForeignTableBlockIsReadOnlyAsFarAsItReaches) {
  // A count far beyond the block, and then a foreign entry size.
  uint8_t *block = conf_create(kL2MacConfTable, 4 + 2 * 40);
  ASSERT_NE(block, nullptr);
  le_store16(block, 65535);
  le_store16(block + 2, 40);
  l2_mac_record_store(block + 4, entry(1, {0, 0, 0, 0, 2, 1}, {1}));
  l2_mac_record_store(block + 44, entry(1, {0, 0, 0, 0, 2, 2}, {1}));
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(mac_config_count(), 2u);
  le_store16(conf_open(kL2MacConfTable, nullptr) + 2, 44);
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(mac_config_count(), 0u);
}

// A static table block the next start cannot read is traced and replaced by the default block, in the
// store and in the file, so what is saved again is a table the daemon reads back.
TEST_F(L2Mac, DamagedTableBlockIsReplacedByTheDefaultBlockAtTheNextStart) {
  struct Damage {
    const char *name;
    void (*apply)(ConfFileImage &image);
  };
  const Damage damages[] = {
      {"foreign entry size", [](ConfFileImage &i) { le_store16(i.blocks[kL2MacConfTable].data() + 2, 44); }},
      {"shorter than its head", [](ConfFileImage &i) { i.blocks[kL2MacConfTable].resize(3); }},
      {"missing", [](ConfFileImage &i) { i.blocks.erase(kL2MacConfTable); }},
  };
  for (const Damage &damage : damages) {
    SCOPED_TRACE(damage.name);
    ASSERT_EQ(res(request(4000, kMgmtCmdAdd, table(40, {record(entry(1, {0, 0, 0, 0, 3, 1}, {2}))}))), 0u);
    ConfFileImage image = ConfFileImage::read();
    damage.apply(image);
    image.write();
    ASSERT_EQ(swc_mac_table_flush(), 0);
    restart();
    EXPECT_EQ(mac_config_count(), 0u);
    uint32_t size = 0;
    const uint8_t *block = conf_open(kL2MacConfTable, &size);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(size, 1284u);
    EXPECT_EQ(le_load16(block), 0u);
    EXPECT_EQ(le_load16(block + 2), 40u);
    EXPECT_EQ(ConfFileImage::read().blocks[kL2MacConfTable], std::vector<uint8_t>(block, block + size));
    ASSERT_EQ(res(request(4000, kMgmtCmdDel, table(40, {record(entry(1, {0, 0, 0, 0, 3, 1}, {2}))}))), 1u);
  }
}

TEST_F(L2Mac, DebugFlagLeavesTheConfigurationAlone) {
  ASSERT_EQ(mac_config_add(entry(1, {0, 0, 0, 0, 1, 1}, {1})), 0);
  process_state().debug_flags[kL2DebugDisableMac] = 1;
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(mac_config_count(), 1u);
}

TEST_F(L2Mac, ChipIsAgedEveryAgeTimeTicks) {
  request(4003, kMgmtCmdSet, {2, 0, 0, 0});
  learn_from_traffic(1, {0, 0, 0, 0, 5, 5}, 2);
  run_timers(1000);  // two ticks: the first ageing marks the entry
  EXPECT_TRUE(in_chip(1, {0, 0, 0, 0, 5, 5}));
  run_timers(1000);  // two more: the second ageing removes it
  EXPECT_FALSE(in_chip(1, {0, 0, 0, 0, 5, 5}));
}

TEST_F(L2Mac, AgeTimeZeroNeverAges) {
  request(4003, kMgmtCmdSet, {0, 0, 0, 0});
  learn_from_traffic(1, {0, 0, 0, 0, 5, 6}, 2);
  run_timers(60000);
  EXPECT_TRUE(in_chip(1, {0, 0, 0, 0, 5, 6}));
}

TEST_F(L2Mac, FlushFdbForgetsByPortVlanOrBoth) {
  learn_from_traffic(1, {0, 0, 0, 0, 0, 1}, 1);
  learn_from_traffic(2, {0, 0, 0, 0, 0, 2}, 1);
  learn_from_traffic(2, {0, 0, 0, 0, 0, 3}, 3);
  learn_from_traffic(4, {0, 0, 0, 0, 0, 4}, 4);
  ASSERT_EQ(swc_os_flush_fdb(1, 1, 1, 2), 0);
  EXPECT_TRUE(in_chip(1, {0, 0, 0, 0, 0, 1}));
  EXPECT_FALSE(in_chip(2, {0, 0, 0, 0, 0, 2}));
  ASSERT_EQ(swc_os_flush_fdb(0, 0, 1, 2), 0);
  EXPECT_FALSE(in_chip(2, {0, 0, 0, 0, 0, 3}));
  ASSERT_EQ(swc_os_flush_fdb(1, 1, 0, 0), 0);
  EXPECT_FALSE(in_chip(1, {0, 0, 0, 0, 0, 1}));
  EXPECT_TRUE(in_chip(4, {0, 0, 0, 0, 0, 4}));
  EXPECT_LT(swc_os_flush_fdb(0, 0, 0, 0), 0);
}

class L2MacObjects : public L2Fixture {};

TEST_F(L2MacObjects, StaticTableAddWalkAndDelete) {
  auto reply = request(
      4000, kMgmtCmdAdd,
      table(40, {record(entry(7, {0, 0, 0, 0, 0, 2}, {1, 6})), record(entry(7, {0, 0, 0, 0, 0, 1}, {2}))}));
  EXPECT_EQ(res(reply), 0u);
  // The block holds both, in key order.
  const uint8_t *block = conf_open(kL2MacConfTable, nullptr);
  EXPECT_EQ(le_load16(block), 2u);
  EXPECT_EQ(block[4 + 9], 1);
  // Walk from the lowest key, asking for three: two come back.
  reply = request(4000, kMgmtCmdGet, table(40, {record(entry(0, {}, {})), record({}), record({})}));
  EXPECT_EQ(res(reply), 0u);
  ASSERT_EQ(count(reply), 2u);
  L2MacEntry first{}, second{};
  l2_mac_record_load(&reply[20], first);
  l2_mac_record_load(&reply[60], second);
  EXPECT_EQ(first.mac[5], 1);
  EXPECT_EQ(first.member[1], 1u);
  EXPECT_EQ(second.mac[5], 2);
  EXPECT_EQ(second.member[5], 1u);
  // The first key itself is included when it exists.
  reply = request(4000, kMgmtCmdGet, table(40, {record(entry(7, {0, 0, 0, 0, 0, 2}, {}))}));
  EXPECT_EQ(count(reply), 1u);
  EXPECT_EQ(reply[20 + 9], 2);
  reply = request(4000, kMgmtCmdDel, table(40, {record(entry(7, {0, 0, 0, 0, 0, 1}, {}))}));
  EXPECT_EQ(res(reply), 0u);
  EXPECT_EQ(mac_config_count(), 1u);
  reply = request(4000, kMgmtCmdDel, table(40, {record(entry(7, {0, 0, 0, 0, 0, 1}, {}))}));
  EXPECT_EQ(res(reply), 1u);
  EXPECT_EQ(res(request(4000, kMgmtCmdSet, table(40, {}))), 1u);
}

TEST_F(L2MacObjects, BadTablesAndVidsAreRefused) {
  EXPECT_EQ(res(request(4000, kMgmtCmdAdd, table(39, {std::vector<uint8_t>(39)}))), 1u);
  auto data = table(40, {record(entry(1, {0, 0, 0, 0, 0, 1}, {1}))});
  le_store16(&data[0], 2);  // count larger than the entries sent
  EXPECT_EQ(res(request(4000, kMgmtCmdAdd, data)), 1u);
  EXPECT_EQ(res(request(4000, kMgmtCmdAdd, table(40, {record(entry(5000, {0, 0, 0, 0, 0, 1}, {1}))}))), 1u);
  EXPECT_EQ(mac_config_count(), 0u);
  EXPECT_EQ(res(request(4001, kMgmtCmdGet,
                        table(44, std::vector<std::vector<uint8_t>>(129, std::vector<uint8_t>(44))))),
            1u);
}

TEST_F(L2MacObjects, StatusListsChipEntriesFromTheKeyInOrder) {
  ASSERT_EQ(mac_config_add(entry(3, {0, 0, 0, 0, 0, 9}, {4})), 0);
  learn_from_traffic(3, {0, 0, 0, 0, 0, 5}, 2);
  learn_from_traffic(1, {0, 0, 0, 0, 0, 7}, 6);
  learn_from_traffic(3, {0, 0, 0, 0, 0, 1}, 1);
  std::vector<uint8_t> key(44, 0);
  le_store32(&key[0], 3);
  key[9] = 2;
  auto reply =
      request(4001, kMgmtCmdGet, table(44, {key, std::vector<uint8_t>(44), std::vector<uint8_t>(44)}));
  EXPECT_EQ(res(reply), 0u);
  ASSERT_EQ(count(reply), 2u);
  EXPECT_EQ(reply[20 + 9], 5);
  EXPECT_EQ(le_load32(&reply[20 + 12 + 4 * 2]), 1u);  // destination port 2
  EXPECT_EQ(le_load32(&reply[20 + 40]), 2u);          // learned
  EXPECT_EQ(reply[64 + 9], 9);
  EXPECT_EQ(le_load32(&reply[64 + 12 + 4 * 4]), 1u);
  EXPECT_EQ(le_load32(&reply[64 + 40]), 1u);  // static
  // Asking for one keeps only the smallest.
  reply = request(4001, kMgmtCmdGet, table(44, {std::vector<uint8_t>(44)}));
  ASSERT_EQ(count(reply), 1u);
  EXPECT_EQ(le_load32(&reply[20]), 1u);
}

// The status and learned-count objects read the whole chip table in runs; the chip still sees the
// accesses of one read per index, in index order (here recorded by the in-process back end).
TEST_F(L2MacObjects, TableReadsMakeTheAccessesOfOneReadPerIndex) {
  learn_from_traffic(1, {0, 0, 0, 0, 0, 7}, 6);
  learn_from_traffic(3, {0, 0, 0, 0, 0, 1}, 1);
  swgenio_clear_recorded();
  for (uint32_t idx = 1; idx <= kSwcMacTableSize; ++idx) {
    SwcMacEntry e{};
    swc_mac_table_read(idx, &e);
  }
  const auto one_per_index = accesses();
  swgenio_clear_recorded();
  const auto reply = request(4001, kMgmtCmdGet, table(44, {std::vector<uint8_t>(44)}));
  ASSERT_EQ(count(reply), 1u);
  EXPECT_EQ(accesses(), one_per_index) << "status";
  swgenio_clear_recorded();
  EXPECT_EQ(res(request(4016, kMgmtCmdGet, std::vector<uint8_t>(28))), 0u);
  EXPECT_EQ(accesses(), one_per_index) << "learned counts";
}

// A status record's key (VID and address) for the chip model's entry at table index 1..8192.
std::vector<uint8_t> status_key_at(const swchip::ChipModel &chip, uint32_t idx) {
  const swchip::MacEntry &e = chip.mac_entry(idx - 1);
  std::vector<uint8_t> key(44, 0);
  le_store32(&key[0], e.high >> 16 & 0xFFF);
  const uint8_t mac[6] = {static_cast<uint8_t>(e.high >> 8), static_cast<uint8_t>(e.high),
                          static_cast<uint8_t>(e.low >> 24), static_cast<uint8_t>(e.low >> 16),
                          static_cast<uint8_t>(e.low >> 8),  static_cast<uint8_t>(e.low)};
  std::copy(std::begin(mac), std::end(mac), key.begin() + 4);
  return key;
}

// The chip fails every read of table indexes 257..320, one script's worth in the second run of 256, at
// its first access: those indexes alone go missing from the status and the learned counts, not the
// rest of their run.
TEST_F(L2MacObjects, ReadsThatFailForOneBatchLoseOnlyItsIndexes) {
  ASSERT_EQ(chip.learn_addresses(1, 1, 0x020000000000, kSwcMacTableSize), kSwcMacTableSize);
  constexpr uint32_t kFirstFailed = 257, kLastFailed = 320;
  swgenio_attach_in_process([this](uint32_t code, std::span<uint8_t> record) {
    const chipreg::Reg r = chipreg::kAnaMacIndex;
    const bool index_write = code == swgenio::kCpldSpiReadWrite && (record[4] & swgenio::kSpiWriteFlag) &&
                             (record[4] >> 5) == r.block && (record[4] & 15) == r.subblock &&
                             record[5] == r.reg;
    const uint32_t word =
        uint32_t{record[6]} << 24 | uint32_t{record[7]} << 16 | uint32_t{record[8]} << 8 | record[9];
    const uint32_t idx = ((word & 0x7FF) << 2 | (word >> 11 & 3)) + 1;
    const bool by_index = (word & chipreg::kMacIndexLookup) == 0;
    if (index_write && by_index && idx >= kFirstFailed && idx <= kLastFailed) return -EIO;
    return handle(code, record);
  });

  const auto counts = request(4016, kMgmtCmdGet, std::vector<uint8_t>(28, 0xEE));
  EXPECT_EQ(res(counts), 0u);
  EXPECT_EQ(le_load32(&counts[16 + 4 * 2]), kSwcMacTableSize - (kLastFailed - kFirstFailed + 1))
      << "learned on chip port 1, which is port 2";

  // The entry just after the failed indexes, in the same run, is listed from its own key on; the
  // entry at the first failed index is not read, so the list from its key starts with another one.
  const auto kept = status_key_at(chip, kLastFailed + 1);
  auto reply = request(4001, kMgmtCmdGet, table(44, {kept}));
  EXPECT_EQ(res(reply), 0u);
  ASSERT_EQ(count(reply), 1u);
  EXPECT_TRUE(std::equal(kept.begin(), kept.begin() + 10, reply.begin() + 20));
  const auto lost = status_key_at(chip, kFirstFailed);
  reply = request(4001, kMgmtCmdGet, table(44, {lost}));
  ASSERT_EQ(count(reply), 1u);
  EXPECT_FALSE(std::equal(lost.begin(), lost.begin() + 10, reply.begin() + 20));
}

TEST_F(L2MacObjects, FlushAgeTimeAndLearnedCounts) {
  ASSERT_EQ(mac_config_add(entry(1, {0, 0, 0, 0, 0, 9}, {2})), 0);
  learn_from_traffic(1, {0, 0, 0, 0, 0, 1}, 2);
  learn_from_traffic(1, {0, 0, 0, 0, 0, 2}, 2);
  learn_from_traffic(1, {0, 0, 0, 0, 0, 3}, 5);
  auto reply = request(4016, kMgmtCmdGet, std::vector<uint8_t>(28, 0xEE));
  EXPECT_EQ(res(reply), 0u);
  EXPECT_EQ(le_load32(&reply[16]), 0u);
  EXPECT_EQ(le_load32(&reply[16 + 8]), 2u);
  EXPECT_EQ(le_load32(&reply[16 + 20]), 1u);
  EXPECT_EQ(res(request(4016, kMgmtCmdGet, std::vector<uint8_t>(27))), 1u);

  EXPECT_EQ(res(request(4002, kMgmtCmdSet, {1, 0, 0, 0})), 1u);
  EXPECT_EQ(res(request(4002, kMgmtCmdGet, {0, 0, 0, 0})), 1u);
  EXPECT_EQ(res(request(4002, kMgmtCmdSet, {0, 0, 0, 0})), 0u);
  EXPECT_FALSE(in_chip(1, {0, 0, 0, 0, 0, 1}));
  EXPECT_TRUE(in_chip(1, {0, 0, 0, 0, 0, 9}));

  reply = request(4003, kMgmtCmdSet, {0x2C, 0x01, 0, 0});
  EXPECT_EQ(res(reply), 0u);
  EXPECT_EQ(le_load32(conf_open(kL2MacConfGeneral, nullptr)), 300u);
  reply = request(4003, kMgmtCmdGet, {0, 0, 0, 0});
  EXPECT_EQ(le_load32(&reply[16]), 300u);
  EXPECT_EQ(res(request(4003, kMgmtCmdGet, {})), 1u);
}

TEST_F(L2MacObjects, IdsWithoutHandlerAnswerTwo) {
  EXPECT_EQ(res(request(4014, kMgmtCmdGet, {})), 2u);
  EXPECT_EQ(res(request(4015, kMgmtCmdGet, {})), 2u);
  EXPECT_EQ(res(request(4999, kMgmtCmdGet, {})), 2u);
}

class L2Dispatch : public L2Fixture {
 protected:
  static std::vector<uint8_t> frame(uint8_t last, uint16_t type, size_t length) {
    std::vector<uint8_t> f(length, 0);
    const uint8_t prefix[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, last};
    std::copy(prefix, prefix + std::min<size_t>(6, length), f.begin());
    if (length >= 14) {
      f[12] = static_cast<uint8_t>(type >> 8);
      f[13] = static_cast<uint8_t>(type);
    }
    return f;
  }
  static std::vector<uint8_t> bpdu(size_t length) {
    auto f = frame(0x00, 0x0026, length);
    const uint8_t llc[5] = {0x42, 0x42, 0x03, 0x00, 0x00};
    for (size_t i = 0; i < 5 && 14 + i < length; ++i) f[14 + i] = llc[i];
    return f;
  }
  static void record_frame(uint32_t port, const uint8_t *, uint32_t length) {
    got_port = port;
    got_length = length;
  }
  static inline uint32_t got_port = 0, got_length = 0;
};

TEST_F(L2Dispatch, FramesReachTheirEngineByAddressAndTest) {
  EXPECT_EQ(l2_frame_classify(frame(0x02, 0x8809, 60).data(), 60), kL2FrameLacp);
  EXPECT_EQ(l2_frame_classify(bpdu(20).data(), 20), kL2FrameRstp);
  EXPECT_EQ(l2_frame_classify(frame(0x03, 0x888E, 15).data(), 15), kL2FrameDot1x);
  // A header without a body still goes to its engine, which counts it as malformed.
  EXPECT_EQ(l2_frame_classify(frame(0x02, 0x8809, 14).data(), 14), kL2FrameLacp);
  EXPECT_EQ(l2_frame_classify(frame(0x03, 0x888E, 14).data(), 14), kL2FrameDot1x);
  l2_frame_receiver_set(kL2FrameRstp, record_frame);
  auto f = bpdu(35);
  EXPECT_TRUE(l2_frame_dispatch(4, f.data(), f.size()));
  EXPECT_EQ(got_port, 4u);
  EXPECT_EQ(got_length, 35u);
}

TEST_F(L2Dispatch, ShortOrForeignFramesAreDropped) {
  EXPECT_EQ(l2_frame_classify(bpdu(19).data(), 19), kL2FrameOther);
  EXPECT_EQ(l2_frame_classify(frame(0x02, 0x0800, 60).data(), 60), kL2FrameOther);
  EXPECT_EQ(l2_frame_classify(frame(0x02, 0x8809, 13).data(), 13), kL2FrameOther);
  EXPECT_EQ(l2_frame_classify(frame(0x03, 0x888E, 13).data(), 13), kL2FrameOther);
  EXPECT_EQ(l2_frame_classify(frame(0x03, 0x8809, 60).data(), 60), kL2FrameOther);
  EXPECT_EQ(l2_frame_classify(frame(0x02, 0, 3).data(), 3), kL2FrameOther);
  EXPECT_EQ(l2_frame_classify(nullptr, 0), kL2FrameOther);
  // A class whose engine is not there is dropped too.
  auto f = frame(0x02, 0x8809, 60);
  EXPECT_FALSE(l2_frame_dispatch(1, f.data(), f.size()));
}

TEST_F(L2Dispatch, CpuFramesReachTheirEngineThroughThePacketPathAndBuffersComeBack) {
  packet_buffer_init();
  l2_frame_receiver_set(kL2FrameRstp, record_frame);
  ASSERT_TRUE(chip.inject_cpu_frame(1, 3, bpdu(60), 0));                 // chip port 3: port 4
  ASSERT_TRUE(chip.inject_cpu_frame(2, 0, frame(0x02, 0x8809, 60), 0));  // no LACP engine: dropped
  packet_poll();
  got_port = 0;
  packet_queue();
  EXPECT_EQ(got_port, 4u);
  EXPECT_EQ(got_length, 60u);
  const PacketStats stats = packet_stats_get();
  EXPECT_EQ(stats.free[0], kPacketSmallCount);
  EXPECT_EQ(stats.rx_list, 0u);
}

}  // namespace
