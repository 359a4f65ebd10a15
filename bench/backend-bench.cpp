/* One backup or one restore through the backend, as the application runs it, in a process of its
 * own so that bench/run can time it and read its peak resident memory.
 *
 *   bench-backend backup CONFIG_DIR TARGET_DIR NAME [PASSWORD]
 *   bench-backend restore CONFIG_DIR TARGET_DIR NAME [PASSWORD]
 *
 * CONFIG_DIR holds "applications/" with the configuration files; TARGET_DIR stands in for the
 * memory card (backups go to TARGET_DIR/.backups). HOME must be the benchmark's home tree.
 * SF_BENCH_LOG=1 in the environment shows the engine's diagnostics. */

#include "sf-archiver-zip.h"
#include "sf-backend.h"
#include "sf-backup-configurations.h"
#include "sf-backup-info.h"
#include "sf-error.h"
#include "sf-log.h"
#include "sf-target-fake.h"
#include "sf-user-files.h"

#include <cstdio>
#include <cstring>

namespace
{
struct Run
{
  GMainLoop *loop;
  gboolean finished;
  gchar *message;
};

void
on_finished (SfBackend *, gpointer data)
{
  Run *run = static_cast<Run *> (data);
  run->finished = TRUE;
  g_main_loop_quit (run->loop);
}

void
on_error (SfBackend *, GError *error, gpointer data)
{
  Run *run = static_cast<Run *> (data);
  run->message = g_strdup (error != NULL ? error->message : "unknown error");
  g_main_loop_quit (run->loop);
}

void
on_cancelled (SfBackend *, gpointer data)
{
  Run *run = static_cast<Run *> (data);
  run->message = g_strdup ("cancelled");
  g_main_loop_quit (run->loop);
}

SfBackupInfo *
new_backup_info (const gchar *target_dir, const gchar *name, const gchar *password)
{
  g_autofree gchar *path = g_build_filename (target_dir, ".backups", name, NULL);
  g_autoptr (GFile) dir = g_file_new_for_path (path);
  return sf_backup_info_new (dir, (gint32)(g_get_real_time () / G_USEC_PER_SEC), password != NULL,
                             password, "bench", "", SF_BACKUP_INFO_FORMAT, SF_CATEGORY_ALL);
}

gboolean
start_backup (SfBackend *backend, const gchar *target_dir, const gchar *name, const gchar *password,
              GError **error)
{
  g_autofree gchar *uri = g_filename_to_uri (target_dir, NULL, NULL);
  g_autoptr (SfTarget) target = sf_target_fake_new (uri, "bench");
  if (!sf_target_prepare_for_backup (target, error))
    return FALSE;
  guint32 files = 0;
  guint64 size = 0;
  sf_backend_count_data (backend, SF_CATEGORY_ALL, &files, &size);
  g_autoptr (SfBackupInfo) info = new_backup_info (target_dir, name, password);
  SfUserFiles *user_files = sf_user_files_new (SF_CATEGORY_ALL);
  g_autoptr (SfArchiver) archiver
      = sf_archiver_zip_new_backup (info, user_files, files, size, password);
  gboolean started = _sf_backend_run_archiver (backend, archiver, SF_BACKEND_STATE_BACKUP);
  sf_user_files_free (user_files);
  if (!started)
    g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_FAILED, "The backup did not start");
  return started;
}

gboolean
start_restore (SfBackend *backend, const gchar *target_dir, const gchar *name,
               const gchar *password, GError **error)
{
  g_autofree gchar *path = g_build_filename (target_dir, ".backups", name, NULL);
  g_autoptr (GFile) dir = g_file_new_for_path (path);
  g_autoptr (SfBackupInfo) info = sf_backup_info_new_from_directory (dir);
  if (info == NULL)
    {
      g_set_error (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "No backup in %s", path);
      return FALSE;
    }
  g_autoptr (SfArchiver) archiver = sf_archiver_zip_new_restore (
      info, (SfCategory)sf_backup_info_get_categories (info), password);
  gboolean started = _sf_backend_run_archiver (backend, archiver, SF_BACKEND_STATE_RESTORE);
  if (!started)
    g_set_error_literal (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "The restore did not start");
  return started;
}

int
usage (void)
{
  fprintf (stderr, "usage: bench-backend backup|restore CONFIG_DIR TARGET_DIR NAME [PASSWORD]\n");
  return 2;
}
} // namespace

int
main (int argc, char **argv)
{
  if (argc < 5 || argc > 6)
    return usage ();
  gboolean backup = strcmp (argv[1], "backup") == 0;
  if (!backup && strcmp (argv[1], "restore") != 0)
    return usage ();
  const gchar *password = argc == 6 ? argv[5] : NULL;
  g_autofree gchar *config_dir = g_canonicalize_filename (argv[2], NULL);
  g_autofree gchar *target_dir = g_canonicalize_filename (argv[3], NULL);

  if (g_getenv ("SF_BENCH_LOG") != NULL)
    sf_log_start (2);
  sf_backup_configurations_init (config_dir);
  SfBackend *backend = sf_backend_new ();
  Run run = { g_main_loop_new (NULL, FALSE), FALSE, NULL };
  g_signal_connect (backend, "finished", G_CALLBACK (on_finished), &run);
  g_signal_connect (backend, "error", G_CALLBACK (on_error), &run);
  g_signal_connect (backend, "cancelled", G_CALLBACK (on_cancelled), &run);

  g_autoptr (GError) error = NULL;
  gboolean started = backup ? start_backup (backend, target_dir, argv[4], password, &error)
                            : start_restore (backend, target_dir, argv[4], password, &error);
  if (started)
    g_main_loop_run (run.loop);
  else
    run.message = g_strdup (error->message);

  int status = run.finished ? 0 : 1;
  if (!run.finished)
    fprintf (stderr, "bench-backend: %s failed: %s\n", argv[1], run.message);
  g_free (run.message);
  g_main_loop_unref (run.loop);
  g_object_unref (backend);
  sf_backup_configurations_free ();
  return status;
}
