#include "sf-zip-copy.h"

#include "sf-vfs-utils.h"

#include <gio/gio.h>

SfZipCopyResult
sf_zip_copy_entry (SfZipReader *reader, gint64 declared, int fd, guint8 *buffer, gsize buffer_size,
                   SfZipCopyStep step, gpointer user_data, GError **error)
{
  g_return_val_if_fail (reader != NULL && buffer != NULL && buffer_size > 0,
                        SF_ZIP_COPY_READ_FAILED);
  guint64 written = 0;
  gsize last = 0;
  for (;;)
    {
      if (step != NULL && !step (last, user_data))
        return SF_ZIP_COPY_STOPPED;
      gssize count = sf_zip_reader_read (reader, buffer, buffer_size, error);
      if (count < 0)
        return SF_ZIP_COPY_READ_FAILED;
      if (count == 0)
        return SF_ZIP_COPY_DONE;
      if (written + count > (guint64)declared)
        {
          g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA,
                       "the entry holds more data than it declares");
          return SF_ZIP_COPY_TOO_LONG;
        }
      if (!sf_vfs_utils_write_fd (fd, buffer, count))
        return SF_ZIP_COPY_WRITE_FAILED;
      written += count;
      last = count;
    }
}
