#include "rpt_agent.h"

#include <fcntl.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstring>

#include "device.h"
#include "ipc.h"
#include "messages.h"
#include "records.h"
#include "rpt_tree.h"
#include "vornagent_chart.h"

namespace vornagent {

namespace {

constexpr const char *kSource = "kaRptAgnt";

// Display position of categories 1..12; -1 for the two the reports do not show.
constexpr int32_t kCategoryMap[12] = {0, 1, 2, 3, 4, 5, 9, 8, 6, -1, 7, -1};
constexpr uint32_t kShownCategories = 10;
constexpr uint32_t kNotShown = 0xFFFFFFFFu;
constexpr uint32_t kNoAddress = 0xFFFFFFFFu;
constexpr uint64_t kUnreadable = uint64_t{1} << 63;

SourceTree daemon_tree;

RptAgnt *create_report_segment() {
  int id = create_segment(kRptAgntKey, rpt::kBytes);
  if (id < 0) return nullptr;
  void *address = shmat(id, nullptr, 0);
  return address == reinterpret_cast<void *>(-1) ? nullptr : static_cast<RptAgnt *>(address);
}

uint32_t *ring_record(RptAgnt *agent, uint32_t index) {
  return agent + rpt::kLogTable + static_cast<std::size_t>(index & rpt::kRingMask) * rpt::kRecordWords;
}

// The categories that count: 1..12 and shown in the reports.
bool is_counted(const RptAgnt *agent, uint32_t category) {
  return category >= 1 && category <= rpt::kCategories &&
         agent[rpt::kCategoryMap + category - 1] != kNotShown;
}

// --- top list --------------------------------------------------------------------------------------

// Insertion sort by count, descending; an entry never passes an equal one.
void RptTopListSort(RptAgnt *agent) {
  uint32_t *counts = agent + rpt::kTopCounts;
  uint32_t *addresses = agent + rpt::kTopAddresses;
  for (std::size_t i = 1; i < rpt::kTopPlaces; ++i) {
    for (std::size_t j = i; j > 0 && counts[j - 1] < counts[j]; --j) {
      std::swap(counts[j - 1], counts[j]);
      std::swap(addresses[j - 1], addresses[j]);
    }
  }
}

void RptTopListUpdate(RptAgnt *agent, uint32_t key, uint32_t count) {
  uint32_t *counts = agent + rpt::kTopCounts;
  uint32_t *addresses = agent + rpt::kTopAddresses;
  uint32_t *listed = std::find(addresses, addresses + rpt::kTopPlaces, key);
  if (listed != addresses + rpt::kTopPlaces) {
    counts[listed - addresses] = count;
    RptTopListSort(agent);
  } else {
    uint32_t *below = std::find_if(counts, counts + rpt::kTopPlaces, [&](uint32_t c) { return c < count; });
    if (below != counts + rpt::kTopPlaces) {
      std::size_t place = static_cast<std::size_t>(below - counts);
      std::copy_backward(counts + place, counts + rpt::kTopPlaces - 1, counts + rpt::kTopPlaces);
      std::copy_backward(addresses + place, addresses + rpt::kTopPlaces - 1, addresses + rpt::kTopPlaces);
      counts[place] = count;
      addresses[place] = key;
    }
  }
  for (std::size_t place = 0; place < rpt::kTopPlaces; ++place)
    if (counts[place] == 0) addresses[place] = kNoAddress;
}

// --- the tick --------------------------------------------------------------------------------------

// Books the traffic since the last tick into the current slot.
void record_wan(RptAgnt *agent, std::size_t slot) {
  uint64_t now = RptGetWan();
  std::size_t slot_word = rpt::kSlotWan + 2 * slot;
  if (now >= kUnreadable) {
    store_u64(agent, slot_word, 0);
    return;
  }
  uint64_t last = load_u64(agent, rpt::kLastWan);
  store_u64(agent, slot_word, now >= last ? now - last : now);  // a smaller counter restarted
  store_u64(agent, rpt::kLastWan, now);
}

// Forgets the oldest record of the ring.
void expire_record(RptAgnt *agent, const uint32_t *record) {
  uint32_t source = record[0];
  int64_t left = daemon_tree.remove(source);
  if (left >= 0) RptTopListUpdate(agent, source, static_cast<uint32_t>(left));
  uint32_t category = record[2];
  if (is_counted(agent, category) && agent[rpt::kCategoryCounters + category - 1] > 0)
    --agent[rpt::kCategoryCounters + category - 1];
}

// Counts one new record of the ring.
void account_record(RptAgnt *agent, const uint32_t *record, std::size_t slot) {
  uint32_t category = record[2];
  if (category < 1 || category > rpt::kCategories)
    print_text("wrong category value\n");
  else if (!is_counted(agent, category))
    print_text("category not supported\n");
  else
    ++agent[rpt::kCategoryCounters + category - 1];
  if (const RptAvlT *node = daemon_tree.add(record[0])) RptTopListUpdate(agent, node->key, node->count);
  ++agent[rpt::kSlotEvents + slot];
}

// Makes room for `wanted` records: the module stops copying when the ring is full.
void make_room(RptAgnt *agent, uint32_t wanted) {
  uint32_t read = agent[rpt::kRingRead] & rpt::kRingMask;
  uint32_t write = agent[rpt::kRingWrite] & rpt::kRingMask;
  uint32_t free = write < read ? read - write : rpt::kRingRecords - (write - read);
  // The module leaves one place empty, so `free` places take free - 1 records: at equality one of
  // the wanted records would stay behind in the module.
  if (free <= wanted) {
    uint32_t expired = wanted - free + 1;
    for (uint32_t i = 0; i < expired; ++i) expire_record(agent, ring_record(agent, read + i));
    read = (read + expired) & rpt::kRingMask;
  }
  agent[rpt::kRingRead] = read;
  agent[rpt::kRingWrite] = write;
}

// Asks the module how many events wait and pulls them into the ring.
void fetch_events(RptAgnt *agent, int fd, std::size_t slot) {
  int result = locked_ioctl(fd, kIocGetLogsLen, &agent[rpt::kRingCount]);
  if (result != 0 || agent[rpt::kRingStatus] != 0) {
    print_message(kSource, 592, "Get Raw Data Length Fail");
    return;
  }
  // The module never answers more than its own ring holds; a larger count cannot be copied anyway.
  uint32_t wanted = std::min<uint32_t>(agent[rpt::kRingCount], rpt::kRingRecords - 1);
  if (wanted == 0) return;
  make_room(agent, wanted);
  agent[rpt::kRingCount] = wanted;
  uint32_t first = agent[rpt::kRingWrite];
  if (locked_ioctl(fd, kIocGetLogs, &agent[rpt::kLogTable]) != 0) {
    print_message(kSource, 662, "Get Raw Data Fail");
    return;
  }
  // A write index past what was asked for would count records that are already counted.
  uint32_t copied = std::min((agent[rpt::kRingWrite] - first) & rpt::kRingMask, wanted);
  agent[rpt::kRingWrite] = (first + copied) & rpt::kRingMask;
  for (uint32_t i = 0; i < copied; ++i) account_record(agent, ring_record(agent, first + i), slot);
}

void advance_slot(RptAgnt *agent, std::size_t slot) {
  uint32_t current = static_cast<uint32_t>((slot + 1) % rpt::kSlots);
  agent[rpt::kCurrentSlot] = current;
  if (current == agent[rpt::kOldestSlot])
    agent[rpt::kOldestSlot] = static_cast<uint32_t>((current + 1) % rpt::kSlots);
}

// --- WAN counters ----------------------------------------------------------------------------------

// Decimal digits up to the first other character; saturates instead of wrapping.
uint64_t StrToLongLong(const char *&text, const char *end) {
  uint64_t value = 0;
  for (; text < end && *text >= '0' && *text <= '9'; ++text) {
    uint64_t digit = static_cast<uint64_t>(*text - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  return value;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Received + sent bytes from the numbers after "<name>:" on one line.
uint64_t counters_of_line(const char *text, const char *end) {
  uint64_t received = 0, sent = 0;
  int numbers = 0;
  while (text < end && numbers < 9) {
    while (text < end && is_blank(*text)) ++text;
    if (text == end || *text < '0' || *text > '9') break;
    uint64_t value = StrToLongLong(text, end);
    while (text < end && !is_blank(*text)) ++text;  // the rest of a malformed number
    if (++numbers == 1) received = value;
    if (numbers == 9) sent = value;
  }
  return received > UINT64_MAX - sent ? UINT64_MAX : received + sent;
}

// The counters of "eth1" when `line` (without its newline) names exactly it; false otherwise.
bool wan_of_line(const char *line, const char *end, uint64_t &wan) {
  const char *name = line;
  while (name < end && is_blank(*name)) ++name;
  const char *colon = name;
  while (colon < end && *colon != ':') ++colon;
  if (colon == end || colon - name != 4 || std::memcmp(name, "eth1", 4) != 0) return false;
  wan = counters_of_line(colon + 1, end);
  return true;
}

// The value of an environment variable, read by hand: getenv is not async-signal-safe.
const char *environment_value(const char *name) {
  std::size_t length = std::strlen(name);
  for (char **entry = environ; entry && *entry; ++entry)
    if (std::strncmp(*entry, name, length) == 0 && (*entry)[length] == '=') return *entry + length + 1;
  return nullptr;
}

// Reads the file line by line through fixed buffers (the tick runs in a signal handler). A line
// longer than the line buffer is judged by its beginning, which holds the name and the counters.
uint64_t wan_of_file(const char *path) {
  constexpr std::size_t kLimit = 1 << 20;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char chunk[1024], line[512];
  std::size_t line_length = 0, total = 0;
  uint64_t wan = 0;
  bool found = false;
  ssize_t got;
  while (!found && total < kLimit &&
         ((got = read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR))) {
    if (got < 0) continue;
    total += static_cast<std::size_t>(got);
    for (ssize_t i = 0; i < got && !found; ++i) {
      if (chunk[i] == '\n') {
        found = wan_of_line(line, line + line_length, wan);
        line_length = 0;
      } else if (line_length < sizeof line) {
        line[line_length++] = chunk[i];
      }
    }
  }
  if (!found && line_length > 0) wan_of_line(line, line + line_length, wan);
  close(fd);
  return wan;
}

// --- chart -----------------------------------------------------------------------------------------

int clamp_to_int(uint64_t value) {
  return static_cast<int>(std::min<uint64_t>(value, INT_MAX));
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

}  // namespace

RptAgnt *RptBuildCatgMap(RptAgnt *agent) {
  for (int i = 0; i < 12; ++i) agent[rpt::kCategoryMap + i] = static_cast<uint32_t>(kCategoryMap[i]);
  agent[rpt::kShownCategories] = kShownCategories;
  return agent;
}

void reset_report(RptAgnt *agent, uint64_t wan) {
  std::memset(agent + 1, 0, rpt::kBytes - sizeof(RptAgnt));
  RptBuildCatgMap(agent);
  for (std::size_t i = 0; i < rpt::kTopAddressWords; ++i) agent[rpt::kTopAddresses + i] = kNoAddress;
  agent[rpt::kInterval] = rpt::kDefaultInterval;
  // The traffic before this moment is not the report's: counting starts from the counter's value now.
  store_u64(agent, rpt::kLastWan, wan < kUnreadable ? wan : 0);
}

RptAgnt *RptAgntInit() {
  RptAgnt *agent = create_report_segment();
  if (!agent) {
    print_message(kSource, 792, "Out of Space");
    return nullptr;
  }
  if (create_segment(kRawPolicyKey, kRawPolicySize) < 0) {
    print_message(kSource, 801, "Out of Space");
    detach_segment(agent);
    remove_segment(kRptAgntKey);
    return nullptr;
  }
  agent[rpt::kTreeRoot] = 0;
  reset_report(agent, RptGetWan());
  empty_source_tree();
  return agent;
}

void RptAgntExit(RptAgnt *agent) {
  detach_segment(agent);
}

unsigned tick_interval(const RptAgnt *agent) {
  uint32_t interval = agent ? agent[rpt::kInterval] : 0;
  return interval >= 1 && interval <= 3600 ? interval : rpt::kDefaultInterval;
}

bool RptRawEventRetrive(RptAgnt *agent, unsigned late) {
  int fd = open_device();
  if (fd < 0) return false;
  // Ticks that could not run left their slots open; they close empty, so that the slots keep time
  // and this tick's traffic and events (all that waited) land in the slot that ends now.
  for (unsigned i = 0; i < std::min<unsigned>(late, rpt::kSlots); ++i) {
    std::size_t slot = agent[rpt::kCurrentSlot] % rpt::kSlots;
    store_u64(agent, rpt::kSlotWan + 2 * slot, 0);
    agent[rpt::kSlotEvents + slot] = 0;
    advance_slot(agent, slot);
  }
  std::size_t slot = agent[rpt::kCurrentSlot] % rpt::kSlots;
  record_wan(agent, slot);
  agent[rpt::kSlotEvents + slot] = 0;
  fetch_events(agent, fd, slot);
  advance_slot(agent, slot);
  close_device(fd);
  return true;
}

void empty_source_tree() {
  daemon_tree.clear();
}

std::size_t source_count() {
  return daemon_tree.size();
}

uint32_t source_events(uint32_t source) {
  const RptAvlT *node = daemon_tree.find(source);
  return node ? node->count : 0;
}

uint64_t RptGetWan() {
  const char *path = environment_value("VORNAGENT_NET_DEV");
  return wan_of_file(path && *path ? path : "/proc/net/dev");
}

bool sum_hours(const RptAgnt *agent, int wan[24], int events[24]) {
  uint32_t current = agent[rpt::kCurrentSlot], oldest = agent[rpt::kOldestSlot];
  if (current >= rpt::kSlots || oldest >= rpt::kSlots) return false;
  std::size_t per_hour = 3600 / tick_interval(agent);
  std::size_t filled = (current + rpt::kSlots - oldest) % rpt::kSlots;
  uint64_t wan_bytes[24] = {}, event_sums[24] = {};
  for (std::size_t back = 0; back < filled && back / per_hour < 24; ++back) {
    std::size_t slot = (current + rpt::kSlots - 1 - back) % rpt::kSlots;
    std::size_t hour = back / per_hour;
    wan_bytes[hour] = saturating_add(wan_bytes[hour], load_u64(agent, rpt::kSlotWan + 2 * slot));
    event_sums[hour] += agent[rpt::kSlotEvents + slot];
  }
  for (int hour = 0; hour < 24; ++hour) {
    wan[hour] = clamp_to_int(wan_bytes[hour] >> 20);
    events[hour] = clamp_to_int(event_sums[hour]);
  }
  return true;
}

int RptPaintChart(const RptAgnt *agent, std::FILE *file) {
  int wan[24], events[24];
  if (!sum_hours(agent, wan, events)) return 1;
  return doPaint(file, wan, events) < 0 ? 1 : 0;
}

}  // namespace vornagent
