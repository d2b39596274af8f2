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

std::vector<std::uint8_t> MakeImage(std::size_t size, std::uint16_t version = 0x1100) {
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
  EngineTest() : router(kRouterMac, 0x1023), engine(link, link, host, images) { link.Attach(router); }

  std::vector<std::uint16_t> SentOpcodes() const {
    std::vector<std::uint16_t> ops;
    for (auto &f : link.sent) ops.push_back(GetLe16(&f[14]));
    return ops;
  }
  int CountSent(std::uint16_t opcode) const {
    auto ops = SentOpcodes();
    return static_cast<int>(std::count(ops.begin(), ops.end(), opcode));
  }
  void RunTransfer(std::vector<std::uint8_t> image) {
    images.Put(kImagePath, std::move(image));
    HLupgrade(engine).Run(kRouterName, kImagePath);
  }
  bool Succeeded() const { return host.rebootWaits == 1 && engine.transfer.state == TransferState::kDone; }
  std::pair<std::intptr_t, std::intptr_t> LastPost() const { return host.posts.back(); }

  VirtualLink link;
  peer::RouterPeer router;
  RecordingHost host;
  MemoryImageStore images;
  UpgradeEngine engine;
};

// ---- discovery ----

TEST_F(EngineTest, ScanFindsTheRouterWithThreeDiscoversInAboutSixSeconds) {
  std::vector<std::string> names;
  std::uint32_t start = link.NowMs();
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 1);
  EXPECT_EQ(names, std::vector<std::string>{kRouterName});
  EXPECT_EQ(engine.variant, 1);
  EXPECT_EQ(CountSent(kOpInfo), 3);
  EXPECT_NEAR(link.NowMs() - start, 3 * 1980, 200);
  for (auto &f : link.sent) EXPECT_EQ(0, std::memcmp(f.data(), kBroadcastMac.data(), 6));
}

TEST_F(EngineTest, ADeviceAnsweringTwiceIsListedOnce) {
  router.faults.replyCopies = 2;
  std::vector<std::string> names;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 1);
}

TEST_F(EngineTest, TwoDevicesAreListedInByteOrder) {
  peer::RouterPeer other({0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}, 0x0001);
  link.Attach(other);
  std::vector<std::string> names;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 2);
  EXPECT_EQ(names, (std::vector<std::string>{"000A0B0C0D0E", kRouterName}));
}

TEST_F(EngineTest, NoAnswerUnder8888RepeatsTheScanUnder0000AndTheTransferKeepsIt) {
  router.acceptedEtherTypes = {0x0000};
  std::vector<std::string> names;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 1);
  EXPECT_EQ(engine.variant, 0);
  EXPECT_EQ(CountSent(kOpInfo), 6);
  RunTransfer(MakeImage(3000));
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(router.image(), MakeImage(3000));
  EXPECT_EQ(link.sent.back()[12], 0x00);
}

TEST_F(EngineTest, NobodyAnswersGivesAnEmptyListAfterBothVariants) {
  router.faults.silent = true;
  std::vector<std::string> names{"stale"};
  std::uint32_t start = link.NowMs();
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 0);
  EXPECT_TRUE(names.empty());
  EXPECT_NEAR(link.NowMs() - start, 6 * 1980, 400);
}

TEST_F(EngineTest, ADiscoverThatCannotBeSentFailsTheScan) {
  link.failSends = 2;
  std::vector<std::string> names;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), -1);
  link.failSends = 0;
  link.ownMacFails = true;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), -1);
}

TEST_F(EngineTest, StrayFramesDoNotBecomeDevices) {
  std::vector<std::uint8_t> runt(20, 0);
  link.Inject(runt);
  peer::RouterPeer groupSource({0x03, 0x00, 0x00, 0x00, 0x00, 0x01}, 1);
  peer::RouterPeer shortInfo({0x00, 0x00, 0x00, 0x00, 0x00, 0x02}, 1);
  shortInfo.faults.shortReplies[0] = 10;
  link.Attach(groupSource);
  link.Attach(shortInfo);
  router.faults.silent = true;
  std::vector<std::string> names;
  EXPECT_EQ(HLdownload(engine).ScanDevices(names), 0);
}

// ---- information query ----

TEST_F(EngineTest, InformationQueryFillsTheBlock) {
  DeviceInfoBlock block{};
  EXPECT_EQ(HLdownload(engine).QueryDeviceInfo(kRouterMac, block), 0);
  EXPECT_EQ(VersionText(block), "V1.0.23");
  EXPECT_EQ(engine.transfer.infoTarget, nullptr);
}

TEST_F(EngineTest, InformationQueryRetriesALostAnswerAndIgnoresAShortOne) {
  router.faults.dropReplies[kOpInfo] = 1;
  router.faults.shortReplies[kOpInfo] = 1;
  DeviceInfoBlock block{};
  EXPECT_EQ(HLdownload(engine).QueryDeviceInfo(kRouterMac, block), 0);
  EXPECT_EQ(CountSent(kOpInfo), 3);
  EXPECT_EQ(VersionText(block), "V1.0.23");
}

TEST_F(EngineTest, InformationQueryGivesUpAtTheSixtiethTimeout) {
  router.faults.silent = true;
  DeviceInfoBlock block{};
  std::uint32_t start = link.NowMs();
  EXPECT_EQ(HLdownload(engine).QueryDeviceInfo(kRouterMac, block), kErrNoAnswer);
  EXPECT_EQ(CountSent(kOpInfo), 60);
  EXPECT_NEAR(link.NowMs() - start, 60 * 990, 60 * 110);
}

TEST_F(EngineTest, InformationQueryThatCannotBeSentGivesThree) {
  link.ownMacFails = true;
  DeviceInfoBlock block{};
  EXPECT_EQ(HLdownload(engine).QueryDeviceInfo(kRouterMac, block), 3);
}

TEST_F(EngineTest, ReadBinHeaderTellsMissingFromHeaderless) {
  DeviceInfoBlock block{};
  EXPECT_EQ(HLdownload(engine).ReadBinHeader("absent.bin", block), 2);
  images.Put("plain.bin", std::vector<std::uint8_t>(5000, 'v'));
  EXPECT_EQ(HLdownload(engine).ReadBinHeader("plain.bin", block), 3);
  images.Put("good.bin", MakeImage(5000, 0x0102));
  EXPECT_EQ(HLdownload(engine).ReadBinHeader("good.bin", block), 0);
  EXPECT_EQ(VersionText(block), "V0.1.02");
}

// ---- whole transfers ----

class TransferSizeTest : public EngineTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(TransferSizeTest, TheRouterReceivesTheImageByteForByte) {
  auto image = MakeImage(GetParam());
  RunTransfer(image);
  ASSERT_TRUE(Succeeded()) << "error " << engine.transfer.error;
  EXPECT_EQ(router.image(), image);
  EXPECT_TRUE(router.committed());
  std::size_t blocks = (image.size() + kBlockSize - 1) / kBlockSize;
  EXPECT_EQ(CountSent(kOpProgram), static_cast<int>(blocks));
  EXPECT_EQ(CountSent(kOpVerify), static_cast<int>(blocks));
  EXPECT_EQ(router.counters().verifyMismatches, 0u);
  EXPECT_EQ(engine.transfer.image, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TransferSizeTest,
                         ::testing::Values(100, 511, 512, 513, 3 * 512, (1u << 20) + 4096 + 7));

TEST_F(EngineTest, FramesCarryTheWireOffsetAndSequence) {
  RunTransfer(MakeImage(3 * 512));
  std::vector<std::vector<std::uint8_t>> program, verify;
  for (auto &f : link.sent) {
    if (GetLe16(&f[14]) == kOpProgram) program.push_back(f);
    if (GetLe16(&f[14]) == kOpVerify) verify.push_back(f);
  }
  ASSERT_EQ(program.size(), 3u);
  std::uint16_t startSeq = GetLe16(&link.sent.front()[16]);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(program[i].size(), 24u + 512u);
    EXPECT_EQ(GetLe16(&program[i][16]), static_cast<std::uint16_t>(startSeq + 1 + i));
    EXPECT_EQ(GetLe16(&program[i][20]), 32 * i);  // 512-byte blocks are 32 units of 16 bytes
    EXPECT_EQ(GetLe16(&verify[i][20]), 32 * i);
    EXPECT_EQ(GetLe16(&verify[i][16]), static_cast<std::uint16_t>(startSeq + 4 + i));
  }
  EXPECT_EQ(link.sent.back().size(), 64u);  // the end request
}

TEST_F(EngineTest, SegmentsWrapEveryMebibyteOnTheWire) {
  RunTransfer(MakeImage((1u << 20) + 1024));
  std::vector<std::uint16_t> segments;
  for (auto &f : link.sent)
    if (GetLe16(&f[14]) == kOpProgram) segments.push_back(GetLe16(&f[20]));
  ASSERT_EQ(segments.size(), 2050u);
  EXPECT_EQ(segments[2047], 0xFFE0);
  EXPECT_EQ(segments[2048], 0x0000);
  EXPECT_TRUE(Succeeded());
}

TEST_F(EngineTest, ProgressGoesZeroToHundredThenVerifyingThenNothingAfterTheEnd) {
  RunTransfer(MakeImage(100 * 512));
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

TEST_F(EngineTest, EmptyImageGoesFromStartStraightToEnd) {
  RunTransfer({});
  EXPECT_EQ(SentOpcodes(), (std::vector<std::uint16_t>{kOpStart, kOpEnd}));
  // The router refuses an image without a header; the engine shows a programming error.
  EXPECT_EQ(LastPost(), std::make_pair(kProgressFailed, std::intptr_t{kErrEndRefused}));
}

TEST_F(EngineTest, DuplicatedRepliesAreHarmless) {
  router.faults.replyCopies = 2;
  auto image = MakeImage(20 * 512 + 3);
  RunTransfer(image);
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(router.image(), image);
  EXPECT_EQ(CountSent(kOpProgram), 21);
}

// An image produced on the fly, too large to keep in memory twice.
class GeneratedImage final : public ImageStore {
 public:
  explicit GeneratedImage(std::uint64_t size) : size_(size) {}
  std::unique_ptr<ImageReader> Open(const std::string &) override { return std::make_unique<Reader>(size_); }

 private:
  struct Reader final : ImageReader {
    explicit Reader(std::uint64_t size) : size(size) {}
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
      if (offset >= size) return 0;
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size - offset));
      for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((offset + i) * 31);
      return n;
    }
    std::optional<std::uint64_t> Size() override { return size; }
    std::uint64_t size;
  };
  std::uint64_t size_;
};

TEST_F(EngineTest, PercentagesStayRightForImagesOfTensOfMegabytes) {
  GeneratedImage big(50u << 20);
  UpgradeEngine bigEngine(link, link, host, big);
  router.faults.endStatus = 0;  // the generated bytes carry no header; only the percentages matter here
  HLupgrade(bigEngine).Run(kRouterName, "big");
  ASSERT_EQ(host.rebootWaits, 1);
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
  router.faults.startAckOpcode5 = true;
  RunTransfer(MakeImage(2000));
  EXPECT_TRUE(Succeeded());
}

// ---- retries and timeouts ----

TEST_F(EngineTest, LostAcknowledgementsAreCoveredByRetransmissionWithoutDoubleWrites) {
  router.faults.dropReplies[kOpStart] = 2;
  router.faults.dropReplies[kOpProgram] = 3;
  router.faults.dropReplies[kOpVerify] = 2;
  router.faults.dropReplies[kOpEnd] = 1;
  auto image = MakeImage(5000);
  RunTransfer(image);
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(router.image(), image);
  EXPECT_EQ(router.counters().programRetransmissions, 3u);
}

TEST_F(EngineTest, AnAcknowledgementWithAnotherSegmentIsIgnoredAndTheBlockResent) {
  router.faults.wrongSegment[kOpProgram] = 1;
  auto image = MakeImage(3000);
  RunTransfer(image);
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(CountSent(kOpProgram), 6 + 1);
  EXPECT_EQ(router.image(), image);
}

TEST_F(EngineTest, AnAcknowledgementWithoutItsStatusWordIsNeverMatched) {
  router.faults.shortReplies[kOpProgram] = 1;
  router.faults.shortReplies[kOpEnd] = 1;
  RunTransfer(MakeImage(1500));
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(CountSent(kOpProgram), 3 + 1);
  EXPECT_EQ(CountSent(kOpEnd), 2);
}

TEST_F(EngineTest, ASilentRouterFailsTheProgrammingStateAtItsSixtiethTimeout) {
  router.faults.dropReplies[kOpProgram] = 1000;
  std::uint32_t start = link.NowMs();
  RunTransfer(MakeImage(3000));
  EXPECT_EQ(LastPost(), std::make_pair(kProgressFailed, std::intptr_t{kErrNoAnswer}));
  EXPECT_EQ(CountSent(kOpProgram), 60);
  EXPECT_NEAR(link.NowMs() - start, 60 * 1980, 60 * 110);
  EXPECT_EQ(host.rebootWaits, 0);
  EXPECT_EQ(engine.transfer.image, nullptr);
}

TEST_F(EngineTest, VerificationWithoutAnswerIsGivenUpAndTheEndSent) {
  router.faults.silentVerify = true;
  RunTransfer(MakeImage(1024));
  EXPECT_EQ(CountSent(kOpVerify), 60);
  EXPECT_TRUE(Succeeded());
}

TEST_F(EngineTest, NoSpuriousTimeoutWhenTheTickCountWraps) {
  VirtualLink wrapping(0xFFFFFFFFu - 3000);
  peer::RouterPeer peer(kRouterMac, 0x1023);
  wrapping.Attach(peer);
  RecordingHost wrapHost;
  UpgradeEngine wrapEngine(wrapping, wrapping, wrapHost, images);
  images.Put(kImagePath, MakeImage(40 * 512));
  wrapping.latencyMs = 300;
  HLupgrade(wrapEngine).Run(kRouterName, kImagePath);
  EXPECT_EQ(wrapHost.rebootWaits, 1);
  EXPECT_EQ(peer.counters().programRetransmissions, 0u);
  EXPECT_LT(wrapping.NowMs(), 0x10000000u);  // the run did cross the wrap
}

// ---- refusals and failures ----

TEST_F(EngineTest, ADeviceStatusEndsTheTransferWithThatCode) {
  router.faults.programStatusAtBlock = std::make_pair(2u, std::uint16_t{14});
  RunTransfer(MakeImage(4000));
  EXPECT_EQ(LastPost(), std::make_pair(kProgressFailed, std::intptr_t{14}));
  EXPECT_EQ(CountSent(kOpEnd), 0);
  router.faults.programStatusAtBlock.reset();
  router.faults.startStatus = 10;
  RunTransfer(MakeImage(4000));
  EXPECT_EQ(LastPost(), std::make_pair(kProgressFailed, std::intptr_t{10}));
}

TEST_F(EngineTest, AnyRefusedEndShowsAsProgrammingError) {
  router.faults.endStatus = 13;
  RunTransfer(MakeImage(4000));
  EXPECT_EQ(LastPost(), std::make_pair(kProgressFailed, std::intptr_t{kErrEndRefused}));
  EXPECT_EQ(host.rebootWaits, 0);
}

TEST_F(EngineTest, AReadErrorFailsTheTransferInsteadOfEndingTheImageEarly) {
  images.failFrom = 3 * 512;
  RunTransfer(MakeImage(10 * 512));
  EXPECT_EQ(LastPost(), std::make_pair(kProgressFailed, std::intptr_t{kErrInternal}));
  EXPECT_EQ(CountSent(kOpEnd), 0);
  EXPECT_EQ(CountSent(kOpVerify), 0);
  EXPECT_FALSE(router.committed());
}

TEST_F(EngineTest, ARunThatCannotStartStillReportsSoTheDialogRecovers) {
  HLupgrade(engine).Run(kRouterName, "absent.bin");
  EXPECT_EQ(host.posts, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{kProgressFailed, 0}}));
  EXPECT_TRUE(link.sent.empty());

  host.posts.clear();
  HLupgrade(engine).Run("not a name", kImagePath);
  EXPECT_EQ(host.posts.size(), 1u);

  host.posts.clear();
  link.failSends = 1;
  RunTransfer(MakeImage(1000));
  EXPECT_EQ(host.posts, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{kProgressFailed, 0}}));
  EXPECT_EQ(engine.transfer.image, nullptr);
}

TEST_F(EngineTest, ARetransmissionThatCannotBeSentEndsTheRunWithTheGeneralFailure) {
  router.faults.dropReplies[kOpStart] = 1;
  link.sendLimit = 1;
  RunTransfer(MakeImage(1000));
  EXPECT_EQ(SentOpcodes(), std::vector<std::uint16_t>{kOpStart});
  EXPECT_EQ(host.posts, (std::vector<std::pair<std::intptr_t, std::intptr_t>>{{kProgressFailed, 0}}));
  EXPECT_EQ(engine.transfer.image, nullptr);
}

TEST_F(EngineTest, RepliesFromOtherStationsOrTheOtherEtherTypeAreForeign) {
  images.Put(kImagePath, MakeImage(1000));
  HLupgrade upgrade(engine);
  ASSERT_EQ(upgrade.StartTransfer(kRouterMac, kImagePath), 0);
  std::vector<std::uint8_t> ack(60, 0);
  std::copy(kRouterMac.begin(), kRouterMac.end(), ack.begin() + 6);
  ack[12] = ack[13] = 0x88;
  PutLe16(&ack[14], kOpStart);
  PutLe16(&ack[16], engine.transfer.sequence);
  PutLe16(&ack[22], 2);
  std::vector<std::uint8_t> otherType = ack;
  otherType[12] = otherType[13] = 0;
  std::vector<std::uint8_t> otherSource = ack;
  otherSource[11] ^= 1;
  EXPECT_EQ(upgrade.HandleUpgradeReply(*ParseFrame(otherType)), kForeignFrame);
  EXPECT_EQ(upgrade.HandleUpgradeReply(*ParseFrame(otherSource)), kForeignFrame);
  EXPECT_EQ(engine.transfer.state, TransferState::kStartSent);
  EXPECT_EQ(upgrade.HandleUpgradeReply(*ParseFrame(ack)), kHandled);
  EXPECT_EQ(engine.transfer.state, TransferState::kProgramming);
}

}  // namespace
}  // namespace upgrade
