#include "sf-archiver-zip-private.h"

#include "sf-error.h"

#include <string>

namespace
{
const gsize check_buffer_size = 64 * 1024;

void
set_corrupt (GError **error, SfCategory category, const GError *cause)
{
  g_set_error (error, SF_ERROR, SF_ERROR_RESTORE_CORRUPT_BACKUP,
               "Backup archive of %s is damaged: %s", sf_category_to_string (category),
               cause != NULL ? cause->message : "unknown error");
}

/* Reads the current entry's data to its end, which verifies its checksum, and never past the size
 * it declares. */
gboolean
read_entry (SfZipReader *reader, const SfZipEntry &entry, guint8 *buffer, guint64 *size,
            SfArchiveProgressFunc progress, gpointer data, GError **error)
{
  *size = 0;
  if (!entry.name_valid)
    {
      g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA,
                   "Damaged ZIP entry \"%s\": its name is not UTF-8", entry.name);
      return FALSE;
    }
  for (;;)
    {
      gssize count = sf_zip_reader_read (reader, buffer, check_buffer_size, error);
      if (count < 0)
        return FALSE;
      if (count == 0)
        return TRUE;
      if (*size + count > (guint64)entry.size)
        {
          g_set_error (error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA,
                       "Damaged ZIP entry \"%s\": it holds more data than it declares", entry.name);
          return FALSE;
        }
      *size += count;
      if (progress != NULL)
        progress (count, data);
    }
}
} // namespace

gboolean
sf_archiver_zip_check_category (SfBackupInfo *backup_info, SfCategory category,
                                const gchar *password, SfArchiveCheckFunc func, gpointer data,
                                GError **error)
{
  return sf_archiver_zip_check_category_with_progress (backup_info, category, password, func, NULL,
                                                       data, error);
}

gboolean
sf_archiver_zip_check_category_with_progress (SfBackupInfo *backup_info, SfCategory category,
                                              const gchar *password, SfArchiveCheckFunc func,
                                              SfArchiveProgressFunc progress, gpointer data,
                                              GError **error)
{
  g_return_val_if_fail (backup_info != NULL, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  g_autoptr (GError) open_error = NULL;
  const gchar *usable_password = password != NULL && password[0] != '\0' ? password : NULL;
  SfZipReader *reader
      = _sf_archiver_zip_open_category (backup_info, category, usable_password, &open_error);
  if (reader == NULL)
    {
      if (g_error_matches (open_error, SF_ERROR, SF_ERROR_WRONG_PASSWORD))
        g_propagate_error (error, g_steal_pointer (&open_error));
      else
        set_corrupt (error, category, open_error);
      return FALSE;
    }

  g_autofree guint8 *buffer = static_cast<guint8 *> (g_malloc (check_buffer_size));
  const std::string root = std::string (SF_ARCHIVER_ZIP_ROOT) + "/";
  g_autoptr (GError) read_error = NULL;
  g_autoptr (GError) first_damage = NULL;
  guint damaged = 0;
  SfZipEntry entry;
  /* A damaged entry spoils only itself: the rest is read on as far as the archive allows. */
  while (sf_zip_reader_next_entry (reader, &entry, &read_error))
    {
      guint64 size = 0;
      g_autoptr (GError) entry_error = NULL;
      if (!read_entry (reader, entry, buffer, &size, progress, data, &entry_error))
        {
          if (first_damage == NULL)
            first_damage = g_steal_pointer (&entry_error);
          damaged++;
          continue;
        }
      std::string name = entry.name;
      if (!entry.is_dir && !entry.is_link && func != NULL
          && name.compare (0, root.size (), root) == 0)
        func (name.c_str () + root.size (), size, data);
    }
  sf_zip_reader_free (reader);
  if (read_error != NULL)
    {
      set_corrupt (error, category, read_error);
      return FALSE;
    }
  if (first_damage != NULL)
    {
      if (damaged > 1)
        g_prefix_error (&first_damage, "%u damaged entries, the first: ", damaged);
      set_corrupt (error, category, first_damage);
      return FALSE;
    }
  return TRUE;
}
