#include "sf-crypt.h"

#include <climits>
#include <cstring>

namespace
{
/* EVP takes int lengths; longer runs go through in pieces of whole blocks. */
constexpr gsize max_piece = (INT_MAX / SF_CRYPT_BLOCK_SIZE) * SF_CRYPT_BLOCK_SIZE;

/* Runs the schedule over the blocks, restarting the chain at iv; the cipher context carries the
 * chain from piece to piece. */
void
cbc_run (EVP_CIPHER_CTX *schedule, const guint8 *iv, const guint8 *input, guint8 *output,
         gsize length)
{
  EVP_CipherInit_ex (schedule, NULL, NULL, NULL, iv, -1);
  while (length > 0)
    {
      int piece = (int)MIN (length, max_piece);
      int written = 0;
      EVP_CipherUpdate (schedule, output, &written, input, piece);
      input += piece;
      output += piece;
      length -= piece;
    }
}
} // namespace

guint8 *
sf_crypt_derive_key (const gchar *password)
{
  g_return_val_if_fail (password != NULL, NULL);

  guint8 digest[EVP_MAX_MD_SIZE];
  unsigned int digest_length = 0;
  EVP_Digest (password, strlen (password), digest, &digest_length, EVP_sha1 (), NULL);

  /* Every fifth digest byte is dropped. */
  guint8 *key = static_cast<guint8 *> (g_malloc (SF_CRYPT_KEY_SIZE));
  for (gint part = 0; part < 4; part++)
    memcpy (key + part * 4, digest + part * 5, 4);
  OPENSSL_cleanse (digest, sizeof digest);
  return key;
}

guint8 *
sf_crypt_random_iv (void)
{
  guint8 *iv = static_cast<guint8 *> (g_malloc (SF_CRYPT_BLOCK_SIZE));
  for (gint index = 0; index < SF_CRYPT_BLOCK_SIZE; index++)
    iv[index] = (guint8)g_random_int_range (0, 256);
  return iv;
}

EVP_CIPHER_CTX *
sf_crypt_schedule_new (const guint8 *key, gboolean encrypt)
{
  g_return_val_if_fail (key != NULL, NULL);

  EVP_CIPHER_CTX *schedule = EVP_CIPHER_CTX_new ();
  EVP_CipherInit_ex (schedule, EVP_aes_128_cbc (), NULL, key, NULL, encrypt ? 1 : 0);
  /* The stream pads with its own characters. */
  EVP_CIPHER_CTX_set_padding (schedule, 0);
  return schedule;
}

void
sf_crypt_cbc_encrypt_into (EVP_CIPHER_CTX *schedule, guint8 *iv, const guint8 *input,
                           guint8 *output, gsize length)
{
  g_return_if_fail (schedule != NULL && iv != NULL);
  g_return_if_fail (length % SF_CRYPT_BLOCK_SIZE == 0);

  if (length == 0)
    return;
  cbc_run (schedule, iv, input, output, length);
  memcpy (iv, output + length - SF_CRYPT_BLOCK_SIZE, SF_CRYPT_BLOCK_SIZE);
}

void
sf_crypt_cbc_decrypt_into (EVP_CIPHER_CTX *schedule, guint8 *iv, const guint8 *input,
                           guint8 *output, gsize length)
{
  g_return_if_fail (schedule != NULL && iv != NULL);
  g_return_if_fail (length % SF_CRYPT_BLOCK_SIZE == 0);

  if (length == 0)
    return;
  /* Decrypting in place overwrites the last ciphertext block, so it is kept first. */
  guint8 next_iv[SF_CRYPT_BLOCK_SIZE];
  memcpy (next_iv, input + length - SF_CRYPT_BLOCK_SIZE, SF_CRYPT_BLOCK_SIZE);
  cbc_run (schedule, iv, input, output, length);
  memcpy (iv, next_iv, SF_CRYPT_BLOCK_SIZE);
}

void
sf_crypt_cbc_encrypt (EVP_CIPHER_CTX *schedule, guint8 *iv, guint8 *data, gsize length)
{
  g_return_if_fail (data != NULL);
  sf_crypt_cbc_encrypt_into (schedule, iv, data, data, length);
}

void
sf_crypt_cbc_decrypt (EVP_CIPHER_CTX *schedule, guint8 *iv, guint8 *data, gsize length)
{
  g_return_if_fail (data != NULL);
  sf_crypt_cbc_decrypt_into (schedule, iv, data, data, length);
}
