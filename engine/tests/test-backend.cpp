#include "archiver-test-support.h"

#include "sf-error.h"
#include "sf-event.h"
#include "sf-target-fake.h"
#include "sf-target-manager.h"

namespace
{
gint64 fake_now;

gint64
fake_clock ()
{
  return fake_now;
}

/* The shipped sample applications in a sandboxed home, backed up onto a fake memory card that
 * the target manager knows. */
class Backend : public ::testing::Test
{
protected:
  static SfBackend *backend ()
  {
    static SfBackend *the_backend = [] {
      std::string fake = std::string (g_get_home_dir ()) + "/fake-cards";
      g_mkdir_with_parents ((fake + "/card").c_str (), 0755);
      g_file_set_contents ((fake + "/card/mounted").c_str (), "", 0, NULL);
      g_setenv ("FAKE_MMC_DIR", fake.c_str (), TRUE);
      return sf_backend_new ();
    }();
    return the_backend;
  }

  void SetUp () override
  {
    sf_log_start (2);
    home_ = g_get_home_dir ();
    g_setenv ("INSTALLHOME", (home_ + "/no-install").c_str (), TRUE);
    sf_backup_configurations_init (SAFEHOLD_BINARY_DIR "/data");
    backend ();
    for (GList *link = sf_target_manager_get_targets (sf_target_manager_get ()); link != NULL;
         link = link->next)
      if (SF_IS_TARGET_FAKE (link->data))
        card_ = SF_TARGET (link->data);
    ASSERT_NE (card_, nullptr);
    connect ();
  }

  void TearDown () override
  {
    if (HasFailure ())
      log_.print_problems ();
    for (gulong id : handlers_)
      g_signal_handler_disconnect (backend (), id);
    sf_backup_configurations_free ();
    g_autofree gchar *command = g_strdup_printf (
        "rm -rf '%s/.contacts' '%s/.email' '%s/.local' '%s/.config' '%s/fake-cards/card/.backups'",
        home_.c_str (), home_.c_str (), home_.c_str (), home_.c_str (), home_.c_str ());
    EXPECT_EQ (system (command), 0);
  }

  void connect ()
  {
    auto count = +[] (SfBackend *, gpointer counter) { ++*static_cast<int *> (counter); };
    handlers_.push_back (g_signal_connect (backend (), "finished", G_CALLBACK (count), &finished_));
    handlers_.push_back (
        g_signal_connect (backend (), "cancelled", G_CALLBACK (count), &cancelled_));
    handlers_.push_back (g_signal_connect (
        backend (), "error", G_CALLBACK (+[] (SfBackend *, GError *error, gpointer data) {
          *static_cast<gint *> (data) = error->code;
        }),
        &error_code_));
    handlers_.push_back (g_signal_connect (
        backend (), "progress",
        G_CALLBACK (+[] (SfBackend *, gint files, gint, gint percent, gint, gpointer data) {
          Backend *self = static_cast<Backend *> (data);
          self->progress_.push_back ({ files, percent });
          if (self->on_progress_)
            self->on_progress_ ();
        }),
        this));
  }

  bool start_backup (const char *name, guint categories, const char *password, GError **error)
  {
    /* As the backup engine does before every backup. */
    if (!sf_target_prepare_for_backup (card_, error))
      return false;
    guint32 files = 0;
    guint64 size = 0;
    sf_backend_count_data (backend (), (SfCategory)categories, &files, &size);
    SfUserFiles *user_files = sf_user_files_new (categories);
    bool started = sf_backend_start_backup (backend (), card_, user_files, name, password, "weekly",
                                            1700000000, (SfCategory)categories, files, size, error);
    user_files_.reset (user_files, sf_user_files_free);
    return started;
  }

  SfBackupInfo *backup_named (const char *name)
  {
    return sf_target_get_backup_by_name (card_, name);
  }

  bool wait_until_idle ()
  {
    bool idle = run_until (
        [] { return sf_backend_get_state (backend ()) == SF_BACKEND_STATE_IDLE; }, 60000);
    run_for (50);
    return idle;
  }

  /* Each sample application's data: export areas, the mail store the e-mail scripts copy,
   * permanent settings files and things the configurations exclude. */
  void make_home ()
  {
    write_file (home_ + "/.contacts/backup/a.vcf", "BEGIN:VCARD\n", 0600, 946684800);
    write_file (home_ + "/.contacts/backup/sub/b.vcf", std::string (300000, 'b'), 0644, 1100000000);
    write_file (home_ + "/.email/mail/inbox/1.eml", "Subject: one\n", 0644);
    write_file (home_ + "/.email/mail/inbox/2.eml", std::string (70000, 'x'), 0644);
    write_file (home_ + "/.email/backup/store.lock", "locked", 0644);
    write_file (home_ + "/.local/share/example-notes/export/n1.txt", "note", 0755, 1234567890);
    write_file (home_ + "/.local/share/example-notes/export/thumbnails/t.png", "png");
    write_file (home_ + "/.config/settings/system.db", "system", 0600, 1300000000);
    write_file (home_ + "/.config/settings/accounts.db", "accounts", 0600, 1300000001);
    write_file (home_ + "/first-boot-flag", "");
    write_file (home_ + "/.suw_first_run", "");
  }

  std::string home_;
  SfTarget *card_ = nullptr;
  std::vector<gulong> handlers_;
  std::shared_ptr<SfUserFiles> user_files_;
  int finished_ = 0;
  int cancelled_ = 0;
  gint error_code_ = -1;
  std::vector<std::pair<gint, gint>> progress_;
  std::function<void ()> on_progress_;
  LogCapture log_;
};
} // namespace

TEST_F (Backend, EndToEndWithTheSampleApplications)
{
  make_home ();
  std::map<std::string, FileState> contacts = snapshot (home_ + "/.contacts");
  std::map<std::string, FileState> notes = snapshot (home_ + "/.local");
  std::map<std::string, FileState> settings = snapshot (home_ + "/.config");
  std::map<std::string, FileState> mail = snapshot (home_ + "/.email/mail");

  g_autoptr (GError) error = NULL;
  ASSERT_TRUE (start_backup ("Backup0", SF_CATEGORY_ALL, "pass word", &error));
  EXPECT_EQ (sf_backend_get_state (backend ()), SF_BACKEND_STATE_BACKUP);
  ASSERT_TRUE (wait_until_idle ());
  ASSERT_EQ (finished_, 1) << "error " << error_code_;

  std::string directory = home_ + "/fake-cards/card/.backups/Backup0";
  g_autoptr (GFile) dir = g_file_new_for_path (directory.c_str ());
  g_autoptr (SfBackupInfo) info = sf_backup_info_new_from_directory (dir);
  ASSERT_NE (info, nullptr);
  EXPECT_TRUE (sf_backup_info_get_is_protected (info));
  EXPECT_STREQ (sf_backup_info_get_notes (info), "weekly");
  EXPECT_EQ (sf_backup_info_get_timestamp (info), 1700000000);
  EXPECT_EQ (sf_backup_info_get_categories (info), SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS
                                                       | SF_CATEGORY_ORGANIZER
                                                       | SF_CATEGORY_SETTINGS);
  EXPECT_EQ (sf_backup_info_get_num_files_for_categories (info, SF_CATEGORY_ALL), 7u);
  EXPECT_FALSE (exists (home_ + "/.contacts/backup/a.vcf"));
  EXPECT_TRUE (exists (home_ + "/.config/settings/system.db"));
  EXPECT_TRUE (exists (home_ + "/.email/backup/store.lock"));

  /* Empty the locations the applications own, as a restore does first, then put them back. */
  ASSERT_EQ (
      system (("rm -rf " + home_ + "/.contacts/backup/* " + home_ + "/.email/backup/* " + home_
               + "/.email/mail " + home_ + "/.local/share/example-notes/export/n1.txt " + home_
               + "/.config/settings/*")
                  .c_str ()),
      0);
  g_autoptr (SfBackupInfo) listed = backup_named ("Backup0");
  ASSERT_NE (listed, nullptr);
  ASSERT_TRUE (sf_backend_start_restore (backend (), listed, "pass word", SF_CATEGORY_ALL, &error))
      << error->message;
  ASSERT_TRUE (wait_until_idle ());
  ASSERT_EQ (finished_, 2) << "error " << error_code_;

  EXPECT_EQ (snapshot (home_ + "/.contacts"), contacts);
  EXPECT_EQ (snapshot (home_ + "/.local"), notes);
  EXPECT_EQ (snapshot (home_ + "/.config"), settings);
  std::map<std::string, FileState> restored_mail = snapshot (home_ + "/.email/mail");
  ASSERT_EQ (restored_mail.size (), mail.size ()) << "the restore script moves the mail back";
  for (const auto &[path, state] : mail)
    EXPECT_EQ (restored_mail[path].content, state.content) << path;
  EXPECT_TRUE (exists (home_ + "/.safehold/startup-restored-flag"));
  EXPECT_FALSE (exists (home_ + "/first-boot-flag"));
  EXPECT_FALSE (exists (home_ + "/.suw_first_run"));
  EXPECT_FALSE (sf_restore_failure_has_failures (sf_backend_get_restore_failure (backend ())));
  EXPECT_EQ (sf_backend_get_processed_files (backend ()), 7);
  EXPECT_EQ (cancelled_, 0);
}

TEST_F (Backend, BusyRestoreLeavesTheBackupRunning)
{
  write_file (home_ + "/.contacts/backup/first.vcf", "first");
  g_autoptr (GError) error = NULL;
  ASSERT_TRUE (start_backup ("Backup0", SF_CATEGORY_CONTACTS, NULL, &error));
  ASSERT_TRUE (wait_until_idle ());
  g_autoptr (SfBackupInfo) earlier = backup_named ("Backup0");
  ASSERT_NE (earlier, nullptr);

  write_file (home_ + "/.contacts/backup/noise.bin", random_bytes (8 * 1024 * 1024, 1));
  ASSERT_TRUE (start_backup ("Backup1", SF_CATEGORY_CONTACTS, NULL, &error));
  EXPECT_FALSE (sf_backend_start_restore (backend (), earlier, NULL, SF_CATEGORY_ALL, &error));
  EXPECT_TRUE (g_error_matches (error, SF_ERROR, SF_ERROR_RESTORE_FAILED));
  EXPECT_STREQ (error->message, "restore, backend is busy");
  g_clear_error (&error);
  EXPECT_FALSE (start_backup ("Backup2", SF_CATEGORY_CONTACTS, NULL, &error));
  EXPECT_STREQ (error->message, "Backup, backend is busy");
  ASSERT_TRUE (wait_until_idle ());
  EXPECT_EQ (finished_, 2);
  EXPECT_TRUE (exists (home_ + "/fake-cards/card/.backups/Backup1/contacts.zip"));
}

TEST_F (Backend, CancelWaitsForTheWorkerAndLaterEventsAreDropped)
{
  EXPECT_FALSE (sf_backend_cancel (backend ()));
  run_for (50);
  EXPECT_EQ (cancelled_, 0);

  for (int i = 0; i < 8; i++)
    write_file (home_ + "/.contacts/backup/c" + std::to_string (i) + ".vcf", "card");
  g_autoptr (GError) error = NULL;
  ASSERT_TRUE (start_backup ("Backup0", SF_CATEGORY_CONTACTS, NULL, &error));
  ASSERT_TRUE (wait_until_idle ());
  g_autoptr (SfBackupInfo) info = backup_named ("Backup0");
  g_unlink ((home_ + "/.safehold/startup-restored-flag").c_str ());

  g_setenv ("SF_SLOW", "1", TRUE);
  bool cancel_result = false;
  bool worker_done_at_return = false;
  on_progress_ = [&] () {
    if (cancel_result)
      return;
    cancel_result = sf_backend_cancel (backend ());
    worker_done_at_return = log_.contains ("Thread done.");
  };
  ASSERT_TRUE (sf_backend_start_restore (backend (), info, NULL, SF_CATEGORY_CONTACTS, &error));
  ASSERT_TRUE (run_until ([&] { return cancel_result; }, 30000));
  on_progress_ = nullptr;
  g_unsetenv ("SF_SLOW");
  EXPECT_TRUE (worker_done_at_return) << "cancel returned before the worker stopped";
  EXPECT_EQ (sf_backend_get_state (backend ()), SF_BACKEND_STATE_IDLE);
  run_for (300);
  EXPECT_EQ (cancelled_, 1);
  EXPECT_EQ (finished_, 1) << "only the backup finished";
  EXPECT_FALSE (exists (home_ + "/.safehold/startup-restored-flag"));
  EXPECT_EQ (sf_restore_failure_get_category_reason (sf_backend_get_restore_failure (backend ()),
                                                     SF_CATEGORY_CONTACTS),
             SF_RESTORE_FAILURE_CANCELLED);

  sf_backend_post_event (backend (), sf_event_new_finished (1, 1, SF_CATEGORY_NONE, NULL));
  run_for (100);
  EXPECT_EQ (finished_, 1) << "a finished event after the cancel is discarded";
}

TEST_F (Backend, ProgressPercentIsClampedAndTheWatchdogGivesOneSecondChance)
{
  for (int i = 0; i < 6; i++)
    write_file (home_ + "/.contacts/backup/c" + std::to_string (i) + ".vcf", "card");
  g_autoptr (GError) error = NULL;
  ASSERT_TRUE (start_backup ("Backup0", SF_CATEGORY_CONTACTS, NULL, &error));
  ASSERT_TRUE (wait_until_idle ());
  g_autoptr (SfBackupInfo) info = backup_named ("Backup0");

  g_setenv ("SF_SLOW", "1", TRUE);
  progress_.clear ();
  bool posted = false;
  bool cancelled = false;
  on_progress_ = [&] () {
    if (!posted)
      {
        posted = true;
        GThread *thread = g_thread_new (
            "poster",
            +[] (gpointer operation) -> gpointer {
              for (auto [files, percent] : { std::pair (777, 130), std::pair (778, -5) })
                {
                  SfEvent *event
                      = sf_event_new_progress (FALSE, files, 1, percent, SF_CATEGORY_CONTACTS);
                  event->operation = GPOINTER_TO_UINT (operation);
                  sf_backend_post_event (backend (), event);
                }
              return NULL;
            },
            GUINT_TO_POINTER (_sf_backend_get_operation (backend ())));
        g_thread_join (thread);
        return;
      }
    bool seen = false;
    for (const auto &[files, percent] : progress_)
      seen = seen || files == 778;
    if (!seen || cancelled)
      return;
    /* While the cancel waits: the clock goes back an hour, then nothing changes. */
    fake_now = 5000000;
    _sf_backend_set_clock (backend (), fake_clock);
    g_idle_add (
        +[] (gpointer) -> gboolean {
          fake_now -= 3600;
          EXPECT_TRUE (_sf_backend_watchdog_tick (backend ()));
          EXPECT_FALSE (_sf_backend_watchdog_tick (backend ()));
          return G_SOURCE_REMOVE;
        },
        NULL);
    cancelled = sf_backend_cancel (backend ());
  };
  ASSERT_TRUE (sf_backend_start_restore (backend (), info, NULL, SF_CATEGORY_CONTACTS, &error));
  ASSERT_TRUE (run_until ([&] { return cancelled; }, 30000));
  on_progress_ = nullptr;
  g_unsetenv ("SF_SLOW");
  _sf_backend_set_clock (backend (), NULL);

  std::map<gint, gint> percent_of;
  for (const auto &[files, percent] : progress_)
    percent_of[files] = percent;
  EXPECT_EQ (percent_of[777], 100);
  EXPECT_EQ (percent_of[778], 0);
  EXPECT_TRUE (log_.contains ("Watchdog, time set back, try again"));
  EXPECT_TRUE (log_.contains ("Watchdog, rebooting"));
}

TEST_F (Backend, NothingMountedAtTheTarget)
{
  g_autoptr (SfTarget) root = sf_target_new ("file:///");
  SfUserFiles *user_files = sf_user_files_new (SF_CATEGORY_CONTACTS);
  g_autoptr (GError) error = NULL;
  EXPECT_FALSE (sf_backend_start_backup (backend (), root, user_files, "Backup0", NULL, NULL, 0,
                                         SF_CATEGORY_CONTACTS, 0, 0, &error));
  sf_user_files_free (user_files);
  EXPECT_TRUE (g_error_matches (error, SF_ERROR, SF_ERROR_BACKUP_NO_MEMORY_CARD));
  EXPECT_TRUE (log_.contains ("Extra check for mounted: no card."));
  g_clear_error (&error);

  EXPECT_FALSE (start_backup ("../outside", SF_CATEGORY_CONTACTS, NULL, &error));
  EXPECT_EQ (sf_backend_get_state (backend ()), SF_BACKEND_STATE_IDLE);

  /* A backup no target holds: gone when its card is there, else the card is missing. */
  g_autoptr (GFile) nowhere = g_file_new_for_path ("/nonexistent-card/Backup0");
  g_autoptr (SfBackupInfo) lost = sf_backup_info_new (nowhere, 0, FALSE, NULL, "", NULL, 2, 1);
  g_clear_error (&error);
  EXPECT_FALSE (sf_backend_start_restore (backend (), lost, NULL, SF_CATEGORY_ALL, &error));
  EXPECT_TRUE (g_error_matches (error, SF_ERROR, SF_ERROR_RESTORE_FAILED));
  EXPECT_STREQ (error->message, "Backup not found, deleted?");
  g_autoptr (GFile) on_root = g_file_new_for_path ("/");
  g_autoptr (SfBackupInfo) unmounted = sf_backup_info_new (on_root, 0, FALSE, NULL, "", NULL, 2, 1);
  g_clear_error (&error);
  EXPECT_FALSE (sf_backend_start_restore (backend (), unmounted, NULL, SF_CATEGORY_ALL, &error));
  EXPECT_TRUE (g_error_matches (error, SF_ERROR, SF_ERROR_RESTORE_NO_MEMORY_CARD));
}

TEST_F (Backend, OnlyOneInstance)
{
  backend ();
  EXPECT_DEATH (sf_backend_new (), "only allowed to create one global instance");
}
