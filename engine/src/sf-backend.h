#pragma once

#include "sf-archiver.h"
#include "sf-category.h"
#include "sf-event.h"
#include "sf-backup-info.h"
#include "sf-restore-failure.h"
#include "sf-target.h"
#include "sf-user-files.h"

#include <glib-object.h>

G_BEGIN_DECLS

/* Read first: the GError of "error" is the backend's and is freed as soon as the emission returns
 * (copy it to keep it); sf_backend_get_error is valid only during that emission. Every signal is
 * emitted on the main thread, and at most one of "finished", "error" and "cancelled" ends an
 * operation. Functions are for the main thread unless they say otherwise. */

typedef enum
{
  SF_BACKEND_STATE_IDLE = 0,
  SF_BACKEND_STATE_BACKUP = 1,
  SF_BACKEND_STATE_RESTORE = 2,
  SF_BACKEND_STATE_CONFLICT = 3
} SfBackendState;

/* The answer that abandons a conflict. */
#define SF_CONFLICT_RESPONSE_CANCEL 4

#define SF_TYPE_BACKEND (sf_backend_get_type ())
G_DECLARE_FINAL_TYPE (SfBackend, sf_backend, SF, BACKEND, GObject)

/* Returns the one backend, a new reference the caller keeps for the process. Main thread. */
SfBackend *sf_backend_new (void);

/* Takes its own reference to target and copies the texts; user_files stays the caller's and
 * must live until the operation ended. Main thread. */
gboolean sf_backend_start_backup (SfBackend *backend, SfTarget *target, SfUserFiles *user_files,
                                  const gchar *name, const gchar *password, const gchar *notes,
                                  gint32 timestamp, SfCategory categories, gint files_total,
                                  guint64 size_total, GError **error);
/* Takes its own reference to info. Main thread. */
gboolean sf_backend_start_restore (SfBackend *backend, SfBackupInfo *info, const gchar *password,
                                   SfCategory categories, GError **error);

/* Stops the running operation and returns once its worker stopped, running the main loop meanwhile;
 * TRUE only when it ended cancelled ("cancelled" was emitted), FALSE when it finished or failed
 * first. Main thread. */
gboolean sf_backend_cancel (SfBackend *backend);
/* Main thread. */
void sf_backend_respond_to_conflict (SfBackend *backend, gint response);

/* Main thread. */
SfBackendState sf_backend_get_state (SfBackend *backend);
/* Borrowed: valid only while "error" is being emitted, NULL otherwise. Main thread. */
GError *sf_backend_get_error (SfBackend *backend);
/* Of the last operation. Main thread. */
SfCategory sf_backend_get_written_categories (SfBackend *backend);
/* Borrowed: valid until the next operation starts; take a reference (sf_restore_failure_ref) to
 * keep it. Main thread. */
SfRestoreFailure *sf_backend_get_restore_failure (SfBackend *backend);
/* Main thread. */
gint sf_backend_get_processed_files (SfBackend *backend);
/* Main thread. */
guint64 sf_backend_get_processed_size (SfBackend *backend);
/* Main thread. */
gint sf_backend_get_elapsed_time (SfBackend *backend);
/* Fills the outputs only. Any thread: it only reads the loaded tables. */
void sf_backend_count_data (SfBackend *backend, SfCategory categories, guint32 *files,
                            guint64 *size);

/* For the archiver's worker thread. Takes event, which must carry the operation of its archiver.
 * Any thread. */
void sf_backend_post_event (SfBackend *backend, SfEvent *event);
/* Ends the wait of a running cancel whatever operation it is for; workers end a cancelled operation
 * with a cancelled event instead. Any thread. */
void sf_backend_quit_wait (SfBackend *backend);
/* Blocks until the main thread answered. Worker thread only. */
gint sf_backend_wait_for_conflict_response (void);

/* Runs archiver as the backend's operation; state is backup or restore. The archiver must not
 * be started yet. Takes its own reference to archiver. Main thread. */
gboolean _sf_backend_run_archiver (SfBackend *backend, SfArchiver *archiver, SfBackendState state);

/* Test seams for the restore watchdog: the wall clock it reads (seconds), and one tick, which
 * returns whether the watchdog keeps ticking. Main thread. */
void _sf_backend_set_clock (SfBackend *backend, gint64 (*clock) (void));
/* Main thread. */
gboolean _sf_backend_watchdog_tick (SfBackend *backend);
/* Test seam: the number that events of the running operation carry. Main thread. */
guint _sf_backend_get_operation (SfBackend *backend);

G_END_DECLS
