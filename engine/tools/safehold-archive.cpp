/* Lists, shows, verifies and extracts safehold backups copied off the phone, with the engine's own
 * metadata, cipher and archive code: protected archives are unreadable by any standard tool. */

#include "safehold-archive.h"

#include "sf-log.h"

#include <clocale>
#include <cstdio>
#include <cstring>

namespace
{
const gchar *const exit_statuses
    = "Exit status:\n"
      "  0  success; verify: every category is intact\n"
      "  1  a category is damaged, or some files were not extracted (each is named on the\n"
      "     standard error)\n"
      "  2  wrong command line, no backup in the directory, or nothing could be done\n"
      "  3  the password is wrong, or a protected backup was given none\n"
      "  4  extract: DEST is full\n";

const gchar *const summary
    = "Commands:\n"
      "  list [BACKUPS_DIR]   the backups below BACKUPS_DIR (default: $HOME/MyDocs/.backups),\n"
      "                       newest first\n"
      "  show BACKUP_DIR      everything the backup's metadata records\n"
      "  verify BACKUP_DIR    reads every category archive to its end and checks it\n"
      "  extract BACKUP_DIR DEST\n"
      "                       writes the backup's files below DEST, each at DEST followed by its\n"
      "                       original path\n"
      "\n"
      "Passwords are read from --password-file FILE (its first line), or asked for when the\n"
      "standard input is a terminal; never from the command line.\n"
      "Run \"safehold-archive COMMAND --help\" for the options of a command. With SF_DEBUG set in\n"
      "the environment, the engine's own diagnostics are shown too.";

struct Command
{
  const gchar *name;
  const gchar *parameters;
  const gchar *description;
  gsize min_arguments;
  gsize max_arguments;
  int (*run) (const ArchiveOptions &options);
  gboolean reads_archives;
  gboolean extracts;
};

const Command commands[] = {
  { "list", "[BACKUPS_DIR]", "Lists the backups below BACKUPS_DIR, newest first.", 0, 1,
    archive_list, FALSE, FALSE },
  { "show", "BACKUP_DIR", "Shows everything the metadata of a backup records.", 1, 1, archive_show,
    FALSE, FALSE },
  { "verify", "BACKUP_DIR",
    "Reads every category archive of a backup to its end and says for each whether it is intact.",
    1, 1, archive_verify, TRUE, FALSE },
  { "extract", "BACKUP_DIR DEST",
    "Writes the files of a backup below DEST, each at DEST followed by its original absolute\n"
    "path, with its permission bits and modification time. Nothing is written outside DEST;\n"
    "existing files are kept unless --overwrite is given.",
    2, 2, archive_extract, TRUE, TRUE },
};

void
print_usage (FILE *stream)
{
  fprintf (stream,
           "Usage: safehold-archive COMMAND [OPTION...] ARGUMENTS\n"
           "       safehold-archive --help | --version\n\n%s\n\n%s",
           summary, exit_statuses);
}

std::vector<GOptionEntry>
option_entries (const Command &command, ArchiveOptions *options)
{
  std::vector<GOptionEntry> entries;
  if (command.reads_archives)
    {
      entries.push_back ({ "password-file", 'p', 0, G_OPTION_ARG_FILENAME, &options->password_file,
                           "Read the password of a protected backup from the first line of FILE",
                           "FILE" });
      entries.push_back (
          { "quiet", 'q', 0, G_OPTION_ARG_NONE, &options->quiet, "Show no progress bar", NULL });
    }
  if (command.extracts)
    {
      entries.push_back ({ "category", 'c', 0, G_OPTION_ARG_STRING_ARRAY, &options->categories,
                           "Extract only category NAME (contacts, emails, settings, ...); may be "
                           "given more than once",
                           "NAME" });
      entries.push_back ({ "overwrite", 0, 0, G_OPTION_ARG_NONE, &options->overwrite,
                           "Replace files that exist below DEST", NULL });
    }
  entries.push_back ({ NULL, 0, 0, G_OPTION_ARG_NONE, NULL, NULL, NULL });
  return entries;
}

int
run_command (const Command &command, int argc, char **argv)
{
  ArchiveOptions options;
  std::vector<GOptionEntry> entries = option_entries (command, &options);
  g_autofree gchar *program = g_strdup_printf ("safehold-archive %s", command.name);
  g_set_prgname (program);
  g_autoptr (GOptionContext) context = g_option_context_new (command.parameters);
  g_option_context_set_summary (context, command.description);
  g_option_context_set_description (context, exit_statuses);
  g_option_context_add_main_entries (context, entries.data (), NULL);
  g_autoptr (GError) error = NULL;
  if (!g_option_context_parse (context, &argc, &argv, &error))
    {
      fprintf (stderr, "safehold-archive %s: %s\nTry \"safehold-archive %s --help\".\n",
               command.name, error->message, command.name);
      g_free (options.password_file);
      g_strfreev (options.categories);
      return ARCHIVE_STATUS_USAGE;
    }
  for (int index = 1; index < argc; index++)
    options.arguments.push_back (argv[index]);
  int status;
  if (options.arguments.size () < command.min_arguments
      || options.arguments.size () > command.max_arguments)
    {
      fprintf (stderr, "Usage: safehold-archive %s %s\nTry \"safehold-archive %s --help\".\n",
               command.name, command.parameters, command.name);
      status = ARCHIVE_STATUS_USAGE;
    }
  else
    status = command.run (options);
  g_free (options.password_file);
  g_strfreev (options.categories);
  return status;
}
} // namespace

int
main (int argc, char **argv)
{
  setlocale (LC_ALL, "");
  /* The tool says itself what went wrong; the engine's own lines are for debugging. */
  sf_log_start (g_getenv ("SF_DEBUG") != NULL ? 2 : 0);
  if (argc < 2)
    {
      print_usage (stderr);
      return ARCHIVE_STATUS_USAGE;
    }
  if (strcmp (argv[1], "--help") == 0 || strcmp (argv[1], "-h") == 0
      || strcmp (argv[1], "help") == 0)
    {
      print_usage (stdout);
      return ARCHIVE_STATUS_OK;
    }
  if (strcmp (argv[1], "--version") == 0 || strcmp (argv[1], "-V") == 0)
    {
      printf ("safehold-archive %s\n", SAFEHOLD_VERSION);
      return ARCHIVE_STATUS_OK;
    }
  for (const Command &command : commands)
    if (strcmp (argv[1], command.name) == 0)
      {
        return run_command (command, argc - 1, argv + 1);
      }
  fprintf (stderr, "safehold-archive: unknown command \"%s\"\n\n", argv[1]);
  print_usage (stderr);
  return ARCHIVE_STATUS_USAGE;
}
