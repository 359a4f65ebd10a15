#pragma once

#include "sf-backup-info.h"
#include "sf-category.h"

#include <gio/gio.h>

G_BEGIN_DECLS

/* The files a restore put back, per category, most recent first; handed to the restore
 * scripts. */
typedef struct _SfRestoreTransform SfRestoreTransform;

SfRestoreTransform *sf_restore_transform_new (SfBackupInfo *backup_info);
SfRestoreTransform *sf_restore_transform_ref (SfRestoreTransform *transform);
void sf_restore_transform_unref (SfRestoreTransform *transform);

void sf_restore_transform_add_file (SfRestoreTransform *transform, SfCategory category,
                                    const gchar *path);
void sf_restore_transform_add_uri (SfRestoreTransform *transform, SfCategory category, GFile *uri);
SfCategory sf_restore_transform_get_categories (SfRestoreTransform *transform);
void sf_restore_transform_execute (SfRestoreTransform *transform, SfCategory categories);

G_DEFINE_AUTOPTR_CLEANUP_FUNC (SfRestoreTransform, sf_restore_transform_unref)

G_END_DECLS
