#include "archiver-test-support.h"

#include "crafted-archive.h"
#include "sf-error.h"
#include "sf-zip-writer.h"

#include <gsf/gsf-output-stdio.h>
#include <sys/stat.h>

namespace
{
class Unpack : public ArchiverTest
{
protected:
  const guint four_categories
      = SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS | SF_CATEGORY_BOOKMARKS;

  /* A backup of four categories, one small file each; the originals are gone afterwards. */
  void make_backup (const char *password = nullptr, int files_per_category = 1)
  {
    for (int i = 0; i < files_per_category; i++)
      {
        std::string n = std::to_string (i);
        write_file (data_ + "/contacts/c" + n + ".vcf", "contact " + n);
        write_file (data_ + "/mail/inbox/m" + n + ".eml", "mail " + n);
        write_file (data_ + "/settings/export/s" + n + ".ini", "setting " + n);
        write_file (data_ + "/bookmarks/b" + n + ".html", "bookmark " + n);
      }
    originals_ = snapshot (data_);
    g_autoptr (SfBackupInfo) info = new_info ("Backup0", four_categories, password);
    Outcome outcome;
    backup (info, &outcome, password);
    ASSERT_TRUE (outcome.finished);
    ASSERT_TRUE (snapshot (data_).empty ());
  }

  gint reason (SfCategory category)
  {
    SfRestoreFailure *failure = sf_backend_get_restore_failure (backend ());
    return failure != nullptr ? sf_restore_failure_get_category_reason (failure, category) : -2;
  }

  std::map<std::string, FileState> originals_;
};

/* Writes contacts.zip of a new backup with the given entries, bypassing the packer. */
void
write_crafted_backup (SfBackupInfo *info,
                      const std::vector<std::pair<std::string, std::string>> &entries)
{
  g_autoptr (GError) error = sf_backup_info_create_dir (info);
  ASSERT_EQ (error, nullptr);
  g_autofree gchar *path = sf_backup_info_get_category_archive_path (info, SF_CATEGORY_CONTACTS);
  GsfOutput *file = gsf_output_stdio_new (path, NULL);
  ASSERT_NE (file, nullptr);
  SfZipWriter *zip = sf_zip_writer_new (file, NULL);
  for (const auto &[name, content] : entries)
    {
      ASSERT_TRUE (sf_zip_writer_begin_file (zip, name.c_str (), 0644, 1600000000, -1, NULL));
      ASSERT_TRUE (sf_zip_writer_write (zip, content.data (), content.size (), NULL));
      ASSERT_TRUE (sf_zip_writer_end_file (zip, NULL));
    }
  ASSERT_TRUE (sf_zip_writer_close (zip, NULL));
  sf_zip_writer_free (zip);
  gsf_output_close (file);
  g_object_unref (file);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_CONTACTS, 1, (guint32)entries.size ());
  g_autoptr (GError) metadata_error = sf_backup_info_write_metadata (info);
  ASSERT_EQ (metadata_error, nullptr);
}
} // namespace

TEST_F (Unpack, WrongPasswordRestoresNothingAndStillFinishes)
{
  make_backup ("right");
  write_file (data_ + "/contacts/c0.vcf", "newer contact", 0644, 1700000000);
  std::map<std::string, FileState> current = snapshot (data_);

  Outcome outcome;
  restore ("Backup0", four_categories | SF_CATEGORY_MEDIA, &outcome, "wrong");
  EXPECT_TRUE (outcome.finished);
  EXPECT_TRUE (outcome.finalizing);
  for (SfCategory category :
       { SF_CATEGORY_CONTACTS, SF_CATEGORY_EMAILS, SF_CATEGORY_SETTINGS, SF_CATEGORY_BOOKMARKS })
    EXPECT_EQ (reason (category), SF_RESTORE_FAILURE_UNKNOWN_ERROR) << category;
  EXPECT_EQ (reason (SF_CATEGORY_MEDIA), -1) << "absent from the backup, so not failed";
  EXPECT_EQ (snapshot (data_), current);
  EXPECT_EQ (sf_backend_get_written_categories (backend ()), SF_CATEGORY_NONE);
}

/* A pipe under an archive's name, as a card can carry: the check and the restore go past it. */
TEST_F (Unpack, PipeForAnArchiveFailsItsCategoryWithoutWaiting)
{
  make_backup ();
  g_autoptr (GFile) dir = g_file_new_for_path ((backups_ + "/Backup0").c_str ());
  g_autoptr (SfBackupInfo) info = sf_backup_info_new_from_directory (dir);
  ASSERT_NE (info, nullptr);
  g_autofree gchar *archive = sf_backup_info_get_category_archive_path (info, SF_CATEGORY_CONTACTS);
  ASSERT_EQ (g_unlink (archive), 0);
  ASSERT_EQ (mkfifo (archive, 0644), 0);

  g_autoptr (GError) error = NULL;
  EXPECT_FALSE (
      sf_archiver_zip_check_category (info, SF_CATEGORY_CONTACTS, NULL, NULL, NULL, &error));
  EXPECT_TRUE (g_error_matches (error, SF_ERROR, SF_ERROR_RESTORE_CORRUPT_BACKUP));
  Outcome outcome;
  restore ("Backup0", four_categories, &outcome);
  ASSERT_TRUE (outcome.finished);
  EXPECT_NE (reason (SF_CATEGORY_CONTACTS), -1);
  EXPECT_EQ (reason (SF_CATEGORY_SETTINGS), -1);
}

TEST_F (Unpack, SimulatedCategoryFailuresLeaveTheOthersRestored)
{
  make_backup ();
  g_setenv ("SF_FAIL_CATEGORIES", "contacts,settings", TRUE);
  Outcome outcome;
  restore ("Backup0", four_categories, &outcome);
  g_unsetenv ("SF_FAIL_CATEGORIES");
  ASSERT_TRUE (outcome.finished);
  EXPECT_EQ (reason (SF_CATEGORY_CONTACTS), SF_RESTORE_FAILURE_UNKNOWN_ERROR);
  EXPECT_EQ (reason (SF_CATEGORY_SETTINGS), SF_RESTORE_FAILURE_UNKNOWN_ERROR);
  EXPECT_EQ (reason (SF_CATEGORY_EMAILS), -1);
  EXPECT_EQ (reason (SF_CATEGORY_BOOKMARKS), -1);
  EXPECT_FALSE (exists (data_ + "/contacts/c0.vcf"));
  EXPECT_TRUE (exists (data_ + "/mail/inbox/m0.eml"));
  EXPECT_TRUE (exists (data_ + "/bookmarks/b0.html"));
}

TEST_F (Unpack, CancelInTheThirdCategoryMarksItAndTheRestCancelled)
{
  make_backup (nullptr, 3);
  std::string flag = home_ + "/.safehold/startup-restored-flag";
  g_unlink (flag.c_str ());
  g_setenv ("SF_SLOW", "1", TRUE);
  Outcome outcome;
  bool cancelled = false;
  /* Bookmarks and settings come third and fourth; where two workers run, they may be under way
   * together, but only once contacts and e-mail have been put back whole. */
  restore ("Backup0", four_categories, &outcome, nullptr, [&cancelled, this] (Outcome &progress) {
    gint category = progress.categories.back ();
    if (!cancelled && (category == SF_CATEGORY_BOOKMARKS || category == SF_CATEGORY_SETTINGS)
        && exists (data_ + "/contacts/c2.vcf") && exists (data_ + "/mail/inbox/m2.eml"))
      cancelled = sf_backend_cancel (backend ());
  });
  g_unsetenv ("SF_SLOW");
  ASSERT_TRUE (cancelled);
  EXPECT_TRUE (outcome.cancelled);
  EXPECT_FALSE (outcome.finished);
  EXPECT_EQ (reason (SF_CATEGORY_CONTACTS), -1);
  EXPECT_EQ (reason (SF_CATEGORY_EMAILS), -1);
  EXPECT_EQ (reason (SF_CATEGORY_SETTINGS), SF_RESTORE_FAILURE_CANCELLED);
  EXPECT_EQ (reason (SF_CATEGORY_BOOKMARKS), SF_RESTORE_FAILURE_CANCELLED);
  EXPECT_TRUE (exists (data_ + "/contacts/c2.vcf"));
  EXPECT_TRUE (exists (data_ + "/mail/inbox/m2.eml"));
  for (const auto &[path, state] : snapshot (data_))
    EXPECT_EQ (path.find (".sf-restore-"), std::string::npos) << "left behind: " << path;
  EXPECT_FALSE (exists (flag));
}

TEST_F (Unpack, CategoriesSharingFoldersRestoreEveryFileIntoFoldersMadeOnce)
{
  /* The e-mail folder lies inside the contacts folder, and both archives hold files side by side
   * in folders below it that do not exist yet: the two workers make the same folders, and clean
   * them of stale temporary files, at the same moments. */
  sf_backup_configurations_free ();
  declare ("contacts", "<location type=\"dir\" category=\"contacts\">$HOME/data/shared</location>");
  declare ("mail", "<location type=\"dir\" category=\"emails\">$HOME/data/shared/mail</location>");
  sf_backup_configurations_init (config_.c_str ());
  const guint both = SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS;
  g_autoptr (SfBackupInfo) info = new_info ("Shared", both);
  const std::string shared = data_ + "/shared/mail";
  const int folders = 150;
  std::vector<CraftedEntry> contacts;
  std::vector<CraftedEntry> mails;
  for (int i = 0; i < folders; i++)
    {
      std::string folder = "Root" + shared + "/f" + std::to_string (i) + "/deep/";
      contacts.push_back ({ folder + "c.vcf", "contact " + std::to_string (i), 0600 });
      mails.push_back ({ folder + "m.eml", "mail " + std::to_string (i), 0640 });
    }
  CraftedArchive (contacts).save (info, SF_CATEGORY_CONTACTS, folders);
  CraftedArchive (mails).save (info, SF_CATEGORY_EMAILS, folders);
  /* A stale temporary file a killed restore left in a folder both use. */
  write_file (shared + "/f0/deep/.sf-restore-0badf00d", "stale");
  g_chmod ((shared + "/f0").c_str (), 0755);
  g_chmod ((shared + "/f0/deep").c_str (), 0755);

  Outcome outcome;
  restore ("Shared", both, &outcome);
  ASSERT_TRUE (outcome.finished);
  EXPECT_EQ (reason (SF_CATEGORY_CONTACTS), -1);
  EXPECT_EQ (reason (SF_CATEGORY_EMAILS), -1);
  EXPECT_EQ (sf_backend_get_written_categories (backend ()), (SfCategory)both);
  std::map<std::string, FileState> restored = snapshot (shared);
  EXPECT_EQ (restored.size (), 2u * folders) << "every file, and no temporary one";
  for (int i = 0; i < folders; i++)
    {
      std::string folder = shared + "/f" + std::to_string (i);
      std::string number = std::to_string (i);
      EXPECT_EQ (restored[folder + "/deep/c.vcf"],
                 (FileState{ "contact " + number, 0600, 1600000000 }));
      EXPECT_EQ (restored[folder + "/deep/m.eml"],
                 (FileState{ "mail " + number, 0640, 1600000000 }));
      for (const std::string &made : { folder, folder + "/deep" })
        {
          struct stat made_info;
          ASSERT_EQ (lstat (made.c_str (), &made_info), 0) << made;
          EXPECT_TRUE (S_ISDIR (made_info.st_mode)) << made;
          EXPECT_EQ (made_info.st_mode & 0777, 0755u) << made;
        }
    }
}

TEST_F (Unpack, CraftedEntriesAndThingsInTheWay)
{
  std::string contacts = data_ + "/contacts";
  write_file (contacts + "/blocker", "a file where a folder was");
  g_mkdir_with_parents ((contacts + "/folder").c_str (), 0755);
  g_autoptr (SfBackupInfo) info = new_info ("Crafted", SF_CATEGORY_CONTACTS);
  std::string root = "Root" + contacts;
  write_crafted_backup (info, {
                                  { root + "/../escaped", "outside" },
                                  { root + "/./dot", "dot" },
                                  { root + "//empty", "empty component" },
                                  { root + "/blocker/inside", "under a file" },
                                  { root + "/folder", "over a folder" },
                                  { root + "/fine.vcf", "restored" },
                                  { root + "/gone/with/its/parents.vcf", "deep" },
                                  { "Elsewhere" + contacts + "/outside-root", "ignored" },
                              });

  Outcome outcome;
  restore ("Crafted", SF_CATEGORY_CONTACTS, &outcome);
  ASSERT_TRUE (outcome.finished);
  EXPECT_FALSE (exists (data_ + "/escaped"));
  EXPECT_FALSE (exists (contacts + "/dot"));
  EXPECT_FALSE (exists (contacts + "/empty"));
  EXPECT_TRUE (g_file_test ((contacts + "/blocker").c_str (), G_FILE_TEST_IS_REGULAR));
  EXPECT_TRUE (g_file_test ((contacts + "/folder").c_str (), G_FILE_TEST_IS_DIR));
  EXPECT_EQ (snapshot (contacts + "/folder").size (), 0u);
  EXPECT_FALSE (exists (contacts + "/outside-root"));
  std::map<std::string, FileState> restored = snapshot (contacts);
  EXPECT_EQ (restored[contacts + "/fine.vcf"].content, "restored");
  EXPECT_EQ (restored[contacts + "/fine.vcf"].mtime, 1600000000);
  EXPECT_EQ (restored[contacts + "/gone/with/its/parents.vcf"].content, "deep")
      << "folders a backup emptied and removed come back";
  EXPECT_EQ (reason (SF_CATEGORY_CONTACTS), SF_RESTORE_FAILURE_UNKNOWN_ERROR)
      << "a category with files that failed says so";
  EXPECT_TRUE (sf_backend_get_written_categories (backend ()) & SF_CATEGORY_CONTACTS)
      << "its restored files still need importing";
}

TEST_F (Unpack, ProgressIsThrottledCappedAndReachesTheTotal)
{
  make_backup (nullptr, 6);
  /* The restore's configuration excludes part of the mail: excluded files still count. */
  sf_backup_configurations_free ();
  declare ("mail", "<location type=\"dir\" category=\"emails\">$HOME/data/mail</location>"
                   "<exclusion type=\"file\" category=\"emails\">$HOME/data/mail/inbox/m1.eml"
                   "</exclusion>");
  sf_backup_configurations_init (config_.c_str ());
  write_file (data_ + "/contacts/c0.vcf", "contact 0");

  g_setenv ("SF_SLOW", "1", TRUE);
  Outcome outcome;
  gint64 started = g_get_monotonic_time ();
  restore ("Backup0", four_categories, &outcome);
  gint64 elapsed_ms = (g_get_monotonic_time () - started) / 1000;
  g_unsetenv ("SF_SLOW");

  ASSERT_TRUE (outcome.finished);
  EXPECT_FALSE (exists (data_ + "/mail/inbox/m1.eml"));
  EXPECT_EQ (sf_backend_get_processed_files (backend ()), 24);
  ASSERT_GE (outcome.percents.size (), 3u);
  /* At most one event per quarter second, and one more at each new second. */
  EXPECT_LE ((gint64)outcome.percents.size (), elapsed_ms / 250 + elapsed_ms / 1000 + 2);
  for (size_t i = 0; i + 1 < outcome.percents.size (); i++)
    {
      EXPECT_LE (outcome.percents[i], 99);
      EXPECT_LE (outcome.percents[i], outcome.percents[i + 1]);
    }
}
