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
};

ToolRun
check_config (std::vector<std::string> arguments)
{
  arguments.insert (arguments.begin (), SAFEHOLD_BINARY_DIR "/engine/tools/safehold-check-config");
  std::vector<gchar *> argv;
  for (std::string &argument : arguments)
    argv.push_back (argument.data ());
  argv.push_back (NULL);
  g_autofree gchar *output = NULL;
  gint wait_status = 0;
  g_autoptr (GError) error = NULL;
  EXPECT_TRUE (g_spawn_sync (NULL, argv.data (), NULL, G_SPAWN_DEFAULT, NULL, NULL, &output, NULL,
                             &wait_status, &error))
      << error->message;
  return { output != NULL ? output : "", WIFEXITED (wait_status) ? WEXITSTATUS (wait_status) : -1 };
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
} // namespace
