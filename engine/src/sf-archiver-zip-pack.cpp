#include "sf-archiver-zip-private.h"

#include "gsf-output-crypt.h"
#include "sf-backend.h"
#include "sf-error.h"
#include "sf-file-entry.h"
#include "sf-log.h"
#include "sf-parallel.h"
#include "sf-pre-backup.h"
#include "sf-vfs-utils.h"
#include "sf-zip-writer.h"

#include <fcntl.h>
#include <glib/gstdio.h>
#include <gsf/gsf-output-stdio.h>
#include <sys/stat.h>
#include <unistd.h>

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

/* Below this many free bytes a failed write is taken for a full card. */
const guint64 full_card_free_bytes = 10240;

/* A source file that was stored, as it was when it was read. */
struct PackedFile
{
  std::string path;
  off_t size;
  time_t mtime;
};

/* Everything one category's archive is written through, outermost last. */
struct CategoryOutput
{
  GsfOutput *file = NULL;
  GsfOutput *crypt = NULL;
  SfZipWriter *zip = NULL;

  /* Closes the layers from the outermost in; TRUE when each closed cleanly, with the checksum of
   * the bytes of the archive's file. Stops at the first failure and leaves the rest to the
   * destructor: closing the file gives up its unfinished copy, and the space it held would hide a
   * full card from the caller's check. */
  gboolean close (SfArchiverZipChecksum *written, GError **error)
  {
    if (zip != NULL && !sf_zip_writer_close (zip, error))
      return FALSE;
    if (crypt != NULL && !gsf_output_close (crypt))
      {
        g_propagate_error (error, g_error_copy (gsf_output_error (crypt)));
        return FALSE;
      }
    gsf_output_crypt_get_sink_checksum (crypt, &written->size, &written->crc);
    if (file != NULL && !gsf_output_close (file))
      {
        g_propagate_error (error, g_error_copy (gsf_output_error (file)));
        return FALSE;
      }
    return TRUE;
  }

  static void release (GsfOutput *output)
  {
    if (output == NULL)
      return;
    if (!gsf_output_is_closed (output))
      gsf_output_close (output);
    g_object_unref (output);
  }

  ~CategoryOutput ()
  {
    if (zip != NULL)
      sf_zip_writer_free (zip);
    release (crypt);
    release (file);
  }
};

gboolean
card_is_full (SfArchiverZip *self)
{
  g_autoptr (GFileInfo) info = g_file_query_filesystem_info (
      sf_backup_info_get_uri (self->backup_info), G_FILE_ATTRIBUTE_FILESYSTEM_FREE, NULL, NULL);
  return info != NULL
         && g_file_info_get_attribute_uint64 (info, G_FILE_ATTRIBUTE_FILESYSTEM_FREE)
                < full_card_free_bytes;
}

/* The errno of the archive file's failed write or close, which its layer keeps as its error's
 * code; 0 when unknown. */
gint
file_errno (GsfOutput *file)
{
  const GError *error = file != NULL ? gsf_output_error (file) : NULL;
  return error != NULL && error->domain == gsf_output_error_id () ? error->code : 0;
}

/* A failure while writing the archive: an archive larger than the card's file system holds (the
 * limit is on the compressed archive, which deflate may keep below it however large the category
 * is, so it is found by the write that passes it), a full card (said by the write, or seen in
 * what is left free), or anything else. */
void
set_write_error (SfArchiverZip *self, GsfOutput *file, GError **error, const gchar *message)
{
  gint error_number = file_errno (file);
  if (error_number == EFBIG)
    g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_FILE_TOO_LARGE,
                         "Backup, archive too large for the memory card");
  else if (error_number == ENOSPC || error_number == EDQUOT || card_is_full (self))
    g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_NO_SPACE,
                         "Backup, no space on memorycard");
  else
    g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_FAILED, message);
}

GError *
create_dir_error (const GError *cause)
{
  if (g_error_matches (cause, G_IO_ERROR, G_IO_ERROR_READ_ONLY)
      || g_error_matches (cause, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED))
    return g_error_new_literal (SF_ERROR, SF_ERROR_BACKUP_READ_ONLY, "Memory card read only");
  if (g_error_matches (cause, G_IO_ERROR, G_IO_ERROR_NO_SPACE))
    return g_error_new_literal (SF_ERROR, SF_ERROR_BACKUP_NO_SPACE, "No space");
  return g_error_new_literal (SF_ERROR, SF_ERROR_BACKUP_FAILED,
                              "Could not create backup directory");
}

/* libgsf reports a file it could not create with an error whose code is not the errno of the
 * failure, and errno is gone by then; creating a file beside the archive again tells which it
 * was. 0 when that succeeds. */
gint
creation_errno (const gchar *archive_path)
{
  g_autofree gchar *dir = g_path_get_dirname (archive_path);
  g_autofree gchar *probe = g_build_filename (dir, ".sf-probe-XXXXXX", NULL);
  gint fd = g_mkstemp_full (probe, O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0)
    return errno;
  close (fd);
  g_unlink (probe);
  return 0;
}

GError *
open_archive_error (const gchar *archive_path, const GError *cause)
{
  gint error_number = creation_errno (archive_path);
  SF_LOG_WARNING ("Could not create %s: %s (%s)", archive_path,
                  cause != NULL ? cause->message : "unknown error",
                  error_number != 0 ? g_strerror (error_number) : "cause gone");
  if (error_number == EROFS || error_number == EPERM || error_number == EACCES)
    return g_error_new_literal (SF_ERROR, SF_ERROR_BACKUP_READ_ONLY,
                                "Backup, memory card read-only");
  if (error_number == ENOSPC || error_number == EDQUOT)
    return g_error_new_literal (SF_ERROR, SF_ERROR_BACKUP_NO_SPACE, "No space");
  return g_error_new_literal (SF_ERROR, SF_ERROR_BACKUP_FAILED, "Could not create backup file");
}

/* The files of the category in the table, and adds to *counted the bytes the backend's count
 * gives the category there, from the same walk. */
GSList *
file_list (SfBackupLocations *locations, SfCategory category, guint64 *counted)
{
  if (locations == NULL)
    return NULL;
  GSList *includes = sf_backup_locations_get_uris (locations, category, FALSE);
  GSList *exclusions = sf_backup_locations_get_uris (locations, category, TRUE);
  guint32 walked_files = 0, files = 0;
  guint64 walked_size = 0, size = 0;
  GSList *entries
      = sf_vfs_utils_build_file_list_counted (includes, exclusions, &walked_files, &walked_size);
  sf_backup_locations_count_walked (locations, category, walked_files, walked_size, &files, &size);
  *counted += size;
  g_slist_free_full (includes, g_free);
  g_slist_free_full (exclusions, g_free);
  return entries;
}

/* "<parent path without its leading slash>/<base name>", the name below the root folder */
std::string
relative_name (const std::string &path)
{
  return path.substr (path.find_first_not_of ('/'));
}

/* One selected category and the files chosen for it, lists owned. */
struct CategoryFiles
{
  SfCategory category;
  GSList *ordinary = NULL;
  GSList *permanent = NULL;
  /* The bytes the backend counts for the category in both tables. */
  guint64 counted = 0;

  void release ()
  {
    g_clear_pointer (&ordinary, sf_file_entry_list_free);
    g_clear_pointer (&permanent, sf_file_entry_list_free);
  }
};

/* What the workers packing categories at the same time share. */
struct PackRun
{
  SfArchiverZip *self;
  SfArchiverZipVerifier *verifier;
  /* The selected categories in index order, and the index of the next one to take. */
  std::vector<CategoryFiles> categories;
  gint next = 0;
  /* Set once a category failed: the others stop, since the backup is lost. */
  gint failed = 0;
  GMutex mutex;
  /* Guarded by mutex: the ordinary files stored by completed categories, and the failure of the
   * first failed category in index order, which is the one reported. */
  std::vector<PackedFile> packed;
  GError *error = NULL;
  gint error_index = -1;
  gboolean cancelled = FALSE;

  PackRun ()
  {
    g_mutex_init (&mutex);
  }
  ~PackRun ()
  {
    for (CategoryFiles &files : categories)
      files.release ();
    g_clear_error (&error);
    g_mutex_clear (&mutex);
  }
};

/* The folder of the file worked on last, kept open: files come folder by folder, so each is
 * reached from its folder instead of walking its whole path again. */
struct Folder
{
  std::string path;
  gint fd = -1;

  Folder () = default;
  Folder (const Folder &) = delete;
  Folder &operator= (const Folder &) = delete;
  ~Folder ()
  {
    if (fd >= 0)
      close (fd);
  }

  /* The descriptor of the folder file_path is in, and its base name in *base; -1 with errno. */
  gint open_for (const std::string &file_path, const gchar **base)
  {
    gsize slash = file_path.rfind ('/');
    std::string folder = file_path.substr (0, MAX (slash, (gsize)1));
    *base = file_path.c_str () + slash + 1;
    if (fd >= 0 && folder == path)
      return fd;
    if (fd >= 0)
      close (fd);
    path = folder;
    fd = open (path.c_str (), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd;
  }
};

/* What one worker packs its current category with. */
struct CategoryPack
{
  PackRun *run;
  guint8 *buffer;
  /* The archive file's own layer, whose error tells why a write failed. */
  GsfOutput *file;
  std::vector<PackedFile> packed;
  /* Added to the archiver's counts, taken back when the category is not completed. */
  guint32 files = 0;
  guint64 size = 0;
  Folder folder;
};

/* Opens a listed file for reading without following a link put in its place, and without
 * writing its access time where the owner allows that; -1 with errno. */
gint
open_source (Folder *folder, const std::string &path)
{
  const gchar *base = NULL;
  gint dir_fd = folder->open_for (path, &base);
  if (dir_fd < 0)
    return -1;
  gint flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW;
  gint fd = openat (dir_fd, base, flags | O_NOATIME);
  if (fd < 0 && errno == EPERM)
    fd = openat (dir_fd, base, flags);
  return fd;
}

gboolean
must_stop (PackRun *run)
{
  return g_atomic_int_get (&run->failed) || run->verifier->failed ();
}

/* Reads from fd until buffer is full or the file ends; the count, or -1. */
gssize
read_head (gint fd, guint8 *buffer, gsize size)
{
  gsize filled = 0;
  while (filled < size)
    {
      gssize count = read (fd, buffer + filled, size - filled);
      if (count < 0 && errno == EINTR)
        continue;
      if (count < 0)
        return -1;
      if (count == 0)
        break;
      filled += count;
    }
  return filled;
}

/* Writes count bytes of the file's data to its entry and counts them. */
Result
store (CategoryPack *pack, SfZipWriter *zip, const guint8 *data, gsize count, guint64 *copied,
       GError **error)
{
  if (count > 0 && !sf_zip_writer_write (zip, data, count, NULL))
    {
      set_write_error (pack->run->self, pack->file, error, "Backup, could not write to archive");
      return RESULT_FAILED;
    }
  *copied += count;
  pack->size += count;
  sf_archiver_add_processed_size (SF_ARCHIVER (pack->run->self), count);
  sf_archiver_update_progress (SF_ARCHIVER (pack->run->self));
  return RESULT_DONE;
}

/* Copies the rest of one open source file into the archive entry begun for it. */
Result
copy_rest (CategoryPack *pack, SfZipWriter *zip, gint fd, guint64 *copied, GError **error)
{
  SfArchiver *archiver = SF_ARCHIVER (pack->run->self);
  for (;;)
    {
      if (sf_archiver_is_cancelled (archiver))
        return RESULT_CANCELLED;
      if (must_stop (pack->run))
        return RESULT_FAILED;
      gssize count = read (fd, pack->buffer, SF_ARCHIVER_ZIP_BUFFER_SIZE);
      if (count < 0 && errno == EINTR)
        continue;
      if (count < 0)
        {
          g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_FAILED, "Error reading vfs file");
          return RESULT_FAILED;
        }
      if (count == 0)
        return RESULT_DONE;
      Result result = store (pack, zip, pack->buffer, count, copied, error);
      if (result != RESULT_DONE)
        return result;
    }
}

/* Stores one listed file and notes it in pack; ordinary says whether it is deleted after a
 * successful backup. Files that cannot be opened are skipped: they are not lost, since only
 * stored files are ever deleted. */
Result
pack_file (CategoryPack *pack, SfZipWriter *zip, SfFileEntry *entry, gboolean ordinary,
           GError **error)
{
  SfArchiverZip *self = pack->run->self;
  if (g_file_info_get_file_type (entry->info) != G_FILE_TYPE_REGULAR)
    {
      SF_LOG_DEBUG ("Skipping non-regular file.\n");
      return RESULT_DONE;
    }
  g_autofree gchar *path = g_file_get_path (entry->uri);
  SF_LOG_DEBUG ("Packing file: %s\n", path);
  gint fd = open_source (&pack->folder, path);
  struct stat before;
  if (fd < 0 || fstat (fd, &before) != 0 || !S_ISREG (before.st_mode))
    {
      SF_LOG_WARNING ("Couldn't read file:'%s' to save, %s", path,
                      g_strerror (fd < 0 ? errno : EISDIR));
      if (fd >= 0)
        close (fd);
      return RESULT_DONE;
    }

  /* A file that fits the buffer is read whole first: its entry then gets its exact size. */
  gssize head = read_head (fd, pack->buffer, SF_ARCHIVER_ZIP_BUFFER_SIZE);
  if (head < 0)
    {
      close (fd);
      g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_FAILED, "Error reading vfs file");
      return RESULT_FAILED;
    }
  gboolean whole = head < SF_ARCHIVER_ZIP_BUFFER_SIZE;
  g_autoptr (GError) begin_error = NULL;
  std::string full_name = std::string (SF_ARCHIVER_ZIP_ROOT) + "/" + relative_name (path);
  if (!sf_zip_writer_begin_file (zip, full_name.c_str (), before.st_mode & 0777, before.st_mtime,
                                 whole ? head : -1, &begin_error))
    {
      close (fd);
      /* A name the archive cannot hold costs only that file, which stays where it is. */
      if (g_error_matches (begin_error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT))
        {
          SF_LOG_WARNING ("Couldn't read file:'%s' to save, %s", path, begin_error->message);
          return RESULT_DONE;
        }
      set_write_error (self, pack->file, error, "Could not create file in archive");
      return RESULT_FAILED;
    }
  guint64 copied = 0;
  Result result = store (pack, zip, pack->buffer, head, &copied, error);
  if (result == RESULT_DONE && !whole)
    result = copy_rest (pack, zip, fd, &copied, error);
  struct stat after;
  gboolean unchanged = fstat (fd, &after) == 0 && after.st_size == before.st_size
                       && after.st_mtime == before.st_mtime;
  close (fd);
  if (result == RESULT_DONE && !sf_zip_writer_end_file (zip, NULL))
    {
      set_write_error (self, pack->file, error, "Backup, could not close archive file");
      result = RESULT_FAILED;
    }
  if (result != RESULT_DONE)
    return result;

  pack->files++;
  sf_archiver_add_processed_files (SF_ARCHIVER (self), 1);
  sf_archiver_update_progress (SF_ARCHIVER (self));
  /* A file that changed while it was read holds more than the archive; it stays. */
  if (ordinary && unchanged)
    pack->packed.push_back ({ path, after.st_size, after.st_mtime });
  else if (ordinary)
    SF_LOG_WARNING ("File changed while it was packed, it is kept: %s", path);
  return RESULT_DONE;
}

/* Stops without an error of its own when another category failed: that one is reported. */
Result
pack_entries (CategoryPack *pack, SfZipWriter *zip, GSList *entries, gboolean ordinary,
              GError **error)
{
  for (GSList *item = entries; item != NULL; item = item->next)
    {
      if (sf_archiver_is_cancelled (SF_ARCHIVER (pack->run->self)))
        return RESULT_CANCELLED;
      if (must_stop (pack->run))
        return RESULT_FAILED;
      Result result
          = pack_file (pack, zip, static_cast<SfFileEntry *> (item->data), ordinary, error);
      if (result != RESULT_DONE)
        return result;
    }
  return RESULT_DONE;
}

Result
open_category_output (SfArchiverZip *self, const gchar *path, CategoryOutput *output,
                      GError **error)
{
  g_autoptr (GError) cause = NULL;
  /* The stream reads the process's umask by setting it and setting it back: two workers doing
   * that at once could leave 0077 behind for the whole process. */
  static GMutex umask_lock;
  g_mutex_lock (&umask_lock);
  output->file = gsf_output_stdio_new (path, &cause);
  g_mutex_unlock (&umask_lock);
  if (output->file == NULL)
    {
      g_propagate_error (error, open_archive_error (path, cause));
      return RESULT_FAILED;
    }
  output->crypt = gsf_output_crypt_new (output->file, self->password);
  if (output->crypt == NULL)
    {
      g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_FAILED, "Could not create crypt file");
      return RESULT_FAILED;
    }
  output->zip = sf_zip_writer_new (output->crypt, NULL);
  if (output->zip == NULL)
    {
      g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_FAILED, "Could not create zip file");
      return RESULT_FAILED;
    }
  SF_LOG_DEBUG ("Packing subdir: %s\n", SF_ARCHIVER_ZIP_ROOT);
  return RESULT_DONE;
}

/* Writes the archive of one category and hands it to the verifier to be read back. */
Result
pack_category (CategoryPack *pack, CategoryFiles *files, GError **error)
{
  SfArchiverZip *self = pack->run->self;
  SfArchiver *archiver = SF_ARCHIVER (self);
  if (sf_archiver_is_cancelled (archiver))
    return RESULT_CANCELLED;
  SfCategory category = files->category;
  sf_archiver_set_current_category (archiver, category);
  sf_backup_info_reset_categories (self->backup_info, category);
  if (files->ordinary == NULL && files->permanent == NULL)
    return RESULT_DONE;

  g_autofree gchar *path = sf_backup_info_get_category_archive_path (self->backup_info, category);
  g_unlink (path);
  Result result = sf_archiver_is_cancelled (archiver) ? RESULT_CANCELLED : RESULT_DONE;
  SfArchiverZipChecksum written = { 0, 0 };
  {
    CategoryOutput output;
    if (result == RESULT_DONE)
      result = open_category_output (self, path, &output, error);
    pack->file = output.file;
    if (result == RESULT_DONE)
      result = pack_entries (pack, output.zip, files->ordinary, TRUE, error);
    if (result == RESULT_DONE)
      result = pack_entries (pack, output.zip, files->permanent, FALSE, error);
    if (result == RESULT_DONE && !output.close (&written, NULL))
      {
        SF_LOG_WARNING ("Backup, couldn't close root category output");
        set_write_error (self, output.file, error, "couldn't close root category output");
        result = RESULT_FAILED;
      }
    pack->file = NULL;
  }
  files->release ();

  if (result != RESULT_DONE)
    {
      g_unlink (path);
      sf_archiver_take_back_processed (archiver, pack->files, pack->size);
      return result;
    }
  sf_backup_info_set_data_amount (self->backup_info, category, pack->size, pack->files);
  pack->run->verifier->add (category, written);
  return RESULT_DONE;
}

/* One worker: takes the next category until none is left or the backup cannot go on, then reads
 * back the archives that are done. */
void
pack_worker (PackRun *run)
{
  g_autofree guint8 *buffer = static_cast<guint8 *> (g_malloc (SF_ARCHIVER_ZIP_BUFFER_SIZE));
  for (;;)
    {
      gint index = g_atomic_int_add (&run->next, 1);
      if (index >= (gint)run->categories.size ())
        {
          run->verifier->run_queued ();
          return;
        }
      CategoryPack pack{ run, buffer, NULL, {}, 0, 0, {} };
      g_autoptr (GError) error = NULL;
      Result result = pack_category (&pack, &run->categories[index], &error);
      g_mutex_lock (&run->mutex);
      if (result == RESULT_DONE)
        run->packed.insert (run->packed.end (), pack.packed.begin (), pack.packed.end ());
      else if (result == RESULT_CANCELLED)
        run->cancelled = TRUE;
      else
        {
          g_atomic_int_set (&run->failed, 1);
          if (error != NULL && (run->error == NULL || index < run->error_index))
            {
              g_clear_error (&run->error);
              run->error = g_steal_pointer (&error);
              run->error_index = index;
            }
        }
      g_mutex_unlock (&run->mutex);
      if (result != RESULT_DONE)
        return;
    }
}

/* The archives are complete and described: only now may the stored originals go. A file that
 * changed after it was stored is kept; what is looked at and what is removed are the same name in
 * the same folder. */
void
delete_packed_file (Folder *folder, const PackedFile &file)
{
  const gchar *base = NULL;
  gint dir_fd = folder->open_for (file.path, &base);
  struct stat now;
  if (dir_fd < 0 || fstatat (dir_fd, base, &now, AT_SYMLINK_NOFOLLOW) != 0)
    return;
  if (!S_ISREG (now.st_mode) || now.st_size != file.size || now.st_mtime != file.mtime)
    {
      SF_LOG_WARNING ("File changed after it was packed, it is kept: %s", file.path.c_str ());
      return;
    }
  if (unlinkat (dir_fd, base, 0) != 0)
    SF_LOG_WARNING ("Could not remove packed file %s: %s", file.path.c_str (), g_strerror (errno));
}

/* The workers delete runs of files in the order they were packed, which is folder by folder, so
 * that two seldom wait for the same folder. */
void
delete_packed_files (const std::vector<PackedFile> &packed)
{
  const gsize run_length = 256;
  gsize runs = (packed.size () + run_length - 1) / run_length;
  _sf_archiver_zip_run_each (sf_parallel_thread_count (runs), runs, [&packed] (gsize run) {
    gsize end = MIN ((run + 1) * run_length, packed.size ());
    Folder folder;
    for (gsize index = run * run_length; index < end; index++)
      delete_packed_file (&folder, packed[index]);
  });
}

/* Chooses the files of every selected category, on the workers at once. Their walks also give
 * the categories' data as the backend counts it, which progress is measured against from here on:
 * the tree may have changed since the caller counted it, by the pre-backup scripts among others. */
void
list_categories (PackRun *run, guint workers)
{
  SfArchiverZip *self = run->self;
  _sf_archiver_zip_run_each (workers, run->categories.size (), [run, self] (gsize index) {
    CategoryFiles &files = run->categories[index];
    files.ordinary = file_list (self->locations, files.category, &files.counted);
    files.permanent = file_list (self->permanent_locations, files.category, &files.counted);
  });
  if (_sf_archiver_get_backend (SF_ARCHIVER (self)) == NULL)
    return;
  guint64 total_size = 0;
  for (const CategoryFiles &files : run->categories)
    total_size += files.counted;
  sf_archiver_set_total_size (SF_ARCHIVER (self), total_size);
}

/* A category counts as written once its archive was read back intact. */
Result
pack_categories (SfArchiverZip *self, std::vector<PackedFile> *packed, GError **error)
{
  SfArchiverZipVerifier verifier (self);
  PackRun run;
  run.self = self;
  run.verifier = &verifier;
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    if (self->categories & sf_category_from_index (index))
      run.categories.push_back ({ sf_category_from_index (index) });
  /* The categories are packed at the same time, each by one worker, one per processor. */
  guint workers = sf_parallel_thread_count (run.categories.size ());
  list_categories (&run, workers);
  _sf_archiver_zip_run_workers (workers, [&run] { pack_worker (&run); });

  g_autoptr (GError) verify_error = NULL;
  self->written_categories = verifier.finish (&verify_error);
  if (verify_error != NULL)
    {
      g_propagate_error (error, g_steal_pointer (&verify_error));
      return RESULT_FAILED;
    }
  if (run.failed)
    {
      g_propagate_error (error, g_steal_pointer (&run.error));
      return RESULT_FAILED;
    }
  *packed = std::move (run.packed);
  return run.cancelled ? RESULT_CANCELLED : RESULT_DONE;
}

Result
honour_cancel (SfArchiver *archiver, Result result)
{
  return result == RESULT_DONE && sf_archiver_is_cancelled (archiver) ? RESULT_CANCELLED : result;
}

/* The lock file is an unlinked open file, which a FUSE file system keeps in the directory as a
 * hidden file until it is closed: it is closed first, so that the directory can go. */
void
remove_backup_dir (SfArchiverZip *self, gint *lock_fd)
{
  if (*lock_fd >= 0)
    close (*lock_fd);
  *lock_fd = -1;
  [[maybe_unused]] g_autoptr (GError) ignored = sf_backup_info_remove_dir (self->backup_info);
}

/* Keeps what was written completely; FALSE with error when the description could not be
 * written, since a backup without one is never listed. */
gboolean
finish_backup (SfArchiverZip *self, gint *lock_fd, GError **error)
{
  sf_backup_info_set_categories (self->backup_info, self->written_categories);
  if (self->written_categories == SF_CATEGORY_NONE)
    {
      remove_backup_dir (self, lock_fd);
      return TRUE;
    }
  g_autoptr (GError) cause = sf_backup_info_write_metadata (self->backup_info);
  if (cause == NULL)
    return TRUE;
  SF_LOG_ERROR ("Could not write backup metadata: %s", cause->message);
  set_write_error (self, NULL, error, "Could not write backup metadata");
  return FALSE;
}
} // namespace

void
_sf_archiver_zip_pack_thread_func (SfArchiver *archiver)
{
  SfArchiverZip *self = SF_ARCHIVER_ZIP (archiver);
  SF_LOG_DEBUG ("ArchiverZip pack thread starting.\n");
  g_return_if_fail (!self->is_restore);

  gint lock_fd = _sf_archiver_zip_create_lock_file (self);
  g_autoptr (GError) create_error = sf_backup_info_create_dir (self->backup_info);
  if (create_error != NULL)
    {
      g_autoptr (GError) error = create_dir_error (create_error);
      sf_archiver_send_error (archiver, error);
      if (lock_fd >= 0)
        close (lock_fd);
      return;
    }

  sf_pre_backup_execute (self->categories);
  sync ();

  std::vector<PackedFile> packed;
  g_autoptr (GError) error = NULL;
  Result result = pack_categories (self, &packed, &error);
  sync ();

  /* The read-backs of the last categories take a while; a cancel given meanwhile is honoured,
   * and so is one given while the metadata is written. Once deleting has begun the backup
   * finishes: half of the sources would be gone. */
  result = honour_cancel (archiver, result);
  if (result != RESULT_FAILED && !finish_backup (self, &lock_fd, &error))
    {
      if (result == RESULT_DONE)
        result = RESULT_FAILED;
      else
        {
          remove_backup_dir (self, &lock_fd);
          g_clear_error (&error);
        }
    }
  if (result == RESULT_FAILED)
    {
      remove_backup_dir (self, &lock_fd);
      if (error == NULL)
        {
          SF_LOG_ERROR ("Backup, error result but no error set");
          g_set_error_literal (&error, SF_ERROR, SF_ERROR_BACKUP_FAILED,
                               "error result but no error set");
        }
    }
  else
    result = honour_cancel (archiver, result);
  if (result == RESULT_DONE)
    {
      SF_LOG_DEBUG ("Deleting the %zu packed files\n", packed.size ());
      delete_packed_files (packed);
    }

  SfCategory written = self->written_categories;
  sf_archiver_set_total_size (archiver,
                              sf_backup_info_get_size_for_categories (self->backup_info, written));
  sf_archiver_set_total_files (
      archiver, sf_backup_info_get_num_files_for_categories (self->backup_info, written));

  if (result == RESULT_DONE)
    sf_archiver_send_finished (archiver);
  else if (result == RESULT_FAILED)
    sf_archiver_send_error (archiver, error);
  else
    sf_archiver_send_cancelled (archiver);

  if (lock_fd >= 0)
    close (lock_fd);
  SF_LOG_DEBUG ("Thread done.\n");
}
