// The worker threads of the router exchanges and the way the user-interface thread runs them: one
// worker at a time, started after ProgressDone is cleared, while a modal progress dialog waits for it.
// Workers write only their copy of the router state below and touch no window.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <functional>

#include "remote_entry.h"
#include "router_http_client.h"
#include "tunnel_plan.h"

namespace tunmira {

// What the wizard builds and learns about both routers. Workers work on copies (run_worker), so the
// pages alone touch the wizard's own.
struct RouterWork {
  TunnelPlan plan;
  AddressingFlags flags;
  std::array<RouterReadState, 2> routers{};
  std::array<int, 2> post_results{};  // 1: the tunnel form was posted to that router
  int connect_result = 0;             // 1: both routers report the tunnel up
  ClientSeams seams;
};

// The wizard's one router state (TunnelPlan, LocalMode and the ByName flags live here).
RouterWork &wizard_routers();

// What a page asks a worker to do: the state it works on and the router it works for.
struct WorkerJob {
  RouterWork *work = nullptr;
  RouterId router = RouterId::kRouter1;
  std::atomic<int> finished{0};  // 1 when the worker had ended by the time run_worker returned
  bool stopped = false;          // the user stopped the progress dialog before the worker was done
};

// Worker entries for run_worker, which alone makes their argument.
using WorkerEntry = unsigned(__stdcall *)(void *run);

// Reads the router's settings and tunnel tables (routers, plan; result codes of read_result).
unsigned __stdcall ReadRouterInfoThread(void *run);
// Posts the tunnel form to the router; post_results.
unsigned __stdcall PostTunnelThread(void *run);
// Posts the connect form to Router 1, then to Router 2, up to three times each; connect_result.
unsigned __stdcall ConnectThread(void *run);

// Shows the modal progress dialog of a type until ProgressDone is set.
using ProgressDialog = std::function<void(int progress_type)>;

// How long a stop waits for the worker to notice before the interface goes on without it.
inline constexpr DWORD kStopGraceMs = 1000;

// Clears ProgressDone, starts entry for job on a copy of *job.work, shows the progress dialog and, once
// the worker is done, takes its results into *job.work. false when the worker could not start or the
// user stopped the dialog before the worker was done (job.stopped): its pending request is then
// aborted, the worker starts no further request, and its results are dropped. A stopped worker still
// waiting for a router (the network may not let go of a request at once) ends on its own, on its own
// copy, and never touches job or *job.work again.
bool run_worker(WorkerEntry entry, WorkerJob &job, int progress_type, const ProgressDialog &show_progress);

// The adapters of this PC that have a gateway (GetAdaptersInfo into 6,400 bytes; none on failure).
std::vector<AdapterGateway> adapters_with_gateway();

}  // namespace tunmira
