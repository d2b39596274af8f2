// Control commands of the simulator.
#include <gtest/gtest.h>

#include "control.h"

namespace swchip {
namespace {

class ControlCommands : public ::testing::Test {
 protected:
  ChipModel chip;
  Driver driver{chip};
  Control control{chip, driver};
};

TEST_F(ControlCommands, ReadAndWriteRegisters) {
  EXPECT_EQ(control.execute("write 2 0 0x40 0x5f"), "ok");
  EXPECT_EQ(control.execute("read 2 0 0x40"), "0x0000005f");
  EXPECT_EQ(control.execute("read 7 0 0x18\n"), "0x073850e9");
}

TEST_F(ControlCommands, RejectsBadAddressesAndValues) {
  EXPECT_EQ(control.execute("read 8 0 0").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("read 1 16 0").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("read 1 0 256").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("write 1 0 0 0x1ffffffff").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("write 1 0 0 -1").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("read 1 0").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("frobnicate").rfind("error: ", 0), 0u);
}

// The commands that set one number: each takes exactly one, within its own range, and sets only its
// own setting; the commands without arguments refuse any.
TEST_F(ControlCommands, NumberSettingsTakeOneValueInTheirRange) {
  EXPECT_EQ(control.execute("done-delay 3"), "ok");
  EXPECT_EQ(chip.indirect_done_delay, 3u);
  EXPECT_EQ(control.execute("done-delay 1000001"), "error: usage: done-delay N");
  EXPECT_EQ(control.execute("mac-busy 1000000"), "ok");
  EXPECT_EQ(chip.mac_busy_reads, 1000000u);
  EXPECT_EQ(control.execute("mac-busy"), "error: usage: mac-busy N");
  EXPECT_EQ(chip.indirect_done_delay, 3u);
  EXPECT_EQ(control.execute("chipid 0xffffffff"), "ok");
  EXPECT_EQ(chip.chip_id(), 0xFFFFFFFFu);
  EXPECT_EQ(control.execute("chipid 1 2"), "error: usage: chipid VALUE");
  EXPECT_EQ(control.execute("gpio-input 0x5"), "ok");
  EXPECT_EQ(control.execute("gpio-input -1"), "error: usage: gpio-input VALUE");
  EXPECT_EQ(chip.mac_busy_reads, 1000000u);

  EXPECT_EQ(control.execute("driver now").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("driver").rfind("spi-timing ", 0), 0u);
  control.execute("write 2 0 0x40 0x5f");
  EXPECT_EQ(control.execute("power-on now").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("read 2 0 0x40"), "0x0000005f");
  EXPECT_EQ(control.execute("power-on"), "ok");
  EXPECT_EQ(control.execute("read 2 0 0x40"), "0x00000000");
}

TEST_F(ControlCommands, DumpListsNonZeroRegisters) {
  control.execute("write 1 3 0x10 1522");
  EXPECT_EQ(control.execute("dump 1"), "1 3 0x10 0x000005f2\n");
  EXPECT_NE(control.execute("dump").find("7 0 0x18 0x073850e9"), std::string::npos);
}

TEST_F(ControlCommands, FaultsStuckBitsAndChipId) {
  EXPECT_EQ(control.execute("fail spi-read block 7 count 1"), "ok");
  EXPECT_EQ(control.execute("fail bogus").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("fail off"), "ok");
  EXPECT_EQ(control.execute("stick done on"), "ok");
  EXPECT_TRUE(chip.stuck.indirect_done);
  EXPECT_EQ(control.execute("chipid 0"), "ok");
  EXPECT_EQ(chip.read(7, 0, 0x18), 0u);
}

TEST_F(ControlCommands, CablesPhysAndCpuFrames) {
  EXPECT_EQ(control.execute("cable 0 2 unplug"), "ok");
  EXPECT_FALSE(chip.phy(0, 2).link());
  EXPECT_EQ(control.execute("cable 0 2 plug 0x100"), "ok");
  EXPECT_EQ(chip.phy(0, 2).speed(), 2u);
  EXPECT_EQ(control.execute("cable 2 0 plug").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("phy 1 3 absent"), "ok");
  EXPECT_FALSE(chip.phy(1, 3).mounted);
  EXPECT_EQ(control.execute("inject 1 6 0102030405 0x0064"), "ok");
  EXPECT_EQ(chip.cpu_queue_length(1), 1u);
  EXPECT_EQ(control.execute("inject 3 6 0102").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("inject 1 6 01020").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("inject 1 6 zz").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("transmitted 0"), "");
  EXPECT_EQ(control.execute("stick arbiter on"), "ok");
  EXPECT_EQ(chip.read(5, 0, 12), 0u);
}

}  // namespace
}  // namespace swchip
