// Policy files: the format rules, and installing them through the daemon's segments into a module.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "client_state.h"
#include "fake_module.h"
#include "ipc.h"
#include "ipc_namespace.h"
#include "policy_builder.h"
#include "policy_format.h"
#include "rul_agent.h"
#include "vornagent.h"

namespace vornagent {
namespace {

using builder::PolicySpec;
using testing::FakeDevice;
using testing::FakeModule;

std::vector<uint8_t> words_payload(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> bytes(words.size() * 4);
  std::size_t i = 0;
  for (uint32_t w : words) store_little_endian32(&bytes[4 * i++], w);
  return bytes;
}

TEST(PolicyChecksum, WordsSummingToAllOnesPassAndZeroFails) {
  auto passing = words_payload({0x80000000u, 0x7FFFFFFFu});
  EXPECT_EQ(RulCheckSum(passing.data(), passing.size()), 0u);
  auto failing = words_payload({0x80000000u, 0x80000000u});
  EXPECT_EQ(RulCheckSum(failing.data(), failing.size()), 1u);
  // A remaining byte counts as a plain number: 0xFFFFFFFE + 0x01 + 1 wraps to 0.
  std::vector<uint8_t> odd = {0xFE, 0xFF, 0xFF, 0xFF, 0x01};
  EXPECT_EQ(RulCheckSum(odd.data(), odd.size()), 0u);
}

TEST(PolicyKey, LengthIsAddedToTheFirstLittleEndianWord) {
  uint8_t material[kKeySize] = {0xFF, 0xFF, 0xFF, 0xFF, 7};
  uint8_t key[kKeySize];
  build_policy_key(material, 2, key);
  EXPECT_EQ(load_little_endian32(key), 1u);
  EXPECT_EQ(key[4], 7);
}

PolicySpec sample_spec(uint32_t version = 0x00020005) {
  PolicySpec spec;
  spec.version = version;
  spec.attack_names = {"Zero", "Ping of Death", "Land"};
  spec.apps = {{0, 1, 0, 1, "MSN"}, {0, 2, 1, 1, "Yahoo"}, {1, 101, 0, 1, "BitTorrent"}};
  spec.rules = {{17, 0, 1, 1000, "SYN flood"}, {1, 0, 1, 100, "SYN scan"}};
  return spec;
}

TEST(PolicyFormat, LengthMustBeAWholeNumberOfBlocksWithinTheSegment) {
  ParsedPolicy parsed;
  std::vector<uint8_t> file = builder::build_policy_file(sample_spec());
  file.resize(kRawPolicySize, 0);
  EXPECT_EQ(parse_policy(file.data(), file.size(), kKeyMaterial, parsed), PolicyError::kNone);

  for (uint32_t length : {0u, 819200u}) {
    store_little_endian32(file.data(), length ^ kLengthMask);
    EXPECT_EQ(parse_policy(file.data(), file.size(), kKeyMaterial, parsed), PolicyError::kLength) << length;
  }
  store_little_endian32(file.data(), 1001 ^ kLengthMask);
  EXPECT_EQ(parse_policy(file.data(), file.size(), kKeyMaterial, parsed), PolicyError::kDecrypt);
}

TEST(PolicyFormat, APayloadOfAThousandBytesLoads) {
  std::vector<uint8_t> payload(kPolicyHeaderSize, 0);
  payload[21] = 1;
  payload[22] = 1;
  for (const auto &section :
       {builder::compressed_section(0, std::vector<uint8_t>(128, 'n')),
        builder::compressed_section(builder::kEngineTableId, std::vector<uint8_t>(64, 0))})
    payload.insert(payload.end(), section.begin(), section.end());
  ASSERT_LT(payload.size() + kTrailerSize + 4, 1000u);
  payload.resize(1000, 0);
  builder::fix_payload_checksum(payload);
  std::vector<uint8_t> file = builder::seal_policy(payload, kKeyMaterial);
  ParsedPolicy parsed;
  EXPECT_EQ(parse_policy(file.data(), file.size(), kKeyMaterial, parsed), PolicyError::kNone);
  EXPECT_EQ(parsed.payload_length, 1000u);
}

TEST(PolicyFormat, TwoCompressedSectionsLieBackToBack) {
  PolicySpec spec = sample_spec();
  spec.extra_sections = {std::vector<uint8_t>(100, 0x5A)};
  std::vector<uint8_t> file = builder::build_policy_file(spec);
  ParsedPolicy parsed;
  ASSERT_EQ(parse_policy(file.data(), file.size(), kKeyMaterial, parsed), PolicyError::kNone);
  ASSERT_EQ(parsed.sections.size(), 2u);
  EXPECT_EQ(parsed.sections[0].offset, 0u);
  EXPECT_EQ(parsed.sections[0].size, 3u * 64);
  EXPECT_EQ(parsed.sections[1].offset, 3u * 64);
  EXPECT_EQ(parsed.sections[1].size, 100u);
  EXPECT_EQ(parsed.decompressed[3 * 64 + 99], 0x5A);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(&parsed.decompressed[64])), "Ping of Death");
  EXPECT_EQ(load_little_endian32(parsed.download.data()), builder::kEngineTableId);
}

TEST(PolicyFormat, LaterDownloadSectionsAreSkipped) {
  PolicySpec spec = sample_spec();
  spec.extra_download_sections = 1;
  std::vector<uint8_t> file = builder::build_policy_file(spec);
  ParsedPolicy parsed;
  ASSERT_EQ(parse_policy(file.data(), file.size(), kKeyMaterial, parsed), PolicyError::kNone);
  EXPECT_EQ(parsed.download_count, 2);
}

// Payload damage that the payload checksum does not catch, because the file was sealed afresh.
PolicyError parse_damaged(const std::function<void(std::vector<uint8_t> &)> &damage) {
  std::vector<uint8_t> payload = builder::build_payload(sample_spec());
  damage(payload);
  builder::fix_payload_checksum(payload);
  std::vector<uint8_t> file = builder::seal_policy(payload, kKeyMaterial);
  ParsedPolicy parsed;
  return parse_policy(file.data(), file.size(), kKeyMaterial, parsed);
}

constexpr std::size_t kFirstSection = kPolicyHeaderSize;

TEST(PolicyFormat, EveryDamageIsRefusedWithItsKind) {
  EXPECT_EQ(parse_damaged([](auto &p) { p[21] = 9; }), PolicyError::kFormat);
  EXPECT_EQ(parse_damaged([](auto &p) { p[22] = 0; }), PolicyError::kFormat);
  EXPECT_EQ(parse_damaged([](auto &p) { store_little_endian32(&p[kFirstSection + 8], 0xFFFFFFF0u); }),
            PolicyError::kFormat);
  EXPECT_EQ(parse_damaged([](auto &p) {
              store_little_endian32(&p[kFirstSection + 8], static_cast<uint32_t>(p.size()));
            }),
            PolicyError::kFormat);
  // Section check word.
  EXPECT_EQ(parse_damaged([](auto &p) { p[kFirstSection + 12] ^= 1; }), PolicyError::kDecompress);
  // A zlib stream that is broken but carries a valid check word.
  EXPECT_EQ(parse_damaged([](auto &p) {
              uint32_t c = load_little_endian32(&p[kFirstSection + 8]);
              uint8_t *stream = &p[kFirstSection + 12];
              stream[2] ^= 0xFF;
              store_little_endian32(stream + c, -RulCheckSum(stream, c));
            }),
            PolicyError::kDecompress);
  // Original sizes adding up past what memory may take.
  EXPECT_EQ(parse_damaged([](auto &p) { store_little_endian32(&p[kFirstSection + 4], 0xFFFFFFF0u); }),
            PolicyError::kDecompress);
}

TEST(PolicyFormat, AFlippedEncryptedByteFailsThePayloadChecksum) {
  std::vector<uint8_t> file = builder::build_policy_file(sample_spec());
  file[40] ^= 0x10;
  ParsedPolicy parsed;
  EXPECT_EQ(parse_policy(file.data(), file.size(), kKeyMaterial, parsed), PolicyError::kChecksum);
}

TEST(PolicyFormat, AnotherKeyCannotReadTheFile) {
  std::vector<uint8_t> file = builder::build_policy_file(sample_spec());
  uint8_t other[kKeySize];
  std::memcpy(other, kKeyMaterial, kKeySize);
  other[49] ^= 1;
  ParsedPolicy parsed;
  EXPECT_EQ(parse_policy(file.data(), file.size(), other, parsed), PolicyError::kChecksum);
}

// --- installing through the daemon's segments ------------------------------------------------------

class PolicyInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(enter_fresh_ipc_namespace());
    log = std::filesystem::temp_directory_path() / ("vornagent-glb." + std::to_string(getpid()));
    std::filesystem::remove(log);
    setenv("VORNAGENT_DEBUG_LOG", log.c_str(), 1);
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(kaStartup(), 0);
  }
  void TearDown() override {
    kaShutDown();
    ::testing::internal::GetCapturedStdout();
    unsetenv("VORNAGENT_DEBUG_LOG");
    std::filesystem::remove(log);
  }

  void upload(const std::vector<uint8_t> &file) {
    void *segment = nullptr;
    int size = 0;
    ASSERT_EQ(kaGetSharedMemory(&segment, &size), 0);
    std::memset(segment, 0, static_cast<std::size_t>(size));
    std::memcpy(segment, file.data(), std::min(file.size(), static_cast<std::size_t>(size)));
    ASSERT_EQ(kaReleaseSharedMemory(&segment), 0);
  }

  std::string debug_log() const {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string attack_name(uint32_t id) {
    kaGetRawDataShm();
    const ClientAttachments &c = client_attachments();
    std::string name;
    if (c.sections && (id + 1) * 64 <= c.sections_size)
      name = reinterpret_cast<const char *>(c.sections + id * 64);
    kaReleaseRawDataShm();
    return name;
  }

  std::pair<int, int> version() {
    int a = -1, b = -1;
    EXPECT_EQ(kaGetSigVer(&a, &b), 0);
    return {a, b};
  }

  std::filesystem::path log;
  FakeModule module = without_policy();
  FakeDevice device{module};

  static FakeModule without_policy() {
    FakeModule module;
    module.state = 4;
    return module;
  }
};

TEST_F(PolicyInstallTest, AValidPolicyReachesTheModuleTheNamesAndTheMirror) {
  upload(builder::build_policy_file(sample_spec()));
  ASSERT_EQ(kaUpdateSig(), 0);
  EXPECT_EQ(version(), std::make_pair(5, 2));
  EXPECT_EQ(attack_name(1), "Ping of Death");
  EXPECT_EQ(module.state, 8u);
  EXPECT_NE(module.last_download_address, 0u);
  EXPECT_EQ(module.commands.front(), kIocLoadRuleTables);
  EXPECT_EQ(module.commands[1], kIocSetStatus);

  CmdAgnt mirror{};
  ASSERT_EQ(kaGetAllAppInfo(&mirror), 0);
  EXPECT_EQ(mirror.app_count[kKaAppIm], 2u);
  EXPECT_STREQ(mirror.app[kKaAppP2P][0].name, "BitTorrent");
  IM_P2P_AD_Info off{};
  std::strcpy(off.name, "Yahoo");
  EXPECT_EQ(kaSetAppInfo(&off, kKaAppIm), 0);  // the daemon's mirror was refreshed by the load
  EXPECT_EQ(module.apps[2].action, 0);
  EXPECT_TRUE(debug_log().empty());
}

TEST_F(PolicyInstallTest, DamagedFilesAreRefusedAndTheRunningPolicyStays) {
  upload(builder::build_policy_file(sample_spec(0x00010003)));
  ASSERT_EQ(kaUpdateSig(), 0);
  std::size_t commands = module.commands.size();

  std::vector<uint8_t> bad_mask = builder::build_policy_file(sample_spec());
  store_little_endian32(bad_mask.data(), 0 ^ kLengthMask);
  std::vector<uint8_t> bad_checksum = builder::build_policy_file(sample_spec());
  bad_checksum[100] ^= 4;
  std::vector<uint8_t> payload = builder::build_payload(sample_spec());
  store_little_endian32(&payload[kFirstSection + 8], 0x7FFFFFF0u);
  builder::fix_payload_checksum(payload);
  std::vector<uint8_t> bad_section = builder::seal_policy(payload, kKeyMaterial);

  payload = builder::build_payload(sample_spec());
  uint32_t c = load_little_endian32(&payload[kFirstSection + 8]);
  uint8_t *stream = &payload[kFirstSection + 12];
  stream[3] ^= 0x55;
  store_little_endian32(stream + c, -RulCheckSum(stream, c));
  builder::fix_payload_checksum(payload);
  std::vector<uint8_t> bad_stream = builder::seal_policy(payload, kKeyMaterial);

  for (const auto &file : {bad_mask, bad_checksum, bad_section, bad_stream}) {
    upload(file);
    EXPECT_EQ(kaUpdateSig(), -1);
  }
  EXPECT_EQ(debug_log(),
            "kaRulAgnt(270) : Read Policy File Len Error\n"
            "kaRulAgnt(293) : Check Policy File Fail\n"
            "kaRulAgnt(293) : Check Policy File Fail\n");
  std::string out = ::testing::internal::GetCapturedStdout();
  ::testing::internal::CaptureStdout();
  EXPECT_NE(out.find("kaRulAgnt(357) : Decompress Error\nException Handle\n"), std::string::npos);
  EXPECT_EQ(module.commands.size(), commands);
  EXPECT_EQ(version(), std::make_pair(3, 1));
  EXPECT_EQ(attack_name(2), "Land");
}

TEST_F(PolicyInstallTest, TheSameUploadCanBeInstalledTwice) {
  upload(builder::build_policy_file(sample_spec()));
  EXPECT_EQ(kaUpdateSig(), 0);
  EXPECT_EQ(kaUpdateSig(), 0);
}

TEST_F(PolicyInstallTest, InspectionSwitchedOffBeforeTheFirstPolicyStaysOffAfterIt) {
  EXPECT_EQ(kaSetIPSFunction(0), -1);  // no policy yet: the module cannot take it now
  upload(builder::build_policy_file(sample_spec()));
  ASSERT_EQ(kaUpdateSig(), 0);
  EXPECT_EQ(module.ips, 0u);
  int on = -1;
  EXPECT_EQ(kaGetIPSFunction(&on), 0);
  EXPECT_EQ(on, 0);

  EXPECT_EQ(kaSetIPSFunction(1), 0);
  ASSERT_EQ(kaUpdateSig(), 0);
  EXPECT_EQ(module.ips, 1u);
}

// The installed policy's record (version, names, the settings mirror) must survive a download that
// the module refuses or that never reaches it, just as it survives a damaged file.
class FailedDownloadTest : public PolicyInstallTest {
 protected:
  void install_first() {
    upload(builder::build_policy_file(sample_spec(0x00010003)));
    ASSERT_EQ(kaUpdateSig(), 0);
  }
  // A valid policy of another version with other names.
  static PolicySpec second_spec() {
    PolicySpec spec = sample_spec(0x00040009);
    spec.attack_names = {"Other", "Teardrop"};
    spec.apps = {{0, 1, 0, 1, "ICQ"}};
    return spec;
  }
  void expect_first_still_recorded() {
    EXPECT_EQ(version(), std::make_pair(3, 1));
    EXPECT_EQ(attack_name(1), "Ping of Death");
    EXPECT_EQ(attack_name(2), "Land");
    IM_P2P_AD_Info off{};
    std::strcpy(off.name, "Yahoo");
    EXPECT_EQ(kaSetAppInfo(&off, kKaAppIm), 0);
  }
};

TEST_F(FailedDownloadTest, ARefusedDownloadKeepsTheInstalledRecord) {
  install_first();
  PolicySpec spec = second_spec();
  spec.table_id = 0x20000002u;
  upload(builder::build_policy_file(spec));
  EXPECT_EQ(kaUpdateSig(), -1);
  std::string out = ::testing::internal::GetCapturedStdout();
  ::testing::internal::CaptureStdout();
  EXPECT_NE(
      out.find(
          "kaRulAgnt(225) : Load Policy Fail\nkaRulAgnt(367) : Download Kernel Error\nException Handle\n"),
      std::string::npos);
  EXPECT_EQ(module.state, 2u);
  module.state = 8;  // lets the settings command through, as a later good download would
  expect_first_still_recorded();
}

TEST_F(FailedDownloadTest, ADownloadWithoutTheModuleKeepsTheInstalledRecord) {
  install_first();
  module.device_present = false;
  upload(builder::build_policy_file(second_spec()));
  EXPECT_EQ(kaUpdateSig(), -1);
  module.device_present = true;
  expect_first_still_recorded();
  EXPECT_EQ(module.apps[2].action, 0);
}

TEST_F(PolicyInstallTest, WithoutADeviceTheLoadFailsAfterElevenTries) {
  module.device_present = false;
  upload(builder::build_policy_file(sample_spec()));
  EXPECT_EQ(kaUpdateSig(), -1);
  EXPECT_EQ(module.opens, 11);
  EXPECT_EQ(module.pauses, 10);
  EXPECT_TRUE(module.commands.empty());
}

}  // namespace
}  // namespace vornagent
