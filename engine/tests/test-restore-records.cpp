#include "sf-backup-locations.h"
#include "sf-error.h"
#include "sf-i18n.h"
#include "sf-log.h"
#include "sf-permanent-file-list.h"
#include "sf-restore-failure.h"
#include "sf-startup-flags.h"
#include "sf-utils.h"

#include "log-capture.h"
#include "tmpfs-mount.h"

#include <gio/gio.h>
#include <glib/gstdio.h>
#include "test-data.h"

#include <gtest/gtest.h>
#include <clocale>
#include <string>
#include <vector>

namespace
{
std::string
home_path (const std::string &name)
{
  return std::string (g_get_home_dir ()) + "/" + name;
}

void
write_file (const std::string &path, const std::string &text)
{
  g_autofree gchar *dir = g_path_get_dirname (path.c_str ());
  g_mkdir_with_parents (dir, 0755);
  ASSERT_TRUE (g_file_set_contents (path.c_str (), text.c_str (), -1, NULL));
}

class Records : public ::testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
  }
  LogCapture log_;
};
} // namespace

TEST_F (Records, RestoreFailureKeepsOneReasonPerRealCategory)
{
  g_autoptr (SfRestoreFailure) failure = sf_restore_failure_new ();
  EXPECT_FALSE (sf_restore_failure_has_failures (failure));
  sf_restore_failure_add_categories (
      failure, (SfCategory)(SF_CATEGORY_CONTACTS | SF_CATEGORY_OTHER | SF_CATEGORY_MEDIA),
      SF_RESTORE_FAILURE_UNKNOWN_ERROR);
  sf_restore_failure_set_category_reason (failure, SF_CATEGORY_MEDIA, SF_RESTORE_FAILURE_CANCELLED);
  EXPECT_FALSE (sf_restore_failure_has_category (failure, SF_CATEGORY_OTHER));
  EXPECT_EQ (sf_restore_failure_get_category_reason (failure, SF_CATEGORY_OTHER), -1);
  EXPECT_EQ (sf_restore_failure_get_category_reason (failure, SF_CATEGORY_CONTACTS),
             SF_RESTORE_FAILURE_UNKNOWN_ERROR);
  EXPECT_EQ (sf_restore_failure_get_category_reason (failure, SF_CATEGORY_MEDIA),
             SF_RESTORE_FAILURE_CANCELLED);
  sf_restore_failure_remove_category (failure, SF_CATEGORY_CONTACTS);
  sf_restore_failure_remove_category (failure, SF_CATEGORY_MEDIA);
  EXPECT_FALSE (sf_restore_failure_has_failures (failure));

  for (gint reason = 1; reason <= 4; reason++)
    EXPECT_EQ (sf_restore_failure_reason_from_string (sf_restore_failure_reason_to_string (reason)),
               reason);
  EXPECT_STREQ (sf_restore_failure_reason_to_string (0), "");
  EXPECT_STREQ (sf_restore_failure_reason_get_message (-1), "");
  EXPECT_EQ (sf_restore_failure_reason_from_string ("Cancelled"), -1);
  EXPECT_EQ (sf_restore_failure_reason_from_string (""), -1);
  EXPECT_TRUE (log_.contains ("str != NULL && str[0] != '\\0'"));
}

TEST_F (Records, RestoreFailureMessagesAreTranslated)
{
  /* The engine binds its catalogue on first use; the test then points it at the built one. */
  g_autofree gchar *saved_locale = g_strdup (setlocale (LC_ALL, NULL));
  setlocale (LC_ALL, "C.UTF-8");
  g_setenv ("LANGUAGE", "en", TRUE);
  sf_i18n_init ();
  bindtextdomain ("safehold", SAFEHOLD_BINARY_DIR "/locale");
  EXPECT_STREQ (sf_restore_failure_reason_get_message (SF_RESTORE_FAILURE_INSUFFICIENT_SPACE),
                "Not enough memory");
  EXPECT_STREQ (sf_restore_failure_reason_get_message (SF_RESTORE_FAILURE_UNKNOWN_ERROR),
                "Unknown error");
  for (gint reason = 1; reason <= 4; reason++)
    EXPECT_EQ (std::string (sf_restore_failure_reason_get_message (reason)).find ("back_fi_"),
               std::string::npos)
        << reason;
  g_unsetenv ("LANGUAGE");
  setlocale (LC_ALL, saved_locale);
}

TEST_F (Records, LastRestoreRoundTripsAsWritten)
{
  g_autoptr (SfRestoreFailure) failure = sf_restore_failure_new ();
  sf_restore_failure_set_category_reason (failure, SF_CATEGORY_SETTINGS,
                                          SF_RESTORE_FAILURE_CORRUPT_BACKUP);
  sf_restore_failure_set_category_reason (failure, SF_CATEGORY_CONTACTS,
                                          SF_RESTORE_FAILURE_INSUFFICIENT_SPACE);
  write_file (home_path (".safehold/last-restore.placeholder"), "");
  const gint64 size = 3000000000LL;
  ASSERT_TRUE (sf_utils_write_last_restore (
      failure, (SfCategory)(SF_CATEGORY_EMAILS | SF_CATEGORY_MEDIA), size));
  EXPECT_FALSE (
      g_file_test (home_path (".safehold/last-restore.placeholder").c_str (), G_FILE_TEST_EXISTS));
  EXPECT_EQ (read_file (home_path (".safehold/last-restore.xml")),
             "<last-restore>\n"
             "  <size>-1294967296</size>\n"
             "  <incomplete-categories>\n"
             "    <contacts>insufficient space</contacts>\n"
             "    <settings>corrupt backup</settings>\n"
             "  </incomplete-categories>\n"
             "  <written-categories>\n"
             "    <emails/>\n"
             "    <media/>\n"
             "  </written-categories>\n"
             "</last-restore>\n");

  SfRestoreFailure *read = NULL;
  SfCategory written = SF_CATEGORY_NONE;
  gint64 read_size = 0;
  ASSERT_TRUE (sf_utils_read_last_restore (&read, &written, &read_size));
  ASSERT_NE (read, nullptr);
  EXPECT_EQ (read_size, (gint64)(gint32)size);
  EXPECT_EQ (written, SF_CATEGORY_EMAILS | SF_CATEGORY_MEDIA);
  EXPECT_EQ (sf_restore_failure_get_category_reason (read, SF_CATEGORY_CONTACTS),
             SF_RESTORE_FAILURE_INSUFFICIENT_SPACE);
  EXPECT_EQ (sf_restore_failure_get_category_reason (read, SF_CATEGORY_SETTINGS),
             SF_RESTORE_FAILURE_CORRUPT_BACKUP);
  sf_restore_failure_unref (read);

  sf_utils_remove_last_restore ();
  EXPECT_FALSE (sf_utils_read_last_restore (&read, &written, &read_size));
  EXPECT_EQ (read, nullptr);
}

TEST_F (Records, DamagedLastRestoreRecordsReadAsFarAsTheyMakeSense)
{
  std::string path = home_path (".safehold/last-restore.xml");
  write_file (path, "<last-restore><size>12abc</size><incomplete-categories> "
                    "<emails>exploded</emails></incomplete-categories>"
                    "<written-categories><contacts/>text<bogus/></written-categories>"
                    "</last-restore>");
  SfRestoreFailure *failure = NULL;
  SfCategory written = SF_CATEGORY_ALL;
  gint64 size = 0;
  ASSERT_TRUE (sf_utils_read_last_restore (&failure, &written, &size));
  EXPECT_EQ (size, 12);
  EXPECT_TRUE (log_.contains ("Invalid size in last restore info."));
  EXPECT_EQ (written, SF_CATEGORY_CONTACTS);
  ASSERT_NE (failure, nullptr);
  EXPECT_TRUE (sf_restore_failure_has_category (failure, SF_CATEGORY_EMAILS));
  EXPECT_EQ (sf_restore_failure_get_category_reason (failure, SF_CATEGORY_EMAILS), -1);
  sf_restore_failure_unref (failure);

  for (const char *text : { "<other-root/>", "<last-restore><size>1</size>", "" })
    {
      write_file (path, text);
      EXPECT_FALSE (sf_utils_read_last_restore (&failure, &written, &size)) << text;
      EXPECT_EQ (failure, nullptr);
      EXPECT_EQ (written, SF_CATEGORY_NONE);
    }
}

TEST_F (Records, PermanentListKeepsAwkwardNames)
{
  g_autofree gchar *backups = g_dir_make_tmp ("backups-XXXXXX", NULL);
  std::string backup_dir = std::string (backups) + "/Backup0";
  g_mkdir (backup_dir.c_str (), 0700);
  std::string awkward = std::string (backups) + "/R&D <notes> \"final\".db";
  SfBackupUriInfo entries[] = {
    { (gchar *)awkward.c_str (), SF_CATEGORY_APPLICATIONS },
    { (gchar *)"/home/user/.config/settings.ini", SF_CATEGORY_SETTINGS },
  };
  GSList *list = g_slist_append (g_slist_append (NULL, &entries[0]), &entries[1]);
  g_autoptr (GFile) backups_file = g_file_new_for_path (backups);
  g_autofree gchar *backups_uri = g_file_get_uri (backups_file);
  EXPECT_TRUE (sf_backend_save_permanent_file_list (list, backups_uri, "Backup0", NULL));
  g_autoptr (GError) missing = NULL;
  EXPECT_FALSE (sf_backend_save_permanent_file_list (list, backups_uri, "Missing", &missing));
  EXPECT_TRUE (g_error_matches (missing, SF_ERROR, SF_ERROR_BACKUP_FAILED));
  g_slist_free (list);

  std::string text = read_file (backup_dir + "/permanent_file_list.xml");
  EXPECT_NE (text.find ("category=\"64d\""), std::string::npos) << text;

  GSList *read = sf_backend_load_permanent_file_list (backup_dir.c_str ());
  ASSERT_EQ (g_slist_length (read), 2u);
  SfPermanentFile *first = static_cast<SfPermanentFile *> (read->data);
  SfPermanentFile *second = static_cast<SfPermanentFile *> (read->next->data);
  EXPECT_STREQ (first->name, "R&D <notes> \"final\".db");
  g_autoptr (GFile) awkward_file = g_file_new_for_path (awkward.c_str ());
  g_autofree gchar *awkward_uri = g_file_get_uri (awkward_file);
  EXPECT_STREQ (first->fullpath, awkward_uri);
  EXPECT_EQ (first->hash, g_file_hash (awkward_file));
  EXPECT_EQ (first->category, SF_CATEGORY_APPLICATIONS);
  EXPECT_STREQ (second->name, "settings.ini");
  EXPECT_STREQ (second->fullpath, "file:///home/user/.config/settings.ini");
  EXPECT_EQ (second->category, SF_CATEGORY_SETTINGS);
  sf_backend_free_permanent_file_list (read);

  write_file (backup_dir + "/permanent_file_list.xml",
              "<permanent_files><permanent_file name=\"x\" category=\"1d\"/></permanent_files>");
  EXPECT_EQ (sf_backend_load_permanent_file_list (backup_dir.c_str ()), nullptr);
  EXPECT_EQ (sf_backend_load_permanent_file_list ("/nonexistent"), nullptr);

  g_autofree gchar *rm = g_strdup_printf ("rm -rf '%s'", backups);
  EXPECT_EQ (system (rm), 0);
}

TEST_F (Records, PermanentListThatDoesNotFitLeavesTheEarlierOneWhole)
{
  TmpfsMount memory ("64k");
  SKIP_UNLESS_MOUNTED (memory);
  std::string backup_dir = memory.path () + "/Backup0";
  g_mkdir (backup_dir.c_str (), 0700);
  std::vector<std::string> paths;
  for (int i = 0; i < 2000; i++)
    paths.push_back ("/home/user/.config/application-" + std::to_string (i) + "/settings.ini");
  GSList *list = NULL;
  std::vector<SfBackupUriInfo> entries (paths.size ());
  for (size_t i = 0; i < paths.size (); i++)
    {
      entries[i] = { (gchar *)paths[i].c_str (), SF_CATEGORY_SETTINGS };
      list = g_slist_prepend (list, &entries[i]);
    }
  g_autoptr (GFile) memory_file = g_file_new_for_path (memory.path ().c_str ());
  g_autofree gchar *backups_uri = g_file_get_uri (memory_file);
  std::string earlier = "<permanent_file_list>\n</permanent_file_list>";
  write_file (backup_dir + "/permanent_file_list.xml", earlier);
  /* Whatever room is left is less than the list needs. */
  std::string filler (200 * 1024, 'x');
  FILE *fill = fopen ((memory.path () + "/filler").c_str (), "w");
  ASSERT_NE (fill, nullptr);
  fwrite (filler.data (), 1, filler.size (), fill);
  fclose (fill);

  g_autoptr (GError) error = NULL;
  EXPECT_FALSE (sf_backend_save_permanent_file_list (list, backups_uri, "Backup0", &error));
  EXPECT_TRUE (g_error_matches (error, SF_ERROR, SF_ERROR_BACKUP_NO_SPACE))
      << (error != NULL ? error->message : "no error");
  g_slist_free (list);
  EXPECT_EQ (read_file (backup_dir + "/permanent_file_list.xml"), earlier);
  g_autoptr (GDir) dir = g_dir_open (backup_dir.c_str (), 0, NULL);
  ASSERT_NE (dir, nullptr);
  std::vector<std::string> left;
  while (const gchar *name = g_dir_read_name (dir))
    left.push_back (name);
  EXPECT_EQ (left, std::vector<std::string>{ "permanent_file_list.xml" }) << "no temporary file";
}

TEST_F (Records, StartupFlags)
{
  write_file (home_path ("first-boot-flag"), "");
  sf_backend_add_restore_flag ();
  sf_backend_add_restore_flag ();
  EXPECT_EQ (read_file (home_path (".safehold/startup-restored-flag")),
             "This file is generated automatically, do not delete it.");

  sf_backend_remove_startup_flags ();
  EXPECT_FALSE (g_file_test (home_path ("first-boot-flag").c_str (), G_FILE_TEST_EXISTS));
  EXPECT_TRUE (log_.contains ("Could not remove startup flag filename: '"
                              + home_path (".suw_first_run") + "'."));
  EXPECT_FALSE (log_.contains ("first-boot-flag'."));
}
