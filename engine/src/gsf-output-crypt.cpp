#include "gsf-output-crypt.h"

#include "sf-crypt.h"
#include "sf-deflate.h"
#include "sf-log.h"

#include <gsf/gsf-output-impl.h>

#include <cstring>

namespace
{
/* Large writes are encrypted and passed on in pieces of this size. */
constexpr gsize chunk_size = 256 * 1024;

struct GsfOutputCryptPrivate
{
  GsfOutput *sink;
  /* The chaining value for the next block: the IV, then the last ciphertext block written. */
  guint8 *iv;
  guint8 *pending;
  gsize pending_length;
  guint8 *key;
  EVP_CIPHER_CTX *schedule;
  /* Where ciphertext is assembled before it goes to the sink. */
  guint8 *chunk;
  /* Of every byte the sink took. */
  guint64 sink_size;
  guint32 sink_crc;
};
} // namespace

G_DEFINE_TYPE_WITH_PRIVATE (GsfOutputCrypt, gsf_output_crypt, GSF_OUTPUT_TYPE)

static gboolean gsf_output_crypt_close (GsfOutput *output);
static gboolean gsf_output_crypt_seek (GsfOutput *output, gsf_off_t offset, GSeekType whence);
static gboolean gsf_output_crypt_write (GsfOutput *output, size_t num_bytes, const guint8 *data);
static void gsf_output_crypt_finalize (GObject *object);

static void
gsf_output_crypt_class_init (GsfOutputCryptClass *klass)
{
  GObjectClass *object_class = G_OBJECT_CLASS (klass);
  GsfOutputClass *output_class = GSF_OUTPUT_CLASS (klass);

  output_class->Close = gsf_output_crypt_close;
  output_class->Seek = gsf_output_crypt_seek;
  output_class->Write = gsf_output_crypt_write;
  object_class->finalize = gsf_output_crypt_finalize;
}

static void
gsf_output_crypt_init (GsfOutputCrypt *self)
{
  (void)self;
}

static GsfOutputCryptPrivate *
get_private (GsfOutput *output)
{
  return static_cast<GsfOutputCryptPrivate *> (
      gsf_output_crypt_get_instance_private (GSF_OUTPUT_CRYPT (output)));
}

static void
forget_key (GsfOutputCryptPrivate *priv)
{
  if (priv->key != NULL)
    OPENSSL_cleanse (priv->key, SF_CRYPT_KEY_SIZE);
  g_clear_pointer (&priv->key, g_free);
  g_clear_pointer (&priv->schedule, EVP_CIPHER_CTX_free);
}

static void
gsf_output_crypt_finalize (GObject *object)
{
  GsfOutputCryptPrivate *priv = get_private (GSF_OUTPUT (object));

  forget_key (priv);
  g_clear_object (&priv->sink);
  g_clear_pointer (&priv->iv, g_free);
  g_clear_pointer (&priv->pending, g_free);
  g_clear_pointer (&priv->chunk, g_free);

  G_OBJECT_CLASS (gsf_output_crypt_parent_class)->finalize (object);
}

/* Passes bytes to the sink; a failure is recorded on this output with the sink's reason. */
static gboolean
write_to_sink (GsfOutput *output, gsize length, const guint8 *data)
{
  GsfOutputCryptPrivate *priv = get_private (output);
  if (gsf_output_write (priv->sink, length, data))
    {
      priv->sink_crc = sf_deflate_crc32 (priv->sink_crc, data, length);
      priv->sink_size += length;
      return TRUE;
    }
  const GError *error = gsf_output_error (priv->sink);
  gsf_output_set_error (output, 0, "%s",
                        error != NULL ? error->message : "Could not write encrypted data");
  return FALSE;
}

GsfOutput *
gsf_output_crypt_new (GsfOutput *sink, const gchar *password)
{
  g_return_val_if_fail (GSF_IS_OUTPUT (sink), NULL);

  GsfOutput *output = GSF_OUTPUT (g_object_new (GSF_OUTPUT_CRYPT_TYPE, NULL));
  GsfOutputCryptPrivate *priv = get_private (output);
  priv->sink = GSF_OUTPUT (g_object_ref (sink));
  if (password == NULL)
    return output;

  priv->key = sf_crypt_derive_key (password);
  priv->schedule = sf_crypt_schedule_new (priv->key, TRUE);
  priv->iv = sf_crypt_random_iv ();
  priv->pending = static_cast<guint8 *> (g_malloc (SF_CRYPT_BLOCK_SIZE));
  priv->chunk = static_cast<guint8 *> (g_malloc (chunk_size));
  if (!write_to_sink (output, SF_CRYPT_BLOCK_SIZE, priv->iv))
    {
      /* Closing on release must not add a padding block to a stream without its IV. */
      forget_key (priv);
      g_object_unref (output);
      return NULL;
    }
  return output;
}

/* The padding character for a final block holding count padding bytes (1 to 16). */
static guint8
padding_character (gsize count)
{
  return (guint8)(count < 10 ? '0' + count : 'A' + (count - 10));
}

static gboolean
gsf_output_crypt_close (GsfOutput *output)
{
  GsfOutputCryptPrivate *priv = get_private (output);
  if (priv->key == NULL)
    return TRUE;

  gsize count = SF_CRYPT_BLOCK_SIZE - priv->pending_length;
  guint8 block[SF_CRYPT_BLOCK_SIZE];
  memcpy (block, priv->pending, priv->pending_length);
  memset (block + priv->pending_length, padding_character (count), count);
  guint8 iv[SF_CRYPT_BLOCK_SIZE];
  memcpy (iv, priv->iv, SF_CRYPT_BLOCK_SIZE);
  sf_crypt_cbc_encrypt (priv->schedule, iv, block, SF_CRYPT_BLOCK_SIZE);
  if (!write_to_sink (output, SF_CRYPT_BLOCK_SIZE, block))
    return FALSE;
  memcpy (priv->iv, iv, SF_CRYPT_BLOCK_SIZE);
  priv->pending_length = 0;
  return TRUE;
}

static gboolean
gsf_output_crypt_seek (GsfOutput *output, gsf_off_t offset, GSeekType whence)
{
  GsfOutputCryptPrivate *priv = get_private (output);
  /* Ciphertext is chained from the start; what is written cannot be rewritten. */
  if (priv->key != NULL)
    return FALSE;
  return gsf_output_seek (priv->sink, offset, whence);
}

/* Encrypts pending bytes and the whole blocks of data, chunk by chunk, into the sink. Returns how
 * many bytes of data were consumed, or -1 on a failed write. iv advances with the chain. */
static gssize
encrypt_blocks (GsfOutput *output, guint8 *iv, gsize num_bytes, const guint8 *data)
{
  GsfOutputCryptPrivate *priv = get_private (output);
  gsize consumed = 0;
  gsize filled = 0;
  if (priv->pending_length > 0)
    {
      consumed = SF_CRYPT_BLOCK_SIZE - priv->pending_length;
      memcpy (priv->chunk, priv->pending, priv->pending_length);
      memcpy (priv->chunk + priv->pending_length, data, consumed);
      sf_crypt_cbc_encrypt (priv->schedule, iv, priv->chunk, SF_CRYPT_BLOCK_SIZE);
      filled = SF_CRYPT_BLOCK_SIZE;
    }
  for (;;)
    {
      gsize whole = (num_bytes - consumed) / SF_CRYPT_BLOCK_SIZE * SF_CRYPT_BLOCK_SIZE;
      gsize length = MIN (whole, chunk_size - filled);
      sf_crypt_cbc_encrypt_into (priv->schedule, iv, data + consumed, priv->chunk + filled, length);
      consumed += length;
      filled += length;
      if (!write_to_sink (output, filled, priv->chunk))
        return -1;
      if (num_bytes - consumed < SF_CRYPT_BLOCK_SIZE)
        return (gssize)consumed;
      filled = 0;
    }
}

static gboolean
gsf_output_crypt_write (GsfOutput *output, size_t num_bytes, const guint8 *data)
{
  g_return_val_if_fail (data != NULL, FALSE);

  GsfOutputCryptPrivate *priv = get_private (output);
  if (priv->key == NULL)
    return write_to_sink (output, num_bytes, data);

  if (priv->pending_length + num_bytes < SF_CRYPT_BLOCK_SIZE)
    {
      memcpy (priv->pending + priv->pending_length, data, num_bytes);
      priv->pending_length += num_bytes;
      SF_LOG_DEBUG ("not enough yet... %d\n", (gint)priv->pending_length);
      return TRUE;
    }

  SF_LOG_DEBUG ("writing %d old bytes + new: %d\n", (gint)priv->pending_length, (gint)num_bytes);
  guint8 iv[SF_CRYPT_BLOCK_SIZE];
  memcpy (iv, priv->iv, SF_CRYPT_BLOCK_SIZE);
  gssize consumed = encrypt_blocks (output, iv, num_bytes, data);
  if (consumed < 0)
    return FALSE;
  memcpy (priv->iv, iv, SF_CRYPT_BLOCK_SIZE);
  priv->pending_length = num_bytes - (gsize)consumed;
  memcpy (priv->pending, data + consumed, priv->pending_length);
  SF_LOG_DEBUG ("%d bytes left\n", (gint)priv->pending_length);
  return TRUE;
}

void
gsf_output_crypt_get_sink_checksum (GsfOutput *output, guint64 *size, guint32 *crc)
{
  g_return_if_fail (GSF_IS_OUTPUT_CRYPT (output));

  GsfOutputCryptPrivate *priv = get_private (output);
  *size = priv->sink_size;
  *crc = priv->sink_crc;
}
