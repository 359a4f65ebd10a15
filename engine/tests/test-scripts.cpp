#include "sf-backup-configurations.h"
#include "sf-backup-info.h"
#include "sf-log.h"
#include "sf-pre-backup.h"
#include "sf-restore-transform.h"
#include "sf-utils.h"

#include "log-capture.h"

#include <glib/gstdio.h>
#include "test-data.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

/* Real configuration files and real shell scripts in a temporary directory. Each script records
 * its arguments in "<script>.args" and a copy of the restored-files list in "<script>.list". */
class Scripts : public ::testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    dir_ = g_dir_make_tmp ("scripts-XXXXXX", NULL);
    g_mkdir (path ("applications").c_str (), 0755);
    g_mkdir (path ("install").c_str (), 0755);
    g_setenv ("INSTALLHOME", path ("install").c_str (), TRUE);
  }

  void TearDown () override
  {
    sf_backup_configurations_free ();
    g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", dir_);
    EXPECT_EQ (system (command), 0);
    g_free (dir_);
  }

  std::string path (const std::string &name) const
  {
    return std::string (dir_) + "/" + name;
  }

  std::string script (const std::string &name, int exit_status, const std::string &extra = "")
  {
    std::string file = path (name);
    g_autofree gchar *parent = g_path_get_dirname (file.c_str ());
    g_mkdir_with_parents (parent, 0755);
    std::string body = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n"
                       "[ -n \"$5\" ] && cp \"$5\" \"$0.list\"\n"
                       + extra + "exit " + std::to_string (exit_status) + "\n";
    EXPECT_TRUE (g_file_set_contents (file.c_str (), body.c_str (), -1, NULL));
    g_chmod (file.c_str (), 0755);
    return file;
  }

  void application (const std::string &name, const std::string &method, const std::string &category,
                    const std::string &backup_script, const std::string &restore_script)
  {
    std::string text = "<backup-configuration>\n"
                       "  <application-name>"
                       + name
                       + "</application-name>\n"
                         "  <application-type>korvel</application-type>\n"
                         "  <backup-method>"
                       + method
                       + "</backup-method>\n"
                         "  <backup-dbus><dbus-service object=\"/"
                       + name + "\">com.example." + name
                       + "</dbus-service></backup-dbus>\n"
                         "  <backup-scripts>\n"
                         "    <backup-script-name>"
                       + backup_script
                       + "</backup-script-name>\n"
                         "    <restore-script-name>"
                       + restore_script
                       + "</restore-script-name>\n"
                         "  </backup-scripts>\n"
                         "  <locations>\n"
                         "    <location type=\"dir\" category=\""
                       + category + "\">$HOME/" + name
                       + "</location>\n"
                         "  </locations>\n"
                         "</backup-configuration>\n";
    std::string file = path ("applications/" + name + ".conf");
    ASSERT_TRUE (g_file_set_contents (file.c_str (), text.c_str (), -1, NULL));
  }

  void load ()
  {
    sf_backup_configurations_init (dir_);
  }

  gchar *dir_ = nullptr;
  LogCapture log_;
};

SfRestoreTransform *
transform_with_files ()
{
  g_autoptr (GFile) dir = g_file_new_for_path ("/backups/Backup0");
  SfBackupInfo *info = sf_backup_info_new (dir, 0, FALSE, NULL, "", NULL, 2, 0);
  SfRestoreTransform *transform = sf_restore_transform_new (info);
  sf_backup_info_unref (info);
  sf_restore_transform_add_file (transform, SF_CATEGORY_CONTACTS, "/home/user/first.vcf");
  sf_restore_transform_add_file (transform, SF_CATEGORY_CONTACTS, "/home/user/second.vcf");
  g_autoptr (GFile) settings = g_file_new_for_path ("/home/user/.config/app.ini");
  sf_restore_transform_add_uri (transform, SF_CATEGORY_SETTINGS, settings);
  return transform;
}
} // namespace

TEST_F (Scripts, RestoreScriptsGetTheSelectionAndTheRestoredFiles)
{
  application ("contacts", "backup-scripts", "contacts", script ("c-backup", 0),
               script ("c-restore", 0));
  application ("settings", "backup-dbus backup-scripts", "settings", script ("s-backup", 0),
               script ("s-restore", 0));
  load ();
  g_autoptr (SfRestoreTransform) transform = transform_with_files ();
  EXPECT_EQ (sf_restore_transform_get_categories (transform),
             SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS);

  sf_restore_transform_execute (transform,
                                (SfCategory)(SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS));

  for (const char *name : { "c-restore", "s-restore" })
    {
      std::string args = read_file (path (name) + ".args");
      std::string expected_start = "2\ncontacts\nsettings\nsolano\n";
      ASSERT_EQ (args.rfind (expected_start, 0), 0u) << name << ": " << args;
      std::string list_file = args.substr (expected_start.size ());
      list_file.pop_back ();
      EXPECT_EQ (list_file.rfind (g_get_tmp_dir (), 0), 0u) << list_file;
      EXPECT_NE (list_file.find ("sf-files-"), std::string::npos) << list_file;
      EXPECT_FALSE (g_file_test (list_file.c_str (), G_FILE_TEST_EXISTS));
      EXPECT_EQ (read_file (path (name) + ".list"),
                 "[contacts]\n/home/user/second.vcf\n/home/user/first.vcf\n[emails]\n"
                 "[messaging]\n[organizer]\n[bookmarks]\n[settings]\n/home/user/.config/app.ini\n"
                 "[applications]\n[tagged_files]\n[comm_and_cal]\n[images_and_documents]\n"
                 "[music_and_videos]\n[other]\n[documents]\n[media]\n");
    }
  EXPECT_EQ (read_file (path ("c-backup.args")), "(missing)");
  EXPECT_TRUE (log_.contains ("Finished execution of all the scripts"));

  sf_pre_backup_execute (SF_CATEGORY_SETTINGS);
  EXPECT_EQ (read_file (path ("s-backup.args")), "1\nsettings\n");
  EXPECT_EQ (read_file (path ("c-backup.args")), "(missing)");
}

TEST_F (Scripts, AConfiguredPathIsOneProgram)
{
  std::string odd = script ("odd dir;touch injected/run me.sh", 0);
  application ("contacts", "backup-scripts", "contacts", odd, odd);
  load ();
  sf_pre_backup_execute (SF_CATEGORY_CONTACTS);
  EXPECT_EQ (read_file (odd + ".args"), "1\ncontacts\n");
  EXPECT_FALSE (log_.contains ("Could not run script"));
}

TEST_F (Scripts, OnlyScriptApplicationsOfTheSelectionRun)
{
  application ("notified", "backup-dbus", "contacts", script ("n-backup", 0),
               script ("n-restore", 0));
  load ();
  sf_pre_backup_execute (SF_CATEGORY_CONTACTS);
  EXPECT_EQ (read_file (path ("n-backup.args")), "(missing)");
  EXPECT_FALSE (log_.contains ("Could not get application names."));

  sf_pre_backup_execute ((SfCategory)(SF_CATEGORY_DOCUMENTS | SF_CATEGORY_MEDIA));
  std::vector<LogCapture::Line> lines = log_.lines ();
  auto critical = std::find_if (lines.begin (), lines.end (), [] (const LogCapture::Line &line) {
    return line.message.find ("Could not get application names. No scripts are run.")
           != std::string::npos;
  });
  ASSERT_NE (critical, lines.end ());
  EXPECT_EQ (critical->level, G_LOG_LEVEL_CRITICAL);
}

TEST_F (Scripts, FailuresAreRecordedAndTheLoopGoesOn)
{
  application ("first", "backup-scripts", "contacts", script ("f-backup", 3),
               script ("f-restore", 1));
  application ("second", "backup-scripts", "emails", script ("k-backup", 0, "kill -9 $$\n"),
               path ("does-not-exist"));
  application ("third", "backup-scripts", "emails", script ("t-backup", 0),
               script ("t-restore", 0));
  load ();
  SfCategory both = (SfCategory)(SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS);
  sf_pre_backup_execute (both);
  EXPECT_EQ (read_file (path ("t-backup.args")), "2\ncontacts\nemails\n");
  std::string error_log = std::string (g_get_home_dir ())
                          + "/.safehold/"
                            "backup-restore-script-error-log";
  EXPECT_EQ (read_file (error_log), ",& first,& second") << "a killed script is a failure";

  g_autoptr (SfRestoreTransform) transform = transform_with_files ();
  sf_restore_transform_execute (transform, both);
  EXPECT_EQ (read_file (error_log), ",& first,& second,& first,& second");
  EXPECT_TRUE (log_.contains ("error = No space left"));
  EXPECT_TRUE (log_.contains ("error = Could not run the script"));
  EXPECT_NE (read_file (path ("t-restore.args")), "(missing)");
}

TEST (ScriptRunner, ExitStatusAndStartFailure)
{
  gint status = -5;
  EXPECT_TRUE (sf_utils_execute_script ("/bin/sh -c 'exit 7'", &status));
  EXPECT_EQ (status, 7);
  EXPECT_TRUE (sf_utils_execute_script ("/bin/sh -c 'kill -TERM $$'", &status));
  EXPECT_NE (status, 0);
  EXPECT_FALSE (sf_utils_execute_script ("/nonexistent/script 1 contacts", &status));
  EXPECT_FALSE (sf_utils_execute_script ("'unterminated", &status));
}
