// The aggregation table of portvisor on the simulated board, through management datagrams and a crafted
// switch.conf: a front port belongs to one aggregation at most, in the table, in block 10 and in the
// chip. Needs root (namespaces, tap device, UDP port 28).
#include "conf_file_image.h"
#include "simulated_board.h"

#include "l2_aggr.h"

#include <cstdlib>
#include <string>

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new BoardNamespace);

constexpr uint32_t kCmdGet = 0, kCmdAdd = 2, kCmdDel = 3;

lacp::AggrEntry aggregation(uint32_t poag_no, std::initializer_list<unsigned> ports) {
  lacp::AggrEntry entry;
  entry.poag_no = poag_no;
  for (unsigned p : ports) entry.members[p] = 1;
  return entry;
}

// A table request of object 4007: count, entry size, then the entries.
std::vector<uint8_t> table_data(const std::vector<lacp::AggrEntry> &entries, size_t room) {
  std::vector<uint8_t> data(4 + room * lacp::kAggrEntrySize, 0);
  le_store16(data.data(), static_cast<uint16_t>(room));
  le_store16(data.data() + 2, lacp::kAggrEntrySize);
  for (size_t i = 0; i < entries.size(); ++i)
    lacp::encode_aggr_entry(entries[i], data.data() + 4 + i * lacp::kAggrEntrySize);
  return data;
}

std::vector<lacp::AggrEntry> block_entries(const std::vector<uint8_t> &block) {
  std::vector<lacp::AggrEntry> entries;
  for (size_t i = 0; i < le_load16(block.data()); ++i)
    entries.push_back(lacp::decode_aggr_entry(block.data() + 4 + i * lacp::kAggrEntrySize));
  return entries;
}

class AggregationsOnBoard : public SimulatedBoard {
 protected:
  void SetUp() override {
    SimulatedBoard::SetUp();
    // switch.conf of the daemon's work folder, for ConfFileImage.
    setenv("PORTVISOR_WORKDIR", (dir.path() + "/work").c_str(), 1);
    ASSERT_NO_FATAL_FAILURE(start());
  }
  void TearDown() override {
    stop();
    unsetenv("PORTVISOR_WORKDIR");
    SimulatedBoard::TearDown();
  }
  // The daemon with a cable on every front port: a port without link forwards nothing, so its source
  // mask would show no aggregation.
  void start() {
    daemon = start_portvisor({"--trace", "l2", "debug"});
    ASSERT_TRUE(wait_ready()) << daemon->output();
    for (unsigned p = 1; p <= 6; ++p)
      ASSERT_EQ(ctl(p == 6 ? "cable 1 3 plug" : "cable 0 " + std::to_string(p - 1) + " plug"), "ok");
    for (unsigned p = 1; p <= 6; ++p) ASSERT_NE(forwarding_source_mask(p), 0u) << "no link on port " << p;
  }
  void stop() {
    if (!daemon) return;
    kill(daemon->pid(), SIGTERM);
    EXPECT_EQ(daemon->wait_exit(10s), 0);
    daemon.reset();
  }
  uint32_t request(uint32_t cmd, const std::vector<lacp::AggrEntry> &entries) {
    uint32_t res = 99;
    EXPECT_TRUE(client.object(lacp::kObjTable, cmd, table_data(entries, entries.size()), res, 5s));
    return res;
  }
  // The table as object 4007 walks it.
  std::vector<lacp::AggrEntry> table() {
    uint32_t res = 99;
    auto data = client.object(lacp::kObjTable, kCmdGet, table_data({}, lacp::kAggrTableMax), res, 5s);
    EXPECT_TRUE(data.has_value());
    EXPECT_EQ(res, 0u);
    return data ? block_entries(*data) : std::vector<lacp::AggrEntry>{};
  }
  std::vector<lacp::AggrEntry> saved() {
    return block_entries(ConfFileImage::read().blocks[lacp::kConfBlockTable]);
  }
  // The front ports the chip aggregates with front port p, as digits ("12" for 1 and 2; a port that
  // is no member gives its own number): a port's source mask leaves out its own aggregation. A port
  // whose aggregation just changed may not forward for a moment (an empty mask): that is waited out.
  std::string chip_aggregation(unsigned port) {
    const uint32_t mask = forwarding_source_mask(port);
    std::string ports;
    for (unsigned p = 1; p <= 6; ++p)
      if (!(mask >> chip_port(p) & 1)) ports += std::to_string(p);
    return ports;
  }
  uint32_t source_mask(unsigned port) {
    return static_cast<uint32_t>(
        std::stoul(ctl("read 2 0 " + std::to_string(0x80 + chip_port(port))), nullptr, 16));
  }
  // The source mask once the port forwards; 0 if it does not within 30 s.
  uint32_t forwarding_source_mask(unsigned port) {
    uint32_t mask = source_mask(port);
    for (int i = 0; i < 300 && mask == 0; ++i) {
      std::this_thread::sleep_for(100ms);
      mask = source_mask(port);
    }
    return mask;
  }
  static unsigned chip_port(unsigned port) { return port == 6 ? 6 : port - 1; }

  std::unique_ptr<ChildProcess> daemon;
};

TEST_F(AggregationsOnBoard, APortJoinsOneAggregationOnly) {
  ASSERT_EQ(request(kCmdAdd, {aggregation(7, {1, 2})}), 0u);
  EXPECT_EQ(request(kCmdAdd, {aggregation(8, {2, 3})}), 1u) << "port 2 is in 7";
  EXPECT_EQ(request(kCmdAdd, {aggregation(9, {})}), 1u) << "no member";
  EXPECT_EQ(table(), (std::vector<lacp::AggrEntry>{aggregation(7, {1, 2})}));
  EXPECT_EQ(saved(), table());
  EXPECT_EQ(chip_aggregation(1), "12");
  EXPECT_EQ(chip_aggregation(2), "12");
  EXPECT_EQ(chip_aggregation(3), "3");
  EXPECT_EQ(request(kCmdDel, {aggregation(8, {})}), 1u);
  EXPECT_EQ(chip_aggregation(2), "12") << "deleting the refused number leaves 7 alone";

  // An entry moves its own ports; those it gives up are free for another.
  ASSERT_EQ(request(kCmdAdd, {aggregation(7, {2, 3})}), 0u);
  ASSERT_EQ(request(kCmdAdd, {aggregation(8, {1, 4})}), 0u);
  EXPECT_EQ(table(), (std::vector<lacp::AggrEntry>{aggregation(7, {2, 3}), aggregation(8, {1, 4})}));
  EXPECT_EQ(saved(), table());
  EXPECT_EQ(chip_aggregation(2), "23");
  EXPECT_EQ(chip_aggregation(4), "14");
}

TEST_F(AggregationsOnBoard, BlockEntryOverlappingAnEarlierOneIsSkippedAtTheStart) {
  stop();
  ConfFileImage image = ConfFileImage::read();
  image.blocks[lacp::kConfBlockTable] = table_data(
      {aggregation(7, {1, 2}), aggregation(8, {2, 3}), aggregation(9, {4, 5})}, lacp::kAggrTableMax);
  image.write();
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ(table(), (std::vector<lacp::AggrEntry>{aggregation(7, {1, 2}), aggregation(9, {4, 5})}));
  EXPECT_EQ(chip_aggregation(2), "12");
  EXPECT_EQ(chip_aggregation(3), "3");
  EXPECT_EQ(chip_aggregation(5), "45");
  EXPECT_NE(daemon->output().find("Skipping poag_no: 8, port 2 already in poag_no: 7"), std::string::npos)
      << daemon->output();
}

}  // namespace
