#include "gsf-input-crypt.h"

#include "sf-crypt.h"
#include "sf-log.h"

#include <gsf/gsf-input-impl.h>

#include <cstring>

namespace
{
/* Smallest scratch buffer for reads that bring no destination. */
constexpr gsize min_scratch_size = 256;

struct GsfInputCryptPrivate
{
  GsfInput *source;
  guint8 *scratch;
  gsize scratch_size;
  guint8 *key;
  EVP_CIPHER_CTX *schedule;
  /* The last ciphertext block of the previous read, which chains the plain block at
   * chain_position (-1: none yet). */
  guint8 chain[SF_CRYPT_BLOCK_SIZE];
  gsf_off_t chain_position;
};
} // namespace

G_DEFINE_TYPE_WITH_PRIVATE (GsfInputCrypt, gsf_input_crypt, GSF_INPUT_TYPE)

static GsfInput *gsf_input_crypt_dup (GsfInput *input, GError **error);
static const guint8 *gsf_input_crypt_read (GsfInput *input, size_t num_bytes, guint8 *buffer);
static gboolean gsf_input_crypt_seek (GsfInput *input, gsf_off_t offset, GSeekType whence);
static void gsf_input_crypt_finalize (GObject *object);

static void
gsf_input_crypt_class_init (GsfInputCryptClass *klass)
{
  GObjectClass *object_class = G_OBJECT_CLASS (klass);
  GsfInputClass *input_class = GSF_INPUT_CLASS (klass);

  input_class->Dup = gsf_input_crypt_dup;
  input_class->Read = gsf_input_crypt_read;
  input_class->Seek = gsf_input_crypt_seek;
  object_class->finalize = gsf_input_crypt_finalize;
}

static void
gsf_input_crypt_init (GsfInputCrypt *self)
{
  GsfInputCryptPrivate *priv
      = static_cast<GsfInputCryptPrivate *> (gsf_input_crypt_get_instance_private (self));
  priv->chain_position = -1;
}

static GsfInputCryptPrivate *
get_private (GsfInput *input)
{
  return static_cast<GsfInputCryptPrivate *> (
      gsf_input_crypt_get_instance_private (GSF_INPUT_CRYPT (input)));
}

static void
gsf_input_crypt_finalize (GObject *object)
{
  GsfInputCryptPrivate *priv = get_private (GSF_INPUT (object));

  g_clear_object (&priv->source);
  if (priv->key != NULL)
    OPENSSL_cleanse (priv->key, SF_CRYPT_KEY_SIZE);
  g_clear_pointer (&priv->key, g_free);
  g_clear_pointer (&priv->schedule, EVP_CIPHER_CTX_free);
  g_clear_pointer (&priv->scratch, g_free);

  G_OBJECT_CLASS (gsf_input_crypt_parent_class)->finalize (object);
}

/* The padding count of the last plain block, or -1 when it is not padded as the writer pads:
 * 1 to 16 bytes, each the character naming their count ("1" to "9", "A" to "G"). A wrong key
 * passes this about once in 256 tries. */
static gint
padding_count (const guint8 *block)
{
  guint8 character = block[SF_CRYPT_BLOCK_SIZE - 1];
  gint count = -1;
  if (character >= '1' && character <= '9')
    count = character - '0';
  else if (character >= 'A' && character <= 'G')
    count = character - 'A' + 10;
  for (gint index = SF_CRYPT_BLOCK_SIZE - count; count > 0 && index < SF_CRYPT_BLOCK_SIZE; index++)
    if (block[index] != character)
      return -1;
  return count;
}

/* Reads the padding count from the last block and sets the plain size from it. */
static gboolean
read_plain_size (GsfInput *input)
{
  GsfInputCryptPrivate *priv = get_private (input);
  gsf_off_t size = gsf_input_size (priv->source);
  /* Whole blocks only: a file cut anywhere else is damaged. */
  if (size < 2 * SF_CRYPT_BLOCK_SIZE || size % SF_CRYPT_BLOCK_SIZE != 0)
    return FALSE;
  if (gsf_input_seek (priv->source, size - 2 * SF_CRYPT_BLOCK_SIZE, G_SEEK_SET))
    return FALSE;
  const guint8 *tail = gsf_input_read (priv->source, 2 * SF_CRYPT_BLOCK_SIZE, NULL);
  if (tail == NULL)
    return FALSE;

  guint8 chain[SF_CRYPT_BLOCK_SIZE];
  guint8 block[SF_CRYPT_BLOCK_SIZE];
  memcpy (chain, tail, SF_CRYPT_BLOCK_SIZE);
  sf_crypt_cbc_decrypt_into (priv->schedule, chain, tail + SF_CRYPT_BLOCK_SIZE, block,
                             SF_CRYPT_BLOCK_SIZE);
  gint count = padding_count (block);
  gsf_off_t plain_size = size - SF_CRYPT_BLOCK_SIZE - count;
  if (count < 0 || plain_size < 0)
    return FALSE;
  if (gsf_input_seek (priv->source, 0, G_SEEK_SET))
    return FALSE;
  gsf_input_set_size (input, plain_size);
  return TRUE;
}

static gboolean
validate (GsfInput *input, GError **error)
{
  GsfInputCryptPrivate *priv = get_private (input);
  if (priv->key == NULL)
    {
      gsf_input_set_size (input, gsf_input_size (priv->source));
      return TRUE;
    }

  gsf_off_t saved_position = gsf_input_tell (priv->source);
  if (read_plain_size (input))
    return TRUE;
  g_set_error_literal (error, gsf_input_error_id (), 0, "Crypted file invalid");
  if (gsf_input_seek (priv->source, saved_position, G_SEEK_SET))
    SF_LOG_WARNING ("attempt to restore position failed");
  return FALSE;
}

/* A new input over source with a copy of key (or none), validated. */
static GsfInput *
new_with_key (GsfInput *source, const guint8 *key, GError **error)
{
  GsfInput *input = GSF_INPUT (g_object_new (GSF_INPUT_CRYPT_TYPE, NULL));
  GsfInputCryptPrivate *priv = get_private (input);
  priv->source = GSF_INPUT (g_object_ref (source));
  if (gsf_input_name (source) != NULL)
    gsf_input_set_name (input, gsf_input_name (source));
  if (key != NULL)
    {
      priv->key = static_cast<guint8 *> (g_memdup2 (key, SF_CRYPT_KEY_SIZE));
      priv->schedule = sf_crypt_schedule_new (priv->key, FALSE);
    }
  if (!validate (input, error))
    {
      g_object_unref (input);
      return NULL;
    }
  return input;
}

GsfInput *
gsf_input_crypt_new (GsfInput *source, const gchar *password, GError **error)
{
  g_return_val_if_fail (GSF_IS_INPUT (source), NULL);

  g_autofree guint8 *key = password != NULL ? sf_crypt_derive_key (password) : NULL;
  GsfInput *input = new_with_key (source, key, error);
  if (key != NULL)
    OPENSSL_cleanse (key, SF_CRYPT_KEY_SIZE);
  return input;
}

static GsfInput *
gsf_input_crypt_dup (GsfInput *input, GError **error)
{
  GsfInputCryptPrivate *priv = get_private (input);
  GsfInput *source = gsf_input_dup (priv->source, error);
  if (source == NULL)
    return NULL;
  GsfInput *copy = new_with_key (source, priv->key, error);
  g_object_unref (source);
  return copy;
}

static guint8 *
scratch_for (GsfInputCryptPrivate *priv, gsize length)
{
  if (priv->scratch_size < length)
    {
      priv->scratch_size = MAX (length, min_scratch_size);
      g_free (priv->scratch);
      priv->scratch = static_cast<guint8 *> (g_malloc (priv->scratch_size));
    }
  return priv->scratch;
}

/* Decrypts num_bytes of plain data, starting offset bytes into the first of blocks, chained from
 * chain, into output. Whole blocks are decrypted straight into output; only partly wanted blocks
 * go through a block of their own. */
static void
decrypt_range (GsfInputCryptPrivate *priv, guint8 *chain, const guint8 *blocks, gsize offset,
               gsize num_bytes, guint8 *output)
{
  guint8 block[SF_CRYPT_BLOCK_SIZE];
  gsize produced = 0;
  if (offset != 0 || num_bytes < SF_CRYPT_BLOCK_SIZE)
    {
      sf_crypt_cbc_decrypt_into (priv->schedule, chain, blocks, block, SF_CRYPT_BLOCK_SIZE);
      produced = MIN (SF_CRYPT_BLOCK_SIZE - offset, num_bytes);
      memcpy (output, block + offset, produced);
      blocks += SF_CRYPT_BLOCK_SIZE;
    }
  gsize whole = (num_bytes - produced) / SF_CRYPT_BLOCK_SIZE * SF_CRYPT_BLOCK_SIZE;
  sf_crypt_cbc_decrypt_into (priv->schedule, chain, blocks, output + produced, whole);
  produced += whole;
  blocks += whole;
  if (produced < num_bytes)
    {
      sf_crypt_cbc_decrypt_into (priv->schedule, chain, blocks, block, SF_CRYPT_BLOCK_SIZE);
      memcpy (output + produced, block, num_bytes - produced);
    }
}

/* Reads length bytes of ciphertext for the plain blocks from start, and their chaining value: the
 * block before start, or the IV at 0. A read that goes on where the previous one stopped has the
 * chaining value already and finds the source in place. */
static const guint8 *
read_blocks (GsfInputCryptPrivate *priv, gsf_off_t start, gsize length, guint8 *chain)
{
  if (priv->chain_position == start && gsf_input_tell (priv->source) == start + SF_CRYPT_BLOCK_SIZE)
    {
      memcpy (chain, priv->chain, SF_CRYPT_BLOCK_SIZE);
      return gsf_input_read (priv->source, length, NULL);
    }
  if (gsf_input_seek (priv->source, start, G_SEEK_SET))
    {
      SF_LOG_WARNING ("Could not seek when decrypting.");
      return NULL;
    }
  const guint8 *ciphertext = gsf_input_read (priv->source, SF_CRYPT_BLOCK_SIZE + length, NULL);
  if (ciphertext == NULL)
    return NULL;
  memcpy (chain, ciphertext, SF_CRYPT_BLOCK_SIZE);
  return ciphertext + SF_CRYPT_BLOCK_SIZE;
}

static const guint8 *
read_plain (GsfInput *input, size_t num_bytes, guint8 *buffer)
{
  GsfInputCryptPrivate *priv = get_private (input);
  gsf_off_t position = gsf_input_tell (input);
  if (gsf_input_tell (priv->source) != position
      && gsf_input_seek (priv->source, position, G_SEEK_SET))
    return NULL;
  return gsf_input_read (priv->source, num_bytes, buffer);
}

static const guint8 *
gsf_input_crypt_read (GsfInput *input, size_t num_bytes, guint8 *buffer)
{
  GsfInputCryptPrivate *priv = get_private (input);
  if (priv->key == NULL)
    return read_plain (input, num_bytes, buffer);
  if (num_bytes == 0)
    return buffer != NULL ? buffer : scratch_for (priv, 0);

  gsf_off_t position = gsf_input_tell (input);
  gsize offset = (gsize)(position % SF_CRYPT_BLOCK_SIZE);
  gsf_off_t start = position - (gsf_off_t)offset;
  gsize length
      = (offset + num_bytes + SF_CRYPT_BLOCK_SIZE - 1) / SF_CRYPT_BLOCK_SIZE * SF_CRYPT_BLOCK_SIZE;
  if (start + (gsf_off_t)length > gsf_input_size (priv->source) - SF_CRYPT_BLOCK_SIZE)
    {
      SF_LOG_WARNING ("reading too much\n");
      return NULL;
    }
  guint8 chain[SF_CRYPT_BLOCK_SIZE];
  const guint8 *blocks = read_blocks (priv, start, length, chain);
  if (blocks == NULL)
    return NULL;
  memcpy (priv->chain, blocks + length - SF_CRYPT_BLOCK_SIZE, SF_CRYPT_BLOCK_SIZE);
  priv->chain_position = start + (gsf_off_t)length;
  guint8 *output = buffer != NULL ? buffer : scratch_for (priv, num_bytes);
  decrypt_range (priv, chain, blocks, offset, num_bytes, output);
  return output;
}

static gboolean
gsf_input_crypt_seek (GsfInput *input, gsf_off_t offset, GSeekType whence)
{
  GsfInputCryptPrivate *priv = get_private (input);
  /* With a key every read positions the source itself. */
  if (priv->key != NULL)
    return FALSE;

  gsf_off_t position = offset;
  if (whence == G_SEEK_CUR)
    position += gsf_input_tell (input);
  else if (whence == G_SEEK_END)
    position += gsf_input_size (input);
  return gsf_input_seek (priv->source, position, G_SEEK_SET);
}
