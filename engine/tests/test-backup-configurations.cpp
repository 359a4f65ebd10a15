#include "sf-backup-configurations.h"
#include "sf-config.h"
#include "sf-file-entry.h"
#include "sf-vfs-utils.h"
#include "sf-log.h"

#include "log-capture.h"

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace
{
std::string
configuration (const std::string &name, const std::string &body, const std::string &type = "korvel")
{
  return "<?xml version=\"1.0\"?>\n<backup-configuration>\n  <application-name>" + name
         + "</application-name>\n  <application-type>" + type + "</application-type>\n" + body
         + "</backup-configuration>\n";
}

const std::string dbus_method = "<backup-method>backup-dbus</backup-method>"
                                "<backup-dbus><dbus-service object=\"/o\">s.x</dbus-service>"
                                "</backup-dbus>";

std::string
locations (const std::string &entries)
{
  return dbus_method + "<locations>" + entries + "</locations>";
}

std::vector<std::string>
strings (GSList *list)
{
  std::vector<std::string> result;
  for (GSList *item = list; item != NULL; item = item->next)
    result.push_back ((const gchar *)item->data);
  return result;
}

/* The applications of the mask, from the list the caller owns. */
std::vector<std::string>
applications_in (guint32 mask)
{
  GSList *list = sf_backup_configurations_get_applications_in_categories (mask);
  std::vector<std::string> result = strings (list);
  g_slist_free_full (list, g_free);
  return result;
}

class BackupConfigurationsTest : public testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    root = g_dir_make_tmp ("configurations-XXXXXX", NULL);
    ASSERT_NE (root, nullptr);
    trusted = std::string (root) + "/data/applications";
    install_home = std::string (root) + "/install";
    untrusted = install_home + "/usr/share/safehold/applications";
    g_mkdir_with_parents (trusted.c_str (), 0700);
    g_mkdir_with_parents (untrusted.c_str (), 0700);
    g_setenv ("INSTALLHOME", install_home.c_str (), TRUE);
  }

  void TearDown () override
  {
    sf_backup_configurations_free ();
    g_unsetenv ("INSTALLHOME");
    g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", root);
    g_spawn_command_line_sync (command, NULL, NULL, NULL, NULL);
    g_free (root);
  }

  void install (const std::string &directory, const std::string &name, const std::string &contents)
  {
    std::string file = directory + "/" + name;
    ASSERT_TRUE (g_file_set_contents (file.c_str (), contents.data (), contents.size (), NULL));
  }

  void init ()
  {
    sf_backup_configurations_init ((std::string (root) + "/data").c_str ());
  }

  static bool known (const std::string &name)
  {
    SfBackupMethod method;
    return sf_backup_configurations_get_backup_backup_method (name.c_str (), &method) == 1;
  }

  static SfBackupLocation *location (const std::string &path)
  {
    return (SfBackupLocation *)g_hash_table_lookup (sf_backup_configurations_get_locations (),
                                                    path.c_str ());
  }

  gchar *root = NULL;
  std::string trusted, untrusted, install_home;
  const std::string home = g_get_home_dir ();
};

TEST_F (BackupConfigurationsTest, AcceptedFilesFillEveryTable)
{
  install (trusted, "a-contacts.conf",
           configuration ("contacts",
                          locations ("<!-- the export area -->\n"
                                     "<location type=\"dir\" category=\"contacts\">$HOME/c/"
                                     "</location> stray text "
                                     "<exclusion type=\"dir\" category=\"contacts\">$HOME/c/tmp"
                                     "</exclusion>"
                                     "<location type=\"dir\" category=\"contacts\">$HOME/c/sub"
                                     "</location>"
                                     "<location type=\"file\" category=\"bookmarks\" auto=\"x\">"
                                     "$HOME/b.xml</location>")));
  install (trusted, "b-mail.conf",
           configuration ("mail", "<backup-method>backup-dbus backup-scripts</backup-method>"
                                  "<backup-dbus><dbus-service object=\"/m\">m.s</dbus-service>"
                                  "</backup-dbus><backup-scripts>"
                                  "<backup-script-name>/s/b</backup-script-name><other/>"
                                  "<restore-script-name>/s/r</restore-script-name>"
                                  "</backup-scripts><locations><location type=\"dir\" "
                                  "category=\"emails\">/var/mail</location>"
                                  "<location type=\"dir\" category=\"contacts\">/var/mail-c"
                                  "</location></locations>"));
  install (trusted, "c-settings.conf",
           configuration ("settings", "<backup-method>permanent-backup-files</backup-method>"
                                      "<locations><location type=\"permanent-backup-file\" "
                                      "category=\"settings\">$HOME/s.db</location></locations>"));
  install (trusted, "not-a-config.txt", "ignored");
  install (untrusted, "third.conf",
           configuration ("third",
                          locations ("<location type=\"file\" category=\"organizer\">"
                                     "$HOME/third/notes</location>"
                                     "<location type=\"file\" category=\"organizer\">"
                                     + install_home + "/third</location>"),
                          "third-party"));
  LogCapture log;
  init ();

  EXPECT_TRUE (log.contains ("Invalid auto property x ,backup location $HOME/b.xml in contacts "
                             "application configuration file"));
  EXPECT_TRUE (log.contains ("sf-backup-configurations: Backup D-bus data is not present in file "
                             + trusted + "/c-settings.conf"));

  SfBackupMethod method;
  ASSERT_EQ (sf_backup_configurations_get_backup_backup_method ("mail", &method), 1);
  EXPECT_TRUE (method.dbus && method.scripts && !method.permanent_files);
  ASSERT_EQ (sf_backup_configurations_get_backup_backup_method ("settings", &method), 1);
  EXPECT_TRUE (!method.dbus && !method.scripts && method.permanent_files);
  EXPECT_TRUE (known ("third"));

  gboolean has = FALSE;
  SfBackupDbusInfo dbus_info;
  ASSERT_EQ (sf_backup_configurations_get_backup_dbus_info ("mail", &has, &dbus_info), 1);
  EXPECT_TRUE (has);
  EXPECT_STREQ (dbus_info.service, "m.s");
  EXPECT_STREQ (dbus_info.object, "/m");
  EXPECT_EQ (dbus_info.flags, 0);
  ASSERT_EQ (sf_backup_configurations_get_backup_dbus_info ("settings", &has, &dbus_info), 1);
  EXPECT_FALSE (has);
  SfBackupScriptsInfo scripts_info;
  ASSERT_EQ (sf_backup_configurations_get_backup_scripts_info ("mail", &has, &scripts_info), 1);
  EXPECT_TRUE (has);
  EXPECT_STREQ (scripts_info.backup_script, "/s/b");
  EXPECT_STREQ (scripts_info.restore_script, "/s/r");
  ASSERT_EQ (sf_backup_configurations_get_backup_scripts_info ("contacts", &has, &scripts_info), 1);
  EXPECT_FALSE (has);

  log.clear ();
  EXPECT_EQ (sf_backup_configurations_get_backup_backup_method ("Mail", &method), -1);
  EXPECT_TRUE (log.contains ("sf_backup_configurations_get_backup_backup_method(): The "
                             "application name does not exits.  Input parameter 'application "
                             "name' has unknown value: Mail"));
  EXPECT_EQ (sf_backup_configurations_get_backup_dbus_info ("nobody", &has, &dbus_info), -1);
  EXPECT_EQ (sf_backup_configurations_get_backup_dbus_info ("mail", NULL, &dbus_info), -2);
  EXPECT_TRUE (log.contains ("sf_backup_configurations_get_backup_dbus_info(): Given output "
                             "parameter is NULL."));
  EXPECT_EQ (sf_backup_configurations_get_backup_scripts_info ("mail", &has, NULL), -2);

  EXPECT_EQ (strings (sf_backup_configurations_get_applications_in_category (SF_CATEGORY_CONTACTS)),
             std::vector<std::string> ({ "contacts", "mail" }));
  EXPECT_EQ (sf_backup_configurations_get_applications_in_category (SF_CATEGORY_MEDIA), nullptr);
  EXPECT_TRUE (log.contains ("sf_backup_configurations_get_applications_in_category(): Given "
                             "category: 8192 is invalid."));
  EXPECT_EQ (applications_in (SF_CATEGORY_ALL),
             std::vector<std::string> ({ "contacts", "mail", "third", "settings" }));
  EXPECT_EQ (applications_in (SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS),
             std::vector<std::string> ({ "mail", "settings" }));

  ASSERT_NE (location (home + "/c"), nullptr);
  EXPECT_TRUE (location (home + "/c")->is_dir);
  EXPECT_TRUE (location (home + "/c/tmp")->is_exclusion);
  EXPECT_TRUE (location (home + "/c/sub")->redundant);
  EXPECT_FALSE (location (home + "/b.xml")->is_dir);
  EXPECT_EQ (location (home + "/b.xml")->categories, (guint32)SF_CATEGORY_BOOKMARKS);
  EXPECT_EQ (location (home + "/s.db"), nullptr);
  EXPECT_NE (g_hash_table_lookup (sf_backup_configurations_get_permanent_locations (),
                                  (home + "/s.db").c_str ()),
             nullptr);

  log.clear ();
  init ();
  EXPECT_TRUE (log.contains ("Locations already inited."));
}

struct Rejection
{
  std::string contents;
  std::vector<std::string> messages;
};

TEST_F (BackupConfigurationsTest, EachBadFileIsRejectedWithItsMessage)
{
  const std::string scripts_method = "<backup-method>backup-scripts</backup-method>";
  const std::vector<Rejection> rejections = {
    { "<backup-configuration><application-name>x", {} },
    { "<other><application-name>x</application-name></other>", {} },
    { "<backup-configuration><application-name>x</application-name></backup-configuration>",
      { "Missing application-type element from XML configuration file: " } },
    { configuration ("x", dbus_method, "desktop"),
      { "Invalid application-type information in XML configuration file: " } },
    { configuration ("x", dbus_method, ""),
      { "Missing application-type element from XML configuration file: " } },
    { "<backup-configuration><application-type>korvel</application-type>"
      "</backup-configuration>",
      { "Could not find application name from XML configuration file " } },
    { configuration (" ", dbus_method),
      { "Could not find valid application name from XML configuration file " } },
    { configuration ("good", dbus_method),
      { "Application name: good is already in use by an other application. XML configuration "
        "file: " } },
    { configuration ("x", ""), { "Could not find backup method from XML configuration file " } },
    { configuration ("x", "<backup-method/>"),
      { "Could not find valid backup method from XML configuration file " } },
    { configuration ("x", "<backup-method>backup-everything</backup-method>"),
      { "Invalid backup method information in XML configuration file: " } },
    { configuration ("x", "<backup-method>backup-dbus</backup-method>"),
      { "Backup D-bus data is not present in file ",
        "Found invalid application backup dbus data from XML configuration file " } },
    { configuration ("x", "<backup-method>backup-dbus</backup-method><backup-dbus>"
                          "<service/></backup-dbus>"),
      { "Missing backup D-Bus service definition from backup D-bus data in XML configuration "
        "file" } },
    { configuration ("x", "<backup-method>backup-dbus</backup-method><backup-dbus>"
                          "<dbus-service object=\"/o\"> </dbus-service></backup-dbus>"),
      { "Invalid application backup D-Bus service information in XML configuration file" } },
    { configuration ("x", "<backup-method>backup-dbus</backup-method><backup-dbus>"
                          "<dbus-service>s</dbus-service></backup-dbus>"),
      { "Invalid application backup D-Bus object information in XML configuration file" } },
    { configuration ("x", "<backup-method>backup-dbus</backup-method><backup-dbus>"
                          "<dbus-service object=\"\">s</dbus-service></backup-dbus>"),
      { "Invalid application backup D-Bus service information in XML configuration file" } },
    { configuration ("x", scripts_method),
      { "Backup scripts data is not present in file ",
        "Found invalid application backup scripts data from XML configuration file " } },
    { configuration ("x", scripts_method + "<backup-scripts/>"),
      { "Missing backup scripts name element from backup scripts data in XML configuration "
        "file" } },
    { configuration ("x",
                     scripts_method + "<backup-scripts><backup-script-name/></backup-scripts>"),
      { "Invalid backup script name information in XML configuration file" } },
    { configuration ("x", scripts_method
                              + "<backup-scripts><restore-script-name>r</restore-script-name>"
                                "<backup-script-name>b</backup-script-name></backup-scripts>"),
      { "Missing restore script name definition from backup scripts data in XML configuration "
        "file" } },
    { configuration ("x", scripts_method
                              + "<backup-scripts><backup-script-name>b</backup-script-name>"
                                "<restore-script-name/></backup-scripts>"),
      { "Invalid restore script name information in XML configuration file" } },
    { configuration ("x", locations ("<location category=\"contacts\">/p</location>")),
      { "************ No type in locations config." } },
    { configuration ("x", locations ("<location type=\"dir\">/p</location>")),
      { "*********** Missing content category value for the backup location: /p in x "
        "application XML configuration file" } },
    { configuration ("x", locations ("<location type=\"dir\" category=\"Contacts\">/p"
                                     "</location>")),
      { "******** Invalid content category value Contacts for the backup location: /p in x "
        "application XML configuration file" } },
    { configuration ("x", locations ("<location type=\"dir\" category=\"media\">/p</location>")),
      { "Invalid content category value media for the backup location: /p in x application "
        "configuration file" } },
    { configuration ("x", locations ("<location type=\"dir\" category=\"contacts\">p</location>")),
      { "Path must be absolute (p)." } },
    { configuration ("x", locations ("<location type=\"folder\" category=\"contacts\">/p"
                                     "</location>")),
      { "Invalid location type folder for the backup location: /p in x application "
        "configuration file" } },
    { configuration ("x", locations ("<include>/q</include>"
                                     "<location type=\"dir\" category=\"contacts\">/p</location>")),
      { "Unknown element <include> in <locations> of XML configuration file " } },
    { std::string (1024 * 1024 + 1, ' '), { "larger than 1048576 bytes" } },
  };
  install (trusted, "0-good.conf", configuration ("good", dbus_method));
  for (size_t index = 0; index < rejections.size (); index++)
    install (trusted, std::to_string (index + 10) + ".conf", rejections[index].contents);
  install (trusted, "99-last.conf",
           configuration ("last", locations ("<location type=\"dir\" category=\"contacts\">/p"
                                             "</location>")));

  LogCapture log;
  init ();
  EXPECT_TRUE (known ("good"));
  EXPECT_TRUE (known ("last"));
  EXPECT_FALSE (known ("x"));
  EXPECT_EQ (applications_in (SF_CATEGORY_ALL), std::vector<std::string> ({ "last" }));
  for (size_t index = 0; index < rejections.size (); index++)
    for (const std::string &message : rejections[index].messages)
      EXPECT_TRUE (log.contains (message)) << "file " << index + 10 << ": " << message;
}

TEST_F (BackupConfigurationsTest, ThirdPartyFilesMayOnlyNameHomeOrInstallHomePaths)
{
  const std::vector<std::string> bad_paths
      = { "/etc/passwd", "$HOME/../../etc", home + "-other/x", install_home + "x/y" };
  for (size_t index = 0; index < bad_paths.size (); index++)
    install (untrusted, "bad" + std::to_string (index) + ".conf",
             configuration ("bad" + std::to_string (index),
                            locations ("<location type=\"dir\" category=\"contacts\">"
                                       + bad_paths[index] + "</location>"),
                            "third-party"));
  install (untrusted, "good.conf",
           configuration ("good", locations ("<location type=\"dir\" category=\"contacts\">"
                                             "$HOME/x</location>")));
  install (trusted, "system.conf",
           configuration ("system", locations ("<location type=\"dir\" category=\"settings\">"
                                               "/etc/system</location>")));
  LogCapture log;
  init ();
  EXPECT_TRUE (known ("good"));
  EXPECT_TRUE (known ("system"));
  for (size_t index = 0; index < bad_paths.size (); index++)
    EXPECT_FALSE (known ("bad" + std::to_string (index))) << bad_paths[index];
  EXPECT_TRUE (log.contains ("Third-party applications must not have system paths listed:\n "
                             "/etc/passwd"));
}

TEST_F (BackupConfigurationsTest, AFileFailingAtItsThirdLocationLeavesNoTraceInAnyTable)
{
  install (trusted, "a.conf",
           configuration ("app", "<backup-method>backup-dbus backup-scripts "
                                 "permanent-backup-files</backup-method>"
                                 "<backup-dbus><dbus-service object=\"/o\">s.x</dbus-service>"
                                 "</backup-dbus><backup-scripts>"
                                 "<backup-script-name>b</backup-script-name>"
                                 "<restore-script-name>r</restore-script-name></backup-scripts>"
                                 "<locations><location type=\"dir\" category=\"contacts\">/one"
                                 "</location><location type=\"permanent-backup-file\" "
                                 "category=\"emails\">/two</location>"
                                 "<location type=\"dir\" category=\"media\">/three"
                                 "</location><location type=\"dir\" "
                                 "category=\"contacts\">/four</location></locations>"));
  /* Shares a path with the rejected file: its own entry must survive the roll-back. */
  install (trusted, "0-first.conf",
           configuration ("first", locations ("<location type=\"dir\" category=\"organizer\">"
                                              "/one</location>")));
  /* A later file of the same name must not inherit the rejected file's records. */
  install (trusted, "b.conf",
           configuration ("app", "<backup-method>backup-scripts</backup-method><backup-scripts>"
                                 "<backup-script-name>b2</backup-script-name>"
                                 "<restore-script-name>r2</restore-script-name>"
                                 "</backup-scripts>"));
  LogCapture log;
  init ();
  ASSERT_NE (location ("/one"), nullptr);
  EXPECT_STREQ (location ("/one")->appl_name, "first");
  EXPECT_EQ (g_hash_table_lookup (sf_backup_configurations_get_permanent_locations (), "/two"),
             nullptr);
  EXPECT_EQ (location ("/three"), nullptr);
  EXPECT_EQ (location ("/four"), nullptr);
  EXPECT_TRUE (log.contains ("sf-backup-configurations: Removed application: app D-Bus info from "
                             "applications D-Bus info datastructure\n"));
  EXPECT_EQ (applications_in (SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS),
             std::vector<std::string> ());

  SfBackupMethod method;
  ASSERT_EQ (sf_backup_configurations_get_backup_backup_method ("app", &method), 1);
  EXPECT_FALSE (method.dbus);
  EXPECT_FALSE (method.permanent_files);
  gboolean has_dbus = TRUE;
  SfBackupDbusInfo info;
  ASSERT_EQ (sf_backup_configurations_get_backup_dbus_info ("app", &has_dbus, &info), 1);
  EXPECT_FALSE (has_dbus);
  gboolean has_scripts = FALSE;
  SfBackupScriptsInfo scripts;
  ASSERT_EQ (sf_backup_configurations_get_backup_scripts_info ("app", &has_scripts, &scripts), 1);
  ASSERT_TRUE (has_scripts);
  EXPECT_STREQ (scripts.backup_script, "b2");
}

TEST_F (BackupConfigurationsTest, RemovedApplicationsLeaveNoTrace)
{
  install (trusted, "a.conf",
           configuration ("unit-test", "<backup-method>permanent-backup-files backup-dbus"
                                       "</backup-method><backup-dbus><dbus-service object=\"/u\">"
                                       "u</dbus-service></backup-dbus><locations>"
                                       "<location type=\"dir\" category=\"contacts\">/u1"
                                       "</location><location type=\"file\" category=\"emails\">"
                                       "/u2</location><location type=\"permanent-backup-file\" "
                                       "category=\"emails\">/u3</location></locations>"));
  install (trusted, "b.conf",
           configuration ("stays", locations ("<location type=\"dir\" category=\"contacts\">/s"
                                              "</location>")));
  install (trusted, "REMOVE_THIS_FILE_IF_SAFEHOLD-TESTS_PACKAGE_IS_NOT_INSTALLED.txt",
           "<installed-test-applications><test-applications>"
           "<application-name>t1</application-name><application-name>t2</application-name>"
           "</test-applications><additional-unit-test-applications>"
           "<application-name>unit-test</application-name>"
           "</additional-unit-test-applications></installed-test-applications>");
  LogCapture log;
  init ();
  ASSERT_TRUE (sf_backup_configurations_test_applications_installed ());
  EXPECT_EQ (strings (sf_backup_configurations_get_test_applications ()),
             std::vector<std::string> ({ "t1", "t2" }));
  GSList *additional = sf_backup_configurations_get_additional_test_applications ();
  EXPECT_EQ (strings (additional), std::vector<std::string> ({ "unit-test" }));

  _sf_backup_configurations_remove_applications (additional);
  EXPECT_TRUE (log.contains ("sf-backup-configurations: _sf_backup_configurations_remove_"
                             "applications: removed 2 backup file locations of application: "
                             "unit-test."));
  EXPECT_FALSE (known ("unit-test"));
  EXPECT_TRUE (known ("stays"));
  EXPECT_EQ (location ("/u1"), nullptr);
  EXPECT_NE (location ("/s"), nullptr);
  EXPECT_NE (g_hash_table_lookup (sf_backup_configurations_get_permanent_locations (), "/u3"),
             nullptr);
  EXPECT_EQ (applications_in (SF_CATEGORY_ALL), std::vector<std::string> ({ "stays" }));
}

TEST_F (BackupConfigurationsTest, AnIncompleteMarkerFileIsNotATestInstallation)
{
  install (trusted, "REMOVE_THIS_FILE_IF_SAFEHOLD-TESTS_PACKAGE_IS_NOT_INSTALLED.txt",
           "<installed-test-applications><test-applications/></installed-test-applications>");
  g_unsetenv ("INSTALLHOME");
  LogCapture log;
  init ();
  EXPECT_FALSE (sf_backup_configurations_test_applications_installed ());
  EXPECT_EQ (sf_backup_configurations_get_additional_test_applications (), nullptr);
  EXPECT_TRUE (log.contains ("Missing <additional-unit-test-applications> element in XML file: "));
  EXPECT_TRUE (log.contains ("Invalid config path: /var/lib/install/usr/share/safehold/"
                             "applications"));
}

TEST_F (BackupConfigurationsTest, DocumentTypesAndDeepNestingAreRefused)
{
  std::string laughs = "<!DOCTYPE backup-configuration [<!ENTITY a \"aaaaaaaaaa\">";
  for (char level = 'b'; level <= 'j'; level++)
    laughs += std::string ("<!ENTITY ") + level + " \"" + [level] {
      std::string references;
      for (int count = 0; count < 10; count++)
        references += std::string ("&") + (char)(level - 1) + ";";
      return references;
    }() + "\">";
  const std::string body = configuration ("big&j;", dbus_method).substr (22);
  install (trusted, "a-laughs.conf", laughs + "]>" + body);
  install (trusted, "b-entity.conf",
           "<!DOCTYPE backup-configuration [<!ENTITY e \"vil\">]>"
               + configuration ("e&e;", dbus_method).substr (22));
  install (trusted, "c-external.conf",
           "<!DOCTYPE backup-configuration SYSTEM \"http://127.0.0.1:9/x.dtd\">"
               + configuration ("external", dbus_method).substr (22));
  std::string deep;
  for (int level = 0; level < 40; level++)
    deep += "<d>";
  for (int level = 0; level < 40; level++)
    deep += "</d>";
  install (trusted, "d-deep.conf", configuration ("deep", dbus_method + deep));
  install (trusted, "e-plain.conf", configuration ("plain", dbus_method));
  LogCapture log;
  init ();
  /* A configuration never needs a document type, and any one could bring entities. */
  EXPECT_FALSE (known ("big"));
  EXPECT_FALSE (known ("e"));
  EXPECT_FALSE (known ("external"));
  EXPECT_TRUE (log.contains (trusted + "/b-entity.conf: declares a document type"));
  EXPECT_FALSE (known ("deep"));
  EXPECT_TRUE (log.contains (trusted + "/d-deep.conf: nests elements deeper than 32 levels"));
  EXPECT_TRUE (known ("plain"));
}

} // namespace

namespace
{
TEST (SampleConfigurationsTest, TheBuildTreeDataDirectoryLoads)
{
  sf_backup_configurations_init (SAFEHOLD_BINARY_DIR "/data");
  for (const gchar *name : { "contacts", "email", "settings", "com.example.notes" })
    {
      SfBackupMethod method;
      EXPECT_EQ (sf_backup_configurations_get_backup_backup_method (name, &method), 1) << name;
    }
  gboolean has_scripts = FALSE;
  SfBackupScriptsInfo scripts;
  ASSERT_EQ (sf_backup_configurations_get_backup_scripts_info ("email", &has_scripts, &scripts), 1);
  ASSERT_TRUE (has_scripts);
  EXPECT_TRUE (g_file_test (scripts.backup_script, G_FILE_TEST_IS_EXECUTABLE));
  EXPECT_TRUE (g_file_test (scripts.restore_script, G_FILE_TEST_IS_EXECUTABLE));
  /* Data read in place is never an ordinary (emptied) location. */
  GSList *settings = sf_backup_locations_get_uris (sf_backup_configurations_get_locations (),
                                                   SF_CATEGORY_SETTINGS, FALSE);
  EXPECT_EQ (settings, nullptr);
  g_slist_free_full (settings, g_free);
  sf_backup_configurations_free ();
}
} // namespace

namespace
{
/* Configurations that would delete or hide data that is not theirs. */
class ConfigurationSafetyTest : public BackupConfigurationsTest
{
protected:
  void SetUp () override
  {
    BackupConfigurationsTest::SetUp ();
    std::string config_dir = std::string (root) + "/config";
    g_mkdir_with_parents (config_dir.c_str (), 0700);
    install (config_dir, "safehold.conf",
             "<backup-configuration><gconf-dir>" + std::string (root)
                 + "/gconf</gconf-dir><documents-path>" + std::string (root)
                 + "/docs</documents-path></backup-configuration>");
    sf_config_init (config_dir.c_str ());
  }

  void TearDown () override
  {
    sf_config_free ();
    BackupConfigurationsTest::TearDown ();
  }

  static std::string ordinary (const std::string &path, const std::string &type = "dir")
  {
    return locations ("<location type=\"" + type + "\" category=\"contacts\">" + path
                      + "</location>");
  }
};

TEST_F (ConfigurationSafetyTest, HomeDocumentsGconfAndTheirParentsAreNoOrdinaryLocations)
{
  g_mkdir_with_parents ((home + "/.app").c_str (), 0700);
  ASSERT_EQ (symlink (home.c_str (), (home + "/.app/home-link").c_str ()), 0);
  std::vector<std::string> refused = {
    "/",
    "$HOME/",
    home,
    "$HOME/.app/..",
    "$HOME/.app/home-link",
    std::string (root),
    std::string (root) + "/docs",
    std::string (root) + "/gconf/",
  };
  for (size_t index = 0; index < refused.size (); index++)
    install (trusted, "t" + std::to_string (index) + ".conf",
             configuration ("t" + std::to_string (index), ordinary (refused[index])));
  install (untrusted, "home.conf", configuration ("u-home", ordinary ("$HOME/"), "third-party"));
  install (untrusted, "file.conf",
           configuration ("u-file", ordinary ("$HOME/", "file"), "third-party"));
  install (trusted, "fine.conf",
           configuration ("fine", ordinary (std::string (root) + "/docs/export") + "<locations/>"));
  install (trusted, "permanent.conf",
           configuration ("permanent", "<backup-method>permanent-backup-files</backup-method>"
                                       "<locations><location type=\"permanent-backup-file\" "
                                       "category=\"settings\">$HOME/</location></locations>"));
  LogCapture log;
  init ();
  for (size_t index = 0; index < refused.size (); index++)
    EXPECT_FALSE (known ("t" + std::to_string (index))) << refused[index];
  EXPECT_FALSE (known ("u-home"));
  EXPECT_FALSE (known ("u-file"));
  /* A folder below the documents is an export area; a restore would remove a permanent home. */
  EXPECT_TRUE (known ("fine"));
  EXPECT_FALSE (known ("permanent"));
  EXPECT_EQ (location (home), nullptr);
  EXPECT_EQ (location ("/"), nullptr);
  EXPECT_TRUE (log.contains ("sf-backup-configurations: Location " + home
                             + " in XML configuration file " + untrusted
                             + "/home.conf would delete the user's data"));
  EXPECT_TRUE (log.contains ("Location " + std::string (root) + "/gconf in XML configuration file "
                             + trusted + "/t7.conf"));
}

TEST_F (ConfigurationSafetyTest, ThirdPartyExclusionsOnlyThinTheirOwnLocations)
{
  install (trusted, "contacts.conf",
           configuration ("contacts", ordinary ("$HOME/.contacts/backup") + "<locations/>"));
  install (untrusted, "notes.conf",
           configuration ("notes",
                          dbus_method
                              + "<locations>"
                                "<exclusion type=\"dir\" category=\"contacts\">$HOME/*</exclusion>"
                                "<exclusion type=\"dir\" category=\"contacts\">"
                                "$HOME/.contacts/backup</exclusion>"
                                "<location type=\"dir\" category=\"contacts\">$HOME/.notes/export"
                                "</location>"
                                "<exclusion type=\"dir\" category=\"contacts\">"
                                "$HOME/.notes/export/thumbs</exclusion>"
                                "<exclusion type=\"file\" category=\"contacts\">"
                                "$HOME/.notes/export/*.tmp</exclusion></locations>",
                          "third-party"));
  install (trusted, "cleaner.conf",
           configuration ("cleaner", locations ("<location type=\"dir\" category=\"emails\">"
                                                "$HOME/.mail/export</location>"
                                                "<exclusion type=\"dir\" category=\"emails\">"
                                                "$HOME/.mail/export/tmp</exclusion>")));
  LogCapture log;
  init ();
  ASSERT_TRUE (known ("notes"));
  GSList *patterns = sf_backup_locations_get_uris (sf_backup_configurations_get_locations (),
                                                   SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS, TRUE);
  EXPECT_EQ (strings (patterns), std::vector<std::string> ({ home + "/.mail/export/tmp/*",
                                                             home + "/.notes/export/*.tmp",
                                                             home + "/.notes/export/thumbs/*" }));
  g_slist_free_full (patterns, g_free);
  EXPECT_TRUE (log.contains ("Exclusion " + home + "/* in XML configuration file " + untrusted
                             + "/notes.conf is ignored"));

  /* The other application's files stay in the list its backup packs. */
  std::string vcard = home + "/.contacts/backup/a.vcf";
  g_mkdir_with_parents ((home + "/.contacts/backup").c_str (), 0700);
  ASSERT_TRUE (g_file_set_contents (vcard.c_str (), "v", -1, NULL));
  GSList *includes = sf_backup_locations_get_uris (sf_backup_configurations_get_locations (),
                                                   SF_CATEGORY_CONTACTS, FALSE);
  GSList *exclusions = sf_backup_locations_get_uris (sf_backup_configurations_get_locations (),
                                                     SF_CATEGORY_CONTACTS, TRUE);
  GSList *entries = sf_vfs_utils_build_file_list (includes, exclusions);
  ASSERT_EQ (g_slist_length (entries), 1u);
  g_autofree gchar *packed = g_file_get_path (((SfFileEntry *)entries->data)->uri);
  EXPECT_EQ (packed, vcard);
  sf_file_entry_list_free (entries);
  g_slist_free_full (includes, g_free);
  g_slist_free_full (exclusions, g_free);
  g_unlink (vcard.c_str ());
}

TEST_F (ConfigurationSafetyTest, OnlyTheTrustedDirectoryMayNameTestApplications)
{
  install (trusted, "victim.conf",
           configuration ("victim", ordinary ("$HOME/.victim/export") + "<locations/>"));
  install (untrusted, "REMOVE_THIS_FILE_IF_SAFEHOLD-TESTS_PACKAGE_IS_NOT_INSTALLED.txt",
           "<installed-test-applications><test-applications/>"
           "<additional-unit-test-applications><application-name>victim</application-name>"
           "</additional-unit-test-applications></installed-test-applications>");
  LogCapture log;
  init ();
  EXPECT_FALSE (sf_backup_configurations_test_applications_installed ());
  EXPECT_EQ (sf_backup_configurations_get_additional_test_applications (), nullptr);
  EXPECT_TRUE (log.contains ("REMOVE_THIS_FILE_IF_SAFEHOLD-TESTS_PACKAGE_IS_NOT_INSTALLED.txt in "
                             + untrusted + " is ignored"));
  EXPECT_TRUE (known ("victim"));

  /* Each caller owns its list: a second query leaves the first one whole. */
  GSList *first = sf_backup_configurations_get_applications_in_categories (SF_CATEGORY_ALL);
  GSList *second = sf_backup_configurations_get_applications_in_categories (SF_CATEGORY_EMAILS);
  EXPECT_EQ (strings (first), std::vector<std::string> ({ "victim" }));
  EXPECT_EQ (second, nullptr);
  g_slist_free_full (first, g_free);
}
} // namespace
