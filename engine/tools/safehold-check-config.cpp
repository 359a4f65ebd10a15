/* Checks application backup configuration files with the engine's own parser and prints what
 * the engine would log for each, so that a developer can fix a file before installing it. */

#include "sf-backup-configurations.h"
#include "sf-config.h"
#include "sf-log.h"

#include <libxml/xmlerror.h>
#include <cstdio>
#include <cstring>

namespace
{
/* Whether the file being checked has written any message yet. */
gboolean file_has_messages;

/* Engine lines begin with the source position of the statement; a developer needs only the
 * message. */
const gchar *
strip_source_position (const gchar *message)
{
  const gchar *position = strstr (message, ".cpp:");
  if (position == NULL)
    return message;
  const gchar *text = strstr (position, ": ");
  return text != NULL ? text + 2 : message;
}

void
print_message (const gchar *, GLogLevelFlags, const gchar *message, gpointer file_name)
{
  g_autofree gchar *text = g_strchomp (g_strdup (strip_source_position (message)));
  printf ("%s: %s\n", (const gchar *)file_name, text);
  file_has_messages = TRUE;
}

/* The engine drops files that are no XML or no configuration without a word. */
void
explain_silent_rejection (const gchar *file_name)
{
  const xmlError *error = xmlGetLastError ();
  if (error != NULL && error->level >= XML_ERR_ERROR)
    printf ("%s:%d: not well-formed XML: %s", file_name, error->line,
            error->message != NULL ? error->message : "\n");
  else
    printf ("%s: not a backup configuration: the root element must be "
            "<backup-configuration>\n",
            file_name);
}

gboolean
check_file (const gchar *file_name, gboolean trusted)
{
  file_has_messages = FALSE;
  xmlResetLastError ();
  guint handler = g_log_set_handler (NULL, G_LOG_LEVEL_MASK, print_message, (gpointer)file_name);
  g_autoptr (GFile) file = g_file_new_for_commandline_arg (file_name);
  gboolean accepted = backup_configurations_parse_conf_file (
      sf_backup_configurations_get_locations (),
      sf_backup_configurations_get_permanent_locations (), file, trusted);
  g_log_remove_handler (NULL, handler);
  if (!accepted && !file_has_messages)
    explain_silent_rejection (file_name);
  printf ("%s: %s\n", file_name, accepted ? "accepted" : "rejected");
  return accepted;
}
void
report_engine_configuration (const gchar *config_dir)
{
  sf_config_init (config_dir);
  g_autofree gchar *file_name = g_build_filename (
      config_dir != NULL ? config_dir : SAFEHOLD_DATA_DIR, "safehold.conf", NULL);
  if (_sf_config_get_configured_documents_dir (sf_config_get ()) != NULL)
    printf ("Engine configuration: %s\n", file_name);
  else
    printf ("Engine configuration: no valid %s, the defaults apply\n", file_name);
}
} // namespace

int
main (int argc, char **argv)
{
  gboolean untrusted = FALSE;
  gboolean version = FALSE;
  g_autofree gchar *config_dir = NULL;
  GOptionEntry entries[] = {
    { "config-dir", 'c', 0, G_OPTION_ARG_FILENAME, &config_dir,
      "Read the engine configuration (safehold.conf) from DIR instead of SAFEHOLD_DATA_DIR or the "
      "installed data directory",
      "DIR" },
    { "untrusted", 'u', 0, G_OPTION_ARG_NONE, &untrusted,
      "Check as a third-party file from the install home: only paths below $HOME or the "
      "install home are allowed",
      NULL },
    { "version", 'V', 0, G_OPTION_ARG_NONE, &version, "Print the version and exit", NULL },
    { NULL, 0, 0, G_OPTION_ARG_NONE, NULL, NULL, NULL },
  };
  g_autoptr (GOptionContext) context = g_option_context_new ("FILE...");
  g_option_context_set_summary (context,
                                "Checks application backup configuration files as the backup "
                                "engine reads them. Files are read in the order given; an "
                                "application name or path declared twice is reported as the "
                                "engine would when both files are installed.");
  g_option_context_add_main_entries (context, entries, NULL);
  g_autoptr (GError) error = NULL;
  gboolean parsed = g_option_context_parse (context, &argc, &argv, &error);
  if (parsed && version)
    {
      printf ("safehold-check-config %s\n", SAFEHOLD_VERSION);
      return 0;
    }
  if (!parsed || argc < 2)
    {
      fprintf (stderr, "%s\n", error != NULL ? error->message : "No file given.");
      fprintf (stderr, "Usage: %s [--untrusted] [--config-dir DIR] FILE...\n", g_get_prgname ());
      return 2;
    }

  /* The documents folder and the GConf directory, which no location may cover, come from the
   * engine configuration the program itself would read. */
  if (config_dir == NULL)
    config_dir = g_strdup (g_getenv ("SAFEHOLD_DATA_DIR"));
  report_engine_configuration (config_dir);
  sf_log_start (2);
  sf_backup_configurations_init_empty ();
  gboolean all_accepted = TRUE;
  for (int index = 1; index < argc; index++)
    all_accepted = check_file (argv[index], !untrusted) && all_accepted;
  sf_backup_configurations_free ();
  sf_config_free ();
  return all_accepted ? 0 : 1;
}
