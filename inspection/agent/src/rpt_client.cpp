// The report calls of the web pages: top sources, category totals, single events with their attack
// names, the log reset and the chart.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "client_state.h"
#include "ipc.h"
#include "messages.h"
#include "records.h"
#include "rpt_agent.h"

namespace vornagent {

namespace {

constexpr std::size_t kNameSize = 64;
constexpr const char *kCategoryNames[rpt::kCategories] = {
    "DoS / DDoS", "Buffer Overflow", "Access Control", "Scan",        "Trojan Horse", "Other", "P2P",
    "IM",         "Virus Worm",      "Porn",           "Web Attacks", "Spam"};

// Runs `body` with the report segment attached; -1 when it does not exist.
template <typename Body>
int with_report(Body body) {
  auto *report = static_cast<RptAgnt *>(attach_segment(kRptAgntKey, rpt::kBytes));
  if (!report) return -1;
  int result = body(report);
  detach_segment(report);
  return result;
}

}  // namespace

}  // namespace vornagent

using namespace vornagent;

extern "C" {

int kaGetTop5(KaTop5 *out) {
  if (!out) return -1;
  return with_report([&](const RptAgnt *report) {
    for (int place = 0; place < 5; ++place) {
      uint32_t count = report[rpt::kTopCounts + place];
      out->count[place] = count;
      kaU32ToAddr(report[rpt::kTopAddresses + place], out->address[place], count > 0);
    }
    return 0;
  });
}

int kaGetCategory(KaCategoryList *out) {
  if (!out) return -1;
  return with_report([&](const RptAgnt *report) {
    struct Total {
      uint32_t category;
      uint32_t count;
    };
    Total totals[rpt::kCategories];
    std::size_t shown = 0;
    for (uint32_t category = 1; category <= rpt::kCategories; ++category)
      if (report[rpt::kCategoryMap + category - 1] != 0xFFFFFFFFu)
        totals[shown++] = Total{category, report[rpt::kCategoryCounters + category - 1]};
    std::stable_sort(totals, totals + shown,
                     [](const Total &a, const Total &b) { return a.count > b.count; });
    // The number to show comes from a shared word: never more than there are.
    std::size_t n = std::min<std::size_t>(report[rpt::kShownCategories], shown);
    std::memset(out, 0, sizeof *out);
    out->n = static_cast<uint32_t>(n);
    for (std::size_t i = 0; i < n; ++i) {
      std::snprintf(out->name[i], sizeof out->name[i], "%s", kCategoryNames[totals[i].category - 1]);
      out->count[i] = totals[i].count;
    }
    return 0;
  });
}

int kaGetAttackName(uint32_t id, char out[kNameSize]) {
  const ClientAttachments &client = client_attachments();
  if (!out || !client.rule || !client.sections || client.rule->compressed_count == 0) return -1;
  // The policy record may be replaced by a load in another process meanwhile: read the entry once
  // and bound it by what this process really attached.
  SectionEntry names = client.rule->sections[0];
  if (names.offset > client.sections_size || names.size > client.sections_size - names.offset) return -1;
  if (id >= names.size / kNameSize) return -1;
  std::memcpy(out, client.sections + names.offset + static_cast<std::size_t>(id) * kNameSize, kNameSize);
  return 0;
}

int kaGetRawData(int n, KaRawEvent *out) {
  const uint32_t *report = client_attachments().report;
  if (!report) {
    print_text("RawDataAgnt is NULL\n");
    return -1;
  }
  if (!out) return -1;
  uint32_t write = report[rpt::kRingWrite] & rpt::kRingMask;
  uint32_t stored = (write - report[rpt::kRingRead]) & rpt::kRingMask;
  if (n < 0 || static_cast<uint32_t>(n) >= stored) return -1;
  uint32_t index = (write - 1 - static_cast<uint32_t>(n)) & rpt::kRingMask;
  const uint32_t *record = report + rpt::kLogTable + static_cast<std::size_t>(index) * rpt::kRecordWords;
  std::memset(out, 0, sizeof *out);
  out->time = record[3];
  kaU32ToAddr(record[0], out->address, 1);
  kaGetAttackName(record[1], out->name);
  return 0;
}

int kaResetLog(void) {
  int semaphore = kaGetKey();
  if (semaphore < 0) return -1;
  return with_report([&](RptAgnt *report) {
    if (kaSemInternalWait(semaphore) != 0) return -1;
    reset_report(report, RptGetWan());
    report[rpt::kTreeResetRequest] = 1;
    kaSemInternalSignal(semaphore);
    return 0;
  });
}

int kaPaintChart(const char *path) {
  if (!path) return -1;
  // Attached before the file is opened, so that a missing report does not leave an empty chart.
  return with_report([&](const RptAgnt *report) {
    std::FILE *file = std::fopen(path, "wb");
    if (!file) return -1;
    int drawn = RptPaintChart(report, file);
    bool written = std::fclose(file) == 0;
    return drawn == 0 && written ? 0 : -1;
  });
}

}  // extern "C"
