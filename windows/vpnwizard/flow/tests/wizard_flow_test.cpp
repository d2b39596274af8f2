// The wizard's page flow against a scripted sheet: every page's answers, the sheet's moves and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "page_flow.h"
#include "wizard_sheet.h"

namespace tunmira {
namespace {

class RecordingWindows : public PageWindows {
 public:
  bool create_page_window(WizardPage &page) override {
    log.push_back("create " + std::to_string(page.template_id()));
    return page.template_id() != fail_create;
  }
  void place_and_show_page_window(WizardPage &page) override {
    log.push_back("show " + std::to_string(page.template_id()));
  }
  void hide_page_window(WizardPage &page) override {
    log.push_back("hide " + std::to_string(page.template_id()));
  }
  void destroy_page_window(WizardPage &page) override {
    log.push_back("destroy " + std::to_string(page.template_id()));
  }
  void set_item_caption(int id, const char *caption) override { captions[id] = caption; }
  std::vector<std::string> log;
  std::map<int, std::string> captions;
  int fail_create = 0;
};

class RecordingPoster : public CommandPoster {
 public:
  void post_wizard_command(std::intptr_t wParam, std::intptr_t lParam) override {
    posted.emplace_back(wParam, lParam);
  }
  std::vector<std::pair<std::intptr_t, std::intptr_t>> posted;
};

class ScriptedActions : public ConfigureActions {
 public:
  PostOutcome post_tunnel(RouterId router) override {
    posts.push_back(router);
    return router == RouterId::kRouter1 ? router1_outcome : router2_outcome;
  }
  void connect() override { ++connects; }
  void show_configure_message(ConfigureMessage message) override { messages.push_back(message); }
  void show_mistake() override { ++mistakes; }
  PostOutcome router1_outcome = PostOutcome::kPosted, router2_outcome = PostOutcome::kPosted;
  int connects = 0, mistakes = 0;
  std::vector<RouterId> posts;
  std::vector<ConfigureMessage> messages;
};

// A page whose answers come from the wizard's own page functions, as the page windows' do.
class FlowPage : public WizardPage {
 public:
  FlowPage(int id, RecordingPoster &poster, ScriptedActions &actions)
      : WizardPage(id), poster_(poster), actions_(actions) {}
  int OnWizardNext() override {
    switch (template_id()) {
      case kWelcome00Id:
        return welcome00_next();
      case kWelcome01Id:
        return welcome01_next();
      case kWelcome10Id:
        return welcome10_next();
      case kPageRemoteId:
        if (refuse_remote) return kStayOnPage;
        the_wizard_state().ConfigurePhase = 0;
        the_wizard_state().WizardStep = kStepConfigure;
        return kWelcome16Id;
      case kWelcome16Id:
        return welcome16_next(results, actions_);
      case kCdStartId:
        return cd_start_next(poster_);
    }
    return kListNeighbour;
  }
  int OnWizardBack() override {
    switch (template_id()) {
      case kWelcome01Id:
        return welcome01_back();
      case kWelcome10Id:
        return welcome10_back();
      case kPageRemoteId:
        return page_remote_back();
      case kWelcome16Id:
        return welcome16_back(actions_);
      case kCdStartId:
        return cd_start_back(poster_);
    }
    return kListNeighbour;
  }
  bool OnKillActive() override { return !keep_active; }
  bool OnQueryCancel() override { return !refuse_cancel; }
  void OnSetActive() override { ++set_active_count; }
  bool OnPageCreated() override { return !refuse_created; }
  bool keep_active = false, refuse_cancel = false, refuse_remote = false, refuse_created = false;
  int set_active_count = 0;
  PostResults results;

 private:
  RecordingPoster &poster_;
  ScriptedActions &actions_;
};

class WizardFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    the_wizard_state().WizardStep = 0;
    the_wizard_state().ConfigurePhase = 0;
    the_wizard_state().CdStartMode = 0;
    for (int id : {kWelcome00Id, kWelcome01Id, kWelcome10Id, kPageRemoteId, kWelcome16Id, kWelcome17Id,
                   kWelcome30Id, kCdStartId})
      pages.push_back(std::make_unique<FlowPage>(id, poster, actions));
    for (auto &page : pages) sheet.AddPage(*page);
  }
  int active() const {
    WizardPage *page = sheet.FindActivePage();
    return page ? page->template_id() : 0;
  }
  FlowPage &page(int id) { return static_cast<FlowPage &>(*sheet.FindPageById(id)); }
  void walk_to_summary() {
    ASSERT_TRUE(sheet.ShowFirstPage());
    for (int i = 0; i < 4; ++i) sheet.GoNextPage();
    ASSERT_EQ(active(), kWelcome16Id);
  }

  RecordingWindows windows;
  RecordingPoster poster;
  ScriptedActions actions;
  WizardSheet sheet{windows};
  std::vector<std::unique_ptr<FlowPage>> pages;
};

TEST_F(WizardFlowTest, FirstPageIsShownWithTheSheetButtonCaptionsAndHasNoBack) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  EXPECT_EQ(active(), kWelcome00Id);
  EXPECT_EQ(windows.captions[kSheetNextButton], "Setup");
  EXPECT_EQ(windows.captions[kSheetBackButton], "Install");
  windows.log.clear();
  sheet.GoBackPage();
  EXPECT_EQ(the_wizard_state().WizardStep, 0);
  EXPECT_EQ(active(), kWelcome00Id);
  EXPECT_TRUE(windows.log.empty());
}

TEST_F(WizardFlowTest, NextWalksThePagesAndBackReturnsThroughEach) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  const std::vector<std::pair<int, int>> forward = {
      {kWelcome01Id, 1}, {kWelcome10Id, 2}, {kPageRemoteId, 4}, {kWelcome16Id, 5}};
  for (auto [page, step] : forward) {
    sheet.GoNextPage();
    EXPECT_EQ(active(), page);
    EXPECT_EQ(the_wizard_state().WizardStep, step);
  }
  EXPECT_EQ(the_wizard_state().ConfigurePhase, 0);
  const std::vector<std::pair<int, int>> backward = {
      {kPageRemoteId, 4}, {kWelcome10Id, 2}, {kWelcome01Id, 1}, {kWelcome00Id, 0}};
  for (auto [page, step] : backward) {
    sheet.GoBackPage();
    EXPECT_EQ(active(), page);
    EXPECT_EQ(the_wizard_state().WizardStep, step);
  }
  // Each window is created once and kept while hidden.
  EXPECT_EQ(std::count(windows.log.begin(), windows.log.end(), "create 347"), 1);
}

TEST_F(WizardFlowTest, PagesAreCreatedOnFirstShowAndAPageThatFailsIsNotShown) {
  windows.fail_create = kWelcome01Id;
  ASSERT_TRUE(sheet.ShowFirstPage());
  sheet.GoNextPage();
  EXPECT_EQ(active(), kWelcome00Id);
  EXPECT_FALSE(page(kWelcome01Id).created());
  windows.fail_create = 0;
  page(kWelcome01Id).refuse_created = true;
  sheet.GoNextPage();
  EXPECT_EQ(active(), kWelcome00Id);
}

TEST_F(WizardFlowTest, RefusedKillActiveKeepsThePageWhateverTheAnswer) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  page(kWelcome00Id).keep_active = true;
  sheet.GoNextPage();
  EXPECT_EQ(active(), kWelcome00Id);
  EXPECT_FALSE(page(kWelcome01Id).active());
}

TEST_F(WizardFlowTest, RouterEntryRefusalStaysAndUnknownAnswerStays) {
  walk_to_summary();
  sheet.GoBackPage();
  page(kPageRemoteId).refuse_remote = true;
  sheet.GoNextPage();
  EXPECT_EQ(active(), kPageRemoteId);
  // The CD-start page outside CD-start mode answers 1 to Back: no such page, it stays.
  ASSERT_TRUE(sheet.ShowPage(page(kCdStartId)));
  sheet.GoBackPage();
  EXPECT_EQ(active(), kCdStartId);
  EXPECT_EQ(the_wizard_state().WizardStep, 7);
}

TEST_F(WizardFlowTest, SummaryPostsBothFormsThenShowsItselfAgainThenConnects) {
  walk_to_summary();
  int shown = page(kWelcome16Id).set_active_count;
  sheet.GoNextPage();
  EXPECT_EQ(active(), kWelcome16Id);
  EXPECT_EQ(page(kWelcome16Id).set_active_count, shown + 1);
  EXPECT_EQ(the_wizard_state().ConfigurePhase, 1);
  EXPECT_EQ(the_wizard_state().WizardStep, 5);
  EXPECT_EQ(actions.posts, (std::vector<RouterId>{RouterId::kRouter1, RouterId::kRouter2}));
  EXPECT_EQ(actions.connects, 0);
  sheet.GoNextPage();
  EXPECT_EQ(actions.connects, 1);
  EXPECT_EQ(active(), kWelcome30Id);
  EXPECT_EQ(the_wizard_state().WizardStep, 7);
}

TEST_F(WizardFlowTest, FailedPostsShowTheirMessageAndStayInPhaseZero) {
  walk_to_summary();
  constexpr PostOutcome kPosted = PostOutcome::kPosted, kFailed = PostOutcome::kFailed;
  const struct {
    PostOutcome r1, r2;
    ConfigureMessage message;
  } cases[] = {{kPosted, kFailed, ConfigureMessage::kConfigure2},
               {kFailed, kPosted, ConfigureMessage::kConfigure1},
               {kFailed, kFailed, ConfigureMessage::kConfigure3}};
  for (const auto &c : cases) {
    actions.router1_outcome = c.r1;
    actions.router2_outcome = c.r2;
    actions.messages.clear();
    actions.posts.clear();
    sheet.GoNextPage();
    EXPECT_EQ(active(), kWelcome16Id);
    EXPECT_EQ(the_wizard_state().ConfigurePhase, 0);
    EXPECT_EQ(actions.messages, std::vector<ConfigureMessage>{c.message});
    EXPECT_EQ(actions.posts.size(), 2u) << "a failed post still has the other router posted";
  }
  // A second Next after a failure posts both forms again.
  actions.router1_outcome = actions.router2_outcome = kPosted;
  actions.posts.clear();
  sheet.GoNextPage();
  EXPECT_EQ(actions.posts.size(), 2u);
  EXPECT_EQ(the_wizard_state().ConfigurePhase, 1);
}

// The user stopping a post's progress dialog ends Go where it is: no further post, no message, and
// the summary stays in phase 0 for another Go.
TEST_F(WizardFlowTest, AStoppedPostEndsGoWithoutAFurtherPostOrMessage) {
  walk_to_summary();
  const int shown = page(kWelcome16Id).set_active_count;
  actions.router1_outcome = PostOutcome::kStopped;
  sheet.GoNextPage();
  EXPECT_EQ(actions.posts, std::vector<RouterId>{RouterId::kRouter1}) << "Router 2 was posted after the stop";

  actions.router1_outcome = PostOutcome::kPosted;
  actions.router2_outcome = PostOutcome::kStopped;
  sheet.GoNextPage();
  EXPECT_EQ(actions.posts.size(), 3u);

  EXPECT_TRUE(actions.messages.empty());
  EXPECT_EQ(active(), kWelcome16Id);
  EXPECT_EQ(page(kWelcome16Id).set_active_count, shown) << "the page was not shown again";
  EXPECT_EQ(the_wizard_state().ConfigurePhase, 0);
  EXPECT_EQ(the_wizard_state().WizardStep, 5);

  actions.router2_outcome = PostOutcome::kPosted;
  sheet.GoNextPage();
  EXPECT_EQ(the_wizard_state().ConfigurePhase, 1);
}

TEST_F(WizardFlowTest, SummaryBackLeavesPhaseOneThenGoesToRouterEntry) {
  walk_to_summary();
  sheet.GoNextPage();
  ASSERT_EQ(the_wizard_state().ConfigurePhase, 1);
  sheet.GoBackPage();
  EXPECT_EQ(active(), kWelcome16Id);
  EXPECT_EQ(the_wizard_state().ConfigurePhase, 0);
  EXPECT_EQ(the_wizard_state().WizardStep, 5);
  sheet.GoBackPage();
  EXPECT_EQ(active(), kPageRemoteId);
  EXPECT_EQ(the_wizard_state().WizardStep, 4);
  EXPECT_EQ(actions.mistakes, 0);

  sheet.GoNextPage();
  the_wizard_state().ConfigurePhase = 2;
  sheet.GoBackPage();
  EXPECT_EQ(actions.mistakes, 1);
  EXPECT_EQ(active(), kPageRemoteId);
  // Another phase skips the posts and the connect.
  sheet.GoNextPage();
  the_wizard_state().ConfigurePhase = 2;
  sheet.GoNextPage();
  EXPECT_EQ(active(), kWelcome30Id);
  EXPECT_EQ(actions.connects, 0);
}

TEST_F(WizardFlowTest, ListNeighboursAfterTheSummary) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  ASSERT_TRUE(sheet.ShowPage(page(kWelcome17Id)));
  sheet.GoNextPage();
  EXPECT_EQ(active(), kWelcome30Id);
  sheet.GoNextPage();
  EXPECT_EQ(active(), kCdStartId);
  // The last page has no list neighbour after it: outside CD-start mode it answers Welcome30.
  sheet.GoNextPage();
  EXPECT_EQ(active(), kWelcome30Id);
  EXPECT_EQ(the_wizard_state().WizardStep, 7);
  sheet.GoBackPage();
  EXPECT_EQ(active(), kWelcome17Id);
  EXPECT_EQ(the_wizard_state().WizardStep, 6);
}

TEST_F(WizardFlowTest, CdStartModeGoesToItsPageAndBackToTheStart) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  the_wizard_state().CdStartMode = 1;
  the_wizard_state().WizardStep = 8;
  sheet.GoNextPage();
  EXPECT_EQ(active(), kCdStartId);
  EXPECT_EQ(the_wizard_state().WizardStep, 8);
  sheet.GoNextPage();
  EXPECT_EQ(active(), kCdStartId);
  EXPECT_EQ(poster.posted, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{8, 0}}));
  sheet.GoBackPage();
  EXPECT_EQ(active(), kWelcome00Id);
  EXPECT_EQ(the_wizard_state().CdStartMode, 0);
  EXPECT_EQ(the_wizard_state().WizardStep, 0);
  EXPECT_EQ(poster.posted.back(), (std::pair<std::intptr_t, std::intptr_t>{0, 100}));
}

TEST_F(WizardFlowTest, CancelAsksEveryCreatedPageAndDestroyKeepsRefusers) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  sheet.GoNextPage();
  EXPECT_TRUE(sheet.query_cancel());
  page(kWelcome00Id).refuse_cancel = true;
  EXPECT_FALSE(sheet.query_cancel());
  // A page never created is not asked.
  page(kWelcome00Id).refuse_cancel = false;
  page(kWelcome30Id).refuse_cancel = true;
  EXPECT_TRUE(sheet.query_cancel());

  page(kWelcome01Id).keep_active = true;
  windows.log.clear();
  sheet.destroy_pages();
  EXPECT_EQ(windows.log, std::vector<std::string>{"destroy 312"});
  EXPECT_TRUE(page(kWelcome01Id).created());
  EXPECT_FALSE(page(kWelcome00Id).created());
}

TEST(LocalModeChoice, EitherChoiceClearsTheByNameFlags) {
  AddressingFlags flags{0, 1, 1};
  choose_local_mode(flags, true);
  EXPECT_EQ(flags.LocalMode, 1);
  EXPECT_EQ(flags.Router1ByName + flags.Router2ByName, 0);
  flags = {1, 1, 1};
  choose_local_mode(flags, false);
  EXPECT_EQ(flags.LocalMode, 0);
  EXPECT_EQ(flags.Router1ByName + flags.Router2ByName, 0);
}

}  // namespace
}  // namespace tunmira
