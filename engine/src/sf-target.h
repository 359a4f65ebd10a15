#pragma once

#include "sf-backup-info.h"

#include <gio/gio.h>

G_BEGIN_DECLS

/* Strings returned by getters are borrowed from the target and valid until the matching setter is
 * called or the target is finalized. Functions are for the main thread unless they say otherwise.
 */

/* The default backups location's name below a target's root. */
#define SF_TARGET_BACKUPS_LOCATION_NAME ".backups"

/* A storage location that can hold backups, below its root in the backups location. It keeps
 * the list of backups found there and follows the file system to know when to read it again. */
#define SF_TYPE_TARGET (sf_target_get_type ())
G_DECLARE_DERIVABLE_TYPE (SfTarget, sf_target, SF, TARGET, GObject)

struct _SfTargetClass
{
  GObjectClass parent_class;
};

/* Returns a new reference (g_object_unref). Main thread. */
SfTarget *sf_target_new (const gchar *uri_str);

/* Borrowed, for the life of the target. Main thread. */
const gchar *sf_target_get_uri (SfTarget *target);
/* Borrowed. Main thread. */
const gchar *sf_target_get_display_name (SfTarget *target);
/* Borrowed. Main thread. */
const gchar *sf_target_get_backups_uri (SfTarget *target);
/* Returns a copy (g_free). Any thread. */
gchar *sf_target_dup_backups_uri (SfTarget *target);
/* Main thread. */
gboolean sf_target_get_is_available (SfTarget *target);
/* Main thread. */
gboolean sf_target_get_is_read_only (SfTarget *target);
/* Main thread. */
gboolean sf_target_get_is_persistent (SfTarget *target);

/* Copies the text. Main thread. */
void sf_target_set_display_name (SfTarget *target, const gchar *display_name);
/* Main thread. */
void sf_target_set_is_available (SfTarget *target, gboolean is_available);
/* Main thread. */
void sf_target_set_is_read_only (SfTarget *target, gboolean is_read_only);
/* NULL selects the default, ".backups" below the root. Copies the text. Main thread. */
void sf_target_set_backups_uri (SfTarget *target, const gchar *uri);

/* The backups found in the backups location, newest first. The list stays the target's and is
 * valid until the next "backups-changed". Reads the list when it is not cached; any thread may call
 * it, but only the main thread may use the list, which a change frees there. */
GList *sf_target_get_backups (SfTarget *target);
/* Returns a new reference read from the disk (sf_backup_info_unref), or NULL. Any thread. */
SfBackupInfo *sf_target_get_backup_by_name (SfTarget *target, const gchar *name);

/* Main thread. */
gboolean sf_target_prepare_for_backup (SfTarget *target, GError **error);
/* Deletes the backup's directory (a backup that is a link loses only the link, and a link inside is
 * never followed) and emits
 * "backups-changed", which ends every list sf_target_get_backups handed out; info ends with it
 * when it came from one and the caller holds no reference. Main thread. */
gboolean sf_target_remove_backup (SfTarget *target, SfBackupInfo *info);
/* Any thread. */
guint64 sf_target_calculate_free_space (SfTarget *target);

G_END_DECLS
