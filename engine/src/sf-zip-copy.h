#pragma once

#include "sf-zip-reader.h"

G_BEGIN_DECLS

/* Called by sf_zip_copy_entry before each read, with the bytes the last chunk wrote (0 before
 * the first). FALSE stops the copy. */
typedef gboolean (*SfZipCopyStep) (gsize written, gpointer user_data);

typedef enum
{
  SF_ZIP_COPY_DONE,
  SF_ZIP_COPY_STOPPED,      /* the step asked to stop */
  SF_ZIP_COPY_READ_FAILED,  /* the reader failed (a damaged entry or archive): error set */
  SF_ZIP_COPY_TOO_LONG,     /* the entry holds more than it declares: error set */
  SF_ZIP_COPY_WRITE_FAILED, /* errno says why; error unset */
} SfZipCopyResult;

/* Streams the reader's current entry into fd through buffer (buffer_size bytes), never more than
 * declared bytes: an entry holding more fails before the excess is written. The caller keeps fd,
 * buffer and reader; step may be NULL. Called from the thread that uses the reader. */
SfZipCopyResult sf_zip_copy_entry (SfZipReader *reader, gint64 declared, int fd, guint8 *buffer,
                                   gsize buffer_size, SfZipCopyStep step, gpointer user_data,
                                   GError **error);

G_END_DECLS
