/* The verify command: every category archive read to its end by the engine's own check. */

#include "safehold-archive.h"

#include "sf-archiver-zip.h"
#include "sf-error.h"

#include <cstdio>

namespace
{
void
add_progress (guint64 bytes, gpointer progress)
{
  archive_progress_add (static_cast<ArchiveProgress *> (progress), bytes);
}

/* Prints the category's line; the status it adds to the command's. */
int
verify_category (SfBackupInfo *info, SfCategory category, const gchar *password,
                 ArchiveProgress *progress)
{
  g_autoptr (GError) error = NULL;
  gboolean intact = sf_archiver_zip_check_category_with_progress (info, category, password, NULL,
                                                                  add_progress, progress, &error);
  archive_progress_clear (progress);
  const gchar *name = sf_category_to_string (category);
  if (intact)
    {
      printf ("%s: ok\n", name);
      return ARCHIVE_STATUS_OK;
    }
  if (g_error_matches (error, SF_ERROR, SF_ERROR_WRONG_PASSWORD))
    {
      printf ("%s: wrong password\n", name);
      return ARCHIVE_STATUS_PASSWORD;
    }
  g_autofree gchar *archive = sf_backup_info_get_category_archive_path (info, category);
  printf ("%s: corrupt (%s: %s)\n", name, archive_escape (archive).c_str (),
          archive_escape (error->message).c_str ());
  return ARCHIVE_STATUS_INCOMPLETE;
}
} // namespace

int
archive_verify (const ArchiveOptions &options)
{
  g_autoptr (SfBackupInfo) info = archive_open_backup (options.arguments[0]);
  if (info == NULL)
    return ARCHIVE_STATUS_USAGE;
  int status = ARCHIVE_STATUS_OK;
  gchar *password = archive_password_get (info, options, &status);
  if (password == NULL)
    return status;
  guint32 categories = sf_backup_info_get_categories (info);
  ArchiveProgress progress;
  archive_progress_start (&progress, sf_backup_info_get_size_for_categories (info, categories),
                          options.quiet);
  gboolean corrupt = FALSE;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if ((categories & category) == 0)
        continue;
      int result
          = verify_category (info, category, password[0] != '\0' ? password : NULL, &progress);
      corrupt |= result == ARCHIVE_STATUS_INCOMPLETE;
      if (result != ARCHIVE_STATUS_OK)
        status = result;
    }
  archive_progress_clear (&progress);
  archive_password_free (password);
  /* A damaged archive is the graver finding: another password will not mend it. */
  return corrupt ? ARCHIVE_STATUS_INCOMPLETE : status;
}
