// Kernel services for the vorn module on a host without the router's kernel.
//
// The module calls these with the names and semantics of the router's Linux kernel. Everything the
// module reaches outside itself lives here: the character device and /proc registries, memory
// (kmalloc, vmalloc, DMA-coherent blocks with 32-bit bus addresses), interrupt lines with masking,
// memory-mapped registers of device models, socket buffers and the receive path's inspection hook,
// user-memory copies, printk and time.
//
// One "CPU" runs every entry point (ioctl, receive hook, interrupt handler) one at a time, as the
// router's single non-preemptive CPU does. A user copy may sleep on the router; here it leaves the
// CPU for the length of the copy, so another caller's entry point can run meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#define KERN_ERR "<3>"
#define KERN_INFO "<6>"

// ---- printk -------------------------------------------------------------------------------------
int printk(const char *format, ...) __attribute__((format(printf, 1, 2)));

// ---- character devices and /proc ------------------------------------------------------------------
struct inode {};
struct file {};

struct file_operations {
  int (*open)(inode *, file *);
  int (*release)(inode *, file *);
  long (*read)(file *, char *, size_t, long *);
  long (*write)(file *, const char *, size_t, long *);
  int (*ioctl)(inode *, file *, unsigned int cmd, unsigned long arg);
};

int register_chrdev(unsigned int major, const char *name, const file_operations *fops);
int unregister_chrdev(unsigned int major, const char *name);

using read_proc_t = int (*)(char *page, char **start, long off, int count, int *eof, void *data);
struct proc_dir_entry {
  read_proc_t read_proc = nullptr;
  void *data = nullptr;
};
// `name` is the path below /proc, e.g. "driver/vorn".
proc_dir_entry *create_proc_entry(const char *name, int mode, proc_dir_entry *parent);
void remove_proc_entry(const char *name, proc_dir_entry *parent);

// ---- memory ---------------------------------------------------------------------------------------
enum : int { GFP_KERNEL = 0, GFP_ATOMIC = 1 };
void *kmalloc(size_t size, int flags);
void kfree(const void *p);
void *vmalloc(size_t size);
void vfree(const void *p);

using dma_addr_t = uint32_t;
// DMA-coherent memory: `*bus` receives the block's 32-bit bus address.
void *pci_alloc_consistent(void *pdev, size_t size, dma_addr_t *bus);
void consistent_free(void *vaddr, size_t size, dma_addr_t bus);
enum : int { DMA_TO_DEVICE = 1, DMA_FROM_DEVICE = 2 };
void consistent_sync(const void *vaddr, size_t size, int direction);
// Bus address of a byte inside a DMA-visible block (DMA-coherent or socket buffer data); 0 when the
// byte lies in no such block.
dma_addr_t virt_to_bus(const void *p);

// ---- interrupts -----------------------------------------------------------------------------------
struct pt_regs {};
using irq_handler_t = void (*)(int irq, void *dev_id, pt_regs *regs);
int request_irq(unsigned int irq, irq_handler_t handler, unsigned long flags, const char *name, void *dev_id);
void free_irq(unsigned int irq, void *dev_id);
void disable_irq(unsigned int irq);
void enable_irq(unsigned int irq);
void soc_set_interrupt_trigger(unsigned int irq, int mode, int level);
unsigned long kern_irq_save();
void kern_irq_restore(unsigned long flags);
#define local_irq_save(flags) ((flags) = kern_irq_save())
#define local_irq_restore(flags) kern_irq_restore(flags)
// Lets interrupts that are pending and not masked run; called by busy-wait loops.
void cpu_relax();

// ---- memory-mapped registers ----------------------------------------------------------------------
uint32_t readl(uint32_t address);
void writel(uint32_t value, uint32_t address);

// ---- time -----------------------------------------------------------------------------------------
enum : unsigned { HZ = 100 };
unsigned long jiffies_now();
uint32_t xtime_seconds();

// ---- randomness -----------------------------------------------------------------------------------
// Unpredictable bytes, for keys that outside traffic must not guess (hash seeds).
void get_random_bytes(void *buffer, int count);

// ---- user memory ----------------------------------------------------------------------------------
enum : int { VERIFY_READ = 0, VERIFY_WRITE = 1 };
// End of user space: the lower half of a 64-bit address space; for a 32-bit process the page of
// exception vectors at 0xFFFF0000, since 32-bit programs run on 64-bit kernels and emulators are given
// (and do use) addresses up to there.
inline constexpr unsigned long TASK_SIZE =
    sizeof(unsigned long) == 8 ? static_cast<unsigned long>(0x00007FFFFFFFF000ULL) : 0xFFFF0000UL;
// Whether [address, address + size) lies below the caller's address limit.
bool access_ok(int type, unsigned long address, unsigned long size);
// Both return the number of bytes NOT copied (0 on success), as the kernel's routines do.
unsigned long copy_from_user(void *to, unsigned long from, unsigned long n);
unsigned long copy_to_user(unsigned long to, const void *from, unsigned long n);

// ---- socket buffers and the receive path ----------------------------------------------------------
struct net_device {
  char name[16] = {};
};

struct skb_data;  // shared, reference-counted data block

struct sk_buff {
  unsigned char *data = nullptr;  // what follows the link header
  unsigned char *nh = nullptr;    // network (IP) header, once a protocol handler has found it
  unsigned int len = 0;
  uint16_t protocol = 0;  // EtherType in network byte order
  net_device *dev = nullptr;
  int users = 1;
  bool cloned = false;
  void *conn = nullptr;  // connection record of the inspection module's tracker
  skb_data *shared = nullptr;
};

enum : uint16_t { ETH_P_IP = 0x0800, ETH_P_PPP_DISC = 0x8863, ETH_P_PPP_SES = 0x8864 };
uint16_t htons_k(uint16_t v);

sk_buff *alloc_skb(unsigned int size, int flags);
sk_buff *skb_clone(sk_buff *skb, int flags);
// A private copy: its own data block holding the same bytes, with the same headers, device and
// connection. Null when memory runs out.
sk_buff *skb_copy(const sk_buff *skb, int flags);
void kfree_skb(sk_buff *skb);
inline bool skb_shared(const sk_buff *skb) {
  return skb->users != 1;
}
// Returns a private buffer: the same one when not shared, else a clone (the original losing one
// reference only once the clone exists). Null when the clone fails; the original is then untouched.
sk_buff *skb_share_check(sk_buff *skb, int flags);
// Buffers here are always linear: true when `n` bytes are present.
bool pskb_may_pull(sk_buff *skb, unsigned int n);

// The inspection hook of the patched receive path and the verdict function the module calls.
extern int (*PacketInspect)(sk_buff *skb, int *code);
void IPS_CallBack(sk_buff *skb, int verdict);
int netif_rx(sk_buff *skb);

// ================================================================================================
// Host side: what the stand-in kernel offers to vornkd, device models and tests.
// ================================================================================================
namespace kern {

// The CPU's bookkeeping, read by CpuSection in line: a section opened on a thread that already holds
// the CPU (a nested one, or any under a CpuClaim) costs a counter and a test, and no call.
namespace cpu_state {
extern constinit thread_local int depth;     // sections open on this thread
extern constinit thread_local bool claimed;  // this thread holds the CPU through a CpuClaim
extern constinit uint64_t pending_irqs;      // lines raised and not yet delivered; read on the CPU only
void take();                                 // waits for the CPU
void give();
void deliver_irqs();
[[noreturn]] void misnested();
}  // namespace cpu_state

// Runs one entry point on the CPU (waits for it; nested calls on the CPU's own thread run at once).
// Interrupts raised meanwhile are delivered as the outermost section ends. Builds with assertions
// also check that sections end in the reverse order of their start, on their own thread.
class CpuSection {
 public:
  CpuSection() : entered_(cpu_state::depth == 0 && !cpu_state::claimed) {
    if (entered_) cpu_state::take();
    ++cpu_state::depth;
#ifndef NDEBUG
    depth_ = cpu_state::depth;
#endif
  }
  ~CpuSection() {
#ifndef NDEBUG
    if (cpu_state::depth != depth_) cpu_state::misnested();
#endif
    if (cpu_state::depth == 1 && cpu_state::pending_irqs != 0) cpu_state::deliver_irqs();
    --cpu_state::depth;
    if (entered_) cpu_state::give();
  }
  CpuSection(const CpuSection &) = delete;
  CpuSection &operator=(const CpuSection &) = delete;

 private:
  bool entered_;
#ifndef NDEBUG
  int depth_;
#endif
};

// Holds the CPU for the calling thread for as long as it lives, so that this thread's sections take
// no lock: for a thread that drives the module alone, such as a benchmark's. Sections of other
// threads wait until the claim ends. Not to be made on a thread that is already on the CPU.
class CpuClaim {
 public:
  CpuClaim();
  ~CpuClaim();
  CpuClaim(const CpuClaim &) = delete;
  CpuClaim &operator=(const CpuClaim &) = delete;
};

// printk capture: every line with its level prefix, in order.
std::vector<std::string> printk_lines();
void printk_clear();
void printk_echo(bool to_stderr);

// Character device entry points as the system-call layer would call them. -19 without a device.
int chrdev_open(unsigned int major);
int chrdev_release(unsigned int major);
int chrdev_ioctl(unsigned int major, unsigned int cmd, unsigned long arg);
long chrdev_read(unsigned int major, char *buffer, size_t size);
long chrdev_write(unsigned int major, const char *buffer, size_t size);
bool chrdev_registered(unsigned int major, std::string *name = nullptr);
// Reads /proc/<name> as a reader of the file would. False without the entry.
bool proc_read(const std::string &name, std::string *text);
bool proc_registered(const std::string &name);

// Memory accounting: blocks currently held (kmalloc, vmalloc, DMA-coherent, socket buffers).
size_t blocks_in_use();
// Failure injection: the next `count` allocations of the kind fail after `skip` succeed.
enum class Alloc { kKmalloc, kVmalloc, kDma, kIrq, kChrdev };
void fail_next(Alloc kind, int skip = 0, int count = 1);
void clear_failures();

// DMA view for device models: the host pointer of [bus, bus + size) when it lies inside one
// DMA-visible block, else null.
unsigned char *bus_to_virt(dma_addr_t bus, size_t size);

// Interrupt controller.
void raise_irq(unsigned int irq);
bool irq_requested(unsigned int irq, std::string *name = nullptr);

// Memory-mapped device models.
class MmioDevice {
 public:
  virtual ~MmioDevice() = default;
  virtual uint32_t read(uint32_t offset) = 0;
  virtual void write(uint32_t offset, uint32_t value) = 0;
};
void map_device(uint32_t base, uint32_t size, MmioDevice *device);
void unmap_device(uint32_t base);

// Clock seam: a virtual clock (tests, default) or the host's clocks.
void clock_use_real(bool real);
void clock_set(uint32_t seconds, uint32_t milliseconds = 0);
void clock_advance_ms(uint64_t milliseconds);

// The caller whose memory user copies reach (a process id; the current process by default). Set per
// thread, for the entry point that thread runs.
void set_user_process(int pid);
int user_process();

// Receive path: hands a received frame to the inspection hook, or delivers it when no hook is set.
int receive(sk_buff *skb);
// What became of each frame: delivered to the stack (verdict 0 or uninspected) or dropped.
enum class Fate { kDelivered, kDropped };
using DeliverySink = std::function<void(const sk_buff &skb, Fate fate, bool inspected)>;
void set_delivery_sink(DeliverySink sink);

// Builds a received frame: `payload` is what follows the link header.
sk_buff *make_frame(const std::string &device, uint16_t ethertype, const void *payload, size_t size);

}  // namespace kern
