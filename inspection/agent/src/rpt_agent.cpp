#include "rpt_agent.h"

#include <sys/shm.h>

#include <cstring>

#include "ipc.h"
#include "messages.h"
#include "records.h"

namespace vornagent {

namespace {

constexpr const char *kSource = "kaRptAgnt";

// Display position of categories 1..12; -1 for the two the reports do not show.
constexpr int32_t kCategoryMap[12] = {0, 1, 2, 3, 4, 5, 9, 8, 6, -1, 7, -1};
constexpr uint32_t kShownCategories = 10;

RptAgnt *createReportSegment() {
  int id = createSegment(kRptAgntKey, rpt::kBytes);
  if (id < 0) return nullptr;
  void *address = shmat(id, nullptr, 0);
  return address == reinterpret_cast<void *>(-1) ? nullptr : static_cast<RptAgnt *>(address);
}

}  // namespace

RptAgnt *RptBuildCatgMap(RptAgnt *agent) {
  for (int i = 0; i < 12; ++i) agent[rpt::kCategoryMap + i] = static_cast<uint32_t>(kCategoryMap[i]);
  agent[rpt::kShownCategories] = kShownCategories;
  return agent;
}

RptAgnt *RptAgntInit() {
  RptAgnt *agent = createReportSegment();
  if (!agent) {
    printMessage(kSource, 792, "Out of Space");
    return nullptr;
  }
  if (createSegment(kRawPolicyKey, kRawPolicySize) < 0) {
    printMessage(kSource, 801, "Out of Space");
    detachSegment(agent);
    removeSegment(kRptAgntKey);
    return nullptr;
  }
  std::memset(agent, 0, rpt::kBytes);
  RptBuildCatgMap(agent);
  for (std::size_t i = 0; i < rpt::kTopAddressWords; ++i) agent[rpt::kTopAddresses + i] = 0xFFFFFFFFu;
  agent[rpt::kInterval] = rpt::kDefaultInterval;
  agent[rpt::kLastWan] = 0;
  agent[rpt::kLastWan + 1] = 0;
  return agent;
}

void RptAgntExit(RptAgnt *agent) { detachSegment(agent); }

unsigned tickInterval(const RptAgnt *agent) {
  uint32_t interval = agent ? agent[rpt::kInterval] : 0;
  return interval >= 1 && interval <= 3600 ? interval : rpt::kDefaultInterval;
}

}  // namespace vornagent
