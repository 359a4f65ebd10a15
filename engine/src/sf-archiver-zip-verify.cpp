#include "sf-archiver-zip-private.h"

#include "sf-error.h"
#include "sf-log.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

/* Once a backup succeeds the sources of the ordinary locations are deleted, and the archives are
 * the only copy left. So each archive is read back from the medium, the way a restore reads it,
 * and compared with what was packed before the category counts as written. */

namespace
{
typedef std::vector<SfArchiverZipStored> StoredList;

/* Test hook: SF_DAMAGE_ARCHIVE=<category name> flips one byte in the middle of that category's
 * archive after it was closed, as a failing card would, so that the read-back has to catch it. */
void
damage_for_test (SfCategory category, const gchar *path)
{
  const gchar *name = g_getenv ("SF_DAMAGE_ARCHIVE");
  if (name == NULL || sf_category_from_string (name) != category)
    return;
  gint fd = g_open (path, O_RDWR | O_CLOEXEC, 0);
  if (fd < 0)
    return;
  struct stat info;
  guint8 byte = 0;
  if (fstat (fd, &info) == 0 && pread (fd, &byte, 1, info.st_size / 2) == 1)
    {
      byte ^= 0xff;
      if (pwrite (fd, &byte, 1, info.st_size / 2) != 1)
        SF_LOG_WARNING ("Could not damage %s", path);
    }
  close (fd);
}

/* 0, or the errno of a failed fsync. Some file systems cannot sync (EINVAL); that is no fault of
 * the archive. */
gint
sync_descriptor (gint fd)
{
  if (fsync (fd) == 0 || errno == EINVAL)
    return 0;
  return errno;
}

/* The archive went out through the page cache: push it and the name it was renamed to onto the
 * medium, then drop its cached pages, so that the read-back sees what the medium holds where the
 * platform allows. */
gboolean
flush_to_medium (const gchar *path, GError **error)
{
  gint fd = g_open (path, O_RDONLY | O_CLOEXEC, 0);
  gint failure = fd < 0 ? errno : sync_descriptor (fd);
  if (failure == 0)
    posix_fadvise (fd, 0, 0, POSIX_FADV_DONTNEED);
  if (fd >= 0)
    close (fd);
  if (failure == 0)
    {
      g_autofree gchar *dir = g_path_get_dirname (path);
      gint dir_fd = g_open (dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
      failure = dir_fd < 0 ? errno : sync_descriptor (dir_fd);
      if (dir_fd >= 0)
        close (dir_fd);
    }
  if (failure == 0)
    return TRUE;
  g_set_error (error, G_IO_ERROR, g_io_error_from_errno (failure), "Could not flush %s: %s", path,
               g_strerror (failure));
  return FALSE;
}

void
collect_entry (const gchar *name, guint64 size, gpointer data)
{
  static_cast<StoredList *> (data)->push_back ({ name, size });
}

/* The first file that differs between two sorted lists, for the log. */
std::string
describe_difference (const StoredList &packed, const StoredList &read)
{
  StoredList missing;
  StoredList unexpected;
  std::set_difference (packed.begin (), packed.end (), read.begin (), read.end (),
                       std::back_inserter (missing));
  std::set_difference (read.begin (), read.end (), packed.begin (), packed.end (),
                       std::back_inserter (unexpected));
  g_autofree gchar *text = NULL;
  if (!missing.empty ())
    text = g_strdup_printf (
        "%zu files packed, %zu read back; '%s' (%" G_GUINT64_FORMAT " bytes) was not read back",
        packed.size (), read.size (), missing[0].name.c_str (), missing[0].size);
  else
    text = g_strdup_printf (
        "%zu files packed, %zu read back; '%s' (%" G_GUINT64_FORMAT " bytes) was never packed",
        packed.size (), read.size (), unexpected[0].name.c_str (), unexpected[0].size);
  return text;
}
} // namespace

gboolean
_sf_archiver_zip_verify_category (SfArchiverZip *self, SfCategory category, StoredList stored,
                                  GError **error)
{
  g_autofree gchar *path = sf_backup_info_get_category_archive_path (self->backup_info, category);
  damage_for_test (category, path);

  StoredList read;
  g_autoptr (GError) cause = NULL;
  if (!flush_to_medium (path, &cause)
      || !sf_archiver_zip_check_category (self->backup_info, category, self->password,
                                          collect_entry, &read, &cause))
    SF_LOG_ERROR ("Backup, archive of %s could not be read back: %s",
                  sf_category_to_string (category), cause->message);
  else
    {
      std::sort (stored.begin (), stored.end ());
      std::sort (read.begin (), read.end ());
      if (read == stored)
        {
          SF_LOG_DEBUG ("Archive of %s read back: %zu files\n", sf_category_to_string (category),
                        read.size ());
          return TRUE;
        }
      SF_LOG_ERROR ("Backup, archive of %s does not hold what was packed: %s",
                    sf_category_to_string (category), describe_difference (stored, read).c_str ());
    }
  g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_FAILED,
                       "Backup, archive verification failed");
  return FALSE;
}

SfArchiverZipVerifier::SfArchiverZipVerifier (SfArchiverZip *archiver) : archiver_ (archiver)
{
  g_mutex_init (&mutex_);
}

SfArchiverZipVerifier::~SfArchiverZipVerifier ()
{
  g_mutex_clear (&mutex_);
}

void
SfArchiverZipVerifier::add (SfCategory category, StoredList stored)
{
  g_return_if_fail (category != SF_CATEGORY_NONE);
  g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&mutex_);
  jobs_.push_back ({ category, std::move (stored) });
}

void
SfArchiverZipVerifier::run_queued ()
{
  for (;;)
    {
      Job job;
      {
        g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&mutex_);
        if (jobs_.empty () || failed ())
          return;
        job = std::move (jobs_.front ());
        jobs_.pop_front ();
      }
      if (!_sf_archiver_zip_verify_category (archiver_, job.category, std::move (job.stored), NULL))
        {
          g_atomic_int_set (&failed_, 1);
          return;
        }
      g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&mutex_);
      verified_ |= job.category;
    }
}

gboolean
SfArchiverZipVerifier::failed () const
{
  return g_atomic_int_get (&failed_);
}

SfCategory
SfArchiverZipVerifier::finish (GError **error)
{
  run_queued ();
  if (failed ())
    g_set_error_literal (error, SF_ERROR, SF_ERROR_BACKUP_FAILED,
                         "Backup, archive verification failed");
  g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&mutex_);
  return (SfCategory)verified_;
}
