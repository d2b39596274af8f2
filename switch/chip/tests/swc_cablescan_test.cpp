// CableScan on the in-process chip model: the PHY's echo canceller shows the cable the test describes,
// and the engine, polled as port management polls it, finds what was described.
#include <gtest/gtest.h>

#include "chip_fixture.h"
#include "phy_echo.h"
#include "phy_model.h"
#include "swc_cablescan.h"
#include "swc_phy.h"
#include "trace.h"

namespace {

class CableScan : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    map_board_ports();
    swgenio_set_recording(false);
  }

  swchip::PhyModel& phy(unsigned port) { return port == 6 ? chip.phy(1, 3) : chip.phy(0, port - 1); }

  void reset(unsigned port) {
    const swc_phy_reset_setup_t r{port == 6 ? SWC_IF_RGMII : SWC_IF_INTERNAL, 0, 0, 0, 0};
    ASSERT_EQ(swc_phy_reset(port, &r), 0);
  }

  void describe(unsigned port, const std::string& text) {
    swchip::CableDescription cable;
    ASSERT_EQ(swchip::parse_cable_description(text, cable), "");
    phy(port).describe_cable(cable);
  }

  // Polls the test until it ends, letting 5 ms pass between polls; the final code.
  swc_rc run(unsigned port, swc_phy_cablescan_result_t& result, unsigned* polls = nullptr) {
    EXPECT_EQ(swc_phy_cablescan_start(port), 0);
    swc_rc rc = SWC_RC_RUNNING;
    unsigned n = 0;
    for (; n < 100000 && rc == SWC_RC_RUNNING; ++n) {
      clock.advance_us(5000);
      rc = swc_phy_cablescan_get(port, &result);
    }
    if (polls) *polls = n;
    return rc;
  }
};

TEST_F(CableScan, FaultsAndGoodPairsOfAFamilySevenPort) {
  reset(1);
  describe(1, "30 B=open@12 C=short@20");
  if (getenv("CS_TRACE")) trace_option_apply("cablescan", getenv("CS_TRACE"));
  swc_phy_cablescan_result_t r{};
  ASSERT_EQ(run(1, r), 0);
  EXPECT_EQ(r.valid, 1u);
  EXPECT_EQ(r.status[0], 0u);
  EXPECT_EQ(r.status[1], 2u);
  EXPECT_EQ(r.status[2], 1u);
  EXPECT_EQ(r.status[3], 0u);
  EXPECT_EQ(r.length[0], 30u);
  EXPECT_EQ(r.length[1], 12u);
  EXPECT_EQ(r.length[2], 20u);
  EXPECT_EQ(r.length[3], 30u);
}

}  // namespace
