#include "vorn_engine.h"

#include <zlib.h>

#include "vorn_classifier.h"
#include "vorn_detectors.h"
#include "vorn_log.h"
#include "vorn_verdict.h"

namespace vorn {

namespace {

enum : uint32_t {
  kRegDescStart = 0x00,
  kRegFetchEnable = 0x04,
  kRegStateBase = 0x08,
  kRegRuleBase = 0x0c,
  kRegPatternBase = 0x10,
  kRegMatchedBase = 0x14,
  kRegCst0 = 0x18,
  kRegDescPtr = 0x38,
  kRegStatus = 0x3c,
  kRegZeroState = 0x1000,
  kRegHeaderRules = 0x2000,
};
constexpr uint32_t kStatusIdle = 0x100;
constexpr uint32_t kResetBit = 0x80;
constexpr uint32_t kResetIdlePolls = 0xffffff;
constexpr uint32_t kInitIdlePolls = 100;

uint32_t reg_read(uint32_t offset) {
  return readl(kQxRegisterBase + offset);
}
void reg_write(uint32_t offset, uint32_t value) {
  writel(value, kQxRegisterBase + offset);
}

bool irqs_registered = false;

void init_descriptor_ring() {
  module().desc_write_index = 0;
  module().desc_read_index = 0;
  module().num_of_total_desc = kDescriptorCount;
  for (uint32_t i = 0; i < module().num_of_total_desc; ++i) {
    unsigned char *d = descriptor_at(i);
    std::memset(d, 0, kDescriptorSize);
    d[kDescDone] = kDescDoneBit;
  }
  descriptor_at(module().num_of_total_desc - 1)[kDescControl] = kDescEndOfRing;
}

void place_tables() {
  module().pVornRuleSetInfo = module().QuorixMem + kRuleSetOffset;
  module().pVornKernLogQueue = reinterpret_cast<VornKernLogQueue *>(module().QuorixMem + kKernLogQueueOffset);
  module().qx_desc_table = module().QuorixMem + kDescriptorChainOffset;
  module().tables.rule_records = module().QuorixMem + kRuleTableOffset;
  module().tables.header_items = module().QuorixMem + kHeaderItemsOffset;
  module().tables.app_table = reinterpret_cast<VornAppEntry *>(module().QuorixMem + kAppTableOffset);
  module().tables.conditions = module().QuorixMem + kConditionsOffset;
  module().tables.threshold_table =
      reinterpret_cast<VornRuleEntry *>(module().QuorixMem + kThresholdTableOffset);
  // The pointer fields carry 32-bit bus addresses; the module itself uses the places above.
  store32(module().pVornRuleSetInfo + kRuleSetItemsPointer, module().quorix_mem_bus + kHeaderItemsOffset);
  store32(module().pVornRuleSetInfo + kRuleSetAppTablePointer, module().quorix_mem_bus + kAppTableOffset);
  store32(module().pVornRuleSetInfo + kRuleSetConditionsPointer, module().quorix_mem_bus + kConditionsOffset);
  store32(module().pVornRuleSetInfo + kRuleSetThresholdPointer,
          module().quorix_mem_bus + kThresholdTableOffset);
  store32(module().pVornRuleSetInfo + kRuleSetPortScanHashPointer,
          module().quorix_mem_bus + kPortScanHashOffset);
  store32(module().pVornRuleSetInfo + kRuleSetPortScanRecordsPointer,
          module().quorix_mem_bus + kPortScanRecordsOffset);
}

// A failed request leaves the driver without its completion interrupt, so every queued packet would
// be held until the next load; initialisation fails instead.
int register_interrupts() {
  const struct {
    unsigned irq;
    const char *name;
  } lines[] = {{kIrqSearchFinish, "VornSFinish"}, {kIrqQueueEmpty, "VornQEmpty"}};
  qx_isr_release();
  for (const auto &line : lines) {
    disable_irq(line.irq);
    free_irq(line.irq, nullptr);
    soc_set_interrupt_trigger(line.irq, 1, 0);
    int rc = request_irq(line.irq, Vorn_SearchFinishISR, 0, line.name, nullptr);
    if (rc != 0) {
      printk("<3>qxIsrRegistration(): Can't request irq %d\n", line.irq);
      irqs_registered = true;  // so that the lines requested so far are released
      qx_isr_release();
      return rc;
    }
  }
  irqs_registered = true;
  return 0;
}

void finish_held_packet(uint32_t index, unsigned char *descriptor) {
  consistent_sync(descriptor + kDescResultCount, 28, DMA_FROM_DEVICE);
  sk_buff *skb = module().MappingTable_IpsDescriptorToSkb[index];
  if (!skb) {
    printk("0==MappingTable_IpsDescriptorToSkb[ProcessingIndex]\n");
  } else {
    uint8_t verdict = 0;
    kkSignatureMatch_NonBlockingBackend(skb, module().held_packets[index], descriptor, &verdict);
    if (descriptor[kDescMark] == kPrivateCopyMark) {
      descriptor[kDescMark] = 0;
      kfree_skb(skb);
    } else {
      IPS_CallBack(skb, verdict);
    }
  }
  module().MappingTable_IpsDescriptorToSkb[index] = nullptr;
}

void release_earlier_descriptors(uint32_t index) {
  uint32_t previous = index;
  for (uint32_t walked = 0; walked + 1 < module().num_of_total_desc; ++walked) {
    previous = previous == 0 ? module().num_of_total_desc - 1 : previous - 1;
    unsigned char *d = descriptor_at(previous);
    if (d[kDescControl] & kDescLast) break;
    d[kDescDone] |= kDescDoneBit;
    if (d[kDescControl] & kDescFirst) break;
  }
}

void *zlib_alloc(void *, unsigned items, unsigned size) {
  return vmalloc(size_t{items} * size);
}
void zlib_free(void *, void *p) {
  vfree(p);
}

}  // namespace

uint32_t readQXStatusRegister() {
  return reg_read(kRegStatus) & 0x1ff;
}
void write_qx_status_register(uint32_t value) {
  reg_write(kRegStatus, value & 0xff);
}
uint32_t read_qx_dma_fetch_enable_register() {
  return reg_read(kRegFetchEnable) & 1;
}
void write_qx_dma_fetch_enable_register(uint32_t value) {
  reg_write(kRegFetchEnable, value & 1);
}
uint32_t read_qx_desc_start_addr_register() {
  return reg_read(kRegDescStart);
}
void write_qx_desc_start_addr_register(dma_addr_t bus) {
  reg_write(kRegDescStart, bus + kQxBusOffset);
}
uint32_t read_qx_desc_ptr_register() {
  return reg_read(kRegDescPtr);
}
uint32_t read_qx_state_table_base_register() {
  return reg_read(kRegStateBase);
}
void write_qx_state_table_base_register(dma_addr_t bus) {
  reg_write(kRegStateBase, bus + kQxBusOffset);
}
uint32_t read_qx_rule_table_base_register() {
  return reg_read(kRegRuleBase);
}
void write_qx_rule_table_base_register(dma_addr_t bus) {
  reg_write(kRegRuleBase, bus + kQxBusOffset);
}
uint32_t read_qx_pattern_table_base_register() {
  return reg_read(kRegPatternBase);
}
void write_qx_pattern_table_base_register(dma_addr_t bus) {
  reg_write(kRegPatternBase, bus + kQxBusOffset);
}
void write_qx_matched_state_queue_base_register(dma_addr_t bus) {
  reg_write(kRegMatchedBase, bus + kQxBusOffset);
}
void write_qx_cst_register(unsigned index, uint32_t value) {
  reg_write(kRegCst0 + 4 * (index & 7), value);
}
void write_qx_zero_state_table_register(unsigned index, uint32_t value) {
  reg_write(kRegZeroState + 4 * (index & 127), value);
}

int write_qx_hdr_rule_table_register(const unsigned char *rules, uint32_t first, uint32_t last) {
  if (first >= kMaxHeaderRules || last >= kMaxHeaderRules || last < first) return kQxIndexError;
  for (uint32_t rule = first; rule <= last; ++rule)
    for (uint32_t word = 0; word < 3; ++word)
      reg_write(kRegHeaderRules + rule * 12 + word * 4, load32(rules + (rule - first) * 12 + word * 4));
  return 0;
}

bool qx_stop_engine() {
  write_qx_dma_fetch_enable_register(0);
  for (uint32_t i = 0; i < kInitIdlePolls; ++i)
    if (readQXStatusRegister() & kStatusIdle) return true;
  return false;
}

int qxDrvReset() {
  bool idle = false;
  for (uint32_t i = 0; i < kResetIdlePolls && !idle; ++i) idle = (readQXStatusRegister() & kStatusIdle) != 0;
  if (!idle) {
    write_qx_dma_fetch_enable_register(0);
    printk("force IDP Engine to reset\n");
  }
  module().DriverState = kStateModuleInited;
  uint32_t control = readl(kSystemControlRegister);
  writel(control | kResetBit, kSystemControlRegister);
  writel(control & ~kResetBit, kSystemControlRegister);
  writel(control | kResetBit, kSystemControlRegister);
  return 0;
}

int qxDrvInit() {
  if (module().DriverState != kStateModuleInited) {
    printk("%s:State Error,state=%d\n", "qxDrvInit", module().DriverState);
    return kQxStateError;
  }
  write_qx_dma_fetch_enable_register(0);
  for (uint32_t i = 0; i < kResetIdlePolls && read_qx_dma_fetch_enable_register() != 0; ++i) {}
  bool idle = false;
  for (uint32_t i = 0; i < kInitIdlePolls && !idle; ++i) idle = (readQXStatusRegister() & kStatusIdle) != 0;
  if (!idle) printk("%s():Quorix is still Busy....\n", "qxDrvInit");

  write_qx_status_register(0);
  place_tables();
  printk("The Total Used Table Memory Size = 0x%X = %dK\n", kUsedTableMemory, kUsedTableMemory / 1024);

  int rc = register_interrupts();
  if (rc != 0) return rc;

  unsigned char *memory = module().QuorixMem;
  initializePmaMem(memory + kPatternTableOffset, memory + kRuleTableOffset, memory + kStateTableOffset,
                   memory + kMatchedStateQueueOffset, pma_scratch_block());
  init_descriptor_ring();

  consistent_sync(module().qx_desc_table, kDescriptorCount * kDescriptorSize, DMA_TO_DEVICE);
  write_qx_desc_start_addr_register(module().quorix_mem_bus + kDescriptorChainOffset);
  write_qx_state_table_base_register(module().quorix_mem_bus + kStateTableOffset);
  write_qx_rule_table_base_register(module().quorix_mem_bus + kRuleTableOffset);
  write_qx_pattern_table_base_register(module().quorix_mem_bus + kPatternTableOffset);
  write_qx_matched_state_queue_base_register(module().quorix_mem_bus + kMatchedStateQueueOffset);
  module().DriverState = kStateQxDrvInited;
  return 0;
}

void qx_isr_release() {
  if (!irqs_registered) return;
  disable_irq(kIrqSearchFinish);
  disable_irq(kIrqQueueEmpty);
  free_irq(kIrqSearchFinish, nullptr);
  free_irq(kIrqQueueEmpty, nullptr);
  irqs_registered = false;
}

int qxInsertHdrRule(const unsigned char *rules, uint32_t first, uint32_t last) {
  if (module().DriverState != kStateQxDrvInited) {
    printk("%s:State Error,state=%d\n", "qxInsertHdrRule", module().DriverState);
    return kQxStateError;
  }
  return write_qx_hdr_rule_table_register(rules, first, last);
}

int qxInsertionDescComplete() {
  if (module().DriverState != kStateOk) return kQxStateError;
  unsigned long flags;
  local_irq_save(flags);
  if (module().desc_write_index != module().desc_read_index) write_qx_dma_fetch_enable_register(1);
  local_irq_restore(flags);
  return 0;
}

void qx_drop_held_packets() {
  for (auto &held : module().MappingTable_IpsDescriptorToSkb) {
    if (held) kfree_skb(held);
    held = nullptr;
  }
}

int QuorixRegisterFile_Setting(unsigned char *memory) {
  qx_drop_held_packets();
  for (unsigned i = 0; i < 128; ++i)
    write_qx_zero_state_table_register(i, load32(memory + kZeroStateTableOffset + 4 * i));
  for (unsigned i = 0; i < 8; ++i) write_qx_cst_register(i, load32(memory + kCharsetTableOffset + 4 * i));
  uint32_t rules = load32(memory + kHeaderRuleCountOffset);
  int rc = rules != 0 ? qxInsertHdrRule(memory + kHeaderRulesOffset, 0, rules - 1) : 0;
  // The detectors' tables lie in (or follow) the memory the image has just overwritten.
  DdosInit();
  printk("Enable DDOS Detection!!\n");
  PortScanInit();
  printk("Enable PortScan Detection!!\n");
  IPSweepInit();
  printk("Enable IP Sweep Detection!!\n");
  return rc;
}

void Vorn_SearchFinishISR(int, void *, pt_regs *) {
  unsigned long flags;
  local_irq_save(flags);
  module().isIn_VornSearchFinishISR = 1;
  uint32_t index = module().desc_read_index;
  while (module().qx_desc_table && index != module().desc_write_index) {
    unsigned char *d = descriptor_at(index);
    if (!(d[kDescControl] & kDescLast)) {
      index = (index + 1) % module().num_of_total_desc;
      continue;
    }
    if (!descriptor_done(d)) break;
    finish_held_packet(index, d);
    if (!(d[kDescControl] & kDescFirst)) release_earlier_descriptors(index);
    index = (index + 1) % module().num_of_total_desc;
    module().desc_read_index = index;
  }
  module().isIn_VornSearchFinishISR = 0;
  local_irq_restore(flags);
}

int uncompress(unsigned char *dest, uint32_t *dest_len, const unsigned char *source, uint32_t source_len) {
  z_stream stream{};
  stream.zalloc = zlib_alloc;
  stream.zfree = zlib_free;
  int rc = inflateInit(&stream);
  if (rc != Z_OK) return rc;
  rc = inflateReset(&stream);
  if (rc != Z_OK) {
    printk("zlib_inflateReset error %d\n", rc);
    inflateEnd(&stream);
    stream = z_stream{};
    stream.zalloc = zlib_alloc;
    stream.zfree = zlib_free;
    rc = inflateInit(&stream);
    if (rc != Z_OK) return rc;
  }
  stream.next_in = const_cast<unsigned char *>(source);
  stream.avail_in = source_len;
  stream.next_out = dest;
  stream.avail_out = *dest_len;
  rc = inflate(&stream, Z_FINISH);
  if (rc == Z_STREAM_END) {
    *dest_len = static_cast<uint32_t>(stream.total_out);
    rc = Z_OK;
  } else if (rc == Z_NEED_DICT || (rc == Z_BUF_ERROR && stream.avail_in == 0)) {
    rc = Z_DATA_ERROR;
  } else if (rc == Z_OK) {
    rc = Z_BUF_ERROR;
  }
  inflateEnd(&stream);
  return rc;
}

}  // namespace vorn
