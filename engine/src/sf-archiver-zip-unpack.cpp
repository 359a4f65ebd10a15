#include "sf-archiver-zip-private.h"

#include "gsf-input-crypt.h"
#include "sf-crypt.h"
#include "sf-error.h"
#include "sf-log.h"
#include "sf-parallel.h"
#include "sf-utils.h"
#include "sf-zip-copy.h"
#include "sf-zip-reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <glib/gstdio.h>
#include <gsf/gsf-input-stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
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
/* Temporary files of the restore; one left by a killed restore is recognised by it. */
const gchar *const temporary_prefix = ".sf-restore-";

struct PatternDeleter
{
  void operator() (GPatternSpec *pattern) const
  {
    g_pattern_spec_free (pattern);
  }
};
using Pattern = std::unique_ptr<GPatternSpec, PatternDeleter>;

/* What one restore keeps across its categories, which several workers unpack at once. */
struct RestoreRun
{
  GMutex mutex;
  /* Guarded by mutex. A folder descriptor on each file system written to, for the one flush at
   * the end. */
  std::map<dev_t, int> written_file_systems;
  /* Guarded by mutex. Folders already rid of temporary files a killed restore left. */
  std::set<std::pair<dev_t, ino_t>> cleaned_folders;

  RestoreRun ()
  {
    g_mutex_init (&mutex);
  }
  ~RestoreRun ()
  {
    for (const auto &[device, fd] : written_file_systems)
      close (fd);
    g_mutex_clear (&mutex);
  }
};

/* What the walk of one category archive needs. */
struct CategoryWalk
{
  SfArchiverZip *self;
  RestoreRun *run;
  SfCategory category;
  /* The worker's own. */
  guint8 *buffer;
  std::vector<Pattern> exclusions;
  /* The include locations of the category on this device, ordinary and permanent. */
  std::vector<std::string> locations;
  /* The folder of the last file, kept open for the files that follow it, and its file system. */
  std::string folder;
  int folder_fd = -1;
  dev_t folder_device = 0;
  /* File systems this walk has noted as written to. */
  std::set<dev_t> noted_devices;
  /* The reason of the first file that failed, or -1. */
  gint first_failure = -1;

  ~CategoryWalk ()
  {
    if (folder_fd >= 0)
      close (folder_fd);
  }
};

/* Where an entry's destination lies against the category's locations. */
struct Place
{
  /* The location's own folder: the device's, reached by following links. */
  std::string base;
  /* The levels below base, the last one the entry's own name; never followed when links. */
  std::vector<std::string> below;
};

enum class Where
{
  INSIDE,
  AT_OR_ABOVE,
  OUTSIDE
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

std::vector<std::string>
split_path (const std::string &path)
{
  std::vector<std::string> components;
  g_auto (GStrv) parts = g_strsplit (path.c_str (), "/", -1);
  for (gchar **part = parts; *part != NULL; part++)
    components.push_back (*part);
  return components;
}

/* The innermost location holding destination. A file location holds only itself; its folder is
 * the base then. */
Where
locate (const CategoryWalk &walk, const std::string &destination, Place *place)
{
  Where where = Where::OUTSIDE;
  size_t best = 0;
  for (const std::string &location : walk.locations)
    {
      if (destination == location && location.size () > best)
        {
          g_autofree gchar *folder = g_path_get_dirname (location.c_str ());
          g_autofree gchar *name = g_path_get_basename (location.c_str ());
          place->base = folder;
          place->below = { name };
          where = Where::INSIDE;
          best = location.size ();
        }
      else if (g_str_has_prefix (destination.c_str (), (location + "/").c_str ())
               && location.size () > best)
        {
          place->base = location;
          place->below = split_path (destination.substr (location.size () + 1));
          where = Where::INSIDE;
          best = location.size ();
        }
      else if (where == Where::OUTSIDE
               && g_str_has_prefix (location.c_str (), (destination + "/").c_str ()))
        where = Where::AT_OR_ABOVE;
    }
  return where;
}

void
count_as_done (SfArchiver *archiver, guint64 size)
{
  sf_archiver_add_processed_size (archiver, size);
  sf_archiver_add_processed_files (archiver, 1);
  sf_archiver_update_progress (archiver);
}

/* The first failure of the category decides the reason it records. */
void
note_failure (CategoryWalk &walk, gint reason)
{
  if (walk.first_failure < 0)
    walk.first_failure = reason;
}

/* Opens the next level below fd without following a link, making it (with mode) when missing.
 * -1 with errno set when it cannot be entered. Another worker may make the same level at the
 * same moment: only the one that made it sets its mode. */
int
enter_level (int fd, const gchar *name, guint mode)
{
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int next = openat (fd, name, flags);
  if (next >= 0 || errno != ENOENT)
    return next;
  gboolean made = mkdirat (fd, name, 0700) == 0;
  if (!made && errno != EEXIST)
    return -1;
  next = openat (fd, name, flags);
  /* Set after making, so that the process's umask has no say. */
  if (next >= 0 && made)
    fchmod (next, mode);
  return next;
}

/* The location's own folder, made with its parents when missing; existing levels keep their
 * modes. */
int
open_base (const std::string &base)
{
  if (g_mkdir_with_parents (base.c_str (), 0755) != 0)
    return -1;
  return open (base.c_str (), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

/* Opens the folder of the first count levels of place.below; the last level, when it is made,
 * gets last_mode, the others 0755. The result belongs to the caller. */
int
open_folder (const Place &place, size_t count, guint last_mode)
{
  int fd = open_base (place.base);
  for (size_t index = 0; fd >= 0 && index < count; index++)
    {
      int next
          = enter_level (fd, place.below[index].c_str (), index + 1 == count ? last_mode : 0755);
      int saved_errno = errno;
      close (fd);
      errno = saved_errno;
      fd = next;
    }
  return fd;
}

/* Deletes every temporary file of a restore in folder. */
void
remove_temporaries_in (CategoryWalk &walk, int folder)
{
  int listing = dup (folder);
  DIR *dir = listing >= 0 ? fdopendir (listing) : NULL;
  if (dir == NULL)
    {
      if (listing >= 0)
        close (listing);
      return;
    }
  rewinddir (dir);
  std::vector<std::string> stale;
  while (struct dirent *item = readdir (dir))
    if (g_str_has_prefix (item->d_name, temporary_prefix))
      stale.push_back (item->d_name);
  closedir (dir);
  for (const std::string &name : stale)
    if (unlinkat (folder, name.c_str (), 0) == 0)
      SF_LOG_DEBUG ("Removed the leftover temporary file %s/%s", walk.folder.c_str (),
                    name.c_str ());
}

/* Removes what a killed restore left in folder, once per folder and restore. Holds the run's
 * lock throughout: a worker that finds the folder cleaned may then put its own temporary files
 * there. */
void
remove_stale_temporaries (CategoryWalk &walk, int folder, const struct stat &info)
{
  g_mutex_lock (&walk.run->mutex);
  if (walk.run->cleaned_folders.insert ({ info.st_dev, info.st_ino }).second)
    remove_temporaries_in (walk, folder);
  g_mutex_unlock (&walk.run->mutex);
}

/* The folder that will hold a file of place, kept open in the walk and rid of stale temporary
 * files; -1 with errno set. */
int
file_folder (CategoryWalk &walk, const Place &place, const std::string &destination)
{
  g_autofree gchar *folder = g_path_get_dirname (destination.c_str ());
  if (walk.folder_fd >= 0 && walk.folder == folder)
    return walk.folder_fd;
  if (walk.folder_fd >= 0)
    close (walk.folder_fd);
  walk.folder = folder;
  walk.folder_fd = open_folder (place, place.below.size () - 1, 0755);
  struct stat info;
  if (walk.folder_fd >= 0 && fstat (walk.folder_fd, &info) == 0)
    {
      walk.folder_device = info.st_dev;
      remove_stale_temporaries (walk, walk.folder_fd, info);
    }
  return walk.folder_fd;
}

/* Remembers the file system of the walk's folder for the flush before the restore ends. */
void
note_written (CategoryWalk &walk)
{
  if (!walk.noted_devices.insert (walk.folder_device).second)
    return;
  g_mutex_lock (&walk.run->mutex);
  if (walk.run->written_file_systems.count (walk.folder_device) == 0)
    {
      int fd = dup (walk.folder_fd);
      if (fd >= 0)
        walk.run->written_file_systems[walk.folder_device] = fd;
    }
  g_mutex_unlock (&walk.run->mutex);
}

gboolean
enough_space (int folder, guint64 size)
{
  struct statvfs info;
  if (fstatvfs (folder, &info) != 0)
    {
      SF_LOG_WARNING ("Could't get free space: %s\n", g_strerror (errno));
      return TRUE;
    }
  gint64 free_bytes = (gint64)info.f_bavail * (gint64)info.f_frsize;
  return free_bytes - (gint64)size >= restore_free_margin;
}

gboolean
is_space_errno (int error_number)
{
  return error_number == ENOSPC || error_number == EDQUOT;
}

/* A new temporary file with a hidden, unique name in folder. */
int
create_temporary (int folder, std::string *name)
{
  for (int attempt = 0; attempt < 100; attempt++)
    {
      g_autofree gchar *candidate = g_strdup_printf ("%s%08x", temporary_prefix, g_random_int ());
      int fd
          = openat (folder, candidate, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0 || errno != EEXIST)
        {
          *name = candidate;
          return fd;
        }
    }
  errno = EEXIST;
  return -1;
}

/* Why a file could not be restored. */
struct FileFailure
{
  gint reason = SF_RESTORE_FAILURE_UNKNOWN_ERROR;
  std::string message;
};

/* Between two chunks of a restored file: counts the one written, lets the test hook slow large
 * files too (so that a cancel can land inside one), and stops on a cancel. */
gboolean
copy_step (gsize written, gpointer data)
{
  SfArchiver *archiver = SF_ARCHIVER (static_cast<CategoryWalk *> (data)->self);
  if (written > 0)
    {
      sf_archiver_add_processed_size (archiver, written);
      sf_archiver_update_progress (archiver);
      if (g_getenv ("SF_SLOW") != NULL)
        g_usleep (slow_file_delay_us);
    }
  return !sf_archiver_is_cancelled (archiver);
}

/* Streams the entry's data into fd, never more than the entry declares. */
Result
copy_entry (CategoryWalk &walk, SfZipReader *reader, const SfZipEntry &entry, int fd,
            FileFailure *failure)
{
  g_autoptr (GError) read_error = NULL;
  switch (sf_zip_copy_entry (reader, entry.size, fd, walk.buffer, SF_ARCHIVER_ZIP_BUFFER_SIZE,
                             copy_step, &walk, &read_error))
    {
    case SF_ZIP_COPY_DONE:
      return RESULT_DONE;
    case SF_ZIP_COPY_STOPPED:
      return RESULT_CANCELLED;
    case SF_ZIP_COPY_READ_FAILED:
      SF_LOG_ERROR ("Restore IO error from gsf.");
      [[fallthrough]];
    case SF_ZIP_COPY_TOO_LONG:
      failure->reason = SF_RESTORE_FAILURE_CORRUPT_BACKUP;
      failure->message = read_error->message;
      return RESULT_FAILED;
    case SF_ZIP_COPY_WRITE_FAILED:
      break;
    }
  if (is_space_errno (errno))
    failure->reason = SF_RESTORE_FAILURE_INSUFFICIENT_SPACE;
  failure->message = g_strerror (errno);
  return RESULT_FAILED;
}

/* Gives the complete file its mode and time, closes it and renames it over name. */
gboolean
finish_file (int fd, int folder, const std::string &temporary, const gchar *name,
             const SfZipEntry &entry, FileFailure *failure)
{
  gboolean done = fchmod (fd, entry.mode & 0777) == 0;
  if (entry.mtime > 0)
    {
      struct timespec times[2] = { { (time_t)entry.mtime, 0 }, { (time_t)entry.mtime, 0 } };
      done = futimens (fd, times) == 0 && done;
    }
  if (!done)
    SF_LOG_WARNING ("Failed to set timestamp and permissions during restore.");
  if (close (fd) != 0 || renameat (folder, temporary.c_str (), folder, name) != 0)
    {
      if (is_space_errno (errno))
        failure->reason = SF_RESTORE_FAILURE_INSUFFICIENT_SPACE;
      failure->message = g_strerror (errno);
      return FALSE;
    }
  return TRUE;
}

Result
simulated_failure (const std::string &destination, FileFailure *failure)
{
  const gchar *fail_path = g_getenv ("SF_FAIL_PATH");
  if (fail_path == NULL || destination.find (fail_path) == std::string::npos)
    return RESULT_DONE;
  printf ("Simulated error: %s\n", destination.c_str ());
  fflush (stdout);
  failure->message = "simulated error";
  return RESULT_FAILED;
}

/* Writes the entry to a temporary file in its destination folder and renames it into place once
 * complete: the destination is never replaced by anything incomplete. */
Result
unpack_file (CategoryWalk &walk, SfZipReader *reader, const SfZipEntry &entry, const Place &place,
             const std::string &destination, FileFailure *failure)
{
  SfArchiver *archiver = SF_ARCHIVER (walk.self);
  if (g_getenv ("SF_SLOW") != NULL)
    g_usleep (slow_file_delay_us);
  if (simulated_failure (destination, failure) != RESULT_DONE)
    return RESULT_FAILED;

  int folder = file_folder (walk, place, destination);
  if (folder < 0)
    {
      failure->message = errno == ELOOP || errno == ENOTDIR
                             ? "a symbolic link or a file is in the way of its folder"
                             : g_strerror (errno);
      return RESULT_FAILED;
    }
  const gchar *name = place.below.back ().c_str ();
  struct stat existing;
  if (fstatat (folder, name, &existing, AT_SYMLINK_NOFOLLOW) == 0)
    {
      gboolean same_time
          = existing.st_mtime - entry.mtime <= 1 && entry.mtime - existing.st_mtime <= 1;
      /* A folder in the way keeps the stored file out. */
      if (S_ISDIR (existing.st_mode) || (S_ISREG (existing.st_mode) && same_time))
        {
          count_as_done (archiver, entry.size);
          return RESULT_DONE;
        }
    }

  if (!enough_space (folder, entry.size))
    {
      failure->reason = SF_RESTORE_FAILURE_INSUFFICIENT_SPACE;
      failure->message = "Restore, not enough space";
      return RESULT_FAILED;
    }
  std::string temporary;
  int fd = create_temporary (folder, &temporary);
  if (fd < 0)
    {
      if (is_space_errno (errno))
        failure->reason = SF_RESTORE_FAILURE_INSUFFICIENT_SPACE;
      failure->message = g_strerror (errno);
      return RESULT_FAILED;
    }
  note_written (walk);
  Result result = copy_entry (walk, reader, entry, fd, failure);
  if (result != RESULT_DONE)
    close (fd);
  else if (!finish_file (fd, folder, temporary, name, entry, failure))
    result = RESULT_FAILED;
  if (result != RESULT_DONE)
    {
      unlinkat (folder, temporary.c_str (), 0);
      return result;
    }
  sf_restore_transform_add_file (walk.self->restore_transform, walk.category, destination.c_str ());
  sf_archiver_add_processed_files (archiver, 1);
  sf_archiver_update_progress (archiver);
  return RESULT_DONE;
}

/* A folder entry below a location: made with its stored mode, never open to everyone. An
 * existing folder keeps its mode. */
void
unpack_folder (const SfZipEntry &entry, const Place &place)
{
  int fd = open_folder (place, place.below.size (), (entry.mode & 0775) | 0700);
  if (fd >= 0)
    close (fd);
  else
    SF_LOG_DEBUG ("Could not restore folder %s/%s: %s", place.base.c_str (),
                  place.below.back ().c_str (), g_strerror (errno));
}

void
fail_file (CategoryWalk &walk, const std::string &shown, const FileFailure &failure)
{
  SfArchiver *archiver = SF_ARCHIVER (walk.self);
  if (walk.category == SF_CATEGORY_OTHER)
    SF_LOG_WARNING ("Ignoring error for 'other' file %s", shown.c_str ());
  else
    {
      SF_LOG_WARNING ("Unpacking of file failed ----> %s\n", shown.c_str ());
      SF_LOG_WARNING ("%s", failure.reason == SF_RESTORE_FAILURE_INSUFFICIENT_SPACE
                                ? "Restore, not enough space"
                                : failure.message.c_str ());
      SF_LOG_DEBUG ("Unpacking will continue...");
    }
  note_failure (walk, failure.reason);
  sf_archiver_add_processed_files (archiver, 1);
  sf_archiver_update_progress (archiver);
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
  FileFailure failure;
  if (entry.is_link)
    {
      SF_LOG_WARNING ("Restore, symbolic link skipped: %s", destination.c_str ());
      count_as_done (archiver, entry.size);
      return RESULT_DONE;
    }
  if (!entry.name_valid || !is_safe_relative_path (relative))
    {
      failure.reason
          = entry.name_valid ? SF_RESTORE_FAILURE_UNKNOWN_ERROR : SF_RESTORE_FAILURE_CORRUPT_BACKUP;
      failure.message = "the entry's name is not usable";
      if (!entry.is_dir)
        fail_file (walk, entry.name, failure);
      return RESULT_DONE;
    }

  Place place;
  Where where = locate (walk, destination, &place);
  if (entry.is_dir)
    {
      /* The location itself and the folders leading to it are the device's. */
      if (where == Where::INSIDE && place.base + "/" + place.below.back () != destination)
        unpack_folder (entry, place);
      else if (where == Where::OUTSIDE)
        SF_LOG_WARNING ("Restore, outside the category's locations: %s", destination.c_str ());
      return RESULT_DONE;
    }
  if (where != Where::INSIDE)
    {
      SF_LOG_WARNING ("Restore, outside the category's locations: %s", destination.c_str ());
      failure.message = "outside the category's locations";
      fail_file (walk, destination, failure);
      return RESULT_DONE;
    }
  if (is_excluded (walk, destination))
    {
      SF_LOG_DEBUG ("  Excluded file: %s\n", destination.c_str ());
      count_as_done (archiver, entry.size);
      return RESULT_DONE;
    }

  SF_LOG_DEBUG ("  Unpacking file: %s\n", destination.c_str ());
  Result result = unpack_file (walk, reader, entry, place, destination, &failure);
  if (result == RESULT_FAILED)
    fail_file (walk, destination, failure);
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

/* The include paths of category in table, as paths. */
void
add_locations (std::vector<std::string> *paths, SfBackupLocations *table, SfCategory category)
{
  if (table == NULL)
    return;
  GSList *uris = sf_backup_locations_get_uris (table, category, FALSE);
  for (GSList *item = uris; item != NULL; item = item->next)
    {
      g_autofree gchar *path = g_strcompress (static_cast<const gchar *> (item->data));
      if (g_path_is_absolute (path) && strcmp (path, "/") != 0)
        paths->push_back (path);
    }
  g_slist_free_full (uris, g_free);
}

/* The error that gives the category its reason when some of its files failed. */
void
set_file_failures (GError **error, SfCategory category, gint reason)
{
  const gchar *name = sf_category_to_string (category);
  if (reason == SF_RESTORE_FAILURE_INSUFFICIENT_SPACE)
    g_set_error_literal (error, SF_ERROR, SF_ERROR_RESTORE_NO_SPACE, "Restore, not enough space");
  else if (reason == SF_RESTORE_FAILURE_CORRUPT_BACKUP)
    g_set_error (error, SF_ERROR, SF_ERROR_RESTORE_CORRUPT_BACKUP,
                 "Backup archive of %s has damaged entries", name);
  else
    g_set_error (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "Some files of %s were not restored",
                 name);
}

/* Restores every entry below the root folder of one category archive. */
Result
unpack_category (SfArchiverZip *self, RestoreRun *run, SfCategory category, guint8 *buffer,
                 GError **error)
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
  walk.run = run;
  walk.category = category;
  walk.buffer = buffer;
  walk.exclusions = exclusion_patterns (self->locations, category);
  add_locations (&walk.locations, self->locations, category);
  add_locations (&walk.locations, self->permanent_locations, category);
  const std::string root = std::string (SF_ARCHIVER_ZIP_ROOT) + "/";
  Result result = RESULT_DONE;
  SfZipEntry entry;
  g_autoptr (GError) next_error = NULL;
  while (result == RESULT_DONE && sf_zip_reader_next_entry (reader, &entry, &next_error))
    {
      std::string name = entry.name;
      if (entry.name_valid && name.compare (0, root.size (), root) != 0)
        continue;
      std::string relative = name.substr (MIN (root.size (), name.size ()));
      while (!relative.empty () && relative.back () == '/')
        relative.pop_back ();
      if (relative.empty () && entry.name_valid)
        continue;
      result = unpack_entry (walk, reader, entry, relative);
    }
  sf_zip_reader_free (reader);
  SF_LOG_DEBUG ("Cleaning up temporary files\n");
  if (result != RESULT_DONE)
    return result;

  if (next_error != NULL)
    {
      g_set_error (error, SF_ERROR, SF_ERROR_RESTORE_CORRUPT_BACKUP,
                   "Backup archive of %s is damaged: %s", sf_category_to_string (category),
                   next_error->message);
      return RESULT_FAILED;
    }
  if (walk.first_failure >= 0)
    {
      set_file_failures (error, category, walk.first_failure);
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

/* Flushes every file system written to so far. The restored files reach the media before the
 * restore says it ended: one flush per file system rather than one per file. A worker with no
 * category left flushes too while the others go on, so that the flush at the end has less left to
 * do. */
void
flush_file_systems (RestoreRun *run)
{
  std::vector<int> fds;
  g_mutex_lock (&run->mutex);
  for (const auto &[device, fd] : run->written_file_systems)
    fds.push_back (fd);
  g_mutex_unlock (&run->mutex);
  for (int fd : fds)
    if (syncfs (fd) != 0)
      SF_LOG_WARNING ("Could not flush the restored files: %s", g_strerror (errno));
}

/* What the workers unpacking categories at the same time share. */
struct UnpackRun
{
  SfArchiverZip *self;
  RestoreRun *files;
  SfRestoreFailure *failure;
  guint simulated;
  /* The requested categories in index order, and the index of the next one to take. */
  std::vector<SfCategory> categories;
  gint next = 0;
  /* Set when the remaining categories cannot be restored either. */
  gint stopped = 0;
  gint cancelled = 0;
  /* Guards failure and ended. */
  GMutex mutex;
  /* The categories whose walk ended, restored or failed; a cancel leaves the others. */
  guint ended = SF_CATEGORY_NONE;

  UnpackRun ()
  {
    g_mutex_init (&mutex);
  }
  ~UnpackRun ()
  {
    g_mutex_clear (&mutex);
  }
};

/* Restores one requested category, or fails it as the backup or a test hook says. */
Result
unpack_one (UnpackRun *run, SfCategory category, guint8 *buffer, GError **error)
{
  SfArchiverZip *self = run->self;
  if (run->simulated & category)
    {
      printf ("Simulating failure: %s\n", sf_category_to_string (category));
      fflush (stdout);
      g_set_error_literal (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "Simulated error");
      return RESULT_FAILED;
    }
  if (!(sf_backup_info_get_categories (self->backup_info) & category))
    return RESULT_DONE;
  return unpack_category (self, run->files, category, buffer, error);
}

/* One worker: takes the next category until none is left, the restore is cancelled or it cannot
 * go on. */
void
unpack_worker (UnpackRun *run)
{
  g_autofree guint8 *buffer = static_cast<guint8 *> (g_malloc (SF_ARCHIVER_ZIP_BUFFER_SIZE));
  for (;;)
    {
      if (g_atomic_int_get (&run->stopped))
        return;
      if (sf_archiver_is_cancelled (SF_ARCHIVER (run->self)))
        {
          g_atomic_int_set (&run->cancelled, 1);
          return;
        }
      gint index = g_atomic_int_add (&run->next, 1);
      if (index >= (gint)run->categories.size ())
        {
          flush_file_systems (run->files);
          return;
        }
      SfCategory category = run->categories[index];
      g_autoptr (GError) error = NULL;
      Result result = unpack_one (run, category, buffer, &error);
      if (result == RESULT_CANCELLED)
        {
          g_atomic_int_set (&run->cancelled, 1);
          return;
        }
      g_mutex_lock (&run->mutex);
      run->ended |= category;
      gboolean go_on = TRUE;
      if (result == RESULT_DONE)
        sf_restore_failure_remove_category (run->failure, category);
      else
        go_on = record_category_error (run->failure, category, error);
      g_mutex_unlock (&run->mutex);
      if (!go_on)
        {
          g_atomic_int_set (&run->stopped, 1);
          return;
        }
    }
}

/* Unpacks the requested categories, several at once, each taken in index order. On a cancel,
 * every requested category present in the backup whose walk had not ended is recorded as
 * cancelled. */
Result
unpack_categories (SfArchiverZip *self, RestoreRun *files, SfRestoreFailure *failure)
{
  UnpackRun run;
  run.self = self;
  run.files = files;
  run.failure = failure;
  run.simulated = categories_from_names (g_getenv ("SF_FAIL_CATEGORIES"));
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if (self->categories & category)
        run.categories.push_back (category);
      else
        sf_restore_failure_remove_category (failure, category);
    }
  _sf_archiver_zip_run_workers (sf_parallel_thread_count (run.categories.size ()),
                                [&run] { unpack_worker (&run); });

  if (!run.cancelled)
    return run.stopped ? RESULT_FAILED : RESULT_DONE;
  guint present = sf_backup_info_get_categories (self->backup_info);
  for (SfCategory category : run.categories)
    if ((present & category) && !(run.ended & category))
      sf_restore_failure_set_category_reason (failure, category, SF_RESTORE_FAILURE_CANCELLED);
  return RESULT_CANCELLED;
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
  Result result;
  {
    RestoreRun run;
    result = unpack_categories (self, &run, failure);
    flush_file_systems (&run);
  }

  sf_archiver_send_finalizing (archiver);
  sf_archiver_set_restore_failure (archiver, failure);
  sf_archiver_set_restore_written_categories (
      archiver, sf_restore_transform_get_categories (self->restore_transform));
  sf_restore_transform_execute (self->restore_transform, self->categories);
  sf_utils_shutdown_gconfd ();

  if (result == RESULT_CANCELLED)
    sf_archiver_send_cancelled (archiver);
  else
    sf_archiver_send_finished (archiver);
  if (lock_fd >= 0)
    close (lock_fd);
  SF_LOG_DEBUG ("Thread done.\n");
}

namespace
{
/* The archive at path as an input, or NULL. A backup comes from a card or a desktop suite: the
 * file is opened without blocking and taken only when it is a regular file, so that a pipe under
 * an archive's name cannot hang the check or the restore. */
GsfInput *
open_archive_file (const gchar *path)
{
  int descriptor = g_open (path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0);
  if (descriptor < 0)
    return NULL;
  struct stat status;
  FILE *stream = NULL;
  if (fstat (descriptor, &status) == 0 && S_ISREG (status.st_mode)
      && fcntl (descriptor, F_SETFL, fcntl (descriptor, F_GETFL) & ~O_NONBLOCK) == 0)
    stream = fdopen (descriptor, "rb");
  if (stream == NULL)
    {
      close (descriptor);
      return NULL;
    }
  return gsf_input_stdio_new_FILE (path, stream, FALSE);
}
} // namespace

/* Opens the category archive through the decrypting input. */
GsfInput *
_sf_archiver_zip_open_plain (SfBackupInfo *info, SfCategory category, const gchar *password,
                             GError **error)
{
  g_autofree gchar *path = sf_backup_info_get_category_archive_path (info, category);
  GsfInput *file = open_archive_file (path);
  if (file == NULL)
    {
      SF_LOG_WARNING ("Could not open backup file");
      g_set_error_literal (error, SF_ERROR, SF_ERROR_RESTORE_FAILED, "Could not open backup file");
      return NULL;
    }
  /* A cipher stream is whole blocks, at least the data block and the padding block: anything else
   * is damage, which no password would mend. */
  gsf_off_t length = gsf_input_size (file);
  if (password != NULL && (length % SF_CRYPT_BLOCK_SIZE != 0 || length < 2 * SF_CRYPT_BLOCK_SIZE))
    {
      g_object_unref (file);
      g_set_error (error, SF_ERROR, SF_ERROR_RESTORE_CORRUPT_BACKUP,
                   "Backup archive of %s is damaged: its length is not whole cipher blocks",
                   sf_category_to_string (category));
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
  return plain;
}

SfZipReader *
_sf_archiver_zip_open_category (SfBackupInfo *info, SfCategory category, const gchar *password,
                                GError **error)
{
  GsfInput *plain = _sf_archiver_zip_open_plain (info, category, password, error);
  if (plain == NULL)
    return NULL;
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
