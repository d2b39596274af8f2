// portvisor on the simulated board: the chip simulator and the daemon in a network namespace of their
// own with an "eth0", reached over UDP port 28. Needs root (namespaces, tap device, port 28).
#include "mgmt_client.h"
#include "process_util.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <thread>

using namespace std::chrono_literals;

namespace {

bool run(const std::string &command) {
    return std::system(command.c_str()) == 0;
}

// Everything of this test program, the daemon and the simulator included, lives in a network namespace
// of its own with loopback up and an "eth0" of address 00:11:22:33:44:55.
class board_namespace : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(unshare(CLONE_NEWNET), 0) << "needs root for a network namespace";
        ASSERT_TRUE(run("ip link set lo up"));
        ASSERT_TRUE(add_eth0());
    }
    static bool add_eth0() {
        return run("ip tuntap add eth0 mode tap && ip link set eth0 address 00:11:22:33:44:55 && ip link set eth0 up");
    }
};
const auto *const environment = ::testing::AddGlobalTestEnvironment(new board_namespace);

class SimulatedBoard : public ::testing::Test {
protected:
    void SetUp() override {
        simulator = std::make_unique<child_process>(
            std::vector<std::string>{std::getenv("SWCHIPD_BIN"), "--device", device(), "--control", dir.path() + "/ctl"},
            std::vector<std::string>{});
        struct stat st {};
        for (int i = 0; i < 500 && stat(device().c_str(), &st) != 0; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(stat(device().c_str(), &st), 0) << simulator->output();
    }
    void TearDown() override {
        if (!run("ip link show eth0 >/dev/null 2>&1"))
            board_namespace::add_eth0();
        kill(simulator->pid(), SIGTERM);
        simulator->wait_exit(5s);
    }
    std::string device() const { return dir.path() + "/swgenio"; }
    std::unique_ptr<child_process> start_portvisor() {
        return std::make_unique<child_process>(
            std::vector<std::string>{std::getenv("PORTVISOR_BIN"), "--trace", "all", "debug"},
            std::vector<std::string>{"PORTVISOR_WORKDIR=" + dir.path() + "/work",
                                     "PORTVISOR_PIDFILE=" + dir.path() + "/pid",
                                     "PORTVISOR_SWITCH_DEVICE=" + device()});
    }
    bool wait_ready() {
        for (int i = 0; i < 200; ++i) {
            uint32_t res = 99;
            if (client.object(8, 0, std::vector<uint8_t>(8), res, 50ms))
                return res == 0;
        }
        return false;
    }
    temp_dir dir;
    std::unique_ptr<child_process> simulator;
    mgmt_client client{28};
};

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
