#pragma once

#include "sf-category.h"

#include <glib.h>

G_BEGIN_DECLS

/* The reference count is atomic; the map itself is filled by one worker and read by others only
 * after it ended. */

/* Why a category could not be restored; -1 stands for no reason. */
typedef enum
{
  SF_RESTORE_FAILURE_INSUFFICIENT_SPACE = 1,
  SF_RESTORE_FAILURE_CORRUPT_BACKUP = 2,
  SF_RESTORE_FAILURE_UNKNOWN_ERROR = 3,
  SF_RESTORE_FAILURE_CANCELLED = 4
} SfRestoreFailureReason;

/* Reference-counted map from single categories to the reason they failed. "other" is never
 * stored. */
typedef struct _SfRestoreFailure SfRestoreFailure;

/* Returns a new reference (sf_restore_failure_unref). */
SfRestoreFailure *sf_restore_failure_new (void);
/* Returns failure with one more reference. */
SfRestoreFailure *sf_restore_failure_ref (SfRestoreFailure *failure);
void sf_restore_failure_unref (SfRestoreFailure *failure);

void sf_restore_failure_add_categories (SfRestoreFailure *failure, SfCategory categories,
                                        gint reason);
void sf_restore_failure_set_category_reason (SfRestoreFailure *failure, SfCategory category,
                                             gint reason);
void sf_restore_failure_remove_category (SfRestoreFailure *failure, SfCategory category);
gboolean sf_restore_failure_has_failures (SfRestoreFailure *failure);
gboolean sf_restore_failure_has_category (SfRestoreFailure *failure, SfCategory category);
gint sf_restore_failure_get_category_reason (SfRestoreFailure *failure, SfCategory category);

/* Static text, never freed. Any thread. */
const gchar *sf_restore_failure_reason_to_string (gint reason);
gint sf_restore_failure_reason_from_string (const gchar *str);
/* The translation, borrowed for the life of the process. Any thread. */
const gchar *sf_restore_failure_reason_get_message (gint reason);

G_DEFINE_AUTOPTR_CLEANUP_FUNC (SfRestoreFailure, sf_restore_failure_unref)

G_END_DECLS
