/* The password of a protected backup: from a file, or typed without echo; never an argument,
 * where every user of the machine could read it. */

#include "safehold-archive.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace
{
struct termios saved_terminal;

/* Gives the terminal its echo back when the prompt is interrupted. */
void
restore_terminal_and_exit (int signal_number)
{
  tcsetattr (STDIN_FILENO, TCSAFLUSH, &saved_terminal);
  signal (signal_number, SIG_DFL);
  raise (signal_number);
}

gchar *
read_password_file (const gchar *path, int *status)
{
  gchar *content = NULL;
  g_autoptr (GError) error = NULL;
  if (!g_file_get_contents (path, &content, NULL, &error))
    {
      fprintf (stderr, "safehold-archive: %s; give a readable password file\n", error->message);
      *status = ARCHIVE_STATUS_USAGE;
      return NULL;
    }
  content[strcspn (content, "\r\n")] = '\0';
  if (content[0] == '\0')
    {
      fprintf (stderr, "safehold-archive: %s: the first line is empty; write the password there\n",
               path);
      archive_password_free (content);
      *status = ARCHIVE_STATUS_PASSWORD;
      return NULL;
    }
  return content;
}

gchar *
prompt_password (SfBackupInfo *info, int *status)
{
  if (tcgetattr (STDIN_FILENO, &saved_terminal) != 0)
    {
      *status = ARCHIVE_STATUS_PASSWORD;
      return NULL;
    }
  fprintf (stderr,
           "Password of backup %s: ", archive_escape (sf_backup_info_get_name (info)).c_str ());
  fflush (stderr);
  struct termios quiet = saved_terminal;
  quiet.c_lflag &= ~(tcflag_t)ECHO;
  quiet.c_lflag |= ECHONL;
  signal (SIGINT, restore_terminal_and_exit);
  signal (SIGTERM, restore_terminal_and_exit);
  tcsetattr (STDIN_FILENO, TCSAFLUSH, &quiet);
  /* The whole line, however long: a cut password would only look wrong. */
  gchar *line = NULL;
  size_t capacity = 0;
  gboolean read = getline (&line, &capacity, stdin) >= 0;
  tcsetattr (STDIN_FILENO, TCSAFLUSH, &saved_terminal);
  signal (SIGINT, SIG_DFL);
  signal (SIGTERM, SIG_DFL);
  if (line != NULL)
    line[strcspn (line, "\r\n")] = '\0';
  gchar *password = read && line[0] != '\0' ? g_strdup (line) : NULL;
  if (line != NULL)
    memset (line, 0, capacity);
  free (line);
  if (password == NULL)
    {
      fprintf (stderr, "safehold-archive: no password given\n");
      *status = ARCHIVE_STATUS_PASSWORD;
    }
  return password;
}
} // namespace

gchar *
archive_password_get (SfBackupInfo *info, const ArchiveOptions &options, int *status)
{
  if (!sf_backup_info_get_is_protected (info))
    return g_strdup ("");
  if (options.password_file != NULL)
    return read_password_file (options.password_file, status);
  if (isatty (STDIN_FILENO))
    return prompt_password (info, status);
  fprintf (stderr,
           "safehold-archive: backup %s is protected by a password; give it with "
           "--password-file FILE, or run the command on a terminal to be asked for it\n",
           archive_escape (sf_backup_info_get_name (info)).c_str ());
  *status = ARCHIVE_STATUS_PASSWORD;
  return NULL;
}

void
archive_password_free (gchar *password)
{
  if (password != NULL)
    memset (password, 0, strlen (password));
  g_free (password);
}
