#include "sf-archiver-zip-private.h"

#include "sf-deflate.h"
#include "sf-error.h"
#include "sf-log.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

/* Once a backup succeeds the sources of the ordinary locations are deleted, and the archives are
 * the only copy left. So each archive is read back from the medium before the category counts as
 * written: the file's bytes must be exactly those written (their CRC-32 and count). Nothing in it
 * is decrypted, parsed or inflated again: the bytes on the medium are those the writer made, and
 * equal ciphertext decrypts to equal plain bytes, whose entries carry the checksums of the data
 * the writer was given. */

namespace
{
/* Bytes read at a time by the read-back. */
constexpr gsize read_back_block_size = 256 * 1024;

/* Test hook: SF_DAMAGE_ARCHIVE=<category name>[:<offset>] flips one byte of that category's
 * archive after it was closed, at offset or else in the middle, as a failing card would, so that
 * the read-back has to catch it. */
void
damage_for_test (SfCategory category, const gchar *path)
{
  const gchar *setting = g_getenv ("SF_DAMAGE_ARCHIVE");
  if (setting == NULL)
    return;
  g_auto (GStrv) parts = g_strsplit (setting, ":", 2);
  if (parts[0] == NULL || sf_category_from_string (parts[0]) != category)
    return;
  gint fd = g_open (path, O_RDWR | O_CLOEXEC, 0);
  if (fd < 0)
    return;
  struct stat info;
  guint8 byte = 0;
  off_t offset = 0;
  if (fstat (fd, &info) == 0)
    offset = parts[1] != NULL ? g_ascii_strtoll (parts[1], NULL, 10) : info.st_size / 2;
  if (pread (fd, &byte, 1, offset) == 1)
    {
      byte ^= 0xff;
      if (pwrite (fd, &byte, 1, offset) != 1)
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

} // namespace

gboolean
_sf_archiver_zip_checksum_category (SfBackupInfo *info, SfCategory category,
                                    SfArchiverZipChecksum *checksum, GError **error)
{
  g_return_val_if_fail (info != NULL, FALSE);
  g_return_val_if_fail (checksum != NULL, FALSE);
  g_return_val_if_fail (error == NULL || *error == NULL, FALSE);

  g_autofree gchar *path = sf_backup_info_get_category_archive_path (info, category);
  gint fd = g_open (path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
  struct stat file;
  gint failure = fd < 0 ? errno : fstat (fd, &file) != 0 ? errno : 0;
  if (failure == 0 && !S_ISREG (file.st_mode))
    failure = EINVAL;
  g_autofree guint8 *buffer = static_cast<guint8 *> (g_malloc (read_back_block_size));
  *checksum = { 0, 0 };
  while (failure == 0)
    {
      gssize count = read (fd, buffer, read_back_block_size);
      if (count < 0 && errno == EINTR)
        continue;
      if (count <= 0)
        {
          failure = count < 0 ? errno : 0;
          break;
        }
      checksum->crc = sf_deflate_crc32 (checksum->crc, buffer, count);
      checksum->size += count;
    }
  if (fd >= 0)
    close (fd);
  if (failure != 0)
    g_set_error (error, G_IO_ERROR, g_io_error_from_errno (failure),
                 "Could not read the archive of %s: %s", sf_category_to_string (category),
                 g_strerror (failure));
  return failure == 0;
}

gboolean
_sf_archiver_zip_verify_category (SfArchiverZip *self, SfCategory category,
                                  SfArchiverZipChecksum written, GError **error)
{
  g_autofree gchar *path = sf_backup_info_get_category_archive_path (self->backup_info, category);
  damage_for_test (category, path);

  SfArchiverZipChecksum medium;
  g_autoptr (GError) cause = NULL;
  if (!flush_to_medium (path, &cause)
      || !_sf_archiver_zip_checksum_category (self->backup_info, category, &medium, &cause))
    SF_LOG_ERROR ("Backup, archive of %s could not be read back: %s",
                  sf_category_to_string (category), cause->message);
  else if (medium != written)
    SF_LOG_ERROR ("Backup, archive of %s could not be read back: %" G_GUINT64_FORMAT
                  " bytes of CRC-32 %08x written, %" G_GUINT64_FORMAT " of %08x read",
                  sf_category_to_string (category), written.size, written.crc, medium.size,
                  medium.crc);
  else
    {
      SF_LOG_DEBUG ("Archive of %s read back: %" G_GUINT64_FORMAT " bytes\n",
                    sf_category_to_string (category), medium.size);
      return TRUE;
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
SfArchiverZipVerifier::add (SfCategory category, SfArchiverZipChecksum written)
{
  g_return_if_fail (category != SF_CATEGORY_NONE);
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&mutex_);
  jobs_.push_back ({ category, written });
}

void
SfArchiverZipVerifier::run_queued ()
{
  for (;;)
    {
      Job job;
      {
        [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&mutex_);
        if (jobs_.empty () || failed ())
          return;
        job = std::move (jobs_.front ());
        jobs_.pop_front ();
      }
      if (!_sf_archiver_zip_verify_category (archiver_, job.category, job.written, NULL))
        {
          g_atomic_int_set (&failed_, 1);
          return;
        }
      [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&mutex_);
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
  [[maybe_unused]] g_autoptr (GMutexLocker) locker = g_mutex_locker_new (&mutex_);
  return (SfCategory)verified_;
}
