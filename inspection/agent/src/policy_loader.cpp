// Installing a policy: the uploader has put the file into the raw policy segment; it is checked and
// unpacked in private memory first. Only a file that passed every check goes to the module, and only
// once the module has taken it are the shared policy record and the name tables replaced: a policy
// refused at any step leaves the installed one's record as it was.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cmd_agent.h"
#include "device.h"
#include "ipc.h"
#include "messages.h"
#include "policy_format.h"
#include "rul_agent.h"
#include "vornagent.h"

namespace vornagent {

namespace {

constexpr const char *kSource = "kaRulAgnt";
constexpr int kOpenTries = 11;

const char *debug_log_path() {
  const char *path = std::getenv("VORNAGENT_DEBUG_LOG");
  return path && *path ? path : "/var/glb_dbg";
}

void log_error(int line, const char *text) {
  mylog("%s(%d) : %s\n", kSource, line, text);
}

void report_parse_error(PolicyError error) {
  switch (error) {
    case PolicyError::kLength:
      log_error(270, "Read Policy File Len Error");
      break;
    case PolicyError::kDecrypt:
      log_error(283, "Decrpt Policy File Fail");
      break;
    case PolicyError::kChecksum:
    case PolicyError::kFormat:
      log_error(293, "Check Policy File Fail");
      break;
    case PolicyError::kDecompress:
      print_message(kSource, 357, "Decompress Error");
      break;
    case PolicyError::kNone:
      break;
  }
}

// Memory below 4 GiB: the module takes the address of the download section as 32 bits.
class LowBuffer {
 public:
  explicit LowBuffer(std::size_t size) : size_(size) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_32BIT
    flags |= MAP_32BIT;
#endif
    void *address = mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (address == MAP_FAILED) return;
    if (reinterpret_cast<uintptr_t>(address) + size > uintptr_t{0xFFFFFFFFu}) {
      munmap(address, size);  // refuse rather than hand the module a truncated address
      return;
    }
    address_ = static_cast<uint8_t *>(address);
  }
  ~LowBuffer() {
    if (address_) munmap(address_, size_);
  }
  LowBuffer(const LowBuffer &) = delete;
  LowBuffer &operator=(const LowBuffer &) = delete;
  uint8_t *data() const {
    return address_;
  }
  uint32_t address32() const {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address_));
  }

 private:
  uint8_t *address_ = nullptr;
  std::size_t size_;
};

// Hands the engine image to the module. The exclusive lock keeps other library calls from running
// into the module's one-ioctl-at-a-time refusal during the download.
bool RulDownloadKernel(const std::vector<uint8_t> &download) {
  LowBuffer buffer(download.size());
  int fd = buffer.data() ? open_device_with_retries(kOpenTries) : -1;
  bool loaded = false;
  if (fd >= 0) {
    std::memcpy(buffer.data(), download.data(), download.size());
    ParamtVornPolicyTable record{buffer.address32(), 0};
    loaded = locked_ioctl(fd, kIocLoadRuleTables, &record) == 0 && record.status == 0;
    close_device(fd);
  }
  if (!loaded) print_message(kSource, 225, "Load Policy Fail");
  return loaded;
}

// Replaces the shared name tables with the unpacked sections.
bool RulUncompressTables(RulAgnt &agent, const ParsedPolicy &policy) {
  std::size_t size = policy.decompressed.empty() ? 1 : policy.decompressed.size();
  int id = create_segment(kSectionsKey, size);
  if (id < 0 && remove_segment(kSectionsKey)) id = create_segment(kSectionsKey, size);
  if (id < 0) return false;
  void *address = shmat(id, nullptr, 0);
  if (address == reinterpret_cast<void *>(-1)) return false;
  // A policy without compressed contents (no attack names) has no bytes to copy, and an empty
  // vector's data may be a null pointer, which memcpy must never be given.
  if (!policy.decompressed.empty())
    std::memcpy(address, policy.decompressed.data(), policy.decompressed.size());
  shmdt(address);
  agent.decompressed_size = static_cast<uint32_t>(policy.decompressed.size());
  std::memset(agent.sections, 0, sizeof agent.sections);
  std::copy(policy.sections.begin(), policy.sections.end(), agent.sections);
  return true;
}

void record_header(RulAgnt &agent, const ParsedPolicy &policy) {
  agent.payload_length = policy.payload_length;
  agent.version = policy.version;
  std::memcpy(agent.kept16, policy.kept16, sizeof agent.kept16);
  agent.kept_byte = policy.kept_byte;
  agent.compressed_count = policy.compressed_count;
  agent.download_count = policy.download_count;
  std::memcpy(agent.trailer, policy.trailer, sizeof agent.trailer);
}

bool check_policy_file(ParsedPolicy &policy) {
  const auto *file = static_cast<const uint8_t *>(attach_segment(kRawPolicyKey, kRawPolicySize));
  if (!file) {
    print_message(kSource, 256, "Get Policy File Error");
    return false;
  }
  PolicyError error = parse_policy(file, kRawPolicySize, kKeyMaterial, policy);
  detach_segment(const_cast<uint8_t *>(file));
  if (error == PolicyError::kNone) return true;
  report_parse_error(error);
  print_text("Exception Handle\n");
  return false;
}

}  // namespace

int RulRetrvPlcy(RulAgnt *agent) {
  if (!agent) return 1;
  ParsedPolicy policy;
  if (!check_policy_file(policy)) return 1;
  if (!RulDownloadKernel(policy.download)) {
    print_message(kSource, 367, "Download Kernel Error");
    print_text("Exception Handle\n");
    return 1;
  }
  RulAgntReset(agent);
  record_header(*agent, policy);
  if (!RulUncompressTables(*agent, policy)) {
    // The module already runs the new policy, so the old record no longer describes it.
    print_message(kSource, 357, "Decompress Error");
    print_text("Exception Handle\n");
    RulAgntRelease(agent);
    return 1;
  }
  return 0;
}

}  // namespace vornagent

using namespace vornagent;

extern "C" {

int mylog(const char *format, ...) {
  if (!format) return -1;
  std::FILE *file = std::fopen(debug_log_path(), "a+");
  if (!file) return -1;
  va_list args;
  va_start(args, format);
  std::vfprintf(file, format, args);
  va_end(args);
  std::fclose(file);
  return 0;
}

int kaUpdateSig(void) {
  RulAgnt *rule = rul_agnt_attach();
  CmdAgnt *command = cmd_agnt_attach();
  bool ok = rule && command && RulRetrvPlcy(rule) == 0;
  if (ok) {
    command->status = 0;
    ok = CmdSetVrnStat(static_cast<int>(command->ips)) == 0;
  }
  if (ok) ok = kaGetAllAppInfo(command) == 0 && kaGetAllAppInfoTH(command) == 0;
  detach_segment(command);
  detach_segment(rule);
  return ok ? 0 : -1;
}

}  // extern "C"
