#pragma once

#include <gsf/gsf.h>

G_BEGIN_DECLS

#define GSF_OUTPUT_CRYPT_TYPE (gsf_output_crypt_get_type ())
#define GSF_OUTPUT_CRYPT(o)                                                                        \
  (G_TYPE_CHECK_INSTANCE_CAST ((o), GSF_OUTPUT_CRYPT_TYPE, GsfOutputCrypt))
#define GSF_IS_OUTPUT_CRYPT(o) (G_TYPE_CHECK_INSTANCE_TYPE ((o), GSF_OUTPUT_CRYPT_TYPE))

typedef struct _GsfOutputCrypt GsfOutputCrypt;
typedef struct _GsfOutputCryptClass GsfOutputCryptClass;

struct _GsfOutputCrypt
{
  GsfOutput parent;
};

struct _GsfOutputCryptClass
{
  GsfOutputClass parent_class;
};

GType gsf_output_crypt_get_type (void);

/* An output that encrypts everything written to it into sink with a key made from password: a
 * random IV first, then AES-128-CBC of the data and its padding, the last block written on close.
 * Without a password it passes data through unchanged. NULL when the IV cannot be written. Returns
 * a new reference (g_object_unref) that holds its own reference to sink. One thread at a time. */
GsfOutput *gsf_output_crypt_new (GsfOutput *sink, const gchar *password);
/* How many bytes the sink took so far and their CRC-32 (the IV, the ciphertext and its last
 * block once closed; without a password the data itself), which a read-back of the file compares
 * with what the medium returns. The writer's thread. */
void gsf_output_crypt_get_sink_checksum (GsfOutput *output, guint64 *size, guint32 *crc);

G_END_DECLS

G_DEFINE_AUTOPTR_CLEANUP_FUNC (GsfOutputCrypt, g_object_unref)
