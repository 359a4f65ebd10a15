#pragma once

#include "sf-category.h"
#include "sf-restore-failure.h"

#include <glib.h>

G_BEGIN_DECLS

void sf_utils_reboot (void);
void sf_utils_suggest_gconf_sync (void);
void sf_utils_shutdown_gconfd (void);
gchar *sf_utils_expand_path (const gchar *text);
const gchar *sf_utils_get_software_version (void);
gchar *sf_utils_get_install_home (void);

/* Application scripts. */
gboolean sf_utils_execute_script (const gchar *command_line, gint *exit_status);
void sf_utils_log_script_error (const gchar *application, const gchar *script, gint exit_status);
void sf_utils_write_error_log (const gchar *application);
/* Runs the pre-backup (list_file NULL) or restore scripts of every application in categories. */
void _sf_utils_run_application_scripts (SfCategory categories, const gchar *list_file);

/* The record of the last restore in the user's home. */
gboolean sf_utils_write_last_restore (SfRestoreFailure *failure, SfCategory written_categories,
                                      gint64 restored_size);
gboolean sf_utils_read_last_restore (SfRestoreFailure **failure, SfCategory *written_categories,
                                     gint64 *restored_size);
void sf_utils_remove_last_restore (void);

G_END_DECLS
