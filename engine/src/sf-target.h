#pragma once

#include "sf-backup-info.h"

#include <gio/gio.h>

G_BEGIN_DECLS

/* A storage location that can hold backups, below its root in the backups location. It keeps
 * the list of backups found there and follows the file system to know when to read it again. */
#define SF_TYPE_TARGET (sf_target_get_type ())
G_DECLARE_DERIVABLE_TYPE (SfTarget, sf_target, SF, TARGET, GObject)

struct _SfTargetClass
{
  GObjectClass parent_class;
};

SfTarget *sf_target_new (const gchar *uri_str);

const gchar *sf_target_get_uri (SfTarget *target);
const gchar *sf_target_get_display_name (SfTarget *target);
const gchar *sf_target_get_backups_uri (SfTarget *target);
gchar *sf_target_dup_backups_uri (SfTarget *target);
gboolean sf_target_get_is_available (SfTarget *target);
gboolean sf_target_get_is_read_only (SfTarget *target);
gboolean sf_target_get_is_persistent (SfTarget *target);

void sf_target_set_display_name (SfTarget *target, const gchar *display_name);
void sf_target_set_is_available (SfTarget *target, gboolean is_available);
void sf_target_set_is_read_only (SfTarget *target, gboolean is_read_only);
/* NULL selects the default, ".backups" below the root. */
void sf_target_set_backups_uri (SfTarget *target, const gchar *uri);

/* The backups found in the backups location, newest first. The list stays the target's and is
 * valid until the next "backups-changed". */
GList *sf_target_get_backups (SfTarget *target);
SfBackupInfo *sf_target_get_backup_by_name (SfTarget *target, const gchar *name);

gboolean sf_target_prepare_for_backup (SfTarget *target, GError **error);
/* Deletes the backup's directory (a backup that is a link loses only the link) and emits
 * "backups-changed", which ends every list sf_target_get_backups handed out; info ends with it
 * when it came from one and the caller holds no reference. Main thread. */
gboolean sf_target_remove_backup (SfTarget *target, SfBackupInfo *info);
guint64 sf_target_calculate_free_space (SfTarget *target);

G_END_DECLS
