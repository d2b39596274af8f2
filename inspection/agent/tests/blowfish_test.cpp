// Blowfish against the published test vectors and against OpenSSL's implementation.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vornagent_blowfish.h"

namespace {

std::vector<uint8_t> hex(const std::string &text) {
  std::vector<uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

struct Vector {
  const char *key, *plain, *cipher;
};

// Published ECB vectors, including the variable key length set.
constexpr Vector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
    {"F0E1", "FEDCBA9876543210", "E91D21C1D961A6D6"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
};

TEST(Blowfish, PublishedVectorsEncryptAndDecrypt) {
  for (const Vector &v : kVectors) {
    std::vector<uint8_t> key = hex(v.key), block = hex(v.plain);
    ASSERT_EQ(bw_EncryptMemory(key.data(), key.size(), block.data(), block.size()), 0);
    EXPECT_EQ(block, hex(v.cipher)) << v.key;
    ASSERT_EQ(bw_DecryptMemory(key.data(), key.size(), block.data(), block.size()), 0);
    EXPECT_EQ(block, hex(v.plain)) << v.key;
  }
}

TEST(Blowfish, BlockHalvesAreBigEndian) {
  std::vector<uint8_t> key = hex("0123456789ABCDEF");
  BwContext context;
  ASSERT_EQ(bw_Encrypt_Init(&context, key.data(), key.size()), 0);
  uint32_t left = 0x11111111u, right = 0x11111111u;
  bw_Encrypt(&context, &left, &right);
  EXPECT_EQ(left, 0x61F9C380u);
  EXPECT_EQ(right, 0x2281B096u);
  bw_Decrypt(&context, &left, &right);
  EXPECT_EQ(left, 0x11111111u);
}

TEST(Blowfish, SelfTestPasses) {
  BwContext context;
  EXPECT_EQ(bw_Test(&context), 0);
}

TEST(Blowfish, BadLengthsAndEmptyKeysAreRefusedWithoutTouchingTheBuffer) {
  std::array<uint8_t, 16> buffer{};
  buffer.fill(0xAB);
  std::vector<uint8_t> key = hex("0011223344");
  EXPECT_EQ(bw_DecryptMemory(key.data(), key.size(), buffer.data(), 15), -1);
  EXPECT_EQ(bw_EncryptMemory(key.data(), 0, buffer.data(), 16), -1);
  for (uint8_t b : buffer) EXPECT_EQ(b, 0xAB);
  EXPECT_EQ(bw_DecryptMemory(key.data(), key.size(), buffer.data(), 0), 0);
  for (uint8_t b : buffer) EXPECT_EQ(b, 0xAB);
}

// OpenSSL keeps Blowfish in its legacy provider.
class OpenSslBlowfish : public ::testing::Test {
 protected:
  void SetUp() override {
    legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    base = OSSL_PROVIDER_load(nullptr, "default");
    ASSERT_NE(legacy, nullptr) << "OpenSSL's legacy provider is needed for Blowfish";
    cipher = EVP_CIPHER_fetch(nullptr, "BF-ECB", nullptr);
    ASSERT_NE(cipher, nullptr);
  }
  void TearDown() override {
    EVP_CIPHER_free(cipher);
    OSSL_PROVIDER_unload(base);
    OSSL_PROVIDER_unload(legacy);
  }

  std::vector<uint8_t> run(bool encrypt, const std::vector<uint8_t> &key, const std::vector<uint8_t> &in) {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    std::vector<uint8_t> out(in.size());
    int length = 0;
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, nullptr, nullptr, encrypt) == 1 &&
              EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size())) == 1 &&
              EVP_CipherInit_ex(ctx, nullptr, nullptr, key.data(), nullptr, encrypt) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
              EVP_CipherUpdate(ctx, out.data(), &length, in.data(), static_cast<int>(in.size())) == 1;
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_TRUE(ok);
    EXPECT_EQ(static_cast<std::size_t>(length), in.size());
    return out;
  }

  OSSL_PROVIDER *legacy = nullptr, *base = nullptr;
  EVP_CIPHER *cipher = nullptr;
};

TEST_F(OpenSslBlowfish, AgreesBothWaysForPolicySizedKeys) {
  std::mt19937 random(12345);
  for (std::size_t key_length : {1u, 7u, 16u, 50u, 56u}) {
    std::vector<uint8_t> key(key_length), plain(4096);
    for (auto &b : key) b = static_cast<uint8_t>(random());
    for (auto &b : plain) b = static_cast<uint8_t>(random());

    std::vector<uint8_t> ours = plain;
    ASSERT_EQ(bw_EncryptMemory(key.data(), key.size(), ours.data(), ours.size()), 0);
    EXPECT_EQ(ours, run(true, key, plain)) << key_length;
    EXPECT_EQ(run(false, key, ours), plain) << key_length;
    ASSERT_EQ(bw_DecryptMemory(key.data(), key.size(), ours.data(), ours.size()), 0);
    EXPECT_EQ(ours, plain);
  }
}

TEST_F(OpenSslBlowfish, SelfTestConstantsMatch) {
  std::vector<uint8_t> key{'Q', 'R', 'A', 'V', 'N', 'E', 'L'};
  EXPECT_EQ(run(true, key, hex("0000000100000002")), hex("523DB8DAAC71C5C2"));
}

}  // namespace
