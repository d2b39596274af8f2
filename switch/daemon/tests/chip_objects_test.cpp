// Management objects of the chip: registers, register blocks, chip identity and CPU capture, with counts
// and sizes from the datagram checked before use.
#include "chip_fixture.h"
#include "chip_objects.h"
#include "mgmt.h"

#include <gtest/gtest.h>

namespace {

class ChipObjects : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    chip_objects_reg();
  }
  void TearDown() override {
    mgmt_reset();
    ChipFixture::TearDown();
  }
  // One object in a datagram of its own; the reply's result.
  uint32_t serve(uint32_t obj_id, uint32_t cmd, std::vector<uint8_t> &data) {
    std::vector<uint8_t> d(16, 0);
    le_store32(&d[0], obj_id);
    le_store32(&d[4], cmd);
    le_store16(&d[14], static_cast<uint16_t>(16 + data.size()));
    d.insert(d.end(), data.begin(), data.end());
    EXPECT_EQ(mgmt_process(d.data(), d.size()), d.size());
    std::copy(d.begin() + 16, d.end(), data.begin());
    return le_load32(&d[8]);
  }
};

TEST_F(ChipObjects, RegisterIsReadAndWrittenUnderItsMask) {
  std::vector<uint8_t> data(12, 0);
  le_store32(&data[0], 0x2003);
  le_store32(&data[4], 0x12345678);
  le_store32(&data[8], 0x0000FFFF);
  EXPECT_EQ(serve(0, kMgmtCmdSet, data), kMgmtResOk);
  EXPECT_EQ(chip.peek(2, 0, 3), 0x5678u);
  le_store32(&data[4], 0);
  EXPECT_EQ(serve(0, kMgmtCmdGet, data), kMgmtResOk);
  EXPECT_EQ(le_load32(&data[4]), 0x5678u);
  EXPECT_EQ(serve(0, kMgmtCmdAdd, data), kMgmtResFail);
}

TEST_F(ChipObjects, RegisterBlockCountMustFitTheObject) {
  std::vector<uint8_t> data(16 + 8, 0);
  le_store32(&data[0], 0x2040);
  le_store32(&data[4], 2);
  le_store32(&data[8], 1);
  le_store32(&data[12], 0xFFFFFFFF);
  le_store32(&data[16], 0x11);
  le_store32(&data[20], 0x22);
  EXPECT_EQ(serve(4, kMgmtCmdSet, data), kMgmtResOk);
  EXPECT_EQ(chip.peek(2, 0, 0x41), 0x22u);
  le_store32(&data[4], 3);  // one value more than the object carries
  EXPECT_EQ(serve(4, kMgmtCmdGet, data), kMgmtResFail);
  le_store32(&data[4], 0x40000002);  // a count whose byte size wraps in 32 bits
  EXPECT_EQ(serve(4, kMgmtCmdGet, data), kMgmtResFail);
  EXPECT_EQ(le_load32(&data[16]), 0x11u) << "nothing read";
}

TEST_F(ChipObjects, ChipIdentityAndCaptureRegistration) {
  std::vector<uint8_t> id(8, 0xEE);
  EXPECT_EQ(serve(12, kMgmtCmdGet, id), kMgmtResOk);
  EXPECT_EQ(id, (std::vector<uint8_t>{0x85, 0x73, 0, 0, 1, 0, 0, 0}));
  std::vector<uint8_t> registration(76, 0);
  registration[0] = 1;
  EXPECT_EQ(serve(13, kMgmtCmdSet, registration), kMgmtResOk);
  EXPECT_EQ(chip.peek(2, 0, 0xA0), 1u << 16);
  std::vector<uint8_t> short_record(40, 0);
  EXPECT_EQ(serve(13, kMgmtCmdGet, short_record), kMgmtResFail);
}

}  // namespace
