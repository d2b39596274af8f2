// Table reads through batches of register accesses, against the simulator process: the same entries
// and codes as one access at a time, also when an access fails or the chip is slow, and the MAC shadow
// rebuilt from a table the simulator learned; CPU frames received and sent as scripts of words, and the
// aggregation masks written as one; a failed header read leaving the frame for the next receive; PHY
// accesses, port writes and counter reads that fail part way;
// malformed batches refused over the socket, and a simulator that refuses every batch still read
// correctly.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <thread>
#include <vector>

#include "ar.h"
#include "driver.h"
#include "simulator_process.h"
#include "swc_api.h"
#include "swc_ll.h"
#include "swc_mac.h"
#include "swc_reg.h"
#include "swgenio.h"
#include "wire.h"

namespace {

struct ReadResult {
  swc_rc rc;
  uint32_t vid;
  std::vector<uint8_t> mac;
  uint32_t pgid;
  bool operator==(const ReadResult &) const = default;
};

class BatchedTable : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.start()) << "swchipd did not start";
    fd = swgenio_open(sim.device.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(swgenio_takes_batches(fd));
    context = {fd, state.get(), nullptr};
    swc_select_context(&context);
    const SwcInitSetup setup{1, 1, 0, -1, 0};
    swc_init_state(&setup);
    const SwcPortMap map[7] = {{0, 0, 0}, {0, 0, 0}, {1, 0, 1}, {2, 0, 2}, {3, 0, 3}, {4, 0, 4}, {6, 1, 3}};
    swc_port_map_set(map);
  }
  void TearDown() override {
    swc_select_context(nullptr);
    if (fd >= 0) swgenio_close(fd);
  }

  std::vector<ReadResult> batched(uint32_t first, uint32_t count) {
    std::vector<SwcMacEntry> entries(count);
    std::vector<uint32_t> pgids(count);
    std::vector<swc_rc> rcs(count);
    EXPECT_EQ(swc_ll_mac_table_read_range(first, count, entries.data(), pgids.data(), rcs.data()), 0);
    std::vector<ReadResult> out;
    for (uint32_t i = 0; i < count; ++i) out.push_back(result_of(rcs[i], entries[i], pgids[i]));
    return out;
  }
  std::vector<ReadResult> one_by_one(uint32_t first, uint32_t count) {
    std::vector<ReadResult> out;
    for (uint32_t i = first; i < first + count; ++i) {
      SwcMacEntry entry{};
      uint32_t pgid = 0;
      const swc_rc rc = swc_ll_mac_table_read(i, &entry, &pgid);
      out.push_back(result_of(rc, entry, pgid));
    }
    return out;
  }
  static ReadResult result_of(swc_rc rc, const SwcMacEntry &e, uint32_t pgid) {
    if (rc < 0) return {rc, 0, {}, 0};
    return {rc, e.vid_mac.vid, std::vector<uint8_t>(e.vid_mac.mac, e.vid_mac.mac + 6), pgid};
  }
  static size_t valid(const std::vector<ReadResult> &r) {
    size_t n = 0;
    for (const auto &x : r) n += x.rc == 0;
    return n;
  }

  SimulatorProcess sim;
  int fd = -1;
  std::unique_ptr<SwcApiState> state = std::make_unique<SwcApiState>();
  SwcContext context{};
};

TEST_F(BatchedTable, ReadsTheSameEntriesAsSingleAccesses) {
  ASSERT_EQ(sim.ctl("learn 1 7 02:00:00:00:00:00 3000"), "ok 3000\n");
  const auto fast = batched(1, kSwcMacTableSize);
  EXPECT_EQ(valid(fast), 3000u);
  EXPECT_EQ(fast, one_by_one(1, kSwcMacTableSize));
  for (const auto &r : fast) {
    if (r.rc == 0) {
      EXPECT_EQ(r.pgid, 2u) << "learned on chip port 1, which is port 2";
    }
  }
  uint32_t first = 0, last = 0;
  swc_rc rcs[1];
  EXPECT_EQ(swc_ll_mac_table_read_range(0, 1, nullptr, &first, rcs), kSwcRcIllegal);
  EXPECT_EQ(swc_ll_mac_table_read_range(kSwcMacTableSize, 2, nullptr, &last, rcs), kSwcRcIllegal);
}

// The API's range read: each index as swc_mac_table_read gives it (destination ports included), in a
// few exchanges with the simulator rather than several per index.
TEST_F(BatchedTable, ApiRangeReadGivesThePerIndexEntriesInFewExchanges) {
  ASSERT_EQ(sim.ctl("learn 3 5 02:00:00:00:00:00 8192"), "ok 8192\n");
  std::vector<SwcMacEntry> each(kSwcMacTableSize);
  std::vector<swc_rc> each_rc(kSwcMacTableSize);
  for (uint32_t i = 0; i < kSwcMacTableSize; ++i) each_rc[i] = swc_mac_table_read(i + 1, &each[i]);
  const unsigned long before = std::stoul(sim.ctl("exchanges"));
  std::vector<SwcMacEntry> range(kSwcMacTableSize);
  std::vector<swc_rc> range_rc(kSwcMacTableSize);
  ASSERT_EQ(swc_mac_table_read_range(1, kSwcMacTableSize, range.data(), range_rc.data()), 0);
  EXPECT_LT(std::stoul(sim.ctl("exchanges")) - before, kSwcMacTableSize / 16);
  EXPECT_EQ(range_rc, each_rc);
  for (uint32_t i = 0; i < kSwcMacTableSize; ++i) {
    if (each_rc[i] < 0) continue;
    EXPECT_EQ(std::memcmp(&range[i], &each[i], sizeof each[i]), 0) << "index " << i + 1;
  }
  EXPECT_EQ(std::count(range_rc.begin(), range_rc.end(), kSwcRcOk), 8192);
  SwcMacEntry entry{};
  swc_rc rc = 0;
  EXPECT_EQ(swc_mac_table_read_range(0, 1, &entry, &rc), kSwcRcIllegal);
  EXPECT_EQ(swc_mac_table_read_range(kSwcMacTableSize, 2, &entry, &rc), kSwcRcIllegal);
}

TEST_F(BatchedTable, FailedAccessEndsOnlyItsIndex) {
  ASSERT_EQ(sim.ctl("learn 0 1 02:00:00:00:00:00 8192"), "ok 8192\n");
  const auto expected = one_by_one(1, 200);
  for (const auto &[fault, code] :
       {std::pair{"spi-write", kSwcRcWriteFailed}, std::pair{"spi-read", kSwcRcReadFailed}}) {
    // The first write (the first index's index register) or the first read (its completion poll) fails.
    ASSERT_EQ(sim.ctl(std::string("fail ") + fault + " block 2 count 1"), "ok\n");
    const auto got = batched(1, 200);
    EXPECT_EQ(got[0].rc, code) << fault;
    EXPECT_EQ(std::vector<ReadResult>(got.begin() + 1, got.end()),
              std::vector<ReadResult>(expected.begin() + 1, expected.end()))
        << fault;
  }
}

TEST_F(BatchedTable, SlowChipIsPolledUntilItAnswers) {
  ASSERT_EQ(sim.ctl("learn 3 9 02:00:00:00:00:00 500"), "ok 500\n");
  const auto expected = one_by_one(1, 1024);
  ASSERT_EQ(sim.ctl("mac-busy 3"), "ok\n");
  // Every index's completion poll reads busy in the batch: it is polled on alone, then the batch goes on.
  EXPECT_EQ(batched(1, 1024), expected);
}

TEST_F(BatchedTable, ShadowRebuiltFromTheSimulatorsTableWalksEveryEntryInOrder) {
  // Enough entries for every block of the table and many steps of the shadow's search index; each
  // get-next of the walk costs a lookup of single accesses, so not the whole table.
  ASSERT_EQ(sim.ctl("learn 4 12 02:00:00:00:00:00 2048"), "ok 2048\n");
  // The learning raised the chip's table events: a full pass of eight steps follows.
  for (int step = 0; step < 8; ++step) ASSERT_EQ(swc_mac_table_optimize(), 0);
  EXPECT_EQ(state->mac_walk_position, 0u);
  size_t in_chip = 0;
  std::istringstream dump(sim.ctl("dump mac"));
  for (std::string line; std::getline(dump, line);) in_chip += !line.empty();
  std::vector<std::tuple<uint32_t, std::vector<uint8_t>>> walked;
  SwcVidMac at{};
  SwcMacEntry e{};
  while (swc_mac_table_get_next(&at, &e) == 0) {
    walked.emplace_back(e.vid_mac.vid, std::vector<uint8_t>(e.vid_mac.mac, e.vid_mac.mac + 6));
    at = e.vid_mac;
  }
  EXPECT_EQ(walked.size(), in_chip);
  EXPECT_EQ(walked.size(), 2048u);
  EXPECT_TRUE(std::is_sorted(walked.begin(), walked.end()));
  EXPECT_EQ(std::set(walked.begin(), walked.end()).size(), walked.size());
}

TEST_F(BatchedTable, PhyAccessesGiveTheFailedAccessCodeAndTheNextOneWorks) {
  const int32_t id = swc_ll_miim_read(0, 2, 2);
  ASSERT_GE(id, 0);
  ASSERT_EQ(sim.ctl("fail spi-write block 3 count 1"), "ok\n");
  EXPECT_EQ(swc_ll_miim_read(0, 2, 2), kSwcRcWriteFailed);
  EXPECT_EQ(swc_ll_miim_read(0, 2, 2), id);
  // The status poll fails, then the data read on the next access.
  ASSERT_EQ(sim.ctl("fail spi-read block 3 count 1"), "ok\n");
  EXPECT_EQ(swc_ll_miim_read(0, 2, 2), kSwcRcReadFailed);
  ASSERT_EQ(swc_ll_miim_write(0, 2, 4, 0x01E1), 0);
  EXPECT_EQ(swc_ll_miim_read(0, 2, 4), 0x01E1);
  EXPECT_EQ(sim.ctl("phy 0 2 absent"), "ok\n");
  EXPECT_EQ(swc_ll_miim_read(0, 2, 2), kSwcRcPhyNotMounted);
}

TEST_F(BatchedTable, PortWritesAndCounterReadsStopAtTheFailedAccess) {
  SwcPortSetup setup{};
  setup.max_length = 1522;
  ASSERT_EQ(ar_setup_flowcontrol(1, &setup), 0);
  const std::string buffers = sim.ctl("read 1 0 0xde");
  setup.max_length = 1523;
  // The first write fails: the port's later registers keep their values.
  ASSERT_EQ(sim.ctl("fail spi-write block 1 count 1"), "ok\n");
  EXPECT_EQ(ar_setup_flowcontrol(1, &setup), kSwcRcWriteFailed);
  EXPECT_EQ(sim.ctl("read 1 0 0xde"), buffers);
  ASSERT_EQ(ar_setup_flowcontrol(1, &setup), 0);
  EXPECT_NE(sim.ctl("read 1 0 0xde"), buffers);

  SwcRawCounters counters{};
  for (uint32_t &word : counters.word) word = 0xC0FFEE;
  ASSERT_EQ(sim.ctl("fail spi-read block 1 count 1"), "ok\n");
  EXPECT_EQ(swc_ll_port_counters_read(1, &counters), kSwcRcReadFailed);
  EXPECT_EQ(counters.word[0], 0u) << "the failed read";
  EXPECT_EQ(counters.word[1], 0xC0FFEEu) << "never read";
  ASSERT_EQ(swc_ll_port_counters_read(1, &counters), 0);
  EXPECT_NE(counters.word[1], 0xC0FFEEu);
}

// A batch over a connection of its own; the decoded reply (std::nullopt for none).
std::optional<swgenio::wire::BatchReply> raw_batch(const std::string &device,
                                                   const std::vector<uint8_t> &datagram, size_t ops) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, device.c_str(), device.size());
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  std::optional<swgenio::wire::BatchReply> reply;
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
      ::send(fd, datagram.data(), datagram.size(), 0) == static_cast<ssize_t>(datagram.size())) {
    std::vector<uint8_t> answer(swgenio::wire::kMaxBatchDatagram);
    const ssize_t n = ::recv(fd, answer.data(), answer.size(), 0);
    if (n > 0) reply = swgenio::wire::decode_batch_reply({answer.data(), static_cast<size_t>(n)}, ops);
  }
  if (fd >= 0) ::close(fd);
  return reply;
}

std::string hex_of(const std::vector<uint8_t> &bytes) {
  std::ostringstream out;
  out << std::hex;
  for (uint8_t b : bytes) out << (b >> 4) << (b & 15);
  return out.str();
}

using BatchedFrames = BatchedTable;

TEST_F(BatchedFrames, FramesLongerThanAScriptCrossWholeBothWays) {
  for (size_t length : {size_t{60}, size_t{513}, size_t{1514}, size_t{2036}}) {
    std::vector<uint8_t> frame(length);
    for (size_t i = 0; i < length; ++i) frame[i] = static_cast<uint8_t>(i * 7 + length);
    frame[0] = 0x01;  // a multicast destination, so the chip never learns the source
    const std::string hex = hex_of(frame);
    ASSERT_EQ(sim.ctl("inject 1 6 " + hex + " 0x0001"), "ok\n") << length;
    SwcCpuRxHeader header{};
    std::vector<uint8_t> buffer(2048);
    ASSERT_EQ(swc_ll_cpu_rx_frame(1, &header, buffer.data(), buffer.size()), 0) << length;
    ASSERT_EQ(header.length, length);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + length), frame) << length;
    EXPECT_EQ(swc_ll_cpu_rx_frameready(1), 0) << "released";

    ASSERT_EQ(swc_ll_cpu_tx_frame(3, frame.data(), length, 0), 0) << length;
    EXPECT_EQ(sim.ctl("transmitted 2"), hex + "\n") << length;
  }
}

TEST_F(BatchedFrames, FailedHeaderReadLeavesTheFrameQueuedForTheNextReceive) {
  std::vector<uint8_t> frame(100);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i + 3);
  frame[0] = 0x01;
  ASSERT_EQ(sim.ctl("inject 2 4 " + hex_of(frame) + " 0x0001"), "ok\n");
  SwcCpuRxHeader header{};
  std::vector<uint8_t> buffer(256, 0xEE);
  // The first header word fails: the second is never read, nothing is copied or released.
  ASSERT_EQ(sim.ctl("fail spi-read block 4 count 1"), "ok\n");
  EXPECT_EQ(swc_ll_cpu_rx_frame(2, &header, buffer.data(), buffer.size()), kSwcRcReadFailed);
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_EQ(swc_ll_cpu_rx_frameready(2), 1);
  EXPECT_EQ(swc_ll_cpu_rx_frame(2, &header, nullptr, 0), kSwcRcRxBuffer);
  EXPECT_EQ(header.length, frame.size());
  ASSERT_EQ(swc_ll_cpu_rx_frame(2, &header, buffer.data(), buffer.size()), 0);
  EXPECT_EQ(header.port_no, 5u);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 100), frame);
  EXPECT_EQ(buffer[100], 0xEE);
  EXPECT_EQ(swc_ll_cpu_rx_frameready(2), 0) << "released";
}

TEST_F(BatchedFrames, FailedWordEndsTheTransmitWithItsCodeAndTheNextFrameGoesWhole) {
  std::vector<uint8_t> frame(64, 0x5A);
  frame[0] = 0x01;
  // The first write of the transmit fails: none of the frame's later words reaches the chip.
  ASSERT_EQ(sim.ctl("fail spi-write block 1 count 1"), "ok\n");
  EXPECT_EQ(swc_ll_cpu_tx_frame(3, frame.data(), frame.size(), 0), kSwcRcWriteFailed);
  EXPECT_EQ(sim.ctl("transmitted 2"), "\n");
  ASSERT_EQ(swc_ll_cpu_tx_frame(3, frame.data(), frame.size(), 0), 0);
  EXPECT_EQ(sim.ctl("transmitted 2"), hex_of(frame) + "\n");
}

TEST_F(BatchedFrames, AllAggregationMasksWrittenTogetherAndAFailedWriteEndsThem) {
  // Mask of code i: ports 1 and (i mod 6) + 1.
  SwcPortFlags masks[16] = {};
  for (uint32_t i = 0; i < 16; ++i) masks[i][1] = masks[i][i % 6 + 1] = 1;
  const auto read_back = [](uint32_t index) {
    uint32_t value = 0;
    EXPECT_EQ(swc_reg_rd(chipreg::ana_aggr_mask(index), &value), 0);
    return value;
  };
  ASSERT_EQ(swc_ll_aggr_tables_write(masks), 0);
  for (uint32_t index = 1; index <= 16; ++index)
    EXPECT_EQ(read_back(index), swc_chip_port_bitfield(masks[index - 1])) << index;

  SwcPortFlags none[16] = {};
  ASSERT_EQ(sim.ctl("fail spi-write block 2 count 1"), "ok\n");
  EXPECT_EQ(swc_ll_aggr_tables_write(none), kSwcRcWriteFailed);
  for (uint32_t index = 1; index <= 16; ++index)
    EXPECT_EQ(read_back(index), swc_chip_port_bitfield(masks[index - 1])) << "untouched: " << index;
}

TEST(BatchOverTheSocket, MalformedBatchesGetErrorRepliesAndServiceGoesOn) {
  SimulatorProcess sim;
  ASSERT_TRUE(sim.start());
  using swgenio::wire::BatchKind;
  const std::vector<swgenio::wire::BatchOp> ops{{BatchKind::kWrite, true, 2, 0, 0x41, 0x5F},
                                                {BatchKind::kRead, true, 2, 0, 0x41, 0}};
  const auto good = swgenio::wire::encode_batch_request(ops);
  auto miscounted = good;
  miscounted[4] = 3;
  auto bad_kind = good;
  bad_kind[8] = 9;
  auto oversized = good;
  oversized.resize(swgenio::wire::kMaxBatchDatagram + 100);
  for (const auto &datagram : {miscounted, bad_kind, oversized}) {
    const auto reply = raw_batch(sim.device, datagram, ops.size());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, -EINVAL);
    EXPECT_TRUE(reply->ops.empty());
  }
  EXPECT_EQ(sim.ctl("read 2 0 0x41"), "0x00000000\n") << "nothing of a refused batch ran";
  const auto reply = raw_batch(sim.device, good, ops.size());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->result, 0);
  ASSERT_EQ(reply->ops.size(), 2u);
  EXPECT_EQ(reply->ops[1].value, 0x5Fu);
}

// A simulator from before batches: single requests are served from a chip model, every batch is
// refused as a malformed request.
class SimulatorWithoutBatches {
 public:
  SimulatorWithoutBatches() {
    chip.learn_addresses(2, 3, 0x020000000000, 300);
    listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    ::unlink(path.c_str());
    if (::bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 1) != 0) {
      ADD_FAILURE() << "cannot listen on " << path;
      return;
    }
    server_ = std::thread([this] { serve(); });
  }
  ~SimulatorWithoutBatches() {
    ::shutdown(listener_, SHUT_RDWR);
    if (server_.joinable()) server_.join();
    ::close(listener_);
    ::unlink(path.c_str());
  }

  std::string path = "/tmp/swc-old-sim-" + std::to_string(getpid()) + ".dev";
  swchip::ChipModel chip;
  std::atomic<unsigned> refused{0};

 private:
  void serve() {
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    swchip::Driver driver(chip);
    std::vector<uint8_t> datagram(swgenio::wire::kMaxBatchDatagram);
    for (ssize_t n; (n = ::recv(fd, datagram.data(), datagram.size(), 0)) > 0;) {
      std::vector<uint8_t> reply;
      auto decoded = swgenio::wire::decode_request({datagram.data(), static_cast<size_t>(n)});
      if (decoded.error != 0) {
        refused += swgenio::wire::is_batch({datagram.data(), static_cast<size_t>(n)});
        reply = swgenio::wire::encode_reply(decoded.error, {});
      } else {
        const int rc = driver.handle(decoded.request.code, decoded.request.record);
        reply = swgenio::wire::encode_reply(
            rc, rc == 0 ? std::span<const uint8_t>(decoded.request.record) : std::span<const uint8_t>());
      }
      ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    ::close(fd);
  }

  int listener_ = -1;
  std::thread server_;
};

TEST(BatchOverTheSocket, SimulatorThatRefusesBatchesIsReadOneAccessAtATime) {
  SimulatorWithoutBatches old;
  const int fd = swgenio_open(old.path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  auto state = std::make_unique<SwcApiState>();
  SwcContext context{fd, state.get(), nullptr};
  swc_select_context(&context);
  const SwcInitSetup setup{1, 1, 0, -1, 0};
  swc_init_state(&setup);
  std::vector<SwcMacEntry> entries(kSwcMacTableSize);
  std::vector<uint32_t> pgids(kSwcMacTableSize);
  std::vector<swc_rc> rcs(kSwcMacTableSize);
  EXPECT_EQ(swc_ll_mac_table_read_range(1, kSwcMacTableSize, entries.data(), pgids.data(), rcs.data()), 0);
  // Closing ends the server thread's connection before anything is checked.
  swc_select_context(nullptr);
  swgenio_close(fd);
  EXPECT_GE(old.refused, 1u);
  unsigned valid = 0, wrong = 0;
  for (uint32_t i = 0; i < kSwcMacTableSize; ++i) {
    const bool read = rcs[i] == 0;
    wrong += read != old.chip.mac_entry(i).valid;
    if (read) {
      ++valid;
      wrong += entries[i].vid_mac.vid != 3u || entries[i].vid_mac.mac[0] != 0x02;
    }
  }
  EXPECT_EQ(valid, 300u);
  EXPECT_EQ(wrong, 0u);
}

}  // namespace
