#include <glib.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
struct ToolRun
{
  std::string output;
  int status;
  std::string error;
};

/* data_dir is what SAFEHOLD_DATA_DIR says, NULL for unset. */
ToolRun
check_config (std::vector<std::string> arguments, const gchar *data_dir = NULL)
{
  arguments.insert (arguments.begin (), SAFEHOLD_BINARY_DIR "/engine/tools/safehold-check-config");
  std::vector<gchar *> argv;
  for (std::string &argument : arguments)
    argv.push_back (argument.data ());
  argv.push_back (NULL);
  g_autofree gchar *output = NULL;
  g_autofree gchar *error_output = NULL;
  gint wait_status = 0;
  g_autoptr (GError) error = NULL;
  gchar **environment = g_get_environ ();
  environment = data_dir != NULL
                    ? g_environ_setenv (environment, "SAFEHOLD_DATA_DIR", data_dir, TRUE)
                    : g_environ_unsetenv (environment, "SAFEHOLD_DATA_DIR");
  EXPECT_TRUE (g_spawn_sync (NULL, argv.data (), environment, G_SPAWN_DEFAULT, NULL, NULL, &output,
                             &error_output, &wait_status, &error))
      << error->message;
  g_strfreev (environment);
  return { output != NULL ? output : "", WIFEXITED (wait_status) ? WEXITSTATUS (wait_status) : -1,
           error_output != NULL ? error_output : "" };
}

TEST (CheckConfigTest, AcceptsEveryShippedSample)
{
  const std::string samples = SAFEHOLD_BINARY_DIR "/data/applications/";
  ToolRun run = check_config ({ samples + "contacts.conf", samples + "email.conf",
                                samples + "settings.conf", samples + "example-notes.conf" });
  EXPECT_EQ (run.status, 0) << run.output;
  EXPECT_EQ (run.output.find ("rejected"), std::string::npos) << run.output;
  EXPECT_NE (run.output.find ("example-notes.conf: accepted"), std::string::npos) << run.output;

  ToolRun third_party = check_config ({ "--untrusted", samples + "example-notes.conf" });
  EXPECT_EQ (third_party.status, 0) << third_party.output;
}

TEST (CheckConfigTest, ReportsWhyAFileIsRejected)
{
  g_autofree gchar *directory = g_dir_make_tmp ("check-XXXXXX", NULL);
  std::string broken = std::string (directory) + "/broken.conf";
  ASSERT_TRUE (g_file_set_contents (
      broken.c_str (),
      "<backup-configuration><application-name>notes</application-name>"
      "<application-type>third-party</application-type><backup-method>backup-dbus"
      "</backup-method><backup-dbus><dbus-service object=\"/n\">n.s</dbus-service></backup-dbus>"
      "<locations><location type=\"dir\" category=\"contacts\">/etc/notes</location>"
      "</locations></backup-configuration>",
      -1, NULL));
  std::string unparsable = std::string (directory) + "/unparsable.conf";
  ASSERT_TRUE (g_file_set_contents (unparsable.c_str (), "<backup-configuration>\n<a>", -1, NULL));

  ToolRun run = check_config ({ "--untrusted", broken, unparsable });
  EXPECT_EQ (run.status, 1);
  EXPECT_NE (run.output.find (broken
                              + ": Third-party applications must not have system paths listed:\n"
                                " /etc/notes\n"),
             std::string::npos)
      << run.output;
  EXPECT_NE (run.output.find (broken + ": rejected\n"), std::string::npos) << run.output;
  EXPECT_NE (run.output.find (unparsable + ":2: not well-formed XML: "), std::string::npos)
      << run.output;
  EXPECT_NE (run.output.find (unparsable + ": rejected\n"), std::string::npos) << run.output;
  EXPECT_EQ (run.output.find (".cpp:"), std::string::npos) << run.output;

  ToolRun trusted = check_config ({ broken });
  EXPECT_EQ (trusted.status, 0) << trusted.output;

  /* A backup deletes what it packs from ordinary locations: never the whole home folder. */
  std::string home = std::string (directory) + "/home.conf";
  ASSERT_TRUE (g_file_set_contents (
      home.c_str (),
      "<backup-configuration><application-name>greedy</application-name>"
      "<application-type>korvel</application-type><backup-method>backup-dbus"
      "</backup-method><backup-dbus><dbus-service object=\"/g\">g.s</dbus-service></backup-dbus>"
      "<locations><location type=\"dir\" category=\"contacts\">$HOME/</location>"
      "</locations></backup-configuration>",
      -1, NULL));
  for (bool untrusted : { false, true })
    {
      ToolRun greedy = untrusted ? check_config ({ "--untrusted", home }) : check_config ({ home });
      EXPECT_EQ (greedy.status, 1) << greedy.output;
      EXPECT_NE (greedy.output.find (home + ": sf-backup-configurations: Location "
                                     + g_get_home_dir () + " in XML configuration file " + home
                                     + " would delete the user's data"),
                 std::string::npos)
          << greedy.output;
    }

  g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", directory);
  g_spawn_command_line_sync (command, NULL, NULL, NULL, NULL);
}

/* How often text stands in output. */
size_t
occurrences (const std::string &output, const std::string &text)
{
  size_t count = 0;
  for (size_t at = output.find (text); at != std::string::npos; at = output.find (text, at + 1))
    count++;
  return count;
}

/* A location that cannot be expanded is reported once, for a file of the system and for a
 * third-party one alike. */
TEST (CheckConfigTest, EachProblemIsReportedOnce)
{
  g_autofree gchar *directory = g_dir_make_tmp ("check-XXXXXX", NULL);
  std::string file = std::string (directory) + "/home.conf";
  ASSERT_TRUE (g_file_set_contents (
      file.c_str (),
      "<backup-configuration><application-name>notes</application-name>"
      "<application-type>third-party</application-type><backup-method>backup-dbus"
      "</backup-method><backup-dbus><dbus-service object=\"/n\">n.s</dbus-service></backup-dbus>"
      "<locations><location type=\"dir\" category=\"contacts\">$HOME</location>"
      "</locations></backup-configuration>",
      -1, NULL));
  for (bool untrusted : { false, true })
    {
      ToolRun run = untrusted ? check_config ({ "--untrusted", file }) : check_config ({ file });
      EXPECT_EQ (run.status, 1) << run.output;
      EXPECT_EQ (occurrences (run.output, "Path after $HOME must be absolute ($HOME)."), 1u)
          << run.output;
      EXPECT_EQ (occurrences (run.output, file + ": rejected\n"), 1u) << run.output;
    }
  g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", directory);
  g_spawn_command_line_sync (command, NULL, NULL, NULL, NULL);
}

/* Help and version on the standard output with success; a wrong command line on the standard
 * error with status 2. */
TEST (CheckConfigTest, HelpVersionAndUsageErrorsGoWhereTheyBelong)
{
  ToolRun help = check_config ({ "--help" });
  EXPECT_EQ (help.status, 0);
  EXPECT_NE (help.output.find ("--untrusted"), std::string::npos) << help.output;
  EXPECT_NE (help.output.find ("--version"), std::string::npos) << help.output;
  EXPECT_EQ (help.error, "");

  ToolRun version = check_config ({ "--version" });
  EXPECT_EQ (version.status, 0);
  EXPECT_EQ (version.output, "safehold-check-config " SAFEHOLD_VERSION "\n");
  EXPECT_EQ (version.error, "");

  for (const std::vector<std::string> &wrong :
       { std::vector<std::string>{}, std::vector<std::string>{ "--shuffle", "x.conf" } })
    {
      ToolRun run = check_config (wrong);
      EXPECT_EQ (run.status, 2);
      EXPECT_EQ (run.output, "");
      EXPECT_NE (run.error.find ("Usage: safehold-check-config"), std::string::npos) << run.error;
    }
}

/* The tool reads the engine configuration the program would: a build tree's through
 * SAFEHOLD_DATA_DIR, another through --config-dir, and without one the defaults still protect the
 * documents and the GConf directory. */
TEST (CheckConfigTest, ReadsTheEngineConfigurationTheProgramWouldRead)
{
  g_autofree gchar *directory = g_dir_make_tmp ("check-XXXXXX", NULL);
  std::vector<std::string> files;
  for (const char *folder : { "$HOME/MyDocs", "$HOME/MyDocs/", "$HOME/.gconf" })
    {
      std::string file = std::string (directory) + "/f" + std::to_string (files.size ()) + ".conf";
      ASSERT_TRUE (g_file_set_contents (
          file.c_str (),
          (std::string ("<backup-configuration><application-name>a")
           + std::to_string (files.size ())
           + "</application-name><application-type>korvel</application-type><backup-method>"
             "backup-dbus</backup-method><backup-dbus><dbus-service object=\"/a\">a.s"
             "</dbus-service></backup-dbus><locations><location type=\"dir\" "
             "category=\"contacts\">"
           + folder + "</location></locations></backup-configuration>")
              .c_str (),
          -1, NULL));
      files.push_back (file);
    }
  const std::string build_data = SAFEHOLD_BINARY_DIR "/data";
  const std::string empty = directory;
  struct Way
  {
    std::vector<std::string> options;
    const gchar *data_dir;
    std::string reported;
  };
  for (const Way &way :
       { Way{ {}, build_data.c_str (), "Engine configuration: " + build_data + "/safehold.conf\n" },
         Way{ {},
              empty.c_str (),
              "Engine configuration: no valid " + empty + "/safehold.conf, the defaults apply\n" },
         Way{ { "--config-dir", build_data },
              empty.c_str (),
              "Engine configuration: " + build_data + "/safehold.conf\n" } })
    for (bool untrusted : { false, true })
      {
        std::vector<std::string> arguments = way.options;
        if (untrusted)
          arguments.push_back ("--untrusted");
        arguments.insert (arguments.end (), files.begin (), files.end ());
        ToolRun run = check_config (arguments, way.data_dir);
        EXPECT_EQ (run.status, 1) << run.output;
        EXPECT_EQ (run.output.find (way.reported), 0u) << run.output;
        for (const std::string &file : files)
          EXPECT_NE (run.output.find (file + ": rejected\n"), std::string::npos) << run.output;
        EXPECT_EQ (run.output.find ("accepted"), std::string::npos) << run.output;
      }

  g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", directory);
  g_spawn_command_line_sync (command, NULL, NULL, NULL, NULL);
}
} // namespace
