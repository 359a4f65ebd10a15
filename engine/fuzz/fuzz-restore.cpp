/* A category archive from a card, restored through the backend into a sandboxed home: whatever
 * the archive holds, nothing changes outside the restored category's locations (the engine's own
 * records apart). The contacts location holds an old file and a link to a folder outside, and
 * another category, a permanent file and the home folder's own files sit beside it.
 *
 * Entry names are absolute, so the sandbox is at a fixed place: a fuzzed name can only reach what
 * the seeds name. Input: the contacts archive file, unprotected. */

#include "sf-archiver-zip.h"
#include "sf-backend.h"
#include "sf-backup-configurations.h"
#include "sf-backup-info.h"

#include "fuzz-support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>

namespace
{
const std::string root = "/tmp/safehold-fuzz-restore";
const std::string home = root + "/home";
const std::string contacts = home + "/data/contacts";
const std::string backup_dir = root + "/card/.backups/Fuzz";
/* Where the restore may write: the restored location, the engine's records, the backup. */
const std::string allowed[] = { contacts + "/", home + "/.safehold/", root + "/card/" };

SfBackend *backend;
SfBackupInfo *info;
bool ended;

void
write_text (const std::string &path, const std::string &text)
{
  fuzz_write_file (path, reinterpret_cast<const uint8_t *> (text.data ()), text.size ());
}

/* Removes path and, when it is a folder, everything below it; never follows a link. */
void
remove_tree (const std::string &path)
{
  struct stat info;
  if (lstat (path.c_str (), &info) != 0)
    return;
  if (S_ISDIR (info.st_mode))
    {
      chmod (path.c_str (), 0700);
      if (GDir *dir = g_dir_open (path.c_str (), 0, NULL))
        {
          while (const gchar *name = g_dir_read_name (dir))
            remove_tree (path + "/" + name);
          g_dir_close (dir);
        }
      rmdir (path.c_str ());
      return;
    }
  unlink (path.c_str ());
}

/* Everything below dir outside the allowed places: path -> type and mode, and for files size,
 * time and content. */
void
describe (const std::string &dir, std::map<std::string, std::string> *state)
{
  GDir *handle = g_dir_open (dir.c_str (), 0, NULL);
  if (handle == NULL)
    return;
  while (const gchar *name = g_dir_read_name (handle))
    {
      std::string path = dir + "/" + name;
      bool is_allowed = false;
      for (const std::string &place : allowed)
        is_allowed = is_allowed || path.rfind (place, 0) == 0 || path + "/" == place;
      struct stat info;
      if (is_allowed || lstat (path.c_str (), &info) != 0)
        continue;
      /* A folder's time changes with what is made in the allowed places below it; its entries
       * are described one by one. */
      g_autofree gchar *line
          = S_ISDIR (info.st_mode)
                ? g_strdup_printf ("%o", info.st_mode)
                : g_strdup_printf ("%o %ld %ld.%09ld", info.st_mode, (long)info.st_size,
                                   (long)info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
      std::string text = line;
      if (S_ISREG (info.st_mode))
        {
          g_autofree gchar *content = NULL;
          gsize length = 0;
          if (g_file_get_contents (path.c_str (), &content, &length, NULL))
            text += " " + std::string (content, length);
        }
      (*state)[path] = text;
      if (S_ISDIR (info.st_mode))
        describe (path, state);
    }
  g_dir_close (handle);
}

std::map<std::string, std::string>
outside_state ()
{
  std::map<std::string, std::string> state;
  describe (root, &state);
  return state;
}

void
reset_location ()
{
  remove_tree (contacts);
  write_text (contacts + "/old.vcf", "old card");
  if (symlink ((root + "/outside").c_str (), (contacts + "/link").c_str ()) != 0)
    abort ();
}

void
declare (const std::string &name, const std::string &locations)
{
  write_text (root + "/config/applications/" + name + ".conf",
              "<backup-configuration><application-name>" + name
                  + "</application-name><application-type>korvel</application-type>"
                    "<backup-method>backup-dbus</backup-method><backup-dbus>"
                    "<dbus-service object=\"/"
                  + name + "\">com.example." + name + "</dbus-service></backup-dbus><locations>"
                  + locations + "</locations></backup-configuration>");
}
} // namespace

extern "C" int
LLVMFuzzerInitialize (int *, char ***)
{
  remove_tree (root);
  g_setenv ("HOME", home.c_str (), TRUE);
  g_setenv ("INSTALLHOME", (root + "/config").c_str (), TRUE);
  /* Applications are told about the restore over D-Bus; here nobody listens. */
  g_setenv ("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/safehold-fuzz", TRUE);
  g_setenv ("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/safehold-fuzz", TRUE);
  declare ("contacts", "<location type=\"dir\" category=\"contacts\">$HOME/data/contacts</location>"
                       "<exclusion type=\"dir\" category=\"contacts\">"
                       "$HOME/data/contacts/cache</exclusion>");
  declare ("bookmarks",
           "<location type=\"dir\" category=\"bookmarks\">$HOME/data/bookmarks</location>");
  declare ("settings", "<location type=\"permanent-backup-file\" category=\"settings\">"
                       "$HOME/data/settings/prefs.db</location>");
  write_text (home + "/.profile", "profile");
  write_text (home + "/data/bookmarks/b.html", "bookmarks");
  write_text (home + "/data/settings/prefs.db", "prefs");
  write_text (root + "/outside/keep.txt", "outside");
  sf_backup_configurations_init ((root + "/config").c_str ());

  backend = sf_backend_new ();
  for (const char *signal : { "finished", "cancelled" })
    g_signal_connect (backend, signal, G_CALLBACK (+[] (SfBackend *) { ended = true; }), NULL);
  g_signal_connect (backend, "error", G_CALLBACK (+[] (SfBackend *, GError *) { ended = true; }),
                    NULL);

  g_autoptr (GFile) dir = g_file_new_for_path (backup_dir.c_str ());
  info = sf_backup_info_new (dir, 1700000000, FALSE, NULL, "1.0", "", SF_BACKUP_INFO_FORMAT,
                             SF_CATEGORY_CONTACTS);
  sf_backup_info_set_data_amount (info, SF_CATEGORY_CONTACTS, 4096, 3);
  g_mkdir_with_parents ((root + "/card/.backups").c_str (), 0700);
  g_autoptr (GError) error = sf_backup_info_create_dir (info);
  g_autoptr (GError) metadata_error = sf_backup_info_write_metadata (info);
  if (error != NULL || metadata_error != NULL)
    abort ();
  return 0;
}

extern "C" int
LLVMFuzzerTestOneInput (const uint8_t *data, size_t size)
{
  reset_location ();
  std::map<std::string, std::string> before = outside_state ();
  g_autofree gchar *archive = sf_backup_info_get_category_archive_path (info, SF_CATEGORY_CONTACTS);
  fuzz_write_file (archive, data, size);

  ended = false;
  g_autoptr (SfArchiver) archiver = sf_archiver_zip_new_restore (info, SF_CATEGORY_CONTACTS, NULL);
  if (!_sf_backend_run_archiver (backend, archiver, SF_BACKEND_STATE_RESTORE))
    abort ();
  while (!ended || sf_backend_get_state (backend) != SF_BACKEND_STATE_IDLE)
    g_main_context_iteration (NULL, TRUE);
  /* The worker drops its own reference as it ends. Once only this one is left, dropping it joins
   * the worker, so that the thread's caches are released before libFuzzer's leak check looks;
   * otherwise a worker still exiting shows them as leaked. */
  while (g_atomic_int_get (&G_OBJECT (archiver)->ref_count) > 1)
    g_usleep (100);

  std::map<std::string, std::string> after = outside_state ();
  if (after != before)
    {
      for (const auto &[path, state] : after)
        if (before.count (path) == 0 || before[path] != state)
          fprintf (stderr, "changed outside the category's locations: %s\n", path.c_str ());
      for (const auto &[path, state] : before)
        if (after.count (path) == 0)
          fprintf (stderr, "removed outside the category's locations: %s\n", path.c_str ());
      abort ();
    }
  return 0;
}
