#include "sf-vfs-utils.h"

#include <cerrno>

namespace
{
GError *
invalid_argument_error (void)
{
  return g_error_new (G_FILE_ERROR, G_FILE_ERROR_INVAL, "Invalid argument: %s",
                      g_strerror (EINVAL));
}
} // namespace

GError *
sf_vfs_utils_write (GOutputStream *output, gconstpointer buffer, gint64 size)
{
  g_return_val_if_fail (output != NULL, invalid_argument_error ());
  g_return_val_if_fail (buffer != NULL, invalid_argument_error ());

  const guint8 *bytes = static_cast<const guint8 *> (buffer);
  while (size > 0)
    {
      GError *error = NULL;
      gssize written = g_output_stream_write (output, bytes, size, NULL, &error);
      if (written < 0)
        return error;
      bytes += written;
      size -= written;
    }
  return NULL;
}
