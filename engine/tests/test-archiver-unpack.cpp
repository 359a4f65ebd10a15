#include "archiver-test-support.h"

#include "sf-error.h"
#include "sf-zip-writer.h"

#include <gsf/gsf-output-stdio.h>

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
      ASSERT_TRUE (sf_zip_writer_begin_file (zip, name.c_str (), 0644, 1600000000, NULL));
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
  restore ("Backup0", four_categories, &outcome, nullptr, [&cancelled] (Outcome &progress) {
    if (!cancelled && progress.categories.back () == SF_CATEGORY_BOOKMARKS)
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
  EXPECT_FALSE (exists (data_ + "/settings/export/s0.ini"));
  EXPECT_FALSE (exists (flag));
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
