// Test fixture: the switch API on an in-process chip model, with every driver request recorded.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "chip_model.h"
#include "driver.h"
#include "swc_api.h"
#include "swc_clock.h"
#include "swc_io.h"
#include "swc_phy.h"
#include "swgenio.h"

class ChipFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    swgenio_attach_in_process(
        [this](uint32_t code, std::span<uint8_t> record) { return handle(code, record); });
    swc_clock_set(&clock);
    state = std::make_unique<SwcApiState>();
    phy_state_bytes.assign(swc_phy_sizeof_al(6), 0);
    phy_context.spare = 0;
    phy_context.state = reinterpret_cast<SwcPhyState *>(phy_state_bytes.data());
    context.fd = swgenio_open("/dev/swgenio", 2);
    ASSERT_GE(context.fd, 0);
    context.state = state.get();
    context.phy = &phy_context;
    swc_select_context(&context);
    SwcInitSetup setup{1, 1, 0, -1, 0};
    swc_init_state(&setup);
    swc_phy_init(6);
    swgenio_clear_recorded();
  }

  void TearDown() override {
    swc_select_context(nullptr);
    swgenio_close(context.fd);
    swgenio_detach_in_process();
    swc_clock_set(nullptr);
  }

  // The driver, with SPI reads of the registers in `read_overrides` answered from there instead.
  int handle(uint32_t code, std::span<uint8_t> record) {
    const int rc = driver.handle(code, record);
    if (rc != 0 || code != swgenio::kCpldSpiReadWrite || (record[4] & swgenio::kSpiWriteFlag)) return rc;
    const auto it = read_overrides.find(swgenio::bus_offset(record[4] >> 5, record[4] & 15, record[5]));
    if (it == read_overrides.end()) return rc;
    const uint32_t v = it->second(record[4] >> 5, record[4] & 15, record[5]);
    record[6] = static_cast<uint8_t>(v >> 24);
    record[7] = static_cast<uint8_t>(v >> 16);
    record[8] = static_cast<uint8_t>(v >> 8);
    record[9] = static_cast<uint8_t>(v);
    return rc;
  }

  void override_read(unsigned b, unsigned s, unsigned r,
                     std::function<uint32_t(unsigned, unsigned, unsigned)> f) {
    read_overrides[swgenio::bus_offset(b, s, r)] = std::move(f);
  }

  // The board's port map: ports 1..5 on internal PHYs 0..4 of controller 0, port 6 on PHY 3 of
  // controller 1.
  void map_board_ports() {
    const SwcPortMap map[7] = {{0, 0, 0}, {0, 0, 0}, {1, 0, 1}, {2, 0, 2}, {3, 0, 3}, {4, 0, 4}, {6, 1, 3}};
    swc_port_map_set(map);
    swgenio_clear_recorded();
  }

  // Only the register accesses, in order.
  static std::vector<SwgenioAccess> accesses() { return swgenio_recorded(); }

  std::map<uint32_t, std::function<uint32_t(unsigned, unsigned, unsigned)>> read_overrides;
  swchip::ChipModel chip;
  swchip::Driver driver{chip};
  SwcManualClock clock;
  std::unique_ptr<SwcApiState> state;
  std::vector<unsigned char> phy_state_bytes;
  SwcPhyContext phy_context{};
  SwcContext context{};
};

using K = SwgenioAccess::Kind;

inline SwgenioAccess spi_wr(unsigned b, unsigned s, unsigned r, uint32_t v) {
  return {K::kSpiWrite, b, s, r, v, swgenio::kCpldSpiReadWrite, 0};
}
// The register writes of a recorded sequence, as (block, subblock, register, value).
inline std::vector<std::tuple<unsigned, unsigned, unsigned, uint32_t>> writes_of(
    const std::vector<SwgenioAccess> &a) {
  std::vector<std::tuple<unsigned, unsigned, unsigned, uint32_t>> out;
  for (const auto &x : a) {
    if (x.kind == K::kSpiWrite || x.kind == K::kBusWrite)
      out.emplace_back(x.block, x.subblock, x.reg, x.value);
  }
  return out;
}

inline SwgenioAccess spi_rd(unsigned b, unsigned s, unsigned r, uint32_t v) {
  return {K::kSpiRead, b, s, r, v, swgenio::kCpldSpiReadWrite, 0};
}
