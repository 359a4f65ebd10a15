#include "sf-utils.h"

#include "sf-backup-configurations.h"
#include "sf-log.h"

#include <gio/gio.h>
#include <glib-unix.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace
{
const gchar *const error_log_name = "backup-restore-script-error-log";
const gchar *const platform_release = "solano";
/* What a script was told when it was killed by a signal: the shell's convention. */
const gint signal_status_base = 128;
/* How long a script has to end after being asked to on a cancel, before it is killed. */
const gint64 termination_grace_us = 5 * G_USEC_PER_SEC;
/* How often a running script is looked at while nothing else happens. */
const gint check_interval_ms = 100;

/* Runs in the child: the script and whatever it starts form a group that a cancel can end. */
void
start_own_group (gpointer)
{
  setpgid (0, 0);
}

/* One output pipe of a running script and what came through it. */
struct ScriptPipe
{
  gint fd = -1;
  GString *text = g_string_new (NULL);

  ~ScriptPipe ()
  {
    if (fd >= 0)
      close (fd);
    g_string_free (text, TRUE);
  }

  /* Takes what the pipe holds now; closes it at its end. */
  void drain ()
  {
    gchar buffer[4096];
    while (fd >= 0)
      {
        gssize count = read (fd, buffer, sizeof buffer);
        if (count > 0)
          g_string_append_len (text, buffer, count);
        else if (count < 0 && errno == EINTR)
          continue;
        else if (count < 0 && errno == EAGAIN)
          return;
        else
          {
            close (fd);
            fd = -1;
          }
      }
  }
};

/* A script started in a group of its own, watched until it has ended. */
struct RunningScript
{
  GPid pid = 0;
  ScriptPipe output;
  ScriptPipe errors;
  GCancellable *cancellable = NULL;
  GPollFD cancel_poll = {};
  gint wait_status = 0;
  gboolean reaped = FALSE;
  gint64 terminated_at = -1;
  gboolean killed = FALSE;

  explicit RunningScript (GCancellable *current) : cancellable (current)
  {
    if (cancellable != NULL && !g_cancellable_make_pollfd (cancellable, &cancel_poll))
      cancellable = NULL;
  }

  ~RunningScript ()
  {
    if (cancellable != NULL)
      g_cancellable_release_fd (cancellable);
  }

  void signal_group (gint signal_number)
  {
    if (kill (-pid, signal_number) != 0 && errno != ESRCH)
      SF_LOG_WARNING ("Could not signal script %d: %s", (gint)pid, g_strerror (errno));
  }

  /* Once asked to end, what it started must be gone too before the cancel goes on. */
  gboolean ended () const
  {
    return reaped && (terminated_at < 0 || killed || kill (-pid, 0) != 0);
  }

  void reap ()
  {
    pid_t result = waitpid (pid, &wait_status, WNOHANG);
    if (result == pid)
      reaped = TRUE;
    else if (result < 0 && errno != EINTR)
      {
        SF_LOG_WARNING ("Lost script %d: %s", (gint)pid, g_strerror (errno));
        wait_status = W_EXITCODE (255, 0);
        reaped = TRUE;
      }
  }

  /* A cancel asks the group to end, and kills it when it has not after the grace time. */
  void answer_cancel ()
  {
    gint64 now = g_get_monotonic_time ();
    if (terminated_at < 0 && g_cancellable_is_cancelled (cancellable))
      {
        SF_LOG_WARNING ("Cancelled: asking script %d to end", (gint)pid);
        signal_group (SIGTERM);
        terminated_at = now;
      }
    else if (terminated_at >= 0 && !killed && now - terminated_at >= termination_grace_us)
      {
        SF_LOG_WARNING ("Script %d did not end when asked: killing it", (gint)pid);
        signal_group (SIGKILL);
        killed = TRUE;
      }
  }

  /* Waits a little for output or a cancel, and takes the output. */
  void wait_a_little ()
  {
    GPollFD polled[3];
    guint count = 0;
    for (ScriptPipe *pipe : { &output, &errors })
      if (pipe->fd >= 0)
        polled[count++] = { pipe->fd, G_IO_IN | G_IO_HUP | G_IO_ERR, 0 };
    if (cancellable != NULL && terminated_at < 0)
      polled[count++] = cancel_poll;
    g_poll (polled, count, check_interval_ms);
    output.drain ();
    errors.drain ();
  }

  void watch ()
  {
    for (;;)
      {
        if (!reaped)
          reap ();
        answer_cancel ();
        if (ended ())
          break;
        wait_a_little ();
      }
    output.drain ();
    errors.drain ();
  }
};

/* Starts command_line without a shell; FALSE with error when it cannot be started. */
gboolean
start_script (const gchar *command_line, RunningScript *script, GError **error)
{
  g_auto (GStrv) argv = NULL;
  if (!g_shell_parse_argv (command_line, NULL, &argv, error))
    return FALSE;
  if (!g_spawn_async_with_pipes (
          NULL, argv, NULL, (GSpawnFlags)(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
          start_own_group, NULL, &script->pid, NULL, &script->output.fd, &script->errors.fd, error))
    return FALSE;
  g_unix_set_fd_nonblocking (script->output.fd, TRUE, NULL);
  g_unix_set_fd_nonblocking (script->errors.fd, TRUE, NULL);
  return TRUE;
}

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

  if (g_cancellable_is_cancelled (g_cancellable_get_current ()))
    {
      SF_LOG_DEBUG ("Cancelled, script not run: %s", script);
      return;
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
  g_autoptr (GError) error = NULL;
  RunningScript script (g_cancellable_get_current ());
  gboolean started = start_script (command_line, &script, &error);
  if (started)
    script.watch ();
  if (script.output.text->len > 0)
    SF_LOG_DEBUG ("Script output in next line\n%s\n----", script.output.text->str);
  if (script.errors.text->len > 0)
    SF_LOG_DEBUG ("Script errorinfo in next line \n%s\n---", script.errors.text->str);
  if (error != NULL)
    SF_LOG_DEBUG ("script returned error in next line \n%s\n", error->message);

  /* A script that could not be started has no status of its own. */
  gint status = started ? exit_status_of (script.wait_status) : -1;
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
