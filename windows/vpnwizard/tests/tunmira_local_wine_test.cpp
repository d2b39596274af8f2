// Under wine, in a network of its own (tests/behind_gateway.sh): the PC sits on Router 1's LAN, the
// default gateway of its adapter lan0 being Router 1, and the wizard runs in local mode. Router 1's
// double listens where the wizard finds it, port 443 of that gateway; Router 2's over the Internet at
// port 8080 of the address typed in. The forms both doubles receive are compared byte for byte with the
// golden forms.
#include "tunmira_driver.h"

namespace tunmira {
namespace {

using namespace test;

constexpr char kRouter1Wan[] = "198.51.100.7";
constexpr int kRouter1Choice = 1130, kRouter1DnsName = 1114, kAddressCaption = 1140, kAdapterList = 1167;

TEST(TunmiraLocalMode, SetsUpATunnelFromRouter1sLanThroughItsGateway) {
  const std::string gateway = Env("TUNMIRA_LOCAL_GATEWAY");
  ASSERT_FALSE(gateway.empty()) << "run through tests/behind_gateway.sh";
  const auto router1 = std::make_unique<RouterDouble>(
      gateway, std::vector<std::string>{"--port", "443", "--wan", kRouter1Wan, "--password", "secret1",
                                        "--lan", gateway, "--mask", "255.255.255.0"});
  const auto router2 = StartRouter2(kRouter2Address, {"--connect", "status"});
  ASSERT_TRUE(router1->Started() && router2->Started());

  TunmiraExe app;
  ASSERT_TRUE(app.WaitForWindow()) << "no main window; shown: " << ShownWindows()
                                   << " prompts: " << app.Prompts();
  app.GoToRouterEntry(kChoiceLocal);
  // Router 1 is found by the gateway: its address row is not asked for.
  for (int id : {kRouter1Octet1, kRouter1Octet1 + 3, kRouter1DnsName, kRouter1Choice, kAddressCaption})
    EXPECT_FALSE(app.ItemVisible(id)) << id;
  EXPECT_TRUE(app.ItemVisible(kRouter2Octet1));

  app.Type(kRouter1User, "admin");
  app.Type(kRouter1Password, "secret1");
  app.Type(kRouter2User, "admin");
  app.Type(kRouter2Password, "secret2");
  app.Type(kTunnelName, "HQ link&x");
  app.Type(kPresharedKey, "s3cret&todo=x%");
  app.TypeOctets(kRouter2Octet1, kRouter2Address);
  app.Picture("local-1-router-entry");
  app.Command(kNext);

  // Two adapters have a gateway: the wizard asks which one leads to Router 1, listing only those two.
  HWND choice = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (choice = ShownWindowWith(kAdapterList)) != nullptr; }, 30000))
      << app.Prompts();
  HWND list = ::GetDlgItem(choice, kAdapterList);
  std::vector<std::string> names;
  for (LRESULT i = 0; i < ::SendMessageA(list, CB_GETCOUNT, 0, 0); ++i) {
    // Read as UTF-16: from another process wine hands the ANSI form back unconverted.
    wchar_t name[256] = {};
    ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name));
    char narrow[256] = {};
    ::WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, sizeof(narrow), nullptr, nullptr);
    names.push_back(narrow);
  }
  ASSERT_EQ(names, (std::vector<std::string>{"wan0", "lan0"}));
  app.Picture("local-2-adapter-choice", choice);
  // Not the one offered first: Router 1 is reached only if the choice is taken.
  ::SendMessageA(list, CB_SETCURSEL, 1, 0);
  ::PostMessageA(choice, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);

  ASSERT_TRUE(app.WaitForPage("Welcome16", 60000)) << app.PageShown() << " prompts: " << app.Prompts();
  app.Picture("local-3-summary");
  EXPECT_EQ(app.WizardMessages(), "");
  // Router 1's LAN address is the gateway itself: its LAN page is never read.
  EXPECT_EQ(Paths(*router1),
            (std::vector<std::string>{"GET /vpn_main.htm", "GET /LocalNetwork.htm", "GET /vpn_summary.htm"}));

  app.Command(kGo);
  ASSERT_TRUE(WaitFor([&] { return Posts(*router1).size() == 1 && Posts(*router2).size() == 1; }, 60000));
  ASSERT_TRUE(WaitFor([&] { return app.BarItemVisible(kTesting); }, 60000)) << app.Prompts();
  EXPECT_EQ(Posts(*router1)[0].body, Golden("e2e_local_tunnel_router1.txt"));
  EXPECT_EQ(Posts(*router2)[0].body, Golden("e2e_local_tunnel_router2.txt"));

  app.Command(kTesting);
  ASSERT_TRUE(app.WaitForPage("Welcome30", 120000)) << app.PageShown() << " prompts: " << app.Prompts();
  app.Picture("local-4-connected");
  ASSERT_EQ(Posts(*router1).size(), 2u);
  ASSERT_EQ(Posts(*router2).size(), 2u);
  EXPECT_EQ(Posts(*router1)[1].body, Golden("e2e_local_connect_router1.txt"));
  EXPECT_EQ(Posts(*router2)[1].body, Golden("e2e_local_connect_router2.txt"));
  EXPECT_EQ(app.ItemText(kWelcome30Label1), LanguageText("Welcome30", "Label1.TextString"));
  EXPECT_EQ(app.WizardMessages(), "");

  app.Command(kExit);
  EXPECT_EQ(app.WaitExit(30000), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace tunmira
