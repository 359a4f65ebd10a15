#pragma once

#include "sf-backup-info.h"
#include "sf-target.h"

#include <gio/gio.h>

G_BEGIN_DECLS

/* Read first: "backup-list-load-complete" is emitted on the list-loading thread, not the main
 * thread, so a handler must hand its work to the main loop; every other signal comes on the main
 * thread. Lists and targets handed out are borrowed from the manager. Functions are for the main
 * thread unless they say otherwise. */

/* The targets of the process: the internal mass memory and the memory card while they are
 * mounted (their mount points are named by INTERNAL_MMC_MOUNTPOINT and MMC_MOUNTPOINT), else the
 * fake targets below FAKE_MMC_DIR. The internal memory comes first, then the card. */
#define SF_TYPE_TARGET_MANAGER (sf_target_manager_get_type ())
G_DECLARE_FINAL_TYPE (SfTargetManager, sf_target_manager, SF, TARGET_MANAGER, GObject)

/* The process-wide manager, made on first use; no new reference. Main thread. */
SfTargetManager *sf_target_manager_get (void);
/* Drops the process-wide manager; only when nothing uses it any more. Main thread. */
void sf_target_manager_release (void);

/* Borrowed: the list and its targets stay the manager's and are valid until the next "target-added"
 * or "target-removed"; copy and reference them to keep them. Main thread. */
GList *sf_target_manager_get_targets (SfTargetManager *manager);
/* The backups of all targets in target order. Free the list with g_list_free; each element is
 * borrowed from its target and valid until that target's next "backups-changed". Main thread. */
GList *sf_target_manager_get_backups (SfTargetManager *manager);
/* Reads every target's backups on a thread of its own, then emits "backup-list-load-complete"
 * from that thread. Main thread. */
void sf_target_manager_load_backups_async (SfTargetManager *manager);
/* The target holding the backup; no new reference. Valid while the target is listed (until its
 * "target-removed"). Main thread. */
SfTarget *sf_target_manager_get_target_from_backup (SfTargetManager *manager, SfBackupInfo *info);

G_END_DECLS
