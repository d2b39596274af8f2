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

std::size_t Slot(RouterId id) {
  return id == RouterId::Router1 ? 0 : 1;
}

// The worker's last step: its results are complete before the progress dialog may close.
unsigned Finish(WorkerJob &job) {
  job.finished.store(1);
  TheWizardState().ProgressDone.store(1);
  return 0;
}

// A page read that failed: the router refused the login, or it could not be reached.
int PageFailure(int httpResult) {
  return httpResult == kHttpUnauthorized ? kReadRefused : kReadUnreachable;
}

// Whether the router's WAN address has to be read from its pages: it was not typed in.
bool WanAddressUnknown(const AddressingFlags &flags, RouterId id) {
  if (id == RouterId::Router1) return flags.localMode == 1 || flags.router1ByName == 1;
  return flags.router2ByName == 1;
}

class RouterReader {
 public:
  RouterReader(RouterWork &work, RouterId id)
      : work_(work), id_(id), router_(work.plan.Router(id)), host_(RouterHost(work.plan, work.flags, id)) {}

  // The read sequence; the result code of ReadResult.
  int Read() {
    if (!Fetch("/vpn_main.htm")) return failure_;
    TunnelList list;
    const int nameCheck = CheckTunnelName(page_, work_.plan.tunnelName, list);
    if (nameCheck != kTunnelNameFree) return nameCheck;
    if (WanAddressUnknown(work_.flags, id_) && !ParseWanIp(page_, router_.wanAddress, router_.wanOctets)) {
      return kReadNoWanAddress;
    }
    // In LocalMode Router 1's LAN address is the gateway the PC reached it by.
    if (!(id_ == RouterId::Router1 && work_.flags.localMode == 1)) {
      if (!Fetch("/Setup_lan.htm")) return failure_;
      if (!ParseLanIp(page_, router_.lanAddress, router_.lanOctets)) return kReadNoLanAddress;
    }
    if (!Fetch("/LocalNetwork.htm")) return failure_;
    if (!ParseSubnetMask(page_, router_.subnetMask, router_.maskOctets)) return kReadNoSubnetMask;
    if (!Fetch("/vpn_summary.htm")) return failure_;
    RouterReadState &state = work_.routers[Slot(id_)];
    if (!ParseTunnelStatus(page_, state.status, state.tunnelCount, static_cast<int>(kMaxTunnels))) {
      return kReadNoTunnelStatus;
    }
    return kReadOk;
  }

 private:
  // Reads one page into page_; false with failure_ set when it could not be read or the user stopped.
  bool Fetch(const char *path) {
    if (work_.stopRequested.load() != 0) {
      failure_ = kReadUnreachable;
      return false;
    }
    const int result =
        GetRouterPage(host_, path, router_.port, router_.user, router_.password, page_, work_.seams);
    if (result == kHttpOk) return true;
    failure_ = PageFailure(result);
    return false;
  }

  RouterWork &work_;
  RouterId id_;
  RouterSettings &router_;
  std::string host_;
  std::string page_;
  int failure_ = kReadUnreachable;
};

int ConnectRouter(RouterWork &work, RouterId id) {
  std::string reply;
  for (int attempt = 0; attempt < kConnectAttempts && work.stopRequested.load() == 0; ++attempt) {
    if (PostSetupForm(id, work.plan, work.flags, reply, work.seams) == 1) return 1;
  }
  return 0;
}

}  // namespace

RouterWork &WizardRouters() {
  static RouterWork work;
  return work;
}

unsigned __stdcall ReadRouterInfoThread(void *argument) {
  WorkerJob &job = *static_cast<WorkerJob *>(argument);
  RouterWork &work = *job.work;
  work.routers[Slot(job.router)].result = RouterReader(work, job.router).Read();
  return Finish(job);
}

unsigned __stdcall PostTunnelThread(void *argument) {
  WorkerJob &job = *static_cast<WorkerJob *>(argument);
  RouterWork &work = *job.work;
  work.postResults[Slot(job.router)] = PostTunnelForm(job.router, work.plan, work.flags, work.seams);
  return Finish(job);
}

unsigned __stdcall ConnectThread(void *argument) {
  WorkerJob &job = *static_cast<WorkerJob *>(argument);
  RouterWork &work = *job.work;
  const int router1 = ConnectRouter(work, RouterId::Router1);
  // Router 2 is tried even when Router 1 failed: the user sees both routers' state afterwards.
  const int router2 = ConnectRouter(work, RouterId::Router2);
  work.connectResult = router1 == 1 && router2 == 1 ? 1 : 0;
  return Finish(job);
}

bool RunWorker(WorkerEntry entry, WorkerJob &job, int progressType, const ProgressDialog &showProgress) {
  job.finished.store(0);
  job.work->stopRequested.store(0);
  TheWizardState().ProgressDone.store(0);
  const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, entry, &job, 0, nullptr);
  if (thread == 0) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(thread);
  showProgress(progressType);
  // The dialog also ends when the user stops it: the worker is asked to stop after its current
  // request and its half-written results are never used.
  const bool stopped = job.finished.load() == 0;
  if (stopped) job.work->stopRequested.store(1);
  ::WaitForSingleObject(handle, INFINITE);
  ::CloseHandle(handle);
  return !stopped;
}

std::vector<AdapterGateway> AdaptersWithGateway() {
  std::vector<AdapterGateway> adapters;
  alignas(IP_ADAPTER_INFO) unsigned char buffer[kAdapterBufferBytes];
  ULONG size = sizeof(buffer);
  auto *list = reinterpret_cast<IP_ADAPTER_INFO *>(buffer);
  if (::GetAdaptersInfo(list, &size) != ERROR_SUCCESS) return adapters;
  for (const IP_ADAPTER_INFO *adapter = list; adapter != nullptr; adapter = adapter->Next) {
    const char *gateway = adapter->GatewayList.IpAddress.String;
    if (!IsGatewayAddress(gateway)) continue;
    adapters.push_back({adapter->Description, gateway});
  }
  return adapters;
}

}  // namespace tunmira
