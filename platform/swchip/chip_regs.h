// Register map of the six-port gigabit switch chip: the address of every register the switch software
// and the chip model use, and the fields in them. Shared by the chip layers of the switch API and the
// chip model, so that both speak of a register by the same name.
//
// A register is addressed by block (3 bits), subblock (4 bits) and register (8 bits). Port registers
// take the chip port as subblock; the other blocks' registers have fixed addresses.
#pragma once

#include <cstdint>

namespace chipreg {

struct Reg {
  uint32_t block;
  uint32_t subblock;
  uint32_t reg;
};

inline constexpr uint32_t kBlockPort = 1;      // subblock: chip port 0..15
inline constexpr uint32_t kBlockAnalyzer = 2;  // subblock 0
inline constexpr uint32_t kBlockMiim = 3;      // subblock: MIIM controller 0 or 1; 2 the memories
inline constexpr uint32_t kBlockCpuQueue = 4;  // CPU receive queues
inline constexpr uint32_t kBlockArbiter = 5;   // subblock 0
inline constexpr uint32_t kBlockPortHigh = 6;  // subblock: chip port 16..31 less 16
inline constexpr uint32_t kBlockSystem = 7;    // subblock 0

// ---- port registers (block 1, subblock chip port) ----

// MAC configuration: bits 0-2 MAC mode, 6-10 gap, 14 VLAN aware, 16 receive enable, 17 gigabit,
// 18 full duplex, 19-26 the pause MAC's last byte; bits 4, 5, 27 and 29 pulse a port reset; bit 28 is
// set with bit 16 while the port's queues are enabled.
inline constexpr uint32_t kPortConfig = 0x00;
inline constexpr uint32_t kPortVlanAware = 1u << 14;
inline constexpr uint32_t kPortRxEnable = 1u << 16;
inline constexpr unsigned kPortQueueEnableBit = 28;
inline constexpr uint32_t kPortGaps = 0x02;          // the two frame gaps
inline constexpr uint32_t kPortPause = 0x04;         // bit 16 obey pause frames
inline constexpr uint32_t kPortPauseMacHigh = 0x08;  // pause frame source MAC bytes 0-2
inline constexpr uint32_t kPortPauseMacLow = 0x0C;   // bytes 3-5
inline constexpr uint32_t kPortMaxLength = 0x10;     // bits 0-16
inline constexpr uint32_t kPortInterface = 0x19;     // bits 0-7 the interface code
inline constexpr uint32_t kPortEgressTag = 0x24;     // bits 4-15 untagged VID, 0 tag, 3 untag one
inline constexpr uint32_t kPortCounters = 0x50;      // eight counters from here on
inline constexpr uint32_t kPortStartup = 0x58;       // written once at start-up
inline constexpr uint32_t kPortStartupValue = 0x39B909B9;
inline constexpr uint32_t kPortDscpQueues = 0x60;     // eight 4-bit queues: default, then the slots
inline constexpr uint32_t kPortDscpSlotsLow = 0x61;   // DSCP of slots 0-3, a byte each
inline constexpr uint32_t kPortDscpSlotsHigh = 0x62;  // DSCP of slots 4-6
inline constexpr uint32_t kPortAcceptance = 0x6E;     // bit 1 tagged only, bit 2 untagged only
inline constexpr uint32_t kPortQosEnable = 0x6F;      // bits 16-17 default queue, bit 28 tag priority
inline constexpr uint32_t kPortTagQueues = 0x75;      // a 4-bit queue per tag priority
inline constexpr uint32_t kPortDscpEnable = 0x77;     // bit 21
inline constexpr uint32_t kPortVlanIngress = 0x79;    // bits 7 and 8 set while not VLAN aware
inline constexpr uint32_t kPortVid = 0x7A;            // bits 0-11 port VID, 12-13 QoS field
inline constexpr uint32_t kPortAggrHash = 0x7B;       // bits 0-1 of the aggregation hash
inline constexpr uint32_t kPortTxData = 0xC0;         // CPU transmit: one word of the frame
inline constexpr uint32_t kPortTxControl = 0xC4;
inline constexpr uint32_t kPortTxAbort = 1u << 1;
inline constexpr uint32_t kPortTxStatus = 0xC8;
inline constexpr uint32_t kPortTxBusy = 1u << 8;
inline constexpr uint32_t kPortFlowBuffers = 0xDE;   // flow-control buffer levels
inline constexpr uint32_t kPortFlowControl = 0xDF;   // bit 0 generate pause frames
inline constexpr uint32_t kPortQueueBuffers = 0xE0;  // four, one per queue

// ---- analyzer (block 2, subblock 0) ----

inline constexpr Reg kAnaRates{2, 0, 0x02};          // global rate limits
inline constexpr Reg kAnaControl{2, 0, 0x03};        // bit 29 set at start-up
inline constexpr Reg kAnaIpmcFlood{2, 0, 0x04};      // ports unknown IPv4 multicast floods to
inline constexpr Reg kAnaIngressFilter{2, 0, 0x05};  // a bit per chip port
inline constexpr Reg kAnaMacHigh{2, 0, 0x06};        // bits 16-27 VID, 0-15 MAC bytes 0-1
inline constexpr Reg kAnaMacLow{2, 0, 0x07};         // MAC bytes 2-5
inline constexpr Reg kAnaAgeArguments{2, 0, 0x09};   // bit 31 port given, 16-20 chip port; 15 VID given
inline constexpr Reg kAnaMacEvents{2, 0, 0x0A};      // write one to clear
inline constexpr Reg kAnaLearn{2, 0, 0x0D};          // a bit per chip port that learns
inline constexpr Reg kAnaFlood{2, 0, 0x10};          // ports unknown frames flood to
inline constexpr Reg kAnaAggrMode{2, 0, 0x20};       // bits 0-2 the hash selector
inline constexpr Reg kAnaCapture{2, 0, 0xA0};        // which frames go to the CPU
inline constexpr Reg kAnaMacCommand{2, 0, 0xB0};
inline constexpr Reg kAnaMacIndex{2, 0, 0xC0};
inline constexpr Reg kAnaVlanCommand{2, 0, 0xD0};
inline constexpr Reg kAnaVlanAddress{2, 0, 0xE0};
inline constexpr Reg kAnaMirrorMonitor{2, 0, 0xF0};  // bits 0-4 the monitor chip port

// Aggregation mask of aggregation code 1..16.
constexpr Reg ana_aggr_mask(uint32_t code) {
  return {kBlockAnalyzer, 0, 0x2F + code};
}
// Destination mask of PGID 0..63.
constexpr Reg ana_dest_mask(uint32_t pgid) {
  return {kBlockAnalyzer, 0, 0x40 + pgid};
}
// Source mask of a chip port; bit 26 copies its frames to the monitor port.
constexpr Reg ana_source_mask(uint32_t chip_port) {
  return {kBlockAnalyzer, 0, 0x80 + chip_port};
}
inline constexpr unsigned kAnaIngressMirrorBit = 26;

// MAC command register: the command in bits 0-2 (busy until the chip clears them), then the entry's
// PGID in bits 3-8 and its flags.
inline constexpr uint32_t kMacCmdLearn = 1;
inline constexpr uint32_t kMacCmdUnlearn = 2;
inline constexpr uint32_t kMacCmdAge = 3;
inline constexpr uint32_t kMacCmdClear = 5;
inline constexpr uint32_t kMacCmdRead = 6;
inline constexpr uint32_t kMacCmdBusy = 7;
inline constexpr unsigned kMacPgidShift = 3;
inline constexpr uint32_t kMacFlagLocked = 1u << 9;
inline constexpr uint32_t kMacFlagValid = 1u << 10;
inline constexpr uint32_t kMacFlagIpmc = 1u << 11;
inline constexpr uint32_t kMacFlagCpu = 1u << 14;
inline constexpr uint32_t kMacFlagBits = 0x7FF8;  // bits 3-14: PGID and flags
// MAC index register: bits 0-10 bucket, 11-12 slot, 13 a lookup.
inline constexpr uint32_t kMacIndexLookup = 1u << 13;
// Table events of the MAC events register.
inline constexpr uint32_t kEventLearnFailed = 1u << 15;
inline constexpr uint32_t kEventLearned = 1u << 16;
inline constexpr uint32_t kEventChanged = 1u << 17;
inline constexpr uint32_t kEventAgedOut = 1u << 20;
inline constexpr uint32_t kMacEventBits = kEventLearned | kEventChanged | kEventLearnFailed | kEventAgedOut;

// VLAN command register: the command in bits 0-1 (busy until cleared), the member mask in bits 2-8
// (chip ports 0-4 and 6), the entry's three flags in bits 28-30.
inline constexpr uint32_t kVlanCmdRead = 1;
inline constexpr uint32_t kVlanCmdWrite = 2;
inline constexpr uint32_t kVlanCmdClear = 3;
inline constexpr uint32_t kVlanCmdBusy = 3;
inline constexpr uint32_t kVlanMaskBits = 0x17C;

// ---- MIIM controllers (block 3, subblock controller) ----

inline constexpr uint32_t kMiimStatus = 0;   // bits 0-3 busy
inline constexpr uint32_t kMiimCommand = 1;  // bit 26 read, 21-25 PHY address, 16-20 register, 0-15 data
inline constexpr uint32_t kMiimData = 2;     // bit 16: no PHY answered
inline constexpr uint32_t kMiimBusy = 0xF;
inline constexpr uint32_t kMiimRead = 1u << 26;
inline constexpr uint32_t kMiimInvalid = 1u << 16;
inline constexpr Reg kMemoryInit{3, 2, 0};

// ---- CPU receive queues (block 4) ----

// Queue q (1 or 2): header and frame data in subblocks 2q-2 and 2q-1, word k of the data at word
// k + 2; its control register releases the head frame when written.
constexpr Reg cpu_queue_word(uint32_t queue, uint32_t word) {
  return {kBlockCpuQueue, 2 * queue - 2 + (word >> 8), word & 0xFF};
}
constexpr Reg cpu_queue_control(uint32_t queue) {
  return {kBlockCpuQueue, 2 * queue + 2, 0};
}
inline constexpr Reg kCpuQueueStartup{4, 7, 0xFF};

// ---- arbiter (block 5, subblock 0) ----

inline constexpr Reg kArbEmpty{5, 0, 12};    // a bit per chip port whose queues are empty
inline constexpr Reg kArbDiscard{5, 0, 14};  // a bit per chip port whose frames are discarded

// ---- system (block 7, subblock 0) ----

inline constexpr Reg kSysCpuInterface{7, 0, 0x00};
inline constexpr Reg kSysSerialInterface{7, 0, 0x01};
inline constexpr Reg kSysBusTiming{7, 0, 0x02};
inline constexpr Reg kSysSoftReset{7, 0, 0x14};  // 1 resets the chip, 2 starts it
inline constexpr Reg kSysChipId{7, 0, 0x18};
inline constexpr Reg kSysIndirectData{7, 0, 0x2C};
// Bit 4 indirect read done; bits 2-3 GPIO 4 and 5 outputs; bits 8-11 hold count; bit 5.
inline constexpr Reg kSysIndirectStatus{7, 0, 0x30};
inline constexpr uint32_t kSysIndirectDone = 1u << 4;
// Bits 30 and 31 a frame in CPU queue 1 and 2; bits 7-11 set at start-up.
inline constexpr Reg kSysCpuQueueStatus{7, 0, 0x31};
inline constexpr Reg kSysGpio{7, 0, 0x34};  // bits 0-3 GPIO levels, 4-7 their directions

}  // namespace chipreg
