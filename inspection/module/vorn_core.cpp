// Module start and stop, the /dev/vorn control device with its ioctls, and the /proc report.
#include <cerrno>

#include "vorn_engine.h"
#include "vorn_module.h"
#include "vorn_log.h"
#include "vorn_pipeline.h"
#include "vorn_tracker.h"

namespace vorn {

namespace {

ModuleState state;

constexpr int kRefused = -25;
constexpr int kBadAddress = -14;
constexpr int kBadRequest = -22;

// The record of the running ioctl; the largest is the log table.
alignas(8) unsigned char record_buffer[sizeof(ParamtVornLogTable)];

int Quorix_open(inode *, file *) {
  return 0;
}
int Quorix_release(inode *, file *) {
  return 0;
}
long Quorix_read(file *, char *, size_t, long *) {
  return kBadRequest;
}
long Quorix_write(file *, const char *, size_t, long *) {
  return kBadRequest;
}

const file_operations Quorix_fops = {Quorix_open, Quorix_release, Quorix_read, Quorix_write, Quorix_ioctl};

proc_dir_entry *proc_entry = nullptr;

void free_engine_memory() {
  if (module().QuorixMem) consistent_free(module().QuorixMem, QX_MEM_SIZE, module().quorix_mem_bus);
  module().QuorixMem = nullptr;
  module().quorix_mem_bus = 0;
  module().pVornRuleSetInfo = nullptr;
  module().pVornKernLogQueue = nullptr;
  module().qx_desc_table = nullptr;
  module().tables = EngineTables{};
}

void free_connection_table() {
  if (module().pTcpConnectionTable)
    consistent_free(module().pTcpConnectionTable, kConnectionTableSize, module().tcp_connection_table_bus);
  module().pTcpConnectionTable = nullptr;
  module().tcp_connection_table_bus = 0;
}

// ---- record copies ------------------------------------------------------------------------------
template <typename Record>
Record *record() {
  return reinterpret_cast<Record *>(record_buffer);
}

bool copy_record_in(unsigned long arg, size_t size) {
  if (copy_from_user(record_buffer, arg, size) != 0) {
    std::memset(record_buffer, 0, sizeof record_buffer);
    return false;
  }
  return true;
}

int copy_record_out(unsigned long arg, size_t size) {
  return copy_to_user(arg, record_buffer, size) == 0 ? 0 : kRefused;
}

uint32_t status_word() {
  return module().DriverState == kStateOk ? 0 : 0x1000000u + module().DriverState;
}

// ---- commands -----------------------------------------------------------------------------------
int get_status(unsigned long arg) {
  auto *status = record<ParamtVornStatus>();
  if (module().pVornRuleSetInfo && module().DriverState == kStateOk) {
    *status = {ips_enable_word(), 0};
  } else {
    *status = {0, status_word()};
  }
  return copy_record_out(arg, sizeof(ParamtVornStatus));
}

int set_status(unsigned long arg) {
  if (!module().pVornRuleSetInfo) return kRefused;
  if (!copy_record_in(arg, sizeof(ParamtVornStatus))) return kRefused;
  auto *status = record<ParamtVornStatus>();
  if (module().DriverState == kStateOk) {
    set_ips_enable_word(status->value);
    status->status = 0;
  } else {
    status->value = ips_enable_word();
    status->status = status_word();
  }
  return copy_record_out(arg, sizeof(ParamtVornStatus));
}

// Waits for the packet hook and the engine interrupt handler to leave; each message once per wait.
void wait_for_inspection_to_leave() {
  bool told = false;
  while (module().VornLock_PacketInspect == 1) {
    if (!told) printk("Vorn is locked\n");
    told = true;
    cpu_relax();
  }
  told = false;
  while (module().isIn_VornSearchFinishISR == 1) {
    if (!told) printk("Vorn is locked by ISR\n");
    told = true;
    cpu_relax();
  }
  printk("Vorn is unlocked\n");
}

// A policy image is untrusted: its header-only rule count must fit the engine's rule window.
bool image_is_sane() {
  uint32_t rules = load32(module().QuorixMem + kHeaderRuleCountOffset);
  if (rules > kMaxHeaderRules) {
    printk("Header-only rule number(%u) is ERROR\n", rules);
    return false;
  }
  return true;
}

// Unread events survive a policy load: the log ring sits inside the engine memory the image fills.
class LogRingKeeper {
 public:
  LogRingKeeper() : saved_(static_cast<VornKernLogQueue *>(vmalloc(sizeof(VornKernLogQueue)))) {
    if (saved_) std::memcpy(saved_, module().pVornKernLogQueue, sizeof *saved_);
  }
  ~LogRingKeeper() { vfree(saved_); }
  LogRingKeeper(const LogRingKeeper &) = delete;
  LogRingKeeper &operator=(const LogRingKeeper &) = delete;
  void restore(VornKernLogQueue *ring) const {
    if (saved_) {
      std::memcpy(ring, saved_, sizeof *ring);
    } else {
      ring->write_index = ring->read_index = 0;
    }
    ring->write_index &= kKernLogMask;
    ring->read_index &= kKernLogMask;
  }

 private:
  VornKernLogQueue *saved_;
};

class StreamBuffer {
 public:
  explicit StreamBuffer(uint32_t size) : data_(static_cast<unsigned char *>(vmalloc(size))) {}
  ~StreamBuffer() { vfree(data_); }
  StreamBuffer(const StreamBuffer &) = delete;
  StreamBuffer &operator=(const StreamBuffer &) = delete;
  unsigned char *data() const { return data_; }

 private:
  unsigned char *data_;
};

// Reads header and stream from the caller, then replaces the engine image. False on any failure.
bool download_image(unsigned long header_address) {
  pParamtVornPolicyTableHeader header{};
  if (copy_from_user(&header, header_address, sizeof header) != 0) return false;
  if (header.TableID != POLICY_TABLE_ID_KERNEL_MEMORY_BANK_01) {
    printk("TableID(0x%08X)!=POLICY_TABLE_ID_KERNEL_MEMORY_BANK_01\n", header.TableID);
    return false;
  }
  if (header.TableOriginalSize > QX_MEM_SIZE) {
    printk("pParamtVornPolicyTableHeader->TableOriginalSize>QX_MEM_SIZE\n");
    return false;
  }
  if (header.TableZippedSize > QX_MEM_SIZE) {
    printk("pParamtVornPolicyTableHeader->TableZippedSize>QX_MEM_SIZE\n");
    return false;
  }
  StreamBuffer stream(header.TableZippedSize ? header.TableZippedSize : 1);
  if (!stream.data()) return false;
  if (copy_from_user(stream.data(), header_address + sizeof header, header.TableZippedSize) != 0)
    return false;

  // Nothing may read or write the engine memory while the image replaces it.
  qx_stop_engine();
  qx_drop_held_packets();
  LogRingKeeper log_ring;
  uint32_t length = QX_MEM_SIZE;
  int rc = uncompress(module().QuorixMem, &length, stream.data(), header.TableZippedSize);
  if (rc == 0) std::memset(module().QuorixMem + length, 0, QX_MEM_SIZE - length);
  bool sane = rc == 0 && image_is_sane();
  if (rc != 0) printk("unZip  Error(%d)", rc);
  log_ring.restore(module().pVornKernLogQueue);
  if (!sane) {
    qxDrvReset();  // lays the descriptor ring out again over what the failed image left
    if (qxDrvInit() == 0) module().DriverState = kStateModuleInited;
    return false;
  }
  qxDrvReset();
  printk("Reset IDP Engine!!!\n");
  if (qxDrvInit() != 0) return false;
  return QuorixRegisterFile_Setting(module().QuorixMem) == 0;
}

int load_rule_tables(unsigned long arg) {
  if (!module().QuorixMem) {
    printk("QuorixMem==NULL\n");
    return kRefused;
  }
  if (!module().pVornRuleSetInfo) {
    printk("NULL==pVornRuleSetInfo\n");
    return kRefused;
  }
  uint32_t saved_enable = ips_enable_word();
  set_ips_enable_word(0);
  wait_for_inspection_to_leave();
  module().DriverState = kStateModuleInited;
  bool loaded = copy_record_in(arg, sizeof(ParamtVornPolicyTable)) &&
                record<ParamtVornPolicyTable>()->header_address != 0 &&
                download_image(record<ParamtVornPolicyTable>()->header_address);
  if (!loaded) {
    // A partial image may have written its own enable word; inspection stays off until a good load.
    set_ips_enable_word(0);
    module().DriverState = kStateModuleInited;
    return kRefused;
  }
  set_ips_enable_word(saved_enable);
  module().DriverState = kStateOk;
  return 0;
}

int get_logs(unsigned long arg) {
  if (!module().pVornKernLogQueue) return kRefused;
  if (!copy_record_in(arg, sizeof(ParamtVornLogTable))) return kRefused;
  auto *table = record<ParamtVornLogTable>();
  if (table->count == 0) return 0;
  if (table->count >= kCallerLogEntries) return kRefused;
  if (table->read_index >= kCallerLogEntries || table->write_index >= kCallerLogEntries) return kRefused;
  unsigned long flags;
  local_irq_save(flags);
  uint32_t copied = 0;
  VornKernLogQueue *ring = module().pVornKernLogQueue;
  while (copied < table->count) {
    uint32_t read = ring->read_index & kKernLogMask;
    if (read == (ring->write_index & kKernLogMask)) break;
    if (((table->write_index + 1) & kCallerLogMask) == table->read_index) break;
    table->ring[table->write_index] = ring->records[read];
    ring->read_index = (read + 1) & kKernLogMask;
    table->write_index = (table->write_index + 1) & kCallerLogMask;
    ++copied;
  }
  table->count = copied;
  local_irq_restore(flags);
  return copy_record_out(arg, sizeof(ParamtVornLogTable));
}

int get_logs_len(unsigned long arg) {
  if (!module().pVornKernLogQueue) return kRefused;
  unsigned long flags;
  local_irq_save(flags);
  record<ParamtVornNeededLogsNum>()->count =
      (module().pVornKernLogQueue->write_index - module().pVornKernLogQueue->read_index) & kKernLogMask;
  local_irq_restore(flags);
  return copy_record_out(arg, sizeof(ParamtVornNeededLogsNum));
}

int get_app_action(unsigned long arg, uint32_t first, uint32_t last) {
  if (!module().pVornRuleSetInfo) return kRefused;
  if (!copy_record_in(arg, sizeof(IM_P2P_AD_Info))) return kRefused;
  auto *info = record<IM_P2P_AD_Info>();
  for (uint32_t id = first; id <= last; ++id) {
    const VornAppEntry &entry = module().tables.app_table[id];
    if (entry.index != info->index) continue;
    if (entry.valid != 1) return kRefused;
    info->action = entry.action;
    info->AppID = entry.AppID;
    std::memcpy(info->name, entry.name, sizeof entry.name);
    return copy_record_out(arg, sizeof(IM_P2P_AD_Info));
  }
  return kRefused;
}

int set_app_action(unsigned long arg) {
  if (!module().pVornRuleSetInfo) return kRefused;
  if (!copy_record_in(arg, sizeof(IM_P2P_AD_Status))) return kRefused;
  auto *status = record<IM_P2P_AD_Status>();
  if (status->AppID > 255) {
    printk("AppID[%d] is Invalid\n", status->AppID);
    return kRefused;
  }
  VornAppEntry &entry = module().tables.app_table[status->AppID];
  if (entry.valid != 1) {
    printk("IM_P2P_AD_Rule_Table[%d] is Invalid\n", status->AppID);
    return kRefused;
  }
  entry.action = status->action;
  return copy_record_out(arg, sizeof(IM_P2P_AD_Status));
}

int get_threshold_rule(unsigned long arg, uint32_t first, uint32_t last) {
  if (!module().pVornRuleSetInfo) return kRefused;
  if (!copy_record_in(arg, sizeof(KaAppInfoTH))) return kRefused;
  auto *info = record<KaAppInfoTH>();
  for (uint32_t id = first; id <= last; ++id) {
    const VornRuleEntry &entry = module().tables.threshold_table[id];
    if (entry.index != info->index) continue;
    if (entry.valid != 1) return kRefused;
    info->action = entry.action;
    info->rule_id = entry.rule_id;
    info->threshold = entry.threshold;
    std::memcpy(info->name, entry.name, sizeof entry.name);
    return copy_record_out(arg, sizeof(KaAppInfoTH));
  }
  return kRefused;
}

bool threshold_in_bounds(uint32_t rule_id, uint32_t threshold) {
  if (rule_id >= 1 && rule_id <= 4) return threshold >= 1 && threshold <= 3040;
  if (rule_id == 5) return threshold >= 1 && threshold <= 2048;
  if (rule_id >= 17 && rule_id <= 20) return threshold >= 1 && threshold <= 60000;
  return false;
}

int set_threshold_rule(unsigned long arg) {
  if (!module().pVornRuleSetInfo) return kRefused;
  if (!copy_record_in(arg, sizeof(KaAppStatTH))) return kRefused;
  auto *stat = record<KaAppStatTH>();
  if (stat->rule_id > 31) {
    printk("AppID[%d] is Invalid\n", stat->rule_id);
    return kRefused;
  }
  if (!threshold_in_bounds(stat->rule_id, stat->threshold)) {
    module().isThresholdError = 1;
    printk("ScanDDOS Rule(%d)'s Threshold(%d) is ERROR\n", stat->rule_id, static_cast<int>(stat->threshold));
    return kRefused;
  }
  VornRuleEntry &entry = module().tables.threshold_table[stat->rule_id];
  if (entry.valid != 1) {
    printk("PortScan_and_DdosRuleTable[%d] is Invalid\n", stat->rule_id);
    return kRefused;
  }
  entry.action = stat->action;
  entry.threshold = static_cast<uint16_t>(stat->threshold);
  return copy_record_out(arg, sizeof(KaAppStatTH));
}

bool is_quiet_on_error(unsigned int cmd) {
  return cmd == VORN_IOC_GET_P2P_ACTION || cmd == VORN_IOC_GET_IM_ACTION ||
         cmd == VORN_IOC_GET_ANOMALY_ACTION || cmd == VORN_IOC_GET_RULE_PORTSCAN ||
         cmd == VORN_IOC_GET_RULE_DDOS;
}

int run_command(unsigned int cmd, unsigned long arg, bool *known) {
  *known = true;
  switch (cmd) {
    case VORN_IOC_GET_STATUS:
      return get_status(arg);
    case VORN_IOC_SET_STATUS:
      return set_status(arg);
    case VORN_IOC_LOAD_RULE_TABLES:
      return load_rule_tables(arg);
    case VORN_IOC_GET_LOGS:
      return get_logs(arg);
    case VORN_IOC_GET_LOGS_LEN:
      return get_logs_len(arg);
    case VORN_IOC_GET_IM_ACTION:
      return get_app_action(arg, 1, 100);
    case VORN_IOC_GET_P2P_ACTION:
      return get_app_action(arg, 101, 200);
    case VORN_IOC_GET_ANOMALY_ACTION:
      return get_app_action(arg, 201, 254);
    case VORN_IOC_SET_IM_ACTION:
    case VORN_IOC_SET_P2P_ACTION:
    case VORN_IOC_SET_ANOMALY_ACTION:
      return set_app_action(arg);
    case VORN_IOC_GET_RULE_PORTSCAN:
      return get_threshold_rule(arg, 1, 16);
    case VORN_IOC_GET_RULE_DDOS:
      return get_threshold_rule(arg, 17, 31);
    case VORN_IOC_SET_RULE_PORTSCAN:
    case VORN_IOC_SET_RULE_DDOS:
      return set_threshold_rule(arg);
    default:
      *known = false;
      return kRefused;
  }
}

}  // namespace

const char *driver_state_text(uint8_t state) {
  switch (state) {
    case kStateClose:
      return "CLOSE";
    case kStateModuleInited:
      return "MODULE_INITED";
    case kStateQxDrvInited:
      return "QXDRV_INITED";
    case kStateRuleInserting:
      return "RULE_INSERTING";
    case kStateOk:
      return "OK";
    case kStateQueueFull:
      return "QUEUE_FULL";
    default:
      return "ERROR";
  }
}

ModuleState &module() {
  return state;
}

int Quorix_init() {
  printk("<6>Vorn Linux Driver:Version=%s(%s:%s)\n", kVersion, __DATE__, __TIME__);
  int rc = register_chrdev(kVornMajor, "vorn", &Quorix_fops);
  if (rc < 0) {
    printk("Vorn_init():register_chrdev() Error in %s:%d\n", "main", __LINE__);
    return rc;
  }
  module().DriverState = kStateModuleInited;
  module().QuorixMem =
      static_cast<unsigned char *>(pci_alloc_consistent(nullptr, QX_MEM_SIZE, &module().quorix_mem_bus));
  if (!module().QuorixMem) {
    printk("allocate QuorixMem memory(%d) failed\n", static_cast<int>(QX_MEM_SIZE));
    unregister_chrdev(kVornMajor, "vorn");
    module().DriverState = kStateClose;
    return -ENOMEM;
  }
  std::memset(module().QuorixMem, 0, QX_MEM_SIZE);
  module().payload_rate_samples = PayloadRate{};
  module().pTcpConnectionTable = static_cast<unsigned char *>(
      pci_alloc_consistent(nullptr, kConnectionTableSize, &module().tcp_connection_table_bus));
  if (!module().pTcpConnectionTable) {
    printk("allocate TcpConnectionTable memory(%d) failed\n", static_cast<int>(kConnectionTableSize));
    free_engine_memory();
    unregister_chrdev(kVornMajor, "vorn");
    module().DriverState = kStateClose;
    return -ENOMEM;
  }
  DoBKTcpConntrackInit();
  printk("Enable Tcp Connection Tracking\n");

  proc_entry = create_proc_entry(kProcName, 0, nullptr);
  if (proc_entry) {
    proc_entry->read_proc = Quorix_read_proc;
    proc_entry->data = nullptr;
  }

  qxDrvReset();
  for (auto &held : module().MappingTable_IpsDescriptorToSkb) held = nullptr;
  module().isDriversLocked = 0;
  rc = qxDrvInit();
  if (rc != 0) {
    if (proc_entry) remove_proc_entry(kProcName, nullptr);
    proc_entry = nullptr;
    DoBKTcpConntrackCleanup();
    free_engine_memory();
    free_connection_table();
    unregister_chrdev(kVornMajor, "vorn");
    module().DriverState = kStateClose;
    return rc < 0 ? rc : -EBUSY;
  }
  reset_traffic_messages();
  PacketInspect = kkPacketInspect;
  return 0;
}

void Quorix_cleanup() {
  printk("Vorn Linux Driver:cleanup_module()\n");
  PacketInspect = nullptr;
  qx_isr_release();
  // The engine must not fetch from, nor packets stay held in, memory about to be freed.
  if (module().QuorixMem) {
    qx_stop_engine();
    qx_drop_held_packets();
  }
  DoBKTcpConntrackCleanup();
  free_engine_memory();
  free_connection_table();
  if (proc_entry) remove_proc_entry(kProcName, nullptr);
  proc_entry = nullptr;
  unregister_chrdev(kVornMajor, "vorn");
  module().DriverState = kStateClose;
  printk("Vorn Linux Driver:cleanup_module(),OK\n");
}

int Quorix_ioctl(inode *, file *, unsigned int cmd, unsigned long arg) {
  uint8_t expected = 0;
  if (!module().isDriversLocked.compare_exchange_strong(expected, 1)) {
    printk("Quorix_open(): is locked by other!!\n");
    return kRefused;
  }
  int result = 0;
  bool known = true;
  if (((cmd >> 8) & 0xff) != 0x83) {
    printk("Quorix_ioctl():_IOC_TYPE ERROR\n");
    result = kRefused;
  } else if ((cmd & 0xff) > 40) {
    printk("Quorix_ioctl():_IOC_NR ERROR\n");
    result = kRefused;
  } else if ((cmd >> 30) != 0 &&
             !access_ok((cmd >> 30) & 2 ? VERIFY_WRITE : VERIFY_READ, arg, (cmd >> 16) & 0x3fff)) {
    printk("Quorix_ioctl():Memory Access Error,cmd=0x%X,arg=0x%lX\n", cmd, arg);
    result = kBadAddress;
  } else {
    result = run_command(cmd, arg, &known);
    if (!known) printk("Quorix_ioctl():Unknown Command,cmd=0x%X,arg=0x%lX\n", cmd, arg);
    if (result != 0 && !is_quiet_on_error(cmd))
      printk("Quorix_ioctl():Error on cmd=0x%X,arg=0x%lX\n", cmd, arg);
  }
  if (module().isDriversLocked.exchange(0) == 0) {
    printk("Quorix_release(): It is NOT opened!!\n");
    return kRefused;
  }
  return result;
}

int Quorix_read_proc(char *page, char **, long, int count, int *, void *) {
  int length = 0;
  auto line = [&](const char *format, auto... values) {
    if (length < count)
      length += std::snprintf(page + length, static_cast<size_t>(count - length), format, values...);
    if (length > count) length = count;
  };
  uint32_t descriptor_pointer = read_qx_desc_ptr_register();
  uint32_t descriptor_start = read_qx_desc_start_addr_register();
  unsigned long now = jiffies_now();
  PayloadRate &rate = module().payload_rate_samples;
  long bogo = 0;
  if (now != rate.jiffies_sampled)
    bogo = static_cast<long>((rate.bytes_now - rate.bytes_sampled) / (now - rate.jiffies_sampled) * 800);
  rate.bytes_sampled = rate.bytes_now;
  rate.jiffies_sampled = now;

  line("Quorix Driver Version = %s, State=%s\n", kVersion, driver_state_text(module().DriverState));
  line("Quorix hardware status=0x%X\n", readQXStatusRegister());
  line("Current Desc Ptr=0x%X\n", descriptor_pointer);
  line("Desc Chain Base Address=0x%X\n", descriptor_start);
  line("State Table Base Address=0x%X\n", read_qx_state_table_base_register());
  line("Rule Table Base Address=0x%X\n", read_qx_rule_table_base_register());
  line("Pattern Table Base Address=0x%X\n", read_qx_pattern_table_base_register());
  line("Total Desc Num=%d\n", static_cast<int>(module().num_of_total_desc));
  line("Desc Write Index=%d\n", static_cast<int>(module().desc_write_index));
  line("Current Working Index=%d\n", static_cast<int>((descriptor_pointer - descriptor_start) / 64));
  line("Desc Read Index=%d\n", static_cast<int>(module().desc_read_index));
  line("Bogo bps=%d\n", static_cast<int>(bogo));
  line("# of Tcp Conn=%d,MLT_EST=%d,MLT_ABN=%d\n", static_cast<int>(module().Tcp_currentconn),
       static_cast<int>(module().MinLiveTime_in_EstState),
       static_cast<int>(module().MinLiveTime_in_AbnormalState));
  return length;
}

}  // namespace vorn
