// The policy builder test tool: its description format and the sections it writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "policy_builder.h"
#include "policy_format.h"

namespace vornagent::builder {
namespace {

PolicySpec read(const std::string &text, const std::string &base = ".") {
  std::istringstream in(text);
  return read_description(in, base);
}

TEST(PolicyDescription, ReadsEveryKindOfLine) {
  PolicySpec spec = read(
      "# comment\n"
      "version 7 9\n"
      "name 2 Land Attack\n"
      "app p2p 150 3 0 eMule Client\n"
      "rule 18 1 1 2000 UDP Flood\n");
  EXPECT_EQ(spec.version, 0x00090007u);
  ASSERT_EQ(spec.attack_names.size(), 3u);
  EXPECT_EQ(spec.attack_names[2], "Land Attack");
  ASSERT_EQ(spec.apps.size(), 1u);
  EXPECT_EQ(spec.apps[0].type, 1);
  EXPECT_EQ(spec.apps[0].app_id, 150u);
  EXPECT_EQ(spec.apps[0].name, "eMule Client");
  ASSERT_EQ(spec.rules.size(), 1u);
  EXPECT_EQ(spec.rules[0].threshold, 2000u);
}

TEST(PolicyDescription, BadLinesNameTheirLine) {
  EXPECT_THROW(read("version 1\n"), std::runtime_error);
  try {
    read("version 1 1\napp im 150 0 1 Wrong Range\n");
    FAIL();
  } catch (const std::runtime_error &e) {
    EXPECT_EQ(std::string(e.what()).rfind("line 2:", 0), 0u) << e.what();
  }
  EXPECT_THROW(read("rule 40 0 1 1 Bad\n"), std::runtime_error);
  EXPECT_THROW(read("frobnicate\n"), std::runtime_error);
  EXPECT_THROW(read("image no-such-file\n"), std::runtime_error);
}

TEST(PolicyDescription, TablesAreWrittenOverAGivenEngineImage) {
  auto dir = std::filesystem::temp_directory_path() / ("vornpolicy-image." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "engine.img", std::ios::binary) << std::string(16, '\x7f');
  PolicySpec spec = read("image engine.img\napp im 1 0 1 MSN\n", dir.string());
  std::filesystem::remove_all(dir);
  std::vector<uint8_t> image = engine_image(spec);
  EXPECT_EQ(image[15], 0x7f);
  const std::size_t msn = 0xdc3a78 + 36;
  EXPECT_EQ(image[msn], 1);
  EXPECT_EQ(image[msn + 2], 1);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(&image[msn + 4])), "MSN");
}

TEST(PolicySections, CheckWordMakesTheSectionValid) {
  std::vector<uint8_t> section = compressed_section(3, std::vector<uint8_t>(1000, 9));
  uint32_t c = load_little_endian32(&section[8]);
  EXPECT_EQ(c % 4, 0u);
  EXPECT_EQ(section.size(), 16 + c);
  EXPECT_EQ(RulCheckSum(&section[12], c + 4), 0u);
}

}  // namespace
}  // namespace vornagent::builder
