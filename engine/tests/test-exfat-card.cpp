#include "archiver-test-support.h"

#include "exfat-card.h"
#include "sf-error.h"
#include "sf-restore-failure.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

/* Backups on the medium the phone really uses: an exFAT card through FUSE, with FAT's limits
 * (no links, no modes, names compared without case), filled up, pulled out and read-only. */
namespace
{
const guint categories = SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS;

class ExfatCardTest : public ArchiverTest
{
protected:
  void SetUp () override
  {
    ArchiverTest::SetUp ();
    card_ = std::make_unique<ExfatCard> (home_ + "/Card", card_size ());
    backups_ = card_->path () + "/.backups";
    g_mkdir (backups_.c_str (), 0755);
  }

  virtual std::string card_size () const
  {
    return "16M";
  }

  /* Sources of two categories with modes and times the card itself cannot keep. */
  void make_tree (gsize settings_size = 0)
  {
    write_file (data_ + "/contacts/a/b/c.vcf", "BEGIN:VCARD\nEND:VCARD\n", 0600, 946684800);
    write_file (data_ + "/contacts/Card.vcf", "upper", 0640, 1200000000);
    write_file (data_ + "/contacts/script.sh", "#!/bin/sh\n", 0755, 1300000001);
    write_file (data_ + "/settings/export/app.ini", "[app]\n", 0600, 1500000000);
    write_file (data_ + "/settings/prefs.db", "database", 0644, 1500000001);
    if (settings_size > 0)
      write_file (data_ + "/settings/export/large.bin", random_bytes (settings_size, 5), 0644,
                  1600000000);
  }

  /* Backs the tree up whole as Backup0 on the card; originals: the files as they were. */
  bool back_up_complete_tree (std::map<std::string, FileState> *originals)
  {
    make_tree ();
    *originals = snapshot (data_);
    g_autoptr (SfBackupInfo) complete = new_info ("Backup0", categories, nullptr, backups_);
    Outcome first;
    backup (complete, &first);
    return first.finished;
  }

  /* What is in the backups folder of the card, hidden entries included. */
  std::vector<std::string> card_backups () const
  {
    std::vector<std::string> names;
    GDir *dir = g_dir_open (backups_.c_str (), 0, NULL);
    while (const gchar *name = dir != NULL ? g_dir_read_name (dir) : NULL)
      names.push_back (name);
    if (dir != NULL)
      g_dir_close (dir);
    return names;
  }

  std::unique_ptr<ExfatCard> card_;
};

class SmallExfatCard : public ExfatCardTest
{
protected:
  std::string card_size () const override
  {
    return "4M";
  }
};
} // namespace

TEST_F (ExfatCardTest, RoundTripPlainAndProtectedKeepsContentModesAndTimes)
{
  SKIP_UNLESS_CARD (*card_);
  for (const char *password : { (const char *)nullptr, "card pass" })
    {
      make_tree ();
      std::map<std::string, FileState> before = snapshot (data_);
      std::string name = password == nullptr ? "Backup0" : "Backup1";
      g_autoptr (SfBackupInfo) info = new_info (name, categories, password, backups_);
      Outcome backed_up;
      backup (info, &backed_up, password);
      ASSERT_TRUE (backed_up.finished) << (backed_up.error ? backed_up.error->message : "");
      EXPECT_FALSE (exists (data_ + "/contacts/Card.vcf")) << "packed and taken away";

      Outcome restored;
      restore (name, categories, &restored, password);
      ASSERT_TRUE (restored.finished) << (restored.error ? restored.error->message : "");
      EXPECT_FALSE (sf_restore_failure_has_failures (sf_backend_get_restore_failure (backend ())));
      EXPECT_EQ (snapshot (data_), before) << (password ? "protected" : "plain");
    }
}

/* FAT32 holds no file of 4 GiB or more; a file-size limit on the writing process fails the write
 * past it the same way (EFBIG), so a 1 MiB limit stands in for it. */
TEST_F (ExfatCardTest, ArchiveLargerThanTheCardHoldsFailsClearlyAndLosesNothing)
{
  SKIP_UNLESS_CARD (*card_);
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP () << "ThreadSanitizer cannot follow a fork of a process with threads";
#endif
  make_tree (3 * 1024 * 1024);
  std::map<std::string, FileState> before = snapshot (data_);

  pid_t child = fork ();
  ASSERT_GE (child, 0);
  if (child == 0)
    {
      signal (SIGXFSZ, SIG_IGN);
      struct rlimit limit = { 1024 * 1024, 1024 * 1024 };
      if (setrlimit (RLIMIT_FSIZE, &limit) != 0)
        _exit (3);
      g_autoptr (SfBackupInfo) info = new_info ("Backup0", categories, nullptr, backups_);
      Outcome outcome;
      backup (info, &outcome);
      if (outcome.error != nullptr)
        g_printerr ("backup failed: %s\n", outcome.error->message);
      _exit (g_error_matches (outcome.error, SF_ERROR, SF_ERROR_BACKUP_FILE_TOO_LARGE) ? 0 : 1);
    }
  int status = 0;
  ASSERT_EQ (waitpid (child, &status, 0), child);
  ASSERT_TRUE (WIFEXITED (status)) << "the limit ends no process";
  ASSERT_NE (WEXITSTATUS (status), 3) << "setrlimit";
  EXPECT_EQ (WEXITSTATUS (status), 0) << "the error says the card cannot hold a file that large";
  EXPECT_EQ (snapshot (data_), before) << "no source deleted";
  EXPECT_EQ (card_backups (), std::vector<std::string> ()) << "nothing half-written left";
}

TEST_F (SmallExfatCard, FullCardSaysNoSpaceAndLosesNothing)
{
  SKIP_UNLESS_CARD (*card_);
  make_tree (3 * 1024 * 1024);
  std::map<std::string, FileState> before = snapshot (data_);
  g_autoptr (SfBackupInfo) info = new_info ("Backup0", categories, nullptr, backups_);
  Outcome outcome;
  backup (info, &outcome);
  ASSERT_NE (outcome.error, nullptr);
  EXPECT_TRUE (g_error_matches (outcome.error, SF_ERROR, SF_ERROR_BACKUP_NO_SPACE))
      << outcome.error->message;
  EXPECT_EQ (snapshot (data_), before);
  EXPECT_EQ (card_backups (), std::vector<std::string> ());
}

/* The card pulled out in the middle of a backup and of a restore: each ends within seconds and
 * deletes nothing; once the card is back, the backup made before restores whole. */
TEST_F (ExfatCardTest, PulledCardEndsTheOperationAndLosesNothing)
{
  SKIP_UNLESS_CARD (*card_);
  std::map<std::string, FileState> originals;
  ASSERT_TRUE (back_up_complete_tree (&originals));

  /* Incompressible data, so that the archive is still being written when the card goes. */
  make_tree (8 * 1024 * 1024);
  std::map<std::string, FileState> before = snapshot (data_);
  g_autoptr (SfBackupInfo) info = new_info ("Backup1", categories, nullptr, backups_);
  Outcome interrupted;
  gint64 pulled = 0;
  backup (info, &interrupted, nullptr, [&] (Outcome &) {
    if (pulled == 0)
      {
        card_->pull ();
        pulled = g_get_monotonic_time ();
      }
  });
  ASSERT_NE (pulled, 0);
  EXPECT_FALSE (interrupted.finished);
  EXPECT_NE (interrupted.error, nullptr);
  EXPECT_LT (g_get_monotonic_time () - pulled, 10 * G_USEC_PER_SEC);
  EXPECT_EQ (snapshot (data_), before) << "no source deleted";

  ASSERT_TRUE (card_->plug ()) << card_->reason ();
  EXPECT_FALSE (exists (backups_ + "/Backup1/backup.metadata")) << "never listed";

  /* A restore of the complete backup, pulled at its first progress. */
  Outcome cut;
  pulled = 0;
  restore ("Backup0", categories, &cut, nullptr, [&] (Outcome &) {
    if (pulled == 0)
      {
        card_->pull ();
        pulled = g_get_monotonic_time ();
      }
  });
  ASSERT_TRUE (cut.ended ());
  if (pulled != 0)
    {
      EXPECT_LT (g_get_monotonic_time () - pulled, 10 * G_USEC_PER_SEC);
    }
  ASSERT_TRUE (card_->plug ()) << card_->reason ();

  Outcome whole;
  restore ("Backup0", categories, &whole);
  ASSERT_TRUE (whole.finished) << (whole.error ? whole.error->message : "");
  EXPECT_FALSE (sf_restore_failure_has_failures (sf_backend_get_restore_failure (backend ())));
  std::map<std::string, FileState> now = snapshot (data_);
  for (const auto &[path, state] : originals)
    EXPECT_EQ (now[path], state) << path;
}

TEST_F (ExfatCardTest, ReadOnlyCardRefusesABackupAndStillRestores)
{
  SKIP_UNLESS_CARD (*card_);
  std::map<std::string, FileState> originals;
  ASSERT_TRUE (back_up_complete_tree (&originals));

  ASSERT_TRUE (card_->remount (true)) << card_->reason ();
  make_tree ();
  std::map<std::string, FileState> before = snapshot (data_);
  g_autoptr (SfBackupInfo) info = new_info ("Backup1", categories, nullptr, backups_);
  Outcome refused;
  backup (info, &refused);
  ASSERT_NE (refused.error, nullptr);
  EXPECT_TRUE (g_error_matches (refused.error, SF_ERROR, SF_ERROR_BACKUP_READ_ONLY))
      << refused.error->message;
  EXPECT_EQ (snapshot (data_), before);

  Outcome restored;
  restore ("Backup0", categories, &restored);
  ASSERT_TRUE (restored.finished) << (restored.error ? restored.error->message : "");
  EXPECT_EQ (snapshot (data_), originals);
  ASSERT_TRUE (card_->remount (false)) << card_->reason ();
}
