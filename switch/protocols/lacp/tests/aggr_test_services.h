// Recording services for the aggregation module: chip calls, port states and frames.
#pragma once

#include "conf.h"
#include "l2_aggr.h"
#include "lacp_test_host.h"
#include "loop.h"
#include "process_util.h"
#include "trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace lacp_test {

// A fresh configuration store in its own work directory, empty timer and hook registries, and the l2 and
// lacp traces on, for as long as the object lives.
class DaemonStore {
 public:
  DaemonStore() {
    setenv("PORTVISOR_WORKDIR", dir_.path().c_str(), 1);
    process_state() = DaemonState{};
    trace_option_apply("l2", "noise");
    trace_option_apply("lacp", "noise");
    timer_reg_init();
    loop_hooks_init();
    conf_reset();
  }
  ~DaemonStore() {
    conf_reset();
    loop_hooks_init();
    timer_reg_init();
    trace_reset_levels();
    unsetenv("PORTVISOR_WORKDIR");
  }
  DaemonStore(const DaemonStore &) = delete;
  DaemonStore &operator=(const DaemonStore &) = delete;

 private:
  TempDir dir_;
};

class RecordingServices : public LacpScripted, public lacp::AggrChip {
 public:
  using LacpScripted::LacpScripted;

  int aggr_port_members_set(uint32_t poag_no, const std::array<uint32_t, 7> &members) override {
    std::string text = "members " + std::to_string(poag_no) + " ";
    for (unsigned p = 1; p <= lacp::kPortCount; ++p) text += members[p] ? std::to_string(p) : "-";
    calls.push_back(text);
    return chip_rc;
  }
  int aggr_mode_set(const std::array<uint32_t, 5> &mode) override {
    std::string text = "mode";
    for (uint32_t v : mode) text += " " + std::to_string(v);
    calls.push_back(text);
    return 0;
  }
  void rstp_aggr_add(uint32_t poag_no, const std::array<uint32_t, 7> &) override {
    calls.push_back("rstp add " + std::to_string(poag_no));
  }
  void rstp_aggr_del(uint32_t poag_no) override { calls.push_back("rstp del " + std::to_string(poag_no)); }

  int chip_rc = 0;
  std::vector<std::string> calls;
};

inline lacp::AggrEntry entry(uint32_t poag, std::initializer_list<unsigned> ports, uint16_t aid = 0) {
  lacp::AggrEntry e;
  e.poag_no = poag;
  for (unsigned p : ports) e.members[p] = 1;
  e.aid = aid;
  return e;
}

}  // namespace lacp_test
