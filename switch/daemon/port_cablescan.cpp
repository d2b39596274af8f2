#include "port_cablescan.h"

#include "le.h"
#include "mgmt.h"
#include "trace.h"

#include "swc_clock.h"
#include "swc_phy.h"

#include <array>

namespace {

#define CS_TRACE(level, ...) \
  trace_printf(trace::kCablescan, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)
#define CS_API(call) TRACE_API_RESULT(trace::kCablescan, call, trace::kDebug, #call)

constexpr unsigned kPorts = 6;

// Per port 1..6: 1 once the last test's result is in (or no test was asked for).
std::array<bool, kPorts + 1> done{};

bool valid_port(uint32_t port) {
  return port >= 1 && port <= kPorts;
}

// One step of a port's test; true once it is finished (any answer but "still running").
bool step(unsigned port) {
  SwcPhyCablescanResult result{};
  return swc_phy_cablescan_get(port, &result) != kSwcRcRunning;
}

}  // namespace

void port_cablescan_init() {
  done.fill(true);
}

void cablescan_start(unsigned port) {
  if (!valid_port(port)) return;
  done[port] = false;
  CS_API(swc_phy_cablescan_start(port));
}

bool port_cablescan_pending(unsigned port) {
  return valid_port(port) && !done[port];
}

void port_cablescan_step(unsigned port) {
  if (port_cablescan_pending(port) && step(port)) done[port] = true;
}

void port_cablescan_get(uint8_t *entry) {
  uint32_t port = le_load32(entry);
  if (!valid_port(port)) return;
  SwcClock &clock = swc_clock_get();
  const uint64_t deadline = clock.now_us() + uint64_t{kCablescanWaitMs} * 1000;
  while (!done[port]) {
    for (unsigned p = 1; p <= kPorts; ++p) port_cablescan_step(p);
    if (done[port]) break;
    if (clock.now_us() > deadline) {
      CS_TRACE(trace::kDebug, "timeout for port %d", static_cast<int>(port));
      break;
    }
    // The tests wait for their deadlines: no need to spin the processor meanwhile.
    clock.sleep_ms(1);
  }
  SwcPhyCablescanResult result{};
  swc_rc rc = swc_phy_cablescan_get(port, &result);
  le_store32(entry + 4, rc == kSwcRcOk ? 1 : 0);
  le_store32(entry + 8, result.valid);
  for (unsigned pair = 0; pair < 4; ++pair) {
    le_store16(entry + 12 + 2 * pair, result.status[pair]);
    le_store16(entry + 20 + 2 * pair, result.length[pair]);
  }
}

void mgmt_port_cablescan_table(MgmtObject &object) {
  object.set_res(kMgmtResOk);
  if (object.size < kMgmtTableHeaderSize ||
      kMgmtTableHeaderSize + static_cast<size_t>(object.table_count()) * kCablescanEntrySize > object.size) {
    CS_TRACE(trace::kError, "Size mismatch, obj_size: %d", object.size);
    object.set_res(kMgmtResFail);
    return;
  }
  if (object.cmd() != kMgmtCmdGet) return;
  // Entries up to the first port outside 1..6 are served.
  unsigned count = object.table_count();
  for (unsigned i = 0; i < object.table_count(); ++i) {
    uint32_t port = le_load32(object.entry(i, kCablescanEntrySize));
    if (!valid_port(port)) {
      CS_TRACE(trace::kError, "Illegal port_no: %d", static_cast<int>(port));
      object.set_res(kMgmtResFail);
      count = i;
      break;
    }
  }
  for (unsigned i = 0; i < count; ++i) {
    uint32_t port = le_load32(object.entry(i, kCablescanEntrySize));
    CS_TRACE(trace::kDebug, "Starting CableScan for port %d", static_cast<int>(port));
    cablescan_start(port);
  }
  for (unsigned i = 0; i < count; ++i) {
    uint8_t *entry = object.entry(i, kCablescanEntrySize);
    uint32_t port = le_load32(entry);
    CS_TRACE(trace::kDebug, "CableScan for port %d", static_cast<int>(port));
    port_cablescan_get(entry);
    CS_TRACE(trace::kDebug, "CableScan main done for port %d", static_cast<int>(port));
  }
}
