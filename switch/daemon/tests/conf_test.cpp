#include "le.h"
#include "store_fixture.h"

#include <sys/stat.h>

#include <cstring>
#include <fstream>

namespace {

class Conf : public StoreFixture {
 protected:
  void write_file(const std::vector<uint8_t> &bytes) {
    std::ofstream(conf_file_path(), std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  static void add_record(std::vector<uint8_t> &bytes, uint32_t id, std::vector<uint8_t> data) {
    uint8_t head[8];
    le_store32(head, id);
    le_store32(head + 4, static_cast<uint32_t>(data.size()));
    bytes.insert(bytes.end(), head, head + 8);
    bytes.insert(bytes.end(), data.begin(), data.end());
  }
  static std::vector<uint8_t> header(uint32_t cookie = kConfCookie, uint32_t id = kConfId,
                                     uint16_t major = 14, uint16_t minor = 0) {
    std::vector<uint8_t> h(32, 0);
    le_store32(&h[0], cookie);
    le_store32(&h[8], id);
    le_store16(&h[12], major);
    le_store16(&h[14], minor);
    return h;
  }
  ino_t inode() {
    struct stat st {};
    stat(conf_file_path().c_str(), &st);
    return st.st_ino;
  }
  // Restarts the store as the daemon would on its next start.
  void restart() {
    conf_reset();
    timer_reg_init();
    conf_init();
  }
};

TEST_F(Conf, MissingFileCreatesDefaultsAndWritesThem) {
  conf_init();
  std::vector<uint8_t> bytes = file();
  // Header (8 + 32), data block A (8 + 100), data block B (8 + 64).
  ASSERT_EQ(bytes.size(), 40u + 108u + 72u);
  EXPECT_EQ(le_load32(&bytes[0]), 0u);
  EXPECT_EQ(le_load32(&bytes[8]), kConfCookie);
  EXPECT_EQ(le_load32(&bytes[12]), bytes.size());
  EXPECT_EQ(le_load32(&bytes[16]), 18u);
  EXPECT_EQ(le_load16(&bytes[20]), 14u);
  EXPECT_EQ(le_load32(&bytes[40]), 14u);
  EXPECT_EQ(le_load32(&bytes[44]), 100u);
  EXPECT_EQ(le_load32(&bytes[148]), 16u);
}

TEST_F(Conf, BlocksSurviveARestart) {
  conf_init();
  uint8_t *block = conf_create(5, 4);
  ASSERT_NE(block, nullptr);
  le_store32(block, 300);
  conf_close(5);
  restart();
  uint32_t size = 0;
  uint8_t *read = conf_open(5, &size);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(le_load32(read), 300u);
}

TEST_F(Conf, ResizeKeepsLeadingBytes) {
  uint8_t *block = conf_create(7, 4);
  std::memcpy(block, "abcd", 4);
  uint8_t *larger = conf_create(7, 8);
  EXPECT_EQ(std::memcmp(larger, "abcd\0\0\0\0", 8), 0);
  uint8_t *smaller = conf_create(7, 2);
  EXPECT_EQ(std::memcmp(smaller, "ab", 2), 0);
  EXPECT_EQ(conf_create(7, 2), smaller);  // same size: the same block, unchanged
  EXPECT_EQ(conf_create(7, 0), nullptr);
  EXPECT_EQ(conf_open(7, nullptr), nullptr);
}

TEST_F(Conf, BlocksAreWrittenInIdOrder) {
  conf_init();
  conf_create(9, 1);
  conf_create(3, 1);
  conf_close(3);
  std::vector<uint8_t> bytes = file();
  std::vector<uint32_t> ids;
  for (size_t off = 0; off + 8 <= bytes.size(); off += 8 + le_load32(&bytes[off + 4]))
    ids.push_back(le_load32(&bytes[off]));
  EXPECT_EQ(ids, (std::vector<uint32_t>{0, 3, 9, 14, 16}));
}

TEST_F(Conf, UnchangedCloseDoesNotRewrite) {
  conf_init();
  ino_t before = inode();
  conf_create(14, 100);
  conf_close(14);
  EXPECT_EQ(inode(), before);
  conf_create(14, 100)[0] = 1;
  conf_close(14);
  EXPECT_NE(inode(), before);
}

TEST_F(Conf, AnyMinorVersionIsAccepted) {
  std::vector<uint8_t> bytes;
  add_record(bytes, 0, header(kConfCookie, kConfId, 14, 99));
  add_record(bytes, 5, {1, 2, 3, 4});
  write_file(bytes);
  conf_init();
  EXPECT_NE(conf_open(5, nullptr), nullptr);
  EXPECT_EQ(conf_open(14, nullptr), nullptr);  // no defaults were made
}

TEST_F(Conf, ForeignFilesGiveDefaults) {
  for (auto h : {header(0x12345678), header(kConfCookie, 17), header(kConfCookie, kConfId, 13)}) {
    std::vector<uint8_t> bytes;
    add_record(bytes, 0, h);
    add_record(bytes, 5, {1, 2, 3, 4});
    write_file(bytes);
    restart();
    EXPECT_EQ(conf_open(5, nullptr), nullptr);
    EXPECT_NE(conf_open(14, nullptr), nullptr);
  }
}

TEST_F(Conf, ShortOrEmptyFileGivesDefaults) {
  for (std::vector<uint8_t> bytes :
       {std::vector<uint8_t>{}, std::vector<uint8_t>{0, 0, 0, 0, 32, 0, 0, 0, 0x53}}) {
    write_file(bytes);
    restart();
    EXPECT_NE(conf_open(14, nullptr), nullptr);
    EXPECT_EQ(file().size(), 220u);
  }
}

TEST_F(Conf, TruncatedRecordIsDroppedAndEarlierBlocksKept) {
  std::vector<uint8_t> bytes;
  add_record(bytes, 0, header());
  add_record(bytes, 5, {1, 2, 3, 4});
  add_record(bytes, 6, std::vector<uint8_t>(40, 7));
  bytes.erase(bytes.end() - 10, bytes.end());
  write_file(bytes);
  conf_init();
  EXPECT_NE(conf_open(5, nullptr), nullptr);
  EXPECT_EQ(conf_open(6, nullptr), nullptr);
}

TEST_F(Conf, HugeRecordSizeIsNotAllocated) {
  std::vector<uint8_t> bytes;
  add_record(bytes, 0, header());
  uint8_t head[8];
  le_store32(head, 5);
  le_store32(head + 4, 0xFFFFFFF0u);
  bytes.insert(bytes.end(), head, head + 8);
  write_file(bytes);
  conf_init();
  EXPECT_EQ(conf_open(5, nullptr), nullptr);
}

TEST_F(Conf, FileDisabledReadsAndWritesNothing) {
  process_state().debug_flags[kConfDebugFileDisabled] = 1;
  conf_init();
  EXPECT_TRUE(file().empty());
  EXPECT_NE(conf_open(14, nullptr), nullptr);  // defaults in memory
  EXPECT_EQ(conf_file_write(), -1);
}

TEST_F(Conf, FailedWriteIsReportedAndKeepsTheOldFile) {
  conf_init();
  std::vector<uint8_t> before = file();
  ASSERT_EQ(mkdir((conf_file_path() + ".tmp").c_str(), 0755), 0);  // the new file cannot be created
  conf_create(14, 100)[0] = 1;
  EXPECT_EQ(conf_file_write(), -1);
  EXPECT_EQ(file(), before);
  rmdir((conf_file_path() + ".tmp").c_str());
}

MgmtObject make_object(std::vector<uint8_t> &buf, uint32_t obj_id, uint32_t cmd, size_t data_size) {
  buf.assign(16 + data_size, 0);
  le_store32(&buf[0], obj_id);
  le_store32(&buf[4], cmd);
  le_store32(&buf[8], 77);
  le_store16(&buf[14], static_cast<uint16_t>(buf.size()));
  return MgmtObject{buf.data(), static_cast<uint16_t>(buf.size())};
}

TEST_F(Conf, InfoObjectCopiesTheHeader) {
  conf_init();
  std::vector<uint8_t> buf;
  MgmtObject obj = make_object(buf, 2000, kMgmtCmdGet, 16);
  conf_mgmt(obj);
  EXPECT_EQ(obj.res(), 0u);
  EXPECT_EQ(obj.data32(0), kConfCookie);
  EXPECT_EQ(obj.data32(4), 220u);
  EXPECT_EQ(obj.data32(8), 18u);
  obj = make_object(buf, 2000, kMgmtCmdSet, 16);
  conf_mgmt(obj);
  EXPECT_EQ(obj.res(), 1u);
  obj = make_object(buf, 2000, kMgmtCmdGet, 8);  // too small for the header words
  conf_mgmt(obj);
  EXPECT_EQ(obj.res(), 1u);
}

TEST_F(Conf, DefaultRequestIsBusyUntilTheTimerRestores) {
  conf_init();
  conf_create(5, 4);
  conf_close(5);
  std::vector<uint8_t> buf;
  MgmtObject obj = make_object(buf, 2001, kMgmtCmdSet, 4);
  le_store32(obj.data(), 2);
  conf_mgmt(obj);
  EXPECT_EQ(obj.res(), 1u);
  EXPECT_EQ(conf_busy(), 0);
  le_store32(obj.data(), 0);
  conf_mgmt(obj);
  EXPECT_EQ(obj.res(), 0u);
  EXPECT_EQ(conf_busy(), 1);
  timer_dispatch(123456);
  EXPECT_EQ(conf_busy(), 0);
  EXPECT_EQ(conf_open(5, nullptr), nullptr);
  EXPECT_NE(conf_open(14, nullptr), nullptr);
}

TEST_F(Conf, OtherConfObjects) {
  std::vector<uint8_t> buf;
  for (uint32_t id : {2002u, 2003u, 2999u}) {
    MgmtObject obj = make_object(buf, id, kMgmtCmdGet, 4);
    conf_mgmt(obj);
    EXPECT_EQ(obj.res(), 1u) << id;
  }
}

}  // namespace
