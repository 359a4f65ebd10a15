/* Backups and restores killed at seeded random moments, then the next start: nothing the user had
 * is lost, nothing half-written is taken for whole. */

#include "archiver-test-support.h"

#include "gsf-input-crypt.h"
#include "sf-target.h"
#include "sf-zip-reader.h"

#include <fcntl.h>
#include <gsf/gsf-input-stdio.h>
#include <signal.h>
#include <sys/wait.h>

#include <random>
#include <set>

namespace
{
const int kills_per_operation = 10;
const int contacts_files = 240;
const int settings_files = 60;

class Interruption : public ArchiverTest
{
protected:
  void SetUp () override
  {
    ArchiverTest::SetUp ();
    card_ = home_ + "/card";
    backup_dir_ = card_ + "/.backups/Backup0";
    log_path_ = home_ + "/child.log";
  }

  void TearDown () override
  {
    if (HasFailure ())
      {
        g_autofree gchar *log = NULL;
        if (g_file_get_contents (log_path_.c_str (), &log, NULL, NULL))
          printf ("Last child's output:\n%s\n", log);
      }
    ArchiverTest::TearDown ();
    g_autofree gchar *command = g_strdup_printf ("rm -rf '%s'", card_.c_str ());
    EXPECT_EQ (system (command), 0);
  }

  /* A few hundred files of the two categories, some of them large enough to be caught half
   * written; the same every time. */
  void make_sources ()
  {
    for (int i = 0; i < contacts_files; i++)
      write_file (data_ + "/contacts/d" + std::to_string (i % 7) + "/c" + std::to_string (i)
                      + ".vcf",
                  random_bytes (i % 40 == 0 ? 600000 : 2000 + i, i), 0644, 1000000000 + i);
    for (int i = 0; i < settings_files; i++)
      write_file (data_ + "/settings/export/s" + std::to_string (i) + ".ini",
                  random_bytes (i % 20 == 0 ? 400000 : 700 + i, 1000 + i), 0600, 1000000000 + i);
    write_file (data_ + "/settings/prefs.db", random_bytes (300000, 7), 0600, 1000000000);
  }

  /* Runs the helper; kills it after kill_after_us unless that is negative. Returns TRUE when it
   * ran to its end and reported the operation finished. */
  bool run_child (const char *mode, gint64 kill_after_us)
  {
    std::string child = SAFEHOLD_BINARY_DIR "/engine/tests/interruption-child";
    const gchar *argv[] = { child.c_str (), mode, config_.c_str (), backup_dir_.c_str (), NULL };
    int log = open (log_path_.c_str (), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    GPid pid = 0;
    g_autoptr (GError) error = NULL;
    bool spawned = g_spawn_async_with_fds (NULL, (gchar **)argv, NULL, G_SPAWN_DO_NOT_REAP_CHILD,
                                           NULL, NULL, &pid, -1, log, log, &error);
    close (log);
    EXPECT_TRUE (spawned) << error->message;
    if (!spawned)
      return false;
    gint64 deadline = g_get_monotonic_time () + kill_after_us;
    int status = 0;
    while (waitpid (pid, &status, WNOHANG) == 0)
      {
        if (kill_after_us >= 0 && g_get_monotonic_time () >= deadline)
          {
            kill (pid, SIGKILL);
            waitpid (pid, &status, 0);
            break;
          }
        g_usleep (1000);
      }
    return WIFEXITED (status) && WEXITSTATUS (status) == 0;
  }

  /* As the backup engine does before every backup: removes what an interrupted archive writer
   * left and makes the backups folder. */
  void prepare_card ()
  {
    g_autoptr (SfTarget) target = sf_target_new (uri_of (card_).c_str ());
    g_autoptr (GError) error = NULL;
    ASSERT_TRUE (sf_target_prepare_for_backup (target, &error)) << error->message;
  }

  /* How long an uninterrupted run takes, so that kills spread over all of it. */
  gint64 timed_run (const char *mode)
  {
    if (strcmp (mode, "backup") == 0)
      prepare_card ();
    gint64 start = g_get_monotonic_time ();
    EXPECT_TRUE (run_child (mode, -1)) << mode << " without interruption";
    return g_get_monotonic_time () - start;
  }

  /* Every entry of the category archive by its path on the device; FALSE unless the archive
   * reads whole. */
  static bool read_archive (const std::string &path, std::map<std::string, std::string> *entries)
  {
    GsfInput *file = gsf_input_stdio_new (path.c_str (), NULL);
    if (file == NULL)
      return false;
    g_autoptr (GsfInputCrypt) input = GSF_INPUT_CRYPT (gsf_input_crypt_new (file, NULL, NULL));
    g_object_unref (file);
    g_autoptr (SfZipReader) reader
        = input != NULL ? sf_zip_reader_new (GSF_INPUT (input), NULL) : NULL;
    if (reader == NULL)
      return false;
    SfZipEntry entry;
    g_autoptr (GError) error = NULL;
    while (sf_zip_reader_next_entry (reader, &entry, &error))
      {
        std::string name = entry.name;
        std::string content;
        char buffer[65536];
        gssize got;
        while ((got = sf_zip_reader_read (reader, buffer, sizeof buffer, &error)) > 0)
          content.append (buffer, got);
        if (got < 0 || name.rfind ("Root/", 0) != 0)
          return false;
        (*entries)["/" + name.substr (5)] = content;
      }
    return error == NULL;
  }

  std::string card_;
  std::string backup_dir_;
  std::string log_path_;
};

/* Files below dir whose name starts with prefix. */
std::vector<std::string>
files_named (const std::string &dir, const std::string &prefix)
{
  std::vector<std::string> found;
  for (const auto &[path, state] : snapshot (dir))
    {
      g_autofree gchar *base = g_path_get_basename (path.c_str ());
      if (g_str_has_prefix (base, prefix.c_str ()))
        found.push_back (path);
    }
  return found;
}
} // namespace

TEST_F (Interruption, KilledBackupLosesNoSourceAndIsNeverListedHalfDone)
{
  make_sources ();
  std::map<std::string, FileState> sources = snapshot (data_);
  ASSERT_EQ (sources.size (), (size_t)(contacts_files + settings_files + 1));
  gint64 duration = timed_run ("backup");

  std::mt19937 random (2100);
  int listed = 0;
  for (int round = 0; round < kills_per_operation; round++)
    {
      SCOPED_TRACE ("round " + std::to_string (round));
      ASSERT_EQ (system (("rm -rf '" + data_ + "' '" + card_ + "'").c_str ()), 0);
      make_sources ();
      prepare_card ();
      std::uniform_int_distribution<gint64> moment (0, duration);
      run_child ("backup", moment (random));

      /* The next start: the card is cleaned before the next backup, then its backups listed. */
      prepare_card ();
      EXPECT_EQ (files_named (card_, ".gsf"), std::vector<std::string> ())
          << "a half-written archive survived the clean-up";
      g_autoptr (GFile) backups = g_file_new_for_path ((card_ + "/.backups").c_str ());
      GList *list = sf_backup_info_list_get (backups);

      /* A listed backup holds every source file whole; what is not in it is still at home. */
      std::map<std::string, std::string> stored;
      for (GList *link = list; link != NULL; link = link->next)
        {
          SfBackupInfo *info = static_cast<SfBackupInfo *> (link->data);
          listed++;
          for (SfCategory category : { SF_CATEGORY_CONTACTS, SF_CATEGORY_SETTINGS })
            {
              g_autofree gchar *archive = sf_backup_info_get_category_archive_path (info, category);
              EXPECT_TRUE (read_archive (archive, &stored)) << archive << " is not whole";
            }
          EXPECT_EQ (stored.size (), sources.size ());
        }
      sf_backup_info_list_free (list);
      std::map<std::string, FileState> left = snapshot (data_);
      for (const auto &[path, state] : sources)
        {
          auto kept = left.find (path);
          auto in_backup = stored.find (path);
          if (kept != left.end ())
            {
              EXPECT_EQ (kept->second.content, state.content) << path;
            }
          if (in_backup != stored.end ())
            {
              EXPECT_EQ (in_backup->second, state.content) << path;
            }
          EXPECT_TRUE (kept != left.end () || in_backup != stored.end ()) << path << " is lost";
        }
    }
  printf ("%d of %d killed backups had completed\n", listed, kills_per_operation);
}

TEST_F (Interruption, KilledRestoreLeavesEachFileOldOrNewAndTheNextRestoreCleansUp)
{
  make_sources ();
  std::map<std::string, FileState> backed_up = snapshot (data_);
  prepare_card ();
  ASSERT_TRUE (run_child ("backup", -1));

  /* Half the files have an older version at home, the other half are missing. */
  auto make_old_home = [&] () {
    ASSERT_EQ (system (("rm -rf '" + data_ + "'").c_str ()), 0);
    int index = 0;
    for (const auto &[path, state] : backed_up)
      if (index++ % 2 == 0)
        write_file (path, "old version of " + path, 0644, 1500000000);
  };
  make_old_home ();
  std::map<std::string, FileState> old = snapshot (data_);
  gint64 duration = timed_run ("restore");
  EXPECT_EQ (snapshot (data_), backed_up);

  std::mt19937 random (2101);
  for (int round = 0; round < kills_per_operation; round++)
    {
      SCOPED_TRACE ("round " + std::to_string (round));
      make_old_home ();
      std::uniform_int_distribution<gint64> moment (0, duration);
      run_child ("restore", moment (random));

      std::map<std::string, FileState> after_kill = snapshot (data_);
      for (const auto &[path, state] : backed_up)
        {
          auto now = after_kill.find (path);
          auto before = old.find (path);
          bool whole
              = now != after_kill.end ()
                && (now->second.content == state.content
                    || (before != old.end () && now->second.content == before->second.content));
          bool still_missing = now == after_kill.end () && before == old.end ();
          EXPECT_TRUE (whole || still_missing)
              << path << ": neither the old version nor the backup's";
        }

      /* The next restore puts everything back and leaves nothing of the killed one behind. */
      EXPECT_TRUE (run_child ("restore", -1));
      EXPECT_EQ (snapshot (data_), backed_up);
    }
}
