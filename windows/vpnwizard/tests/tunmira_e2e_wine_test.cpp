// Under wine and a virtual display: the real Tunmira.exe, driven as a user drives it (button commands,
// clicks on the page's choices, characters typed into its fields), sets a tunnel up between two router
// doubles listening where the wizard looks for routers reached over the Internet (port 8080 of the
// addresses typed in). The forms the doubles receive are compared byte for byte with the golden forms.
// The wizard's message dialogs are answered through the prompt log; pictures of the pages land in the
// build tree.
#include "tunmira_driver.h"

namespace tunmira {
namespace {

using namespace test;

// Each value of the summary stands on its caption's row, to its right, and reads as entered or read.
void ExpectSummaryRows(const TunmiraExe &app) {
  // Captions Label11, Label21, Label41, Label61, Label81, Label101 and the values on their rows.
  constexpr int kLabel11 = 1213, kLabel21 = 1214, kLabel41 = 1216, kLabel81 = 1218, kLabel101 = 1219,
                kLabel61 = 1220;
  const struct {
    int caption, value;
    const char *text;
  } rows[] = {{kLabel11, 1230, "HQ link&x"},     {kLabel21, 1231, "MainMode"},
              {kLabel41, 1236, kRouter2Address}, {kLabel61, 1237, "192.168.2.1/255.255.0.0"},
              {kLabel81, 1233, kRouter1Address}, {kLabel101, 1234, "192.168.1.1/255.255.255.0"},
              {kLabel41, 1235, "IP-ADDRESS"},    {kLabel81, 1232, "IP-ADDRESS"}};
  for (const auto &row : rows) {
    RECT caption, value;
    ::GetWindowRect(::GetDlgItem(app.Page(), row.caption), &caption);
    ::GetWindowRect(::GetDlgItem(app.Page(), row.value), &value);
    EXPECT_EQ(app.ItemText(row.value), row.text);
    const int captionMiddle = (caption.top + caption.bottom) / 2;
    EXPECT_TRUE(value.top <= captionMiddle && captionMiddle <= value.bottom) << row.text << " off its row";
    EXPECT_GE(value.left, caption.left + 100) << row.text << " over its caption";
  }
}

class TunmiraEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app.WaitForWindow()) << "no main window; shown: " << ShownWindows()
                                     << " prompts: " << app.Prompts();
    app.GoToRouterEntry();
  }

  TunmiraExe app;
};

TEST_F(TunmiraEndToEnd, SetsUpATunnelBetweenTwoRouters) {
  const auto router1 = StartRouter1(kRouter1Address);
  const auto router2 = StartRouter2(kRouter2Address, {"--connect", "status"});
  ASSERT_TRUE(router1->Started() && router2->Started());

  app.FillRouterEntry();
  EXPECT_EQ(app.ItemText(kRouter1Octet1), "127");
  app.Picture("e2e-1-router-entry");
  app.Command(kNext);
  ASSERT_TRUE(WaitFor([] { return ProgressDialog() != nullptr; }, 20000)) << "no progress dialog";
  app.Picture("e2e-2-reading", ProgressDialog());
  ASSERT_TRUE(app.WaitForPage("Welcome16", 60000)) << app.PageShown() << " prompts: " << app.Prompts();
  app.Picture("e2e-3-summary");
  EXPECT_EQ(app.WizardMessages(), "");
  ExpectSummaryRows(app);

  // Help shows the explanation, all of its picture and its Close button; Close ends it.
  constexpr int kHelpButton = 1210, kExplanationLabel = 1240;
  ::PostMessageA(app.Page(), WM_COMMAND, MAKEWPARAM(kHelpButton, BN_CLICKED), 0);
  HWND explanation = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (explanation = ShownWindowWith(kExplanationLabel)) != nullptr; }, 10000));
  RECT client, close;
  ::GetClientRect(explanation, &client);
  EXPECT_GE(client.right, 480);
  EXPECT_GE(client.bottom, 420);
  ::GetWindowRect(::GetDlgItem(explanation, IDOK), &close);
  ::MapWindowPoints(nullptr, explanation, reinterpret_cast<POINT *>(&close), 2);
  EXPECT_TRUE(close.left >= 0 && close.top >= 0 && close.right <= client.right &&
              close.bottom <= client.bottom);
  app.Picture("e2e-3-explanation", explanation);
  ::PostMessageA(explanation, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  ASSERT_TRUE(WaitFor([&] { return ShownWindowWith(kExplanationLabel) == nullptr; }, 10000));

  // Go posts the tunnel form to both routers; the summary is shown again for the connect.
  ASSERT_TRUE(app.BarItemVisible(kGo));
  app.Command(kGo);
  ASSERT_TRUE(WaitFor([&] { return Posts(*router1).size() == 1 && Posts(*router2).size() == 1; }, 60000));
  // Testing takes Go's place in the bar once both posts are done and the page is shown again.
  ASSERT_TRUE(WaitFor([&] { return app.BarItemVisible(kTesting); }, 60000)) << app.Prompts();
  EXPECT_EQ(app.PageShown(), "Welcome16");
  EXPECT_EQ(Posts(*router1)[0].body, Golden("e2e_tunnel_router1.txt"));
  EXPECT_EQ(Posts(*router2)[0].body, Golden("e2e_tunnel_router2.txt"));

  // Testing connects the tunnel on both routers and shows the result.
  app.Command(kTesting);
  ASSERT_TRUE(app.WaitForPage("Welcome30", 120000)) << app.PageShown() << " prompts: " << app.Prompts();
  app.Picture("e2e-4-connected");
  ASSERT_EQ(Posts(*router1).size(), 2u);
  ASSERT_EQ(Posts(*router2).size(), 2u);
  EXPECT_EQ(Posts(*router1)[1].body, Golden("e2e_connect_router1.txt"));
  EXPECT_EQ(Posts(*router2)[1].body, Golden("e2e_connect_router2.txt"));
  EXPECT_EQ(app.ItemText(kWelcome30Label1), LanguageText("Welcome30", "Label1.TextString"));
  EXPECT_EQ(app.WizardMessages(), "");

  app.Command(kExit);
  EXPECT_EQ(app.WaitExit(30000), std::optional<DWORD>(0));
}

TEST_F(TunmiraEndToEnd, RefusedReadsKeepTheUserOnTheRouterEntryPage) {
  // A wrong password on Router 1 while Router 2 cannot be reached (nothing listens there).
  const std::string router1Address = FreshAddress();
  const auto router1 = StartRouter1(router1Address, {}, "other");
  ASSERT_TRUE(router1->Started());
  app.FillRouterEntry(router1Address, FreshAddress());
  app.Command(kNext);
  const std::string loginRefused = LanguageText("MSG", "MSG_AUTHERISEFAILURE");
  ASSERT_TRUE(app.WaitForPrompt(LanguageText("MSG", "MSG_FINDFAIL3"))) << app.Prompts();
  ASSERT_TRUE(WaitFor([&] { return app.ItemVisible(kErrorLabel1); }, 10000));
  EXPECT_EQ(app.ItemText(kErrorLabel1), loginRefused);
  EXPECT_EQ(app.ItemText(kErrorLabel1 + 1), loginRefused);
  EXPECT_FALSE(app.ItemVisible(kErrorLabel1 + 2));
  EXPECT_EQ(app.PageShown(), "PageRemote");
  app.Picture("e2e-5-wrong-password");

  // Router 2's tunnel table is full.
  const std::string fixedAddress = FreshAddress();
  const std::string fullAddress = FreshAddress();
  const auto fixed = StartRouter1(fixedAddress);
  const auto full =
      StartRouter2(fullAddress, {"--tunnel", "a=1.1.1.1", "--tunnel", "b=1.1.1.2", "--tunnel", "c=1.1.1.3",
                                 "--tunnel", "d=1.1.1.4", "--tunnel", "e=1.1.1.5"});
  ASSERT_TRUE(fixed->Started() && full->Started());
  app.FillRouterEntry(fixedAddress, fullAddress);
  app.Command(kNext);
  ASSERT_TRUE(app.WaitForPrompt(LanguageText("MSG", "MSG_TUNNELFULL2"))) << app.Prompts();
  ASSERT_TRUE(app.Responds());
  EXPECT_FALSE(app.ItemVisible(kErrorLabel1)) << "the labels start afresh on every Next";
  EXPECT_EQ(app.PageShown(), "PageRemote");
}

TEST_F(TunmiraEndToEnd, UsedNamesAndExistingTunnelsKeepTheUserOnThePage) {
  // Router 1 already has a tunnel of that name.
  const std::string router1Address = FreshAddress();
  const std::string router2Address = FreshAddress();
  const auto router1 = StartRouter1(router1Address, {"--tunnel", "HQ link&x=10.1.1.1"});
  const auto router2 = StartRouter2(router2Address);
  ASSERT_TRUE(router1->Started() && router2->Started());
  app.FillRouterEntry(router1Address, router2Address);
  app.Command(kNext);
  constexpr int kTunnelNameLabel = kErrorLabel1 + 4;
  ASSERT_TRUE(WaitFor([&] { return app.ItemVisible(kTunnelNameLabel); }, 60000)) << app.Prompts();
  EXPECT_EQ(app.ItemText(kTunnelNameLabel), LanguageText("MSG", "MSG_TUNNELNAMEEXIST"));
  app.Picture("e2e-6-name-used");

  // Another Router 1 already has a tunnel to Router 2 under another name.
  const std::string joinedAddress = FreshAddress();
  const auto joined = StartRouter1(joinedAddress, {"--tunnel", "old=" + router2Address});
  ASSERT_TRUE(joined->Started());
  app.TypeOctets(kRouter1Octet1, joinedAddress);
  app.Command(kNext);
  const std::string expected = LanguageText("MSG", "MSG_TUNNELNAME0") + " " +
                               LanguageText("MSG", "MSG_TUNNELNAME1") + " old. " +
                               LanguageText("MSG", "MSG_TUNNELNAME3");
  ASSERT_TRUE(app.WaitForPrompt(expected)) << app.Prompts();
  ASSERT_TRUE(app.Responds());
  EXPECT_EQ(app.PageShown(), "PageRemote");
  EXPECT_FALSE(app.ItemVisible(kTunnelNameLabel));
}

TEST_F(TunmiraEndToEnd, StoppingTheProgressDialogEndsTheReadAndTheProgramLeavesNothingRunning) {
  const std::string router1Address = FreshAddress();
  const std::string router2Address = FreshAddress();
  const auto router1 = StartRouter1(router1Address, {"--fault", "/vpn_main.htm=delay:5"});
  const auto router2 = StartRouter2(router2Address);
  ASSERT_TRUE(router1->Started() && router2->Started());
  app.FillRouterEntry(router1Address, router2Address);
  app.Command(kNext);
  ASSERT_TRUE(WaitFor([&] { return !router1->Requests().empty(); }, 30000));
  HWND progress = ProgressDialog();
  ASSERT_NE(progress, nullptr);
  // Escape in the progress dialog.
  ::PostMessageA(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  ASSERT_TRUE(WaitFor([] { return ProgressDialog() == nullptr; }, 10000));
  ASSERT_TRUE(app.Responds());
  EXPECT_EQ(app.PageShown(), "PageRemote");
  EXPECT_EQ(app.WizardMessages(), "") << "a stopped read shows nothing";
  EXPECT_EQ(Paths(*router1), std::vector<std::string>{"GET /vpn_main.htm"}) << "no page after the stop";
  EXPECT_TRUE(router2->Requests().empty()) << "Router 2 is not read after a stop";

  app.Command(kBack);
  ASSERT_TRUE(app.WaitForPage("Welcome10"));
  app.Command(kExit);
  EXPECT_EQ(app.WaitExit(30000), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace tunmira
