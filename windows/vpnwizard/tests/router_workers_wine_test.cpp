// The router workers run as the wizard runs them (one at a time, behind a stand-in for the progress
// dialog that waits for ProgressDone) against router doubles on loopback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "remote_entry.h"
#include "router_double_client.h"
#include "router_exchange.h"
#include "router_threads.h"

namespace tunmira {
namespace {

using test::LoggedRequest;
using test::RouterDouble;

constexpr const char *kRouter1Address = "127.0.0.2";
constexpr const char *kRouter2Address = "127.0.0.3";
// Nothing listens here: a router that cannot be reached.
constexpr const char *kNobodyAddress = "127.0.0.4";

class RouterWorkers : public ::testing::Test {
 protected:
  void SetUp() override {
    work.seams.sleep = [this](unsigned ms) { sleeps.push_back(ms); };
    work.seams.notify = [this](const char *text) { notices.emplace_back(text); };
    work.flags = AddressingFlags{0, 0, 0};
    work.plan.tunnel_name = "branch";
    work.plan.preshared_key = "k&ey";
    set_router(work.plan.router1, kRouter1Address, "secret1");
    set_router(work.plan.router2, kRouter2Address, "secret2");
  }

  static void set_router(RouterSettings &router, const char *wan, const char *password) {
    router.user = "admin";
    router.password = password;
    router.wan_address = wan;
    split_address(wan, router.wan_octets);
  }

  static RouterDouble start(const char *address, const char *password, const char *lan,
                            std::vector<std::string> more = {}) {
    std::vector<std::string> options = {"--wan", address, "--password", password, "--lan", lan};
    options.insert(options.end(), more.begin(), more.end());
    return RouterDouble(address, options);
  }

  // Runs a worker the way the pages do; the stand-in dialog polls the flag as the real one does.
  bool Run(WorkerEntry entry, RouterId router, int type) {
    job.work = &work;
    job.router = router;
    return run_worker(entry, job, type, [this](int shown_type) {
      types.push_back(shown_type);
      while (the_wizard_state().ProgressDone.load() == 0) ::Sleep(10);
    });
  }

  int read_result(RouterId router) {
    EXPECT_TRUE(Run(ReadRouterInfoThread, router,
                    router == RouterId::kRouter1 ? kProgressReadRouter1 : kProgressReadRouter2));
    return work.routers[router == RouterId::kRouter1 ? 0 : 1].result;
  }

  RouterWork work;
  WorkerJob job;
  std::vector<int> types;
  std::vector<unsigned> sleeps;
  std::vector<std::string> notices;
};

std::vector<std::string> paths(const std::vector<LoggedRequest> &requests) {
  std::vector<std::string> paths;
  for (const LoggedRequest &request : requests) paths.push_back(request.method + " " + request.path);
  return paths;
}

TEST_F(RouterWorkers, ReadPostAndConnectATunnelBetweenTwoRouters) {
  RouterDouble router1 = start(kRouter1Address, "secret1", "192.168.1.1");
  RouterDouble router2 = start(kRouter2Address, "secret2", "192.168.2.1", {"--tunnel", "old=10.9.9.9"});
  ASSERT_TRUE(router1.started() && router2.started());
  work.plan.router1.port = router1.port();
  work.plan.router2.port = router2.port();

  EXPECT_EQ(read_result(RouterId::kRouter1), kReadOk);
  EXPECT_EQ(read_result(RouterId::kRouter2), kReadOk);
  EXPECT_EQ(types, (std::vector<int>{kProgressReadRouter1, kProgressReadRouter2}));
  EXPECT_EQ(job.finished.load(), 1);
  EXPECT_EQ(work.plan.router1.lan_address, "192.168.1.1");
  EXPECT_EQ(work.plan.router2.lan_octets, (Octets{"192", "168", "2", "1"}));
  EXPECT_EQ(work.plan.router2.subnet_mask, "255.255.255.0");
  EXPECT_EQ(work.routers[1].tunnel_count, 1);
  EXPECT_EQ(work.routers[1].status[0].remote_gateway, "10.9.9.9");
  EXPECT_EQ(paths(router2.requests()),
            (std::vector<std::string>{"GET /vpn_main.htm", "GET /Setup_lan.htm", "GET /LocalNetwork.htm",
                                      "GET /vpn_summary.htm"}));

  ASSERT_TRUE(Run(PostTunnelThread, RouterId::kRouter1, kProgressPostRouter1));
  ASSERT_TRUE(Run(PostTunnelThread, RouterId::kRouter2, kProgressPostRouter2));
  EXPECT_EQ(work.post_results, (std::array<int, 2>{1, 1}));
  std::string expected;
  ASSERT_EQ(build_tunnel_form_from_template(expected, RouterId::kRouter2, work.plan, work.flags, work.seams),
            1);
  EXPECT_EQ(router2.requests().back().body, expected);

  ASSERT_TRUE(Run(ConnectThread, RouterId::kRouter1, kProgressConnect));
  EXPECT_EQ(work.connect_result, 1);
  EXPECT_EQ(sleeps.size(), 2u) << "one reply wait per router";
  EXPECT_TRUE(notices.empty());
}

TEST_F(RouterWorkers, ReadFailuresGiveTheirCodes) {
  RouterDouble router1 = start(kRouter1Address, "other", "192.168.1.1");
  RouterDouble router2 = start(kRouter2Address, "secret2", "192.168.2.1",
                               {"--tunnel", "a=1.1.1.1", "--tunnel", "b=1.1.1.2", "--tunnel", "c=1.1.1.3",
                                "--tunnel", "d=1.1.1.4", "--tunnel", "e=1.1.1.5"});
  ASSERT_TRUE(router1.started() && router2.started());
  work.plan.router1.port = router1.port();
  work.plan.router2.port = router2.port();
  EXPECT_EQ(read_result(RouterId::kRouter1), kReadRefused);
  EXPECT_EQ(read_result(RouterId::kRouter2), kReadTunnelsFull);

  RouterDouble named = start(kRouter1Address, "secret1", "192.168.1.1", {"--tunnel", "branch=1.1.1.1"});
  ASSERT_TRUE(named.started());
  work.plan.router1.password = "secret1";
  work.plan.router1.port = named.port();
  EXPECT_EQ(read_result(RouterId::kRouter1), kReadTunnelNameUsed);

  work.plan.router2.wan_address = kNobodyAddress;
  EXPECT_EQ(read_result(RouterId::kRouter2), kReadUnreachable);
}

TEST_F(RouterWorkers, ARouterGivenByNameHasItsWanAddressRead) {
  RouterDouble router2 = start(kRouter2Address, "secret2", "192.168.2.1");
  ASSERT_TRUE(router2.started());
  work.flags.Router2ByName = 1;
  work.plan.router2.dns_name = kRouter2Address;  // a name the resolver turns into the double's address
  work.plan.router2.wan_address.clear();
  work.plan.router2.port = router2.port();
  EXPECT_EQ(read_result(RouterId::kRouter2), kReadOk);
  EXPECT_EQ(work.plan.router2.wan_address, kRouter2Address);
}

TEST_F(RouterWorkers, StoppingTheDialogEndsTheWorkerBeforeItsResultsAreUsed) {
  RouterDouble router1 =
      start(kRouter1Address, "secret1", "192.168.1.1", {"--fault", "/vpn_main.htm=delay:2"});
  ASSERT_TRUE(router1.started());
  work.plan.router1.port = router1.port();
  job.work = &work;
  job.router = RouterId::kRouter1;
  // The user stops the dialog while the first page is on its way: the dialog sets the flag itself and
  // closes.
  const bool used = run_worker(ReadRouterInfoThread, job, kProgressReadRouter1, [&](int) {
    while (router1.requests().empty()) ::Sleep(10);
    the_wizard_state().ProgressDone.store(1);
  });
  EXPECT_FALSE(used);
  EXPECT_EQ(work.routers[0].result, kReadOk) << "the stopped worker's result is not taken";
  EXPECT_EQ(work.plan.router1.lan_address, "") << "nor what it read";
  ::Sleep(3000);  // past the delayed answer
  EXPECT_EQ(paths(router1.requests()), std::vector<std::string>{"GET /vpn_main.htm"})
      << "no page is read after the stop";
}

// A router that holds a page for a minute: the stop ends the pending request at once, the read is not
// tried again, and the results are discarded.
TEST_F(RouterWorkers, StoppingTheDialogAbortsAHeldRequestAtOnce) {
  RouterDouble router1 =
      start(kRouter1Address, "secret1", "192.168.1.1", {"--fault", "/vpn_main.htm=delay:60"});
  ASSERT_TRUE(router1.started());
  work.plan.router1.port = router1.port();
  job.work = &work;
  job.router = RouterId::kRouter1;
  ULONGLONG stopped_at = 0;
  const bool used = run_worker(ReadRouterInfoThread, job, kProgressReadRouter1, [&](int) {
    while (router1.requests().empty()) ::Sleep(10);
    stopped_at = ::GetTickCount64();
    the_wizard_state().ProgressDone.store(1);
  });
  const ULONGLONG waited = ::GetTickCount64() - stopped_at;
  EXPECT_FALSE(used);
  EXPECT_LT(waited, 2000u) << "the stop waited for the held request";
  EXPECT_EQ(work.routers[0].result, kReadOk) << "the stopped worker's result is not taken";
  ::Sleep(500);
  EXPECT_EQ(paths(router1.requests()), std::vector<std::string>{"GET /vpn_main.htm"})
      << "the page is not asked for again after the stop";
}

// The summary page tells a stopped tunnel-form post from one the router refused: only the refusal is
// a failure to report.
TEST_F(RouterWorkers, AStoppedTunnelFormPostIsToldApartFromARefusedOne) {
  RouterDouble router1 = start(kRouter1Address, "secret1", "192.168.1.1", {"--fault", "/setup.cgi=delay:60"});
  RouterDouble router2 =
      start(kRouter2Address, "secret2", "192.168.2.1", {"--fault", "/setup.cgi=status:500"});
  ASSERT_TRUE(router1.started() && router2.started());
  work.plan.router1.port = router1.port();
  work.plan.router2.port = router2.port();
  job.work = &work;
  job.router = RouterId::kRouter1;
  const bool used = run_worker(PostTunnelThread, job, kProgressPostRouter1, [&](int) {
    while (router1.requests().empty()) ::Sleep(10);
    the_wizard_state().ProgressDone.store(1);
  });
  EXPECT_FALSE(used);
  EXPECT_TRUE(job.stopped);

  ASSERT_TRUE(Run(PostTunnelThread, RouterId::kRouter2, kProgressPostRouter2));
  EXPECT_FALSE(job.stopped) << "a finished worker is no stop";
  EXPECT_EQ(work.post_results[1], 0);
  EXPECT_EQ(router2.requests().size(), 1u);
}

// The connect post waits for the router to bring the tunnel up before reading its reply; a stop ends
// that wait, and the other router is not posted to.
TEST_F(RouterWorkers, StoppingTheDialogEndsTheWaitForAConnectReply) {
  RouterDouble router1 = start(kRouter1Address, "secret1", "192.168.1.1");
  RouterDouble router2 = start(kRouter2Address, "secret2", "192.168.2.1");
  ASSERT_TRUE(router1.started() && router2.started());
  work.plan.router1.port = router1.port();
  work.plan.router2.port = router2.port();
  ASSERT_EQ(read_result(RouterId::kRouter1), kReadOk);
  ASSERT_EQ(read_result(RouterId::kRouter2), kReadOk);
  RouterWork waiting_work;  // seams of its own: the wait for the reply is the real one
  waiting_work.plan = work.plan;
  waiting_work.flags = work.flags;
  job.work = &waiting_work;
  const std::size_t router1_before = router1.requests().size();
  const std::size_t router2_before = router2.requests().size();
  ULONGLONG stopped_at = 0;
  const bool used = run_worker(ConnectThread, job, kProgressConnect, [&](int) {
    while (router1.requests().size() == router1_before) ::Sleep(10);
    stopped_at = ::GetTickCount64();
    the_wizard_state().ProgressDone.store(1);
  });
  const ULONGLONG waited = ::GetTickCount64() - stopped_at;
  EXPECT_FALSE(used);
  EXPECT_LT(waited, 2000u) << "the stop waited for the connect reply";
  EXPECT_EQ(waiting_work.connect_result, 0);
  ::Sleep(1000);
  EXPECT_EQ(router1.requests().size(), router1_before + 1) << "no second connect post after the stop";
  EXPECT_EQ(router2.requests().size(), router2_before) << "Router 2 is not posted to after the stop";
}

}  // namespace
}  // namespace tunmira
