// The CPU frame path: fixed pools, transmit checks, the receive path from the chip's CPU queues and the
// hand-over by EtherType, against the in-process chip model.
#include "chip_fixture.h"
#include "mgmt.h"
#include "packet.h"
#include "packet_checks.h"
#include "swc_qos_state.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::vector<PacketBuffer *> received_l2, received_l3;
void take_l2(PacketBuffer *b) {
  received_l2.push_back(b);
}
void take_l3(PacketBuffer *b) {
  received_l3.push_back(b);
}

std::vector<uint8_t> ether_frame(size_t length, uint16_t type, uint8_t fill = 0x5A) {
  std::vector<uint8_t> f(length, fill);
  const uint8_t destination[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x02};
  std::copy(destination, destination + 6, f.begin());
  f[12] = static_cast<uint8_t>(type >> 8);
  f[13] = static_cast<uint8_t>(type);
  return f;
}

class PacketPath : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    packet_buffer_init();
    packet_l2_receiver_set(nullptr);
    packet_l3_receiver_set(nullptr);
    received_l2.clear();
    received_l3.clear();
  }
};

TEST_F(PacketPath, SmallFramesFallBackToMediumBuffersAndOversizedOnesGetNone) {
  std::vector<PacketBuffer *> small;
  for (uint32_t i = 0; i < kPacketSmallCount; ++i) {
    small.push_back(packet_alloc(64));
    ASSERT_NE(small.back(), nullptr);
    EXPECT_EQ(small.back()->size, kPacketSmallSize);
  }
  PacketBuffer *medium = packet_alloc(64);
  ASSERT_NE(medium, nullptr);
  EXPECT_EQ(medium->size, kPacketMediumSize);
  EXPECT_EQ(packet_alloc(kPacketBigSize + 1), nullptr);
  packet_free(medium);
  for (auto *b : small) packet_free(b);
  expect_pools_full();
}

TEST_F(PacketPath, BuffersNeverOverlapAndEachDataAreaIsAligned) {
  std::vector<PacketBuffer *> all;
  while (PacketBuffer *b = packet_alloc(1)) all.push_back(b);
  ASSERT_EQ(all.size(), size_t{kPacketSmallCount + kPacketMediumCount + kPacketBigCount});
  for (auto *b : all) {
    std::memset(b->data, 0xCC, b->size);  // ASan catches a write beyond the block
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % alignof(PacketBuffer), 0u);
    EXPECT_EQ(b->data, reinterpret_cast<uint8_t *>(b) + sizeof(PacketBuffer));
  }
  for (auto *b : all) EXPECT_EQ(b->state, kPacketUsed) << "heads intact after the data areas were filled";
  for (auto *b : all) packet_free(b);
  expect_pools_full();
}

TEST(PacketBlock, IsOneAllocationOfEveryHeadAndDataArea) {
  // On the router's 32-bit processor the 36-byte heads pack without padding: 64 x (64 + 36) +
  // 32 x (512 + 36) + 32 x (9604 + 36) bytes.
  if constexpr (sizeof(void *) == 4) {
    EXPECT_EQ(packet_block_size(), 332416u);
  }
  EXPECT_GE(packet_block_size(), kPacketSmallCount * (kPacketSmallSize + sizeof(PacketBuffer)) +
                                     kPacketMediumCount * (kPacketMediumSize + sizeof(PacketBuffer)) +
                                     kPacketBigCount * (kPacketBigSize + sizeof(PacketBuffer)));
}

TEST_F(PacketPath, FreeingTwiceChangesNothing) {
  PacketBuffer *b = packet_alloc(10);
  packet_free(b);
  packet_free(b);
  expect_pools_full();
  EXPECT_EQ(packet_alloc(10), b) << "the list holds it once";
  EXPECT_NE(packet_alloc(10), b);
}

TEST_F(PacketPath, TransmitRefusesBadRequestsAndFreesTheBuffer) {
  PacketBuffer *b = packet_alloc(60);
  b->length = 60;
  b->poag_no = 1;
  b->vid = 1;
  EXPECT_EQ(packet_tx(b), -1);
  EXPECT_EQ(b->state, kPacketFree);
  b = packet_alloc(60);
  b->length = 60;
  EXPECT_EQ(packet_tx(b), -1);
  b = packet_alloc(60);
  b->length = 65;
  b->poag_no = 1;
  EXPECT_EQ(packet_tx(b), -1);
  EXPECT_EQ(packet_tx(b), -1) << "a free buffer is not queued";
  expect_pools_full();
}

TEST_F(PacketPath, QueuedFrameLeavesOneAMillisecondAndReturnsItsBuffer) {
  ASSERT_EQ(swc_port_stp_state_set(2, SWC_STP_STATE_FORWARDING), 0);
  const auto frame = ether_frame(60, 0x8809);
  for (int i = 0; i < 2; ++i) {
    void *ref = nullptr;
    uint8_t *data = swc_os_frame_alloc(2, 60, &ref);
    ASSERT_NE(data, nullptr);
    std::copy(frame.begin(), frame.end(), data);
    ASSERT_EQ(swc_os_frame_send(2, data, 60, ref), 0);
  }
  packet_queue();
  EXPECT_EQ(chip.take_transmitted(1), std::vector<std::vector<uint8_t>>{frame});
  packet_queue();
  EXPECT_EQ(chip.take_transmitted(1).size(), 1u);
  expect_pools_full();
}

TEST_F(PacketPath, ReceivedFramesGoToTheirReceiverByEtherType) {
  packet_l2_receiver_set(take_l2);
  packet_l3_receiver_set(take_l3);
  ASSERT_TRUE(chip.inject_cpu_frame(1, 2, ether_frame(60, 0x8809), 1));
  ASSERT_TRUE(chip.inject_cpu_frame(2, 4, ether_frame(100, 0x0806), 5));
  packet_poll();
  EXPECT_EQ(packet_rx_count(1), 1u);
  EXPECT_EQ(packet_rx_count(2), 1u);
  packet_queue();
  ASSERT_EQ(received_l2.size(), 1u);
  ASSERT_EQ(received_l3.size(), 1u);
  EXPECT_EQ(received_l2[0]->poag_no, 3u);
  EXPECT_EQ(received_l2[0]->queue_no, 1u);
  EXPECT_EQ(received_l3[0]->poag_no, 5u);
  EXPECT_EQ(received_l3[0]->vid, 5u);
  EXPECT_EQ(received_l3[0]->length, 100u);
  packet_free(received_l2[0]);
  packet_free(received_l3[0]);
  expect_pools_full();
}

TEST_F(PacketPath, BurstBeyondThePoolsIsDroppedInTheChipAndNothingLeaks) {
  const unsigned burst = 300;
  unsigned injected = 0;
  for (unsigned i = 0; i < burst; ++i)
    injected += chip.inject_cpu_frame(1 + i % 2, i % 5, ether_frame(60 + i % 1400, 0x888E), 1) ? 1 : 0;
  // The receive list is only emptied each millisecond: let it fill up to exhaust the pools.
  for (unsigned pass = 0; pass < burst; ++pass) packet_poll();
  EXPECT_GT(packet_stats_get().rx_dropped, 0u);
  for (unsigned pass = 0; pass < burst; ++pass) {
    packet_queue();
    packet_poll();
  }
  packet_queue();
  EXPECT_EQ(chip.cpu_queue_length(1) + chip.cpu_queue_length(2), 0u);
  const PacketStats s = packet_stats_get();
  EXPECT_EQ(packet_rx_count(1) + packet_rx_count(2) + s.rx_dropped, injected);
  EXPECT_EQ(s.rx_undelivered, packet_rx_count(1) + packet_rx_count(2));
  expect_pools_full();
}

TEST_F(PacketPath, UntrustedHeaderIsDroppedAndCounted) {
  ASSERT_TRUE(chip.inject_cpu_frame(1, 5, ether_frame(60, 0x8809), 1));  // chip port 5 has no front port
  packet_poll();
  EXPECT_EQ(packet_stats_get().rx_dropped, 1u);
  EXPECT_EQ(chip.cpu_queue_length(1), 0u);
  override_read(4, 0, 0,
                [](unsigned, unsigned, unsigned) { return (3u << 16) | 1u; });  // length below the FCS
  ASSERT_TRUE(chip.inject_cpu_frame(1, 0, ether_frame(60, 0x8809), 1));
  packet_poll();
  EXPECT_EQ(packet_stats_get().rx_dropped, 2u);
  expect_pools_full();
}

TEST_F(PacketPath, TestFrameObjectBuildsAndQueuesTheFrame) {
  ASSERT_EQ(swc_port_stp_state_set(1, SWC_STP_STATE_FORWARDING), 0);
  std::vector<uint8_t> datagram(16 + 24, 0);
  le_store32(datagram.data(), 1001);
  le_store32(datagram.data() + 4, kMgmtCmdSet);
  le_store16(datagram.data() + 14, static_cast<uint16_t>(datagram.size()));
  le_store32(datagram.data() + 16, 1);
  le_store32(datagram.data() + 20, 20);
  const uint8_t source[6] = {2, 0, 0, 0, 0, 1}, destination[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  std::copy(source, source + 6, datagram.begin() + 24);
  std::copy(destination, destination + 6, datagram.begin() + 32);
  MgmtObject object{datagram.data(), static_cast<uint16_t>(datagram.size())};
  packet_mgmt(object);
  EXPECT_EQ(object.res(), kMgmtResOk);
  le_store32(datagram.data() + 20, 10);  // shorter than an Ethernet header
  packet_mgmt(object);
  EXPECT_EQ(object.res(), kMgmtResFail);
  packet_queue();
  const auto sent = chip.take_transmitted(0);
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(sent[0].size(), 60u) << "padded by the chip";
  EXPECT_EQ(std::vector<uint8_t>(sent[0].begin(), sent[0].begin() + 12),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 0, 1}));
  EXPECT_EQ(sent[0][19], 0xAA);
  EXPECT_EQ(sent[0][20], 0x00);
  expect_pools_full();
}

TEST(PacketTexts, AddressesAndStatesAsTheTracesShowThem) {
  const uint8_t mac[6] = {0x00, 0x1a, 0x2B, 0xff, 0x01, 0x80};
  EXPECT_STREQ(mac_addr_txt(mac), "00-1A-2B-FF-01-80");
  EXPECT_STREQ(link_state_txt(0x101), "up");
  EXPECT_STREQ(link_duplex_txt(7), "undef");
  EXPECT_STREQ(stp_state_txt(3), "fwd");
  EXPECT_STREQ(stp_state_txt(5), "undef");
}

}  // namespace

namespace {

TEST_F(PacketPath, UnreadableChipIsPolledOnceASecondNotOnEveryPass) {
  swc_select_context(nullptr);  // no device: every register access fails
  swgenio_clear_recorded();
  for (int pass = 0; pass < 500; ++pass) packet_poll();
  swc_select_context(&context);
  for (int pass = 0; pass < 500; ++pass) packet_poll();
  EXPECT_TRUE(accesses().empty()) << "still resting after the failure";
  ASSERT_TRUE(chip.inject_cpu_frame(1, 0, ether_frame(60, 0x8809), 1));
  for (int pass = 0; pass < 1001; ++pass) packet_poll();
  EXPECT_EQ(packet_rx_count(1), 1u) << "polling again after the rest";
}

}  // namespace
