// The daemon's modules in-process on the chip model, each test on a fresh work directory: the daemon's
// flags, the trace levels, the timers, the configuration store and the management table start empty as
// at a start of portvisor; a test registers the modules it drives on top.
#pragma once

#include "chip_fixture.h"
#include "conf.h"
#include "loop.h"
#include "mgmt.h"
#include "process_util.h"
#include "trace.h"

#include <cstdlib>

class DaemonOnChip : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    setenv("PORTVISOR_WORKDIR", dir.path().c_str(), 1);
    process_state() = DaemonState{};
    trace_reset_levels();
    timer_reg_init();
    conf_reset();
    mgmt_reset();
  }
  void TearDown() override {
    mgmt_reset();
    conf_reset();
    timer_reg_init();
    unsetenv("PORTVISOR_WORKDIR");
    ChipFixture::TearDown();
  }
  TempDir dir;
};
