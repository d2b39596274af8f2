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
  bool CreatePageWindow(WizardPage &page) override {
    log.push_back("create " + std::to_string(page.templateId()));
    return page.templateId() != failCreate;
  }
  void PlaceAndShowPageWindow(WizardPage &page) override {
    log.push_back("show " + std::to_string(page.templateId()));
  }
  void HidePageWindow(WizardPage &page) override {
    log.push_back("hide " + std::to_string(page.templateId()));
  }
  void DestroyPageWindow(WizardPage &page) override {
    log.push_back("destroy " + std::to_string(page.templateId()));
  }
  void SetItemCaption(int id, const char *caption) override { captions[id] = caption; }
  std::vector<std::string> log;
  std::map<int, std::string> captions;
  int failCreate = 0;
};

class RecordingPoster : public CommandPoster {
 public:
  void PostWizardCommand(std::intptr_t wParam, std::intptr_t lParam) override {
    posted.emplace_back(wParam, lParam);
  }
  std::vector<std::pair<std::intptr_t, std::intptr_t>> posted;
};

class ScriptedActions : public ConfigureActions {
 public:
  int PostTunnel(RouterId router) override {
    posts.push_back(router);
    return router == RouterId::Router1 ? router1Result : router2Result;
  }
  void Connect() override { ++connects; }
  void ShowConfigureMessage(ConfigureMessage message) override { messages.push_back(message); }
  void ShowMistake() override { ++mistakes; }
  int router1Result = 1, router2Result = 1, connects = 0, mistakes = 0;
  std::vector<RouterId> posts;
  std::vector<ConfigureMessage> messages;
};

// A page whose answers come from the wizard's own page functions, as the page windows' do.
class FlowPage : public WizardPage {
 public:
  FlowPage(int id, RecordingPoster &poster, ScriptedActions &actions)
      : WizardPage(id), poster_(poster), actions_(actions) {}
  int OnWizardNext() override {
    switch (templateId()) {
      case kWelcome00Id:
        return Welcome00Next();
      case kWelcome01Id:
        return Welcome01Next();
      case kWelcome10Id:
        return Welcome10Next();
      case kPageRemoteId:
        if (refuseRemote) return kStayOnPage;
        TheWizardState().ConfigurePhase = 0;
        TheWizardState().WizardStep = kStepConfigure;
        return kWelcome16Id;
      case kWelcome16Id:
        return Welcome16Next(results, actions_);
      case kCdStartId:
        return CdStartNext(poster_);
    }
    return kListNeighbour;
  }
  int OnWizardBack() override {
    switch (templateId()) {
      case kWelcome01Id:
        return Welcome01Back();
      case kWelcome10Id:
        return Welcome10Back();
      case kPageRemoteId:
        return PageRemoteBack();
      case kWelcome16Id:
        return Welcome16Back(actions_);
      case kCdStartId:
        return CdStartBack(poster_);
    }
    return kListNeighbour;
  }
  bool OnKillActive() override { return !keepActive; }
  bool OnQueryCancel() override { return !refuseCancel; }
  void OnSetActive() override { ++setActiveCount; }
  bool OnPageCreated() override { return !refuseCreated; }
  bool keepActive = false, refuseCancel = false, refuseRemote = false, refuseCreated = false;
  int setActiveCount = 0;
  PostResults results;

 private:
  RecordingPoster &poster_;
  ScriptedActions &actions_;
};

class WizardFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheWizardState().WizardStep = 0;
    TheWizardState().ConfigurePhase = 0;
    TheWizardState().CdStartMode = 0;
    for (int id : {kWelcome00Id, kWelcome01Id, kWelcome10Id, kPageRemoteId, kWelcome16Id, kWelcome17Id,
                   kWelcome30Id, kCdStartId})
      pages.push_back(std::make_unique<FlowPage>(id, poster, actions));
    for (auto &page : pages) sheet.AddPage(*page);
  }
  int Active() const {
    WizardPage *page = sheet.FindActivePage();
    return page ? page->templateId() : 0;
  }
  FlowPage &Page(int id) { return static_cast<FlowPage &>(*sheet.FindPageById(id)); }
  void WalkToSummary() {
    ASSERT_TRUE(sheet.ShowFirstPage());
    for (int i = 0; i < 4; ++i) sheet.GoNextPage();
    ASSERT_EQ(Active(), kWelcome16Id);
  }

  RecordingWindows windows;
  RecordingPoster poster;
  ScriptedActions actions;
  WizardSheet sheet{windows};
  std::vector<std::unique_ptr<FlowPage>> pages;
};

TEST_F(WizardFlowTest, FirstPageIsShownWithTheSheetButtonCaptionsAndHasNoBack) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  EXPECT_EQ(Active(), kWelcome00Id);
  EXPECT_EQ(windows.captions[kSheetNextButton], "Setup");
  EXPECT_EQ(windows.captions[kSheetBackButton], "Install");
  windows.log.clear();
  sheet.GoBackPage();
  EXPECT_EQ(TheWizardState().WizardStep, 0);
  EXPECT_EQ(Active(), kWelcome00Id);
  EXPECT_TRUE(windows.log.empty());
}

TEST_F(WizardFlowTest, NextWalksThePagesAndBackReturnsThroughEach) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  const std::vector<std::pair<int, int>> forward = {
      {kWelcome01Id, 1}, {kWelcome10Id, 2}, {kPageRemoteId, 4}, {kWelcome16Id, 5}};
  for (auto [page, step] : forward) {
    sheet.GoNextPage();
    EXPECT_EQ(Active(), page);
    EXPECT_EQ(TheWizardState().WizardStep, step);
  }
  EXPECT_EQ(TheWizardState().ConfigurePhase, 0);
  const std::vector<std::pair<int, int>> backward = {
      {kPageRemoteId, 4}, {kWelcome10Id, 2}, {kWelcome01Id, 1}, {kWelcome00Id, 0}};
  for (auto [page, step] : backward) {
    sheet.GoBackPage();
    EXPECT_EQ(Active(), page);
    EXPECT_EQ(TheWizardState().WizardStep, step);
  }
  // Each window is created once and kept while hidden.
  EXPECT_EQ(std::count(windows.log.begin(), windows.log.end(), "create 347"), 1);
}

TEST_F(WizardFlowTest, PagesAreCreatedOnFirstShowAndAPageThatFailsIsNotShown) {
  windows.failCreate = kWelcome01Id;
  ASSERT_TRUE(sheet.ShowFirstPage());
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kWelcome00Id);
  EXPECT_FALSE(Page(kWelcome01Id).created());
  windows.failCreate = 0;
  Page(kWelcome01Id).refuseCreated = true;
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kWelcome00Id);
}

TEST_F(WizardFlowTest, RefusedKillActiveKeepsThePageWhateverTheAnswer) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  Page(kWelcome00Id).keepActive = true;
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kWelcome00Id);
  EXPECT_FALSE(Page(kWelcome01Id).active());
}

TEST_F(WizardFlowTest, RouterEntryRefusalStaysAndUnknownAnswerStays) {
  WalkToSummary();
  sheet.GoBackPage();
  Page(kPageRemoteId).refuseRemote = true;
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kPageRemoteId);
  // The CD-start page outside CD-start mode answers 1 to Back: no such page, it stays.
  ASSERT_TRUE(sheet.ShowPage(Page(kCdStartId)));
  sheet.GoBackPage();
  EXPECT_EQ(Active(), kCdStartId);
  EXPECT_EQ(TheWizardState().WizardStep, 7);
}

TEST_F(WizardFlowTest, SummaryPostsBothFormsThenShowsItselfAgainThenConnects) {
  WalkToSummary();
  int shown = Page(kWelcome16Id).setActiveCount;
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kWelcome16Id);
  EXPECT_EQ(Page(kWelcome16Id).setActiveCount, shown + 1);
  EXPECT_EQ(TheWizardState().ConfigurePhase, 1);
  EXPECT_EQ(TheWizardState().WizardStep, 5);
  EXPECT_EQ(actions.posts, (std::vector<RouterId>{RouterId::Router1, RouterId::Router2}));
  EXPECT_EQ(actions.connects, 0);
  sheet.GoNextPage();
  EXPECT_EQ(actions.connects, 1);
  EXPECT_EQ(Active(), kWelcome30Id);
  EXPECT_EQ(TheWizardState().WizardStep, 7);
}

TEST_F(WizardFlowTest, FailedPostsShowTheirMessageAndStayInPhaseZero) {
  WalkToSummary();
  const struct {
    int r1, r2;
    ConfigureMessage message;
  } cases[] = {{1, 0, ConfigureMessage::kConfigure2},
               {0, 1, ConfigureMessage::kConfigure1},
               {0, 0, ConfigureMessage::kConfigure3}};
  for (const auto &c : cases) {
    actions.router1Result = c.r1;
    actions.router2Result = c.r2;
    actions.messages.clear();
    sheet.GoNextPage();
    EXPECT_EQ(Active(), kWelcome16Id);
    EXPECT_EQ(TheWizardState().ConfigurePhase, 0);
    EXPECT_EQ(actions.messages, std::vector<ConfigureMessage>{c.message});
  }
  // A second Next after a failure posts both forms again.
  actions.router1Result = actions.router2Result = 1;
  actions.posts.clear();
  sheet.GoNextPage();
  EXPECT_EQ(actions.posts.size(), 2u);
  EXPECT_EQ(TheWizardState().ConfigurePhase, 1);
}

TEST_F(WizardFlowTest, SummaryBackLeavesPhaseOneThenGoesToRouterEntry) {
  WalkToSummary();
  sheet.GoNextPage();
  ASSERT_EQ(TheWizardState().ConfigurePhase, 1);
  sheet.GoBackPage();
  EXPECT_EQ(Active(), kWelcome16Id);
  EXPECT_EQ(TheWizardState().ConfigurePhase, 0);
  EXPECT_EQ(TheWizardState().WizardStep, 5);
  sheet.GoBackPage();
  EXPECT_EQ(Active(), kPageRemoteId);
  EXPECT_EQ(TheWizardState().WizardStep, 4);
  EXPECT_EQ(actions.mistakes, 0);

  sheet.GoNextPage();
  TheWizardState().ConfigurePhase = 2;
  sheet.GoBackPage();
  EXPECT_EQ(actions.mistakes, 1);
  EXPECT_EQ(Active(), kPageRemoteId);
  // Another phase skips the posts and the connect.
  sheet.GoNextPage();
  TheWizardState().ConfigurePhase = 2;
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kWelcome30Id);
  EXPECT_EQ(actions.connects, 0);
}

TEST_F(WizardFlowTest, ListNeighboursAfterTheSummary) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  ASSERT_TRUE(sheet.ShowPage(Page(kWelcome17Id)));
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kWelcome30Id);
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kCdStartId);
  // The last page has no list neighbour after it: outside CD-start mode it answers Welcome30.
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kWelcome30Id);
  EXPECT_EQ(TheWizardState().WizardStep, 7);
  sheet.GoBackPage();
  EXPECT_EQ(Active(), kWelcome17Id);
  EXPECT_EQ(TheWizardState().WizardStep, 6);
}

TEST_F(WizardFlowTest, CdStartModeGoesToItsPageAndBackToTheStart) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  TheWizardState().CdStartMode = 1;
  TheWizardState().WizardStep = 8;
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kCdStartId);
  EXPECT_EQ(TheWizardState().WizardStep, 8);
  sheet.GoNextPage();
  EXPECT_EQ(Active(), kCdStartId);
  EXPECT_EQ(poster.posted, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{8, 0}}));
  sheet.GoBackPage();
  EXPECT_EQ(Active(), kWelcome00Id);
  EXPECT_EQ(TheWizardState().CdStartMode, 0);
  EXPECT_EQ(TheWizardState().WizardStep, 0);
  EXPECT_EQ(poster.posted.back(), (std::pair<std::intptr_t, std::intptr_t>{0, 100}));
}

TEST_F(WizardFlowTest, CancelAsksEveryCreatedPageAndDestroyKeepsRefusers) {
  ASSERT_TRUE(sheet.ShowFirstPage());
  sheet.GoNextPage();
  EXPECT_TRUE(sheet.QueryCancel());
  Page(kWelcome00Id).refuseCancel = true;
  EXPECT_FALSE(sheet.QueryCancel());
  // A page never created is not asked.
  Page(kWelcome00Id).refuseCancel = false;
  Page(kWelcome30Id).refuseCancel = true;
  EXPECT_TRUE(sheet.QueryCancel());

  Page(kWelcome01Id).keepActive = true;
  windows.log.clear();
  sheet.DestroyPages();
  EXPECT_EQ(windows.log, std::vector<std::string>{"destroy 312"});
  EXPECT_TRUE(Page(kWelcome01Id).created());
  EXPECT_FALSE(Page(kWelcome00Id).created());
}

TEST(LocalModeChoice, EitherChoiceClearsTheByNameFlags) {
  AddressingFlags flags{0, 1, 1};
  ChooseLocalMode(flags, true);
  EXPECT_EQ(flags.localMode, 1);
  EXPECT_EQ(flags.router1ByName + flags.router2ByName, 0);
  flags = {1, 1, 1};
  ChooseLocalMode(flags, false);
  EXPECT_EQ(flags.localMode, 0);
  EXPECT_EQ(flags.router1ByName + flags.router2ByName, 0);
}

}  // namespace
}  // namespace tunmira
