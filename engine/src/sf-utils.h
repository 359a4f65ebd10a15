#pragma once

#include "sf-category.h"
#include "sf-restore-failure.h"

#include <glib.h>

G_BEGIN_DECLS

/* Main thread. */
void sf_utils_reboot (void);
/* Main thread. */
void sf_utils_suggest_gconf_sync (void);
/* Main thread. */
void sf_utils_shutdown_gconfd (void);
/* Returns a copy (g_free) or NULL, warning why. Any thread. */
gchar *sf_utils_expand_path (const gchar *text);
/* The same without the warning, for a path that is reported where it is used. Returns a copy
 * (g_free) or NULL. Any thread. */
gchar *sf_utils_expand_path_silently (const gchar *text);
/* Borrowed, for the life of the process. Any thread. */
const gchar *sf_utils_get_software_version (void);
/* Returns a copy (g_free). Any thread. */
gchar *sf_utils_get_install_home (void);

/* Application scripts. Blocks until the script ended; when the calling thread's current
 * GCancellable is cancelled, asks the script's process group to end (SIGTERM) and kills it 5 s
 * later, which counts as failed. Any thread. */
gboolean sf_utils_execute_script (const gchar *command_line, gint *exit_status);
/* Any thread. */
void sf_utils_log_script_error (const gchar *application, const gchar *script, gint exit_status);
/* Any thread. */
void sf_utils_write_error_log (const gchar *application);
/* Runs the pre-backup (list_file NULL) or restore scripts of every application in categories.
 * Scripts not yet started when the thread's current GCancellable is cancelled are skipped. Worker
 * thread. */
void _sf_utils_run_application_scripts (SfCategory categories, const gchar *list_file);

/* The record of the last restore in the user's home. failure stays the caller's. Main thread. */
gboolean sf_utils_write_last_restore (SfRestoreFailure *failure, SfCategory written_categories,
                                      gint64 restored_size);
/* *failure is a new reference (sf_restore_failure_unref) or NULL. Main thread. */
gboolean sf_utils_read_last_restore (SfRestoreFailure **failure, SfCategory *written_categories,
                                     gint64 *restored_size);
/* Main thread. */
void sf_utils_remove_last_restore (void);

G_END_DECLS
