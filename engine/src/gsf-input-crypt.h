#pragma once

#include <gsf/gsf.h>

G_BEGIN_DECLS

#define GSF_INPUT_CRYPT_TYPE (gsf_input_crypt_get_type ())
#define GSF_INPUT_CRYPT(o) (G_TYPE_CHECK_INSTANCE_CAST ((o), GSF_INPUT_CRYPT_TYPE, GsfInputCrypt))
#define GSF_IS_INPUT_CRYPT(o) (G_TYPE_CHECK_INSTANCE_TYPE ((o), GSF_INPUT_CRYPT_TYPE))

typedef struct _GsfInputCrypt GsfInputCrypt;
typedef struct _GsfInputCryptClass GsfInputCryptClass;

struct _GsfInputCrypt
{
  GsfInput parent;
};

struct _GsfInputCryptClass
{
  GsfInputClass parent_class;
};

GType gsf_input_crypt_get_type (void);

/* An input that decrypts source, a stream written by GsfOutputCrypt with the same password, and
 * reads it at any position. Without a password it passes source through unchanged. NULL, with
 * "Crypted file invalid" in error, when source is too short or its padding does not decrypt.
 * Returns a new reference (g_object_unref) that holds its own reference to source; error is the
 * caller's to free. One thread at a time. */
GsfInput *gsf_input_crypt_new (GsfInput *source, const gchar *password, GError **error);

G_END_DECLS

G_DEFINE_AUTOPTR_CLEANUP_FUNC (GsfInputCrypt, g_object_unref)
