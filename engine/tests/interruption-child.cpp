/* One backup or restore through the backend in a process of its own, for the interruption tests
 * to kill at any moment: interruption-child backup|restore CONFIG_DIR BACKUP_DIR.
 * Exits 0 when the operation finished, 1 otherwise. */

#include "sf-archiver-zip.h"
#include "sf-backend.h"
#include "sf-backup-configurations.h"
#include "sf-backup-info.h"
#include "sf-log.h"
#include "sf-user-files.h"

#include <cstring>
#include <memory>

namespace
{
const guint categories = SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS;

SfArchiver *
new_archiver (SfBackend *backend, const char *mode, const char *backup_dir, SfUserFiles *user_files)
{
  g_autoptr (GFile) dir = g_file_new_for_path (backup_dir);
  if (strcmp (mode, "restore") == 0)
    {
      g_autoptr (SfBackupInfo) info = sf_backup_info_new_from_directory (dir);
      return info != NULL ? sf_archiver_zip_new_restore (info, (SfCategory)categories, NULL) : NULL;
    }
  g_autoptr (SfBackupInfo) info = sf_backup_info_new (dir, 1700000000, FALSE, NULL, "1.0", "",
                                                      SF_BACKUP_INFO_FORMAT, categories);
  guint32 files = 0;
  guint64 size = 0;
  sf_backend_count_data (backend, (SfCategory)categories, &files, &size);
  return sf_archiver_zip_new_backup (info, user_files, files, size, NULL);
}
} // namespace

int
main (int argc, char **argv)
{
  if (argc != 4)
    return 2;
  sf_log_start (2);
  sf_backup_configurations_init (argv[2]);
  g_autoptr (SfBackend) backend = sf_backend_new ();
  /* Declared before the archiver so that it outlives it, as the archiver requires. */
  std::unique_ptr<SfUserFiles, decltype (&sf_user_files_free)> user_files (
      sf_user_files_new (categories), sf_user_files_free);
  g_autoptr (SfArchiver) archiver = new_archiver (backend, argv[1], argv[3], user_files.get ());
  if (archiver == NULL)
    return 2;

  gint outcome = -1;
  g_signal_connect (
      backend, "finished",
      G_CALLBACK (+[] (SfBackend *, gpointer data) { *static_cast<gint *> (data) = 0; }), &outcome);
  g_signal_connect (
      backend, "cancelled",
      G_CALLBACK (+[] (SfBackend *, gpointer data) { *static_cast<gint *> (data) = 1; }), &outcome);
  g_signal_connect (backend, "error", G_CALLBACK (+[] (SfBackend *, GError *error, gpointer data) {
                      g_printerr ("error: %s\n", error->message);
                      *static_cast<gint *> (data) = 1;
                    }),
                    &outcome);
  SfBackendState state
      = strcmp (argv[1], "restore") == 0 ? SF_BACKEND_STATE_RESTORE : SF_BACKEND_STATE_BACKUP;
  if (!_sf_backend_run_archiver (backend, archiver, state))
    return 2;
  while (outcome < 0)
    g_main_context_iteration (NULL, TRUE);
  return outcome;
}
