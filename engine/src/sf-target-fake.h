#pragma once

#include "sf-target.h"

G_BEGIN_DECLS

/* A target on a plain directory standing in for a memory card, for development without
 * volumes. */
#define SF_TYPE_TARGET_FAKE (sf_target_fake_get_type ())
G_DECLARE_FINAL_TYPE (SfTargetFake, sf_target_fake, SF, TARGET_FAKE, SfTarget)

/* Returns a new reference (g_object_unref). Main thread. */
SfTarget *sf_target_fake_new (const gchar *uri, const gchar *display_name);

/* New fake targets for the directories below FAKE_MMC_DIR that hold a "mounted" file. Only the
 * first call of a process makes any. The list and its new references are the caller's
 * (g_list_free_full with g_object_unref). Main thread. */
GList *sf_target_fake_setup (void);

G_END_DECLS
