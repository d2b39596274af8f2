// PHY layer: PHY identification by family, reset with the family's corrections, autonegotiation or
// forced set-up, link status with link-down and link-up events, and paged register access. Ports
// 1..6 are the front ports; port 0 is the pseudo-port of raw access by controller and address.
#pragma once

#include <cstddef>
#include <cstdint>

#include "swc_port.h"
#include "swc_state.h"
#include "swc_types.h"

// Register pages (register 31 selects one); a paged register number is page << 5 | register.
inline constexpr uint32_t kSwcPhyPageStandard = 0;
inline constexpr uint32_t kSwcPhyPageExtended = 1;
inline constexpr uint32_t kSwcPhyPageGpio = 0x10;
inline constexpr uint32_t kSwcPhyPageTest = 0x2A30;
inline constexpr uint32_t kSwcPhyPageTr = 0x52B5;
constexpr uint32_t swc_phy_paged(uint32_t page, uint32_t reg) {
  return page << 5 | reg;
}

// PHY setup modes.
inline constexpr uint32_t kSwcPhyModeAneg = 0;
inline constexpr uint32_t kSwcPhyModeForced = 1;
inline constexpr uint32_t kSwcPhyModePowerDown = 2;

swc_rc swc_phy_io_init();
swc_rc swc_phy_io_read(uint32_t bus, uint32_t addr, uint32_t reg, uint16_t *value);
swc_rc swc_phy_io_write(uint32_t bus, uint32_t addr, uint32_t reg, uint32_t value);

// Size of a PHY state for `ports` ports (plus the raw-access pseudo-port 0).
size_t swc_phy_sizeof_al(uint32_t ports);
// Initialises the PHY state for `ports` ports: every record unmapped, link down.
swc_rc swc_phy_init(uint32_t ports);
swc_rc swc_phy_map_port(uint32_t port_no, int32_t bus, int32_t address);

// Bulk map: `count` (controller, address) pairs stored in records 0, 1, ... in order.
struct SwcPhyMapPair {
  int32_t bus;
  int32_t address;
};
struct SwcPhyPortMap {
  uint32_t count;
  SwcPhyMapPair pair[kSwcPortSlots];
};
swc_rc swc_phy_port_map_set(const SwcPhyPortMap *map);

swc_rc swc_phy_read(uint32_t port_no, uint32_t reg, uint16_t *value);
swc_rc swc_phy_write(uint32_t port_no, uint32_t reg, uint32_t value);
swc_rc swc_phy_writemasked(uint32_t port_no, uint32_t reg, uint32_t value, uint32_t mask);

swc_rc swc_phy_reset(uint32_t port_no, const SwcPhyResetSetup *reset_setup);
swc_rc swc_phy_setup(uint32_t port_no, const SwcPhySetup *setup);
swc_rc swc_phy_status_get(uint32_t port_no, SwcPortStatus *status);
swc_rc swc_phy_reset_and_setup(uint32_t port_no);

// CableScan result of a port: valid flag, then per pair A-D the status code and the length in metres
// (255: no reflection found).
struct SwcPhyCablescanResult {
  uint32_t valid;
  uint16_t status[4];
  uint16_t length[4];
};
// Starts a CableScan test on the port (mode 0); 0 also for a PHY family that cannot run it.
swc_rc swc_phy_cablescan_start(uint32_t port_no);
// Runs one step of the port's test: -2 while it runs (result: valid 0, status 1, length 0), 0 when it
// finished with a valid result, -3 when it finished without one (or never ran), another negative code
// when the PHY failed.
swc_rc swc_phy_cablescan_get(uint32_t port_no, SwcPhyCablescanResult *result);

// The PHY record of a port, or nullptr when no PHY state is installed or the port is outside it.
SwcPhyPort *swc_phy_port(uint32_t port_no);

// How long a soft reset may take.
inline constexpr uint64_t kSwcPhyResetTimeoutMs = 5000;
