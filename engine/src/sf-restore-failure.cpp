#include "sf-restore-failure.h"

#include "sf-i18n.h"

struct _SfRestoreFailure
{
  gint ref_count;
  GHashTable *reasons; /* SfCategory -> reason */
};

namespace
{
struct ReasonNames
{
  const gchar *file_form;
  const gchar *logical_id;
};

/* By reason value 1..4. */
constexpr ReasonNames reason_names[] = {
  { "insufficient space", "back_fi_memory_full" },
  { "corrupt backup", "back_fi_corrupt_backup" },
  { "unknown error", "back_fi_unknown_error" },
  { "cancelled", "back_fi_restoring_cancelled" },
};
constexpr gint first_reason = SF_RESTORE_FAILURE_INSUFFICIENT_SPACE;
constexpr gint last_reason = SF_RESTORE_FAILURE_CANCELLED;

const ReasonNames *
names_of (gint reason)
{
  if (reason < first_reason || reason > last_reason)
    return NULL;
  return &reason_names[reason - first_reason];
}
} // namespace

SfRestoreFailure *
sf_restore_failure_new (void)
{
  SfRestoreFailure *failure = g_new0 (SfRestoreFailure, 1);
  failure->ref_count = 1;
  failure->reasons = g_hash_table_new (g_direct_hash, g_direct_equal);
  return failure;
}

SfRestoreFailure *
sf_restore_failure_ref (SfRestoreFailure *failure)
{
  g_return_val_if_fail (failure != NULL, NULL);
  g_atomic_int_inc (&failure->ref_count);
  return failure;
}

void
sf_restore_failure_unref (SfRestoreFailure *failure)
{
  g_return_if_fail (failure != NULL);
  if (!g_atomic_int_dec_and_test (&failure->ref_count))
    return;
  g_hash_table_destroy (failure->reasons);
  g_free (failure);
}

void
sf_restore_failure_add_categories (SfRestoreFailure *failure, SfCategory categories, gint reason)
{
  g_return_if_fail (failure != NULL);
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      if (categories & category)
        sf_restore_failure_set_category_reason (failure, category, reason);
    }
}

void
sf_restore_failure_set_category_reason (SfRestoreFailure *failure, SfCategory category, gint reason)
{
  g_return_if_fail (failure != NULL);
  if (category == SF_CATEGORY_OTHER)
    return;
  g_hash_table_replace (failure->reasons, GUINT_TO_POINTER (category), GINT_TO_POINTER (reason));
}

void
sf_restore_failure_remove_category (SfRestoreFailure *failure, SfCategory category)
{
  g_return_if_fail (failure != NULL);
  g_hash_table_remove (failure->reasons, GUINT_TO_POINTER (category));
}

gboolean
sf_restore_failure_has_failures (SfRestoreFailure *failure)
{
  g_return_val_if_fail (failure != NULL, FALSE);
  return g_hash_table_size (failure->reasons) > 0;
}

gboolean
sf_restore_failure_has_category (SfRestoreFailure *failure, SfCategory category)
{
  g_return_val_if_fail (failure != NULL, FALSE);
  return g_hash_table_contains (failure->reasons, GUINT_TO_POINTER (category));
}

gint
sf_restore_failure_get_category_reason (SfRestoreFailure *failure, SfCategory category)
{
  g_return_val_if_fail (failure != NULL, -1);
  gpointer reason;
  if (!g_hash_table_lookup_extended (failure->reasons, GUINT_TO_POINTER (category), NULL, &reason))
    return -1;
  return GPOINTER_TO_INT (reason);
}

const gchar *
sf_restore_failure_reason_to_string (gint reason)
{
  const ReasonNames *names = names_of (reason);
  return names != NULL ? names->file_form : "";
}

gint
sf_restore_failure_reason_from_string (const gchar *str)
{
  g_return_val_if_fail (str != NULL && str[0] != '\0', -1);
  for (gint reason = first_reason; reason <= last_reason; reason++)
    if (g_strcmp0 (str, names_of (reason)->file_form) == 0)
      return reason;
  return -1;
}

const gchar *
sf_restore_failure_reason_get_message (gint reason)
{
  const ReasonNames *names = names_of (reason);
  return names != NULL ? sf_i18n_translate (names->logical_id) : "";
}
