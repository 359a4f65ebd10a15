#include "sf-archiver-zip-private.h"

#include "gsf-input-crypt.h"
#include "sf-error.h"
#include "sf-log.h"
#include "sf-permanent-file-list.h"
#include "sf-utils.h"
#include "sf-vfs-utils.h"
#include "sf-zip-reader.h"

#include <cstdio>
#include <glib/gstdio.h>
#include <gsf/gsf-input-stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace
{
enum Result
{
  RESULT_DONE = 0,
  RESULT_FAILED = 1,
  RESULT_CANCELLED = 2
};

/* A restored file must leave this much room on its file system. */
const gint64 restore_free_margin = 512 * 1024;
const gulong slow_file_delay_us = 200000;

enum class Folder
{
  ENTER,
  EXCLUDED,
  BLOCKED
};

struct PatternDeleter
{
  void operator() (GPatternSpec *pattern) const
  {
    g_pattern_spec_free (pattern);
  }
};
using Pattern = std::unique_ptr<GPatternSpec, PatternDeleter>;

/* What the walk of one category archive needs. */
struct CategoryWalk
{
  SfArchiverZip *self;
  SfCategory category;
  std::vector<Pattern> exclusions;
  /* Entries of the backup's permanent file list: full paths that may be overwritten. */
  const std::vector<std::string> *permanent_paths;
  std::string last_folder;
  Folder last_folder_state = Folder::ENTER;
  /* Set when the archive's data could not be read: the category is damaged. */
  GError *read_error = NULL;

  ~CategoryWalk ()
  {
    g_clear_error (&read_error);
  }
};

gboolean
is_excluded (const CategoryWalk &walk, const std::string &path)
{
  for (const Pattern &pattern : walk.exclusions)
    if (g_pattern_spec_match_string (pattern.get (), path.c_str ()))
      return TRUE;
  return FALSE;
}

/* Entry names that could step out of the place they name are never restored. */
gboolean
is_safe_relative_path (const std::string &path)
{
  if (path.empty ())
    return FALSE;
  size_t start = 0;
  while (start <= path.size ())
    {
      size_t end = path.find ('/', start);
      if (end == std::string::npos)
        end = path.size ();
      std::string component = path.substr (start, end - start);
      if (component.empty () || component == "." || component == "..")
        return FALSE;
      start = end + 1;
    }
  return TRUE;
}

/* One level is made; what is already there decides whether the folder's files go in. */
Folder
prepare_folder (CategoryWalk &walk, const std::string &folder)
{
  if (folder == walk.last_folder)
    return walk.last_folder_state;
  walk.last_folder = folder;
  Folder state = Folder::ENTER;
  if (is_excluded (walk, folder))
    {
      SF_LOG_DEBUG ("Child %s is excluded\n", folder.c_str ());
      state = Folder::EXCLUDED;
    }
  else if (folder != "/")
    {
      SF_LOG_DEBUG ("  Unpacking directory: %s\n", folder.c_str ());
      gboolean made = g_mkdir (folder.c_str (), 0777) == 0;
      int saved_errno = errno;
      if (!made && saved_errno == ENOENT)
        {
          /* A backup removes the folders it emptied; the levels above the stored folder come back
           * too, or nothing deeper than one level below a location could be restored. */
          g_autofree gchar *parent = g_path_get_dirname (folder.c_str ());
          made = g_mkdir_with_parents (parent, 0755) == 0 && g_mkdir (folder.c_str (), 0777) == 0;
          saved_errno = errno;
        }
      struct stat there;
      if (!made && (saved_errno == EEXIST || saved_errno == ENOENT)
          && g_stat (folder.c_str (), &there) == 0 && !S_ISDIR (there.st_mode))
        state = Folder::BLOCKED;
      else if (!made && saved_errno != EEXIST && saved_errno != ENOENT)
        SF_LOG_DEBUG ("Could not restore folder %s: %s", folder.c_str (), g_strerror (saved_errno));
      if (state == Folder::ENTER)
        g_chmod (folder.c_str (), 0777);
    }
  walk.last_folder_state = state;
  return state;
}

void
count_as_done (SfArchiver *archiver, guint64 size)
{
  sf_archiver_add_processed_size (archiver, size);
  sf_archiver_add_processed_files (archiver, 1);
  sf_archiver_update_progress (archiver);
}

gchar *
temporary_folder (const std::string &destination)
{
  g_autofree gchar *parent = g_path_get_dirname (destination.c_str ());
  if (g_strcmp0 (parent, "/home") == 0 || g_strcmp0 (parent, "/tmp") == 0)
    return g_steal_pointer (&parent);
  return g_strdup ("/var/tmp");
}

gboolean
enough_space (GFile *temporary, guint64 size)
{
  g_autoptr (GError) error = NULL;
  g_autoptr (GFileInfo) info
      = g_file_query_filesystem_info (temporary, G_FILE_ATTRIBUTE_FILESYSTEM_FREE, NULL, &error);
  if (info == NULL)
    {
      SF_LOG_WARNING ("Could't get free space: %s\n", error->message);
      return TRUE;
    }
  gint64 free_bytes
      = (gint64)g_file_info_get_attribute_uint64 (info, G_FILE_ATTRIBUTE_FILESYSTEM_FREE);
  return free_bytes - (gint64)size >= restore_free_margin;
}

/* Streams the entry's data into output. */
Result
copy_entry (CategoryWalk &walk, SfZipReader *reader, GOutputStream *output, GError **error)
{
  SfArchiverZip *self = walk.self;
  SfArchiver *archiver = SF_ARCHIVER (self);
  for (;;)
    {
      if (sf_archiver_is_cancelled (archiver))
        return RESULT_CANCELLED;
      g_autoptr (GError) read_error = NULL;
      gssize count
          = sf_zip_reader_read (reader, self->buffer, SF_ARCHIVER_ZIP_BUFFER_SIZE, &read_error);
      if (count < 0)
        {
          SF_LOG_ERROR ("Restore IO error from gsf.");
          if (walk.read_error == NULL)
            walk.read_error = g_error_copy (read_error);
          g_propagate_error (error, g_steal_pointer (&read_error));
          return RESULT_FAILED;
        }
      if (count == 0)
        return RESULT_DONE;
      GError *write_error = sf_vfs_utils_write (output, self->buffer, count);
      if (write_error != NULL)
        {
          g_propagate_error (error, write_error);
          return RESULT_FAILED;
        }
      sf_archiver_add_processed_size (archiver, count);
      sf_archiver_update_progress (archiver);
    }
}

gboolean
is_permanent (const CategoryWalk &walk, GFile *destination)
{
  if (walk.permanent_paths->empty ())
    return FALSE;
  g_autofree gchar *uri = g_file_get_uri (destination);
  for (const std::string &fullpath : *walk.permanent_paths)
    if (strstr (uri, fullpath.c_str ()) != NULL)
      return TRUE;
  return FALSE;
}

void
warn_move (GFile *from, GFile *to, const GError *error)
{
  g_autofree gchar *from_path = g_file_get_path (from);
  g_autofree gchar *to_path = g_file_get_path (to);
  SF_LOG_WARNING ("Couldn't move file: %s -> %s (%s)\n", from_path, to_path, error->message);
}

/* Puts the complete temporary file in place. *restored tells whether it went there. */
gboolean
move_into_place (CategoryWalk &walk, GFile *temporary, GFile *destination, gboolean *restored,
                 GError **error)
{
  *restored = FALSE;
  if (is_permanent (walk, destination))
    {
      *restored
          = g_file_move (temporary, destination, G_FILE_COPY_OVERWRITE, NULL, NULL, NULL, error);
      return *restored;
    }

  g_autoptr (GError) move_error = NULL;
  if (g_file_move (temporary, destination, G_FILE_COPY_NONE, NULL, NULL, NULL, &move_error))
    {
      *restored = TRUE;
      return TRUE;
    }
  gboolean exists = g_error_matches (move_error, G_IO_ERROR, G_IO_ERROR_EXISTS);
  if (!exists && !g_error_matches (move_error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND))
    {
      warn_move (temporary, destination, move_error);
      g_propagate_error (error, g_steal_pointer (&move_error));
      return FALSE;
    }
  if (!exists)
    warn_move (temporary, destination, move_error);

  switch (g_file_query_file_type (destination, G_FILE_QUERY_INFO_NONE, NULL))
    {
    case G_FILE_TYPE_REGULAR:
      {
        g_autoptr (GError) overwrite_error = NULL;
        if (g_file_move (temporary, destination, G_FILE_COPY_OVERWRITE, NULL, NULL, NULL,
                         &overwrite_error))
          {
            *restored = TRUE;
            return TRUE;
          }
        SF_LOG_WARNING (
            "ERROR IN MOVING THE FILE, NEED TO INVESTIGATE, SHOULD BE FILE PERMISSION PROBLEM");
        warn_move (temporary, destination, overwrite_error);
        g_propagate_error (error, g_steal_pointer (&overwrite_error));
        return FALSE;
      }
    case G_FILE_TYPE_DIRECTORY:
      /* A folder in the way keeps the stored file out. */
      return TRUE;
    default:
      g_propagate_error (error, g_steal_pointer (&move_error));
      return FALSE;
    }
}

Result
simulated_failure (const std::string &destination, GError **error)
{
  const gchar *fail_path = g_getenv ("SF_FAIL_PATH");
  if (fail_path == NULL || destination.find (fail_path) == std::string::npos)
    return RESULT_DONE;
  printf ("Simulated error: %s\n", destination.c_str ());
  fflush (stdout);
  g_set_error_literal (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "simulated error");
  return RESULT_FAILED;
}

/* Writes the entry to a temporary file beside nothing the user has, then moves it into place;
 * the destination is never replaced by anything incomplete. */
Result
unpack_file (CategoryWalk &walk, SfZipReader *reader, const SfZipEntry &entry,
             const std::string &destination, GError **error)
{
  SfArchiver *archiver = SF_ARCHIVER (walk.self);
  if (g_getenv ("SF_SLOW") != NULL)
    g_usleep (slow_file_delay_us);
  if (simulated_failure (destination, error) != RESULT_DONE)
    return RESULT_FAILED;

  gint64 mtime = MAX (entry.mtime, 0);
  struct stat existing;
  if (g_stat (destination.c_str (), &existing) == 0 && existing.st_mtime - mtime <= 1
      && mtime - existing.st_mtime <= 1)
    {
      count_as_done (archiver, entry.size);
      return RESULT_DONE;
    }

  g_autofree gchar *folder_path = temporary_folder (destination);
  g_autoptr (GFile) folder = g_file_new_for_path (folder_path);
  g_autoptr (GOutputStream) output = NULL;
  g_autoptr (GFile) temporary = NULL;
  GError *failure = sf_vfs_utils_create_temp_file (&output, folder, entry.mode, &temporary);
  gboolean no_space = FALSE;
  Result result = failure == NULL ? RESULT_DONE : RESULT_FAILED;
  if (result == RESULT_DONE && !enough_space (temporary, entry.size))
    {
      no_space = TRUE;
      result = RESULT_FAILED;
    }
  if (result == RESULT_DONE)
    result = copy_entry (walk, reader, output, &failure);
  if (output != NULL
      && !g_output_stream_close (output, NULL, result == RESULT_DONE ? &failure : NULL))
    result = result == RESULT_DONE ? RESULT_FAILED : result;

  g_autoptr (GFile) target = g_file_new_for_path (destination.c_str ());
  if (result == RESULT_DONE)
    {
      g_autofree gchar *temporary_path = g_file_get_path (temporary);
      g_autoptr (GError) attribute_error
          = sf_vfs_utils_uri_set_timestamp_and_mode (temporary_path, mtime, entry.mode);
      if (attribute_error != NULL)
        SF_LOG_WARNING ("Failed to set timestamp and permissions during restore.");
      gboolean restored = FALSE;
      if (!move_into_place (walk, temporary, target, &restored, &failure))
        result = RESULT_FAILED;
      else if (restored)
        sf_restore_transform_add_uri (walk.self->restore_transform, walk.category, target);
    }
  if (result != RESULT_CANCELLED)
    {
      sf_archiver_add_processed_files (archiver, 1);
      sf_archiver_update_progress (archiver);
    }
  if (temporary != NULL)
    g_file_delete (temporary, NULL, NULL);

  if (result == RESULT_FAILED && no_space)
    g_set_error_literal (error, SF_ERROR, SF_ERROR_RESTORE_NO_SPACE, "Restore, not enough space");
  else if (result == RESULT_FAILED)
    g_set_error (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "Failed to restore %s: %s",
                 destination.c_str (), failure != NULL ? failure->message : "unknown error");
  g_clear_error (&failure);
  return result;
}

/* One entry below the root folder. Failures of single files are logged and the walk goes on. */
Result
unpack_entry (CategoryWalk &walk, SfZipReader *reader, const SfZipEntry &entry,
              const std::string &relative)
{
  SfArchiver *archiver = SF_ARCHIVER (walk.self);
  if (sf_archiver_is_cancelled (archiver))
    return RESULT_CANCELLED;
  std::string destination = "/" + relative;
  SF_LOG_DEBUG ("unpacking child %s\n", destination.c_str ());
  if (!is_safe_relative_path (relative))
    {
      SF_LOG_WARNING ("Unpacking of file failed ----> %s\n", entry.name);
      SF_LOG_DEBUG ("Unpacking will continue...");
      if (!entry.is_dir)
        count_as_done (archiver, 0);
      return RESULT_DONE;
    }
  if (entry.is_dir)
    {
      prepare_folder (walk, destination);
      return RESULT_DONE;
    }

  g_autofree gchar *folder = g_path_get_dirname (destination.c_str ());
  Folder state = prepare_folder (walk, folder);
  if (state == Folder::BLOCKED)
    return RESULT_DONE;
  if (is_excluded (walk, destination))
    {
      SF_LOG_DEBUG ("  Excluded file: %s\n", destination.c_str ());
      count_as_done (archiver, entry.size);
      return RESULT_DONE;
    }

  SF_LOG_DEBUG ("  Unpacking file: %s\n", destination.c_str ());
  g_autoptr (GError) error = NULL;
  Result result = unpack_file (walk, reader, entry, destination, &error);
  if (result == RESULT_FAILED && walk.category == SF_CATEGORY_OTHER)
    SF_LOG_WARNING ("Ignoring error for 'other' file %s", destination.c_str ());
  else if (result != RESULT_DONE)
    {
      SF_LOG_WARNING ("Unpacking of file failed ----> %s\n", destination.c_str ());
      if (error != NULL)
        SF_LOG_WARNING ("%s", error->message);
      SF_LOG_DEBUG ("Unpacking will continue...");
    }
  return result == RESULT_CANCELLED ? RESULT_CANCELLED : RESULT_DONE;
}

std::vector<Pattern>
exclusion_patterns (SfBackupLocations *locations, SfCategory category)
{
  std::vector<Pattern> patterns;
  if (locations == NULL)
    return patterns;
  GSList *uris = sf_backup_locations_get_uris (locations, category, TRUE);
  for (GSList *item = uris; item != NULL; item = item->next)
    patterns.emplace_back (g_pattern_spec_new (static_cast<const gchar *> (item->data)));
  g_slist_free_full (uris, g_free);
  return patterns;
}

/* Restores every entry below the root folder of one category archive. */
Result
unpack_category (SfArchiverZip *self, SfCategory category,
                 const std::vector<std::string> &permanent_paths, GError **error)
{
  SfArchiver *archiver = SF_ARCHIVER (self);
  sf_archiver_set_current_category (archiver, category);
  SF_LOG_DEBUG ("****** Unpacking category %s\n", sf_category_to_string (category));
  if (sf_archiver_is_cancelled (archiver))
    return RESULT_CANCELLED;
  SfZipReader *reader
      = _sf_archiver_zip_open_category (self->backup_info, category, self->password, error);
  if (reader == NULL)
    return RESULT_FAILED;

  CategoryWalk walk;
  walk.self = self;
  walk.category = category;
  walk.exclusions = exclusion_patterns (self->locations, category);
  walk.permanent_paths = &permanent_paths;
  const std::string root = std::string (SF_ARCHIVER_ZIP_ROOT) + "/";
  Result result = RESULT_DONE;
  SfZipEntry entry;
  g_autoptr (GError) next_error = NULL;
  while (result == RESULT_DONE && sf_zip_reader_next_entry (reader, &entry, &next_error))
    {
      std::string name = entry.name;
      if (name.compare (0, root.size (), root) != 0)
        continue;
      std::string relative = name.substr (root.size ());
      while (!relative.empty () && relative.back () == '/')
        relative.pop_back ();
      if (relative.empty ())
        continue;
      result = unpack_entry (walk, reader, entry, relative);
    }
  sf_zip_reader_free (reader);
  SF_LOG_DEBUG ("Cleaning up temporary files\n");
  if (result != RESULT_DONE)
    return result;

  const GError *damage = next_error != NULL ? next_error : walk.read_error;
  if (damage != NULL)
    {
      g_set_error (error, SF_ERROR, SF_ERROR_RESTORE_CORRUPT_BACKUP,
                   "Backup archive of %s is damaged: %s", sf_category_to_string (category),
                   damage->message);
      return RESULT_FAILED;
    }
  return RESULT_DONE;
}

guint
categories_from_names (const gchar *names)
{
  guint categories = SF_CATEGORY_NONE;
  if (names == NULL)
    return categories;
  g_auto (GStrv) parts = g_strsplit (names, ",", -1);
  for (gchar **part = parts; *part != NULL; part++)
    if (**part != '\0')
      categories |= sf_category_from_string (*part);
  return categories;
}

/* The full paths of the backup's permanent files, read once per restore. */
std::vector<std::string>
permanent_paths (SfBackupInfo *info)
{
  std::vector<std::string> paths;
  g_autofree gchar *dir = g_file_get_path (sf_backup_info_get_uri (info));
  GSList *list = sf_backend_load_permanent_file_list (dir);
  guint32 backup_categories = sf_backup_info_get_categories (info);
  for (GSList *item = list; item != NULL; item = item->next)
    {
      SfPermanentFile *file = static_cast<SfPermanentFile *> (item->data);
      if (file->fullpath != NULL && (file->category & backup_categories))
        paths.push_back (file->fullpath);
    }
  sf_backend_free_permanent_file_list (list);
  return paths;
}

/* Returns FALSE when the remaining categories cannot be restored either. */
gboolean
record_category_error (SfRestoreFailure *failure, SfCategory category, const GError *error)
{
  if (error == NULL || error->domain != SF_ERROR)
    return TRUE;
  switch (error->code)
    {
    case SF_ERROR_RESTORE_NO_MEMORY_CARD:
    case SF_ERROR_RESTORE_MEMORY_CARD_REMOVED:
      return FALSE;
    case SF_ERROR_RESTORE_NO_SPACE:
      sf_restore_failure_set_category_reason (failure, category,
                                              SF_RESTORE_FAILURE_INSUFFICIENT_SPACE);
      return TRUE;
    case SF_ERROR_RESTORE_CORRUPT_BACKUP:
      sf_restore_failure_set_category_reason (failure, category, SF_RESTORE_FAILURE_CORRUPT_BACKUP);
      return TRUE;
    default:
      SF_LOG_WARNING ("Got fatal error: %s", error->message);
      if (g_getenv ("SF_IGNORE_ERRORS") != NULL)
        SF_LOG_WARNING ("*** Making that error non-fatal ***");
      return TRUE;
    }
}

/* Walks the categories in index order; returns the result and, on a cancel, the index it
 * happened at. */
Result
unpack_categories (SfArchiverZip *self, SfRestoreFailure *failure, gint *stopped_at)
{
  guint simulated = categories_from_names (g_getenv ("SF_FAIL_CATEGORIES"));
  guint32 present = sf_backup_info_get_categories (self->backup_info);
  std::vector<std::string> permanent = permanent_paths (self->backup_info);
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      *stopped_at = index;
      SfCategory category = sf_category_from_index (index);
      if (!(self->categories & category))
        {
          sf_restore_failure_remove_category (failure, category);
          continue;
        }
      if (sf_archiver_is_cancelled (SF_ARCHIVER (self)))
        return RESULT_CANCELLED;

      g_autoptr (GError) error = NULL;
      Result result = RESULT_DONE;
      if (simulated & category)
        {
          printf ("Simulating failure: %s\n", sf_category_to_string (category));
          fflush (stdout);
          g_set_error_literal (&error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "Simulated error");
          result = RESULT_FAILED;
        }
      else if (!(present & category))
        {
          sf_restore_failure_remove_category (failure, category);
          continue;
        }
      else
        result = unpack_category (self, category, permanent, &error);

      if (result == RESULT_CANCELLED)
        return RESULT_CANCELLED;
      if (result == RESULT_DONE)
        sf_restore_failure_remove_category (failure, category);
      else if (!record_category_error (failure, category, error))
        return RESULT_FAILED;
    }
  return RESULT_DONE;
}

/* Whether input begins like a ZIP archive; reads from its start and goes back there. */
gboolean
starts_as_zip (GsfInput *input)
{
  const guint8 *head = gsf_input_read (input, 2, NULL);
  gboolean zip = head != NULL && head[0] == 'P' && head[1] == 'K';
  return !gsf_input_seek (input, 0, G_SEEK_SET) && zip;
}
} // namespace

void
_sf_archiver_zip_unpack_thread_func (SfArchiver *archiver)
{
  SfArchiverZip *self = SF_ARCHIVER_ZIP (archiver);
  SF_LOG_DEBUG ("ArchiverZip unpack thread starting.\n");
  g_return_if_fail (self->is_restore);

  gint lock_fd = _sf_archiver_zip_create_lock_file (self);
  guint32 present = sf_backup_info_get_categories (self->backup_info);
  sf_archiver_set_total_size (
      archiver, sf_backup_info_get_size_for_categories (self->backup_info, self->categories));
  sf_archiver_set_total_files (
      archiver, sf_backup_info_get_num_files_for_categories (self->backup_info, self->categories));

  g_autoptr (SfRestoreFailure) failure = sf_restore_failure_new ();
  sf_restore_failure_add_categories (failure, (SfCategory)(self->categories & present),
                                     SF_RESTORE_FAILURE_UNKNOWN_ERROR);
  gint stopped_at = 0;
  Result result = unpack_categories (self, failure, &stopped_at);
  if (result == RESULT_CANCELLED)
    for (gint index = stopped_at; index < SF_CATEGORY_COUNT; index++)
      {
        SfCategory category = sf_category_from_index (index);
        if (self->categories & present & category)
          sf_restore_failure_set_category_reason (failure, category, SF_RESTORE_FAILURE_CANCELLED);
      }

  sf_archiver_send_finalizing (archiver);
  sf_archiver_set_restore_failure (archiver, failure);
  sf_archiver_set_restore_written_categories (
      archiver, sf_restore_transform_get_categories (self->restore_transform));
  sf_restore_transform_execute (self->restore_transform, self->categories);

  if (result == RESULT_CANCELLED)
    sf_archiver_send_cancelled (archiver);
  else
    sf_archiver_send_finished (archiver);
  if (lock_fd >= 0)
    close (lock_fd);
  SF_LOG_DEBUG ("Thread done.\n");
}

/* Opens the category archive through the decrypting input. */
SfZipReader *
_sf_archiver_zip_open_category (SfBackupInfo *info, SfCategory category, const gchar *password,
                                GError **error)
{
  g_autofree gchar *path = sf_backup_info_get_category_archive_path (info, category);
  GsfInput *file = gsf_input_stdio_new (path, NULL);
  if (file == NULL)
    {
      SF_LOG_WARNING ("Could not open backup file");
      g_set_error_literal (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "Could not open backup file");
      return NULL;
    }
  g_autoptr (GError) crypt_error = NULL;
  GsfInput *plain = gsf_input_crypt_new (file, password, &crypt_error);
  g_object_unref (file);
  if (plain == NULL)
    {
      SF_LOG_ERROR ("gsf: (%d) %s\n", crypt_error != NULL ? crypt_error->code : 0,
                    crypt_error != NULL ? crypt_error->message : "");
      if (password == NULL)
        g_set_error_literal (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "Could not open crypt file");
      else
        g_set_error_literal (error, SF_ERROR, SF_ERROR_WRONG_PASSWORD, "Wrong password");
      return NULL;
    }
  /* A wrong password passes the padding check about once in 256 tries; what it decrypts
   * then is no ZIP archive. */
  if (password != NULL && !starts_as_zip (plain))
    {
      g_object_unref (plain);
      g_set_error_literal (error, SF_ERROR, SF_ERROR_WRONG_PASSWORD, "Wrong password");
      return NULL;
    }
  g_autoptr (GError) zip_error = NULL;
  SfZipReader *reader = sf_zip_reader_new (plain, &zip_error);
  g_object_unref (plain);
  if (reader == NULL)
    g_set_error (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "Failed to open zip file: %s",
                 zip_error->message);
  return reader;
}

SfZipReader *
sf_archiver_zip_open_category (SfBackupInfo *backup_info, SfCategory category,
                               const gchar *password, GError **error)
{
  g_return_val_if_fail (backup_info != NULL, NULL);
  g_return_val_if_fail (error == NULL || *error == NULL, NULL);

  return _sf_archiver_zip_open_category (backup_info, category, password, error);
}
