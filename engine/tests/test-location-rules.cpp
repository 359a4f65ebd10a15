#include "sf-backup-configurations.h"
#include "sf-config.h"
#include "sf-log.h"

#include "log-capture.h"

#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
enum class Kind
{
  ORDINARY_DIR,
  ORDINARY_FILE,
  PERMANENT_SETTINGS,
  PERMANENT_CONTACTS,
};

struct Case
{
  std::string path;
  Kind kind;
  bool accepted;
};

std::string
entry (const Case &one)
{
  switch (one.kind)
    {
    case Kind::ORDINARY_DIR:
      return "<location type=\"dir\" category=\"contacts\">" + one.path + "</location>";
    case Kind::ORDINARY_FILE:
      return "<location type=\"file\" category=\"contacts\">" + one.path + "</location>";
    case Kind::PERMANENT_SETTINGS:
      return "<location type=\"permanent-backup-file\" category=\"settings\">" + one.path
             + "</location>";
    case Kind::PERMANENT_CONTACTS:
      return "<location type=\"permanent-backup-file\" category=\"contacts\">" + one.path
             + "</location>";
    }
  return "";
}

std::string
configuration (const std::string &name, const std::string &type, const std::string &entries)
{
  return "<?xml version=\"1.0\"?>\n<backup-configuration><application-name>" + name
         + "</application-name><application-type>" + type
         + "</application-type><backup-method>backup-dbus permanent-backup-files</backup-method>"
           "<backup-dbus><dbus-service object=\"/o\">s.x</dbus-service></backup-dbus><locations>"
         + entries + "</locations></backup-configuration>\n";
}

/* Every folder the rules protect lies in the sandboxed home, so that third-party files may name
 * them too: the documents folder, the memories' mount points and a fake card. */
class LocationRulesTest : public testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    root = g_dir_make_tmp ("rules-XXXXXX", NULL);
    ASSERT_NE (root, nullptr);
    data = std::string (root) + "/data";
    install_home = std::string (root) + "/install";
    g_setenv ("INSTALLHOME", install_home.c_str (), TRUE);
    g_setenv ("MYDOCSDIR", (home + "/phone-docs").c_str (), TRUE);
    g_setenv ("INTERNAL_MMC_MOUNTPOINT", (home + "/internal").c_str (), TRUE);
    g_setenv ("MMC_MOUNTPOINT", (home + "/card").c_str (), TRUE);
    g_setenv ("FAKE_MMC_DIR", (home + "/fake").c_str (), TRUE);
    g_mkdir_with_parents ((home + "/fake/sd").c_str (), 0700);
    g_mkdir_with_parents ((home + "/fake/plain").c_str (), 0700);
    ASSERT_TRUE (g_file_set_contents ((home + "/fake/sd/mounted").c_str (), "", 0, NULL));
  }

  void TearDown () override
  {
    sf_backup_configurations_free ();
    sf_config_free ();
    for (const char *variable : { "INSTALLHOME", "MYDOCSDIR", "INTERNAL_MMC_MOUNTPOINT",
                                  "MMC_MOUNTPOINT", "FAKE_MMC_DIR" })
      g_unsetenv (variable);
    g_autofree gchar *command = g_strdup_printf ("rm -rf '%s' '%s/fake'", root, g_get_home_dir ());
    g_spawn_command_line_sync (command, NULL, NULL, NULL, NULL);
    g_free (root);
  }

  /* Installs each case as a file of its own, trusted and third-party, reads them all with the
   * engine configuration of config_dir, and checks which were accepted. */
  void check (const std::string &config_dir, const std::vector<Case> &cases)
  {
    std::string trusted = data + "/applications";
    std::string untrusted = install_home + "/usr/share/safehold/applications";
    g_mkdir_with_parents (trusted.c_str (), 0700);
    g_mkdir_with_parents (untrusted.c_str (), 0700);
    for (size_t index = 0; index < cases.size (); index++)
      {
        std::string number = std::to_string (index);
        write (trusted + "/t" + number + ".conf",
               configuration ("t" + number, "korvel", entry (cases[index])));
        write (untrusted + "/u" + number + ".conf",
               configuration ("u" + number, "third-party", entry (cases[index])));
      }
    sf_config_init (config_dir.c_str ());
    LogCapture log;
    sf_backup_configurations_init (data.c_str ());
    for (size_t index = 0; index < cases.size (); index++)
      for (const char *prefix : { "t", "u" })
        {
          SfBackupMethod method;
          bool known = sf_backup_configurations_get_backup_backup_method (
                           (prefix + std::to_string (index)).c_str (), &method)
                       == 1;
          EXPECT_EQ (known, cases[index].accepted)
              << prefix << index << ": " << entry (cases[index]);
        }
    EXPECT_TRUE (log.contains ("would delete the user's data"));
    EXPECT_TRUE (log.contains ("would have a restore delete the user's data"));
    sf_backup_configurations_free ();
    sf_config_free ();
    g_autofree gchar *command
        = g_strdup_printf ("rm -rf '%s' '%s'", data.c_str (), install_home.c_str ());
    g_spawn_command_line_sync (command, NULL, NULL, NULL, NULL);
  }

  static void write (const std::string &file, const std::string &contents)
  {
    ASSERT_TRUE (g_file_set_contents (file.c_str (), contents.data (), contents.size (), NULL));
  }

  /* Every kind of location at each folder is refused, and each kind below it is accepted. */
  static void add_protected (std::vector<Case> &cases, const std::string &folder)
  {
    for (Kind kind : { Kind::ORDINARY_DIR, Kind::ORDINARY_FILE, Kind::PERMANENT_SETTINGS,
                       Kind::PERMANENT_CONTACTS })
      {
        cases.push_back ({ folder, kind, false });
        cases.push_back ({ folder + "/export", kind, true });
      }
  }

  /* The GConf directory may hold the settings category's permanent files, nothing else. */
  static void add_gconf (std::vector<Case> &cases, const std::string &gconf)
  {
    cases.push_back ({ gconf, Kind::ORDINARY_DIR, false });
    cases.push_back ({ gconf + "/", Kind::ORDINARY_FILE, false });
    cases.push_back ({ gconf, Kind::PERMANENT_SETTINGS, true });
    cases.push_back ({ gconf + "/", Kind::PERMANENT_SETTINGS, true });
    cases.push_back ({ gconf, Kind::PERMANENT_CONTACTS, false });
    cases.push_back ({ gconf + "/%gconf-tree.xml", Kind::PERMANENT_SETTINGS, true });
  }

  /* What is protected whatever the engine configuration says. */
  std::vector<Case> always_protected ()
  {
    std::vector<Case> cases;
    for (const std::string &folder :
         { std::string ("$HOME"), std::string ("$HOME/MyDocs"), home + "/phone-docs",
           home + "/internal", home + "/internal/.backups", home + "/card", home + "/card/.backups",
           home + "/fake/sd", home + "/fake/sd/.backups" })
      add_protected (cases, folder);
    cases.push_back ({ "$HOME/MyDocs/", Kind::ORDINARY_DIR, false });
    cases.push_back ({ "$HOME/fake", Kind::PERMANENT_SETTINGS, false });
    cases.push_back ({ "$HOME/fake/plain", Kind::ORDINARY_DIR, true });
    return cases;
  }

  gchar *root = NULL;
  std::string data, install_home;
  const std::string home = g_get_home_dir ();
};

TEST_F (LocationRulesTest, WithoutAnEngineConfigurationTheDefaultFoldersAreProtected)
{
  std::vector<Case> cases = always_protected ();
  add_gconf (cases, "$HOME/.gconf");
  check (std::string (root) + "/no-configuration", cases);
}

TEST_F (LocationRulesTest, TheConfiguredFoldersAreProtectedBesideTheDefaults)
{
  std::string config_dir = std::string (root) + "/config";
  g_mkdir_with_parents (config_dir.c_str (), 0700);
  write (config_dir + "/safehold.conf",
         "<backup-configuration><gconf-dir>$HOME/conf/gconf</gconf-dir>"
         "<documents-path>$HOME/docs</documents-path></backup-configuration>");
  std::vector<Case> cases = always_protected ();
  add_protected (cases, home + "/docs");
  add_gconf (cases, "$HOME/conf/gconf");
  cases.push_back ({ "$HOME/conf", Kind::PERMANENT_SETTINGS, false });
  check (config_dir, cases);
}

TEST_F (LocationRulesTest, AFolderThatLeadsToAProtectedOneByALinkIsRefused)
{
  g_mkdir_with_parents ((home + "/.app").c_str (), 0700);
  g_mkdir_with_parents ((home + "/MyDocs").c_str (), 0700);
  ASSERT_EQ (symlink ((home + "/MyDocs").c_str (), (home + "/.app/docs-link").c_str ()), 0);
  std::vector<Case> cases = { { "$HOME/.app/docs-link", Kind::ORDINARY_DIR, false },
                              { "$HOME/.app/docs-link", Kind::PERMANENT_SETTINGS, false },
                              { "$HOME/.app/docs-link/export", Kind::PERMANENT_SETTINGS, true } };
  check (std::string (root) + "/no-configuration", cases);
  g_unlink ((home + "/.app/docs-link").c_str ());
}
} // namespace
