// CableScan: measures the four pairs of a copper port's cable through the PHY's echo canceller. A
// per-port state machine that takes one step per call and keeps a deadline between steps, so a caller
// polls it; each pair ends with a status code and a distance.
//
// Task flags: bit 0 the measurement variant (standard register 17 bit 12 at the start); bit 1 result
// valid; bit 2 working flag of states 10 and 11; bit 3 with bits 4-5 the reference pair; bits 6-7 the
// caller's mode.
//
// Pair status codes (low nibble): 0 no reflection; 1 a reflection of negative sign (a short); 2 one of
// positive sign (an open pair); 4 a reflection beyond the lower threshold only; 8 and above a code
// between pairs, bits 0-1 naming the other pair.
#pragma once

#include <cstdint>

#include "swc_state.h"
#include "swc_types.h"

inline constexpr uint8_t kSwcCablescanFlagVariant = 0x01;
inline constexpr uint8_t kSwcCablescanFlagValid = 0x02;
inline constexpr uint8_t kSwcCablescanFlagWorking = 0x04;
inline constexpr uint8_t kSwcCablescanFlagReference = 0x08;
inline constexpr uint8_t kSwcCablescanCleanup = 0x80;
inline constexpr uint8_t kSwcCablescanNoReflection = 0xFF;

// Elements of the coefficient buffer that swc_phy_cablescan_coeff_read fills: element 0 the largest
// magnitude of the read, 1..12 the averaged coefficients of its taps. One buffer serves every port:
// each step reads the coefficients it looks at before it looks at them, so tests on several ports may
// take turns.
inline constexpr unsigned kSwcCablescanCoefficients = 13;

// Whether PHY family `family` can run CableScan (1, 4, 5, 7, 8 and 9).
bool swc_cablescan_family_supported(uint32_t family);

// Arms the task of a PHY port: state 1, the deadline 1 ms ahead. Returns 0 also for a family that
// cannot run the test, whose task stays idle.
swc_rc swc_phy_cablescan_task_start(uint32_t port_no, uint32_t mode);
// One step: -2 while the test runs (or its deadline has not come), 0 when the task is idle or finished
// (results in status, location and amplitude), or the code of a failed PHY access (the task is
// abandoned then).
swc_rc swc_phy_cablescan_task_run(SwcCablescanTask *task);

// Routines of the steps, for the PHY port of `task`.
// TR register read: command, wait for completion (500 ms), data; -3 on a timeout.
swc_rc swc_phy_cablescan_tr_read(uint32_t port_no, uint32_t address, uint32_t *value);
swc_rc swc_phy_cablescan_tr_write(uint32_t port_no, uint32_t address, uint32_t value);
// Family 1: an echo canceller command through TR page register 0; -3 when it does not complete.
swc_rc swc_phy_cablescan_ec_command(uint32_t port_no, uint32_t value);
// Fills the coefficient buffer: descriptor bits 0-3 taps, bits 4-6 passes - 1, bit 7 peak only.
swc_rc swc_phy_cablescan_coeff_read(uint32_t port_no, uint32_t pair, uint32_t window, uint32_t descriptor);
void swc_phy_cablescan_threshold_set(SwcCablescanTask *task, uint32_t tap);
swc_rc swc_phy_cablescan_echo_search(SwcCablescanTask *task, uint32_t first_tap, uint32_t minimum_tap);
// 1 when the pair's finding stands (or the variant needs no check), 0 when it was dropped, or a code.
swc_rc swc_phy_cablescan_noise_check(SwcCablescanTask *task, uint32_t limit);
swc_rc swc_phy_cablescan_tr_setup(SwcCablescanTask *task, uint32_t mode);

// Metres of cable to a reflection at tap `location` for a PHY family and measurement variant;
// 0 below tap 8, kSwcCablescanNoReflection kept.
uint8_t swc_cablescan_length(uint32_t family, bool variant, uint8_t location);
// A field of the family-1 read-back bit string: `registers[i]` holds register 20 - i; the field starts
// at bit `offset` (most significant first) and is `width` bits wide. -1 when it spans more than two
// registers or lies beyond them.
int32_t swc_cablescan_packed_field(const uint16_t *registers, unsigned register_count, unsigned offset,
                                   unsigned width, bool is_signed);
