#include "log-capture.h"
#include "sf-error.h"
#include "sf-log.h"
#include "sf-target.h"
#include "target-test-support.h"
#include "tmpfs-mount.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

namespace
{
void
count_signal (gpointer, gpointer counter)
{
  ++*static_cast<int *> (counter);
}

void
count_notify (GObject *, GParamSpec *pspec, gpointer names)
{
  static_cast<std::string *> (names)->append (pspec->name).append (" ");
}

bool
exists (const std::string &path)
{
  return g_file_test (path.c_str (), G_FILE_TEST_EXISTS);
}

class TargetTest : public ::testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    root_ = make_temp_dir ("target-XXXXXX");
    location_ = root_ + "/.backups";
  }

  SfTarget *make_target ()
  {
    target_ = sf_target_new (uri_of (root_).c_str ());
    g_signal_connect (target_, "backups-changed", G_CALLBACK (count_signal), &changes_);
    return target_;
  }

  void TearDown () override
  {
    g_clear_object (&target_);
    g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", root_.c_str ());
    g_spawn_command_line_sync (command, NULL, NULL, NULL, NULL);
  }

  std::string root_;
  std::string location_;
  SfTarget *target_ = nullptr;
  int changes_ = 0;
};

TEST_F (TargetTest, BackupsLocationDefaultsToDotBackupsAndStaysBelowTheRoot)
{
  LogCapture log;
  make_target ();
  EXPECT_TRUE (g_file_test (location_.c_str (), G_FILE_TEST_IS_DIR));
  EXPECT_EQ (uri_of (location_), sf_target_get_backups_uri (target_));
  EXPECT_FALSE (sf_target_get_is_available (target_));
  EXPECT_FALSE (sf_target_get_is_read_only (target_));
  EXPECT_FALSE (sf_target_get_is_persistent (target_));

  std::string notified;
  g_signal_connect (target_, "notify", G_CALLBACK (count_notify), &notified);
  sf_target_set_backups_uri (target_, "file:///elsewhere/.backups");
  EXPECT_TRUE (log.contains ("Backups location must be below the root uri"));
  EXPECT_EQ (uri_of (location_), sf_target_get_backups_uri (target_));

  std::string other = root_ + "/Backups";
  sf_target_set_backups_uri (target_, uri_of (other).c_str ());
  g_autofree gchar *copy = sf_target_dup_backups_uri (target_);
  EXPECT_EQ (uri_of (other), copy);

  sf_target_set_is_available (target_, TRUE);
  sf_target_set_is_available (target_, TRUE);
  sf_target_set_is_read_only (target_, FALSE);
  sf_target_set_display_name (target_, "Card");
  EXPECT_EQ ("backups-location is-available display-name ", notified);
  EXPECT_STREQ ("Card", sf_target_get_display_name (target_));
}

TEST_F (TargetTest, MonitorsRefreshTheListWhenBackupsAppearAndChange)
{
  make_target ();
  EXPECT_EQ (nullptr, sf_target_get_backups (target_));

  std::string backup = location_ + "/Backup0";
  g_mkdir (backup.c_str (), 0700);
  ASSERT_TRUE (run_until ([&] { return changes_ == 1; })) << "a new backup directory " << changes_;
  EXPECT_EQ (nullptr, sf_target_get_backups (target_));

  make_backup_on_disk (location_, "Backup0", 1000);
  ASSERT_TRUE (run_until ([&] { return changes_ >= 2; })) << "its metadata written";
  GList *backups = sf_target_get_backups (target_);
  ASSERT_EQ (1u, g_list_length (backups));
  EXPECT_STREQ ("Backup0", sf_backup_info_get_name ((SfBackupInfo *)backups->data));

  /* Rewritten in place, and replaced through a temporary file as writers do. */
  std::string metadata = backup + "/backup.metadata";
  run_for (1000);
  int before = changes_;
  FILE *in_place = fopen (metadata.c_str (), "a");
  fputs ("\n", in_place);
  fclose (in_place);
  EXPECT_TRUE (run_until ([&] { return changes_ > before; })) << "its metadata changed";
  run_for (1000);
  before = changes_;
  make_backup_on_disk (location_, "Backup0", 2000);
  EXPECT_TRUE (run_until ([&] { return changes_ > before; })) << "its metadata replaced";

  /* Deleting a backup tells; deleting the emptied location itself does not. */
  g_unlink (metadata.c_str ());
  g_rmdir (backup.c_str ());
  ASSERT_TRUE (run_until ([&] { return sf_target_get_backups (target_) == nullptr; }));
  run_for (500);
  before = changes_;
  g_rmdir (location_.c_str ());
  run_for (1500);
  EXPECT_EQ (before, changes_);

  /* A location that comes back with a backup in it is scanned again. */
  std::string elsewhere = root_ + "/elsewhere";
  make_backup_on_disk (elsewhere, "Moved", 3000);
  ASSERT_EQ (0, g_rename (elsewhere.c_str (), location_.c_str ()));
  EXPECT_TRUE (run_until ([&] { return changes_ > before; }));
  EXPECT_EQ (1u, g_list_length (sf_target_get_backups (target_)));
}

TEST_F (TargetTest, PrepareCreatesTheLocationAndRemovesWriterLeftovers)
{
  make_target ();
  g_rmdir (location_.c_str ());
  g_autoptr (GError) error = NULL;
  ASSERT_TRUE (sf_target_prepare_for_backup (target_, &error));
  EXPECT_TRUE (g_file_test (location_.c_str (), G_FILE_TEST_IS_DIR));

  std::string backup = make_backup_on_disk (location_, "Backup0", 1000);
  for (const char *name : { ".gsf-save-AbCdEf", "x.gsf", "contacts.zip" })
    g_file_set_contents ((backup + "/" + name).c_str (), "x", 1, NULL);
  ASSERT_TRUE (sf_target_prepare_for_backup (target_, &error));
  EXPECT_FALSE (exists (backup + "/.gsf-save-AbCdEf"));
  EXPECT_TRUE (exists (backup + "/x.gsf"));
  EXPECT_TRUE (exists (backup + "/contacts.zip"));
  EXPECT_TRUE (exists (backup + "/backup.metadata"));
}

TEST_F (TargetTest, PrepareReportsWhyTheLocationCannotBeMade)
{
  make_target ();
  g_rmdir (location_.c_str ());
  g_file_set_contents (location_.c_str (), "not a directory", -1, NULL);
  LogCapture log;
  g_autoptr (GError) error = NULL;
  EXPECT_FALSE (sf_target_prepare_for_backup (target_, &error));
  EXPECT_TRUE (g_error_matches (error, SF_ERROR, SF_ERROR_BACKUP_FAILED));
  EXPECT_STREQ ("Failed to access backup dir", error->message);

  TmpfsMount card;
  SKIP_UNLESS_MOUNTED (card);
  ASSERT_EQ (0, mount (NULL, card.path ().c_str (), NULL, MS_REMOUNT | MS_RDONLY, NULL))
      << g_strerror (errno);
  g_autoptr (SfTarget) read_only = sf_target_new (uri_of (card.path ()).c_str ());
  g_clear_error (&error);
  EXPECT_FALSE (sf_target_prepare_for_backup (read_only, &error));
  EXPECT_TRUE (g_error_matches (error, SF_ERROR, SF_ERROR_BACKUP_READ_ONLY));
  EXPECT_STREQ ("Memory card read-only", error->message);
  EXPECT_TRUE (log.contains ("Memory card read-only"));
}

TEST_F (TargetTest, RemovingTheLastBackupRemovesTheEmptiedLocation)
{
  std::string outside = root_ + "/keep";
  g_mkdir (outside.c_str (), 0700);
  g_file_set_contents ((outside + "/precious").c_str (), "x", 1, NULL);
  std::string first = make_backup_on_disk (location_, "First", 1000);
  g_mkdir_with_parents ((first + "/deep/deeper").c_str (), 0700);
  g_file_set_contents ((first + "/deep/deeper/file").c_str (), "x", 1, NULL);
  ASSERT_EQ (0, symlink (outside.c_str (), (first + "/deep/link").c_str ()));
  make_backup_on_disk (location_, "Second", 2000);
  make_target ();

  GList *backups = sf_target_get_backups (target_);
  ASSERT_EQ (2u, g_list_length (backups));
  EXPECT_EQ (backups, sf_target_get_backups (target_)) << "kept until something changes";
  EXPECT_EQ (nullptr, sf_target_get_backup_by_name (target_, "Missing"));
  SfBackupInfo *older = (SfBackupInfo *)backups->next->data;
  ASSERT_TRUE (sf_target_remove_backup (target_, older));
  EXPECT_FALSE (exists (first));
  EXPECT_TRUE (exists (outside + "/precious")) << "a link inside a backup is not followed";
  backups = sf_target_get_backups (target_);
  ASSERT_EQ (1u, g_list_length (backups));
  EXPECT_TRUE (exists (location_));

  SfBackupInfo *gone = sf_target_get_backup_by_name (target_, "Second");
  ASSERT_NE (nullptr, gone);
  EXPECT_TRUE (sf_target_remove_backup (target_, gone));
  EXPECT_FALSE (exists (location_));
  EXPECT_FALSE (sf_target_remove_backup (target_, gone)) << "already removed";
  sf_backup_info_unref (gone);
}

TEST_F (TargetTest, ABackupThatIsALinkLosesOnlyTheLink)
{
  std::string elsewhere = make_backup_on_disk (root_ + "/elsewhere", "Real", 1000);
  g_file_set_contents ((elsewhere + "/contacts.zip").c_str (), "zip", 3, NULL);
  g_mkdir_with_parents (location_.c_str (), 0700);
  ASSERT_EQ (0, symlink (elsewhere.c_str (), (location_ + "/Linked").c_str ()));
  make_backup_on_disk (location_, "Kept", 2000);
  make_target ();

  g_autoptr (SfBackupInfo) linked = sf_target_get_backup_by_name (target_, "Linked");
  ASSERT_NE (nullptr, linked);
  ASSERT_TRUE (sf_target_remove_backup (target_, linked));
  EXPECT_FALSE (g_file_test ((location_ + "/Linked").c_str (), G_FILE_TEST_IS_SYMLINK));
  EXPECT_TRUE (exists (elsewhere + "/backup.metadata"));
  EXPECT_TRUE (exists (elsewhere + "/contacts.zip"));
}

TEST_F (TargetTest, RemovingABackupEndsTheListsHandedOutBefore)
{
  make_backup_on_disk (location_, "First", 1000);
  make_backup_on_disk (location_, "Second", 2000);
  make_target ();
  GList *before = sf_target_get_backups (target_);
  ASSERT_EQ (2u, g_list_length (before));
  int changes = changes_;
  g_autofree gchar *name = g_strdup (sf_backup_info_get_name ((SfBackupInfo *)before->data));
  ASSERT_TRUE (sf_target_remove_backup (target_, (SfBackupInfo *)before->data));
  /* Holders of the old list were told before anything they hold was released. */
  EXPECT_EQ (changes + 1, changes_);
  GList *after = sf_target_get_backups (target_);
  ASSERT_EQ (1u, g_list_length (after));
  EXPECT_STRNE (name, sf_backup_info_get_name ((SfBackupInfo *)after->data));
}

TEST_F (TargetTest, FreeSpaceIsThatOfTheRootFileSystem)
{
  TmpfsMount card ("1M");
  SKIP_UNLESS_MOUNTED (card);
  g_autoptr (SfTarget) target = sf_target_new (uri_of (card.path ()).c_str ());
  guint64 free_space = sf_target_calculate_free_space (target);
  EXPECT_GT (free_space, 512u * 1024);
  EXPECT_LE (free_space, 1024u * 1024);

  std::string filler (256 * 1024, 'x');
  g_file_set_contents ((card.path () + "/filler").c_str (), filler.data (), filler.size (), NULL);
  EXPECT_LE (sf_target_calculate_free_space (target), free_space - filler.size ());

  LogCapture log;
  std::string gone = root_ + "/gone";
  g_autoptr (SfTarget) missing = sf_target_new (uri_of (gone).c_str ());
  g_rmdir ((gone + "/.backups").c_str ());
  g_rmdir (gone.c_str ());
  EXPECT_EQ (0u, sf_target_calculate_free_space (missing));
  EXPECT_TRUE (log.contains ("Could not calculate free space for uri:'" + uri_of (gone) + "'"));
}
} // namespace
