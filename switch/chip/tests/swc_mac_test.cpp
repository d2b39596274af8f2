// The MAC table API and its sorted shadow, and the PGID allocator, against the in-process chip model.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <tuple>
#include <vector>

#include "chip_fixture.h"
#include "chip_regs.h"
#include "swc_groups.h"
#include "swc_ll.h"
#include "swc_mac.h"

namespace {

using Key = std::tuple<uint32_t, std::vector<uint8_t>>;

SwcVidMac vm(uint32_t vid, std::initializer_list<uint8_t> mac) {
  SwcVidMac k{};
  k.vid = vid;
  std::copy(mac.begin(), mac.end(), k.mac);
  return k;
}

SwcMacEntry static_entry(const SwcVidMac &key, std::initializer_list<uint32_t> ports) {
  SwcMacEntry e{};
  e.vid_mac = key;
  for (uint32_t p : ports) e.destination[p] = 1;
  e.locked = 1;
  return e;
}

Key key_of(const SwcVidMac &k) {
  return {k.vid, std::vector<uint8_t>(k.mac, k.mac + 6)};
}

class MacTable : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    map_board_ports();
  }

  // Runs optimiser steps until a whole pass is over.
  void full_pass() {
    ASSERT_EQ(swc_mac_table_optimize(), 0);
    for (int step = 1; step < 8; ++step) {
      ASSERT_NE(state->mac_walk_position, 0u);
      ASSERT_EQ(swc_mac_table_optimize(), 0);
    }
    ASSERT_EQ(state->mac_walk_position, 0u);
  }

  // Every key of a get-next walk from the lowest key on.
  std::vector<Key> walk() {
    std::vector<Key> keys;
    SwcVidMac at{};
    SwcMacEntry e{};
    while (swc_mac_table_get_next(&at, &e) == 0) {
      keys.push_back(key_of(e.vid_mac));
      at = e.vid_mac;
    }
    return keys;
  }

  void learn(const SwcVidMac &key, std::initializer_list<uint32_t> ports) {
    const SwcMacEntry e = static_entry(key, ports);
    ASSERT_EQ(swc_mac_table_learn(&e), 0);
  }
};

TEST_F(MacTable, EmptyShadowEndsTheWalkAtOnce) {
  SwcVidMac at{};
  SwcMacEntry e{};
  EXPECT_EQ(swc_mac_table_get_next(&at, &e), kSwcRcNotFound);
}

TEST_F(MacTable, LearnedEntryIsFoundAtOnceButWalkedOnlyAfterThePass) {
  const SwcVidMac key = vm(5, {0x00, 0x10, 0x20, 0x30, 0x40, 0x50});
  learn(key, {3});
  SwcMacEntry e{};
  ASSERT_EQ(swc_mac_table_lookup(&key, &e), 0);
  EXPECT_EQ(e.destination[3], 1u);
  EXPECT_EQ(e.destination[2], 0u);
  EXPECT_EQ(e.locked, 1u);
  EXPECT_TRUE(walk().empty());
  full_pass();
  EXPECT_EQ(walk(), std::vector<Key>{key_of(key)});
}

TEST_F(MacTable, WalkReturnsEveryEntryInVidThenMacOrder) {
  // Enough entries for several index points (one per 128 list elements), spread over all blocks.
  std::set<Key> expected;
  for (uint32_t i = 0; i < 600; ++i) {
    const SwcVidMac key = vm(1 + i % 3, {0x02, static_cast<uint8_t>(i * 37), static_cast<uint8_t>(i >> 3),
                                         static_cast<uint8_t>(i * 11), 0x5A, static_cast<uint8_t>(i)});
    learn(key, {1 + i % 6});
    expected.insert(key_of(key));
  }
  full_pass();
  EXPECT_GT(state->mac_index_count, 1u);
  EXPECT_EQ(walk(), std::vector<Key>(expected.begin(), expected.end()));
  // A walk may start between keys: the next key is the first above the given one.
  const auto middle = std::next(expected.begin(), 300);
  SwcVidMac at = vm(std::get<0>(*middle), {});
  std::copy(std::get<1>(*middle).begin(), std::get<1>(*middle).end(), at.mac);
  SwcMacEntry e{};
  ASSERT_EQ(swc_mac_table_get_next(&at, &e), 0);
  EXPECT_EQ(key_of(e.vid_mac), *std::next(middle));
}

TEST_F(MacTable, VidOrdersBeforeMac) {
  learn(vm(2, {0, 0, 0, 0, 0, 1}), {1});
  learn(vm(1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}), {1});
  full_pass();
  const std::vector<Key> keys = walk();
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(std::get<0>(keys[0]), 1u);
  EXPECT_EQ(std::get<0>(keys[1]), 2u);
}

TEST_F(MacTable, EntryDroppedByTheChipSinceThePassIsSkipped) {
  const SwcVidMac a = vm(1, {0, 0, 0, 0, 0, 1}), b = vm(1, {0, 0, 0, 0, 0, 2}), c = vm(1, {0, 0, 0, 0, 0, 3});
  learn(a, {1});
  learn(b, {2});
  learn(c, {3});
  full_pass();
  // Unlearned behind the API's back: the shadow still names it.
  ASSERT_EQ(swc_ll_mac_table_forget_vid_mac(&b), 0);
  SwcMacEntry e{};
  ASSERT_EQ(swc_mac_table_get_next(&a, &e), 0);
  EXPECT_EQ(key_of(e.vid_mac), key_of(c));
}

TEST_F(MacTable, ForgottenEntryLeavesTheShadowAtTheNextPass) {
  const SwcVidMac a = vm(1, {0, 0, 0, 0, 0, 1}), b = vm(1, {0, 0, 0, 0, 0, 2});
  learn(a, {1});
  learn(b, {2});
  full_pass();
  ASSERT_EQ(swc_mac_table_forget_vid_mac(&a), 0);
  full_pass();
  EXPECT_EQ(walk(), std::vector<Key>{key_of(b)});
  // Every element is back on one of the two lists.
  uint32_t listed = 0;
  for (uint32_t p = state->mac_free_head; p != kSwcMacNone; p = state->mac_shadow[p].next) ++listed;
  for (uint32_t p = state->mac_sorted_head; p != kSwcMacNone; p = state->mac_shadow[p].next) ++listed;
  EXPECT_EQ(listed, kSwcMacTableSize);
}

TEST_F(MacTable, PassWithoutEventsReadsNothing) {
  learn(vm(1, {0, 0, 0, 0, 0, 1}), {1});
  full_pass();
  swgenio_clear_recorded();
  ASSERT_EQ(swc_mac_table_optimize(), 0);
  EXPECT_EQ(state->mac_walk_position, 0u);
  // Only the event register: read, then the write that clears what was read.
  const auto recorded = accesses();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].reg, 0x0Au);
  EXPECT_EQ(recorded[1].reg, 0x0Au);
}

// The rebuild reads its block in runs; every back end still sees the accesses of one read per index,
// in index order: here the in-process back end, which records each of them.
TEST_F(MacTable, RebuildStepMakesTheAccessesOfOneReadPerIndex) {
  learn(vm(1, {0, 0, 0, 0, 0, 1}), {1});
  learn(vm(2, {0, 0, 0, 0, 0, 2}), {2});
  swgenio_clear_recorded();
  ASSERT_EQ(swc_mac_table_optimize(), 0);
  auto step = accesses();
  // The step starts with the event register (read, then the write that clears what was read).
  ASSERT_GT(step.size(), 2u);
  step.erase(step.begin(), step.begin() + 2);
  swgenio_clear_recorded();
  for (uint32_t index = 1; index <= kSwcMacBlockSize; ++index) {
    SwcMacEntry entry{};
    uint32_t pgid = 0;
    swc_ll_mac_table_read(index, &entry, &pgid);
  }
  EXPECT_EQ(step, accesses());
}

TEST_F(MacTable, StateThatWasNeverInitialisedIsNotWalked) {
  learn(vm(1, {0, 0, 0, 0, 0, 1}), {1});
  state->mac_sorted_head = state->mac_free_head = 0;
  state->mac_shadow[0].next = 0;
  EXPECT_EQ(swc_mac_table_optimize(), kSwcRcNotNow);
}

TEST_F(MacTable, StaticUnicastEntrySharesThePortPgid) {
  const SwcVidMac key = vm(1, {0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE});
  learn(key, {3});
  EXPECT_EQ(state->pgid[3].references, 2u);
  EXPECT_EQ(state->pgid[9].references, 0u);
  // Learning the same key again forgets the old entry first: still one reference for it.
  learn(key, {3});
  EXPECT_EQ(state->pgid[3].references, 2u);
  ASSERT_EQ(swc_mac_table_forget_vid_mac(&key), 0);
  EXPECT_EQ(state->pgid[3].references, 1u);
  EXPECT_EQ(swc_mac_table_forget_vid_mac(&key), kSwcRcNotFound);
}

TEST_F(MacTable, EntryToSeveralPortsTakesANewPgidSharedByEqualSets) {
  learn(vm(1, {0, 1, 2, 3, 4, 5}), {1, 4});
  learn(vm(1, {0, 1, 2, 3, 4, 6}), {1, 4});
  EXPECT_EQ(state->pgid[9].references, 2u);
  EXPECT_EQ(state->pgid[9].member[1], 1u);
  EXPECT_EQ(state->pgid[9].member[4], 1u);
  // The chip got the destination mask of chip ports 0 and 3.
  EXPECT_EQ(chip.peek(2, 0, 0x40 + 9), 0x9u);
  SwcMacEntry e{};
  const SwcVidMac key = vm(1, {0, 1, 2, 3, 4, 5});
  ASSERT_EQ(swc_mac_table_lookup(&key, &e), 0);
  EXPECT_EQ(e.destination[1], 1u);
  EXPECT_EQ(e.destination[4], 1u);
  EXPECT_EQ(e.destination[2], 0u);
}

TEST_F(MacTable, Ipv4MulticastEntryUsesPgidZeroAndAllocatesNothing) {
  const SwcVidMac key = vm(1, {0x01, 0x00, 0x5E, 0x01, 0x02, 0x03});
  learn(key, {2, 5});
  for (uint32_t n = 9; n < kSwcPgids; ++n) EXPECT_EQ(state->pgid[n].references, 0u);
  std::memset(state->pgid[0].member, 0, sizeof state->pgid[0].member);
  SwcMacEntry e{};
  ASSERT_EQ(swc_mac_table_lookup(&key, &e), 0);
  EXPECT_EQ(std::memcmp(e.vid_mac.mac, key.mac, 6), 0);
  EXPECT_EQ(e.destination[2], 1u);
  EXPECT_EQ(e.destination[5], 1u);
  EXPECT_EQ(e.destination[1], 0u);
  ASSERT_EQ(swc_mac_table_forget_vid_mac(&key), 0);
}

TEST_F(MacTable, AggregationGetsTheFlagOfItsLowestMember) {
  state->port_to_poag[2] = 7;
  state->port_to_poag[5] = 7;
  const SwcVidMac key = vm(1, {0, 0, 0, 0, 7, 7});
  learn(key, {2});
  SwcMacEntry e{};
  ASSERT_EQ(swc_mac_table_lookup(&key, &e), 0);
  EXPECT_EQ(e.destination[7], 1u);
}

TEST_F(MacTable, StatusReportsEachEventOnceAndLeavesOthersAlone) {
  learn(vm(1, {0, 0, 0, 0, 0, 1}), {1});
  uint32_t status[4] = {0, 7, 7, 7};
  ASSERT_EQ(swc_mac_table_status_get(status), 0);
  EXPECT_EQ(status[0], 1u);
  EXPECT_EQ(status[1], 7u);  // not raised: left as the caller had it
  uint32_t again[4] = {};
  ASSERT_EQ(swc_mac_table_status_get(again), 0);
  EXPECT_EQ(again[0], 0u);
}

TEST_F(MacTable, ChipAgeingRemovesLearnedButNotStaticEntries) {
  const SwcVidMac key = vm(1, {0, 0, 0, 0, 0, 9});
  learn(key, {4});
  ASSERT_EQ(swc_mac_table_age(), 0);
  ASSERT_EQ(swc_mac_table_age(), 0);
  SwcMacEntry e{};
  EXPECT_EQ(swc_mac_table_lookup(&key, &e), 0);
  ASSERT_EQ(swc_mac_table_flush(), 0);
  EXPECT_EQ(swc_mac_table_lookup(&key, &e), 0);
}

TEST_F(MacTable, FullBucketRefusesTheFifthStaticEntryAndKeepsNoReference) {
  // Five keys of one hash bucket (four entries each).
  std::vector<SwcVidMac> keys;
  const SwcVidMac first = vm(1, {0x00, 0x22, 0x33, 0x44, 0x00, 0x00});
  const unsigned bucket = swchip::ChipModel::mac_bucket(1, first.mac);
  for (uint32_t low = 0; keys.size() < 5 && low < 0x10000; ++low) {
    SwcVidMac k = first;
    k.mac[4] = static_cast<uint8_t>(low >> 8);
    k.mac[5] = static_cast<uint8_t>(low);
    if (swchip::ChipModel::mac_bucket(1, k.mac) == bucket) keys.push_back(k);
  }
  ASSERT_EQ(keys.size(), 5u);
  for (int i = 0; i < 4; ++i) learn(keys[i], {6});
  EXPECT_EQ(state->pgid[6].references, 5u);
  const SwcMacEntry fifth = static_entry(keys[4], {6});
  EXPECT_EQ(swc_mac_table_learn(&fifth), kSwcRcNotNow);
  EXPECT_EQ(state->pgid[6].references, 5u);
  SwcMacEntry e{};
  EXPECT_EQ(swc_mac_table_lookup(&keys[4], &e), kSwcRcNotFound);
}

// The chip takes the static entry, but the look-up that confirms it fails: the entry stays locked in
// the chip with its PGID, so the PGID keeps its reference until the entry is forgotten.
TEST_F(MacTable, EntryWhoseConfirmingLookupFailsKeepsItsPgidUntilForgotten) {
  bool learned = false, failed = false;
  swgenio_attach_in_process([&](uint32_t code, std::span<uint8_t> record) {
    const bool spi_write = code == swgenio::kCpldSpiReadWrite && (record[4] & swgenio::kSpiWriteFlag);
    const auto writes = [&](chipreg::Reg r) {
      return spi_write && (record[4] >> 5) == r.block && (record[4] & 15) == r.subblock && record[5] == r.reg;
    };
    if (writes(chipreg::kAnaMacCommand) && (record[9] & 7) == chipreg::kMacCmdLearn) learned = true;
    if (learned && !failed && writes(chipreg::kAnaMacIndex)) {
      failed = true;
      return -EIO;
    }
    return handle(code, record);
  });
  const SwcVidMac first = vm(1, {0, 1, 2, 3, 4, 5});
  const SwcMacEntry entry = static_entry(first, {1, 4});
  EXPECT_LT(swc_mac_table_learn(&entry), 0);
  ASSERT_TRUE(failed);
  EXPECT_EQ(state->pgid[9].references, 1u);

  // Another set must not take over the PGID the chip's entry still points to.
  const SwcVidMac second = vm(1, {0, 1, 2, 3, 4, 6});
  learn(second, {2, 5});
  EXPECT_EQ(chip.peek(2, 0, 0x40 + 9), 0x9u) << "the first entry's ports, chip ports 0 and 3";
  SwcMacEntry e{};
  ASSERT_EQ(swc_mac_table_lookup(&first, &e), 0);
  EXPECT_EQ(e.destination[1], 1u);
  EXPECT_EQ(e.destination[4], 1u);
  EXPECT_EQ(e.destination[2], 0u);

  // Forgetting each entry drops exactly its own reference.
  ASSERT_EQ(swc_mac_table_forget_vid_mac(&first), 0);
  EXPECT_EQ(state->pgid[9].references, 0u);
  EXPECT_EQ(state->pgid[10].references, 1u);
  ASSERT_EQ(swc_mac_table_forget_vid_mac(&second), 0);
  EXPECT_EQ(state->pgid[10].references, 0u);
}

TEST_F(MacTable, IllegalArgumentsAreRefusedBeforeTheChip) {
  const SwcVidMac key = vm(4096, {0, 0, 0, 0, 0, 1});
  const SwcMacEntry e = static_entry(key, {1});
  EXPECT_EQ(swc_mac_table_learn(&e), kSwcRcIllegal);
  EXPECT_EQ(swc_mac_table_forget_vlan(4096), kSwcRcIllegal);
  EXPECT_EQ(swc_mac_table_forget_port(7), kSwcRcIllegal);
  EXPECT_EQ(swc_mac_table_forget_port_in_vlan(0, 1), kSwcRcIllegal);
  EXPECT_TRUE(accesses().empty());
  SwcMacEntry out{};
  EXPECT_EQ(swc_mac_table_read(0, &out), kSwcRcIllegal);
  EXPECT_EQ(swc_mac_table_read(8193, &out), kSwcRcIllegal);
  EXPECT_EQ(swc_mac_table_read(8192, &out), kSwcRcNotFound);
}

class Pgids : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    map_board_ports();
  }
  static std::vector<uint32_t> set_of(std::initializer_list<uint32_t> poags) {
    std::vector<uint32_t> m(kSwcPoagSlots, 0);
    for (uint32_t p : poags) m[p] = 1;
    return m;
  }
};

TEST_F(Pgids, EqualSetsShareAndFreeingCountsDown) {
  const auto m = set_of({1, 3});
  uint32_t a = 0, b = 0;
  ASSERT_EQ(swc_pgid_alloc(&a, 0, m.data()), 0);
  ASSERT_EQ(swc_pgid_alloc(&b, 0, m.data()), 0);
  EXPECT_EQ(a, 9u);
  EXPECT_EQ(b, a);
  EXPECT_EQ(state->pgid[a].references, 2u);
  EXPECT_EQ(swc_pgid_free(a), 0);
  EXPECT_EQ(swc_pgid_free(a), 0);
  EXPECT_EQ(swc_pgid_free(a), kSwcRcIllegal);
}

TEST_F(Pgids, ExclusiveRequestTakesItsOwnPgid) {
  const auto m = set_of({1, 3});
  uint32_t a = 0, b = 0;
  ASSERT_EQ(swc_pgid_alloc(&a, 0, m.data()), 0);
  ASSERT_EQ(swc_pgid_alloc(&b, 1, m.data()), 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(state->pgid[b].exclusive, 1u);
}

TEST_F(Pgids, FloodSetReusesTheReservedFloodPgid) {
  const auto all = set_of({1, 2, 3, 4, 5, 6, 7, 8, 9});
  uint32_t n = 0;
  ASSERT_EQ(swc_pgid_alloc(&n, 0, all.data()), 0);
  EXPECT_EQ(n, 8u);
}

TEST_F(Pgids, ExhaustedTableRefusesAndStaticLearnFailsWithNotNow) {
  for (uint32_t i = 9; i < kSwcPgids; ++i) {
    uint32_t n = 0;
    ASSERT_EQ(swc_pgid_alloc(&n, 1, set_of({1}).data()), 0);
  }
  uint32_t n = 0;
  EXPECT_EQ(swc_pgid_alloc(&n, 1, set_of({2}).data()), kSwcRcNotFound);
  const SwcMacEntry e = static_entry(vm(1, {0, 0, 0, 0, 1, 1}), {1, 2});
  EXPECT_EQ(swc_mac_table_learn(&e), kSwcRcNotNow);
}

TEST_F(Pgids, ReservedPgidsAreNeverReleased) {
  EXPECT_EQ(swc_pgid_free(3), kSwcRcIllegal);
  EXPECT_EQ(state->pgid[3].references, 1u);
  EXPECT_EQ(swc_pgid_free(0), kSwcRcIllegal);
  EXPECT_EQ(swc_pgid_free(64), kSwcRcIllegal);
}

TEST_F(Pgids, FailedChipWriteKeepsNoPgid) {
  // Every write of a destination mask fails in the driver.
  swgenio_attach_in_process([this](uint32_t code, std::span<uint8_t> record) {
    if (code == swgenio::kCpldSpiReadWrite && (record[4] & swgenio::kSpiWriteFlag) && (record[4] >> 5) == 2 &&
        record[5] >= 0x40 && record[5] < 0x80)
      return -EIO;
    return handle(code, record);
  });
  uint32_t n = 0;
  EXPECT_LT(swc_pgid_alloc(&n, 0, set_of({2, 4}).data()), 0);
  EXPECT_EQ(state->pgid[9].references, 0u);
}

}  // namespace
