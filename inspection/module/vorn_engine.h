// Driver of the Quorix matching engine: registers, reset and initialisation, the descriptor ring and
// its interrupt handler, the register file after a policy load, and the image decompression.
#pragma once

#include <cstdint>

#include "vorn_descriptor.h"
#include "vorn_module.h"

namespace vorn {

constexpr int kQxStateError = 0x10000007;
constexpr int kQxIndexError = 0x10000001;

constexpr uint32_t kQxRegisterBase = 0xF7200000;
constexpr uint32_t kSystemControlRegister = 0xF7700004;
constexpr uint32_t kQxBusOffset = 0x40000000;
constexpr unsigned kIrqSearchFinish = 16;
constexpr unsigned kIrqQueueEmpty = 17;

// Register accessors (table bases and the descriptor start take bus addresses; 0x40000000 is added).
uint32_t readQXStatusRegister();
void write_qx_status_register(uint32_t value);
uint32_t read_qx_dma_fetch_enable_register();
void write_qx_dma_fetch_enable_register(uint32_t value);
uint32_t read_qx_desc_start_addr_register();
void write_qx_desc_start_addr_register(dma_addr_t bus);
uint32_t read_qx_desc_ptr_register();
uint32_t read_qx_state_table_base_register();
void write_qx_state_table_base_register(dma_addr_t bus);
uint32_t read_qx_rule_table_base_register();
void write_qx_rule_table_base_register(dma_addr_t bus);
uint32_t read_qx_pattern_table_base_register();
void write_qx_pattern_table_base_register(dma_addr_t bus);
void write_qx_matched_state_queue_base_register(dma_addr_t bus);
void write_qx_cst_register(unsigned index, uint32_t value);
void write_qx_zero_state_table_register(unsigned index, uint32_t value);
// Writes rules first..last (12 bytes each, from `rules`) into the header-only rule window.
int write_qx_hdr_rule_table_register(const unsigned char *rules, uint32_t first, uint32_t last);

int qxDrvReset();
int qxDrvInit();
int qxInsertHdrRule(const unsigned char *rules, uint32_t first, uint32_t last);
int qxInsertionDescComplete();
int QuorixRegisterFile_Setting(unsigned char *memory);
void Vorn_SearchFinishISR(int irq, void *dev_id, pt_regs *regs);
int uncompress(unsigned char *dest, uint32_t *dest_len, const unsigned char *source, uint32_t source_len);

// Stops the descriptor fetch and waits (bounded) for the engine to go idle. True when idle.
bool qx_stop_engine();
// Releases every packet still held by a descriptor.
void qx_drop_held_packets();
// Releases the interrupt lines the driver requested.
void qx_isr_release();

}  // namespace vorn
