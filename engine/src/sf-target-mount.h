#pragma once

#include "sf-target.h"

G_BEGIN_DECLS

/* A target on a mounted volume: the internal mass memory or the memory card. */
#define SF_TYPE_TARGET_MOUNT (sf_target_mount_get_type ())
G_DECLARE_FINAL_TYPE (SfTargetMount, sf_target_mount, SF, TARGET_MOUNT, SfTarget)

/* An available, not persistent target on the mount's root, named for the user; NULL when the
 * root cannot be queried. Returns a new reference (g_object_unref). Main thread. */
SfTarget *sf_target_mount_new (GMount *mount);

G_END_DECLS
