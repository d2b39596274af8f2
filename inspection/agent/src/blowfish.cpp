#include <cstring>
#include <utility>

#include "vornagent_blowfish.h"

namespace {

#include "blowfish_tables.inc"

constexpr int kRounds = 16;

uint32_t F(const BwContext &c, uint32_t x) {
  return ((c.s[0][x >> 24] + c.s[1][(x >> 16) & 0xFF]) ^ c.s[2][(x >> 8) & 0xFF]) + c.s[3][x & 0xFF];
}

uint32_t load_big_endian(const uint8_t *p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void store_big_endian(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

template <typename Cipher>
int process_memory(const uint8_t *key, size_t key_length, uint8_t *buffer, size_t length, Cipher cipher) {
  if (length % 8 != 0 || (length > 0 && !buffer)) return -1;
  BwContext context;
  if (bw_Encrypt_Init(&context, key, key_length) != 0) return -1;
  for (size_t offset = 0; offset < length; offset += 8) {
    uint32_t left = load_big_endian(buffer + offset), right = load_big_endian(buffer + offset + 4);
    cipher(&context, &left, &right);
    store_big_endian(buffer + offset, left);
    store_big_endian(buffer + offset + 4, right);
  }
  return 0;
}

// The self-test block: key "QRAVNEL", plaintext (1, 2).
constexpr uint8_t kTestKey[] = {'Q', 'R', 'A', 'V', 'N', 'E', 'L'};
constexpr uint32_t kTestCipherLeft = 0x523DB8DAu;
constexpr uint32_t kTestCipherRight = 0xAC71C5C2u;

}  // namespace

extern "C" {

void bw_Encrypt(const BwContext *context, uint32_t *left, uint32_t *right) {
  uint32_t l = *left, r = *right;
  for (int i = 0; i < kRounds; ++i) {
    l ^= context->p[i];
    r ^= F(*context, l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= context->p[kRounds];
  l ^= context->p[kRounds + 1];
  *left = l;
  *right = r;
}

void bw_Decrypt(const BwContext *context, uint32_t *left, uint32_t *right) {
  uint32_t l = *left, r = *right;
  for (int i = kRounds + 1; i > 1; --i) {
    l ^= context->p[i];
    r ^= F(*context, l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= context->p[1];
  l ^= context->p[0];
  *left = l;
  *right = r;
}

int bw_Encrypt_Init(BwContext *context, const uint8_t *key, size_t key_length) {
  if (!context || !key || key_length == 0) return -1;
  std::memcpy(context->p, kInitialP, sizeof context->p);
  std::memcpy(context->s, kInitialS, sizeof context->s);
  size_t k = 0;
  for (uint32_t &p : context->p) {
    uint32_t word = 0;
    for (int b = 0; b < 4; ++b) {
      word = word << 8 | key[k++ % key_length];
    }
    p ^= word;
  }
  uint32_t left = 0, right = 0;
  for (int i = 0; i < 18; i += 2) {
    bw_Encrypt(context, &left, &right);
    context->p[i] = left;
    context->p[i + 1] = right;
  }
  for (auto &box : context->s) {
    for (int i = 0; i < 256; i += 2) {
      bw_Encrypt(context, &left, &right);
      box[i] = left;
      box[i + 1] = right;
    }
  }
  return 0;
}

int bw_EncryptMemory(const uint8_t *key, size_t key_length, uint8_t *buffer, size_t length) {
  return process_memory(key, key_length, buffer, length, bw_Encrypt);
}

int bw_DecryptMemory(const uint8_t *key, size_t key_length, uint8_t *buffer, size_t length) {
  return process_memory(key, key_length, buffer, length, bw_Decrypt);
}

int bw_Test(BwContext *context) {
  if (bw_Encrypt_Init(context, kTestKey, sizeof kTestKey) != 0) return -1;
  uint32_t left = 1, right = 2;
  bw_Encrypt(context, &left, &right);
  if (left != kTestCipherLeft || right != kTestCipherRight) return -1;
  bw_Decrypt(context, &left, &right);
  return left == 1 && right == 2 ? 0 : -1;
}

}  // extern "C"
