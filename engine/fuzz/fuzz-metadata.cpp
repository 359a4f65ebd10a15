/* A backup's "backup.metadata" from a card: read as a backup is listed, then every amount and
 * total the backup views and the restore's space check ask for. */

#include "sf-backup-info.h"

#include "fuzz-support.h"

namespace
{
std::string backup_dir;
}

extern "C" int
LLVMFuzzerInitialize (int *, char ***)
{
  backup_dir = fuzz_scratch_dir () + "/.backups/Backup0";
  return 0;
}

extern "C" int
LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  fuzz_write_file (backup_dir + "/backup.metadata", data, size);
  g_autoptr (GFile) directory = g_file_new_for_path (backup_dir.c_str ());
  g_autoptr (SfBackupInfo) info = sf_backup_info_new_from_directory (directory);
  if (info == NULL)
    return 0;

  guint32 categories = sf_backup_info_get_categories (info);
  for (guint32 category = 1; category <= SF_CATEGORY_ALL; category <<= 1)
    {
      guint64 amount = 0;
      guint32 files = 0;
      sf_backup_info_get_data_amount (info, (SfCategory)category, &amount, &files);
      if ((categories & category) != 0)
        g_free (sf_backup_info_get_category_archive_path (info, (SfCategory)category));
    }
  sf_backup_info_get_size_for_categories (info, SF_CATEGORY_ALL);
  sf_backup_info_get_num_files_for_categories (info, SF_CATEGORY_ALL);
  /* Texts from the file end up in labels: they must be whole UTF-8. */
  for (const gchar *text : { sf_backup_info_get_device_version (info),
                             sf_backup_info_get_notes (info), sf_backup_info_get_name (info) })
    if (text != NULL && !g_utf8_validate (text, -1, NULL))
      abort ();
  return 0;
}
