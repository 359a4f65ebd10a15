#include "archiver-test-support.h"

#include "gsf-input-crypt.h"
#include "sf-error.h"
#include "tmpfs-mount.h"

#include <gsf/gsf-input-stdio.h>
#include <sys/wait.h>

namespace
{
/* Runs the safehold-archive tool; its exit status, with what it wrote in output. */
int
run_tool (const std::vector<std::string> &arguments, std::string *output)
{
  std::vector<gchar *> argv = { (gchar *)SAFEHOLD_BINARY_DIR "/engine/tools/safehold-archive" };
  for (const std::string &argument : arguments)
    argv.push_back ((gchar *)argument.c_str ());
  argv.push_back (NULL);
  g_autofree gchar *out = NULL;
  g_autofree gchar *err = NULL;
  gint wait_status = 0;
  if (!g_spawn_sync (NULL, argv.data (), NULL, G_SPAWN_DEFAULT, NULL, NULL, &out, &err,
                     &wait_status, NULL))
    return -1;
  *output = std::string (out) + err;
  return WIFEXITED (wait_status) ? WEXITSTATUS (wait_status) : -1;
}

/* Whether process pid still runs (a zombie no longer does). */
bool
is_running (const std::string &pid)
{
  std::string stat = read_file ("/proc/" + pid + "/stat");
  if (stat == "(missing)")
    return false;
  size_t end_of_name = stat.rfind (')');
  return end_of_name == std::string::npos || stat.compare (end_of_name + 2, 1, "Z") != 0;
}

/* Backups whose worker is held at chosen points, and what the backend says about them. */
class BackupWorker : public ArchiverTest
{
protected:
  void TearDown () override
  {
    log_.set_hook (nullptr);
    for (SfUserFiles *files : user_files_)
      sf_user_files_free (files);
    ArchiverTest::TearDown ();
  }

  SfArchiver *new_backup (SfBackupInfo *info, const char *password = nullptr)
  {
    guint32 files = 0;
    guint64 size = 0;
    SfCategory categories = (SfCategory)sf_backup_info_get_categories (info);
    sf_backend_count_data (backend (), categories, &files, &size);
    user_files_.push_back (sf_user_files_new (categories));
    return sf_archiver_zip_new_backup (info, user_files_.back (), files, size, password);
  }

  /* Holds the thread that logs a message containing text until archiver is cancelled. */
  void hold_at (const std::string &text, SfArchiver *archiver)
  {
    held_ = 0;
    log_.set_hook ([this, text, archiver] (const std::string &message) {
      if (message.find (text) == std::string::npos)
        return;
      g_atomic_int_set (&held_, 1);
      while (!sf_archiver_is_cancelled (archiver))
        g_usleep (1000);
    });
  }

  /* Cancels from the main loop once ready says so; cancel_result_ tells what the cancel returned
   * (-1 while it has not). */
  void cancel_when (std::function<bool ()> ready)
  {
    cancel_result_ = -1;
    ready_ = std::move (ready);
    g_timeout_add (
        5,
        +[] (gpointer data) -> gboolean {
          BackupWorker *self = static_cast<BackupWorker *> (data);
          if (!self->ready_ ())
            return G_SOURCE_CONTINUE;
          self->cancel_result_ = sf_backend_cancel (backend ());
          return G_SOURCE_REMOVE;
        },
        this);
  }

  void cancel_when_held ()
  {
    cancel_when ([this] { return g_atomic_int_get (&held_) != 0; });
  }

  /* An application that takes part through a backup script. */
  void declare_script_application (const std::string &name, const std::string &category,
                                   const std::string &body)
  {
    std::string script = config_ + "/" + name + ".sh";
    ASSERT_TRUE (g_file_set_contents (script.c_str (), ("#!/bin/sh\n" + body).c_str (), -1, NULL));
    g_chmod (script.c_str (), 0755);
    std::string text = "<backup-configuration><application-name>" + name
                       + "</application-name><application-type>korvel</application-type>"
                         "<backup-method>backup-scripts</backup-method><backup-scripts>"
                         "<backup-script-name>"
                       + script
                       + "</backup-script-name><restore-script-name>/bin/true"
                         "</restore-script-name></backup-scripts><locations>"
                         "<location type=\"dir\" category=\""
                       + category + "\">$HOME/data/" + name + "</location></locations>"
                       + "</backup-configuration>";
    std::string file = config_ + "/applications/" + name + ".conf";
    ASSERT_TRUE (g_file_set_contents (file.c_str (), text.c_str (), -1, NULL));
  }

  std::vector<SfUserFiles *> user_files_;
  std::function<bool ()> ready_;
  gint held_ = 0;
  gint cancel_result_ = -1;
};
} // namespace

TEST_F (BackupWorker, CancelIsHonouredUntilDeletingBegins)
{
  write_file (data_ + "/contacts/a.vcf", "contact");
  write_file (data_ + "/settings/export/big.bin", random_bytes (1024 * 1024, 7));
  std::map<std::string, FileState> before = snapshot (data_);
  const guint both = SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS;

  /* Cancelled while the last archive is read back: both archives are kept, no source goes. */
  g_autoptr (SfBackupInfo) info = new_info ("Backup0", both);
  g_autoptr (SfArchiver) archiver = new_backup (info);
  hold_at ("Archive of settings read back", archiver);
  cancel_when_held ();
  Outcome outcome;
  run (archiver, SF_BACKEND_STATE_BACKUP, &outcome);
  EXPECT_EQ (cancel_result_, TRUE);
  EXPECT_TRUE (outcome.cancelled);
  EXPECT_FALSE (outcome.finished) << "finished and cancelled both emitted";
  EXPECT_EQ (snapshot (data_), before);
  g_autoptr (GFile) dir = g_file_new_for_path ((backups_ + "/Backup0").c_str ());
  g_autoptr (SfBackupInfo) kept = sf_backup_info_new_from_directory (dir);
  ASSERT_NE (kept, nullptr);
  EXPECT_EQ (sf_backup_info_get_categories (kept), both);

  /* Cancelled once deleting has begun: the backup finishes, and the cancel says it did not
   * cancel anything. */
  g_autoptr (SfBackupInfo) second = new_info ("Backup1", both);
  g_autoptr (SfArchiver) second_archiver = new_backup (second);
  hold_at ("Deleting the", second_archiver);
  cancel_when_held ();
  Outcome finished;
  run (second_archiver, SF_BACKEND_STATE_BACKUP, &finished);
  EXPECT_EQ (cancel_result_, FALSE);
  EXPECT_TRUE (finished.finished);
  EXPECT_FALSE (finished.cancelled);
  EXPECT_FALSE (exists (data_ + "/contacts/a.vcf"));
  EXPECT_TRUE (exists (backups_ + "/Backup1/backup.metadata"));
}

TEST_F (BackupWorker, OperationStartedWhenTheLastWasCancelledGetsNoneOfItsEvents)
{
  write_file (data_ + "/contacts/a.vcf", "contact");
  write_file (data_ + "/settings/export/big.bin", random_letters (16 * 1024 * 1024, 8));
  g_autoptr (SfBackupInfo) first_info = new_info ("Backup0", SF_CATEGORY_SETTINGS);
  g_autoptr (SfArchiver) first = new_backup (first_info);
  g_autoptr (SfBackupInfo) second_info = new_info ("Backup1", SF_CATEGORY_CONTACTS);
  g_autoptr (SfArchiver) second = new_backup (second_info);

  struct Seen
  {
    SfArchiver *first = nullptr;
    SfArchiver *second = nullptr;
    std::string backups;
    std::string metadata;
    bool started_second = false;
    bool cancel_asked = false;
    int cancelled = 0;
    int finished = 0;
    bool second_written_when_finished = false;
    std::vector<gint> categories_after_start;
  } seen;
  seen.first = first;
  seen.second = second;
  seen.backups = backups_;
  seen.metadata = backups_ + "/Backup1/backup.metadata";

  auto on_progress = +[] (SfBackend *, gint, gint, gint, gint category, gpointer data) {
    Seen *seen = static_cast<Seen *> (data);
    if (seen->started_second)
      seen->categories_after_start.push_back (category);
    else if (!seen->cancel_asked)
      {
        seen->cancel_asked = true;
        sf_backend_cancel (backend ());
      }
  };
  auto on_cancelled = +[] (SfBackend *, gpointer data) {
    Seen *seen = static_cast<Seen *> (data);
    seen->cancelled++;
    /* What a late worker would still send, then the next operation. */
    sf_archiver_send_finished (seen->first);
    sf_archiver_update_progress (seen->first);
    seen->started_second = true;
    /* As the target prepares every backup: the cancelled one took the empty location along. */
    g_mkdir_with_parents (seen->backups.c_str (), 0755);
    EXPECT_TRUE (_sf_backend_run_archiver (backend (), seen->second, SF_BACKEND_STATE_BACKUP));
  };
  auto on_finished = +[] (SfBackend *, gpointer data) {
    Seen *seen = static_cast<Seen *> (data);
    seen->finished++;
    seen->second_written_when_finished = g_file_test (seen->metadata.c_str (), G_FILE_TEST_EXISTS);
  };
  signals_.push_back (g_signal_connect (backend (), "progress", G_CALLBACK (on_progress), &seen));
  signals_.push_back (g_signal_connect (backend (), "cancelled", G_CALLBACK (on_cancelled), &seen));
  signals_.push_back (g_signal_connect (backend (), "finished", G_CALLBACK (on_finished), &seen));

  ASSERT_TRUE (_sf_backend_run_archiver (backend (), first, SF_BACKEND_STATE_BACKUP));
  ASSERT_TRUE (run_until ([&seen] { return seen.finished > 0; }, 120000));
  run_for (300);
  EXPECT_EQ (seen.cancelled, 1);
  EXPECT_EQ (seen.finished, 1);
  EXPECT_TRUE (seen.second_written_when_finished) << "the first operation's finished event ended "
                                                     "the second";
  for (gint category : seen.categories_after_start)
    EXPECT_EQ (category, SF_CATEGORY_CONTACTS) << "progress of the first operation";
  EXPECT_EQ (sf_backend_get_state (backend ()), SF_BACKEND_STATE_IDLE);
}

TEST_F (BackupWorker, CancelEndsAScriptThatNeverEnds)
{
  /* It ignores the polite request, and so does what it started. */
  declare_script_application ("sleeper", "contacts",
                              "trap '' TERM\nsleep 100000 &\necho $! > \"$0.pid\"\nwait\n");
  declare_script_application ("later", "emails", "touch \"$0.ran\"\n");
  sf_backup_configurations_free ();
  sf_backup_configurations_init (config_.c_str ());
  write_file (data_ + "/contacts/a.vcf", "contact");
  std::string pid_file = config_ + "/sleeper.sh.pid";

  g_autoptr (SfBackupInfo) info = new_info ("Backup0", SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS);
  g_autoptr (SfArchiver) archiver = new_backup (info);
  cancel_when ([&pid_file] { return read_file (pid_file).find ('\n') != std::string::npos; });
  Outcome outcome;
  run (archiver, SF_BACKEND_STATE_BACKUP, &outcome);

  EXPECT_EQ (cancel_result_, TRUE);
  EXPECT_TRUE (outcome.cancelled);
  std::string pid = read_file (pid_file);
  pid.erase (pid.find_last_not_of ('\n') + 1);
  EXPECT_TRUE (run_until ([&pid] { return !is_running (pid); }, 5000))
      << "the script's child outlived the cancel";
  EXPECT_NE (read_file (home_ + "/.safehold/backup-restore-script-error-log").find ("sleeper"),
             std::string::npos)
      << "an ended script counts as failed";
  EXPECT_FALSE (exists (config_ + "/later.sh.ran")) << "a script started after the cancel";
  EXPECT_TRUE (exists (data_ + "/contacts/a.vcf"));
}

TEST_F (BackupWorker, ArchiveThatCannotBeCreatedSaysWhy)
{
  write_file (data_ + "/contacts/a.vcf", "contact");
  std::map<std::string, FileState> before = snapshot (data_);

  /* The backup directory is the mount: room for itself and the lock file, not the archive. */
  for (const auto &[options, code] : { std::pair ("nr_inodes=2", SF_ERROR_BACKUP_NO_SPACE),
                                       std::pair ("ro", SF_ERROR_BACKUP_READ_ONLY) })
    {
      SCOPED_TRACE (options);
      TmpfsMount card ("1M", options);
      SKIP_UNLESS_MOUNTED (card);
      g_autofree gchar *location = g_path_get_dirname (card.path ().c_str ());
      g_autofree gchar *name = g_path_get_basename (card.path ().c_str ());
      g_autoptr (SfBackupInfo) info = new_info (name, SF_CATEGORY_CONTACTS, nullptr, location);
      Outcome outcome;
      backup (info, &outcome);
      ASSERT_NE (outcome.error, nullptr);
      EXPECT_TRUE (g_error_matches (outcome.error, SF_ERROR, code)) << outcome.error->message;
      EXPECT_EQ (snapshot (data_), before);
    }
}

TEST_F (BackupWorker, CategoryWithNothingLeftToPackGetsAnEmptyArchive)
{
  /* Not UTF-8: the archive cannot name it, so it is skipped and stays. */
  std::string unnamable = data_ + "/contacts/card\xff.vcf";
  write_file (unnamable, "contact");
  write_file (data_ + "/mail/inbox/1.eml", "mail", 0600, 1200000000);
  std::map<std::string, FileState> mail = snapshot (data_ + "/mail");
  const guint both = SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS;

  for (const char *password : { (const char *)nullptr, "secret" })
    {
      SCOPED_TRACE (password != nullptr ? "protected" : "plain");
      std::string name = password != nullptr ? "Locked" : "Plain";
      g_autoptr (SfBackupInfo) info = new_info (name, both, password);
      Outcome outcome;
      backup (info, &outcome, password);
      ASSERT_TRUE (outcome.finished) << (outcome.error ? outcome.error->message : "");
      EXPECT_TRUE (exists (unnamable));
      EXPECT_FALSE (exists (data_ + "/mail/inbox/1.eml"));
      std::string directory = backups_ + "/" + name;
      ASSERT_TRUE (exists (directory + "/contacts.zip"));
      /* The description lists only categories that hold files; one that lists the empty
       * archive, as another writer may, has it read like any other. */
      std::string metadata = read_file (directory + "/backup.metadata");
      size_t categories = metadata.find ("<categories>\n");
      ASSERT_NE (categories, std::string::npos) << metadata;
      metadata.insert (categories + 13, "    <contacts>\n      <size>0</size>\n"
                                        "      <number-of-files>0</number-of-files>\n"
                                        "    </contacts>\n");
      write_file (directory + "/backup.metadata", metadata);

      std::string password_file = home_ + "/password";
      write_file (password_file, std::string (password != nullptr ? password : "") + "\n", 0600);
      std::vector<std::string> with_password;
      if (password != nullptr)
        with_password = { "--password-file", password_file };
      std::string output;
      std::vector<std::string> verify = { "verify", backups_ + "/" + name };
      verify.insert (verify.end (), with_password.begin (), with_password.end ());
      EXPECT_EQ (run_tool (verify, &output), 0) << output;
      EXPECT_NE (output.find ("contacts: ok"), std::string::npos) << output;
      std::string dest = home_ + "/extracted-" + name;
      std::vector<std::string> extract = { "extract", backups_ + "/" + name, dest };
      extract.insert (extract.end (), with_password.begin (), with_password.end ());
      EXPECT_EQ (run_tool (extract, &output), 0) << output;

      Outcome restored;
      restore (name, both, &restored, password);
      ASSERT_TRUE (restored.finished) << (restored.error ? restored.error->message : "");
      EXPECT_FALSE (sf_restore_failure_has_failures (sf_backend_get_restore_failure (backend ())));
      EXPECT_EQ (snapshot (data_ + "/mail"), mail);
    }
}

TEST_F (BackupWorker, WrongPasswordsAreRefused)
{
  write_file (data_ + "/contacts/a.vcf", random_bytes (5000, 9));
  g_autoptr (SfBackupInfo) info = new_info ("Backup0", SF_CATEGORY_CONTACTS, "right");
  Outcome outcome;
  backup (info, &outcome, "right");
  ASSERT_TRUE (outcome.finished);
  std::string archive = backups_ + "/Backup0/contacts.zip";

  GRand *random = g_rand_new_with_seed (15);
  int refused_at_open = 0;
  for (int attempt = 0; attempt < 1000; attempt++)
    {
      std::string password;
      for (gint length = g_rand_int_range (random, 1, 20); length > 0; length--)
        password += (gchar)g_rand_int_range (random, 32, 127);
      if (password == "right")
        continue;
      GsfInput *file = gsf_input_stdio_new (archive.c_str (), NULL);
      GsfInput *plain = gsf_input_crypt_new (file, password.c_str (), NULL);
      refused_at_open += plain == NULL;
      g_clear_object (&plain);
      g_object_unref (file);
      g_autoptr (GError) error = NULL;
      EXPECT_FALSE (sf_archiver_zip_check_category (info, SF_CATEGORY_CONTACTS, password.c_str (),
                                                    NULL, NULL, &error))
          << password;
    }
  g_rand_free (random);
  /* Every padding byte is checked: a wrong key passes about once in 256 tries. */
  EXPECT_GE (refused_at_open, 985);
  EXPECT_TRUE (
      sf_archiver_zip_check_category (info, SF_CATEGORY_CONTACTS, "right", NULL, NULL, NULL));
}
