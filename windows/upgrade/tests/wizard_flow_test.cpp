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

std::vector<std::uint8_t> image_with_version(std::uint8_t high, std::uint8_t low) {
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
  void message(const std::string &text) override { messages.push_back(text); }
  void exit(int status) override { exits.push_back(status); }
  int adapter_count() override { return adapters; }
  void select_adapter(int index) override { selected = index; }
  std::string selected_device_name() override { return selected >= 0 ? device_name : std::string(); }
  int OpenAdapter(const std::string &name) override {
    opened.push_back(name);
    return open_result;
  }
  std::optional<std::string> adapter_gateway(const std::string &guid) override {
    guids.push_back(guid);
    return gateway;
  }
  void busy_cursor(bool busy) override { busy_calls.push_back(busy); }
  std::string image_path() override { return kImagePath; }
  void run_search(std::function<SearchOutcome()> search,
                  std::function<void(const SearchOutcome &)> done) override {
    ++searches;
    if (!defer_searches) return done(search());
    pending_search = std::move(search);
    pending_done = std::move(done);
  }
  // Runs a deferred search as a worker would, then hands its outcome back as the window would.
  void finish_search() {
    SearchOutcome outcome = pending_search();
    pending_done(outcome);
  }

  const PageView &last() const { return views.back(); }

  int adapters = 1;
  int selected = -1;
  std::string device_name = kDevice;
  int open_result = 0;
  std::optional<std::string> gateway = std::string("192.0.2.1");
  std::vector<PageView> views;
  std::vector<std::string> messages, opened, guids;
  std::vector<int> exits;
  std::vector<bool> busy_calls;
  int searches = 0;
  bool defer_searches = false;
  std::function<SearchOutcome()> pending_search;
  std::function<void(const SearchOutcome &)> pending_done;
};

class WizardFlowTest : public ::testing::Test {
 protected:
  WizardFlowTest() : router(kRouterMac, 0x1023), engine(link, link, host, images), flow(dialog, engine) {
    link.attach(router);
    images.put(kImagePath, image_with_version(0x11, 0x05));
  }
  void to_versions() {
    flow.start();
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
  flow.start();
  EXPECT_EQ(flow.page(), Page::kWelcome);
  EXPECT_EQ(dialog.last().picture, 150);
  EXPECT_TRUE(dialog.last().next);
  EXPECT_TRUE(dialog.last().close);
  EXPECT_FALSE(dialog.last().back);
  EXPECT_FALSE(dialog.last().upgrade);
}

TEST_F(WizardFlowTest, OneAdapterGoesFromWelcomeStraightToTheVersionsOfRouterAndImage) {
  to_versions();
  EXPECT_EQ(dialog.selected, 0);
  EXPECT_EQ(dialog.opened, std::vector<std::string>{kDevice});
  EXPECT_EQ(dialog.guids, std::vector<std::string>{"{5E1F0C2A-0000-4000-8000-0000000000A1}"});
  EXPECT_EQ(flow.router_version(), "V1.0.23");
  EXPECT_EQ(flow.file_version(), "V1.1.05");
  EXPECT_EQ(flow.devices(), std::vector<std::string>{"VT010203"});
  EXPECT_EQ(dialog.last().picture, 154);
  EXPECT_TRUE(dialog.last().versions);
  EXPECT_TRUE(dialog.messages.empty());
  EXPECT_EQ(dialog.busy_calls, (std::vector<bool>{true, false}));
}

TEST_F(WizardFlowTest, BackFromTheVersionsWithOneAdapterReturnsToWelcome) {
  to_versions();
  flow.OnBack();
  EXPECT_EQ(flow.page(), Page::kWelcome);
  EXPECT_EQ(dialog.last().picture, 150);
}

TEST_F(WizardFlowTest, SeveralAdaptersShowTheAdapterPageWithTheFirstSelected) {
  dialog.adapters = 2;
  flow.start();
  flow.OnNext();
  EXPECT_EQ(flow.page(), Page::kAdapter);
  EXPECT_EQ(dialog.selected, 0);
  EXPECT_EQ(dialog.last().picture, 152);
  EXPECT_TRUE(dialog.last().adapter_list);
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
  flow.start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Cannot find any adapter."});
  EXPECT_EQ(dialog.views.size(), 1u);
  EXPECT_EQ(link.sent.size(), 0u);
}

TEST_F(WizardFlowTest, VersionsToUpgradePageTakesTheSelectedDevice) {
  to_versions();
  flow.set_device_index(0);
  flow.OnNext();
  EXPECT_EQ(flow.page(), Page::kUpgrade);
  EXPECT_EQ(flow.selected_device(), "VT010203");
  EXPECT_EQ(dialog.last().picture, 145);
  EXPECT_TRUE(dialog.last().upgrade);
  EXPECT_TRUE(dialog.last().progress);
  EXPECT_FALSE(dialog.last().next);
  flow.OnBack();
  EXPECT_EQ(flow.page(), Page::kVersions);
}

TEST_F(WizardFlowTest, SuccessLeavesOnlyClose) {
  to_versions();
  flow.OnNext();
  flow.on_upgrade_succeeded();
  EXPECT_EQ(flow.page(), Page::kDone);
  EXPECT_EQ(dialog.last().picture, 155);
  EXPECT_TRUE(dialog.last().close);
  EXPECT_FALSE(dialog.last().back || dialog.last().next || dialog.last().upgrade || dialog.last().progress);
  flow.OnNext();
  EXPECT_EQ(flow.page(), Page::kDone);
}

// ---- adapter, gateway and search failures ----

TEST_F(WizardFlowTest, AnAdapterThatCannotBeOpenedIsReported) {
  dialog.open_result = 2;
  flow.start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Cannot open the adapter."});
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(WizardFlowTest, AGatewayIn169StopsWithTheGatewayMessage) {
  dialog.adapters = 2;
  dialog.gateway = "169.254.1.1";
  flow.start();
  flow.OnNext();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Please check your Default GateWay(IP)!"});
  EXPECT_EQ(flow.page(), Page::kAdapter);
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(WizardFlowTest, AnEmptyGatewayTextPassesOnToTheSearch) {
  dialog.gateway = "";
  to_versions();
}

TEST_F(WizardFlowTest, AnAdapterWithoutGatewayEntryIsReported) {
  dialog.gateway.reset();
  flow.start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages,
            std::vector<std::string>{"Get the gateway of the specified adapter error,please try again!"});
}

TEST_F(WizardFlowTest, ADeviceNameWithoutGuidNeverMatchesAGateway) {
  dialog.device_name = "\\DEVICE\\";
  flow.start();
  flow.OnNext();
  EXPECT_TRUE(dialog.guids.empty());
  EXPECT_EQ(dialog.messages,
            std::vector<std::string>{"Get the gateway of the specified adapter error,please try again!"});
}

TEST_F(WizardFlowTest, NoRouterEndsTheProgramWithStatusOne) {
  router.faults.silent = true;
  flow.start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"cannot scan your device!"});
  EXPECT_EQ(dialog.exits, std::vector<int>{1});
}

TEST_F(WizardFlowTest, TwoRoutersEndTheProgramWithStatusOne) {
  peer::RouterPeer second({0x02, 0x5A, 0xC3, 0x09, 0x09, 0x09}, 0x1023);
  link.attach(second);
  flow.start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Please check your device type!"});
  EXPECT_EQ(dialog.exits, std::vector<int>{1});
}

TEST_F(WizardFlowTest, ABroadcastErrorShowsAnEmptyDeviceListWithNextDisabled) {
  link.fail_sends = 1;
  flow.start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Broadcast Error !"});
  EXPECT_EQ(flow.page(), Page::kDeviceList);
  EXPECT_EQ(dialog.last().picture, 153);
  EXPECT_TRUE(dialog.last().device_list);
  EXPECT_FALSE(dialog.last().next_enabled);
  flow.OnBack();
  EXPECT_EQ(flow.page(), Page::kWelcome);
}

TEST_F(WizardFlowTest, WhileTheSearchRunsThePageStaysAndNextAndBackWait) {
  dialog.defer_searches = true;
  flow.start();
  flow.OnNext();
  ASSERT_EQ(dialog.searches, 1);
  EXPECT_TRUE(flow.searching());
  EXPECT_EQ(dialog.busy_calls, std::vector<bool>{true});
  std::size_t views = dialog.views.size();
  // A second search on the same adapter and engine would tangle both.
  flow.OnNext();
  flow.OnBack();
  EXPECT_EQ(dialog.searches, 1);
  EXPECT_EQ(dialog.views.size(), views);
  EXPECT_TRUE(link.sent.empty());

  dialog.finish_search();
  EXPECT_FALSE(flow.searching());
  EXPECT_EQ(flow.page(), Page::kVersions);
  EXPECT_EQ(flow.router_version(), "V1.0.23");
  EXPECT_EQ(flow.file_version(), "V1.1.05");
  EXPECT_EQ(dialog.busy_calls, (std::vector<bool>{true, false}));
  EXPECT_TRUE(dialog.messages.empty());
}

TEST_F(WizardFlowTest, AnUnansweredQueryIsABrowseError) {
  link.send_limit = 3;  // the three discovers go out, the query cannot
  flow.start();
  flow.OnNext();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Browse device error!"});
  EXPECT_TRUE(dialog.exits.empty());
}

TEST_F(WizardFlowTest, AMissingImageIsNamedWithItsPath) {
  images = MemoryImageStore();
  to_versions();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{
                                 "Cannot find the file C:\\wiz\\Bin\\HBX7300NQ.bin in Current directory!"});
  EXPECT_TRUE(flow.file_version().empty());
  flow.OnNext();
  EXPECT_EQ(dialog.messages.back(), "You can't upgrade your device!");
  EXPECT_EQ(flow.page(), Page::kVersions);
}

TEST_F(WizardFlowTest, AnImageWithoutHeaderCannotBeUpgraded) {
  images.put(kImagePath, std::vector<std::uint8_t>(4000, 0x11));
  to_versions();
  EXPECT_EQ(dialog.messages, std::vector<std::string>{"Bad bin file, cannot upgrade your device!"});
  flow.OnNext();
  EXPECT_EQ(dialog.messages.back(), "You can't upgrade your device!");
}

// ---- gateway choice and paths ----

TEST(GatewayChoice, FirstEthernetAdapterWhoseNameBeginsWithTheGuidCaseInsensitively) {
  std::vector<GatewayEntry> list{
      {"{ABCD-1}", 71, "10.0.0.1"}, {"{abcd-1}", 6, "192.0.2.1"}, {"{ABCD-1}", 6, "192.0.2.9"}};
  EXPECT_EQ(choose_gateway(list, "{ABCD-1}"), "192.0.2.1");
  EXPECT_EQ(choose_gateway(list, "{ABCD-2}"), std::nullopt);
  EXPECT_EQ(choose_gateway(list, ""), std::nullopt);
}

TEST(GatewayChoice, TheGuidIsTheBracedTailOfTheDeviceName) {
  EXPECT_EQ(adapter_guid_of_device_name(kDevice), "{5E1F0C2A-0000-4000-8000-0000000000A1}");
  EXPECT_EQ(adapter_guid_of_device_name("\\DEVICE\\"), std::nullopt);
  EXPECT_EQ(adapter_guid_of_device_name("short"), std::nullopt);
  EXPECT_EQ(adapter_guid_of_device_name("\\DEVICE\\{}"), std::nullopt);
  EXPECT_EQ(adapter_guid_of_device_name("\\DEVICE\\eth0"), std::nullopt);
}

TEST(image_path, ASeparatorOnlyWhereTheDirectoryLacksOne) {
  EXPECT_EQ(image_path_in("C:\\work"), "C:\\work\\Bin\\HBX7300NQ.bin");
  EXPECT_EQ(image_path_in("C:\\"), "C:\\Bin\\HBX7300NQ.bin");
  std::string long_dir = "C:\\" + std::string(3000, 'd');
  EXPECT_EQ(image_path_in(long_dir), long_dir + "\\Bin\\HBX7300NQ.bin");
}

// ---- progress reports ----

TEST(ProgressReports, RebootTicksOnlyMoveTheBar) {
  auto e = effect_of_progress(57, kRebootTick);
  EXPECT_EQ(e.kind, ProgressEffect::kPosition);
  EXPECT_EQ(e.position, 57);
  EXPECT_TRUE(e.status.empty());
  EXPECT_EQ(effect_of_progress(0, kRebootTick).kind, ProgressEffect::kPosition);
}

TEST(ProgressReports, TransferTexts) {
  auto start = effect_of_progress(0, 0);
  EXPECT_EQ(start.kind, ProgressEffect::kStarted);
  EXPECT_EQ(start.status, "Erasing EEPROM...");
  EXPECT_EQ(start.position, 0);
  EXPECT_EQ(effect_of_progress(1, 0).status, "FW Upgrade completed 1%");
  EXPECT_EQ(effect_of_progress(100, 0).status, "FW Upgrade completed 100%");
  EXPECT_EQ(effect_of_progress(100, 0).position, 100);
  EXPECT_EQ(effect_of_progress(101, 0).status, "Verifying EEPROM... 1%");
  EXPECT_EQ(effect_of_progress(200, 0).status, "Verifying EEPROM... 100%");
  EXPECT_EQ(effect_of_progress(150, 0).position, 50);
  EXPECT_EQ(effect_of_progress(201, 0).status, "Upgrade successfully.");
  EXPECT_EQ(effect_of_progress(201, 0).kind, ProgressEffect::kSucceeded);
  EXPECT_EQ(effect_of_progress(501, 0).kind, ProgressEffect::kRebooted);
  EXPECT_EQ(effect_of_progress(300, 0).kind, ProgressEffect::kIgnored);
}

TEST(ProgressReports, FailuresNameTheDeviceCode) {
  auto e = effect_of_progress(kProgressFailed, 9);
  EXPECT_EQ(e.kind, ProgressEffect::kFailed);
  EXPECT_EQ(e.status, "Upgrade not completed, please retry.");
  EXPECT_EQ(e.message, "Verifying error.");
  const std::pair<int, const char *> table[] = {{6, "Sequence number error."}, {7, "Programming error."},
                                                {9, "Verifying error."},       {10, "Check pid error."},
                                                {11, "Invalid file format."},  {12, "Internal error."},
                                                {13, "Insufficient flash."},   {14, "Write to flash error."}};
  for (auto [code, text] : table) EXPECT_EQ(failure_text(code), text) << code;
  const std::string recover =
      "Recover process fail, \nPlease turn off/on the power then press \"Upgrade\" button again.";
  EXPECT_EQ(failure_text(0), recover);
  EXPECT_EQ(failure_text(4), recover);
  EXPECT_EQ(failure_text(8), recover);
}

// ---- reboot wait ----

TEST(RebootStep, OnlyAPlainNumberWithinBoundsShortensTheWait) {
  EXPECT_EQ(reboot_step_ms(""), 240u);
  EXPECT_EQ(reboot_step_ms("5"), 5u);
  EXPECT_EQ(reboot_step_ms("1000"), 1000u);
  // Anything else would shorten or remove the wait by accident: the router's own 240 ms step stands.
  for (const char *bad :
       {"fast", "0", "00", "5ms", " 5", "-5", "+5", "1001", "4294967301", "99999999999999999999"})
    EXPECT_EQ(reboot_step_ms(bad), 240u) << bad;
}

}  // namespace
}  // namespace upgrade
