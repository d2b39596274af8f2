// Management objects 1 and 2 (PHY registers) against the switch API on an in-process chip model.
#include "le.h"
#include "mgmt.h"

#include "chip_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

class MgmtPhy : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    // Front ports 1..5 on MIIM controller 0 at addresses 0..4, port 6 on controller 1 at address 3.
    SwcPortMap map[7] = {};
    for (int port = 1; port <= 5; ++port)
      map[port] = SwcPortMap{port - 1, 0, static_cast<uint32_t>(port - 1)};
    map[6] = SwcPortMap{6, 1, 3};
    swc_port_map_set(map);
    mgmt_reset();
    mgmt_init();
  }
  void TearDown() override {
    mgmt_reset();
    ChipFixture::TearDown();
  }
  // One object; returns its bytes after processing.
  std::vector<uint8_t> request(uint32_t obj_id, uint32_t cmd, std::vector<uint8_t> data) {
    std::vector<uint8_t> d(16 + data.size(), 0);
    le_store32(&d[0], obj_id);
    le_store32(&d[4], cmd);
    le_store16(&d[14], static_cast<uint16_t>(d.size()));
    std::copy(data.begin(), data.end(), d.begin() + 16);
    EXPECT_EQ(mgmt_process(d.data(), d.size()), d.size());
    return d;
  }
};

std::vector<uint8_t> port_data(uint32_t port, uint32_t reg, uint16_t value, uint16_t mask) {
  std::vector<uint8_t> d(12, 0);
  le_store32(&d[0], port);
  le_store32(&d[4], reg);
  le_store16(&d[8], value);
  le_store16(&d[10], mask);
  return d;
}

std::vector<uint8_t> address_data(uint32_t controller, uint32_t address, uint32_t reg, uint16_t value,
                                  uint16_t mask) {
  std::vector<uint8_t> d(16, 0);
  le_store32(&d[0], controller);
  le_store32(&d[4], address);
  le_store32(&d[8], reg);
  le_store16(&d[12], value);
  le_store16(&d[14], mask);
  return d;
}

TEST_F(MgmtPhy, PortRegisterWrittenUnderMaskAndReadBack) {
  auto set = request(1, kMgmtCmdSet, port_data(3, 4, 0x0041, 0x00FF));
  EXPECT_EQ(le_load32(&set[8]), 0u);
  auto get = request(1, kMgmtCmdGet, port_data(3, 4, 0, 0));
  EXPECT_EQ(le_load32(&get[8]), 0u);
  EXPECT_EQ(le_load16(&get[24]) & 0xFF, 0x41);
  // The same PHY reached by its bus address (controller 0, address 2).
  auto raw = request(2, kMgmtCmdGet, address_data(0, 2, 4, 0, 0));
  EXPECT_EQ(le_load32(&raw[8]), 0u);
  EXPECT_EQ(le_load16(&raw[28]) & 0xFF, 0x41);
}

TEST_F(MgmtPhy, IdentifierReadByBusAddressAndMissingPhyFails) {
  auto id = request(2, kMgmtCmdGet, address_data(0, 4, 2, 0, 0));
  EXPECT_EQ(le_load32(&id[8]), 0u);
  EXPECT_EQ(le_load16(&id[28]), chip.phy(0, 4).read(2));
  auto absent = request(2, kMgmtCmdGet, address_data(0, 20, 2, 0, 0));  // nothing mounted there
  EXPECT_EQ(le_load32(&absent[8]), 1u);
}

}  // namespace
