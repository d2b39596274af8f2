#include "kservices.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <random>

#include <sanitizer/asan_interface.h>

namespace kern::cpu_state {
constinit thread_local int depth = 0;
constinit thread_local bool claimed = false;  // holds cpu_mutex (below) through a kern::CpuClaim
constinit uint64_t pending_irqs = 0;
}  // namespace kern::cpu_state

namespace {

// ---- the CPU ------------------------------------------------------------------------------------
std::mutex cpu_mutex;

bool on_cpu() {
  return kern::cpu_state::depth > 0 || kern::cpu_state::claimed;
}

// ---- printk capture -----------------------------------------------------------------------------
constexpr size_t kMaxPrintkLines = 20000;
std::mutex printk_mutex;
std::vector<std::string> printk_log;
bool printk_to_stderr = false;

// ---- memory accounting and failure injection ------------------------------------------------------
std::mutex memory_mutex;
std::map<const void *, size_t> held_blocks;

struct FailurePlan {
  int skip = 0;
  int count = 0;
};
std::map<kern::Alloc, FailurePlan> failure_plans;
// Whether any plan is set: allocations look at the plans (and take the lock) only then.
std::atomic<bool> failures_planned{false};

bool should_fail(kern::Alloc kind) {
  if (!failures_planned.load(std::memory_order_acquire)) return false;
  std::lock_guard lock(memory_mutex);
  auto it = failure_plans.find(kind);
  if (it == failure_plans.end() || it->second.count == 0) return false;
  if (it->second.skip > 0) {
    --it->second.skip;
    return false;
  }
  --it->second.count;
  return true;
}

void note_block(const void *p, size_t size) {
  std::lock_guard lock(memory_mutex);
  held_blocks[p] = size;
}

void forget_block(const void *p) {
  std::lock_guard lock(memory_mutex);
  held_blocks.erase(p);
}

// ---- bus address space --------------------------------------------------------------------------
// DMA-visible blocks get 32-bit bus addresses below 0x40000000, so that a table base plus the
// engine's 0x40000000 offset still fits 32 bits.
constexpr uint64_t kBusStart = 0x00100000;
constexpr uint64_t kBusEnd = 0x40000000;

struct DmaBlock {
  unsigned char *virt;
  size_t size;
  dma_addr_t bus;
};
std::mutex dma_mutex;
std::map<uintptr_t, DmaBlock> dma_by_virt;
std::map<uint64_t, DmaBlock> dma_by_bus;

// Each thread remembers the block it translated last; any claim or release of bus space changes
// the generation and so forgets every remembered block. The descriptor ring and the engine's tables
// are translated once per packet, so this turns those look-ups into a compare without the lock.
std::atomic<uint64_t> dma_generation{0};
struct RecentBlock {
  uint64_t generation = ~uint64_t{0};
  DmaBlock block{};
};
thread_local RecentBlock recent_block;

const DmaBlock *recent_dma_block() {
  return recent_block.generation == dma_generation.load(std::memory_order_acquire) ? &recent_block.block
                                                                                   : nullptr;
}

// Called with dma_mutex held.
void remember_dma_block(const DmaBlock &block) {
  recent_block = RecentBlock{dma_generation.load(std::memory_order_relaxed), block};
}

bool claim_bus_range(unsigned char *virt, size_t size, dma_addr_t *bus) {
  std::lock_guard lock(dma_mutex);
  uint64_t candidate = kBusStart;
  for (const auto &[start, block] : dma_by_bus) {
    if (candidate + size <= start) break;
    candidate = std::max<uint64_t>(candidate, (start + block.size + 0xFFF) & ~uint64_t{0xFFF});
  }
  if (candidate + size > kBusEnd) return false;
  DmaBlock block{virt, size, static_cast<dma_addr_t>(candidate)};
  dma_by_bus[candidate] = block;
  dma_by_virt[reinterpret_cast<uintptr_t>(virt)] = block;
  dma_generation.fetch_add(1, std::memory_order_release);
  *bus = block.bus;
  return true;
}

void release_bus_range(const void *virt) {
  std::lock_guard lock(dma_mutex);
  auto it = dma_by_virt.find(reinterpret_cast<uintptr_t>(virt));
  if (it == dma_by_virt.end()) return;
  dma_by_bus.erase(it->second.bus);
  dma_by_virt.erase(it);
  dma_generation.fetch_add(1, std::memory_order_release);
}

// ---- socket buffer pool ---------------------------------------------------------------------------
// Frame data comes from one DMA-visible area of fixed chunks, so descriptors can name it by bus
// address; each chunk has its data record beside it, and buffer heads are recycled, so a frame
// costs a free-list pop and push rather than heap allocations. The area's bus range is one flat
// offset from its host address, which makes translation of frame bytes plain arithmetic. A head
// back in the pool is poisoned for the address sanitizer, so a freed buffer used again is caught.
// Chunk bytes stay readable after the frame is freed, as a descriptor may still name them. The pool
// is only used on the CPU, which serialises it: a frame costs no lock of its own.
constexpr size_t kChunkSize = 2048;
constexpr size_t kChunkCount = 32768;
constexpr size_t kPoolBytes = kChunkSize * kChunkCount;
constexpr size_t kHeadsPerBlock = 256;

}  // namespace

struct skb_data {
  unsigned char *buffer = nullptr;
  bool pooled = false;
  int refs = 1;
};

namespace {

class FramePool {
 public:
  // A head and a data record with a pooled chunk, or false (pool exhausted or unavailable).
  bool take_frame(sk_buff **head, skb_data **data) {
    require_cpu();
    if (!base_.load(std::memory_order_relaxed) && !reserve()) return false;
    if (free_chunks_.empty()) return false;
    size_t index = free_chunks_.back();
    free_chunks_.pop_back();
    unsigned char *chunk = base_.load(std::memory_order_relaxed) + index * kChunkSize;
    records_[index] = skb_data{chunk, true, 1};
    *data = &records_[index];
    *head = take_head_locked();
    return true;
  }
  sk_buff *take_head() {
    require_cpu();
    return take_head_locked();
  }
  void give_head(sk_buff *head) {
    require_cpu();
    ASAN_POISON_MEMORY_REGION(head, sizeof *head);
    free_heads_.push_back(head);
  }
  void give_chunk(skb_data *data) {
    require_cpu();
    unsigned char *base = base_.load(std::memory_order_relaxed);
    free_chunks_.push_back(static_cast<size_t>(data->buffer - base) / kChunkSize);
  }

  // Bus address of a byte inside the area, 0 outside it.
  dma_addr_t bus_of(const void *p) const {
    const unsigned char *base = base_.load(std::memory_order_acquire);
    auto *byte = static_cast<const unsigned char *>(p);
    if (!base || byte < base || byte >= base + kPoolBytes) return 0;
    return bus_ + static_cast<dma_addr_t>(byte - base);
  }
  // Whether `bus` falls inside the area; `*virt` is then the host pointer of [bus, bus + size), or
  // null when the range runs past the area's end.
  bool translate(dma_addr_t bus, size_t size, unsigned char **virt) const {
    unsigned char *base = base_.load(std::memory_order_acquire);
    if (!base || bus < bus_ || bus - bus_ >= kPoolBytes) return false;
    size_t offset = bus - bus_;
    *virt = size <= kPoolBytes - offset ? base + offset : nullptr;
    return true;
  }

 private:
  // The sanitizer builds catch a caller that reaches the pool off the CPU.
  static void require_cpu() {
#if defined(__SANITIZE_ADDRESS__)
    if (!on_cpu()) {
      std::fputs("socket buffer pool used off the CPU\n", stderr);
      std::abort();
    }
#endif
  }
  bool reserve() {
    void *area =
        mmap(nullptr, kPoolBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED) return false;
    dma_addr_t bus = 0;
    if (!claim_bus_range(static_cast<unsigned char *>(area), kPoolBytes, &bus)) {
      munmap(area, kPoolBytes);
      return false;
    }
    records_ = std::make_unique<skb_data[]>(kChunkCount);
    free_chunks_.reserve(kChunkCount);
    for (size_t i = kChunkCount; i-- > 0;) free_chunks_.push_back(i);
    bus_ = bus;
    base_.store(static_cast<unsigned char *>(area), std::memory_order_release);
    return true;
  }
  sk_buff *take_head_locked() {
    if (free_heads_.empty()) {
      head_blocks_.push_back(std::make_unique<sk_buff[]>(kHeadsPerBlock));
      free_heads_.reserve(head_blocks_.size() * kHeadsPerBlock);
      for (size_t i = 0; i < kHeadsPerBlock; ++i) free_heads_.push_back(&head_blocks_.back()[i]);
    }
    sk_buff *head = free_heads_.back();
    free_heads_.pop_back();
    ASAN_UNPOISON_MEMORY_REGION(head, sizeof *head);
    *head = sk_buff{};
    return head;
  }

  std::atomic<unsigned char *> base_{nullptr};
  dma_addr_t bus_ = 0;  // written once, before base_ is published
  std::unique_ptr<skb_data[]> records_;
  std::vector<size_t> free_chunks_;
  std::vector<std::unique_ptr<sk_buff[]>> head_blocks_;
  std::vector<sk_buff *> free_heads_;
};
FramePool frame_pool;
// Socket buffer heads held, counted apart from the block registry so a frame touches no map. Only
// the CPU changes it (so a load and a store suffice); anyone may read it.
std::atomic<size_t> heads_in_use{0};
void count_heads(int change) {
  heads_in_use.store(heads_in_use.load(std::memory_order_relaxed) + change, std::memory_order_relaxed);
}

// ---- registries ----------------------------------------------------------------------------------
struct CharDevice {
  std::string name;
  const file_operations *fops;
};
std::map<unsigned, CharDevice> char_devices;
std::map<std::string, std::unique_ptr<proc_dir_entry>> proc_entries;
std::map<std::string, std::unique_ptr<net_device>> net_devices;

// The interrupt controller's lines, flat, with a mask of those pending: delivery checks one word when
// nothing waits, and raising a line allocates nothing.
constexpr unsigned kIrqLines = 64;
struct IrqLine {
  irq_handler_t handler = nullptr;
  void *dev_id = nullptr;
  std::string name;
  int disable_depth = 0;
};
std::array<IrqLine, kIrqLines> irq_lines;
constexpr uint64_t irq_bit(unsigned irq) {
  return uint64_t{1} << irq;
}
bool irqs_masked = false;
bool delivering = false;

struct MmioMapping {
  uint32_t size;
  kern::MmioDevice *device;
};
std::map<uint32_t, MmioMapping> mmio_map;

// ---- clock ---------------------------------------------------------------------------------------
std::atomic<bool> clock_real{false};
std::atomic<uint64_t> virtual_ms{uint64_t{1700000000} * 1000};

thread_local int current_pid = 0;

kern::DeliverySink delivery_sink;

void deliver_pending_irqs() {
  if (irqs_masked || delivering || kern::cpu_state::pending_irqs == 0) return;
  delivering = true;
  bool ran = true;
  while (ran) {
    ran = false;
    // One pass in ascending line order, stepping straight to the next pending line.
    for (unsigned irq = 0; irq < kIrqLines; ++irq) {
      uint64_t waiting = kern::cpu_state::pending_irqs & ~(irq_bit(irq) - 1);
      if (waiting == 0) break;
      irq = static_cast<unsigned>(__builtin_ctzll(waiting));
      IrqLine &line = irq_lines[irq];
      if (line.disable_depth > 0 || !line.handler || irqs_masked) continue;
      kern::cpu_state::pending_irqs &= ~irq_bit(irq);
      irqs_masked = true;  // a handler runs with interrupts masked, as on interrupt entry
      pt_regs regs;
      line.handler(static_cast<int>(irq), line.dev_id, &regs);
      irqs_masked = false;
      ran = true;
    }
  }
  delivering = false;
}

// Leaves the CPU for the length of a sleeping operation and takes it back afterwards.
class CpuSleep {
 public:
  CpuSleep() : depth_(kern::cpu_state::depth), claimed_(kern::cpu_state::claimed), masked_(irqs_masked) {
    if (depth_ > 0 || claimed_) {
      kern::cpu_state::depth = 0;
      kern::cpu_state::claimed = false;
      cpu_mutex.unlock();
    }
  }
  ~CpuSleep() {
    if (depth_ > 0 || claimed_) {
      cpu_mutex.lock();
      kern::cpu_state::depth = depth_;
      kern::cpu_state::claimed = claimed_;
      irqs_masked = masked_;
    }
  }

 private:
  int depth_;
  bool claimed_;
  bool masked_;
};

// Copies within this process through a pipe, so that an address the process cannot reach fails the
// system call (EFAULT) instead of faulting the caller, as a user copy must. Used where the cross-process
// calls are missing (qemu-user does not provide process_vm_readv/writev). Returns the bytes NOT copied.
unsigned long copy_user_in_process(void *local, unsigned long remote, unsigned long n, bool to_user) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return n;
  char *source = to_user ? static_cast<char *>(local) : reinterpret_cast<char *>(remote);
  char *target = to_user ? reinterpret_cast<char *>(remote) : static_cast<char *>(local);
  constexpr unsigned long kChunk = 4096;  // well below any pipe's capacity: a write never blocks
  unsigned long done = 0;
  while (done < n) {
    const unsigned long chunk = std::min(kChunk, n - done);
    const ssize_t in = write(ends[1], source + done, chunk);
    if (in <= 0) break;
    const ssize_t out = read(ends[0], target + done, static_cast<size_t>(in));
    if (out != in) break;
    done += static_cast<unsigned long>(out);
  }
  close(ends[0]);
  close(ends[1]);
  return n - done;
}

unsigned long copy_user(void *local, unsigned long remote, unsigned long n, bool to_user) {
  if (n == 0) return 0;
  if (!access_ok(to_user ? VERIFY_WRITE : VERIFY_READ, remote, n)) return n;
  CpuSleep sleep;
  iovec local_iov{local, n};
  iovec remote_iov{reinterpret_cast<void *>(remote), n};
  pid_t pid = kern::user_process();
  ssize_t done = to_user ? process_vm_writev(pid, &local_iov, 1, &remote_iov, 1, 0)
                         : process_vm_readv(pid, &local_iov, 1, &remote_iov, 1, 0);
  if (done < 0 && errno == ENOSYS && pid == getpid()) return copy_user_in_process(local, remote, n, to_user);
  if (done < 0) return n;
  return n - static_cast<unsigned long>(done);
}

void free_skb_struct(sk_buff *skb) {
  skb_data *shared = skb->shared;
  if (shared && --shared->refs == 0) {
    if (shared->pooled) {
      frame_pool.give_chunk(shared);
    } else {
      release_bus_range(shared->buffer);
      std::free(shared->buffer);
      delete shared;
    }
  }
  count_heads(-1);
  frame_pool.give_head(skb);
}

}  // namespace

// ==================================================================================================
int printk(const char *format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::lock_guard lock(printk_mutex);
  if (printk_log.size() >= kMaxPrintkLines)
    printk_log.erase(printk_log.begin(), printk_log.begin() + kMaxPrintkLines / 2);
  printk_log.emplace_back(line);
  if (printk_to_stderr) fputs(line, stderr);
  return n;
}

int register_chrdev(unsigned int major, const char *name, const file_operations *fops) {
  if (should_fail(kern::Alloc::kChrdev) || char_devices.count(major)) return -16;
  char_devices[major] = CharDevice{name, fops};
  return 0;
}

int unregister_chrdev(unsigned int major, const char *name) {
  auto it = char_devices.find(major);
  if (it == char_devices.end() || it->second.name != name) return -22;
  char_devices.erase(it);
  return 0;
}

proc_dir_entry *create_proc_entry(const char *name, int, proc_dir_entry *) {
  if (should_fail(kern::Alloc::kKmalloc)) return nullptr;
  auto &slot = proc_entries[name];
  if (slot) return nullptr;
  slot = std::make_unique<proc_dir_entry>();
  return slot.get();
}

void remove_proc_entry(const char *name, proc_dir_entry *) {
  proc_entries.erase(name);
}

void *kmalloc(size_t size, int) {
  if (should_fail(kern::Alloc::kKmalloc)) return nullptr;
  void *p = std::malloc(size ? size : 1);
  if (p) note_block(p, size);
  return p;
}

void kfree(const void *p) {
  if (!p) return;
  forget_block(p);
  std::free(const_cast<void *>(p));
}

void *vmalloc(size_t size) {
  if (should_fail(kern::Alloc::kVmalloc)) return nullptr;
  void *p = std::malloc(size ? size : 1);
  if (p) note_block(p, size);
  return p;
}

void vfree(const void *p) {
  kfree(p);
}

void *pci_alloc_consistent(void *, size_t size, dma_addr_t *bus) {
  if (should_fail(kern::Alloc::kDma)) return nullptr;
  auto *p = static_cast<unsigned char *>(std::calloc(1, size));
  if (!p) return nullptr;
  if (!claim_bus_range(p, size, bus)) {
    std::free(p);
    return nullptr;
  }
  note_block(p, size);
  return p;
}

void consistent_free(void *vaddr, size_t, dma_addr_t) {
  if (!vaddr) return;
  release_bus_range(vaddr);
  forget_block(vaddr);
  std::free(vaddr);
}

// The host's caches are coherent with the device models; nothing to flush or invalidate.
void consistent_sync(const void *, size_t, int) {}

dma_addr_t virt_to_bus(const void *p) {
  if (dma_addr_t bus = frame_pool.bus_of(p)) return bus;
  auto address = reinterpret_cast<uintptr_t>(p);
  if (const DmaBlock *recent = recent_dma_block()) {
    auto start = reinterpret_cast<uintptr_t>(recent->virt);
    if (address >= start && address - start < recent->size)
      return recent->bus + static_cast<dma_addr_t>(address - start);
  }
  std::lock_guard lock(dma_mutex);
  auto it = dma_by_virt.upper_bound(address);
  if (it == dma_by_virt.begin()) return 0;
  --it;
  if (address >= it->first + it->second.size) return 0;
  remember_dma_block(it->second);
  return it->second.bus + static_cast<dma_addr_t>(address - it->first);
}

int request_irq(unsigned int irq, irq_handler_t handler, unsigned long, const char *name, void *dev_id) {
  if (irq >= kIrqLines) return -22;
  if (should_fail(kern::Alloc::kIrq)) return -16;
  IrqLine &line = irq_lines[irq];
  if (line.handler) return -16;
  line.handler = handler;
  line.dev_id = dev_id;
  line.name = name;
  line.disable_depth = 0;
  return 0;
}

void free_irq(unsigned int irq, void *dev_id) {
  if (irq >= kIrqLines || irq_lines[irq].dev_id != dev_id) return;
  irq_lines[irq] = IrqLine{};
  kern::cpu_state::pending_irqs &= ~irq_bit(irq);
}

void disable_irq(unsigned int irq) {
  if (irq < kIrqLines) ++irq_lines[irq].disable_depth;
}

void enable_irq(unsigned int irq) {
  if (irq >= kIrqLines) return;
  IrqLine &line = irq_lines[irq];
  if (line.disable_depth > 0) --line.disable_depth;
  deliver_pending_irqs();
}

void soc_set_interrupt_trigger(unsigned int, int, int) {}

unsigned long kern_irq_save() {
  unsigned long was = irqs_masked ? 1 : 0;
  irqs_masked = true;
  return was;
}

void kern_irq_restore(unsigned long flags) {
  irqs_masked = flags != 0;
  deliver_pending_irqs();
}

void cpu_relax() {
  deliver_pending_irqs();
}

uint32_t readl(uint32_t address) {
  auto it = mmio_map.upper_bound(address);
  if (it == mmio_map.begin()) return 0;
  --it;
  if (address - it->first >= it->second.size) return 0;
  return it->second.device->read(address - it->first);
}

void writel(uint32_t value, uint32_t address) {
  auto it = mmio_map.upper_bound(address);
  if (it == mmio_map.begin()) return;
  --it;
  if (address - it->first >= it->second.size) return;
  it->second.device->write(address - it->first, value);
}

unsigned long jiffies_now() {
  if (clock_real) {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<unsigned long>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count() /
                                      10);
  }
  return static_cast<unsigned long>(virtual_ms.load() / 10);
}

uint32_t xtime_seconds() {
  if (clock_real) return static_cast<uint32_t>(std::time(nullptr));
  return static_cast<uint32_t>(virtual_ms.load() / 1000);
}

void get_random_bytes(void *buffer, int count) {
  std::random_device source;
  auto *out = static_cast<unsigned char *>(buffer);
  for (int i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(source());
}

bool access_ok(int, unsigned long address, unsigned long size) {
  return address <= TASK_SIZE && size <= TASK_SIZE - address;
}

unsigned long copy_from_user(void *to, unsigned long from, unsigned long n) {
  return copy_user(to, from, n, false);
}

unsigned long copy_to_user(unsigned long to, const void *from, unsigned long n) {
  return copy_user(const_cast<void *>(from), to, n, true);
}

uint16_t htons_k(uint16_t v) {
  return static_cast<uint16_t>((v >> 8) | (v << 8));
}

sk_buff *alloc_skb(unsigned int size, int flags) {
  if (should_fail(kern::Alloc::kKmalloc)) return nullptr;
  (void)flags;
  kern::CpuSection cpu;  // the pool belongs to the CPU; a caller on it pays nothing here
  sk_buff *skb = nullptr;
  skb_data *shared = nullptr;
  if (size > kChunkSize || !frame_pool.take_frame(&skb, &shared)) {
    auto own = std::make_unique<skb_data>();
    own->buffer = static_cast<unsigned char *>(std::calloc(1, size ? size : 1));
    dma_addr_t bus = 0;
    if (!own->buffer || !claim_bus_range(own->buffer, size ? size : 1, &bus)) {
      std::free(own->buffer);
      return nullptr;
    }
    skb = frame_pool.take_head();
    shared = own.release();
  }
  skb->data = shared->buffer;
  skb->len = size;
  skb->shared = shared;
  count_heads(1);
  return skb;
}

sk_buff *skb_clone(sk_buff *skb, int) {
  if (should_fail(kern::Alloc::kKmalloc)) return nullptr;
  kern::CpuSection cpu;
  sk_buff *clone = frame_pool.take_head();
  *clone = *skb;
  clone->users = 1;
  clone->cloned = true;
  skb->cloned = true;
  ++clone->shared->refs;
  count_heads(1);
  return clone;
}

sk_buff *skb_copy(const sk_buff *skb, int flags) {
  sk_buff *copy = alloc_skb(skb->len, flags);
  if (!copy) return nullptr;
  if (skb->len) std::memcpy(copy->data, skb->data, skb->len);
  if (skb->nh) copy->nh = copy->data + (skb->nh - skb->data);
  copy->protocol = skb->protocol;
  copy->dev = skb->dev;
  copy->conn = skb->conn;
  return copy;
}

void kfree_skb(sk_buff *skb) {
  if (!skb) return;
  kern::CpuSection cpu;
  if (--skb->users > 0) return;
  free_skb_struct(skb);
}

sk_buff *skb_share_check(sk_buff *skb, int flags) {
  if (!skb_shared(skb)) return skb;
  sk_buff *clone = skb_clone(skb, flags);
  if (!clone) return nullptr;
  kfree_skb(skb);
  return clone;
}

bool pskb_may_pull(sk_buff *skb, unsigned int n) {
  return n <= skb->len;
}

int (*PacketInspect)(sk_buff *skb, int *code) = nullptr;

void IPS_CallBack(sk_buff *skb, int verdict) {
  if (!skb) return;
  if (delivery_sink) delivery_sink(*skb, verdict == 1 ? kern::Fate::kDropped : kern::Fate::kDelivered, true);
  kfree_skb(skb);
}

int netif_rx(sk_buff *skb) {
  if (!skb) return 1;
  if (delivery_sink) delivery_sink(*skb, kern::Fate::kDelivered, false);
  kfree_skb(skb);
  return 0;
}

// ==================================================================================================
namespace kern {

namespace cpu_state {

void take() {
  cpu_mutex.lock();
}

void give() {
  cpu_mutex.unlock();
}

void deliver_irqs() {
  ::deliver_pending_irqs();
}

void misnested() {
  std::fputs("CpuSection ended out of order, or on another thread than its own\n", stderr);
  std::abort();
}

}  // namespace cpu_state

CpuClaim::CpuClaim() {
  if (on_cpu()) {
    std::fputs("CpuClaim on a thread that is already on the CPU\n", stderr);
    std::abort();
  }
  cpu_mutex.lock();
  kern::cpu_state::claimed = true;
}

CpuClaim::~CpuClaim() {
  kern::cpu_state::claimed = false;
  cpu_mutex.unlock();
}

std::vector<std::string> printk_lines() {
  std::lock_guard lock(printk_mutex);
  return printk_log;
}

void printk_clear() {
  std::lock_guard lock(printk_mutex);
  printk_log.clear();
}

void printk_echo(bool to_stderr) {
  printk_to_stderr = to_stderr;
}

namespace {
const file_operations *fops_of(unsigned major) {
  auto it = char_devices.find(major);
  return it == char_devices.end() ? nullptr : it->second.fops;
}
}  // namespace

int chrdev_open(unsigned int major) {
  CpuSection cpu;
  const file_operations *fops = fops_of(major);
  if (!fops) return -19;
  inode node;
  file f;
  return fops->open ? fops->open(&node, &f) : 0;
}

int chrdev_release(unsigned int major) {
  CpuSection cpu;
  const file_operations *fops = fops_of(major);
  if (!fops) return -19;
  inode node;
  file f;
  return fops->release ? fops->release(&node, &f) : 0;
}

int chrdev_ioctl(unsigned int major, unsigned int cmd, unsigned long arg) {
  CpuSection cpu;
  const file_operations *fops = fops_of(major);
  if (!fops) return -19;
  if (!fops->ioctl) return -25;
  inode node;
  file f;
  return fops->ioctl(&node, &f, cmd, arg);
}

long chrdev_read(unsigned int major, char *buffer, size_t size) {
  CpuSection cpu;
  const file_operations *fops = fops_of(major);
  if (!fops) return -19;
  file f;
  long offset = 0;
  return fops->read ? fops->read(&f, buffer, size, &offset) : -22;
}

long chrdev_write(unsigned int major, const char *buffer, size_t size) {
  CpuSection cpu;
  const file_operations *fops = fops_of(major);
  if (!fops) return -19;
  file f;
  long offset = 0;
  return fops->write ? fops->write(&f, buffer, size, &offset) : -22;
}

bool chrdev_registered(unsigned int major, std::string *name) {
  CpuSection cpu;
  auto it = char_devices.find(major);
  if (it == char_devices.end()) return false;
  if (name) *name = it->second.name;
  return true;
}

bool proc_read(const std::string &name, std::string *text) {
  CpuSection cpu;
  auto it = proc_entries.find(name);
  if (it == proc_entries.end() || !it->second->read_proc) return false;
  std::vector<char> page(4096);
  char *start = nullptr;
  int eof = 0;
  int n =
      it->second->read_proc(page.data(), &start, 0, static_cast<int>(page.size()), &eof, it->second->data);
  if (n < 0) return false;
  text->assign(page.data(), std::min<size_t>(static_cast<size_t>(n), page.size()));
  return true;
}

bool proc_registered(const std::string &name) {
  CpuSection cpu;
  return proc_entries.count(name) != 0;
}

size_t blocks_in_use() {
  std::lock_guard lock(memory_mutex);
  return held_blocks.size() + heads_in_use.load(std::memory_order_relaxed);
}

void fail_next(Alloc kind, int skip, int count) {
  std::lock_guard lock(memory_mutex);
  failure_plans[kind] = FailurePlan{skip, count};
  failures_planned.store(true, std::memory_order_release);
}

void clear_failures() {
  std::lock_guard lock(memory_mutex);
  failure_plans.clear();
  failures_planned.store(false, std::memory_order_release);
}

unsigned char *bus_to_virt(dma_addr_t bus, size_t size) {
  if (unsigned char *virt = nullptr; frame_pool.translate(bus, size, &virt)) return virt;
  if (const DmaBlock *recent = recent_dma_block();
      recent && bus >= recent->bus && bus - recent->bus < recent->size) {
    uint64_t offset = bus - recent->bus;
    return size > recent->size - offset ? nullptr : recent->virt + offset;
  }
  std::lock_guard lock(dma_mutex);
  auto it = dma_by_bus.upper_bound(bus);
  if (it == dma_by_bus.begin()) return nullptr;
  --it;
  uint64_t offset = bus - it->first;
  if (offset > it->second.size || size > it->second.size - offset) return nullptr;
  remember_dma_block(it->second);
  return it->second.virt + offset;
}

void raise_irq(unsigned int irq) {
  CpuSection cpu;
  if (irq >= kIrqLines || !irq_lines[irq].handler) return;  // nobody listens: the edge is lost
  kern::cpu_state::pending_irqs |= irq_bit(irq);
  deliver_pending_irqs();
}

bool irq_requested(unsigned int irq, std::string *name) {
  CpuSection cpu;
  if (irq >= kIrqLines || !irq_lines[irq].handler) return false;
  if (name) *name = irq_lines[irq].name;
  return true;
}

void map_device(uint32_t base, uint32_t size, MmioDevice *device) {
  mmio_map[base] = MmioMapping{size, device};
}

void unmap_device(uint32_t base) {
  mmio_map.erase(base);
}

void clock_use_real(bool real) {
  clock_real = real;
}

void clock_set(uint32_t seconds, uint32_t milliseconds) {
  virtual_ms = uint64_t{seconds} * 1000 + milliseconds;
}

void clock_advance_ms(uint64_t milliseconds) {
  virtual_ms += milliseconds;
}

void set_user_process(int pid) {
  current_pid = pid;
}

int user_process() {
  return current_pid ? current_pid : static_cast<int>(getpid());
}

int receive(sk_buff *skb) {
  CpuSection cpu;
  int code = 0;
  if (PacketInspect) {
    PacketInspect(skb, &code);  // the frame belongs to the module from here on, whatever it returns
  } else {
    netif_rx(skb);
  }
  return code;
}

void set_delivery_sink(DeliverySink sink) {
  CpuSection cpu;
  delivery_sink = std::move(sink);
}

sk_buff *make_frame(const std::string &device, uint16_t ethertype, const void *payload, size_t size) {
  CpuSection cpu;
  sk_buff *skb = alloc_skb(static_cast<unsigned>(size), GFP_ATOMIC);
  if (!skb) return nullptr;
  if (size) std::memcpy(skb->data, payload, size);
  skb->protocol = htons_k(ethertype);
  auto &dev = net_devices[device];
  if (!dev) {
    dev = std::make_unique<net_device>();
    std::snprintf(dev->name, sizeof dev->name, "%s", device.c_str());
  }
  skb->dev = dev.get();
  return skb;
}

}  // namespace kern
