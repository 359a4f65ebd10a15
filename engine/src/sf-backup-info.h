#pragma once

#include "sf-category.h"

#include <gio/gio.h>

G_BEGIN_DECLS

/* A record is not locked: one thread at a time may change it (the worker while it runs an
 * operation), others only read it. The reference count is atomic, so references may be taken and
 * dropped on any thread. */

/* One backup: its directory, time, protection, notes and per-category amounts, as recorded in the
 * "backup.metadata" file of the directory. Reference counted. */
typedef struct _SfBackupInfo SfBackupInfo;

#define SF_TYPE_BACKUP_INFO (sf_backup_info_get_type ())
GType sf_backup_info_get_type (void);

/* The metadata format of new backups. */
#define SF_BACKUP_INFO_FORMAT 2

/* Returns a new reference (sf_backup_info_unref); copies uri and the texts. Any thread. */
SfBackupInfo *sf_backup_info_new (GFile *uri, gint32 timestamp, gboolean is_protected,
                                  const gchar *password, const gchar *device_version,
                                  const gchar *notes, gint format, guint32 categories);
/* Returns info with one more reference. Any thread. */
SfBackupInfo *sf_backup_info_ref (SfBackupInfo *info);
/* Any thread. */
void sf_backup_info_unref (SfBackupInfo *info);

/* Borrowed, for the life of the record. */
GFile *sf_backup_info_get_uri (SfBackupInfo *info);
/* Borrowed, for the life of the record. */
const gchar *sf_backup_info_get_name (SfBackupInfo *info);
gint32 sf_backup_info_get_timestamp (SfBackupInfo *info);
gint32 sf_backup_info_get_time_for_restoration (SfBackupInfo *info);
gint sf_backup_info_get_format (SfBackupInfo *info);
gboolean sf_backup_info_get_is_protected (SfBackupInfo *info);
/* Borrowed, until the password is set again. */
const gchar *sf_backup_info_get_password (SfBackupInfo *info);
/* Borrowed, for the life of the record. */
const gchar *sf_backup_info_get_device_version (SfBackupInfo *info);
/* Borrowed, for the life of the record. */
const gchar *sf_backup_info_get_notes (SfBackupInfo *info);
/* The text as the metadata carries it: bytes that are not UTF-8 replaced, control characters
 * other than tab and line ends left out, markup characters as entity references. NULL gives "".
 * The caller frees the result with g_free; any thread. */
gchar *sf_backup_info_escape_text (const gchar *text);
guint32 sf_backup_info_get_categories (SfBackupInfo *info);

void sf_backup_info_set_timestamp (SfBackupInfo *info, gint32 timestamp);
void sf_backup_info_set_time_for_restoration (SfBackupInfo *info, gint32 time_for_restoration);
void sf_backup_info_set_is_protected (SfBackupInfo *info, gboolean is_protected);
void sf_backup_info_set_categories (SfBackupInfo *info, guint32 categories);
/* Copies the text. */
void sf_backup_info_set_password (SfBackupInfo *info, const gchar *password);

/* Amounts of one category (a single flag, not SF_CATEGORY_ALL). */
void sf_backup_info_set_data_amount (SfBackupInfo *info, SfCategory category, guint64 size,
                                     guint32 num_files);
void sf_backup_info_get_data_amount (SfBackupInfo *info, SfCategory category, guint64 *size,
                                     guint32 *num_files);
/* Zeroes the amounts of every category in the set. */
void sf_backup_info_reset_categories (SfBackupInfo *info, guint32 categories);
/* Totals over the categories in the set. */
guint32 sf_backup_info_get_num_files_for_categories (SfBackupInfo *info, guint32 categories);
guint64 sf_backup_info_get_size_for_categories (SfBackupInfo *info, guint32 categories);

/* "<category name>.zip" in the backup directory. Returns a copy (g_free). Any thread. */
gchar *sf_backup_info_get_category_archive_path (SfBackupInfo *info, SfCategory category);

/* Replaces "backup.metadata" in the backup directory (mode 0600) and flushes the file systems.
 * Returns NULL or an error the caller frees (g_error_free). Worker or main thread. */
GError *sf_backup_info_write_metadata (SfBackupInfo *info);
/* The backup described by directory's "backup.metadata", or NULL when there is none readable.
 * Returns a new reference (sf_backup_info_unref). Any thread. */
SfBackupInfo *sf_backup_info_new_from_directory (GFile *directory);

/* The readable backups below backups_dir, newest first. The list and its references are the
 * caller's (sf_backup_info_list_free). Any thread. */
GList *sf_backup_info_list_get (GFile *backups_dir);
/* The readable backup in root's child directory name, or NULL. Returns a new reference
 * (sf_backup_info_unref). Any thread. */
SfBackupInfo *sf_backup_info_list_get_by_name (GFile *root_uri, const gchar *name);
/* Any thread. */
void sf_backup_info_list_free (GList *list);

/* Creates the backup directory (mode 0700); an existing directory is fine. Returns NULL or an error
 * to free (g_error_free). Any thread. */
GError *sf_backup_info_create_dir (SfBackupInfo *info);
/* Removes the backup directory with everything in it (a backup that is a link loses only the link,
 * and a link inside is never followed), and the backups directory once empty. Returns NULL or an
 * error to free (g_error_free). Any thread. */
GError *sf_backup_info_remove_dir (SfBackupInfo *info);

G_END_DECLS

G_DEFINE_AUTOPTR_CLEANUP_FUNC (SfBackupInfo, sf_backup_info_unref)
