// The access layer's socket back end against the simulator process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "simulator_process.h"
#include "swc_api.h"
#include "swc_io.h"
#include "swc_ll.h"
#include "swc_phy.h"
#include "swgenio.h"
#include "wire.h"

namespace {

class Simulator : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.start()) << "swchipd did not start"; }
  void TearDown() override {
    swc_select_context(nullptr);
    for (int fd : open_fds) swgenio_close(fd);
    ::unsetenv("PORTVISOR_SWITCH_DEVICE");
    ::unsetenv("PORTVISOR_SWITCH_REPLY_TIMEOUT_MS");
  }

  int open_device(const std::string &path) {
    const int fd = swgenio_open(path.c_str(), O_RDWR);
    if (fd >= 0) open_fds.push_back(fd);
    return fd;
  }

  void select(int fd) {
    context.fd = fd;
    context.state = &state;
    context.phy = nullptr;
    swc_select_context(&context);
    const SwcInitSetup setup{1, 1, 0, -1, 0};
    swc_init_state(&setup);
  }

  SimulatorProcess sim;
  std::vector<int> open_fds;
  std::unique_ptr<SwcApiState> state_record = std::make_unique<SwcApiState>();
  SwcApiState &state = *state_record;
  SwcContext context{};
};

TEST_F(Simulator, TwoOpensSeeOneChip) {
  const int board = open_device(sim.device);
  const int api = open_device(sim.device);
  ASSERT_GE(board, 0);
  ASSERT_GE(api, 0);
  select(api);
  ASSERT_EQ(swc_io_si_wr(1, 3, 0x10, 1522), 0);
  swgenio::SpiRecord record{};
  record.length = 6;
  record.buffer[0] = 1 << 5 | 3;
  record.buffer[1] = 0x10;
  ASSERT_EQ(swgenio_ioctl(board, swgenio::kCpldSpiReadWrite, &record), 0);
  EXPECT_EQ(record.buffer[4], 0x05);
  EXPECT_EQ(record.buffer[5], 0xF2);
  EXPECT_EQ(sim.ctl("read 1 3 0x10"), "0x000005f2\n");
}

TEST_F(Simulator, ParallelPathWithIndirectReads) {
  select(open_device(sim.device));
  state.serial = 0;
  ASSERT_EQ(swc_io_pi_wr(2, 0, 0x45, 0xDEADBEEF), 0);
  uint32_t value = 0;
  ASSERT_EQ(swc_io_pi_rd(2, 0, 0x45, &value), 0);
  EXPECT_EQ(value, 0xDEADBEEFu);
  ASSERT_EQ(swc_io_pi_rd(7, 0, 0x18, &value), 0);
  EXPECT_EQ(value, 0x073850E9u);
  EXPECT_EQ(sim.ctl("stick done on"), "ok\n");
  EXPECT_EQ(swc_io_pi_rd(2, 0, 0x45, &value), kSwcRcReadFailed);
}

TEST_F(Simulator, InjectedFailuresGiveReadAndWriteCodes) {
  select(open_device(sim.device));
  EXPECT_EQ(sim.ctl("fail spi-read count 1"), "ok\n");
  uint32_t value = 5;
  EXPECT_EQ(swc_io_si_rd(7, 0, 0x18, &value), kSwcRcReadFailed);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(swc_io_si_rd(7, 0, 0x18, &value), 0);
  EXPECT_EQ(sim.ctl("fail spi-write block 2"), "ok\n");
  EXPECT_EQ(swc_io_si_wr(2, 0, 0x40, 1), kSwcRcWriteFailed);
  EXPECT_EQ(swc_io_si_wr(1, 0, 0x40, 1), 0);
}

TEST_F(Simulator, DriverRequestsOfTheBoard) {
  const int fd = open_device(sim.device);
  swgenio::VersionRecord version{};
  ASSERT_EQ(swgenio_ioctl(fd, swgenio::kDriverVersion, &version), 0);
  EXPECT_EQ(std::string(version.text, strnlen(version.text, sizeof version.text)),
            "swchipd simulated SwGenIO 1.0");
  swgenio::SpiTimingRecord timing{{511, 1, 400}};
  ASSERT_EQ(swgenio_ioctl(fd, swgenio::kSpiTiming, &timing), 0);
  swgenio::GpioRecord gpio{1u << 3, 1u << 3};
  ASSERT_EQ(swgenio_ioctl(fd, swgenio::kCpuGpioDirection, &gpio), 0);
  ASSERT_EQ(swgenio_ioctl(fd, swgenio::kCpuGpioSet, &gpio), 0);
  swgenio::GpioRecord get{1u << 3, 0};
  ASSERT_EQ(swgenio_ioctl(fd, swgenio::kCpuGpioGet, &get), 0);
  EXPECT_EQ(get.value, 1u << 3);
  EXPECT_EQ(sim.ctl("driver"),
            "spi-timing 511 1 400 cpu-gpio-direction 0x00000008 cpu-gpio-output 0x00000008\n");
  // A descriptor of the access layer is a real one.
  EXPECT_EQ(fcntl(fd, F_SETFD, FD_CLOEXEC), 0);
  // An unknown request is refused by the driver, not by a crash.
  uint8_t record[8] = {};
  errno = 0;
  EXPECT_EQ(swgenio_ioctl(fd, 0xc0084799, record), -1);
  EXPECT_EQ(errno, ENOTTY);
}

TEST_F(Simulator, EnvironmentVariableRedirectsTheDevicePath) {
  ::setenv("PORTVISOR_SWITCH_DEVICE", sim.device.c_str(), 1);
  select(open_device("/dev/swgenio"));
  uint32_t value = 0;
  ASSERT_EQ(swc_io_si_rd(7, 0, 0x18, &value), 0);
  EXPECT_EQ(value, 0x073850E9u);
}

TEST_F(Simulator, ChipStateSurvivesAClientThatGoesAway) {
  int fd = open_device(sim.device);
  select(fd);
  ASSERT_EQ(swc_io_si_wr(2, 0, 0x41, 77), 0);
  swgenio_close(fd);
  open_fds.clear();
  select(open_device(sim.device));
  uint32_t value = 0;
  ASSERT_EQ(swc_io_si_rd(2, 0, 0x41, &value), 0);
  EXPECT_EQ(value, 77u);
}

int raw_connect(const std::string &path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return -1;
  return fd;
}

int32_t round_trip(int fd, const std::vector<uint8_t> &datagram) {
  if (::send(fd, datagram.data(), datagram.size(), 0) < 0) return 1;
  uint8_t reply[600];
  const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
  auto decoded = swgenio::wire::decode_reply({reply, n > 0 ? static_cast<size_t>(n) : 0});
  return decoded ? decoded->result : 1;
}

TEST_F(Simulator, MalformedRequestsGetErrorRepliesAndServiceGoesOn) {
  const int fd = raw_connect(sim.device);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(round_trip(fd, {1, 2, 3}), -EINVAL);
  EXPECT_EQ(round_trip(fd, swgenio::wire::encode_request(0xdeadbeef, std::vector<uint8_t>(8))), -ENOTTY);
  EXPECT_EQ(round_trip(fd, swgenio::wire::encode_request(swgenio::k32BitRead, std::vector<uint8_t>(3))),
            -EINVAL);
  EXPECT_EQ(round_trip(fd, std::vector<uint8_t>(4000, 0x53)), -EINVAL);
  std::vector<uint8_t> spi(20, 0);
  spi[0] = 7;  // SPI length other than 6
  EXPECT_EQ(round_trip(fd, swgenio::wire::encode_request(swgenio::kCpldSpiReadWrite, spi)), -EINVAL);
  ::close(fd);
  EXPECT_EQ(sim.ctl("read 7 0 0x18"), "0x073850e9\n");
}

TEST_F(Simulator, ControlClientReportsRejectedCommands) {
  int status = 0;
  EXPECT_EQ(sim.ctl("read 9 0 0", &status).rfind("error: ", 0), 0u);
  EXPECT_EQ(status, 1);
  sim.ctl("read 7 0 0x18", &status);
  EXPECT_EQ(status, 0);
}

TEST_F(Simulator, CpuFramesThroughTheSocket) {
  select(open_device(sim.device));
  const std::string hex =
      "0180c2000000001122334455002642420300000000000000000000000000000000000000000000000000000000000000000000"
      "000000000000000000";
  EXPECT_EQ(sim.ctl("inject 1 6 " + hex + " 0x0001"), "ok\n");
  ASSERT_EQ(swc_ll_cpu_rx_frameready(1), 1);
  SwcCpuRxHeader header{};
  uint8_t buffer[2048];
  ASSERT_EQ(swc_ll_cpu_rx_frame(1, &header, buffer, sizeof buffer), 0);
  ASSERT_EQ(header.length, hex.size() / 2);
  EXPECT_EQ(header.port_no, 6u);
  EXPECT_EQ(header.vid, 1u);
  EXPECT_EQ(buffer[14], 0x42);
  EXPECT_EQ(swc_ll_cpu_rx_frameready(1), 0);

  ASSERT_EQ(swc_ll_cpu_tx_frame(3, buffer, header.length, 0), 0);
  EXPECT_EQ(sim.ctl("transmitted 2"), hex + "\n");
  EXPECT_EQ(sim.ctl("transmitted 2"), "\n");
}

TEST_F(Simulator, TablesPhysAndStuckBitsThroughTheControlSocket) {
  select(open_device(sim.device));
  SwcMacEntry e{};
  e.vid_mac.vid = 1;
  e.vid_mac.mac[0] = 0x02;
  e.vid_mac.mac[5] = 0x07;
  ASSERT_EQ(swc_ll_mac_table_learn(&e, 1), 0);
  EXPECT_NE(sim.ctl("dump mac").find("vid 1 mac 020000000007"), std::string::npos);
  EXPECT_EQ(sim.ctl("stick mac on"), "ok\n");
  EXPECT_EQ(sim.ctl("write 2 0 0xb0 5"), "ok\n");  // a clear that never completes
  EXPECT_EQ(sim.ctl("read 2 0 0xb0"), "0x00000005\n");
  EXPECT_EQ(sim.ctl("phy 0 2 absent"), "ok\n");
  EXPECT_EQ(swc_ll_miim_read(0, 2, 1), kSwcRcPhyNotMounted);
}

TEST_F(Simulator, StartUpAndLinkChangesThroughTheSocket) {
  std::vector<unsigned char> phy_state(swc_phy_sizeof_al(6));
  SwcPhyContext phy{0, reinterpret_cast<SwcPhyState *>(phy_state.data())};
  context = {open_device(sim.device), &state, &phy};
  swc_select_context(&context);
  const SwcInitSetup setup{1, 1, 0, -1, 0};
  ASSERT_EQ(swc_init(&setup), 0);
  const SwcPortMap map[7] = {{0, 0, 0}, {0, 0, 0}, {1, 0, 1}, {2, 0, 2}, {3, 0, 3}, {4, 0, 4}, {6, 1, 3}};
  ASSERT_EQ(swc_port_map_set(map), 0);
  const SwcPhyResetSetup reset{kSwcIfInternal, 0, 0, 0, 0};
  ASSERT_EQ(swc_phy_reset(2, &reset), 0);
  const SwcPhySetup aneg{kSwcPhyModeAneg, 0, 0, 1, 1, 1, 1, 1, 1, 1};
  ASSERT_EQ(swc_phy_setup(2, &aneg), 0);
  SwcPortStatus st{};
  swc_port_status_get(2, &st);
  ASSERT_EQ(swc_port_status_get(2, &st), 0);
  EXPECT_EQ(st.link, 1u);
  EXPECT_EQ(st.speed, kSwcSpeed1G);

  EXPECT_EQ(sim.ctl("cable 0 1 unplug"), "ok\n");
  ASSERT_EQ(swc_port_status_get(2, &st), 0);
  EXPECT_EQ(st.link, 0u);
  EXPECT_EQ(sim.ctl("cable 0 1 plug 0x1c0"), "ok\n");  // 10 full, 100 half and full
  ASSERT_EQ(swc_port_status_get(2, &st), 0);
  EXPECT_EQ(st.link, 1u);
  EXPECT_EQ(st.speed, kSwcSpeed100M);
  EXPECT_EQ(st.full_duplex, 1u);
  EXPECT_EQ(sim.ctl("phy 0 1 absent"), "ok\n");
  EXPECT_EQ(swc_port_status_get(2, &st), kSwcRcPhyNotMounted);
}

TEST_F(Simulator, SimulatorThatStopsAnsweringFailsTheAccessInsteadOfHanging) {
  ::setenv("PORTVISOR_SWITCH_REPLY_TIMEOUT_MS", "1000", 1);
  select(open_device(sim.device));
  uint32_t value = 0;
  ASSERT_EQ(swc_io_si_rd(7, 0, 0x18, &value), 0);
  ::kill(sim.pid, SIGSTOP);
  EXPECT_EQ(swc_io_si_rd(7, 0, 0x18, &value), kSwcRcReadFailed);
  ::kill(sim.pid, SIGCONT);
  // The late reply is not taken for the next access's: the connection stays failed.
  EXPECT_EQ(swc_io_si_rd(7, 0, 0x18, &value), kSwcRcReadFailed);
  select(open_device(sim.device));
  ASSERT_EQ(swc_io_si_rd(7, 0, 0x18, &value), 0);
  EXPECT_EQ(value, 0x073850E9u);
}

TEST_F(Simulator, TerminatesOnSigtermAndRemovesItsSockets) {
  EXPECT_EQ(sim.stop(), 0);
  struct stat st;
  EXPECT_NE(::stat(sim.device.c_str(), &st), 0);
  EXPECT_NE(::stat(sim.control.c_str(), &st), 0);
}

}  // namespace
