#pragma once

#include "sf-archiver.h"
#include "sf-backup-info.h"
#include "sf-user-files.h"
#include "sf-zip-reader.h"

G_BEGIN_DECLS

#define SF_TYPE_ARCHIVER_ZIP (sf_archiver_zip_get_type ())
G_DECLARE_FINAL_TYPE (SfArchiverZip, sf_archiver_zip, SF, ARCHIVER_ZIP, SfArchiver)

/* Packs every category of backup_info into "<category>.zip" in its directory. Returns a new
 * reference (g_object_unref); takes its own reference to backup_info and copies password;
 * user_files stays the caller's and must outlive the operation. Main thread. */
SfArchiver *sf_archiver_zip_new_backup (SfBackupInfo *backup_info, SfUserFiles *user_files,
                                        guint32 total_files, guint64 total_size,
                                        const gchar *password);
/* Puts the files of the chosen categories of backup_info back where they were. Returns a new
 * reference (g_object_unref); takes its own reference to backup_info and copies password. Main
 * thread. */
SfArchiver *sf_archiver_zip_new_restore (SfBackupInfo *backup_info, SfCategory categories,
                                         const gchar *password);

/* Called for every entry a check reads; name is relative to the archive's root folder. */
typedef void (*SfArchiveCheckFunc) (const gchar *name, guint64 size, gpointer data);

/* Called after every chunk a check reads, with the number of entry bytes in it. */
typedef void (*SfArchiveProgressFunc) (guint64 bytes, gpointer data);

/* Reads a category archive of backup_info to the end without restoring anything: every entry's
 * data and checksum. FALSE with SF_ERROR_WRONG_PASSWORD or SF_ERROR_RESTORE_CORRUPT_BACKUP when
 * it cannot be read. Any thread, one call per backup_info at a time. */
gboolean sf_archiver_zip_check_category (SfBackupInfo *backup_info, SfCategory category,
                                         const gchar *password, SfArchiveCheckFunc func,
                                         gpointer data, GError **error);
/* The same, calling progress (which may be NULL) as the data goes by. Any thread. */
gboolean sf_archiver_zip_check_category_with_progress (SfBackupInfo *backup_info,
                                                       SfCategory category, const gchar *password,
                                                       SfArchiveCheckFunc func,
                                                       SfArchiveProgressFunc progress,
                                                       gpointer data, GError **error);

/* Opens a category archive of backup_info for reading its entries, decrypting with password when
 * it is not NULL. NULL with SF_ERROR_WRONG_PASSWORD when the password does not decrypt it, or
 * another SF_ERROR when the archive cannot be opened. Free the reader with sf_zip_reader_free. Any
 * thread. */
SfZipReader *sf_archiver_zip_open_category (SfBackupInfo *backup_info, SfCategory category,
                                            const gchar *password, GError **error);

G_END_DECLS
