/* The extract command: the files of a backup below DEST, never anywhere else. Every file is
 * written to a temporary file beside its destination and renamed into place once complete, so a
 * failure leaves nothing half-written; folders below DEST are entered without following symbolic
 * links, so a link planted there cannot carry a file outside. */

#include "safehold-archive.h"

#include "sf-archiver-zip.h"
#include "sf-error.h"
#include "sf-i18n.h"
#include "sf-zip-copy.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const gsize copy_buffer_size = 256 * 1024;
const gchar *const root_prefix = "Root/";
/* Existing files named one by one; the rest are counted in the summary. */
const guint existing_files_named = 10;

enum EntryResult
{
  ENTRY_DONE,        /* written, or reported and left out */
  ENTRY_DEST_FAILED, /* DEST cannot take more files */
  ENTRY_DEST_FULL,   /* DEST has no room left */
};

struct Extraction
{
  std::string dest;
  int dest_fd = -1;
  gboolean overwrite = FALSE;
  ArchiveProgress progress;
  guint8 *buffer = nullptr;
  /* The folder of the last file, kept open for the files that follow it. */
  std::string folder;
  int folder_fd = -1;
  guint written = 0;
  guint not_written = 0;
  guint existing = 0;
};

G_GNUC_PRINTF (2, 3)
void
report (Extraction *extraction, const gchar *format, ...)
{
  archive_progress_clear (&extraction->progress);
  va_list arguments;
  va_start (arguments, format);
  g_autofree gchar *message = g_strdup_vprintf (format, arguments);
  va_end (arguments);
  fprintf (stderr, "safehold-archive: %s\n", archive_escape (message).c_str ());
}

void
report_existing (Extraction *extraction, const std::string &shown)
{
  if (extraction->existing++ < existing_files_named)
    report (extraction, "%s: not extracted: it exists; give --overwrite to replace it",
            shown.c_str ());
}

/* What errno says about DEST as a whole. */
EntryResult
dest_state (int error_number)
{
  if (error_number == ENOSPC || error_number == EDQUOT)
    return ENTRY_DEST_FULL;
  if (error_number == EROFS || error_number == EIO)
    return ENTRY_DEST_FAILED;
  return ENTRY_DONE;
}

/* The components of name below the archive's root folder; FALSE for a path that is not below it
 * or that has an empty, "." or ".." component. */
gboolean
split_entry_name (const gchar *name, gboolean is_dir, std::vector<std::string> *components)
{
  if (!g_str_has_prefix (name, root_prefix))
    return FALSE;
  std::string path = name + strlen (root_prefix);
  if (is_dir && !path.empty () && path.back () == '/')
    path.pop_back ();
  if (is_dir && path.empty ())
    return TRUE;
  g_auto (GStrv) parts = g_strsplit (path.c_str (), "/", -1);
  for (gchar **part = parts; *part != NULL; part++)
    {
      if (**part == '\0' || strcmp (*part, ".") == 0 || strcmp (*part, "..") == 0)
        return FALSE;
      components->push_back (*part);
    }
  return TRUE;
}

std::string
join (const std::vector<std::string> &components, gsize count)
{
  std::string path;
  for (gsize index = 0; index < count; index++)
    path += (index > 0 ? "/" : "") + components[index];
  return path;
}

/* Opens (creating what is missing) the folder of the first count components below DEST, entering
 * each without following links. -1 with errno set on failure. */
int
walk_folder (Extraction *extraction, const std::vector<std::string> &components, gsize count)
{
  int fd = dup (extraction->dest_fd);
  for (gsize index = 0; fd >= 0 && index < count; index++)
    {
      const gchar *name = components[index].c_str ();
      const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
      int next = openat (fd, name, flags);
      if (next < 0 && errno == ENOENT && (mkdirat (fd, name, 0755) == 0 || errno == EEXIST))
        next = openat (fd, name, flags);
      int saved_errno = errno;
      close (fd);
      errno = saved_errno;
      fd = next;
    }
  return fd;
}

/* The folder below DEST that will hold the last component; -1 after reporting. */
int
open_folder (Extraction *extraction, const std::vector<std::string> &components, gsize count)
{
  std::string folder = join (components, count);
  if (extraction->folder_fd >= 0 && folder == extraction->folder)
    return extraction->folder_fd;
  if (extraction->folder_fd >= 0)
    close (extraction->folder_fd);
  extraction->folder = folder;
  extraction->folder_fd = walk_folder (extraction, components, count);
  if (extraction->folder_fd < 0)
    {
      int saved_errno = errno;
      const gchar *reason = errno == ELOOP || errno == ENOTDIR
                                ? "a symbolic link or a file is in the way of a folder on it; "
                                  "extract into an empty DEST"
                                : g_strerror (errno);
      report (extraction, "%s/%s: could not create the folder: %s", extraction->dest.c_str (),
              folder.c_str (), reason);
      errno = saved_errno;
    }
  return extraction->folder_fd;
}

/* A new temporary file in folder; its name in name. */
int
create_temporary (int folder, std::string *name)
{
  for (int attempt = 0; attempt < 100; attempt++)
    {
      g_autofree gchar *candidate = g_strdup_printf (".safehold-archive-%08x", g_random_int ());
      int fd
          = openat (folder, candidate, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0 || errno != EEXIST)
        {
          *name = candidate;
          return fd;
        }
    }
  return -1;
}

/* Counts each written chunk in the progress bar. */
gboolean
count_chunk (gsize written, gpointer data)
{
  if (written > 0)
    archive_progress_add (&static_cast<Extraction *> (data)->progress, written);
  return TRUE;
}

/* Copies the entry's data into fd, never more than it declares; the reader's failure in error.
 * errno is set when the write failed. */
gboolean
copy_data (Extraction *extraction, SfZipReader *reader, const SfZipEntry &entry, int fd,
           GError **error)
{
  return sf_zip_copy_entry (reader, entry.size, fd, extraction->buffer, copy_buffer_size,
                            count_chunk, extraction, error)
         == SF_ZIP_COPY_DONE;
}

/* Gives the written file its permission bits and time, and closes it. */
gboolean
finish_file (int fd, const SfZipEntry &entry)
{
  struct timespec times[2] = { { (time_t)entry.mtime, 0 }, { (time_t)entry.mtime, 0 } };
  gboolean done = fchmod (fd, entry.mode & 0777) == 0 && futimens (fd, times) == 0;
  int saved_errno = errno;
  if (close (fd) != 0 && done)
    return FALSE;
  errno = saved_errno;
  return done;
}

/* Puts the complete temporary file in place; without --overwrite never over an existing file. */
gboolean
move_into_place (Extraction *extraction, int folder, const std::string &temporary,
                 const gchar *name)
{
  if (extraction->overwrite)
    return renameat (folder, temporary.c_str (), folder, name) == 0;
  if (renameat2 (folder, temporary.c_str (), folder, name, RENAME_NOREPLACE) == 0)
    return TRUE;
  if (errno != EINVAL)
    return FALSE;
  /* File systems that cannot refuse atomically: check, then rename. */
  struct stat info;
  if (fstatat (folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0)
    {
      errno = EEXIST;
      return FALSE;
    }
  return renameat (folder, temporary.c_str (), folder, name) == 0;
}

/* Whether a file may be written at name in folder; reported when not. */
gboolean
may_write (Extraction *extraction, int folder, const gchar *name, const std::string &shown)
{
  struct stat info;
  if (fstatat (folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
    return TRUE;
  if (S_ISDIR (info.st_mode))
    report (extraction, "%s: not extracted: a folder of that name is there; move it away",
            shown.c_str ());
  else if (!extraction->overwrite)
    report_existing (extraction, shown);
  else
    return TRUE;
  return FALSE;
}

/* Reports a file that could not be written because of error_number. */
EntryResult
write_failed (Extraction *extraction, const std::string &shown, int error_number)
{
  extraction->not_written++;
  if (error_number == EEXIST)
    report_existing (extraction, shown);
  else
    report (extraction, "%s: could not write it: %s; check that DEST is writable and has room",
            shown.c_str (), g_strerror (error_number));
  return dest_state (error_number);
}

EntryResult
extract_file (Extraction *extraction, SfZipReader *reader, const SfZipEntry &entry,
              const std::vector<std::string> &components)
{
  std::string shown = extraction->dest + "/" + join (components, components.size ());
  const gchar *name = components.back ().c_str ();
  int folder = open_folder (extraction, components, components.size () - 1);
  if (folder < 0 || !may_write (extraction, folder, name, shown))
    {
      extraction->not_written++;
      archive_progress_add (&extraction->progress, entry.size);
      return folder < 0 ? dest_state (errno) : ENTRY_DONE;
    }
  std::string temporary;
  int fd = create_temporary (folder, &temporary);
  if (fd < 0)
    return write_failed (extraction, shown, errno);
  g_autoptr (GError) error = NULL;
  if (!copy_data (extraction, reader, entry, fd, &error))
    {
      int saved_errno = errno;
      close (fd);
      unlinkat (folder, temporary.c_str (), 0);
      if (error == NULL)
        return write_failed (extraction, shown, saved_errno);
      extraction->not_written++;
      report (extraction, "%s: not extracted: the archive is damaged there (%s)", shown.c_str (),
              error->message);
      return ENTRY_DONE;
    }
  if (!finish_file (fd, entry) || !move_into_place (extraction, folder, temporary, name))
    {
      int saved_errno = errno;
      unlinkat (folder, temporary.c_str (), 0);
      return write_failed (extraction, shown, saved_errno);
    }
  extraction->written++;
  return ENTRY_DONE;
}

/* Folders come from their files' paths; an entry for one only gives its permission bits, keeping
 * it open to its owner so that the files below can still be written. */
EntryResult
extract_folder (Extraction *extraction, const SfZipEntry &entry,
                const std::vector<std::string> &components)
{
  if (components.empty ())
    return ENTRY_DONE;
  int folder = open_folder (extraction, components, components.size ());
  if (folder < 0)
    return dest_state (errno);
  fchmod (folder, (entry.mode & 0777) | S_IRWXU);
  return ENTRY_DONE;
}

EntryResult
extract_entry (Extraction *extraction, SfZipReader *reader, const SfZipEntry &entry,
               const gchar *archive)
{
  if (entry.is_link)
    {
      report (extraction, "%s: entry \"%s\" skipped: it is a symbolic link", archive, entry.name);
      return ENTRY_DONE;
    }
  if (!entry.name_valid)
    {
      report (extraction, "%s: entry \"%s\" not extracted: its name is damaged (not UTF-8)",
              archive, entry.name);
      extraction->not_written++;
      archive_progress_add (&extraction->progress, entry.size);
      return ENTRY_DONE;
    }
  std::vector<std::string> components;
  if (!split_entry_name (entry.name, entry.is_dir, &components))
    {
      report (extraction,
              "%s: entry \"%s\" refused: its path is not below the archive's \"Root\" folder or "
              "has an empty, \".\" or \"..\" component, and could lead outside DEST",
              archive, entry.name);
      extraction->not_written++;
      archive_progress_add (&extraction->progress, entry.size);
      return ENTRY_DONE;
    }
  if (entry.is_dir)
    return extract_folder (extraction, entry, components);
  return extract_file (extraction, reader, entry, components);
}

/* The status the category adds to the command's. */
int
extract_category (Extraction *extraction, SfBackupInfo *info, SfCategory category,
                  const gchar *password)
{
  g_autofree gchar *archive = sf_backup_info_get_category_archive_path (info, category);
  g_autoptr (GError) error = NULL;
  g_autoptr (SfZipReader) reader = sf_archiver_zip_open_category (info, category, password, &error);
  if (reader == NULL && g_error_matches (error, SF_ERROR, SF_ERROR_WRONG_PASSWORD))
    {
      report (extraction, "%s: wrong password; check the password and try again", archive);
      return ARCHIVE_STATUS_PASSWORD;
    }
  if (reader == NULL)
    {
      report (extraction,
              "%s: could not open the archive of %s: %s; the backup is damaged or "
              "incomplete",
              archive, sf_category_to_string (category), error->message);
      return ARCHIVE_STATUS_INCOMPLETE;
    }
  SfZipEntry entry;
  EntryResult result = ENTRY_DONE;
  while (result == ENTRY_DONE && sf_zip_reader_next_entry (reader, &entry, &error))
    result = extract_entry (extraction, reader, entry, archive);
  if (result == ENTRY_DEST_FULL)
    {
      report (extraction, "%s is full; make room there, or extract elsewhere",
              extraction->dest.c_str ());
      return ARCHIVE_STATUS_DISK_FULL;
    }
  if (result == ENTRY_DEST_FAILED)
    return ARCHIVE_STATUS_USAGE;
  if (error != NULL)
    {
      report (extraction, "%s: damaged: %s; the files extracted before the damage are intact",
              archive, error->message);
      return ARCHIVE_STATUS_INCOMPLETE;
    }
  return ARCHIVE_STATUS_OK;
}

/* The categories named with --category, or every one of the backup; NONE after reporting. */
guint32
chosen_categories (SfBackupInfo *info, const ArchiveOptions &options)
{
  guint32 present = sf_backup_info_get_categories (info);
  if (options.categories == NULL)
    return present;
  guint32 chosen = 0;
  for (gchar **name = options.categories; *name != NULL; name++)
    {
      SfCategory category = sf_category_from_string (*name);
      if ((present & category) == 0)
        {
          fprintf (stderr,
                   "safehold-archive: backup %s has no category \"%s\"; \"safehold-archive show\" "
                   "lists the ones it has\n",
                   archive_escape (sf_backup_info_get_name (info)).c_str (),
                   archive_escape (*name).c_str ());
          return SF_CATEGORY_NONE;
        }
      chosen |= category;
    }
  return chosen;
}

void
print_summary (const Extraction *extraction)
{
  printf (sf_i18n_translate_plural ("%u file extracted to %s", "%u files extracted to %s",
                                    extraction->written),
          extraction->written, extraction->dest.c_str ());
  if (extraction->existing > 0)
    printf (sf_i18n_translate_plural ("; %u existing file kept (give --overwrite to replace it)",
                                      "; %u existing files kept (give --overwrite to replace them)",
                                      extraction->existing),
            extraction->existing);
  guint failed = extraction->not_written - extraction->existing;
  if (extraction->not_written > extraction->existing)
    printf (sf_i18n_translate_plural ("; %u file not extracted (see the messages above)",
                                      "; %u files not extracted (see the messages above)", failed),
            failed);
  printf ("\n");
}

/* Whether password opens the backup's archives, tried before DEST is made so that a wrong one
 * leaves nothing behind. Reported when it does not. */
gboolean
password_opens (SfBackupInfo *info, guint32 categories, const gchar *password)
{
  if (password == NULL)
    return TRUE;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if ((categories & category) == 0)
        continue;
      g_autoptr (GError) error = NULL;
      g_autoptr (SfZipReader) reader
          = sf_archiver_zip_open_category (info, category, password, &error);
      if (reader != NULL)
        return TRUE;
      if (g_error_matches (error, SF_ERROR, SF_ERROR_WRONG_PASSWORD))
        {
          g_autofree gchar *archive = sf_backup_info_get_category_archive_path (info, category);
          fprintf (stderr,
                   "safehold-archive: %s: wrong password; check the password and try again\n",
                   archive_escape (archive).c_str ());
          return FALSE;
        }
    }
  return TRUE;
}

int
open_dest (const std::string &dest)
{
  int fd = -1;
  if (g_mkdir_with_parents (dest.c_str (), 0755) == 0)
    fd = open (dest.c_str (), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    fprintf (stderr, "safehold-archive: %s: could not create or open the folder: %s\n",
             dest.c_str (), g_strerror (errno));
  return fd;
}

int
extract_categories (Extraction *extraction, SfBackupInfo *info, guint32 categories,
                    const gchar *password)
{
  int status = ARCHIVE_STATUS_OK;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if ((categories & category) == 0)
        continue;
      int result = extract_category (extraction, info, category, password);
      if (result != ARCHIVE_STATUS_OK)
        status = result;
      if (result == ARCHIVE_STATUS_PASSWORD || result == ARCHIVE_STATUS_USAGE
          || result == ARCHIVE_STATUS_DISK_FULL)
        break;
    }
  archive_progress_clear (&extraction->progress);
  if (status == ARCHIVE_STATUS_OK && extraction->not_written > 0)
    status = ARCHIVE_STATUS_INCOMPLETE;
  return status;
}
} // namespace

int
archive_extract (const ArchiveOptions &options)
{
  g_autoptr (SfBackupInfo) info = archive_open_backup (options.arguments[0]);
  if (info == NULL)
    return ARCHIVE_STATUS_USAGE;
  guint32 categories = chosen_categories (info, options);
  if (categories == SF_CATEGORY_NONE)
    return ARCHIVE_STATUS_USAGE;
  int status = ARCHIVE_STATUS_OK;
  gchar *password = archive_password_get (info, options, &status);
  if (password == NULL)
    return status;
  const gchar *usable_password = password[0] != '\0' ? password : NULL;
  if (!password_opens (info, categories, usable_password))
    {
      archive_password_free (password);
      return ARCHIVE_STATUS_PASSWORD;
    }
  Extraction extraction;
  extraction.dest = options.arguments[1];
  extraction.overwrite = options.overwrite;
  extraction.dest_fd = open_dest (extraction.dest);
  if (extraction.dest_fd >= 0)
    {
      extraction.buffer = static_cast<guint8 *> (g_malloc (copy_buffer_size));
      archive_progress_start (&extraction.progress,
                              sf_backup_info_get_size_for_categories (info, categories),
                              options.quiet);
      status = extract_categories (&extraction, info, categories, usable_password);
      if (!options.quiet && status != ARCHIVE_STATUS_PASSWORD)
        print_summary (&extraction);
      g_free (extraction.buffer);
      if (extraction.folder_fd >= 0)
        close (extraction.folder_fd);
      close (extraction.dest_fd);
    }
  else
    status = ARCHIVE_STATUS_USAGE;
  archive_password_free (password);
  return status;
}
