// The worker threads of the router exchanges and the way the user-interface thread runs them: one
// worker at a time, started after ProgressDone is cleared, while a modal progress dialog waits for it.
// Workers write only the shared router state below and touch no window.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <functional>

#include "remote_entry.h"
#include "router_http_client.h"
#include "tunnel_plan.h"

namespace tunmira {

// What the wizard builds and learns about both routers; pages read it only while no worker runs.
struct RouterWork {
  TunnelPlan plan;
  AddressingFlags flags;
  std::array<RouterReadState, 2> routers{};
  std::array<int, 2> post_results{};  // 1: the tunnel form was posted to that router
  int connect_result = 0;             // 1: both routers report the tunnel up
  ClientSeams seams;
  // Set when the user stopped the progress dialog: the worker ends after its current request.
  std::atomic<int> stop_requested{0};
};

// The wizard's one router state (TunnelPlan, LocalMode and the ByName flags live here).
RouterWork &wizard_routers();

// The argument of a worker: the state it works on and the router it works for.
struct WorkerJob {
  RouterWork *work = nullptr;
  RouterId router = RouterId::kRouter1;
  std::atomic<int> finished{0};  // set by the worker just before ProgressDone
};

using WorkerEntry = unsigned(__stdcall *)(void *job);

// Reads the router's settings and tunnel tables into work->routers (result codes of read_result).
unsigned __stdcall ReadRouterInfoThread(void *job);
// Posts the tunnel form to the router; work->post_results.
unsigned __stdcall PostTunnelThread(void *job);
// Posts the connect form to Router 1, then to Router 2, up to three times each; work->connect_result.
unsigned __stdcall ConnectThread(void *job);

// Shows the modal progress dialog of a type until ProgressDone is set.
using ProgressDialog = std::function<void(int progress_type)>;

// Clears ProgressDone, starts entry on job, shows the progress dialog and waits for the worker to end
// before returning, so no worker outlives the call. false when the worker could not start or the user
// stopped the dialog before the worker was done: its results are then not to be used.
bool run_worker(WorkerEntry entry, WorkerJob &job, int progress_type, const ProgressDialog &show_progress);

// The adapters of this PC that have a gateway (GetAdaptersInfo into 6,400 bytes; none on failure).
std::vector<AdapterGateway> adapters_with_gateway();

}  // namespace tunmira
