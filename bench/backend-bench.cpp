/* One backup or one restore through the backend, as the application runs it, in a process of its
 * own so that bench/run can time it and read its peak resident memory.
 *
 *   bench-backend backup CONFIG_DIR TARGET_DIR NAME [PASSWORD]
 *   bench-backend restore CONFIG_DIR TARGET_DIR NAME [PASSWORD]
 *
 * CONFIG_DIR holds "applications/" with the configuration files; TARGET_DIR stands in for the
 * memory card (backups go to TARGET_DIR/.backups): it is marked mounted, and its parent is the
 * folder of fake cards the target manager looks in. HOME must be the benchmark's home tree.
 * SF_BENCH_LOG=1 in the environment shows the engine's diagnostics. */

#include "sf-backend.h"
#include "sf-backup-configurations.h"
#include "sf-backup-info.h"
#include "sf-error.h"
#include "sf-log.h"
#include "sf-target-manager.h"
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

/* A restore finishes also when categories failed; the figures would not be a restore's. */
void
on_finished (SfBackend *backend, gpointer data)
{
  Run *run = static_cast<Run *> (data);
  SfRestoreFailure *failure = sf_backend_get_restore_failure (backend);
  if (failure != NULL && sf_restore_failure_has_failures (failure))
    run->message = g_strdup ("some categories were not restored");
  else
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

/* The fake memory card the target manager found at TARGET_DIR. */
SfTarget *
find_target (const gchar *target_dir)
{
  g_autoptr (GFile) wanted = g_file_new_for_path (target_dir);
  for (GList *link = sf_target_manager_get_targets (sf_target_manager_get ()); link != NULL;
       link = link->next)
    {
      g_autoptr (GFile) root = g_file_new_for_uri (sf_target_get_uri (SF_TARGET (link->data)));
      if (g_file_equal (root, wanted))
        return SF_TARGET (link->data);
    }
  return NULL;
}

/* Counts, prepares the card and starts, as the application's backup engine does. */
gboolean
start_backup (SfBackend *backend, SfTarget *target, const gchar *name, const gchar *password,
              GError **error)
{
  guint32 files = 0;
  guint64 size = 0;
  sf_backend_count_data (backend, SF_CATEGORY_ALL, &files, &size);
  if (!sf_target_prepare_for_backup (target, error))
    return FALSE;
  SfUserFiles *user_files = sf_user_files_new (SF_CATEGORY_ALL);
  gboolean started = sf_backend_start_backup (backend, target, user_files, name, password, "",
                                              (gint32)(g_get_real_time () / G_USEC_PER_SEC),
                                              SF_CATEGORY_ALL, (gint)files, size, error);
  sf_user_files_free (user_files);
  return started;
}

gboolean
start_restore (SfBackend *backend, SfTarget *target, const gchar *name, const gchar *password,
               GError **error)
{
  g_autoptr (GFile) backups = g_file_new_for_uri (sf_target_get_backups_uri (target));
  g_autoptr (GFile) directory = g_file_get_child (backups, name);
  g_autoptr (SfBackupInfo) info = sf_backup_info_new_from_directory (directory);
  if (info == NULL)
    {
      g_set_error (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "No backup named %s", name);
      return FALSE;
    }
  return sf_backend_start_restore (backend, info, password,
                                   (SfCategory)sf_backup_info_get_categories (info), error);
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
  /* The target manager made by the backend finds the card through its "mounted" file. */
  g_autofree gchar *marker = g_build_filename (target_dir, "mounted", NULL);
  g_autofree gchar *cards_dir = g_path_get_dirname (target_dir);
  g_mkdir_with_parents (target_dir, 0755);
  g_file_set_contents (marker, "", 0, NULL);
  g_setenv ("FAKE_MMC_DIR", cards_dir, TRUE);
  SfBackend *backend = sf_backend_new ();
  Run run = { g_main_loop_new (NULL, FALSE), FALSE, NULL };
  g_signal_connect (backend, "finished", G_CALLBACK (on_finished), &run);
  g_signal_connect (backend, "error", G_CALLBACK (on_error), &run);
  g_signal_connect (backend, "cancelled", G_CALLBACK (on_cancelled), &run);

  g_autoptr (GError) error = NULL;
  SfTarget *target = find_target (target_dir);
  gboolean started = FALSE;
  if (target == NULL)
    g_set_error (&error, SF_ERROR, SF_ERROR_GENERAL, "No card found at %s", target_dir);
  else if (backup)
    started = start_backup (backend, target, argv[4], password, &error);
  else
    started = start_restore (backend, target, argv[4], password, &error);
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
