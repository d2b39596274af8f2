// The report tick fed with whatever a module might answer: any count of waiting events, any records
// (categories, sources), any ring write index, and a report segment whose shared words another
// process may have scribbled over. The tick must stay inside the segment and keep its lists sane.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device.h"
#include "records.h"
#include "rpt_agent.h"

namespace {

using namespace vornagent;

struct Input {
  const uint8_t *data;
  std::size_t size;
  uint32_t word() {
    uint32_t value = 0;
    std::size_t take = size < 4 ? size : 4;
    std::memcpy(&value, data, take);
    data += take, size -= take;
    return value;
  }
};

Input *input = nullptr;

int fuzz_open(const char *, int) {
  return ::open("/dev/null", O_RDWR);
}
int fuzz_close(int fd) {
  return ::close(fd);
}
void fuzz_pause() {}

// GET_LOGS_LEN answers a count from the input; GET_LOGS writes records from the input at the
// caller's write index and then answers any write index and count.
int fuzz_ioctl(int, unsigned long request, void *arg) {
  auto *words = static_cast<uint32_t *>(arg);
  if (request == kIocGetLogsLen) {
    words[0] = input->word() % 12000;
    return input->size == 0 ? -1 : 0;
  }
  if (request != kIocGetLogs) return -1;
  std::size_t read = rpt::kRingRead - rpt::kLogTable;
  uint32_t write = words[read + 1];
  uint32_t records = input->word() % 64;
  for (uint32_t i = 0; i < records && input->size > 0; ++i)
    for (std::size_t w = 0; w < rpt::kRecordWords; ++w)
      words[((write + i) & rpt::kRingMask) * rpt::kRecordWords + w] =
          input->word() % 16 == 0 ? 13 : input->word();
  words[read + 1] = input->word();
  words[read + 2] = records;
  return 0;
}

constexpr DeviceOps kFuzzOps{fuzz_open, fuzz_ioctl, fuzz_close, fuzz_pause};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  static std::vector<uint32_t> report(rpt::kWords);
  static bool quiet = [] {
    setenv("VORNAGENT_NET_DEV", "/nonexistent/net_dev", 1);
    // Messages about odd categories go to standard output; keep the fuzzer's own output readable.
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    ::close(null);
    return true;
  }();
  (void)quiet;
  Input in{data, size};
  input = &in;
  set_device_ops(&kFuzzOps);
  reset_report(report.data(), 0);
  empty_source_tree();
  for (std::size_t at :
       {rpt::kRingRead, rpt::kRingWrite, rpt::kCurrentSlot, rpt::kOldestSlot, rpt::kInterval})
    report[at] = in.word();
  for (int tick = 0; tick < 4 && in.size > 0; ++tick) RptRawEventRetrive(report.data());

  if (source_count() > 8192) std::abort();
  for (std::size_t place = 0; place < rpt::kTopPlaces; ++place)
    if (report[rpt::kTopCounts + place] == 0 && report[rpt::kTopAddresses + place] != 0xFFFFFFFFu)
      std::abort();
  int wan[24], events[24];
  sum_hours(report.data(), wan, events);
  set_device_ops(nullptr);
  return 0;
}
