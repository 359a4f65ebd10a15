#pragma once

#include "sf-backup-info.h"
#include "sf-category.h"

#include <gio/gio.h>

G_BEGIN_DECLS

/* The files a restore put back, per category, most recent first; handed to the restore
 * scripts. */
typedef struct _SfRestoreTransform SfRestoreTransform;

/* Returns a new reference (sf_restore_transform_unref); takes its own reference to backup_info. The
 * restore worker fills it and runs it; others read it only after the worker ended. */
SfRestoreTransform *sf_restore_transform_new (SfBackupInfo *backup_info);
/* Any thread. */
SfRestoreTransform *sf_restore_transform_ref (SfRestoreTransform *transform);
/* Any thread. */
void sf_restore_transform_unref (SfRestoreTransform *transform);

/* Copies path. Worker thread. */
void sf_restore_transform_add_file (SfRestoreTransform *transform, SfCategory category,
                                    const gchar *path);
/* Worker thread. */
void sf_restore_transform_add_uri (SfRestoreTransform *transform, SfCategory category, GFile *uri);
SfCategory sf_restore_transform_get_categories (SfRestoreTransform *transform);
/* Blocks while the scripts run; a cancel of the calling worker ends the running one and skips the
 * rest. Worker thread. */
void sf_restore_transform_execute (SfRestoreTransform *transform, SfCategory categories);

G_DEFINE_AUTOPTR_CLEANUP_FUNC (SfRestoreTransform, sf_restore_transform_unref)

G_END_DECLS
