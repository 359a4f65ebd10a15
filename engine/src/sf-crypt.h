#pragma once

#include <glib.h>
#include <openssl/evp.h>

G_BEGIN_DECLS

/* Every function may run on any thread; a key schedule is used by one thread at a time. */

/* AES-128-CBC without padding, the cipher of password-protected archives. */
#define SF_CRYPT_BLOCK_SIZE 16
#define SF_CRYPT_KEY_SIZE 16

/* The 16 key bytes for a password: digest bytes 0-3, 5-8, 10-13 and 15-18 of its SHA-1. Free
 * with g_free. */
guint8 *sf_crypt_derive_key (const gchar *password);
/* 16 bytes from GLib's random generator, the IV of a new stream. Free with g_free. */
guint8 *sf_crypt_random_iv (void);

/* A key schedule for encrypting (encrypt TRUE) or decrypting with the 16-byte key. Free with
 * EVP_CIPHER_CTX_free. */
EVP_CIPHER_CTX *sf_crypt_schedule_new (const guint8 *key, gboolean encrypt);

/* CBC over length bytes (a multiple of 16), chained from iv, from input into output (which may
 * be the same buffer). iv is left holding the last ciphertext block, the chaining value for the
 * blocks that follow. */
void sf_crypt_cbc_encrypt_into (EVP_CIPHER_CTX *schedule, guint8 *iv, const guint8 *input,
                                guint8 *output, gsize length);
void sf_crypt_cbc_decrypt_into (EVP_CIPHER_CTX *schedule, guint8 *iv, const guint8 *input,
                                guint8 *output, gsize length);

/* The same, in place. */
void sf_crypt_cbc_encrypt (EVP_CIPHER_CTX *schedule, guint8 *iv, guint8 *data, gsize length);
void sf_crypt_cbc_decrypt (EVP_CIPHER_CTX *schedule, guint8 *iv, guint8 *data, gsize length);

G_END_DECLS

G_DEFINE_AUTOPTR_CLEANUP_FUNC (EVP_CIPHER_CTX, EVP_CIPHER_CTX_free)
