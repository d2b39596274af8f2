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

// How long the wizard gives a router to bring the tunnel up before reading its reply to a connect post.
constexpr DWORD kConnectWaitMs = 8000;
// The longest tunnel name the router entry page takes: what the connect post's Referer line holds
// beside the longest router name.
constexpr std::size_t kLongestTunnelName = 148;

// Each value of the summary stands on its caption's row, to its right, and reads as entered or read.
void expect_summary_rows(const TunmiraExe &app) {
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
    ::GetWindowRect(::GetDlgItem(app.page(), row.caption), &caption);
    ::GetWindowRect(::GetDlgItem(app.page(), row.value), &value);
    EXPECT_EQ(app.item_text(row.value), row.text);
    const int caption_middle = (caption.top + caption.bottom) / 2;
    EXPECT_TRUE(value.top <= caption_middle && caption_middle <= value.bottom) << row.text << " off its row";
    EXPECT_GE(value.left, caption.left + 100) << row.text << " over its caption";
  }
}

class TunmiraEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app.wait_for_window())
        << "no main window; shown: " << shown_windows() << " prompts: " << app.prompts();
    app.go_to_router_entry();
  }

  TunmiraExe app;
};

TEST_F(TunmiraEndToEnd, SetsUpATunnelBetweenTwoRouters) {
  const auto router1 = start_router1(kRouter1Address);
  const auto router2 = start_router2(kRouter2Address, {"--connect", "status"});
  ASSERT_TRUE(router1->started() && router2->started());

  app.fill_router_entry();
  EXPECT_EQ(app.item_text(kRouter1Octet1), "127");
  app.picture("e2e-1-router-entry");
  app.command(kNext);
  ASSERT_TRUE(wait_for([] { return progress_dialog() != nullptr; }, 20000)) << "no progress dialog";
  app.picture("e2e-2-reading", progress_dialog());
  ASSERT_TRUE(app.wait_for_page("Welcome16", 60000)) << app.page_shown() << " prompts: " << app.prompts();
  app.picture("e2e-3-summary");
  EXPECT_EQ(app.wizard_messages(), "");
  expect_summary_rows(app);

  // Help shows the explanation, all of its picture and its Close button; Close ends it.
  constexpr int kHelpButton = 1210, kExplanationLabel = 1240;
  ::PostMessageA(app.page(), WM_COMMAND, MAKEWPARAM(kHelpButton, BN_CLICKED), 0);
  HWND explanation = nullptr;
  ASSERT_TRUE(
      wait_for([&] { return (explanation = shown_window_with(kExplanationLabel)) != nullptr; }, 10000));
  RECT client, close;
  ::GetClientRect(explanation, &client);
  EXPECT_GE(client.right, 480);
  EXPECT_GE(client.bottom, 420);
  ::GetWindowRect(::GetDlgItem(explanation, IDOK), &close);
  ::MapWindowPoints(nullptr, explanation, reinterpret_cast<POINT *>(&close), 2);
  EXPECT_TRUE(close.left >= 0 && close.top >= 0 && close.right <= client.right &&
              close.bottom <= client.bottom);
  app.picture("e2e-3-explanation", explanation);
  ::PostMessageA(explanation, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  ASSERT_TRUE(wait_for([&] { return shown_window_with(kExplanationLabel) == nullptr; }, 10000));

  // Go posts the tunnel form to both routers; the summary is shown again for the connect.
  ASSERT_TRUE(app.bar_item_visible(kGo));
  app.command(kGo);
  ASSERT_TRUE(wait_for([&] { return posts(*router1).size() == 1 && posts(*router2).size() == 1; }, 60000));
  // Testing takes Go's place in the bar once both posts are done and the page is shown again.
  ASSERT_TRUE(wait_for([&] { return app.bar_item_visible(kTesting); }, 60000)) << app.prompts();
  EXPECT_EQ(app.page_shown(), "Welcome16");
  EXPECT_EQ(posts(*router1)[0].body, golden("e2e_tunnel_router1.txt"));
  EXPECT_EQ(posts(*router2)[0].body, golden("e2e_tunnel_router2.txt"));

  // Testing connects the tunnel on both routers and shows the result.
  app.command(kTesting);
  ASSERT_TRUE(app.wait_for_page("Welcome30", 120000)) << app.page_shown() << " prompts: " << app.prompts();
  app.picture("e2e-4-connected");
  ASSERT_EQ(posts(*router1).size(), 2u);
  ASSERT_EQ(posts(*router2).size(), 2u);
  EXPECT_EQ(posts(*router1)[1].body, golden("e2e_connect_router1.txt"));
  EXPECT_EQ(posts(*router2)[1].body, golden("e2e_connect_router2.txt"));
  EXPECT_EQ(app.item_text(kWelcome30Label1), language_text("Welcome30", "Label1.TextString"));
  EXPECT_EQ(app.wizard_messages(), "");

  app.command(kExit);
  EXPECT_EQ(app.wait_exit(30000), std::optional<DWORD>(0));
}

TEST_F(TunmiraEndToEnd, RefusedReadsKeepTheUserOnTheRouterEntryPage) {
  // A wrong password on Router 1 while Router 2 cannot be reached (nothing listens there).
  const std::string router1_address = fresh_address();
  const auto router1 = start_router1(router1_address, {}, "other");
  ASSERT_TRUE(router1->started());
  app.fill_router_entry(router1_address, fresh_address());
  app.command(kNext);
  const std::string login_refused = language_text("MSG", "MSG_AUTHERISEFAILURE");
  ASSERT_TRUE(app.wait_for_prompt(language_text("MSG", "MSG_FINDFAIL3"))) << app.prompts();
  ASSERT_TRUE(wait_for([&] { return app.item_visible(kErrorLabel1); }, 10000));
  EXPECT_EQ(app.item_text(kErrorLabel1), login_refused);
  EXPECT_EQ(app.item_text(kErrorLabel1 + 1), login_refused);
  EXPECT_FALSE(app.item_visible(kErrorLabel1 + 2));
  EXPECT_EQ(app.page_shown(), "PageRemote");
  app.picture("e2e-5-wrong-password");

  // Router 2's tunnel table is full.
  const std::string fixed_address = fresh_address();
  const std::string full_address = fresh_address();
  const auto fixed = start_router1(fixed_address);
  const auto full =
      start_router2(full_address, {"--tunnel", "a=1.1.1.1", "--tunnel", "b=1.1.1.2", "--tunnel", "c=1.1.1.3",
                                   "--tunnel", "d=1.1.1.4", "--tunnel", "e=1.1.1.5"});
  ASSERT_TRUE(fixed->started() && full->started());
  app.fill_router_entry(fixed_address, full_address);
  app.command(kNext);
  ASSERT_TRUE(app.wait_for_prompt(language_text("MSG", "MSG_TUNNELFULL2"))) << app.prompts();
  ASSERT_TRUE(app.responds());
  EXPECT_FALSE(app.item_visible(kErrorLabel1)) << "the labels start afresh on every Next";
  EXPECT_EQ(app.page_shown(), "PageRemote");
}

TEST_F(TunmiraEndToEnd, UsedNamesAndExistingTunnelsKeepTheUserOnThePage) {
  // Router 1 already has a tunnel of that name.
  const std::string router1_address = fresh_address();
  const std::string router2_address = fresh_address();
  const auto router1 = start_router1(router1_address, {"--tunnel", "HQ link&x=10.1.1.1"});
  const auto router2 = start_router2(router2_address);
  ASSERT_TRUE(router1->started() && router2->started());
  app.fill_router_entry(router1_address, router2_address);
  app.command(kNext);
  constexpr int kTunnelNameLabel = kErrorLabel1 + 4;
  ASSERT_TRUE(wait_for([&] { return app.item_visible(kTunnelNameLabel); }, 60000)) << app.prompts();
  EXPECT_EQ(app.item_text(kTunnelNameLabel), language_text("MSG", "MSG_TUNNELNAMEEXIST"));
  app.picture("e2e-6-name-used");

  // Another Router 1 already has a tunnel to Router 2 under another name.
  const std::string joined_address = fresh_address();
  const auto joined = start_router1(joined_address, {"--tunnel", "old=" + router2_address});
  ASSERT_TRUE(joined->started());
  app.type_octets(kRouter1Octet1, joined_address);
  app.command(kNext);
  const std::string expected = language_text("MSG", "MSG_TUNNELNAME0") + " " +
                               language_text("MSG", "MSG_TUNNELNAME1") + " old. " +
                               language_text("MSG", "MSG_TUNNELNAME3");
  ASSERT_TRUE(app.wait_for_prompt(expected)) << app.prompts();
  ASSERT_TRUE(app.responds());
  EXPECT_EQ(app.page_shown(), "PageRemote");
  EXPECT_FALSE(app.item_visible(kTunnelNameLabel));
}

TEST_F(TunmiraEndToEnd, StoppingTheProgressDialogEndsTheReadAndTheProgramLeavesNothingRunning) {
  const std::string router1_address = fresh_address();
  const std::string router2_address = fresh_address();
  const auto router1 = start_router1(router1_address, {"--fault", "/vpn_main.htm=delay:5"});
  const auto router2 = start_router2(router2_address);
  ASSERT_TRUE(router1->started() && router2->started());
  app.fill_router_entry(router1_address, router2_address);
  app.command(kNext);
  ASSERT_TRUE(wait_for([&] { return !router1->requests().empty(); }, 30000));
  HWND progress = progress_dialog();
  ASSERT_NE(progress, nullptr);
  // Escape in the progress dialog.
  ::PostMessageA(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  ASSERT_TRUE(wait_for([] { return progress_dialog() == nullptr; }, 10000));
  ASSERT_TRUE(app.responds());
  EXPECT_EQ(app.page_shown(), "PageRemote");
  EXPECT_EQ(app.wizard_messages(), "") << "a stopped read shows nothing";
  EXPECT_EQ(paths(*router1), std::vector<std::string>{"GET /vpn_main.htm"}) << "no page after the stop";
  EXPECT_TRUE(router2->requests().empty()) << "Router 2 is not read after a stop";

  app.command(kBack);
  ASSERT_TRUE(app.wait_for_page("Welcome10"));
  app.command(kExit);
  EXPECT_EQ(app.wait_exit(30000), std::optional<DWORD>(0));
}

TEST_F(TunmiraEndToEnd, TheLongestTunnelNameTheFieldTakesConnects) {
  const std::string router1_address = fresh_address();
  const std::string router2_address = fresh_address();
  const auto router1 = start_router1(router1_address);
  const auto router2 = start_router2(router2_address, {"--connect", "status"});
  ASSERT_TRUE(router1->started() && router2->started());
  app.fill_router_entry(router1_address, router2_address);
  std::string typed;
  for (int i = 0; i < 200; ++i) typed += static_cast<char>('a' + i % 26);
  app.type(kTunnelName, typed);
  const std::string name = app.item_text(kTunnelName);
  ASSERT_EQ(name, typed.substr(0, kLongestTunnelName)) << "the field stops at the longest name that connects";

  app.command(kNext);
  ASSERT_TRUE(app.wait_for_page("Welcome16", 60000)) << app.page_shown() << " prompts: " << app.prompts();
  app.command(kGo);
  ASSERT_TRUE(wait_for([&] { return app.bar_item_visible(kTesting); }, 60000)) << app.prompts();
  app.command(kTesting);
  ASSERT_TRUE(app.wait_for_page("Welcome30", 120000)) << app.page_shown() << " prompts: " << app.prompts();
  EXPECT_EQ(app.item_text(kWelcome30Label1), language_text("Welcome30", "Label1.TextString")) << "connected";
  EXPECT_EQ(app.wizard_messages(), "");
  ASSERT_EQ(posts(*router1).size(), 2u);
  ASSERT_EQ(posts(*router2).size(), 2u);
  const std::string referer_end = "h_ipsec_select=" + name;
  for (const auto *router : {router1.get(), router2.get()}) {
    const std::string referer = posts(*router)[1].header("Referer");
    EXPECT_TRUE(referer.ends_with(referer_end)) << referer;
  }
}

TEST_F(TunmiraEndToEnd, TheSummaryShowsWhatWasEnteredAfterGoingBack) {
  constexpr int kTunnelNameValue = 1230, kRouter2AddressValue = 1236, kRouter2LanValue = 1237;
  const std::string router1_address = fresh_address();
  const std::string first_address = fresh_address();
  const std::string second_address = fresh_address();
  const auto router1 = start_router1(router1_address);
  const auto first = start_router2(first_address);
  const auto second = start_router(second_address, "secret2", "192.168.3.1", "255.255.255.0", {});
  ASSERT_TRUE(router1->started() && first->started() && second->started());
  app.fill_router_entry(router1_address, first_address);
  app.command(kNext);
  ASSERT_TRUE(app.wait_for_page("Welcome16", 60000)) << app.page_shown() << " prompts: " << app.prompts();
  EXPECT_EQ(app.item_text(kRouter2AddressValue), first_address);

  // Back, another Router 2 and another tunnel name, Next: the summary names what is now posted.
  app.command(kBack);
  ASSERT_TRUE(app.wait_for_page("PageRemote"));
  app.type(kTunnelName, "second tunnel");
  app.type_octets(kRouter2Octet1, second_address);
  app.command(kNext);
  ASSERT_TRUE(app.wait_for_page("Welcome16", 60000)) << app.page_shown() << " prompts: " << app.prompts();
  ASSERT_TRUE(wait_for([&] { return !second->requests().empty(); }, 1000)) << "the new Router 2 was read";
  EXPECT_EQ(app.item_text(kTunnelNameValue), "second tunnel");
  EXPECT_EQ(app.item_text(kRouter2AddressValue), second_address);
  EXPECT_EQ(app.item_text(kRouter2LanValue), "192.168.3.1/255.255.255.0");
  app.picture("e2e-7-summary-after-back");
}

// Escape in the progress dialog, then how long the wizard took to answer again once the dialog had
// gone (nothing when that took over 60 s). Under wine on a display without a window manager, closing
// any dialog takes up to two seconds of its own, so the time is counted from the dialog's end.
std::optional<ULONGLONG> stop_progress(const TunmiraExe &app) {
  HWND progress = progress_dialog();
  if (progress == nullptr) return std::nullopt;
  ::PostMessageA(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  if (!wait_for([&] { return ::IsWindow(progress) == FALSE; }, 10000)) return std::nullopt;
  return app.answer_time(60000);
}

TEST_F(TunmiraEndToEnd, StopAnswersAtOnceWhileARouterHoldsAPage) {
  const std::string router1_address = fresh_address();
  const std::string router2_address = fresh_address();
  const auto router1 = start_router1(router1_address, {"--fault", "/vpn_main.htm=delay:60"});
  const auto router2 = start_router2(router2_address);
  ASSERT_TRUE(router1->started() && router2->started());
  app.fill_router_entry(router1_address, router2_address);
  app.command(kNext);
  ASSERT_TRUE(wait_for([&] { return !router1->requests().empty() && progress_dialog() != nullptr; }, 30000));
  const std::optional<ULONGLONG> answered = stop_progress(app);
  ASSERT_TRUE(answered.has_value()) << "the wizard did not answer after the stop";
  EXPECT_LT(*answered, 2000u) << "the stop waited for the held page";
  EXPECT_EQ(app.page_shown(), "PageRemote");
  EXPECT_EQ(app.wizard_messages(), "") << "a stopped read shows nothing";
  ::Sleep(1000);
  EXPECT_EQ(paths(*router1), std::vector<std::string>{"GET /vpn_main.htm"}) << "no page after the stop";
  EXPECT_TRUE(router2->requests().empty()) << "Router 2 is not read after a stop";

  // The page is the user's again: a changed Router 1 is read afresh.
  const std::string other_address = fresh_address();
  const auto other = start_router1(other_address);
  ASSERT_TRUE(other->started());
  app.type_octets(kRouter1Octet1, other_address);
  app.command(kNext);
  ASSERT_TRUE(app.wait_for_page("Welcome16", 60000)) << app.page_shown() << " prompts: " << app.prompts();
}

TEST_F(TunmiraEndToEnd, StopEndsTheConnectAtOnceAndPostsNoFurtherForm) {
  const std::string router1_address = fresh_address();
  const std::string router2_address = fresh_address();
  const auto router1 = start_router1(router1_address);
  const auto router2 = start_router2(router2_address);
  ASSERT_TRUE(router1->started() && router2->started());
  app.fill_router_entry(router1_address, router2_address);
  app.command(kNext);
  ASSERT_TRUE(app.wait_for_page("Welcome16", 60000)) << app.page_shown() << " prompts: " << app.prompts();
  app.command(kGo);
  ASSERT_TRUE(wait_for([&] { return app.bar_item_visible(kTesting); }, 60000)) << app.prompts();
  ASSERT_EQ(posts(*router2).size(), 1u);

  // Router 1 has taken the connect form; the wizard gives it time before reading the reply.
  app.command(kTesting);
  ASSERT_TRUE(wait_for([&] { return posts(*router1).size() == 2 && progress_dialog() != nullptr; }, 30000));
  const std::optional<ULONGLONG> answered = stop_progress(app);
  ASSERT_TRUE(answered.has_value()) << "the wizard did not answer after the stop";
  EXPECT_LT(*answered, 2000u) << "the stop waited for the connect";
  // Longer than the wait for a router's reply: a worker that went on would have posted by now.
  ::Sleep(kConnectWaitMs + 2000);
  EXPECT_EQ(posts(*router1).size(), 2u) << "Router 1 got the connect form again after the stop";
  EXPECT_EQ(posts(*router2).size(), 1u) << "Router 2 got the connect form after the stop";
}

// Walks to the summary page with both routers read and presses Go.
void go_from_the_summary(TunmiraExe &app, const std::string &router1_address,
                         const std::string &router2_address) {
  app.fill_router_entry(router1_address, router2_address);
  app.command(kNext);
  ASSERT_TRUE(app.wait_for_page("Welcome16", 60000)) << app.page_shown() << " prompts: " << app.prompts();
  app.command(kGo);
}

// Go is offered again on the summary: the tunnel forms are still to be posted.
void expect_go_offered_again(const TunmiraExe &app) {
  EXPECT_EQ(app.page_shown(), "Welcome16");
  EXPECT_TRUE(app.bar_item_visible(kGo));
  EXPECT_FALSE(app.bar_item_visible(kTesting));
}

TEST_F(TunmiraEndToEnd, StopWhileRouter1HoldsItsTunnelFormPostsNothingToRouter2) {
  const std::string router1_address = fresh_address();
  const std::string router2_address = fresh_address();
  const auto router1 = start_router1(router1_address, {"--fault", "/setup.cgi=delay:60*1"});
  const auto router2 = start_router2(router2_address);
  ASSERT_TRUE(router1->started() && router2->started());
  ASSERT_NO_FATAL_FAILURE(go_from_the_summary(app, router1_address, router2_address));
  ASSERT_TRUE(wait_for([&] { return posts(*router1).size() == 1 && progress_dialog() != nullptr; }, 30000));
  ASSERT_TRUE(stop_progress(app).has_value()) << "the wizard did not answer after the stop";
  ::Sleep(10000);
  EXPECT_TRUE(posts(*router2).empty()) << "Router 2 got its tunnel form after the stop";
  EXPECT_EQ(app.wizard_messages(), "") << "a stopped post shows nothing";
  EXPECT_EQ(progress_dialog(), nullptr);
  expect_go_offered_again(app);

  // Go again: Router 1 answers this time, and both forms are posted.
  app.command(kGo);
  ASSERT_TRUE(wait_for([&] { return app.bar_item_visible(kTesting); }, 60000)) << app.prompts();
  EXPECT_EQ(posts(*router1).size(), 2u);
  EXPECT_EQ(posts(*router2).size(), 1u);
  EXPECT_EQ(app.wizard_messages(), "");
}

TEST_F(TunmiraEndToEnd, StopWhileRouter2HoldsItsTunnelFormShowsNothingAndKeepsGo) {
  const std::string router1_address = fresh_address();
  const std::string router2_address = fresh_address();
  const auto router1 = start_router1(router1_address);
  const auto router2 = start_router2(router2_address, {"--fault", "/setup.cgi=delay:60*1"});
  ASSERT_TRUE(router1->started() && router2->started());
  ASSERT_NO_FATAL_FAILURE(go_from_the_summary(app, router1_address, router2_address));
  ASSERT_TRUE(wait_for([&] { return posts(*router2).size() == 1 && progress_dialog() != nullptr; }, 30000));
  ASSERT_TRUE(stop_progress(app).has_value()) << "the wizard did not answer after the stop";
  ::Sleep(2000);
  EXPECT_EQ(app.wizard_messages(), "") << "a stopped post shows nothing";
  EXPECT_EQ(posts(*router1).size(), 1u);
  expect_go_offered_again(app);
}

// A router that really refuses its form is no stop: the other router is still posted to and the
// message names the one that failed.
TEST_F(TunmiraEndToEnd, ARefusedTunnelFormOnRouter1StillPostsRouter2AndTellsTheUser) {
  const std::string router1_address = fresh_address();
  const std::string router2_address = fresh_address();
  const auto router1 = start_router1(router1_address, {"--fault", "/setup.cgi=status:500*1"});
  const auto router2 = start_router2(router2_address);
  ASSERT_TRUE(router1->started() && router2->started());
  ASSERT_NO_FATAL_FAILURE(go_from_the_summary(app, router1_address, router2_address));
  ASSERT_TRUE(app.wait_for_prompt(language_text("MSG", "MSG_CONFIGURE1"))) << app.prompts();
  EXPECT_EQ(posts(*router1).size(), 1u);
  EXPECT_EQ(posts(*router2).size(), 1u) << "Router 2 is posted to after Router 1 failed";
  ASSERT_TRUE(app.responds());
  expect_go_offered_again(app);
}

}  // namespace
}  // namespace tunmira
