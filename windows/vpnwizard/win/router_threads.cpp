#include "router_threads.h"

#include <iphlpapi.h>
#include <process.h>

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

// The worker's last step: its results are complete before the progress dialog may close.
unsigned finish(WorkerJob &job) {
  job.finished.store(1);
  the_wizard_state().ProgressDone.store(1);
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
  RouterReader(RouterWork &work, RouterId id)
      : work_(work), id_(id), router_(work.plan.router(id)), host_(router_host(work.plan, work.flags, id)) {}

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
    if (work_.stop_requested.load() != 0) {
      failure_ = kReadUnreachable;
      return false;
    }
    const int result =
        GetRouterPage(host_, path, router_.port, router_.user, router_.password, page_, work_.seams);
    if (result == kHttpOk) return true;
    failure_ = page_failure(result);
    return false;
  }

  RouterWork &work_;
  RouterId id_;
  RouterSettings &router_;
  std::string host_;
  std::string page_;
  int failure_ = kReadUnreachable;
};

int connect_router(RouterWork &work, RouterId id) {
  std::string reply;
  for (int attempt = 0; attempt < kConnectAttempts && work.stop_requested.load() == 0; ++attempt) {
    if (PostSetupForm(id, work.plan, work.flags, reply, work.seams) == 1) return 1;
  }
  return 0;
}

}  // namespace

RouterWork &wizard_routers() {
  static RouterWork work;
  return work;
}

unsigned __stdcall ReadRouterInfoThread(void *argument) {
  WorkerJob &job = *static_cast<WorkerJob *>(argument);
  RouterWork &work = *job.work;
  work.routers[slot(job.router)].result = RouterReader(work, job.router).read();
  return finish(job);
}

unsigned __stdcall PostTunnelThread(void *argument) {
  WorkerJob &job = *static_cast<WorkerJob *>(argument);
  RouterWork &work = *job.work;
  work.post_results[slot(job.router)] = post_tunnel_form(job.router, work.plan, work.flags, work.seams);
  return finish(job);
}

unsigned __stdcall ConnectThread(void *argument) {
  WorkerJob &job = *static_cast<WorkerJob *>(argument);
  RouterWork &work = *job.work;
  const int router1 = connect_router(work, RouterId::kRouter1);
  // Router 2 is tried even when Router 1 failed: the user sees both routers' state afterwards.
  const int router2 = connect_router(work, RouterId::kRouter2);
  work.connect_result = router1 == 1 && router2 == 1 ? 1 : 0;
  return finish(job);
}

bool run_worker(WorkerEntry entry, WorkerJob &job, int progress_type, const ProgressDialog &show_progress) {
  job.finished.store(0);
  job.work->stop_requested.store(0);
  the_wizard_state().ProgressDone.store(0);
  const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, entry, &job, 0, nullptr);
  if (thread == 0) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(thread);
  show_progress(progress_type);
  // The dialog also ends when the user stops it: the worker is asked to stop after its current
  // request and its half-written results are never used.
  const bool stopped = job.finished.load() == 0;
  if (stopped) job.work->stop_requested.store(1);
  ::WaitForSingleObject(handle, INFINITE);
  ::CloseHandle(handle);
  return !stopped;
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
