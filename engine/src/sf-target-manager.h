#pragma once

#include "sf-backup-info.h"
#include "sf-target.h"

#include <gio/gio.h>

G_BEGIN_DECLS

/* The targets of the process: the internal mass memory and the memory card while they are
 * mounted (their mount points are named by INTERNAL_MMC_MOUNTPOINT and MMC_MOUNTPOINT), else the
 * fake targets below FAKE_MMC_DIR. The internal memory comes first, then the card. */
#define SF_TYPE_TARGET_MANAGER (sf_target_manager_get_type ())
G_DECLARE_FINAL_TYPE (SfTargetManager, sf_target_manager, SF, TARGET_MANAGER, GObject)

/* The process-wide manager, made on first use; no new reference. */
SfTargetManager *sf_target_manager_get (void);
/* Drops the process-wide manager; only when nothing uses it any more. */
void sf_target_manager_release (void);

GList *sf_target_manager_get_targets (SfTargetManager *manager);
/* The backups of all targets in target order; the list is the caller's, its elements are not. */
GList *sf_target_manager_get_backups (SfTargetManager *manager);
/* Reads every target's backups on a thread of its own, then emits "backup-list-load-complete"
 * from that thread. */
void sf_target_manager_load_backups_async (SfTargetManager *manager);
/* The target holding the backup; no new reference. */
SfTarget *sf_target_manager_get_target_from_backup (SfTargetManager *manager, SfBackupInfo *info);

G_END_DECLS
