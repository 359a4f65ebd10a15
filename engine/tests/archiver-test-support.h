#pragma once

/* Shared by the archiver tests: a home tree declared by real configuration files, and backups and
 * restores run through the backend on a real main loop. */

#include "sf-archiver-zip.h"
#include "sf-backend.h"
#include "sf-backup-configurations.h"
#include "sf-backup-info.h"
#include "sf-log.h"
#include "sf-user-files.h"

#include "log-capture.h"
#include "target-test-support.h"
#include "test-data.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

/* What a file was: content, permission bits and modification time. */
struct FileState
{
  std::string content;
  guint mode;
  gint64 mtime;

  bool operator== (const FileState &other) const
  {
    return content == other.content && mode == other.mode && mtime == other.mtime;
  }
};

inline void
write_file (const std::string &path, const std::string &content, guint mode = 0644,
            gint64 mtime = 1000000000)
{
  g_autofree gchar *dir = g_path_get_dirname (path.c_str ());
  g_mkdir_with_parents (dir, 0755);
  ASSERT_TRUE (g_file_set_contents (path.c_str (), content.data (), content.size (), NULL));
  g_chmod (path.c_str (), mode);
  struct utimbuf times = { (time_t)mtime, (time_t)mtime };
  utime (path.c_str (), &times);
}

inline bool
exists (const std::string &path)
{
  return g_file_test (path.c_str (), G_FILE_TEST_EXISTS);
}

/* Every regular file below dir by path. */
inline std::map<std::string, FileState>
snapshot (const std::string &dir)
{
  std::map<std::string, FileState> files;
  GDir *handle = g_dir_open (dir.c_str (), 0, NULL);
  if (handle == NULL)
    return files;
  while (const gchar *name = g_dir_read_name (handle))
    {
      std::string path = dir + "/" + name;
      struct stat info;
      if (lstat (path.c_str (), &info) != 0)
        continue;
      if (S_ISDIR (info.st_mode))
        {
          std::map<std::string, FileState> below = snapshot (path);
          files.insert (below.begin (), below.end ());
          continue;
        }
      gchar *content = NULL;
      gsize length = 0;
      g_file_get_contents (path.c_str (), &content, &length, NULL);
      files[path] = { std::string (content != NULL ? content : "", length), info.st_mode & 0777u,
                      (gint64)info.st_mtime };
      g_free (content);
    }
  g_dir_close (handle);
  return files;
}

/* How one operation ended, and what the backend said on the way. */
struct Outcome
{
  bool finished = false;
  bool cancelled = false;
  GError *error = nullptr;
  int errors = 0;
  bool finalizing = false;
  std::vector<gint> percents;
  std::vector<gint> categories;
  std::vector<gint64> progress_times;

  ~Outcome ()
  {
    g_clear_error (&error);
  }
  bool ended () const
  {
    return finished || cancelled || error != nullptr;
  }
};

/* One application per category, each with a folder below $HOME/data, plus permanent files for
 * settings. The configuration is loaded once per test. */
class ArchiverTest : public ::testing::Test
{
protected:
  static SfBackend *backend ()
  {
    static SfBackend *the_backend = sf_backend_new ();
    return the_backend;
  }

  void SetUp () override
  {
    sf_log_start (2);
    home_ = g_get_home_dir ();
    data_ = home_ + "/data";
    backups_ = home_ + "/backups";
    g_mkdir_with_parents (backups_.c_str (), 0755);
    config_ = make_temp_dir ("archiver-config-XXXXXX");
    g_mkdir_with_parents ((config_ + "/applications").c_str (), 0755);
    g_setenv ("INSTALLHOME", config_.c_str (), TRUE);
    declare ("contacts",
             "<location type=\"dir\" category=\"contacts\">$HOME/data/contacts</location>");
    declare ("mail",
             "<location type=\"dir\" category=\"emails\">$HOME/data/mail</location>"
             "<exclusion type=\"dir\" category=\"emails\">$HOME/data/mail/cache</exclusion>");
    declare ("settings",
             "<location type=\"dir\" category=\"settings\">$HOME/data/settings/export</location>"
             "<location type=\"permanent-backup-file\" category=\"settings\">"
             "$HOME/data/settings/prefs.db</location>");
    declare ("bookmarks",
             "<location type=\"dir\" category=\"bookmarks\">$HOME/data/bookmarks</location>");
    sf_backup_configurations_init (config_.c_str ());
    signals_.clear ();
  }

  void TearDown () override
  {
    if (HasFailure ())
      log_.print_problems ();
    for (gulong id : signals_)
      g_signal_handler_disconnect (backend (), id);
    sf_backup_configurations_free ();
    g_autofree gchar *command = g_strdup_printf ("rm -rf '%s' '%s' '%s'", config_.c_str (),
                                                 data_.c_str (), backups_.c_str ());
    EXPECT_EQ (system (command), 0);
  }

  void declare (const std::string &name, const std::string &locations)
  {
    std::string text = "<backup-configuration><application-name>" + name
                       + "</application-name><application-type>korvel</application-type>"
                         "<backup-method>backup-dbus</backup-method><backup-dbus>"
                         "<dbus-service object=\"/"
                       + name + "\">com.example." + name
                       + "</dbus-service></backup-dbus><locations>" + locations
                       + "</locations></backup-configuration>";
    std::string file = config_ + "/applications/" + name + ".conf";
    ASSERT_TRUE (g_file_set_contents (file.c_str (), text.c_str (), -1, NULL));
  }

  SfBackupInfo *new_info (const std::string &name, guint categories, const char *password = nullptr,
                          const std::string &location = "")
  {
    std::string backups = location.empty () ? backups_ : location;
    g_autoptr (GFile) dir = g_file_new_for_path ((backups + "/" + name).c_str ());
    return sf_backup_info_new (dir, 1700000000, password != nullptr, password, "1.0", "notes",
                               SF_BACKUP_INFO_FORMAT, categories);
  }

  /* Connects to the backend's signals and runs archiver until it ended. */
  void run (SfArchiver *archiver, SfBackendState state, Outcome *outcome,
            const std::function<void (Outcome &)> &on_progress = {})
  {
    connect (outcome, on_progress);
    ASSERT_TRUE (_sf_backend_run_archiver (backend (), archiver, state));
    ASSERT_TRUE (run_until ([outcome] { return outcome->ended (); }, 120000));
    run_for (50);
  }

  void backup (SfBackupInfo *info, Outcome *outcome, const char *password = nullptr,
               const std::function<void (Outcome &)> &on_progress = {})
  {
    guint32 files = 0;
    guint64 size = 0;
    SfCategory categories = (SfCategory)sf_backup_info_get_categories (info);
    sf_backend_count_data (backend (), categories, &files, &size);
    SfUserFiles *user_files = sf_user_files_new (categories);
    g_autoptr (SfArchiver) archiver
        = sf_archiver_zip_new_backup (info, user_files, files, size, password);
    run (archiver, SF_BACKEND_STATE_BACKUP, outcome, on_progress);
    sf_user_files_free (user_files);
  }

  void restore (const std::string &name, guint categories, Outcome *outcome,
                const char *password = nullptr,
                const std::function<void (Outcome &)> &on_progress = {})
  {
    g_autoptr (GFile) dir = g_file_new_for_path ((backups_ + "/" + name).c_str ());
    g_autoptr (SfBackupInfo) info = sf_backup_info_new_from_directory (dir);
    ASSERT_NE (info, nullptr) << name;
    g_autoptr (SfArchiver) archiver
        = sf_archiver_zip_new_restore (info, (SfCategory)categories, password);
    run (archiver, SF_BACKEND_STATE_RESTORE, outcome, on_progress);
  }

  void connect (Outcome *outcome, const std::function<void (Outcome &)> &on_progress)
  {
    for (gulong id : signals_)
      g_signal_handler_disconnect (backend (), id);
    signals_.clear ();
    progress_hook_ = on_progress;
    outcome_ = outcome;
    signals_.push_back (g_signal_connect (
        backend (), "progress",
        G_CALLBACK (+[] (SfBackend *, gint, gint, gint percent, gint category, gpointer data) {
          ArchiverTest *self = static_cast<ArchiverTest *> (data);
          self->outcome_->percents.push_back (percent);
          self->outcome_->categories.push_back (category);
          self->outcome_->progress_times.push_back (g_get_monotonic_time ());
          if (self->progress_hook_)
            self->progress_hook_ (*self->outcome_);
        }),
        this));
    signals_.push_back (
        g_signal_connect (backend (), "finalizing", G_CALLBACK (+[] (SfBackend *, gpointer data) {
                            static_cast<ArchiverTest *> (data)->outcome_->finalizing = true;
                          }),
                          this));
    signals_.push_back (
        g_signal_connect (backend (), "finished", G_CALLBACK (+[] (SfBackend *, gpointer data) {
                            static_cast<ArchiverTest *> (data)->outcome_->finished = true;
                          }),
                          this));
    signals_.push_back (
        g_signal_connect (backend (), "cancelled", G_CALLBACK (+[] (SfBackend *, gpointer data) {
                            static_cast<ArchiverTest *> (data)->outcome_->cancelled = true;
                          }),
                          this));
    signals_.push_back (g_signal_connect (
        backend (), "error", G_CALLBACK (+[] (SfBackend *, GError *error, gpointer data) {
          Outcome *outcome = static_cast<ArchiverTest *> (data)->outcome_;
          outcome->errors++;
          g_clear_error (&outcome->error);
          outcome->error = g_error_copy (error);
        }),
        this));
  }

  std::string home_;
  std::string data_;
  std::string backups_;
  std::string config_;
  std::vector<gulong> signals_;
  Outcome *outcome_ = nullptr;
  std::function<void (Outcome &)> progress_hook_;
  LogCapture log_;
};
