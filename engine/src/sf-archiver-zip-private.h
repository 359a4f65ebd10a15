#pragma once

/* Shared by the files of SfArchiverZip only. */

#include "sf-archiver-zip.h"
#include "sf-backup-locations.h"
#include "sf-restore-transform.h"
#include "sf-zip-reader.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

G_BEGIN_DECLS

struct _SfArchiverZip
{
  SfArchiver parent_instance;

  SfBackupInfo *backup_info;
  SfBackupLocations *locations;
  SfBackupLocations *permanent_locations;
  SfUserFiles *user_files;
  GFile *gconf_dir;
  SfCategory categories;
  SfCategory written_categories;
  gchar *password;
  gboolean is_restore;
  SfRestoreTransform *restore_transform;
};

/* Runs work on count threads at once, the calling one among them; returns when all returned. */
void _sf_archiver_zip_run_workers (guint count, const std::function<void ()> &work);
/* Calls each for every index below items, on count threads at once, each index once. */
void _sf_archiver_zip_run_each (guint count, gsize items, const std::function<void (gsize)> &each);

/* Bytes moved per read and write, by each worker. */
#define SF_ARCHIVER_ZIP_BUFFER_SIZE (64 * 1024)
/* Name of the folder at the top of every category archive. */
#define SF_ARCHIVER_ZIP_ROOT "Root"

void _sf_archiver_zip_pack_thread_func (SfArchiver *archiver);
void _sf_archiver_zip_unpack_thread_func (SfArchiver *archiver);

/* Creates the backup directory and an unnamed file in it that keeps the file system busy while
 * the archives are worked on; returns its descriptor or -1. */
gint _sf_archiver_zip_create_lock_file (SfArchiverZip *self);

/* The plain bytes of a category archive of info: the file through the decrypting input, its
 * padding checked. A new reference, or NULL with an SF_ERROR. Any thread. */
GsfInput *_sf_archiver_zip_open_plain (SfBackupInfo *info, SfCategory category,
                                       const gchar *password, GError **error);

/* Opens a category archive of info through the decrypting input; NULL with an SF_ERROR. */
SfZipReader *_sf_archiver_zip_open_category (SfBackupInfo *info, SfCategory category,
                                             const gchar *password, GError **error);

G_END_DECLS

/* The bytes of an archive's file: how many, and their CRC-32. */
struct SfArchiverZipChecksum
{
  guint64 size;
  guint32 crc;

  auto operator<=> (const SfArchiverZipChecksum &other) const = default;
};

/* Reads the file of a category archive of info to its end, as it is (encrypted or not); FALSE
 * with a G_IO_ERROR when it cannot be opened as a regular file or read. Any thread. */
gboolean _sf_archiver_zip_checksum_category (SfBackupInfo *info, SfCategory category,
                                             SfArchiverZipChecksum *checksum, GError **error);

/* Brings a closed category archive to the medium and reads it back: TRUE when the medium returns
 * exactly the bytes written (written), FALSE with SF_ERROR_BACKUP_FAILED otherwise. */
gboolean _sf_archiver_zip_verify_category (SfArchiverZip *self, SfCategory category,
                                           SfArchiverZipChecksum written, GError **error);

/* Reads closed category archives back from the medium and compares each with the bytes written. A
 * worker with no category left to pack reads back the archives the others finished, so that reading
 * back never takes a processor from packing. Any worker may use it, several at once.
 */
class SfArchiverZipVerifier
{
public:
  explicit SfArchiverZipVerifier (SfArchiverZip *archiver);
  ~SfArchiverZipVerifier ();
  SfArchiverZipVerifier (const SfArchiverZipVerifier &) = delete;
  SfArchiverZipVerifier &operator= (const SfArchiverZipVerifier &) = delete;

  /* Queues the read-back of category's archive, written as the bytes of written. */
  void add (SfCategory category, SfArchiverZipChecksum written);
  /* Reads back queued archives on the calling thread until none is left or one failed. */
  void run_queued ();
  /* TRUE once a read-back failed: packing more is pointless. */
  gboolean failed () const;
  /* Reads back what is still queued. Returns the categories whose archives passed; on a failure
   * sets error to SF_ERROR_BACKUP_FAILED "Backup, archive verification failed". */
  SfCategory finish (GError **error);

private:
  struct Job
  {
    SfCategory category;
    SfArchiverZipChecksum written;
  };

  SfArchiverZip *archiver_;
  GMutex mutex_;
  /* Guarded by mutex_. */
  std::deque<Job> jobs_;
  guint verified_ = 0;
  gint failed_ = 0;
};
