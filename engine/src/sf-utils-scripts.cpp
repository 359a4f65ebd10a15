#include "sf-utils.h"

#include "sf-backup-configurations.h"
#include "sf-log.h"

#include <glib/gstdio.h>
#include <sys/wait.h>

#include <string>

namespace
{
const gchar *const error_log_name = "backup-restore-script-error-log";
const gchar *const platform_release = "solano";
/* What a script was told when it was killed by a signal: the shell's convention. */
const gint signal_status_base = 128;

gint
exit_status_of (gint wait_status)
{
  if (WIFSIGNALED (wait_status))
    {
      SF_LOG_WARNING ("Script was killed by signal %d", WTERMSIG (wait_status));
      return signal_status_base + WTERMSIG (wait_status);
    }
  return wait_status / 256;
}

/* "2 contacts settings" for the operation's mask. */
std::string
category_words (SfCategory categories)
{
  std::string words;
  gint count = 0;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if (!(categories & category))
        continue;
      words += std::string (count > 0 ? " " : "") + sf_category_to_string (category);
      count++;
    }
  return std::to_string (count) + " " + words;
}

/* The script of application to run, or NULL when it takes no part through scripts. */
const gchar *
script_of (const gchar *application, gboolean restore)
{
  SfBackupMethod method;
  if (sf_backup_configurations_get_backup_backup_method (application, &method) != 1
      || !method.scripts)
    return NULL;
  gboolean has_scripts = FALSE;
  SfBackupScriptsInfo info;
  if (sf_backup_configurations_get_backup_scripts_info (application, &has_scripts, &info) != 1
      || !has_scripts)
    return NULL;
  return restore ? info.restore_script : info.backup_script;
}

const gchar *
restore_error_text (gboolean started, gint exit_status)
{
  if (!started)
    return "Could not run the script";
  return exit_status == 1 ? "No space left" : "Undefined error";
}

void
run_script (const gchar *application, const gchar *script, const std::string &words,
            const gchar *list_file)
{
  g_autofree gchar *quoted_script = g_shell_quote (script);
  std::string command_line = std::string (quoted_script) + " " + words;
  if (list_file != NULL)
    {
      g_autofree gchar *quoted_list = g_shell_quote (list_file);
      command_line += std::string (" ") + platform_release + " " + quoted_list;
    }

  SF_LOG_DEBUG ("Executing script: %s", script);
  gint exit_status = -1;
  gboolean started = sf_utils_execute_script (command_line.c_str (), &exit_status);
  if (started && exit_status == 0)
    return;

  if (!started)
    SF_LOG_ERROR ("Could not run script:\n%s (exit status %d)", script, exit_status);
  if (list_file != NULL)
    SF_LOG_DEBUG ("***** Error in running script %s, error = %s *********", script,
                  restore_error_text (started, exit_status));
  sf_utils_log_script_error (application, script, exit_status);
}
} // namespace

gboolean
sf_utils_execute_script (const gchar *command_line, gint *exit_status)
{
  g_return_val_if_fail (command_line != NULL, FALSE);

  gint64 started_at = g_get_real_time () / G_USEC_PER_SEC;
  SF_LOG_DEBUG ("Executing --- \n%s\n---", command_line);
  g_autofree gchar *output = NULL;
  g_autofree gchar *error_output = NULL;
  g_autoptr (GError) error = NULL;
  gint wait_status = 0;
  gboolean started
      = g_spawn_command_line_sync (command_line, &output, &error_output, &wait_status, &error);
  if (output != NULL && output[0] != '\0')
    SF_LOG_DEBUG ("Script output in next line\n%s\n----", output);
  if (error_output != NULL && error_output[0] != '\0')
    SF_LOG_DEBUG ("Script errorinfo in next line \n%s\n---", error_output);
  if (error != NULL)
    SF_LOG_DEBUG ("script returned error in next line \n%s\n", error->message);

  /* A script that could not be started has no status of its own. */
  gint status = started ? exit_status_of (wait_status) : -1;
  if (exit_status != NULL)
    *exit_status = status;

  g_autofree gchar *escaped = g_strescape (command_line, NULL);
  SF_LOG_DEBUG ("Script finished");
  SF_LOG_DEBUG ("It took %.2lf seconds to execute script %s.(perf_check)\n",
                (double)(g_get_real_time () / G_USEC_PER_SEC - started_at), escaped);
  return started;
}

void
sf_utils_log_script_error (const gchar *application, const gchar *script, gint exit_status)
{
  SF_LOG_WARNING ("%s: Script %s returned error: %d\n", application, script, exit_status);
  sf_utils_write_error_log (application);
}

void
sf_utils_write_error_log (const gchar *application)
{
  g_return_if_fail (application != NULL);
  SF_LOG_DEBUG ("sf_utils_write_error_log(%s)\n", application);
  g_autofree gchar *dir = g_build_filename (g_get_home_dir (), ".safehold", NULL);
  g_mkdir_with_parents (dir, 0755);
  g_autofree gchar *path = g_build_filename (dir, error_log_name, NULL);
  FILE *log = g_fopen (path, "a");
  if (log == NULL)
    return;
  fprintf (log, ",& %s", application);
  fclose (log);
}

void
_sf_utils_run_application_scripts (SfCategory categories, const gchar *list_file)
{
  GSList *applications = sf_backup_configurations_get_applications_in_categories (categories);
  if (applications == NULL)
    {
      SF_LOG_ERROR ("Could not get application names. No scripts are run.");
      return;
    }

  std::string words = category_words (categories);
  gboolean restore = list_file != NULL;
  for (GSList *item = applications; item != NULL; item = item->next)
    {
      const gchar *application = static_cast<const gchar *> (item->data);
      const gchar *script = script_of (application, restore);
      if (script != NULL)
        run_script (application, script, words, list_file);
    }
  g_slist_free_full (applications, g_free);
}
