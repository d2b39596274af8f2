#include "swc_io.h"

#include "swc_trace.h"
#include "swgenio.h"

namespace {

const swc_context kNoContext{-1, nullptr, nullptr};
const swc_context* g_context = &kNoContext;

constexpr uint32_t kDoneStatus = swgenio::bus_offset(7, 0, 0x30);
constexpr uint32_t kIndirectData = swgenio::bus_offset(7, 0, 0x2c);
constexpr uint32_t kDoneBit = 0x10;

#define IO_TRACE(level, ...) SWC_TRACE(TRACE_MOD_API_IO, level, __VA_ARGS__)

void trace_access(const char* function, uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value) {
  SWC_TRACE_AS(TRACE_MOD_API_IO, TRACE_NOISE, function, "block: 0x%02x, subblock: 0x%02x, reg: 0x%02x, value: 0x%08lx",
               block, subblock, reg, static_cast<unsigned long>(value));
}

int spi_transfer(uint32_t block, uint32_t subblock, uint32_t reg, bool write, uint32_t* value) {
  swgenio::SpiRecord record{};
  record.length = swgenio::kSpiLength;
  record.buffer[0] = static_cast<uint8_t>((block & 7) << 5 | (subblock & 15) | (write ? swgenio::kSpiWriteFlag : 0));
  record.buffer[1] = static_cast<uint8_t>(reg);
  if (write) {
    record.buffer[2] = static_cast<uint8_t>(*value >> 24);
    record.buffer[3] = static_cast<uint8_t>(*value >> 16);
    record.buffer[4] = static_cast<uint8_t>(*value >> 8);
    record.buffer[5] = static_cast<uint8_t>(*value);
  }
  if (swgenio_ioctl(g_context->fd, swgenio::kCpldSpiReadWrite, &record) != 0) return -1;
  if (!write) {
    *value = uint32_t{record.buffer[2]} << 24 | uint32_t{record.buffer[3]} << 16 | uint32_t{record.buffer[4]} << 8 |
             record.buffer[5];
  }
  return 0;
}

// One 32-bit bus read; false when the request failed.
bool bus_read(uint32_t offset, uint32_t* value) {
  swgenio::BusRecord record{offset, 0};
  if (swgenio_ioctl(g_context->fd, swgenio::k32BitRead, &record) != 0) return false;
  *value = record.value;
  return true;
}

swc_rc pi_rd_fast(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t* value) {
  if (!bus_read(swgenio::bus_offset(block, subblock, reg), value)) {
    SWC_TRACE_AS(TRACE_MOD_API_IO, TRACE_ERROR, "swc_io_pi_rd_fast", "ioctl(fd,SWGENIO_32BIT_READ) failed");
    *value = 0;
    return SWC_RC_READ_FAILED;
  }
  return SWC_RC_OK;
}

swc_rc pi_rd_indirect(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t* value) {
  uint32_t ignored;
  *value = 0;
  if (!bus_read(swgenio::bus_offset(block, subblock, reg), &ignored)) {
    SWC_TRACE_AS(TRACE_MOD_API_IO, TRACE_ERROR, "swc_io_pi_rd", "ioctl(fd,SWGENIO_32BIT_READ) failed");
    return SWC_RC_READ_FAILED;
  }
  for (int attempt = 0; attempt <= SWC_IO_DONE_RETRIES; ++attempt) {
    uint32_t status;
    if (!bus_read(kDoneStatus, &status)) {
      SWC_TRACE_AS(TRACE_MOD_API_IO, TRACE_ERROR, "swc_io_pi_rd", "ioctl(fd,SWGENIO_32BIT_READ) failed");
      return SWC_RC_READ_FAILED;
    }
    if (status & kDoneBit) {
      if (!bus_read(kIndirectData, value)) {
        SWC_TRACE_AS(TRACE_MOD_API_IO, TRACE_ERROR, "swc_io_pi_rd", "ioctl(fd,SWGENIO_32BIT_READ) failed");
        *value = 0;
        return SWC_RC_READ_FAILED;
      }
      return SWC_RC_OK;
    }
  }
  SWC_TRACE_AS(TRACE_MOD_API_IO, TRACE_ERROR, "swc_io_pi_rd",
               "block: 0x%02x, subblock: 0x%02x, reg: 0x%02x, DONE failed after %d retries", block, subblock, reg,
               SWC_IO_DONE_RETRIES);
  return SWC_RC_READ_FAILED;
}

}  // namespace

void swc_io_select_context(const swc_context* context) { g_context = context ? context : &kNoContext; }

swc_rc swc_io_init() {
  IO_TRACE(TRACE_DEBUG, "enter");
  return SWC_RC_OK;
}

swc_rc swc_io_si_rd(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t* value) {
  swc_rc rc = SWC_RC_OK;
  if (spi_transfer(block, subblock, reg, false, value) != 0) {
    IO_TRACE(TRACE_ERROR, "ioctl(fd,SWGENIO_CPLD_SPI_READWRITE) failed");
    *value = 0;
    rc = SWC_RC_READ_FAILED;
  }
  trace_access(__func__, block, subblock, reg, *value);
  return rc;
}

swc_rc swc_io_si_wr(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value) {
  swc_rc rc = SWC_RC_OK;
  if (spi_transfer(block, subblock, reg, true, &value) != 0) {
    IO_TRACE(TRACE_ERROR, "ioctl(fd,SWGENIO_CPLD_SPI_READWRITE) failed");
    rc = SWC_RC_WRITE_FAILED;
  }
  trace_access(__func__, block, subblock, reg, value);
  return rc;
}

swc_rc swc_io_pi_rd(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t* value) {
  const swc_rc rc = (block == 4 || block == 7) ? pi_rd_fast(block, subblock, reg, value)
                                               : pi_rd_indirect(block, subblock, reg, value);
  trace_access(__func__, block, subblock, reg, *value);
  return rc;
}

swc_rc swc_io_pi_wr(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value) {
  swgenio::BusRecord record{swgenio::bus_offset(block, subblock, reg), value};
  swc_rc rc = SWC_RC_OK;
  if (swgenio_ioctl(g_context->fd, swgenio::k32BitWrite, &record) != 0) {
    IO_TRACE(TRACE_ERROR, "ioctl(fd,SWGENIO_32BIT_WRITE) failed");
    rc = SWC_RC_WRITE_FAILED;
  }
  trace_access(__func__, block, subblock, reg, value);
  return rc;
}
