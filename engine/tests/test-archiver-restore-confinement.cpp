#include "archiver-test-support.h"
#include "crafted-archive.h"

#include <unistd.h>

namespace
{
class RestoreConfinement : public ArchiverTest
{
protected:
  void SetUp () override
  {
    ArchiverTest::SetUp ();
    contacts_ = data_ + "/contacts";
  }

  gint reason (SfCategory category)
  {
    SfRestoreFailure *failure = sf_backend_get_restore_failure (backend ());
    return failure != nullptr ? sf_restore_failure_get_category_reason (failure, category) : -2;
  }

  /* Restores archive as the only category of a new backup. */
  void restore_crafted (const CraftedArchive &archive, SfCategory category, guint32 files,
                        Outcome *outcome, guint64 size = 0)
  {
    g_autoptr (SfBackupInfo) info = new_info ("Crafted", category);
    archive.save (info, category, files, size);
    restore ("Crafted", category, outcome);
  }

  static guint mode_of (const std::string &path)
  {
    struct stat info;
    return lstat (path.c_str (), &info) == 0 ? info.st_mode & 07777 : 0;
  }

  static bool has_temporary (const std::string &dir)
  {
    for (const auto &[path, state] : snapshot (dir))
      if (path.find ("/.sf-restore-") != std::string::npos)
        return true;
    return false;
  }

  std::string contacts_;
};
} // namespace

TEST_F (RestoreConfinement, EntriesOutsideTheCategoryLocationsAreRefused)
{
  write_file (home_ + "/.profile", "the user's own", 0644, 1650000000);
  std::string record = home_ + "/.safehold/last-restore.xml";
  g_unlink (record.c_str ());
  g_autofree gchar *unique = g_path_get_basename (config_.c_str ());
  std::string elsewhere = std::string ("/tmp/elsewhere-") + unique;
  guint home_mode = mode_of (home_);

  CraftedArchive archive ({
      { "Root" + home_ + "/.profile", "planted" },
      { "Root" + elsewhere, "planted" },
      { "Root" + data_ + "/mail/inbox/planted.eml", "another category's location" },
      { "Root" + record, "<last-restore/>" },
      { "Root" + contacts_ + "/good.vcf", "good" },
  });
  Outcome outcome;
  restore_crafted (archive, SF_CATEGORY_CONTACTS, 5, &outcome);
  ASSERT_TRUE (outcome.finished);

  EXPECT_EQ (snapshot (home_)[home_ + "/.profile"].content, "the user's own");
  EXPECT_FALSE (exists (elsewhere));
  EXPECT_FALSE (exists (data_ + "/mail"));
  EXPECT_FALSE (exists (record));
  EXPECT_EQ (snapshot (contacts_)[contacts_ + "/good.vcf"].content, "good");
  EXPECT_EQ (mode_of (home_), home_mode);
  EXPECT_EQ (reason (SF_CATEGORY_CONTACTS), SF_RESTORE_FAILURE_UNKNOWN_ERROR);
  EXPECT_EQ (sf_backend_get_written_categories (backend ()), SF_CATEGORY_CONTACTS);
  EXPECT_EQ (sf_backend_get_processed_files (backend ()), 5) << "refused files still count";
  EXPECT_TRUE (log_.contains ("Restore, outside the category's locations: " + home_ + "/.profile"));
  EXPECT_TRUE (log_.contains ("Shutting down gconfd"));
}

TEST_F (RestoreConfinement, LinksBelowALocationAreNeverFollowed)
{
  std::string outside = make_temp_dir ("outside-XXXXXX");
  g_chmod (outside.c_str (), 0750);
  write_file (outside + "/target.txt", "outside", 0644, 1650000000);
  g_mkdir_with_parents (contacts_.c_str (), 0755);
  ASSERT_EQ (symlink (outside.c_str (), (contacts_ + "/sub").c_str ()), 0);
  ASSERT_EQ (symlink ((outside + "/target.txt").c_str (), (contacts_ + "/last.vcf").c_str ()), 0);
  std::map<std::string, FileState> outside_before = snapshot (outside);

  CraftedArchive archive ({
      { "Root" + contacts_ + "/sub/through-link.vcf", "planted" },
      { "Root" + contacts_ + "/sub/deeper/through-link.vcf", "planted" },
      { "Root" + contacts_ + "/last.vcf", "replaces the link" },
  });
  Outcome outcome;
  restore_crafted (archive, SF_CATEGORY_CONTACTS, 3, &outcome);
  ASSERT_TRUE (outcome.finished);

  EXPECT_EQ (snapshot (outside), outside_before);
  EXPECT_EQ (mode_of (outside), 0750u);
  struct stat last;
  ASSERT_EQ (lstat ((contacts_ + "/last.vcf").c_str (), &last), 0);
  EXPECT_TRUE (S_ISREG (last.st_mode)) << "a link as the last component is replaced";
  EXPECT_EQ (snapshot (contacts_)[contacts_ + "/last.vcf"].content, "replaces the link");
  EXPECT_EQ (reason (SF_CATEGORY_CONTACTS), SF_RESTORE_FAILURE_UNKNOWN_ERROR);
  g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", outside.c_str ());
  EXPECT_EQ (system (command), 0);
}

TEST_F (RestoreConfinement, FoldersKeepTheirModesAndNewOnesAreNotOpenToAll)
{
  g_mkdir_with_parents ((contacts_ + "/existing").c_str (), 0755);
  g_chmod ((contacts_ + "/existing").c_str (), 0755);
  g_chmod (data_.c_str (), 0750);
  guint home_mode = mode_of (home_);

  CraftedArchive archive ({
      { "Root" + contacts_ + "/existing/a.vcf", "a", 0600, 1500000000 },
      { "Root" + contacts_ + "/new/deeper/b.vcf", "b", 0777, 1500000001 },
  });
  Outcome outcome;
  restore_crafted (archive, SF_CATEGORY_CONTACTS, 2, &outcome);
  ASSERT_TRUE (outcome.finished);

  EXPECT_EQ (mode_of (contacts_ + "/existing"), 0755u);
  EXPECT_EQ (mode_of (data_), 0750u) << "a folder above the location is the device's";
  EXPECT_EQ (mode_of (home_), home_mode);
  EXPECT_EQ (mode_of (contacts_ + "/new"), 0755u);
  EXPECT_EQ (mode_of (contacts_ + "/new/deeper"), 0755u);
  std::map<std::string, FileState> restored = snapshot (contacts_);
  EXPECT_EQ (restored[contacts_ + "/existing/a.vcf"], (FileState{ "a", 0600, 1500000000 }));
  EXPECT_EQ (restored[contacts_ + "/new/deeper/b.vcf"], (FileState{ "b", 0777, 1500000001 }));
  EXPECT_EQ (reason (SF_CATEGORY_CONTACTS), -1);
}

TEST_F (RestoreConfinement, ADamagedEntrySpoilsOnlyItself)
{
  std::vector<CraftedEntry> entries;
  for (int i = 0; i < 4; i++)
    entries.push_back (
        { "Root" + contacts_ + "/c" + std::to_string (i) + ".vcf", random_bytes (20000, i) });
  CraftedArchive bad_checksum (entries);
  bad_checksum.damage_checksum (1);
  Outcome first;
  restore_crafted (bad_checksum, SF_CATEGORY_CONTACTS, 4, &first);
  ASSERT_TRUE (first.finished);
  std::map<std::string, FileState> restored = snapshot (contacts_);
  EXPECT_EQ (restored.size (), 3u) << "no temporary file is left either";
  for (int i : { 0, 2, 3 })
    EXPECT_EQ (restored[entries[i].name.substr (4)].content, entries[i].content) << i;
  EXPECT_FALSE (exists (contacts_ + "/c1.vcf"));
  EXPECT_NE (reason (SF_CATEGORY_CONTACTS), -1);

  g_autofree gchar *command
      = g_strdup_printf ("rm -rf '%s' '%s'", contacts_.c_str (), (backups_ + "/Crafted").c_str ());
  ASSERT_EQ (system (command), 0);
  CraftedArchive bad_name (entries);
  bad_name.break_name (0, entries[0].name.size () - 5);
  Outcome second;
  restore_crafted (bad_name, SF_CATEGORY_CONTACTS, 4, &second);
  ASSERT_TRUE (second.finished);
  restored = snapshot (contacts_);
  EXPECT_EQ (restored.size (), 3u);
  for (int i : { 1, 2, 3 })
    EXPECT_EQ (restored[entries[i].name.substr (4)].content, entries[i].content) << i;
  EXPECT_NE (reason (SF_CATEGORY_CONTACTS), -1);
}

TEST_F (RestoreConfinement, OversizedEntriesAndLinksAreNotWritten)
{
  CraftedArchive archive ({
      { "Root" + contacts_ + "/bomb.bin", std::string (64 << 20, '\0') },
      { "Root" + contacts_ + "/link", "/etc/passwd" },
      { "Root" + contacts_ + "/fine.vcf", "fine" },
  });
  archive.declare_size (0, 100);
  archive.make_link (1);
  Outcome outcome;
  restore_crafted (archive, SF_CATEGORY_CONTACTS, 3, &outcome);
  ASSERT_TRUE (outcome.finished);

  std::map<std::string, FileState> restored = snapshot (contacts_);
  EXPECT_EQ (restored.size (), 1u) << "neither the bomb, nor a temporary file, nor the link";
  EXPECT_EQ (restored[contacts_ + "/fine.vcf"].content, "fine");
  struct stat link;
  EXPECT_NE (lstat ((contacts_ + "/link").c_str (), &link), 0);
  EXPECT_NE (reason (SF_CATEGORY_CONTACTS), -1) << "the oversized entry failed";
}

TEST_F (RestoreConfinement, ACancelInsideALargeFileLeavesTheOldOneWhole)
{
  write_file (contacts_ + "/large.bin", "the user's own", 0600, 1650000000);
  std::string large = random_bytes (2 << 20, 3);
  CraftedArchive archive ({ { "Root" + contacts_ + "/large.bin", large } });
  g_autoptr (SfBackupInfo) info = new_info ("Crafted", SF_CATEGORY_CONTACTS);
  archive.save (info, SF_CATEGORY_CONTACTS, 1, large.size ());

  g_setenv ("SF_SLOW", "1", TRUE);
  Outcome outcome;
  bool cancelled = false;
  restore ("Crafted", SF_CATEGORY_CONTACTS, &outcome, nullptr, [&cancelled] (Outcome &progress) {
    if (!cancelled && progress.percents.back () > 0)
      cancelled = sf_backend_cancel (backend ());
  });
  g_unsetenv ("SF_SLOW");
  ASSERT_TRUE (cancelled);
  EXPECT_TRUE (outcome.cancelled);
  EXPECT_LT (sf_backend_get_processed_size (backend ()), large.size ()) << "cancelled inside";
  std::map<std::string, FileState> after = snapshot (contacts_);
  EXPECT_EQ (after.size (), 1u) << "no temporary file is left";
  EXPECT_EQ (after[contacts_ + "/large.bin"], (FileState{ "the user's own", 0600, 1650000000 }));
  EXPECT_EQ (reason (SF_CATEGORY_CONTACTS), SF_RESTORE_FAILURE_CANCELLED);
}
