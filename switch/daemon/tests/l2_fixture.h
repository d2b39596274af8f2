// The L2 module on the in-process chip model, with a configuration store on a fresh work directory.
#pragma once

#include "daemon_on_chip.h"
#include "conf.h"
#include "l2.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "process_util.h"
#include "trace.h"

#include <cstdlib>
#include <vector>

class L2Fixture : public DaemonOnChip {
 protected:
  void SetUp() override {
    DaemonOnChip::SetUp();
    map_board_ports();
    conf_module_reg(kConfModuleL2, l2_conf);
    mgmt_module_reg(4, l2_mgmt);
    conf_init();
    l2_init();
  }
  void TearDown() override {
    for (int c = 0; c < kL2FrameClasses; ++c) l2_frame_receiver_set(static_cast<L2FrameClass>(c), nullptr);
    conf_module_reg(kConfModuleL2, nullptr);
    DaemonOnChip::TearDown();
  }
  // The daemon's next start on the same work directory and chip.
  void restart() {
    timer_reg_init();
    conf_reset();
    conf_init();
    l2_init();
  }
  // One object; its bytes after processing.
  static std::vector<uint8_t> request(uint32_t obj_id, uint32_t cmd, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> d(16 + data.size(), 0);
    le_store32(&d[0], obj_id);
    le_store32(&d[4], cmd);
    le_store16(&d[14], static_cast<uint16_t>(d.size()));
    std::copy(data.begin(), data.end(), d.begin() + 16);
    EXPECT_EQ(mgmt_process(d.data(), d.size()), d.size());
    return d;
  }
  // A table object's data: count, entry size, then the entries.
  static std::vector<uint8_t> table(uint16_t entry_size, const std::vector<std::vector<uint8_t>> &entries) {
    std::vector<uint8_t> d(4, 0);
    le_store16(&d[0], static_cast<uint16_t>(entries.size()));
    le_store16(&d[2], entry_size);
    for (const auto &e : entries) d.insert(d.end(), e.begin(), e.end());
    return d;
  }
  static uint32_t res(const std::vector<uint8_t> &reply) { return le_load32(&reply[8]); }
  static uint16_t count(const std::vector<uint8_t> &reply) { return le_load16(&reply[16]); }
  // Runs the timers as the main loop would over `ms` milliseconds.
  void run_timers(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 500) {
      now += 500;
      timer_dispatch(now);
    }
  }
  uint32_t now = 1000000;
};
