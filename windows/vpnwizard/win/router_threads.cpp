#include "router_threads.h"

#include <iphlpapi.h>
#include <process.h>

#include <memory>
#include <string>

#include "page_readers.h"
#include "router_exchange.h"

namespace tunmira {
namespace {

constexpr int kConnectAttempts = 3;
constexpr DWORD kAdapterBufferBytes = 6400;

std::size_t slot(RouterId id) {
  return id == RouterId::kRouter1 ? 0 : 1;
}

}  // namespace

// One run of a worker. The router state it works on is its own copy, so a stopped worker that is
// still waiting for a router can touch neither what the pages use nor what the next worker works on.
// The worker thread and run_worker share it.
struct WorkerRun {
  RouterWork work;
  RouterId router = RouterId::kRouter1;
  std::atomic<int> done{0};
  std::atomic<int> stopped{0};
  ExchangeAbort abort;
};

namespace {

// The argument of a worker entry: run_worker's share of the run, handed over to the thread.
std::shared_ptr<WorkerRun> take_run(void *argument) {
  const std::unique_ptr<std::shared_ptr<WorkerRun>> handed(
      static_cast<std::shared_ptr<WorkerRun> *>(argument));
  return *handed;
}

// The worker's last step: its results are complete before the progress dialog may close. A stopped
// worker leaves the flag alone: it may belong to the next worker's dialog by now.
unsigned finish(WorkerRun &run) {
  run.done.store(1);
  if (run.stopped.load() == 0) the_wizard_state().ProgressDone.store(1);
  return 0;
}

// A page read that failed: the router refused the login, or it could not be reached.
int page_failure(int http_result) {
  return http_result == kHttpUnauthorized ? kReadRefused : kReadUnreachable;
}

// Whether the router's WAN address has to be read from its pages: it was not typed in.
bool wan_address_unknown(const AddressingFlags &flags, RouterId id) {
  if (id == RouterId::kRouter1) return flags.LocalMode == 1 || flags.Router1ByName == 1;
  return flags.Router2ByName == 1;
}

class RouterReader {
 public:
  RouterReader(WorkerRun &run, RouterId id)
      : work_(run.work),
        stopped_(run.stopped),
        id_(id),
        router_(work_.plan.router(id)),
        host_(router_host(work_.plan, work_.flags, id)) {}

  // The read sequence; the result code of read_result.
  int read() {
    if (!fetch("/vpn_main.htm")) return failure_;
    TunnelList list;
    const int name_check = CheckTunnelName(page_, work_.plan.tunnel_name, list);
    if (name_check != kTunnelNameFree) return name_check;
    if (wan_address_unknown(work_.flags, id_) &&
        !ParseWanIp(page_, router_.wan_address, router_.wan_octets)) {
      return kReadNoWanAddress;
    }
    // In LocalMode Router 1's LAN address is the gateway the PC reached it by.
    if (!(id_ == RouterId::kRouter1 && work_.flags.LocalMode == 1)) {
      if (!fetch("/Setup_lan.htm")) return failure_;
      if (!ParseLanIp(page_, router_.lan_address, router_.lan_octets)) return kReadNoLanAddress;
    }
    if (!fetch("/LocalNetwork.htm")) return failure_;
    if (!ParseSubnetMask(page_, router_.subnet_mask, router_.mask_octets)) return kReadNoSubnetMask;
    if (!fetch("/vpn_summary.htm")) return failure_;
    RouterReadState &state = work_.routers[slot(id_)];
    if (!ParseTunnelStatus(page_, state.status, state.tunnel_count, static_cast<int>(kMaxTunnels))) {
      return kReadNoTunnelStatus;
    }
    return kReadOk;
  }

 private:
  // Reads one page into page_; false with failure_ set when it could not be read or the user stopped.
  bool fetch(const char *path) {
    if (stopped_.load() != 0) {
      failure_ = kReadUnreachable;
      return false;
    }
    const int result =
        GetRouterPage(host_, path, router_.port, router_.user, router_.password, page_, work_.seams);
    // Stopped while the page was on its way: what came is not read.
    if (stopped_.load() != 0) {
      failure_ = kReadUnreachable;
      return false;
    }
    if (result == kHttpOk) return true;
    failure_ = page_failure(result);
    return false;
  }

  RouterWork &work_;
  const std::atomic<int> &stopped_;
  RouterId id_;
  RouterSettings &router_;
  std::string host_;
  std::string page_;
  int failure_ = kReadUnreachable;
};

int connect_router(WorkerRun &run, RouterId id) {
  std::string reply;
  for (int attempt = 0; attempt < kConnectAttempts && run.stopped.load() == 0; ++attempt) {
    if (PostSetupForm(id, run.work.plan, run.work.flags, reply, run.work.seams) == 1) return 1;
  }
  return 0;
}

// What a finished worker learned, taken from its copy into the pages' state (whose seams stay).
void take_results(RouterWork &into, const RouterWork &from) {
  into.plan = from.plan;
  into.routers = from.routers;
  into.post_results = from.post_results;
  into.connect_result = from.connect_result;
}

}  // namespace

RouterWork &wizard_routers() {
  static RouterWork work;
  return work;
}

unsigned __stdcall ReadRouterInfoThread(void *argument) {
  const std::shared_ptr<WorkerRun> run = take_run(argument);
  run->work.routers[slot(run->router)].result = RouterReader(*run, run->router).read();
  return finish(*run);
}

unsigned __stdcall PostTunnelThread(void *argument) {
  const std::shared_ptr<WorkerRun> run = take_run(argument);
  RouterWork &work = run->work;
  work.post_results[slot(run->router)] = post_tunnel_form(run->router, work.plan, work.flags, work.seams);
  return finish(*run);
}

unsigned __stdcall ConnectThread(void *argument) {
  const std::shared_ptr<WorkerRun> run = take_run(argument);
  const int router1 = connect_router(*run, RouterId::kRouter1);
  // Router 2 is tried even when Router 1 failed: the user sees both routers' state afterwards.
  const int router2 = connect_router(*run, RouterId::kRouter2);
  run->work.connect_result = router1 == 1 && router2 == 1 ? 1 : 0;
  return finish(*run);
}

bool run_worker(WorkerEntry entry, WorkerJob &job, int progress_type, const ProgressDialog &show_progress) {
  job.finished.store(0);
  job.stopped = false;
  auto run = std::make_shared<WorkerRun>();
  run->work = *job.work;
  run->work.seams.abort = &run->abort;
  run->router = job.router;
  the_wizard_state().ProgressDone.store(0);
  auto handed = std::make_unique<std::shared_ptr<WorkerRun>>(run);
  const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, entry, handed.get(), 0, nullptr);
  if (thread == 0) return false;
  handed.release();  // the worker owns its share now (take_run)
  const HANDLE handle = reinterpret_cast<HANDLE>(thread);
  show_progress(progress_type);
  // The dialog also ends when the user stops it: the worker's pending request is aborted so the
  // interface answers again at once, and its half-written results are never used.
  const bool stopped = run->done.load() == 0;
  if (stopped) {
    run->stopped.store(1);
    run->abort.abort();
  }
  const DWORD ended = ::WaitForSingleObject(handle, stopped ? kStopGraceMs : INFINITE);
  ::CloseHandle(handle);
  job.finished.store(ended == WAIT_OBJECT_0 ? 1 : 0);
  job.stopped = stopped;
  if (stopped) return false;
  take_results(*job.work, run->work);
  return true;
}

std::vector<AdapterGateway> adapters_with_gateway() {
  std::vector<AdapterGateway> adapters;
  alignas(IP_ADAPTER_INFO) unsigned char buffer[kAdapterBufferBytes];
  ULONG size = sizeof(buffer);
  auto *list = reinterpret_cast<IP_ADAPTER_INFO *>(buffer);
  if (::GetAdaptersInfo(list, &size) != ERROR_SUCCESS) return adapters;
  for (const IP_ADAPTER_INFO *adapter = list; adapter != nullptr; adapter = adapter->Next) {
    const char *gateway = adapter->GatewayList.IpAddress.String;
    if (!is_gateway_address(gateway)) continue;
    adapters.push_back({adapter->Description, gateway});
  }
  return adapters;
}

}  // namespace tunmira
