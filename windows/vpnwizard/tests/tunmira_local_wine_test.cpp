// Under wine, in a network of its own (tests/own_network.sh --behind-gateway): the PC sits on Router 1's
// LAN, the default gateway of its adapter lan0 being Router 1, and the wizard runs in local mode. Router 1's
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
  const std::string gateway = env("TUNMIRA_LOCAL_GATEWAY");
  ASSERT_FALSE(gateway.empty()) << "run through tests/own_network.sh --behind-gateway";
  const auto router1 = std::make_unique<RouterDouble>(
      gateway, std::vector<std::string>{"--port", "443", "--wan", kRouter1Wan, "--password", "secret1",
                                        "--lan", gateway, "--mask", "255.255.255.0"});
  const auto router2 = start_router2(kRouter2Address, {"--connect", "status"});
  ASSERT_TRUE(router1->started() && router2->started());

  TunmiraExe app;
  ASSERT_TRUE(app.wait_for_window()) << "no main window; shown: " << shown_windows()
                                     << " prompts: " << app.prompts();
  app.go_to_router_entry(kChoiceLocal);
  // Router 1 is found by the gateway: its address row is not asked for.
  for (int id : {kRouter1Octet1, kRouter1Octet1 + 3, kRouter1DnsName, kRouter1Choice, kAddressCaption})
    EXPECT_FALSE(app.item_visible(id)) << id;
  EXPECT_TRUE(app.item_visible(kRouter2Octet1));

  app.type(kRouter1User, "admin");
  app.type(kRouter1Password, "secret1");
  app.type(kRouter2User, "admin");
  app.type(kRouter2Password, "secret2");
  app.type(kTunnelName, "HQ link&x");
  app.type(kPresharedKey, "s3cret&todo=x%");
  app.type_octets(kRouter2Octet1, kRouter2Address);
  app.picture("local-1-router-entry");
  app.command(kNext);

  // Two adapters have a gateway: the wizard asks which one leads to Router 1, listing only those two.
  HWND choice = nullptr;
  ASSERT_TRUE(wait_for([&] { return (choice = shown_window_with(kAdapterList)) != nullptr; }, 30000))
      << app.prompts();
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
  app.picture("local-2-adapter-choice", choice);
  // Not the one offered first: Router 1 is reached only if the choice is taken.
  ::SendMessageA(list, CB_SETCURSEL, 1, 0);
  ::PostMessageA(choice, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);

  ASSERT_TRUE(app.wait_for_page("Welcome16", 60000)) << app.page_shown() << " prompts: " << app.prompts();
  app.picture("local-3-summary");
  EXPECT_EQ(app.wizard_messages(), "");
  // Router 1's LAN address is the gateway itself: its LAN page is never read.
  EXPECT_EQ(paths(*router1),
            (std::vector<std::string>{"GET /vpn_main.htm", "GET /LocalNetwork.htm", "GET /vpn_summary.htm"}));

  app.command(kGo);
  ASSERT_TRUE(wait_for([&] { return posts(*router1).size() == 1 && posts(*router2).size() == 1; }, 60000));
  ASSERT_TRUE(wait_for([&] { return app.bar_item_visible(kTesting); }, 60000)) << app.prompts();
  EXPECT_EQ(posts(*router1)[0].body, golden("e2e_local_tunnel_router1.txt"));
  EXPECT_EQ(posts(*router2)[0].body, golden("e2e_local_tunnel_router2.txt"));

  app.command(kTesting);
  ASSERT_TRUE(app.wait_for_page("Welcome30", 120000)) << app.page_shown() << " prompts: " << app.prompts();
  app.picture("local-4-connected");
  ASSERT_EQ(posts(*router1).size(), 2u);
  ASSERT_EQ(posts(*router2).size(), 2u);
  EXPECT_EQ(posts(*router1)[1].body, golden("e2e_local_connect_router1.txt"));
  EXPECT_EQ(posts(*router2)[1].body, golden("e2e_local_connect_router2.txt"));
  EXPECT_EQ(app.item_text(kWelcome30Label1), language_text("Welcome30", "Label1.TextString"));
  EXPECT_EQ(app.wizard_messages(), "");

  app.command(kExit);
  EXPECT_EQ(app.wait_exit(30000), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace tunmira
