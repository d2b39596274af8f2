// A configuration store and management module on a fresh work directory, as the daemon starts them.
#pragma once

#include "conf.h"
#include "loop.h"
#include "mgmt.h"
#include "process_util.h"
#include "trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("PORTVISOR_WORKDIR", dir.path().c_str(), 1);
    process_state() = DaemonState{};
    trace_reset_levels();
    fd_reg_init();
    timer_reg_init();
    conf_reset();
    mgmt_reset();
    conf_module_reg(kConfModuleMgmt, mgmt_conf);
    mgmt_module_reg(2, conf_mgmt);
  }
  void TearDown() override {
    mgmt_reset();
    conf_reset();
    timer_reg_init();
    unsetenv("PORTVISOR_WORKDIR");
  }
  std::vector<uint8_t> file() const {
    std::string text = read_text_file(conf_file_path());
    return {text.begin(), text.end()};
  }
  TempDir dir;
};
