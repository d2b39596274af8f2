// The wizard's pages, device search and progress texts against the router peer on a virtual link.
#include <gtest/gtest.h>

#include <cstring>

#include "virtual_link.h"
#include "wizard_flow.h"

namespace upgrade {
namespace {

using testing::MemoryImageStore;
using testing::RecordingHost;
using testing::VirtualLink;

const peer::Mac kRouterMac{0x02, 0x5A, 0xC3, 0x01, 0x02, 0x03};
const char kImagePath[] = "C:\\wiz\\Bin\\HBX7300NQ.bin";
const char kDevice[] = "\\DEVICE\\{5E1F0C2A-0000-4000-8000-0000000000A1}";

std::vector<std::uint8_t> ImageWithVersion(std::uint8_t high, std::uint8_t low) {
  std::vector<std::uint8_t> image(2000, 0x5A);
  std::memcpy(&image[100], "vAnTrOs", 7);
  std::memcpy(&image[163], "vAnTrOs", 7);
  image[107 + 50] = high;
  image[107 + 51] = low;
  return image;
}

class FakeDialog final : public WizardHost {
 public:
  void ShowPage(const PageView &view) override { views.push_back(view); }
  void Message(const std::string &text) override { messages.push_back(text); }
  void Exit(int status) override { exits.push_back(status); }
  int AdapterCount() override { return adapters; }
  void SelectAdapter(int index) override { selected = index; }
  std::string SelectedDeviceName() override { return selected >= 0 ? deviceName : std::string(); }
  int OpenAdapter(const std::string &name) override {
    opened.push_back(name);
    return openResult;
  }
  std::optional<std::string> AdapterGateway(const std::string &guid) override {
    guids.push_back(guid);
    return gateway;
  }
  void BusyCursor(bool busy) override { busyCalls.push_back(busy); }
  std::string ImagePath() override { return kImagePath; }

  const PageView &Last() const { return views.back(); }

  int adapters = 1;
  int selected = -1;
  std::string deviceName = kDevice;
  int openResult = 0;
  std::optional<std::string> gateway = std::string("192.0.2.1");
  std::vector<PageView> views;
  std::vector<std::string> messages, opened, guids;
  std::vector<int> exits;
  std::vector<bool> busyCalls;
};

class WizardFlowTest : public ::testing::Test {
 protected:
  WizardFlowTest() : router(kRouterMac, 0x1023), engine(link, link, host, images), flow(dialog, engine) {
    link.Attach(router);
    images.Put(kImagePath, ImageWithVersion(0x11, 0x05));
  }
  void ToVersions() {
    flow.Start();
    flow.OnNext();
    ASSERT_EQ(flow.page(), Page::kVersions);
  }

  VirtualLink link;
  peer::RouterPeer router;
  RecordingHost host;
  MemoryImageStore images;
  UpgradeEngine engine;
  FakeDialog dialog;
  WizardFlow flow;
};

// ---- pages ----

TEST_F(WizardFlowTest, StartsOnTheWelcomePageWithNextAndClose) {
  flow.Start();
  EXPECT_EQ(flow.page(), Page::kWelcome);
  EXPECT_EQ(dialog.Last().picture, 150);
  EXPECT_TRUE(dialog.Last().next);
  EXPECT_TRUE(dialog.Last().close);
  EXPECT_FALSE(dialog.Last().back);
  EXPECT_FALSE(dialog.Last().upgrade);
}

TEST_F(WizardFlowTest, OneAdapterGoesFromWelcomeStraightToTheVersionsOfRouterAndImage) {
  ToVersions();
  EXPECT_EQ(dialog.selected, 0);
  EXPECT_EQ(dialog.opened, std::vector<std::string>{kDevice});
  EXPECT_EQ(dialog.guids, std::vector<std::string>{"{5E1F0C2A-0000-4000-8000-0000000000A1}"});
  EXPECT_EQ(flow.routerVersion(), "V1.0.23");
  EXPECT_EQ(flow.fileVersion(), "V1.1.05");
  EXPECT_EQ(flow.devices(), std::vector<std::string>{"VT010203"});
  EXPECT_EQ(dialog.Last().picture, 154);
  EXPECT_TRUE(dialog.Last().versions);
  EXPECT_TRUE(dialog.messages.empty());
  EXPECT_EQ(dialog.busyCalls, (std::vector<bool>{true, false}));
}

TEST_F(WizardFlowTest, BackFromTheVersionsWithOneAdapterReturnsToWelcome) {
  ToVersions();
  flow.OnBack();
  EXPECT_EQ(flow.page(), Page::kWelcome);
  EXPECT_EQ(dialog.Last().picture, 150);
}

TEST_F(WizardFlowTest, SeveralAdaptersShowTheAdapterPageWithTheFirstSelected) {
  dialog.adapters = 2;
  flow.Start();
  flow.OnNext();
  EXPECT_EQ(flow.page(), Page::kAdapter);
  EXPECT_EQ(dialog.selected, 0);
  EXPECT_EQ(dialog.Last().picture, 152);
  EXPECT_TRUE(dialog.Last().adapterList);
  EXPECT_TRUE(dialog.opened.empty());
  flow.OnNext();
  EXPECT_EQ(flow.page(), Page::kVersions);
  flow.OnBack();
  EXPECT_EQ(flow.page(), Page::kAdapter);
  flow.OnBack();
  EXPECT_EQ(flow.page(), Page::kWelcome);
}

TEST_F(WizardFlowTest, NoAdapterIsReportedAndThePageStays) {
  dialog.adapters = 0;
  flow.Start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Cannot find any adapter."});
  EXPECT_EQ(dialog.views.size(), 1u);
  EXPECT_EQ(link.sent.size(), 0u);
}

TEST_F(WizardFlowTest, VersionsToUpgradePageTakesTheSelectedDevice) {
  ToVersions();
  flow.SetDeviceIndex(0);
  flow.OnNext();
  EXPECT_EQ(flow.page(), Page::kUpgrade);
  EXPECT_EQ(flow.selectedDevice(), "VT010203");
  EXPECT_EQ(dialog.Last().picture, 145);
  EXPECT_TRUE(dialog.Last().upgrade);
  EXPECT_TRUE(dialog.Last().progress);
  EXPECT_FALSE(dialog.Last().next);
  flow.OnBack();
  EXPECT_EQ(flow.page(), Page::kVersions);
}

TEST_F(WizardFlowTest, SuccessLeavesOnlyClose) {
  ToVersions();
  flow.OnNext();
  flow.OnUpgradeSucceeded();
  EXPECT_EQ(flow.page(), Page::kDone);
  EXPECT_EQ(dialog.Last().picture, 155);
  EXPECT_TRUE(dialog.Last().close);
  EXPECT_FALSE(dialog.Last().back || dialog.Last().next || dialog.Last().upgrade || dialog.Last().progress);
  flow.OnNext();
  EXPECT_EQ(flow.page(), Page::kDone);
}

// ---- adapter, gateway and search failures ----

TEST_F(WizardFlowTest, AnAdapterThatCannotBeOpenedIsReported) {
  dialog.openResult = 2;
  flow.Start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Cannot open the adapter."});
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(WizardFlowTest, AGatewayIn169StopsWithTheGatewayMessage) {
  dialog.adapters = 2;
  dialog.gateway = "169.254.1.1";
  flow.Start();
  flow.OnNext();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Please check your Default GateWay(IP)!"});
  EXPECT_EQ(flow.page(), Page::kAdapter);
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(WizardFlowTest, AnEmptyGatewayTextPassesOnToTheSearch) {
  dialog.gateway = "";
  ToVersions();
}

TEST_F(WizardFlowTest, AnAdapterWithoutGatewayEntryIsReported) {
  dialog.gateway.reset();
  flow.Start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages,
            std::vector<std::string>{"Get the gateway of the specified adapter error,please try again!"});
}

TEST_F(WizardFlowTest, ADeviceNameWithoutGuidNeverMatchesAGateway) {
  dialog.deviceName = "\\DEVICE\\";
  flow.Start();
  flow.OnNext();
  EXPECT_TRUE(dialog.guids.empty());
  EXPECT_EQ(dialog.messages,
            std::vector<std::string>{"Get the gateway of the specified adapter error,please try again!"});
}

TEST_F(WizardFlowTest, NoRouterEndsTheProgramWithStatusOne) {
  router.faults.silent = true;
  flow.Start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"cannot scan your device!"});
  EXPECT_EQ(dialog.exits, std::vector<int>{1});
}

TEST_F(WizardFlowTest, TwoRoutersEndTheProgramWithStatusOne) {
  peer::RouterPeer second({0x02, 0x5A, 0xC3, 0x09, 0x09, 0x09}, 0x1023);
  link.Attach(second);
  flow.Start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Please check your device type!"});
  EXPECT_EQ(dialog.exits, std::vector<int>{1});
}

TEST_F(WizardFlowTest, ABroadcastErrorShowsAnEmptyDeviceListWithNextDisabled) {
  link.failSends = 1;
  flow.Start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Broadcast Error !"});
  EXPECT_EQ(flow.page(), Page::kDeviceList);
  EXPECT_EQ(dialog.Last().picture, 153);
  EXPECT_TRUE(dialog.Last().deviceList);
  EXPECT_FALSE(dialog.Last().nextEnabled);
  flow.OnBack();
  EXPECT_EQ(flow.page(), Page::kWelcome);
}

TEST_F(WizardFlowTest, AnUnansweredQueryIsABrowseError) {
  link.sendLimit = 3;  // the three discovers go out, the query cannot
  flow.Start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Browse device error!"});
  EXPECT_TRUE(dialog.exits.empty());
}

TEST_F(WizardFlowTest, AMissingImageIsNamedWithItsPath) {
  images = MemoryImageStore();
  ToVersions();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{
                                 "Cannot find the file C:\\wiz\\Bin\\HBX7300NQ.bin in Current directory!"});
  EXPECT_TRUE(flow.fileVersion().empty());
  flow.OnNext();
  EXPECT_EQ(dialog.messages.back(), "You can't upgrade your device!");
  EXPECT_EQ(flow.page(), Page::kVersions);
}

TEST_F(WizardFlowTest, AnImageWithoutHeaderCannotBeUpgraded) {
  images.Put(kImagePath, std::vector<std::uint8_t>(4000, 0x11));
  ToVersions();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Bad bin file, cannot upgrade your device!"});
  flow.OnNext();
  EXPECT_EQ(dialog.messages.back(), "You can't upgrade your device!");
}

// ---- gateway choice and paths ----

TEST(GatewayChoice, FirstEthernetAdapterWhoseNameBeginsWithTheGuidCaseInsensitively) {
  std::vector<GatewayEntry> list{
      {"{ABCD-1}", 71, "10.0.0.1"}, {"{abcd-1}", 6, "192.0.2.1"}, {"{ABCD-1}", 6, "192.0.2.9"}};
  EXPECT_EQ(ChooseGateway(list, "{ABCD-1}"), "192.0.2.1");
  EXPECT_EQ(ChooseGateway(list, "{ABCD-2}"), std::nullopt);
  EXPECT_EQ(ChooseGateway(list, ""), std::nullopt);
}

TEST(GatewayChoice, TheGuidIsTheBracedTailOfTheDeviceName) {
  EXPECT_EQ(AdapterGuidOfDeviceName(kDevice), "{5E1F0C2A-0000-4000-8000-0000000000A1}");
  EXPECT_EQ(AdapterGuidOfDeviceName("\\DEVICE\\"), std::nullopt);
  EXPECT_EQ(AdapterGuidOfDeviceName("short"), std::nullopt);
  EXPECT_EQ(AdapterGuidOfDeviceName("\\DEVICE\\{}"), std::nullopt);
  EXPECT_EQ(AdapterGuidOfDeviceName("\\DEVICE\\eth0"), std::nullopt);
}

TEST(ImagePath, ASeparatorOnlyWhereTheDirectoryLacksOne) {
  EXPECT_EQ(ImagePathIn("C:\\work"), "C:\\work\\Bin\\HBX7300NQ.bin");
  EXPECT_EQ(ImagePathIn("C:\\"), "C:\\Bin\\HBX7300NQ.bin");
  std::string longDir = "C:\\" + std::string(3000, 'd');
  EXPECT_EQ(ImagePathIn(longDir), longDir + "\\Bin\\HBX7300NQ.bin");
}

// ---- progress reports ----

TEST(ProgressReports, RebootTicksOnlyMoveTheBar) {
  auto e = EffectOfProgress(57, kRebootTick);
  EXPECT_EQ(e.kind, ProgressEffect::kPosition);
  EXPECT_EQ(e.position, 57);
  EXPECT_TRUE(e.status.empty());
  EXPECT_EQ(EffectOfProgress(0, kRebootTick).kind, ProgressEffect::kPosition);
}

TEST(ProgressReports, TransferTexts) {
  auto start = EffectOfProgress(0, 0);
  EXPECT_EQ(start.kind, ProgressEffect::kStarted);
  EXPECT_EQ(start.status, "Erasing EEPROM...");
  EXPECT_EQ(start.position, 0);
  EXPECT_EQ(EffectOfProgress(1, 0).status, "FW Upgrade completed 1%");
  EXPECT_EQ(EffectOfProgress(100, 0).status, "FW Upgrade completed 100%");
  EXPECT_EQ(EffectOfProgress(100, 0).position, 100);
  EXPECT_EQ(EffectOfProgress(101, 0).status, "Verifying EEPROM... 1%");
  EXPECT_EQ(EffectOfProgress(200, 0).status, "Verifying EEPROM... 100%");
  EXPECT_EQ(EffectOfProgress(150, 0).position, 50);
  EXPECT_EQ(EffectOfProgress(201, 0).status, "Upgrade successfully.");
  EXPECT_EQ(EffectOfProgress(201, 0).kind, ProgressEffect::kSucceeded);
  EXPECT_EQ(EffectOfProgress(501, 0).kind, ProgressEffect::kRebooted);
  EXPECT_EQ(EffectOfProgress(300, 0).kind, ProgressEffect::kIgnored);
}

TEST(ProgressReports, FailuresNameTheDeviceCode) {
  auto e = EffectOfProgress(kProgressFailed, 9);
  EXPECT_EQ(e.kind, ProgressEffect::kFailed);
  EXPECT_EQ(e.status, "Upgrade not completed, please retry.");
  EXPECT_EQ(e.message, "Verifying error.");
  const std::pair<int, const char *> table[] = {{6, "Sequence number error."}, {7, "Programming error."},
                                                {9, "Verifying error."},       {10, "Check pid error."},
                                                {11, "Invalid file format."},  {12, "Internal error."},
                                                {13, "Insufficient flash."},   {14, "Write to flash error."}};
  for (auto [code, text] : table) EXPECT_EQ(FailureText(code), text) << code;
  const std::string recover =
      "Recover process fail, \nPlease turn off/on the power then press \"Upgrade\" button again.";
  EXPECT_EQ(FailureText(0), recover);
  EXPECT_EQ(FailureText(4), recover);
  EXPECT_EQ(FailureText(8), recover);
}

}  // namespace
}  // namespace upgrade
