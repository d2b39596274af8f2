/* The Blowfish cipher that vornagent decrypts policy files with: 64-bit blocks, 16 rounds, keys of
 * 1..72 bytes. Buffers are sequences of 8-byte blocks whose two halves are read and written most
 * significant byte first. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifndef VORNAGENT_API
/* The library exports only its documented C interface. */
#define VORNAGENT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct BwContext {
  uint32_t p[18];
  uint32_t s[4][256];
} BwContext;

/* Key schedule; -1 for a null or empty key. Bytes beyond the 72 the schedule consumes are not used. */
VORNAGENT_API int bw_Encrypt_Init(BwContext *context, const uint8_t *key, size_t key_length);
VORNAGENT_API void bw_Encrypt(const BwContext *context, uint32_t *left, uint32_t *right);
VORNAGENT_API void bw_Decrypt(const BwContext *context, uint32_t *left, uint32_t *right);

/* ECB over a buffer in place; -1 when length is not a multiple of 8 or the key is empty. */
VORNAGENT_API int bw_EncryptMemory(const uint8_t *key, size_t key_length, uint8_t *buffer, size_t length);
VORNAGENT_API int bw_DecryptMemory(const uint8_t *key, size_t key_length, uint8_t *buffer, size_t length);

/* Keys the context with the self-test key and checks one block both ways: 0 or -1. */
VORNAGENT_API int bw_Test(BwContext *context);

#ifdef __cplusplus
}
#endif
