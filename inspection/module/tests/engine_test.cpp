// The engine driver against the device model: registers, header-rule window, descriptor ring and
// interrupt handler, decompression.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <random>

#include "vorn_classifier.h"
#include "vorn_engine.h"
#include "vorn_fixture.h"
#include "vorn_matcher.h"
#include "vorn_log.h"
#include "vorn_pipeline.h"
#include "vorn_verdict.h"

namespace vorn_test {
namespace {

using namespace vorn;

class Engine : public VornTest {
 protected:
  void send_udp(int count = 1) {
    unsigned char ip[36] = {0x45, 0,  0, 36, 0,   1,   0,   0,   64,   17,   0,   0,
                            10,   0,  0, 1,  10,  0,   0,   2,   0x30, 0x39, 0,   53,
                            0,    16, 0, 0,  'p', 'a', 'y', 'l', 'o',  'a',  'd', '!'};
    for (int i = 0; i < count; ++i) kern::receive(kern::make_frame("eth0", ETH_P_IP, ip, sizeof ip));
  }
};

TEST_F(Engine, InitialisationProgramsTheTableBasesWithTheBusOffset) {
  EXPECT_EQ(device->register_value(0x00), module().quorix_mem_bus + 0xda0000 + 0x40000000);
  EXPECT_EQ(device->register_value(0x08), module().quorix_mem_bus + 0x198000 + 0x40000000);
  EXPECT_EQ(device->register_value(0x0c), module().quorix_mem_bus + 0x080000 + 0x40000000);
  EXPECT_EQ(device->register_value(0x10), module().quorix_mem_bus + 0x000000 + 0x40000000);
  EXPECT_EQ(device->register_value(0x14), module().quorix_mem_bus + 0x0c0000 + 0x40000000);
  EXPECT_EQ(load32(module().pVornRuleSetInfo + 48), module().quorix_mem_bus + 0xdc3a78);
  EXPECT_EQ(load32(module().pVornRuleSetInfo + 64), module().quorix_mem_bus + 0xdf8878);
}

// The model's set-up at initialisation: the engine's table places, the compiler scratch laid out
// from its base, and the case-folding map.
TEST_F(Engine, InitialisationSetsUpTheModelTablesScratchAndCharacterMap) {
  const PmaModel &model = module().pma_model;
  unsigned char *memory = module().QuorixMem;
  EXPECT_EQ(model.pattern_table, memory + 0x000000);
  EXPECT_EQ(model.rule_table, memory + 0x080000);
  EXPECT_EQ(model.state_table, memory + 0x198000);
  EXPECT_EQ(model.matched_state_queue, memory + 0x0c0000);
  unsigned char *scratch = pma_scratch_block();
  EXPECT_EQ(model.scratch.fail_function, scratch);
  EXPECT_EQ(model.scratch.breadth_first_queue, scratch + 0xc000);
  EXPECT_EQ(model.scratch.matched_state_queue, scratch + 0x24000);
  EXPECT_EQ(model.scratch.matched_state_pool, scratch + 0x54000);
  EXPECT_EQ(model.scratch.state_table, scratch + 0x94000);
  EXPECT_EQ(kPmaScratchSize, 0x94000u + 0xc20000u);  // the temporary state table ends the block

  const unsigned char *map = module().character_map;
  for (int c = 0; c < 256; ++c) {
    int folded = c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    ASSERT_EQ(map[c], folded) << "byte " << c;
  }
}

TEST_F(Engine, ModelSetUpReplacesEverythingAnEarlierOneLeft) {
  module().pma_model.scratch.fail_function = nullptr;
  module().character_map['Q'] = 'Q';
  unsigned char tables[4] = {};
  auto block = std::make_unique_for_overwrite<unsigned char[]>(kPmaScratchSize);
  unsigned char *scratch = block.get();
  initializePmaMem(&tables[0], &tables[1], &tables[2], &tables[3], scratch);
  const PmaModel &model = module().pma_model;
  EXPECT_EQ(model.pattern_table, &tables[0]);
  EXPECT_EQ(model.rule_table, &tables[1]);
  EXPECT_EQ(model.state_table, &tables[2]);
  EXPECT_EQ(model.matched_state_queue, &tables[3]);
  EXPECT_EQ(model.scratch.fail_function, scratch);
  EXPECT_EQ(model.scratch.state_table, scratch + 0x94000);
  EXPECT_EQ(module().character_map['Q'], 'q');
}

TEST_F(Engine, RingStartsOwnedBySoftwareWithOneEndMark) {
  for (uint32_t i = 0; i < kDescriptorCount; ++i) {
    EXPECT_TRUE(descriptor_done(descriptor_at(i)));
    EXPECT_EQ(descriptor_at(i)[kDescControl], i == kDescriptorCount - 1 ? kDescEndOfRing : 0);
  }
}

TEST_F(Engine, InitialisationOutsideStateTwoIsRefusedAndChangesNothing) {
  uint32_t before = device->register_value(0x00);
  kern::CpuSection cpu;
  EXPECT_EQ(qxDrvInit(), kQxStateError);
  EXPECT_TRUE(printed("qxDrvInit:State Error,state=4\n"));
  EXPECT_EQ(device->register_value(0x00), before);
}

TEST_F(Engine, HeaderRuleWindowRefusesBadRanges) {
  unsigned char rules[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                             13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  kern::CpuSection cpu;
  EXPECT_EQ(qxInsertHdrRule(rules, 10, 9), kQxIndexError);
  EXPECT_EQ(qxInsertHdrRule(rules, 512, 512), kQxIndexError);
  EXPECT_EQ(qxInsertHdrRule(rules, 511, 512), kQxIndexError);
  EXPECT_EQ(qxInsertHdrRule(rules, 510, 511), 0);
  EXPECT_EQ(device->tables().header_rules[510 * 3], 0x04030201u);
  EXPECT_EQ(device->tables().header_rules[511 * 3 + 2], 0x18171615u);
  module().DriverState = kStateOk;
  EXPECT_EQ(qxInsertHdrRule(rules, 0, 0), kQxStateError);
  module().DriverState = kStateQxDrvInited;
}

TEST_F(Engine, QueuedPacketRoundTripsThroughTheEngine) {
  enable_inspection();
  send_udp();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0].fate, kern::Fate::kDelivered);
  EXPECT_TRUE(deliveries[0].inspected);
  const unsigned char *d = descriptor_at(0);
  EXPECT_TRUE(descriptor_done(d));
  EXPECT_EQ(d[kDescControl], kDescFirst | kDescLast | kDescInterrupt);
  EXPECT_EQ(d[6], 17);
  EXPECT_EQ(load16(d + 4), 53);
  EXPECT_EQ(load16(d + 12), 53);
  EXPECT_EQ(load16(d + 14), 0x3039);
  EXPECT_EQ(d[8] | (d[9] << 8) | (d[10] << 16), 8);
  unsigned char *payload = kern::bus_to_virt(load32(d) - 0x40000000, 8);
  ASSERT_NE(payload, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(payload), 8), "payload!");
  EXPECT_EQ(module().desc_read_index, 1u);
  EXPECT_EQ(module().desc_write_index, 1u);
  EXPECT_EQ(module().MappingTable_IpsDescriptorToSkb[0], nullptr);
}

TEST_F(Engine, HeldDescriptorsFinishInOrderWhenTheEngineRuns) {
  enable_inspection();
  device->set_auto_run(false);
  send_udp(5);
  EXPECT_TRUE(deliveries.empty());
  EXPECT_EQ(module().desc_write_index, 5u);
  EXPECT_EQ(module().desc_read_index, 0u);
  EXPECT_FALSE(descriptor_done(descriptor_at(0)));
  EXPECT_EQ(device->run(2), 2u);
  EXPECT_EQ(deliveries.size(), 2u);
  EXPECT_EQ(module().desc_read_index, 2u);
  device->run();
  EXPECT_EQ(deliveries.size(), 5u);
  EXPECT_EQ(module().desc_read_index, 5u);
  EXPECT_FALSE(device->fetching());
}

TEST_F(Engine, RingWrapsAtItsEndMark) {
  enable_inspection();
  send_udp(1030);
  EXPECT_EQ(deliveries.size(), 1030u);
  EXPECT_EQ(module().desc_write_index, 6u);
  EXPECT_EQ(module().desc_read_index, 6u);
}

TEST_F(Engine, FullRingDeliversUninspected) {
  enable_inspection();
  device->set_auto_run(false);
  send_udp(1023);
  EXPECT_TRUE(deliveries.empty());
  send_udp(1);  // one slot always stays free
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_FALSE(deliveries[0].inspected);
  device->run();
  EXPECT_EQ(deliveries.size(), 1024u);
}

TEST_F(Engine, CompletionWithoutHeldPacketIsReported) {
  enable_inspection();
  device->set_auto_run(false);
  send_udp(1);
  sk_buff *held = module().MappingTable_IpsDescriptorToSkb[0];
  module().MappingTable_IpsDescriptorToSkb[0] = nullptr;
  device->run();
  EXPECT_TRUE(printed("0==MappingTable_IpsDescriptorToSkb[ProcessingIndex]\n"));
  EXPECT_EQ(module().desc_read_index, 1u);
  kfree_skb(held);
}

TEST_F(Engine, PrivateCopyIsReleasedNotDelivered) {
  enable_inspection();
  device->set_auto_run(false);
  send_udp(1);
  descriptor_at(0)[kDescMark] = kPrivateCopyMark;
  device->run();
  EXPECT_TRUE(deliveries.empty());
  EXPECT_EQ(descriptor_at(0)[kDescMark], 0);
}

TEST_F(Engine, ResetForcesABusyEngineToStop) {
  enable_inspection();
  device->set_auto_run(false);
  send_udp(1);
  ASSERT_TRUE(device->fetching());
  kern::CpuSection cpu;
  qxDrvReset();
  EXPECT_TRUE(printed("force IDP Engine to reset\n"));
  EXPECT_FALSE(device->fetching());
  EXPECT_EQ(module().DriverState, kStateModuleInited);
  qx_drop_held_packets();
  module().DriverState = kStateOk;
}

// ---- decompression --------------------------------------------------------------------------------
std::vector<unsigned char> deflated(const std::string &text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::vector<unsigned char> out(size);
  compress2(out.data(), &size, reinterpret_cast<const Bytef *>(text.data()), static_cast<uLong>(text.size()),
            9);
  out.resize(size);
  return out;
}

// The engine model looks header rules up by destination port; whatever the rules (short and wide
// ranges, every operator, disabled ones, a group window, a queue that fills), it must report exactly
// what comparing the packet with every rule of the group in order reports.
TEST(HeaderRuleIndex, ReportsWhatComparingEveryRuleReports) {
  std::mt19937 random(5);
  for (int round = 0; round < 40; ++round) {
    std::vector<unsigned char> rules(kMaxHeaderRules * 12);
    for (unsigned i = 0; i < kMaxHeaderRules; ++i) {
      unsigned char *r = &rules[i * 12];
      uint16_t low = static_cast<uint16_t>(random() % 4 ? 1000 + random() % 40 : random());
      uint16_t high = static_cast<uint16_t>(random() % 3 ? low + random() % 70 : random());
      r[0] = static_cast<unsigned char>(random() % 4);
      r[1] = 0;
      r[2] = static_cast<unsigned char>((random() % 6) | (random() % 5) << 3 | (random() % 3) << 6);
      r[3] = static_cast<unsigned char>((random() % 8 ? 0x80 : 0) | (random() % 2));
      store16(r + 4, 0);
      store16(r + 6, static_cast<uint16_t>(random()));
      store16(r + 8, low);
      store16(r + 10, high);
    }
    HeaderRuleIndex index;
    index.build(rules.data(), kMaxHeaderRules);
    uint32_t first = random() % 3 ? 0 : random() % kMaxHeaderRules;
    uint32_t last = random() % 3 ? kMaxHeaderRules - 1 : random() % (kMaxHeaderRules + 20);
    if (last < first) std::swap(first, last);
    for (int packet = 0; packet < 200; ++packet) {
      ExtractedField field{};
      field.destination = static_cast<uint16_t>(random() % 2 ? 990 + random() % 130 : random());
      field.source = static_cast<uint16_t>(random());
      field.flags = static_cast<uint8_t>(random() % 4);
      field.protocol = static_cast<uint8_t>(random() % 4);
      unsigned group = random() % 4;
      ResultQueue indexed;
      int rc = searchHdrTableEntryGroup(field, group, rules.data(), first, last, index, &indexed);
      ResultQueue every;
      int every_rc = 0;
      for (uint32_t i = first; i <= last && i < kMaxHeaderRules; ++i) {
        if (!searchHdrTableEntry(field, group, &rules[i * 12])) continue;
        if (!every.add(static_cast<uint16_t>(i | 0x8000))) {
          every.flags |= 0x20;
          every_rc = -1;
          break;
        }
      }
      ASSERT_EQ(rc, every_rc) << round << "/" << packet;
      ASSERT_EQ(indexed.count, every.count) << round << "/" << packet;
      ASSERT_EQ(indexed.flags, every.flags) << round << "/" << packet;
      for (unsigned i = 0; i < every.count; ++i)
        ASSERT_EQ(indexed.ids[i], every.ids[i]) << round << "/" << packet;
    }
  }
}

TEST(Uncompress, InflatesAndReportsTheLength) {
  std::string text(5000, 'q');
  auto stream = deflated(text);
  std::vector<unsigned char> out(8000);
  uint32_t length = static_cast<uint32_t>(out.size());
  EXPECT_EQ(uncompress(out.data(), &length, stream.data(), static_cast<uint32_t>(stream.size())), 0);
  EXPECT_EQ(length, 5000u);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 5000), text);
}

TEST(Uncompress, TruncatedStreamFails) {
  auto stream = deflated(std::string(5000, 'q') + "tail of a longer text");
  std::vector<unsigned char> out(8000);
  uint32_t length = static_cast<uint32_t>(out.size());
  EXPECT_EQ(uncompress(out.data(), &length, stream.data(), static_cast<uint32_t>(stream.size() / 2)), -3);
}

TEST(Uncompress, TooSmallDestinationFails) {
  auto stream = deflated(std::string(5000, 'q'));
  std::vector<unsigned char> out(100);
  uint32_t length = static_cast<uint32_t>(out.size());
  EXPECT_NE(uncompress(out.data(), &length, stream.data(), static_cast<uint32_t>(stream.size())), 0);
}

TEST(Uncompress, PresetDictionaryIsRefused) {
  z_stream z{};
  deflateInit(&z, 6);
  const Bytef dictionary[] = "dictionary";
  deflateSetDictionary(&z, dictionary, sizeof dictionary);
  std::string text = "dictionary dictionary";
  std::vector<unsigned char> stream(256);
  z.next_in = reinterpret_cast<Bytef *>(text.data());
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = stream.data();
  z.avail_out = static_cast<uInt>(stream.size());
  deflate(&z, Z_FINISH);
  stream.resize(z.total_out);
  deflateEnd(&z);
  std::vector<unsigned char> out(256);
  uint32_t length = static_cast<uint32_t>(out.size());
  EXPECT_EQ(uncompress(out.data(), &length, stream.data(), static_cast<uint32_t>(stream.size())), -3);
}

}  // namespace
}  // namespace vorn_test
