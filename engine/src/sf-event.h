#pragma once

#include "sf-category.h"
#include "sf-restore-failure.h"

#include <gio/gio.h>

G_BEGIN_DECLS

/* Events are made on a worker thread and handled and freed on the main thread; an event belongs to
 * one thread at a time. */

typedef enum
{
  SF_EVENT_PROGRESS = 0,
  SF_EVENT_CONFLICT = 1,
  SF_EVENT_ERROR = 2,
  SF_EVENT_FINISHED = 3,
  SF_EVENT_CANCELLED = 4
} SfEventType;

typedef enum
{
  SF_EVENT_CONFLICT_FILE_FILE = 0,
  SF_EVENT_CONFLICT_FILE_DIR = 1,
  SF_EVENT_CONFLICT_DIR_FILE = 2
} SfEventConflictType;

GType sf_event_conflict_type_get_type (void);
#define SF_TYPE_EVENT_CONFLICT_TYPE (sf_event_conflict_type_get_type ())

typedef struct
{
  gboolean finalizing;
  gint processed_files;
  gint total_files;
  gint percent;
  SfCategory category;
} SfEventProgress;

typedef struct
{
  SfEventConflictType type;
  GFile *file; /* owned */
  glong first;
  glong second;
} SfEventConflict;

typedef struct
{
  guint64 processed_size;
  gint processed_files;
  SfCategory written_categories;
  SfRestoreFailure *restore_failure; /* owned reference or NULL */
} SfEventFinished;

/* One message from an archiver's worker thread to the backend on the main loop. */
typedef struct
{
  SfEventType type;
  /* The operation whose worker sent it (set by the archiver when it posts); the backend drops
   * events of any other operation, so a late event never reaches the next one. */
  guint operation;
  union
  {
    SfEventProgress progress;
    SfEventConflict conflict;
    GError *error; /* owned */
    SfEventFinished finished;
  };
} SfEvent;

/* Returns an event to free (sf_event_free), or to hand to sf_backend_post_event, which takes it. */
SfEvent *sf_event_new_progress (gboolean finalizing, gint processed_files, gint total_files,
                                gint percent, SfCategory category);
/* The event holds a duplicate of file; free as above. */
SfEvent *sf_event_new_conflict (SfEventConflictType type, GFile *file, glong first, glong second);
/* The event holds a copy of error; free as above. */
SfEvent *sf_event_new_error (const GError *error);
/* The event holds its own reference to restore_failure; free as above. */
SfEvent *sf_event_new_finished (guint64 processed_size, gint processed_files,
                                SfCategory written_categories, SfRestoreFailure *restore_failure);
/* Free as above. */
SfEvent *sf_event_new_cancelled (void);
/* Releases what the event holds. */
void sf_event_free (SfEvent *event);
/* Returns a copy (g_error_free). */
GError *sf_event_get_error (SfEvent *event);

G_END_DECLS
