#include "board.h"
#include "le.h"
#include "swc_clock.h"
#include "store_fixture.h"

#include <cstring>

namespace {

// Builds datagrams of request objects.
struct Datagram {
  std::vector<uint8_t> bytes;
  // Appends an object with `data_size` zero data bytes; returns its offset.
  size_t add(uint32_t obj_id, uint32_t cmd, size_t data_size, uint16_t id = 0) {
    size_t off = bytes.size();
    bytes.resize(off + 16 + data_size, 0);
    le_store32(&bytes[off], obj_id);
    le_store32(&bytes[off + 4], cmd);
    le_store32(&bytes[off + 8], 0xEEEEEEEE);
    le_store16(&bytes[off + 12], id);
    le_store16(&bytes[off + 14], static_cast<uint16_t>(16 + data_size));
    return off;
  }
  uint32_t res(size_t off) const { return le_load32(&bytes[off + 8]); }
  // The result of every object, in order.
  std::vector<uint32_t> results() const {
    std::vector<uint32_t> all;
    for (size_t off = 0; off + 16 <= bytes.size(); off += le_load16(&bytes[off + 14]))
      all.push_back(res(off));
    return all;
  }
  uint32_t u32(size_t off) const { return le_load32(&bytes[off]); }
  size_t process() { return mgmt_process(bytes.data(), bytes.size()); }
};

class Mgmt : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    setenv("PORTVISOR_MGMT_PORT", "0", 1);
    conf_init();
    mgmt_init();
  }
  void TearDown() override {
    unsetenv("PORTVISOR_MGMT_PORT");
    StoreFixture::TearDown();
  }
};

TEST_F(Mgmt, TwoObjectsAnsweredInOneReply) {
  Datagram d;
  size_t a = d.add(8, kMgmtCmdGet, 8, 0x1234);
  size_t b = d.add(10, kMgmtCmdGet, 4);
  EXPECT_EQ(d.process(), d.bytes.size());
  EXPECT_EQ(d.res(a), 0u);
  EXPECT_EQ(d.u32(a + 16), 6u);
  EXPECT_EQ(d.u32(a + 20), 0u);
  EXPECT_EQ(le_load16(&d.bytes[a + 12]), 0x1234);  // entry id carried through
  EXPECT_EQ(d.res(b), 0u);
}

TEST_F(Mgmt, MalformedDatagramsGetNoReply) {
  Datagram shorter;
  shorter.add(8, kMgmtCmdGet, 8);
  le_store16(&shorter.bytes[14], 15);
  EXPECT_EQ(shorter.process(), 0u);

  Datagram past_end;
  past_end.add(8, kMgmtCmdGet, 8);
  le_store16(&past_end.bytes[14], 100);
  EXPECT_EQ(past_end.process(), 0u);

  Datagram trailing;  // a whole object then 5 stray bytes: the first is executed, no reply
  size_t first = trailing.add(10, kMgmtCmdSet, 4);
  le_store32(&trailing.bytes[first + 16], 1);
  trailing.bytes.resize(trailing.bytes.size() + 5);
  EXPECT_EQ(trailing.process(), 0u);
  EXPECT_EQ(process_state().pause, 1);
}

TEST_F(Mgmt, ObjectsWithoutHandlerAnswer2) {
  Datagram d;
  d.add(0, kMgmtCmdGet, 12);  // served once the switch API offers register access
  d.add(14, kMgmtCmdGet, 0);
  d.add(3001, kMgmtCmdGet, 4);  // port module not present
  d.add(9000, kMgmtCmdGet, 0);
  d.add(2005, kMgmtCmdGet, 0);  // the store answers its unknown ids with 1
  ASSERT_EQ(d.process(), d.bytes.size());
  EXPECT_EQ(d.results(), (std::vector<uint32_t>{2, 2, 2, 2, 1}));
}

TEST_F(Mgmt, PhyObjectsRefuseBadPortsAndReportApiFailures) {
  Datagram d;
  d.add(1, kMgmtCmdGet, 12);  // port 0
  size_t port7 = d.add(1, kMgmtCmdSet, 12);
  le_store32(&d.bytes[port7 + 16], 7);
  size_t short_obj = d.add(1, kMgmtCmdGet, 8);
  le_store32(&d.bytes[short_obj + 16], 1);
  size_t no_chip = d.add(1, kMgmtCmdGet, 12);  // no switch API context in this test
  le_store32(&d.bytes[no_chip + 16], 1);
  d.add(2, kMgmtCmdGet, 12);  // raw access needs 16 data bytes
  d.process();
  EXPECT_EQ(d.results(), (std::vector<uint32_t>{1, 1, 1, 1, 1}));
}

TEST_F(Mgmt, RequestAndReplyDumpedAsHexLinesAtDebug) {
  trace_option_apply("mgmt", "debug");
  Datagram d;
  d.add(8, kMgmtCmdGet, 8, 0x0102);
  ::testing::internal::CaptureStdout();
  d.process();
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("obj_id: 8, cmd: 0 (MGMT_CMD_GET), res: -286331154, id: 258, size: 24\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("/debug: Request:\n"), std::string::npos);
  EXPECT_NE(out.find("/debug: 08 00 00 00 00 00 00 00-ee ee ee ee 02 01 18 00 \n"), std::string::npos) << out;
  EXPECT_NE(out.find("/debug: 06 00 00 00 00 00 00 00-\n"), std::string::npos) << out;  // reply's last line
}

void answer_7(MgmtObject &object) {
  object.set_data32(0, 7);
  object.set_res(kMgmtResOk);
}

TEST_F(Mgmt, RegisteredObjectIsServedForGetAndSetOnly) {
  mgmt_object_reg(0, answer_7);
  Datagram d;
  size_t get = d.add(0, kMgmtCmdGet, 12);
  size_t add = d.add(0, kMgmtCmdAdd, 12);
  d.process();
  EXPECT_EQ(d.res(get), 0u);
  EXPECT_EQ(d.u32(get + 16), 7u);
  EXPECT_EQ(d.res(add), 1u);
}

TEST_F(Mgmt, BusyWhileADefaultRestoreIsPending) {
  Datagram req;
  size_t r = req.add(2001, kMgmtCmdSet, 4);
  req.process();
  ASSERT_EQ(req.res(r), 0u);
  Datagram d;
  size_t a = d.add(8, kMgmtCmdGet, 8);
  size_t b = d.add(10, kMgmtCmdSet, 4);
  size_t c = d.add(9999, kMgmtCmdGet, 0);
  d.process();
  EXPECT_EQ(d.res(a), 3u);
  EXPECT_EQ(d.res(b), 3u);
  EXPECT_EQ(d.res(c), 3u);
}

TEST_F(Mgmt, PausedDaemonStillTakesResumeAndTerminateWhileBusy) {
  Datagram req;
  req.add(2001, kMgmtCmdSet, 4);
  req.process();
  process_state().pause = 1;  // no timer runs now: the restore cannot finish
  Datagram d;
  size_t other = d.add(8, kMgmtCmdGet, 8);
  size_t resume = d.add(10, kMgmtCmdSet, 4);
  d.process();
  EXPECT_EQ(d.res(other), 3u);
  EXPECT_EQ(d.res(resume), 0u);
  EXPECT_EQ(process_state().pause, 0);
}

TEST_F(Mgmt, ShortObjectsFailWithoutTouchingNeighbours) {
  Datagram d;
  size_t flags = d.add(3, kMgmtCmdGet, 16);  // needs 64 data bytes
  size_t after = d.add(8, kMgmtCmdGet, 8);
  std::vector<uint8_t> before(d.bytes.begin() + static_cast<long>(after), d.bytes.end());
  process_state().debug_flags[5] = 0xAAAAAAAA;
  d.process();
  EXPECT_EQ(d.res(flags), 1u);
  EXPECT_EQ(d.u32(after), 8u);  // the next object's header was not overwritten
  EXPECT_EQ(d.res(after), 0u);
  for (uint32_t id : {5u, 6u, 9u, 10u, 11u}) {
    Datagram tiny;
    size_t o = tiny.add(id, kMgmtCmdGet, 0);
    tiny.process();
    EXPECT_EQ(tiny.res(o), id == 5 ? 0u : 1u) << id;
  }
}

TEST_F(Mgmt, DebugFlagsReadAndWrittenAsAWhole) {
  Datagram set;
  size_t s = set.add(3, kMgmtCmdSet, 64);
  for (int i = 0; i < 16; ++i)
    le_store32(&set.bytes[s + 16 + 4 * static_cast<size_t>(i)], static_cast<uint32_t>(i * 3));
  set.process();
  EXPECT_EQ(process_state().debug_flags[15], 45u);
  Datagram get;
  size_t g = get.add(3, kMgmtCmdGet, 64);
  get.process();
  EXPECT_EQ(get.u32(g + 16 + 4 * 7), 21u);
}

TEST_F(Mgmt, TerminateAndSuspend) {
  Datagram d;
  size_t t_get = d.add(5, kMgmtCmdGet, 0);
  d.process();
  EXPECT_EQ(d.res(t_get), 0u);
  EXPECT_EQ(process_state().terminate, 0);
  Datagram p;
  size_t pause = p.add(10, kMgmtCmdSet, 4);
  le_store32(&p.bytes[pause + 16], 1);
  p.process();
  EXPECT_EQ(process_state().pause, 1);
  Datagram g;
  size_t get = g.add(10, kMgmtCmdGet, 4);
  g.process();
  EXPECT_EQ(g.u32(get + 16), 1u);
  Datagram t;
  t.add(5, kMgmtCmdSet, 0);
  t.process();
  EXPECT_EQ(process_state().terminate, 1);
}

TEST_F(Mgmt, DataBlocksAreStoredInTheConfiguration) {
  Datagram d;
  size_t a = d.add(6, kMgmtCmdSet, 100);
  std::memset(&d.bytes[a + 16], 0x5A, 100);
  size_t b = d.add(9, kMgmtCmdSet, 64);
  std::memset(&d.bytes[b + 16], 0xA5, 64);
  d.process();
  EXPECT_EQ(d.res(a), 0u);
  EXPECT_EQ(d.res(b), 0u);
  // After a restart the blocks come back from switch.conf.
  mgmt_reset();
  conf_reset();
  timer_reg_init();
  conf_init();
  mgmt_init();
  Datagram g;
  size_t ga = g.add(6, kMgmtCmdGet, 100);
  size_t gb = g.add(9, kMgmtCmdGet, 64);
  g.process();
  EXPECT_EQ(g.bytes[ga + 16 + 99], 0x5A);
  EXPECT_EQ(g.bytes[gb + 16 + 63], 0xA5);
}

TEST_F(Mgmt, DataBlockBDefaultsAreZeroOnFile) {
  Datagram g;
  size_t b = g.add(9, kMgmtCmdGet, 64);
  g.process();
  EXPECT_EQ(g.u32(b + 16 + 8), 0u);  // the 9999 words of the defaults live in memory only until re-read
}

TEST_F(Mgmt, ReservedAndReadOnlyObjects) {
  Datagram d;
  size_t seven = d.add(7, kMgmtCmdGet, 4);
  size_t count_set = d.add(8, kMgmtCmdSet, 8);
  size_t mac_set = d.add(11, kMgmtCmdSet, 8);
  size_t mac_get = d.add(11, kMgmtCmdGet, 8);
  d.process();
  EXPECT_EQ(d.res(seven), 1u);
  EXPECT_EQ(d.res(count_set), 1u);
  EXPECT_EQ(d.res(mac_set), 1u);
  EXPECT_EQ(d.res(mac_get), 0u);
}

struct TableCase {
  uint16_t count, entry_size, obj_size;
  int expected;
};

TEST_F(Mgmt, TableCheck) {
  for (TableCase c : {TableCase{2, 8, 36, 0}, TableCase{3, 8, 44, -1}, TableCase{2, 4, 28, -1},
                      TableCase{2, 8, 37, -1}, TableCase{0, 8, 20, 0}}) {
    std::vector<uint8_t> buf(c.obj_size, 0);
    le_store16(&buf[14], c.obj_size);
    le_store16(&buf[16], c.count);
    le_store16(&buf[18], c.entry_size);
    MgmtObject obj{buf.data(), c.obj_size};
    EXPECT_EQ(mgmt_table_check(obj, 8, 2), c.expected) << c.count << " " << c.entry_size << " " << c.obj_size;
    if (c.expected < 0) {
      EXPECT_EQ(obj.res(), 1u);
    }
  }
  std::vector<uint8_t> header_only(16, 0);
  MgmtObject bare{header_only.data(), 16};
  EXPECT_EQ(mgmt_table_check(bare, 8, 2), -1);
}

TEST(BoardSleep, WaitsOnTheSwitchLayersClock) {
  SwcManualClock clock;
  swc_clock_set(&clock);
  board_msleep(1000);
  swc_clock_set(nullptr);
  EXPECT_EQ(clock.slept_ms(), 1000u);
}

TEST(BoardMac, DerivedFromEth0) {
  const uint8_t eth0[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  board_derive_base_mac(eth0);
  uint8_t mac[6];
  board_mac_addr(0, mac);
  EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), (std::vector<uint8_t>{0x02, 0x11, 0x22, 0x44, 0x55, 0x00}));
  swc_os_get_system_mac(mac);
  EXPECT_EQ(mac[5], 0x01);
  swc_os_get_portmac(6, mac);
  EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), (std::vector<uint8_t>{0x02, 0x11, 0x22, 0x44, 0x55, 0x06}));
}

TEST(BoardMac, CarryStaysInTheLastThreeBytes) {
  const uint8_t eth0[6] = {0x02, 0xAA, 0xBB, 0x00, 0xFF, 0xFF};
  board_derive_base_mac(eth0);  // base ends in FF-FF-00
  uint8_t mac[6];
  board_mac_addr(6, mac);
  EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), (std::vector<uint8_t>{0x02, 0xAA, 0xBB, 0xFF, 0xFF, 0x06}));
  // An index beyond 6 is computed all the same; its carry out of the last three bytes is dropped.
  board_mac_addr(0x100, mac);
  EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), (std::vector<uint8_t>{0x02, 0xAA, 0xBB, 0x00, 0x00, 0x00}));
}

}  // namespace
