#include "conf.h"

#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "startup.h"
#include "trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <vector>

namespace {

#define CONF_TRACE(level, ...) \
  trace_printf(trace::kConf, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

struct ConfStore {
  std::map<uint32_t, std::vector<uint8_t>> blocks;  // ascending id, as in the file
  bool writing_suspended = false;
  bool default_pending = false;
  uint32_t default_keep = 0;
};

ConfStore store;
std::array<ConfActionFn, kConfModuleCount> module_actions{};

bool file_disabled() {
  return process_state().debug_flags[kConfDebugFileDisabled] != 0;
}

void call_modules(uint32_t action, uint32_t keep) {
  for (ConfActionFn fn : module_actions)
    if (fn) fn(ConfAction{action, keep});
}

// The whole file; nullopt when it cannot be opened or read.
std::optional<std::vector<uint8_t>> load_file() {
  FILE *f = std::fopen(conf_file_path().c_str(), "rb");
  if (!f) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return std::nullopt;
  return bytes;
}

struct RecordView {
  uint32_t id;
  uint32_t size;
  const uint8_t *data;
};

// Walks the records of a file image. Stops at the end, or at a record whose head or data are cut
// short (`truncated` then names it so its block can be dropped).
class RecordReader {
 public:
  explicit RecordReader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
  std::optional<RecordView> next() {
    size_t left = bytes_.size() - offset_;
    if (left < 8) return std::nullopt;
    RecordView r{le_load32(&bytes_[offset_]), le_load32(&bytes_[offset_ + 4]), nullptr};
    if (r.size > left - 8) {
      truncated_ = r.id;
      return std::nullopt;
    }
    r.data = &bytes_[offset_ + 8];
    offset_ += 8 + static_cast<size_t>(r.size);
    return r;
  }
  std::optional<uint32_t> truncated() const { return truncated_; }

 private:
  const std::vector<uint8_t> &bytes_;
  size_t offset_ = 0;
  std::optional<uint32_t> truncated_;
};

bool header_valid(const std::vector<uint8_t> &bytes) {
  if (bytes.size() < 8 + kConfHeaderSize || le_load32(&bytes[4]) != kConfHeaderSize) {
    CONF_TRACE(trace::kError, "File too small");
    return false;
  }
  const uint8_t *header = &bytes[8];
  if (le_load32(header) != kConfCookie) {
    CONF_TRACE(trace::kError, "Cookie not found");
    return false;
  }
  if (le_load32(header + 8) != kConfId) {
    CONF_TRACE(trace::kError, "ID mismatch, found: %ld, expected: %d",
               static_cast<long>(le_load32(header + 8)), static_cast<int>(kConfId));
    return false;
  }
  if (le_load16(header + 12) != kConfMajor) {
    CONF_TRACE(trace::kError, "Major version mismatch, found: %d, expected: %d", le_load16(header + 12),
               static_cast<int>(kConfMajor));
    return false;
  }
  return true;
}

bool write_all(int fd, const uint8_t *data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

std::vector<uint8_t> file_image() {
  uint64_t total = 0;
  for (const auto &[id, data] : store.blocks) total += data.size() + 8;
  auto first = store.blocks.begin();
  if (first != store.blocks.end() && first->first == 0 && first->second.size() >= 8)
    le_store32(first->second.data() + 4, static_cast<uint32_t>(total));
  std::vector<uint8_t> image;
  image.reserve(static_cast<size_t>(total));
  for (const auto &[id, data] : store.blocks) {
    uint8_t head[8];
    le_store32(head, id);
    le_store32(head + 4, static_cast<uint32_t>(data.size()));
    image.insert(image.end(), head, head + 8);
    image.insert(image.end(), data.begin(), data.end());
  }
  return image;
}

bool block_changed(uint32_t id, const std::vector<uint8_t> &data) {
  auto bytes = load_file();
  if (!bytes) return true;
  RecordReader reader(*bytes);
  while (auto r = reader.next()) {
    if (r->id == id) return r->size != data.size() || !std::equal(data.begin(), data.end(), r->data);
  }
  return true;
}

}  // namespace

std::string conf_file_path() {
  return std::string(workdir_path()) + "/switch.conf";
}

void conf_module_reg(ConfModuleSlot slot, ConfActionFn action) {
  if (slot >= 0 && slot < kConfModuleCount) module_actions[slot] = action;
}

uint8_t *conf_create(uint32_t id, uint32_t size) {
  auto found = store.blocks.find(id);
  if (size == 0) {
    if (found != store.blocks.end()) store.blocks.erase(found);
    return nullptr;
  }
  if (found != store.blocks.end() && found->second.size() == size) {
    CONF_TRACE(trace::kDebug, "Found ID: %lu, old size: %lu, new size: %lu", static_cast<unsigned long>(id),
               static_cast<unsigned long>(size), static_cast<unsigned long>(size));
    return found->second.data();
  }
  std::vector<uint8_t> data;
  try {
    data.assign(size, 0);
  } catch (const std::bad_alloc &) {
    CONF_TRACE(trace::kError, "malloc %lu failed", static_cast<unsigned long>(size));
    return nullptr;
  }
  if (found != store.blocks.end()) {
    CONF_TRACE(trace::kDebug, "Found ID: %lu, old size: %lu, new size: %lu", static_cast<unsigned long>(id),
               static_cast<unsigned long>(found->second.size()), static_cast<unsigned long>(size));
    std::copy_n(found->second.begin(), std::min<size_t>(found->second.size(), size), data.begin());
    found->second = std::move(data);
    return found->second.data();
  }
  CONF_TRACE(trace::kDebug, "New ID: %lu, size: %lu", static_cast<unsigned long>(id),
             static_cast<unsigned long>(size));
  return store.blocks.emplace(id, std::move(data)).first->second.data();
}

uint8_t *conf_open(uint32_t id, uint32_t *size) {
  auto found = store.blocks.find(id);
  if (found == store.blocks.end()) {
    CONF_TRACE(trace::kDebug, "ID %lu not found", static_cast<unsigned long>(id));
    return nullptr;
  }
  CONF_TRACE(trace::kDebug, "Found ID %lu, size %lu", static_cast<unsigned long>(id),
             static_cast<unsigned long>(found->second.size()));
  if (size) *size = static_cast<uint32_t>(found->second.size());
  return found->second.data();
}

void conf_close(uint32_t id) {
  if (file_disabled()) {
    CONF_TRACE(trace::kDebug, "ID %lu closed", static_cast<unsigned long>(id));
    return;
  }
  auto found = store.blocks.find(id);
  if (found == store.blocks.end()) {
    // A close after a failed create: there is nothing to compare or save.
    CONF_TRACE(trace::kError, "ID %lu closed, not found", static_cast<unsigned long>(id));
    return;
  }
  if (block_changed(id, found->second)) {
    CONF_TRACE(trace::kDebug, "ID %lu closed, changed", static_cast<unsigned long>(id));
    conf_file_write();
  } else {
    CONF_TRACE(trace::kDebug, "ID %lu closed, not changed", static_cast<unsigned long>(id));
  }
}

int conf_busy() {
  return store.default_pending ? 1 : 0;
}

int conf_file_read() {
  if (file_disabled()) {
    CONF_TRACE(trace::kDebug, "File read disabled");
    return -1;
  }
  auto bytes = load_file();
  if (!bytes) {
    CONF_TRACE(trace::kError, "File open (for reading) failure");
    return -1;
  }
  return conf_load_image(*bytes);
}

int conf_load_image(const std::vector<uint8_t> &bytes) {
  if (!header_valid(bytes)) return -1;
  CONF_TRACE(trace::kDebug, "File read success");
  RecordReader reader(bytes);
  while (auto r = reader.next()) {
    uint8_t *data = conf_create(r->id, r->size);
    if (!data) break;
    std::memcpy(data, r->data, r->size);
  }
  if (auto cut = reader.truncated()) {
    // A record cut short (a crash while the file was written by an older writer) is no configuration.
    CONF_TRACE(trace::kError, "Record of ID %lu truncated", static_cast<unsigned long>(*cut));
    conf_create(*cut, 0);
  }
  return 0;
}

int conf_file_write() {
  if (file_disabled()) {
    CONF_TRACE(trace::kDebug, "File write disabled");
    return -1;
  }
  if (store.writing_suspended) return 0;
  // The new contents go to a temporary file that replaces the old one only when complete, so a full
  // disk or a crash never leaves a cut-off switch.conf behind.
  std::string path = conf_file_path();
  std::string temp = path + ".tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    CONF_TRACE(trace::kError, "File open (for writing) failure");
    return -1;
  }
  CONF_TRACE(trace::kDebug, "File open (for writing) Success");
  std::vector<uint8_t> image = file_image();
  bool ok = write_all(fd, image.data(), image.size());
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    CONF_TRACE(trace::kError, "File write failure");
    unlink(temp.c_str());
    return -1;
  }
  return 0;
}

void conf_make_default(uint32_t keep) {
  CONF_TRACE(trace::kDebug, "Enter");
  store.blocks.clear();
  store.writing_suspended = true;
  call_modules(kConfActionCreate, keep);
  uint32_t total = 0;
  for (const auto &[id, data] : store.blocks) total += static_cast<uint32_t>(data.size()) + 8;
  if (uint8_t *header = conf_create(0, kConfHeaderSize)) {
    std::memset(header, 0, kConfHeaderSize);
    le_store32(header, kConfCookie);
    le_store32(header + 4, total + 40);
    le_store32(header + 8, kConfId);
    le_store16(header + 12, kConfMajor);
    conf_close(0);
  }
  store.writing_suspended = false;
  conf_file_write();
}

namespace {

uint32_t conf_timer(uint32_t now, uint32_t, uint32_t) {
  if (store.default_pending) {
    CONF_TRACE(trace::kDebug, "Conf changed, calling modules");
    conf_make_default(store.default_keep);
    call_modules(kConfActionRead, 0);
    store.default_pending = false;
  }
  return now;
}

void conf_block_init() {
  store.blocks.clear();
  store.writing_suspended = false;
  if (conf_file_read() < 0) {
    CONF_TRACE(trace::kDebug, "Creating default configuration");
    conf_make_default(0);
  }
  store.default_pending = false;
  timer_reg(conf_timer, 500);
}

void conf_info_get(MgmtObject &object) {
  auto header = store.blocks.find(0);
  if (!object.has_data(16) || header == store.blocks.end() || header->second.size() < 16) return;
  std::memcpy(object.data(), header->second.data(), 16);
  object.set_res(kMgmtResOk);
}

void conf_default_set(MgmtObject &object) {
  if (!object.has_data(4)) return;
  uint32_t keep = object.data32(0);
  if (keep > 1) return;
  store.default_pending = true;
  store.default_keep = keep;
  object.set_res(kMgmtResOk);
}

}  // namespace

void conf_init() {
  CONF_TRACE(trace::kDebug, "Init");
  conf_block_init();
}

void conf_mgmt(MgmtObject &object) {
  object.set_res(kMgmtResFail);
  switch (object.obj_id()) {
    case 2000:
      CONF_TRACE(trace::kDebug, "MGMT_OBJ_CONF_INFO");
      if (object.cmd() == kMgmtCmdGet) conf_info_get(object);
      break;
    case 2001:
      CONF_TRACE(trace::kDebug, "MGMT_OBJ_CONF_DEFAULT");
      if (object.cmd() == kMgmtCmdSet) conf_default_set(object);
      break;
    case 2002:
      CONF_TRACE(trace::kDebug, "MGMT_OBJ_CONF_TFTP");
      break;
    default:
      CONF_TRACE(trace::kError, "Unknown obj_id: %d", static_cast<int>(object.obj_id()));
      break;
  }
}

void conf_reset() {
  store = ConfStore{};
}
