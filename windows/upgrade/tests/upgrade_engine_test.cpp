// The engine against in-process router peers on a virtual clock: discovery, information query, whole
// transfers, and every retry, timeout and refusal path.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "device_name.h"
#include "hl_download.h"
#include "hl_upgrade.h"
#include "virtual_link.h"

namespace upgrade {
namespace {

using testing::MemoryImageStore;
using testing::RecordingHost;
using testing::VirtualLink;

const peer::Mac kRouterMac{0x02, 0x5A, 0xC3, 0x01, 0x02, 0x03};
const char kRouterName[] = "VT010203";
const char kImagePath[] = "Bin\\HBX7300NQ.bin";

std::vector<std::uint8_t> make_image(std::size_t size, std::uint16_t version = 0x1100) {
  std::vector<std::uint8_t> image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + (i >> 9)) & 0xFF);
  if (size >= 100) {
    std::memcpy(&image[10], kHeaderMark, kHeaderMarkSize);
    std::memcpy(&image[10 + 63], kHeaderMark, kHeaderMarkSize);
    image[10 + 7 + 50] = static_cast<std::uint8_t>(version >> 8);
    image[10 + 7 + 51] = static_cast<std::uint8_t>(version);
  }
  return image;
}

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : router(kRouterMac, 0x1023), engine(link, link, host, images) { link.attach(router); }

  std::vector<std::uint16_t> sent_opcodes() const {
    std::vector<std::uint16_t> ops;
    for (auto &f : link.sent) ops.push_back(get_le16(&f[14]));
    return ops;
  }
  int count_sent(std::uint16_t opcode) const {
    auto ops = sent_opcodes();
    return static_cast<int>(std::count(ops.begin(), ops.end(), opcode));
  }
  void run_transfer(std::vector<std::uint8_t> image) {
    images.put(kImagePath, std::move(image));
    HLupgrade(engine).run(kRouterName, kImagePath);
  }
  bool succeeded() const { return host.reboot_waits == 1 && engine.transfer.state == TransferState::kDone; }
  std::pair<std::intptr_t, std::intptr_t> last_post() const { return host.posts.back(); }

  VirtualLink link;
  peer::RouterPeer router;
  RecordingHost host;
  MemoryImageStore images;
  UpgradeEngine engine;
};

// ---- discovery ----

TEST_F(EngineTest, ScanFindsTheRouterWithThreeDiscoversInAboutSixSeconds) {
  std::vector<std::string> names;
  std::uint32_t start = link.now_ms();
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 1);
  EXPECT_EQ(names, std::vector<std::string>{kRouterName});
  EXPECT_EQ(engine.variant, 1);
  EXPECT_EQ(count_sent(kOpInfo), 3);
  EXPECT_NEAR(link.now_ms() - start, 3 * 1980, 200);
  for (auto &f : link.sent) EXPECT_EQ(0, std::memcmp(f.data(), kBroadcastMac.data(), 6));
}

TEST_F(EngineTest, ADeviceAnsweringTwiceIsListedOnce) {
  router.faults.reply_copies = 2;
  std::vector<std::string> names;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 1);
}

TEST_F(EngineTest, TwoDevicesAreListedInByteOrder) {
  peer::RouterPeer other({0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}, 0x0001);
  link.attach(other);
  std::vector<std::string> names;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 2);
  EXPECT_EQ(names, (std::vector<std::string>{"000A0B0C0D0E", kRouterName}));
}

TEST_F(EngineTest, NoAnswerUnder8888RepeatsTheScanUnder0000AndTheTransferKeepsIt) {
  router.accepted_ether_types = {0x0000};
  std::vector<std::string> names;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 1);
  EXPECT_EQ(engine.variant, 0);
  EXPECT_EQ(count_sent(kOpInfo), 6);
  run_transfer(make_image(3000));
  EXPECT_TRUE(succeeded());
  EXPECT_EQ(router.image(), make_image(3000));
  EXPECT_EQ(link.sent.back()[12], 0x00);
}

TEST_F(EngineTest, NobodyAnswersGivesAnEmptyListAfterBothVariants) {
  router.faults.silent = true;
  std::vector<std::string> names{"stale"};
  std::uint32_t start = link.now_ms();
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 0);
  EXPECT_TRUE(names.empty());
  EXPECT_NEAR(link.now_ms() - start, 6 * 1980, 400);
}

TEST_F(EngineTest, ADiscoverThatCannotBeSentFailsTheScan) {
  link.fail_sends = 2;
  std::vector<std::string> names;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), -1);
  link.fail_sends = 0;
  link.own_mac_fails = true;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), -1);
}

TEST_F(EngineTest, StrayFramesDoNotBecomeDevices) {
  std::vector<std::uint8_t> runt(20, 0);
  link.inject(runt);
  peer::RouterPeer group_source({0x03, 0x00, 0x00, 0x00, 0x00, 0x01}, 1);
  peer::RouterPeer short_info({0x00, 0x00, 0x00, 0x00, 0x00, 0x02}, 1);
  short_info.faults.short_replies[0] = 10;
  link.attach(group_source);
  link.attach(short_info);
  router.faults.silent = true;
  std::vector<std::string> names;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 0);
}

// ---- information query ----

TEST_F(EngineTest, InformationQueryFillsTheBlock) {
  DeviceInfoBlock block{};
  EXPECT_EQ(HLdownload(engine).QueryDeviceInfo(kRouterMac, block), 0);
  EXPECT_EQ(version_text(block), "V1.0.23");
  EXPECT_EQ(engine.transfer.info_target, nullptr);
}

TEST_F(EngineTest, InformationQueryRetriesALostAnswerAndIgnoresAShortOne) {
  router.faults.drop_replies[kOpInfo] = 1;
  router.faults.short_replies[kOpInfo] = 1;
  DeviceInfoBlock block{};
  EXPECT_EQ(HLdownload(engine).QueryDeviceInfo(kRouterMac, block), 0);
  EXPECT_EQ(count_sent(kOpInfo), 3);
  EXPECT_EQ(version_text(block), "V1.0.23");
}

TEST_F(EngineTest, InformationQueryGivesUpAtTheSixtiethTimeout) {
  router.faults.silent = true;
  DeviceInfoBlock block{};
  std::uint32_t start = link.now_ms();
  EXPECT_EQ(HLdownload(engine).QueryDeviceInfo(kRouterMac, block), kErrNoAnswer);
  EXPECT_EQ(count_sent(kOpInfo), 60);
  EXPECT_NEAR(link.now_ms() - start, 60 * 990, 60 * 110);
}

TEST_F(EngineTest, InformationQueryThatCannotBeSentGivesThree) {
  link.own_mac_fails = true;
  DeviceInfoBlock block{};
  EXPECT_EQ(HLdownload(engine).QueryDeviceInfo(kRouterMac, block), 3);
}

TEST_F(EngineTest, ReadBinHeaderTellsMissingFromHeaderless) {
  DeviceInfoBlock block{};
  EXPECT_EQ(HLdownload(engine).ReadBinHeader("absent.bin", block), 2);
  images.put("plain.bin", std::vector<std::uint8_t>(5000, 'v'));
  EXPECT_EQ(HLdownload(engine).ReadBinHeader("plain.bin", block), 3);
  images.put("good.bin", make_image(5000, 0x0102));
  EXPECT_EQ(HLdownload(engine).ReadBinHeader("good.bin", block), 0);
  EXPECT_EQ(version_text(block), "V0.1.02");
}

// ---- whole transfers ----

class TransferSizeTest : public EngineTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(TransferSizeTest, TheRouterReceivesTheImageByteForByte) {
  auto image = make_image(GetParam());
  run_transfer(image);
  ASSERT_TRUE(succeeded()) << "error " << engine.transfer.error;
  EXPECT_EQ(router.image(), image);
  EXPECT_TRUE(router.committed());
  std::size_t blocks = (image.size() + kBlockSize - 1) / kBlockSize;
  EXPECT_EQ(count_sent(kOpProgram), static_cast<int>(blocks));
  EXPECT_EQ(count_sent(kOpVerify), static_cast<int>(blocks));
  EXPECT_EQ(router.counters().verify_mismatches, 0u);
  EXPECT_EQ(engine.transfer.image, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TransferSizeTest,
                         ::testing::Values(100, 511, 512, 513, 3 * 512, (1u << 20) + 4096 + 7));

TEST_F(EngineTest, FramesCarryTheWireOffsetAndSequence) {
  run_transfer(make_image(3 * 512));
  std::vector<std::vector<std::uint8_t>> program, verify;
  for (auto &f : link.sent) {
    if (get_le16(&f[14]) == kOpProgram) program.push_back(f);
    if (get_le16(&f[14]) == kOpVerify) verify.push_back(f);
  }
  ASSERT_EQ(program.size(), 3u);
  std::uint16_t start_seq = get_le16(&link.sent.front()[16]);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(program[i].size(), 24u + 512u);
    EXPECT_EQ(get_le16(&program[i][16]), static_cast<std::uint16_t>(start_seq + 1 + i));
    EXPECT_EQ(get_le16(&program[i][20]), 32 * i);  // 512-byte blocks are 32 units of 16 bytes
    EXPECT_EQ(get_le16(&verify[i][20]), 32 * i);
    EXPECT_EQ(get_le16(&verify[i][16]), static_cast<std::uint16_t>(start_seq + 4 + i));
  }
  EXPECT_EQ(link.sent.back().size(), 64u);  // the end request
}

TEST_F(EngineTest, SegmentsWrapEveryMebibyteOnTheWire) {
  run_transfer(make_image((1u << 20) + 1024));
  std::vector<std::uint16_t> segments;
  for (auto &f : link.sent)
    if (get_le16(&f[14]) == kOpProgram) segments.push_back(get_le16(&f[20]));
  ASSERT_EQ(segments.size(), 2050u);
  EXPECT_EQ(segments[2047], 0xFFE0);
  EXPECT_EQ(segments[2048], 0x0000);
  EXPECT_TRUE(succeeded());
}

TEST_F(EngineTest, ProgressGoesZeroToHundredThenVerifyingThenNothingAfterTheEnd) {
  run_transfer(make_image(100 * 512));
  ASSERT_FALSE(host.posts.empty());
  EXPECT_EQ(host.posts.front(), std::make_pair(std::intptr_t{0}, std::intptr_t{0}));
  std::intptr_t previous = -1;
  for (auto [w, l] : host.posts) {
    EXPECT_EQ(l, 0);
    EXPECT_GT(w, previous);
    EXPECT_LE(w, 199);
    previous = w;
  }
  EXPECT_EQ(host.posts.size(), 1u + 99u + 99u);
}

TEST_F(EngineTest, AnEmptyImageIsRefusedBeforeTheStartRequest) {
  run_transfer({});
  // A start may already erase the flash: nothing at all goes out for an empty image.
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(host.posts, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{kProgressFailed, 11}}));
  EXPECT_EQ(engine.transfer.image, nullptr);
  EXPECT_EQ(host.reboot_waits, 0);
}

TEST_F(EngineTest, AnImageChangedSinceTheSearchIsCheckedAgainBeforeTheStartRequest) {
  DeviceInfoBlock shown{};
  images.put(kImagePath, make_image(5000));
  ASSERT_EQ(HLdownload(engine).ReadBinHeader(kImagePath, shown), 0);
  // Replaced by a file without header, then cut short before its header ended.
  std::vector<std::vector<std::uint8_t>> changed{std::vector<std::uint8_t>(5000, 0x42), make_image(5000)};
  changed[1].resize(60);
  for (auto &image : changed) {
    SCOPED_TRACE(image.size());
    host.posts.clear();
    run_transfer(image);
    EXPECT_TRUE(link.sent.empty());
    EXPECT_EQ(host.posts, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{kProgressFailed, 11}}));
    EXPECT_EQ(engine.transfer.image, nullptr);
  }
  // Put back whole, the same path upgrades as usual.
  run_transfer(make_image(5000));
  EXPECT_TRUE(succeeded());
  EXPECT_EQ(router.image(), make_image(5000));
}

TEST_F(EngineTest, DuplicatedRepliesAreHarmless) {
  router.faults.reply_copies = 2;
  auto image = make_image(20 * 512 + 3);
  run_transfer(image);
  EXPECT_TRUE(succeeded());
  EXPECT_EQ(router.image(), image);
  EXPECT_EQ(count_sent(kOpProgram), 21);
}

// An image produced on the fly, too large to keep in memory twice.
class GeneratedImage final : public ImageStore {
 public:
  explicit GeneratedImage(std::uint64_t size) : size_(size) {}
  std::unique_ptr<ImageReader> open(const std::string &) override { return std::make_unique<Reader>(size_); }

 private:
  struct Reader final : ImageReader {
    explicit Reader(std::uint64_t size) : length(size) {}
    std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> out) override {
      if (offset >= length) return 0;
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), length - offset));
      for (std::size_t i = 0; i < n; ++i) out[i] = byte_at(offset + i);
      return n;
    }
    // A header at the start, as the upgrade requires; generated bytes after it.
    static std::uint8_t byte_at(std::uint64_t at) {
      if (at < kHeaderMarkSize) return static_cast<std::uint8_t>(kHeaderMark[at]);
      if (at >= 63 && at < 63 + kHeaderMarkSize) return static_cast<std::uint8_t>(kHeaderMark[at - 63]);
      return static_cast<std::uint8_t>(at * 31);
    }
    std::optional<std::uint64_t> size() override { return length; }
    std::uint64_t length;
  };
  std::uint64_t size_;
};

TEST_F(EngineTest, PercentagesStayRightForImagesOfTensOfMegabytes) {
  GeneratedImage big(50u << 20);
  UpgradeEngine big_engine(link, link, host, big);
  HLupgrade(big_engine).run(kRouterName, "big");
  ASSERT_EQ(host.reboot_waits, 1);
  std::intptr_t previous = -1;
  for (auto [w, l] : host.posts) {
    ASSERT_GT(w, previous);
    previous = w;
  }
  // 0, 1..99 while programming, then 100..199 while verifying (the first blocks verified are at 0 %).
  EXPECT_EQ(host.posts.size(), 1u + 99u + 100u);
  EXPECT_EQ(host.posts.back().first, 199);
}

TEST_F(EngineTest, StartAcknowledgedWithOpcodeFiveWorksTheSame) {
  router.faults.start_ack_opcode5 = true;
  run_transfer(make_image(2000));
  EXPECT_TRUE(succeeded());
}

// ---- retries and timeouts ----

TEST_F(EngineTest, LostAcknowledgementsAreCoveredByRetransmissionWithoutDoubleWrites) {
  router.faults.drop_replies[kOpStart] = 2;
  router.faults.drop_replies[kOpProgram] = 3;
  router.faults.drop_replies[kOpVerify] = 2;
  router.faults.drop_replies[kOpEnd] = 1;
  auto image = make_image(5000);
  run_transfer(image);
  EXPECT_TRUE(succeeded());
  EXPECT_EQ(router.image(), image);
  EXPECT_EQ(router.counters().program_retransmissions, 3u);
}

TEST_F(EngineTest, AnAcknowledgementWithAnotherSegmentIsIgnoredAndTheBlockResent) {
  router.faults.wrong_segment[kOpProgram] = 1;
  auto image = make_image(3000);
  run_transfer(image);
  EXPECT_TRUE(succeeded());
  EXPECT_EQ(count_sent(kOpProgram), 6 + 1);
  EXPECT_EQ(router.image(), image);
}

TEST_F(EngineTest, AnAcknowledgementWithoutItsStatusWordIsNeverMatched) {
  router.faults.short_replies[kOpProgram] = 1;
  router.faults.short_replies[kOpEnd] = 1;
  run_transfer(make_image(1500));
  EXPECT_TRUE(succeeded());
  EXPECT_EQ(count_sent(kOpProgram), 3 + 1);
  EXPECT_EQ(count_sent(kOpEnd), 2);
}

TEST_F(EngineTest, ASilentRouterFailsTheProgrammingStateAtItsSixtiethTimeout) {
  router.faults.drop_replies[kOpProgram] = 1000;
  std::uint32_t start = link.now_ms();
  run_transfer(make_image(3000));
  EXPECT_EQ(last_post(), std::make_pair(kProgressFailed, std::intptr_t{kErrNoAnswer}));
  EXPECT_EQ(count_sent(kOpProgram), 60);
  EXPECT_NEAR(link.now_ms() - start, 60 * 1980, 60 * 110);
  EXPECT_EQ(host.reboot_waits, 0);
  EXPECT_EQ(engine.transfer.image, nullptr);
}

TEST_F(EngineTest, VerificationWithoutAnswerIsGivenUpAndTheEndSent) {
  router.faults.silent_verify = true;
  run_transfer(make_image(1024));
  EXPECT_EQ(count_sent(kOpVerify), 60);
  EXPECT_TRUE(succeeded());
}

TEST_F(EngineTest, NoSpuriousTimeoutWhenTheTickCountWraps) {
  VirtualLink wrapping(0xFFFFFFFFu - 3000);
  peer::RouterPeer peer(kRouterMac, 0x1023);
  wrapping.attach(peer);
  RecordingHost wrap_host;
  UpgradeEngine wrap_engine(wrapping, wrapping, wrap_host, images);
  images.put(kImagePath, make_image(40 * 512));
  wrapping.latency_ms = 300;
  HLupgrade(wrap_engine).run(kRouterName, kImagePath);
  EXPECT_EQ(wrap_host.reboot_waits, 1);
  EXPECT_EQ(peer.counters().program_retransmissions, 0u);
  EXPECT_LT(wrapping.now_ms(), 0x10000000u);  // the run did cross the wrap
}

// ---- refusals and failures ----

TEST_F(EngineTest, ADeviceStatusEndsTheTransferWithThatCode) {
  router.faults.program_status_at_block = std::make_pair(2u, std::uint16_t{14});
  run_transfer(make_image(4000));
  EXPECT_EQ(last_post(), std::make_pair(kProgressFailed, std::intptr_t{14}));
  EXPECT_EQ(count_sent(kOpEnd), 0);
  router.faults.program_status_at_block.reset();
  router.faults.start_status = 10;
  run_transfer(make_image(4000));
  EXPECT_EQ(last_post(), std::make_pair(kProgressFailed, std::intptr_t{10}));
}

TEST_F(EngineTest, AnyRefusedEndShowsAsProgrammingError) {
  router.faults.end_status = 13;
  run_transfer(make_image(4000));
  EXPECT_EQ(last_post(), std::make_pair(kProgressFailed, std::intptr_t{kErrEndRefused}));
  EXPECT_EQ(host.reboot_waits, 0);
}

TEST_F(EngineTest, AReadErrorFailsTheTransferInsteadOfEndingTheImageEarly) {
  images.fail_from = 9 * 512;  // past the header check's first read
  run_transfer(make_image(20 * 512));
  EXPECT_EQ(last_post(), std::make_pair(kProgressFailed, std::intptr_t{kErrInternal}));
  EXPECT_EQ(count_sent(kOpEnd), 0);
  EXPECT_EQ(count_sent(kOpVerify), 0);
  EXPECT_FALSE(router.committed());
}

TEST_F(EngineTest, ARunThatCannotStartStillReportsSoTheDialogRecovers) {
  HLupgrade(engine).run(kRouterName, "absent.bin");
  EXPECT_EQ(host.posts, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{kProgressFailed, 0}}));
  EXPECT_TRUE(link.sent.empty());

  host.posts.clear();
  HLupgrade(engine).run("not a name", kImagePath);
  EXPECT_EQ(host.posts.size(), 1u);

  host.posts.clear();
  link.fail_sends = 1;
  run_transfer(make_image(1000));
  EXPECT_EQ(host.posts, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{kProgressFailed, 0}}));
  EXPECT_EQ(engine.transfer.image, nullptr);
}

TEST_F(EngineTest, ARetransmissionThatCannotBeSentEndsTheRunWithTheGeneralFailure) {
  router.faults.drop_replies[kOpStart] = 1;
  link.send_limit = 1;
  run_transfer(make_image(1000));
  EXPECT_EQ(sent_opcodes(), std::vector<std::uint16_t>{kOpStart});
  EXPECT_EQ(host.posts, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{kProgressFailed, 0}}));
  EXPECT_EQ(engine.transfer.image, nullptr);
}

TEST_F(EngineTest, AFrameThatCannotBeSentEndsTheRunAtOnce) {
  // Two blocks: start, program 1 and 2, verify 1 and 2, end. Each limit fails the send after it.
  const std::pair<std::size_t, TransferState> cases[] = {{2, TransferState::kProgramming},
                                                         {3, TransferState::kVerifying},
                                                         {4, TransferState::kVerifying},
                                                         {5, TransferState::kEndSent}};
  for (auto [limit, state] : cases) {
    SCOPED_TRACE(limit);
    link.sent.clear();
    host.posts.clear();
    link.send_limit = limit;
    std::uint32_t start = link.now_ms();
    run_transfer(make_image(1000));
    // No retransmission waits for a timeout: a dead adapter shows at once, not after minutes.
    EXPECT_LT(link.now_ms() - start, kTimeoutUnitMs);
    EXPECT_EQ(link.sent.size(), limit);
    EXPECT_EQ(engine.transfer.state, state);
    EXPECT_EQ(host.posts.back(), std::make_pair(kProgressFailed, kGeneralFailure));
    EXPECT_EQ(host.reboot_waits, 0);
    EXPECT_EQ(engine.transfer.image, nullptr);
  }
}

TEST_F(EngineTest, RepliesFromOtherStationsOrTheOtherEtherTypeAreForeign) {
  images.put(kImagePath, make_image(1000));
  HLupgrade upgrade(engine);
  ASSERT_EQ(upgrade.StartTransfer(kRouterMac, kImagePath), 0);
  std::vector<std::uint8_t> ack(60, 0);
  std::copy(kRouterMac.begin(), kRouterMac.end(), ack.begin() + 6);
  ack[12] = ack[13] = 0x88;
  put_le16(&ack[14], kOpStart);
  put_le16(&ack[16], engine.transfer.sequence);
  put_le16(&ack[22], 2);
  std::vector<std::uint8_t> other_type = ack;
  other_type[12] = other_type[13] = 0;
  std::vector<std::uint8_t> other_source = ack;
  other_source[11] ^= 1;
  EXPECT_EQ(upgrade.HandleUpgradeReply(*parse_frame(other_type)), kForeignFrame);
  EXPECT_EQ(upgrade.HandleUpgradeReply(*parse_frame(other_source)), kForeignFrame);
  EXPECT_EQ(engine.transfer.state, TransferState::kStartSent);
  EXPECT_EQ(upgrade.HandleUpgradeReply(*parse_frame(ack)), kHandled);
  EXPECT_EQ(engine.transfer.state, TransferState::kProgramming);
}

}  // namespace
}  // namespace upgrade
