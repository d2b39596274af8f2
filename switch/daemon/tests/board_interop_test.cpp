// portvisor on the simulated board: the chip simulator and the daemon in a network namespace of their
// own with an "eth0", reached over UDP port 28. Needs root (namespaces, tap device, port 28).
#include "simulated_board.h"

namespace {

const auto *const environment = ::testing::AddGlobalTestEnvironment(new board_namespace);

TEST_F(SimulatedBoard, DaemonStartsOnTheSimulatorAndIsManagedOverPort28) {
    auto pv = start_portvisor();
    ASSERT_TRUE(wait_ready()) << pv->output();
    EXPECT_TRUE(pv->wait_for_output("SwGenIO driver version: swchipd simulated SwGenIO 1.0.", 5s)) << pv->output();
    EXPECT_TRUE(pv->wait_for_output("portvisor/mgmt/mgmt_init(", 5s)) << pv->output();
    EXPECT_EQ(pv->output().find("/emerg:"), std::string::npos) << pv->output();

    uint32_t res = 99;
    auto mac = client.object(11, 0, std::vector<uint8_t>(6), res, 1s);
    ASSERT_TRUE(mac);
    EXPECT_EQ(res, 0u);
    EXPECT_EQ(*mac, (std::vector<uint8_t>{0x02, 0x11, 0x22, 0x44, 0x55, 0x00}));

    ASSERT_TRUE(client.object(10, 1, u32_data(1), res, 1s));
    ASSERT_TRUE(pv->wait_for_output("Pause execution", 5s));
    auto paused = client.object(10, 0, u32_data(0), res, 1s);
    ASSERT_TRUE(paused);
    EXPECT_EQ(le_load32(paused->data()), 1u);
    ASSERT_TRUE(client.object(10, 1, u32_data(0), res, 1s));
    ASSERT_TRUE(pv->wait_for_output("Resume execution", 5s));

    ASSERT_TRUE(client.object(5, 1, {}, res, 1s));
    EXPECT_EQ(res, 0u);
    EXPECT_EQ(pv->wait_exit(10s), 0);
}

TEST_F(SimulatedBoard, RestartReadsTheSavedConfiguration) {
    auto first = start_portvisor();
    ASSERT_TRUE(wait_ready()) << first->output();
    uint32_t res = 99;
    std::vector<uint8_t> block(100, 0x42);
    ASSERT_TRUE(client.object(6, 1, block, res, 1s));
    ASSERT_EQ(res, 0u);
    ASSERT_TRUE(client.object(5, 1, {}, res, 1s));
    ASSERT_EQ(first->wait_exit(10s), 0);

    auto second = start_portvisor();
    ASSERT_TRUE(wait_ready()) << second->output();
    EXPECT_TRUE(second->wait_for_output("File read success", 5s)) << second->output();
    auto read = client.object(6, 0, std::vector<uint8_t>(100), res, 1s);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, block);
    kill(second->pid(), SIGTERM);
    EXPECT_EQ(second->wait_exit(10s), 0);
}

TEST_F(SimulatedBoard, WithoutEth0TheBoardReportsAndManagementStillWorks) {
    ASSERT_TRUE(run("ip link del eth0"));
    auto pv = start_portvisor();
    ASSERT_TRUE(wait_ready()) << pv->output();
    EXPECT_TRUE(pv->wait_for_output("/emerg: SIOCGIFHWADDR(eth0): ", 5s)) << pv->output();
    kill(pv->pid(), SIGTERM);
    EXPECT_EQ(pv->wait_exit(10s), 0);
}

} // namespace
