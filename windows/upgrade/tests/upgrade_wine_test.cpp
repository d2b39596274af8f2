// Under wine: the adapter access layer through the stand-in W64N55.dll (imported by ordinal), and whole
// upgrades from the engine through the library to the native router peer, whose received image is
// compared byte for byte with the file sent.
#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "adapter_frame_port.h"
#include "adapter_packet_io.h"
#include "window_engine_host.h"
#include "wine_support.h"
#include "device_name.h"
#include "hl_download.h"
#include "hl_upgrade.h"

namespace upgrade {
namespace {

const char kGuid[] = "{5E1F0C2A-0000-4000-8000-0000000000A1}";
const char kDeviceName[] = "\\DEVICE\\{5E1F0C2A-0000-4000-8000-0000000000A1}";
const Mac kOwnMac{0x00, 0x16, 0x3E, 0x10, 0x20, 0x30};

struct RecordingHost final : EngineHost {
  void post_progress(std::intptr_t wParam, std::intptr_t lParam) override {
    posts.push_back({wParam, lParam});
  }
  void start_reboot_wait() override { ++reboot_waits; }
  std::vector<std::pair<std::intptr_t, std::intptr_t>> posts;
  int reboot_waits = 0;
};

// The engine wired to an open adapter, as the wizard wires it.
struct EngineOnAdapter {
  EngineOnAdapter(AdapterPacketIo &io, RecordingHost &host) : port(io), engine(port, clock, host, images) {}
  int query_router(DeviceInfoBlock &block) {
    return HLdownload(engine).QueryDeviceInfo(*mac_of_device_name("VT010203"), block);
  }
  AdapterFramePort port;
  TickClock clock;
  FileImageStore images;
  UpgradeEngine engine;
};

struct ListedAdapter {
  std::string description, device_name;
};

class CollectingList final : public AdapterListSink {
 public:
  bool add_adapter(const char *name) override {
    ListedAdapter a;
    if (!AdapterPacketIo::read_adapter_texts(name, a.description, a.device_name)) return false;
    adapters.push_back(a);
    return true;
  }
  std::vector<ListedAdapter> adapters;
};

class WineAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnvironmentVariableA(
        "W64N55_ADAPTERS",
        (std::string(kGuid) + "|00:16:3e:10:20:30|Virtual Ethernet A;"
                              "{5E1F0C2A-0000-4000-8000-0000000000B2}|00:16:3e:10:20:31|Virtual Ethernet B")
            .c_str());
    SetEnvironmentVariableA("W64N55_SEND_MODE", nullptr);
  }
  void use_peer(int port) {
    SetEnvironmentVariableA("W64N55_PEER", ("127.0.0.1:" + std::to_string(port)).c_str());
  }
};

TEST_F(WineAdapterTest, ListsTheConfiguredAdaptersWithDescriptionAndDeviceName) {
  AdapterPacketIo io;
  CollectingList list;
  ASSERT_EQ(io.EnumerateAdapters(list), 2);
  EXPECT_EQ(list.adapters[0].description, "Virtual Ethernet A");
  EXPECT_EQ(list.adapters[0].device_name, kDeviceName);
  EXPECT_EQ(list.adapters[0].device_name.substr(8), kGuid);
}

TEST_F(WineAdapterTest, TheFirstAdapterThatCannotBeDescribedEndsTheList) {
  // A description longer than the 260-byte text the program offers cannot be read.
  std::string too_long(300, 'x');
  SetEnvironmentVariableA("W64N55_ADAPTERS", ("{A}|00:00:00:00:00:01|first;{B}|00:00:00:00:00:02|" +
                                              too_long + ";{C}|00:00:00:00:00:03|third")
                                                 .c_str());
  AdapterPacketIo io;
  CollectingList list;
  EXPECT_EQ(io.EnumerateAdapters(list), 1);
  ASSERT_EQ(list.adapters.size(), 1u);
  EXPECT_EQ(list.adapters[0].device_name, "\\DEVICE\\{A}");
}

TEST_F(WineAdapterTest, NoAdaptersGiveAnEmptyList) {
  SetEnvironmentVariableA("W64N55_ADAPTERS", ";");
  AdapterPacketIo io;
  CollectingList list;
  EXPECT_EQ(io.EnumerateAdapters(list), 0);
}

TEST_F(WineAdapterTest, MirrorsTheEthernetAdaptersTheIpHelperReports) {
  SetEnvironmentVariableA("W64N55_ADAPTERS", nullptr);
  std::set<std::string> expected;
  ULONG size = 0;
  if (GetAdaptersInfo(nullptr, &size) == ERROR_BUFFER_OVERFLOW) {
    std::vector<std::uint8_t> buffer(size);
    auto *info = reinterpret_cast<IP_ADAPTER_INFO *>(buffer.data());
    ASSERT_EQ(GetAdaptersInfo(info, &size), static_cast<ULONG>(NO_ERROR));
    for (; info; info = info->Next)
      if (info->Type == MIB_IF_TYPE_ETHERNET) expected.insert(std::string("\\DEVICE\\") + info->AdapterName);
  }
  AdapterPacketIo io;
  CollectingList list;
  EXPECT_EQ(io.EnumerateAdapters(list), static_cast<int>(expected.size()));
  std::set<std::string> listed;
  for (auto &a : list.adapters) listed.insert(a.device_name);
  EXPECT_EQ(listed, expected);
}

TEST_F(WineAdapterTest, NothingWorksWithoutAnOpenAdapter) {
  AdapterPacketIo io;
  std::uint8_t frame[64] = {};
  std::uint8_t mac[6];
  EXPECT_EQ(io.SendUpgradeFrame(frame, sizeof frame), 1);
  EXPECT_EQ(io.StartReceiving(), 1);
  EXPECT_EQ(io.CreateAdapterEvent(), 1);
  EXPECT_EQ(io.GetOwnMac(mac), 2);
  EXPECT_EQ(io.OpenAdapter("\\DEVICE\\{00000000-0000-0000-0000-000000000000}"), kOpenFailed);
  EXPECT_FALSE(io.is_open());
}

TEST_F(WineAdapterTest, OpensReadsItsAddressAndReopensOnAnotherAdapter) {
  UnixTempDir dir;
  RouterPeerProcess peer(dir, "");
  ASSERT_TRUE(peer.ready()) << "router peer did not start from RT_HOST_BIN_DIR=" << env("RT_HOST_BIN_DIR");
  use_peer(peer.port());
  AdapterPacketIo io;
  ASSERT_EQ(io.OpenAdapter(kDeviceName), kOpened);
  std::uint8_t mac[6];
  ASSERT_EQ(io.GetOwnMac(mac), 0);
  EXPECT_EQ(0, std::memcmp(mac, kOwnMac.data(), 6));
  ASSERT_EQ(io.OpenAdapter("\\DEVICE\\{5E1F0C2A-0000-4000-8000-0000000000B2}"), kOpened);
  ASSERT_EQ(io.GetOwnMac(mac), 0);
  EXPECT_EQ(mac[5], 0x31);
  // The slots of the first adapter were posted again on the second: a query still gets its answer.
  RecordingHost host;
  EngineOnAdapter wired(io, host);
  DeviceInfoBlock block{};
  EXPECT_EQ(wired.query_router(block), 0);
  EXPECT_EQ(version_text(block), "V1.0.23");
}

TEST_F(WineAdapterTest, SixtyFourFramesQueueBetweenTwoReceivesAndTheRingKeepsGoing) {
  UnixTempDir dir;
  RouterPeerProcess peer(dir, "--copies 80");
  ASSERT_TRUE(peer.ready());
  use_peer(peer.port());
  AdapterPacketIo io;
  ASSERT_EQ(io.OpenAdapter(kDeviceName), kOpened);
  FrameBuffer query{};
  FrameFields fields;
  fields.destination = *mac_of_device_name("VT010203");
  fields.source = kOwnMac;
  fields.ether_type = kEtherTypeVariant1;
  std::size_t length = encode_frame(fields, {}, query);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(io.SendUpgradeFrame(query.data(), length), 0);
    Sleep(1000);  // 80 answers arrive while nobody receives: 64 wait in the posted slots
    FrameBuffer frame;
    int received = 0;
    while (std::size_t n = io.ReceiveUpgradeFrame(frame.data())) {
      ASSERT_GE(n, 60u);
      auto parsed = parse_frame(std::span<const std::uint8_t>(frame.data(), n));
      ASSERT_TRUE(parsed);
      EXPECT_EQ(parsed->fields.length, kInfoBlockSize);
      ++received;
    }
    EXPECT_EQ(received, 64) << "round " << round;
  }
}

class WineUpgradeTest : public WineAdapterTest {
 protected:
  // Scans, queries and upgrades like the wizard does; returns the seconds the transfer took.
  double upgrade(RouterPeerProcess &peer, const std::vector<std::uint8_t> &image, const UnixTempDir &dir) {
    use_peer(peer.port());
    write_image(image, dir);
    AdapterPacketIo io;
    EXPECT_EQ(io.OpenAdapter(kDeviceName), kOpened);
    EngineOnAdapter wired(io, host);
    HLdownload download(wired.engine);
    std::vector<std::string> names;
    EXPECT_EQ(download.ScanDevices(names), 1);
    EXPECT_EQ(names, std::vector<std::string>{"VT010203"});
    DeviceInfoBlock router_block{}, file_block{};
    EXPECT_EQ(wired.query_router(router_block), 0);
    EXPECT_EQ(version_text(router_block), "V1.0.23");
    EXPECT_EQ(download.ReadBinHeader(dir.windows("HBX7300NQ.bin"), file_block), 0);
    EXPECT_EQ(version_text(file_block), "V1.1.05");
    auto start = std::chrono::steady_clock::now();
    HLupgrade(wired.engine).run("VT010203", dir.windows("HBX7300NQ.bin"));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    io.ClearPacketFilter();
    return seconds;
  }
  static void write_image(const std::vector<std::uint8_t> &image, const UnixTempDir &dir) {
    std::ofstream out(dir.windows("HBX7300NQ.bin"), std::ios::binary);
    out.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
  }

  RecordingHost host;
};

TEST_F(WineUpgradeTest, FourMebibyteImageArrivesByteForByte) {
  UnixTempDir dir;
  RouterPeerProcess peer(dir, "");
  ASSERT_TRUE(peer.ready()) << "router peer did not start from RT_HOST_BIN_DIR=" << env("RT_HOST_BIN_DIR");
  auto image = make_image(4u << 20);
  double seconds = upgrade(peer, image, dir);
  ASSERT_EQ(host.reboot_waits, 1);
  int status = -1;
  ASSERT_TRUE(peer.wait_for_end(status));
  EXPECT_EQ(status, 0);
  auto received = peer.received_image();
  ASSERT_EQ(received.size(), image.size());
  EXPECT_TRUE(received == image);
  double frames = 2.0 * 2 * (image.size() / 512) + 4;  // program and verify frames, each answered
  std::printf("4 MiB upgrade under wine: %.2f s, %.0f frames/s (requests and replies)\n", seconds,
              frames / seconds);
  EXPECT_EQ(host.posts.back().first, 199);
}

TEST_F(WineUpgradeTest, FallsBackToEtherTypeZeroAndRecoversLostAnswersOverTheRealPath) {
  UnixTempDir dir;
  RouterPeerProcess peer(dir, "--variant0 --start-ack5 --drop 2:2 --drop 4:1");
  ASSERT_TRUE(peer.ready());
  auto image = make_image(64 * 1024 + 100);
  upgrade(peer, image, dir);
  ASSERT_EQ(host.reboot_waits, 1);
  EXPECT_TRUE(peer.received_image() == image);
}

TEST_F(WineUpgradeTest, RefusedEndIsReportedAsAProgrammingError) {
  UnixTempDir dir;
  RouterPeerProcess peer(dir, "--end-status 13");
  ASSERT_TRUE(peer.ready());
  upgrade(peer, make_image(10000), dir);
  EXPECT_EQ(host.reboot_waits, 0);
  EXPECT_EQ(host.posts.back(), std::make_pair(kProgressFailed, std::intptr_t{7}));
  EXPECT_FALSE(file_exists(dir.windows("received.bin")));
}

TEST_F(WineUpgradeTest, ASendTheLibraryRefusesEndsTheTransferAtOnce) {
  UnixTempDir dir;
  RouterPeerProcess peer(dir, "");
  ASSERT_TRUE(peer.ready());
  use_peer(peer.port());
  write_image(make_image(10000), dir);
  AdapterPacketIo io;
  ASSERT_EQ(io.OpenAdapter(kDeviceName), kOpened);
  EngineOnAdapter wired(io, host);
  DeviceInfoBlock block{};
  ASSERT_EQ(wired.query_router(block), 0);

  // The adapter dies after the search: the library now refuses every frame.
  SetEnvironmentVariableA("W64N55_SEND_MODE", "fail");
  std::uint8_t frame[64] = {};
  EXPECT_NE(io.SendUpgradeFrame(frame, sizeof frame), 0);
  auto start = std::chrono::steady_clock::now();
  HLupgrade(wired.engine).run("VT010203", dir.windows("HBX7300NQ.bin"));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Not a minute of unanswered start requests first.
  EXPECT_LT(seconds, 10.0);
  EXPECT_EQ(host.posts, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{kProgressFailed, 0}}));
  EXPECT_EQ(host.reboot_waits, 0);
  EXPECT_FALSE(file_exists(dir.windows("received.bin")));
}

TEST_F(WineAdapterTest, PendingSendsCompleteAndAnAbandonedOneStaysValidUntilTheLibraryLetsGo) {
  UnixTempDir dir;
  RouterPeerProcess peer(dir, "");
  ASSERT_TRUE(peer.ready());
  use_peer(peer.port());
  SetEnvironmentVariableA("W64N55_SEND_MODE", "pending");
  SetEnvironmentVariableA("W64N55_SEND_DELAY_MS", "5");
  AdapterPacketIo io;
  ASSERT_EQ(io.OpenAdapter(kDeviceName), kOpened);
  RecordingHost host;
  EngineOnAdapter wired(io, host);
  DeviceInfoBlock block{};
  EXPECT_EQ(wired.query_router(block), 0);

  SetEnvironmentVariableA("W64N55_SEND_DELAY_MS", "5600");
  std::uint8_t frame[64] = {};
  DWORD before = GetTickCount();
  EXPECT_EQ(io.SendUpgradeFrame(frame, sizeof frame), 0);
  DWORD waited = GetTickCount() - before;
  EXPECT_GE(waited, 4900u);
  EXPECT_LT(waited, 5500u);
  SetEnvironmentVariableA("W64N55_SEND_DELAY_MS", "5");
  Sleep(800);  // the library completes the abandoned send into the record kept for it
  EXPECT_EQ(wired.query_router(block), 0);
  io.CloseAdapter();
}

TEST(WindowEngineHostTest, ProgressIsPostedAsMessage1781WithPointerSizedParameters) {
  // A null window posts to this thread's queue, which stands in for the dialog here.
  int reboot_waits = 0;
  WindowEngineHost host(nullptr, [&] { ++reboot_waits; });
  host.post_progress(kProgressFailed, 12);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_UPGRADE_PROGRESS, WM_UPGRADE_PROGRESS, PM_REMOVE));
  EXPECT_EQ(message.wParam, static_cast<WPARAM>(-1));
  EXPECT_EQ(static_cast<std::intptr_t>(message.wParam), -1);
  EXPECT_EQ(message.lParam, 12);
  host.start_reboot_wait();
  EXPECT_EQ(reboot_waits, 1);
}

TEST(WindowEngineHostTest, TheWorkersQuitMessageSurvivesThePump) {
  WindowEngineHost host(nullptr, nullptr);
  PostQuitMessage(5);
  host.pump_one_message();
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 5u);
}

}  // namespace
}  // namespace upgrade
