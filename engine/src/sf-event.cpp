#include "sf-event.h"

namespace
{
SfEvent *
event_new (SfEventType type)
{
  SfEvent *event = g_new0 (SfEvent, 1);
  event->type = type;
  return event;
}
} // namespace

GType
sf_event_conflict_type_get_type (void)
{
  static gsize type_id;
  if (g_once_init_enter (&type_id))
    {
      static const GEnumValue values[] = {
        { SF_EVENT_CONFLICT_FILE_FILE, "SF_EVENT_CONFLICT_FILE_FILE", "file-file" },
        { SF_EVENT_CONFLICT_FILE_DIR, "SF_EVENT_CONFLICT_FILE_DIR", "file-dir" },
        { SF_EVENT_CONFLICT_DIR_FILE, "SF_EVENT_CONFLICT_DIR_FILE", "dir-file" },
        { 0, NULL, NULL },
      };
      GType type = g_enum_register_static (g_intern_static_string ("SfEventConflictType"), values);
      g_once_init_leave (&type_id, type);
    }
  return type_id;
}

SfEvent *
sf_event_new_progress (gboolean finalizing, gint processed_files, gint total_files, gint percent,
                       SfCategory category)
{
  SfEvent *event = event_new (SF_EVENT_PROGRESS);
  event->progress = { finalizing, processed_files, total_files, percent, category };
  return event;
}

SfEvent *
sf_event_new_conflict (SfEventConflictType type, GFile *file, glong first, glong second)
{
  g_return_val_if_fail (G_IS_FILE (file), NULL);
  SfEvent *event = event_new (SF_EVENT_CONFLICT);
  event->conflict = { type, g_file_dup (file), first, second };
  return event;
}

SfEvent *
sf_event_new_error (const GError *error)
{
  g_return_val_if_fail (error != NULL, NULL);
  SfEvent *event = event_new (SF_EVENT_ERROR);
  event->error = g_error_copy (error);
  return event;
}

SfEvent *
sf_event_new_finished (guint64 processed_size, gint processed_files, SfCategory written_categories,
                       SfRestoreFailure *restore_failure)
{
  SfEvent *event = event_new (SF_EVENT_FINISHED);
  event->finished = { processed_size, processed_files, written_categories,
                      restore_failure != NULL ? sf_restore_failure_ref (restore_failure) : NULL };
  return event;
}

SfEvent *
sf_event_new_cancelled (void)
{
  return event_new (SF_EVENT_CANCELLED);
}

void
sf_event_free (SfEvent *event)
{
  if (event == NULL)
    return;
  g_assert (event->type <= SF_EVENT_CANCELLED);
  switch (event->type)
    {
    case SF_EVENT_CONFLICT:
      g_object_unref (event->conflict.file);
      break;
    case SF_EVENT_ERROR:
      g_error_free (event->error);
      break;
    case SF_EVENT_FINISHED:
      if (event->finished.restore_failure != NULL)
        sf_restore_failure_unref (event->finished.restore_failure);
      break;
    default:
      break;
    }
  g_free (event);
}

GError *
sf_event_get_error (SfEvent *event)
{
  g_return_val_if_fail (event != NULL && event->type == SF_EVENT_ERROR, NULL);
  return g_error_copy (event->error);
}
